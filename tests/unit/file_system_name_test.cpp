#include <gtest/gtest.h>

#include <string>

#include "platform/strings.h"

using namespace perivane::platform;

TEST(FileSystemName, ShortAsciiLongAndNonAsciiPathsGiveTheirUtf8) {
    EXPECT_STREQ(FileSystemName(u"/tmp/a b").c_str(), "/tmp/a b");
    EXPECT_STREQ(FileSystemName(u"").c_str(), "");
    EXPECT_STREQ(FileSystemName(u"/tmp/caf\u00e9-\U0001F600").c_str(), "/tmp/caf\xC3\xA9-\xF0\x9F\x98\x80");
    for (size_t length : {255u, 256u, 1000u}) {  // around the inline size
        const std::u16string path(length, u'x');
        EXPECT_EQ(std::string(FileSystemName(path).c_str()), std::string(length, 'x')) << length;
    }
    EXPECT_EQ(utf16ToUtf8(u"plain"), std::optional<std::string>("plain"));
}

TEST(FileSystemName, NulAndLoneSurrogatesNameNothing) {
    EXPECT_EQ(FileSystemName(std::u16string_view(u"/a\0b", 4)).c_str(), nullptr);
    const char16_t lone[] = {u'/', u'a', 0xDFFF};
    EXPECT_EQ(FileSystemName(std::u16string_view(lone, 3)).c_str(), nullptr);
    const std::u16string longWithNul = std::u16string(300, u'x') + u'\0';
    EXPECT_EQ(FileSystemName(longWithNul).c_str(), nullptr);
}
