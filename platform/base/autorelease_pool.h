// The per-call autorelease pool that a Cocoa-half native opens on entry and drains on exit.
// The platform layer hands out values by ownership, so a pool holds nothing; what remains
// is the bookkeeping that callers rely on: a token per entry, popped exactly once.
#pragma once

namespace perivane::platform {

using PoolToken = void*;

// Opens a pool on the calling thread and returns its token (never null here; callers must
// still accept a null token, and then skip the exit).
PoolToken JNFNativeMethodEnter() noexcept;

// Drains the pool that `token` opened, with every pool opened on this thread after it.
void JNFNativeMethodExit(PoolToken token) noexcept;

}  // namespace perivane::platform
