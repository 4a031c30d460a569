// libFuzzer target: the preferences-domain loader (size and nesting checks, libplist's binary
// and XML readers, the value model) and the binary writer behind it.
#include <cstddef>
#include <cstdint>

#include "domain_loader_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    perivane::fuzz::checkDomainBytes(
        std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
