#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <regex>

#include "platform/log.h"

using namespace perivane::platform;

TEST(Log, LineCarriesLocalTimeWithTruncatedMilliseconds) {
    const char* saved = std::getenv("TZ");
    const std::string old = saved ? saved : "";
    setenv("TZ", "UTC", 1);
    tzset();
    // 2024-02-29 23:59:59.999999 UTC
    const timespec when{1709251199, 999999999};
    EXPECT_EQ(formatLogLine(when, "java", 4321, 98765, "hello"),
              "2024-02-29 23:59:59.999 java[4321:98765] hello\n");
    EXPECT_EQ(formatLogLine(when, "java", 1, 2, "ends\n"),
              "2024-02-29 23:59:59.999 java[1:2] ends\n")
        << "no second newline";
    setenv("TZ", "IST-5:30", 1);  // UTC+05:30, a POSIX rule: needs no time-zone files
    tzset();
    EXPECT_EQ(formatLogLine({1709251199, 5000000}, "p", 1, 2, "x").substr(0, 23),
              "2024-03-01 05:29:59.005");
    if (saved) setenv("TZ", old.c_str(), 1); else unsetenv("TZ");
    tzset();
}

TEST(Log, NSLogWritesOneLineToStandardError) {
    testing::internal::CaptureStderr();
    NSLog(u"The file \u201Cx\u201D doesn\u2019t exist.");
    const char16_t lone[] = {u'a', 0xDC00, u'b'};
    NSLog(NSString(lone, 3));
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string line =
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )" + std::string(program_invocation_short_name) +
        R"(\[)" + std::to_string(getpid()) + R"(:\d+\] )";
    EXPECT_TRUE(std::regex_match(err, std::regex(line + "The file \xE2\x80\x9Cx\xE2\x80\x9D doesn\xE2\x80\x99t exist\\.\n" +
                                                 line + "a\xEF\xBF\xBD" "b\n")))
        << err;
}
