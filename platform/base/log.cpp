#include "platform/base/log.h"

#include <errno.h>  // program_invocation_short_name
#include <unistd.h>

#include <cstdio>

namespace perivane::platform {

std::string formatLogLine(const timespec& when, std::string_view program, long pid,
                          std::uint64_t tid, std::string_view message) {
    struct tm local {};
    const time_t seconds = when.tv_sec;
    localtime_r(&seconds, &local);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03ld ",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, static_cast<long>(when.tv_nsec / 1000000));
    char ids[64];
    std::snprintf(ids, sizeof ids, "[%ld:%llu] ", pid, static_cast<unsigned long long>(tid));

    std::string line;
    line.reserve(std::string_view(stamp).size() + program.size() + 32 + message.size());
    line.append(stamp).append(program).append(ids).append(message);
    if (line.back() != '\n') line.push_back('\n');
    return line;
}

void NSLog(const NSString& message) noexcept {
    try {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        const std::string line = formatLogLine(now, program_invocation_short_name,
                                               static_cast<long>(getpid()),
                                               static_cast<std::uint64_t>(gettid()),
                                               utf16ToUtf8Lossy(message));
        ssize_t n;
        do {
            n = ::write(STDERR_FILENO, line.data(), line.size());
        } while (n < 0 && errno == EINTR);
    } catch (...) {
        // Out of memory while formatting: the line is lost, as the platform's would be.
    }
}

}  // namespace perivane::platform
