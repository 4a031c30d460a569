// A libFuzzer target: the check PERIVANE_FUZZ_CHECK of the header PERIVANE_FUZZ_HEADER on every
// input (CMakeLists.txt builds one target per check). A broken contract aborts.
#include <sanitizer/allocator_interface.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include PERIVANE_FUZZ_HEADER

// Every byte allocated, counted through the sanitizer's allocation hook, so that a check can
// bound what one step allocates.
namespace {
std::atomic<std::size_t> allocated = 0;
void counted(const volatile void*, std::size_t size) { allocated.fetch_add(size, std::memory_order_relaxed); }
void uncounted(const volatile void*) {}
const int hooked = __sanitizer_install_malloc_and_free_hooks(counted, uncounted);
}  // namespace
extern "C" std::size_t perivane_fuzz_allocated_bytes() { return hooked ? allocated.load(std::memory_order_relaxed) : 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    perivane::fuzz::PERIVANE_FUZZ_CHECK(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
