// The platform's result code for its older (Carbon-era) calls, and the code for success.
#pragma once

#include <cstdint>

namespace perivane::platform {

using OSErr = int16_t;
inline constexpr OSErr noErr = 0;

}  // namespace perivane::platform
