// NSLog: one line on standard error, as the platform writes it:
// "YYYY-MM-DD HH:MM:SS.mmm progname[pid:tid] message".
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "platform/base/strings.h"

namespace perivane::platform {

// Logs `message` as NSLog(@"%@", message) does. The line is written with a single write so
// that lines from several threads never interleave. Never fails (a closed stderr loses it).
void NSLog(const NSString& message) noexcept;

// The line NSLog writes: local time of `when` (milliseconds truncated), then the program name,
// process and thread ids, and the message, which is given a final newline unless it has one.
std::string formatLogLine(const timespec& when, std::string_view program, long pid,
                          std::uint64_t tid, std::string_view message);

}  // namespace perivane::platform
