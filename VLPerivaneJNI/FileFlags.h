// How the file-system natives turn Java booleans into the flags they set, and back: kept apart
// from the natives so the rules can be checked without a JVM.
#pragma once

#include <jni.h>

#include <array>
#include <cstdint>

#include "platform/files/finder_info.h"

namespace perivane::jni {

// The nine permission bits cross as nine booleans, from owner-read (0400) at index 0 to
// others-execute (0001) at index 8: index i stands for mode bit 8 - i.
using PermissionFlags = std::array<jboolean, 9>;

// The permission value for the flags: any nonzero byte counts as true, and only the nine
// permission bits can be set (never set-user-ID, set-group-ID or sticky).
inline int permissionsFromFlags(const PermissionFlags& flags) noexcept {
    int value = 0;
    for (int i = 0; i < 9; ++i) {
        if (flags[i] != 0) value |= 1 << (8 - i);
    }
    return value;
}

// The flags for a permission value read from the platform: only its nine low bits are
// reported, each as exactly 1 or 0.
inline PermissionFlags flagsFromPermissions(std::int16_t value) noexcept {
    PermissionFlags flags{};
    for (int i = 0; i < 9; ++i) flags[i] = ((value >> (8 - i)) & 1) ? JNI_TRUE : JNI_FALSE;
    return flags;
}

// The Finder flags after setBundleBit: the bundle flag is set only when `on` is exactly
// JNI_TRUE (1); any other byte clears it. No other bit changes.
inline std::uint16_t finderFlagsWithBundle(std::uint16_t flags, jboolean on) noexcept {
    return on == JNI_TRUE ? static_cast<std::uint16_t>(flags | platform::kHasBundle)
                          : static_cast<std::uint16_t>(flags & ~platform::kHasBundle);
}

}  // namespace perivane::jni
