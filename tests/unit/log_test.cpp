#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/log.h"

using namespace perivane::platform;

// The banner and one line per message are checked on a child JVM's stderr (FilePermissionsTest).
TEST(Log, LineCarriesLocalTimeWithTruncatedMilliseconds) {
    const char* saved = std::getenv("TZ");
    const std::string old = saved ? saved : "";
    setenv("TZ", "UTC", 1);
    tzset();
    const timespec when{1709251199, 999999999};  // 2024-02-29 23:59:59.999999999 UTC
    EXPECT_EQ(formatLogLine(when, "java", 4321, 98765, "hello"), "2024-02-29 23:59:59.999 java[4321:98765] hello\n");
    EXPECT_EQ(formatLogLine(when, "java", 1, 2, "ends\n"), "2024-02-29 23:59:59.999 java[1:2] ends\n");
    setenv("TZ", "IST-5:30", 1);  // UTC+05:30, a POSIX rule: needs no time-zone files
    tzset();
    EXPECT_EQ(formatLogLine({1709251199, 5000000}, "p", 1, 2, "x").substr(0, 23), "2024-03-01 05:29:59.005");
    if (saved) setenv("TZ", old.c_str(), 1); else unsetenv("TZ");
    tzset();
}
