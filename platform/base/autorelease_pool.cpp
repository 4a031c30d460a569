#include "platform/base/autorelease_pool.h"

#include <cstdint>

namespace perivane::platform {

namespace {
// Pools nest per thread; a token is the depth at which its pool was opened, plus one so
// that no valid token is null.
thread_local std::intptr_t depth = 0;
}  // namespace

PoolToken JNFNativeMethodEnter() noexcept {
    ++depth;
    return reinterpret_cast<PoolToken>(depth);
}

void JNFNativeMethodExit(PoolToken token) noexcept {
    const auto opened = reinterpret_cast<std::intptr_t>(token);
    if (opened >= 1 && opened <= depth) depth = opened - 1;
}

}  // namespace perivane::platform
