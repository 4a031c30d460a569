// Gestalt: the one selector the library asks, the system version.
#pragma once

#include <cstdint>

#include "platform/base/mac_errors.h"

namespace perivane::platform {

using OSType = uint32_t;

inline constexpr OSType gestaltSystemVersion = 0x73797376;  // 'sysv'
inline constexpr OSErr gestaltUndefSelectorErr = -5551;

// The version in binary-coded decimal, its minor and fix digits clamped to 9 as the platform
// does: every system from 10.10 on reports 0x1099.
OSErr Gestalt(OSType selector, int32_t* response);

}  // namespace perivane::platform
