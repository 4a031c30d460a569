// libFuzzer target: the bookmark reader (both containers, the tables of contents, every item
// type), the writer over whatever it read, and the resolver's path building.
#include <cstddef>
#include <cstdint>

#include "bookmark_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    perivane::fuzz::checkBookmarkBytes(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
