#include <gtest/gtest.h>

#include <string>

#include "platform/strings.h"

using namespace perivane::platform;

// Names are checked through the natives (SymbolicLinkTest); here, both sides of the ASCII inline buffer.
TEST(FileSystemName, LengthsAroundTheInlineSize) {
    for (size_t length : {255u, 256u, 1000u}) {
        const std::u16string ascii(length, u'x');
        EXPECT_EQ(std::string(FileSystemName(ascii).c_str()), std::string(length, 'x')) << length;
        EXPECT_EQ(std::string(FileSystemName(ascii + u"\u00e9\U0001F600").c_str()),
                  std::string(length, 'x') + "\xC3\xA9\xF0\x9F\x98\x80") << length;
        for (char16_t bad : {u'\0', u'\xDFFF'}) {
            std::u16string path = ascii;
            path[length / 2] = bad;
            EXPECT_EQ(FileSystemName(path).c_str(), nullptr) << length << " " << int(bad);
        }
    }
}
