// A libFuzzer target: the check PERIVANE_FUZZ_CHECK of the header PERIVANE_FUZZ_HEADER on every
// input (CMakeLists.txt builds one target per check). A broken contract aborts.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include PERIVANE_FUZZ_HEADER

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    perivane::fuzz::PERIVANE_FUZZ_CHECK(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
