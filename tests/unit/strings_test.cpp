#include <gtest/gtest.h>

#include "platform/strings.h"

using namespace perivane::platform;

TEST(Strings, Utf16ToUtf8KeepsSupplementaryCharactersAsFourBytes) {
    // U+1F600 is one 4-byte sequence in standard UTF-8 (modified UTF-8 would give 6 bytes).
    EXPECT_EQ(utf16ToUtf8(u"a\U0001F600"), std::optional<std::string>("a\xF0\x9F\x98\x80"));
    EXPECT_EQ(utf16ToUtf8(u"caf\u00e9"), std::optional<std::string>("caf\xC3\xA9"));
    EXPECT_EQ(utf16ToUtf8(u""), std::optional<std::string>(""));
}

TEST(Strings, LoneSurrogatesAndNulCannotNameAFile) {
    const char16_t high[] = {u'a', 0xD800, u'b'};
    const char16_t low[] = {0xDC00};
    EXPECT_FALSE(utf16ToUtf8(std::u16string_view(high, 3)));
    EXPECT_FALSE(fileSystemBytes(std::u16string_view(low, 1)));
    EXPECT_FALSE(fileSystemBytes(std::u16string_view(u"a\0b", 3)));
    EXPECT_EQ(fileSystemBytes(u"/tmp/\U0001F600"), std::optional<std::string>("/tmp/\xF0\x9F\x98\x80"));
}

TEST(Strings, InvalidUtf8ReadsAsReplacementCharacters) {
    EXPECT_EQ(utf8ToUtf16Lossy("a\xF0\x9F\x98\x80"), u"a\U0001F600");
    EXPECT_EQ(utf8ToUtf16Lossy("a\xFF" "b"), u"a\uFFFDb");
    // The JVM's modified UTF-8 for U+0000 and for a surrogate pair is not UTF-8.
    EXPECT_EQ(utf8ToUtf16Lossy("\xC0\x80"), u"\uFFFD\uFFFD");
    EXPECT_EQ(utf8ToUtf16Lossy("\xED\xA0\xBD"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(utf8ToUtf16Lossy("caf\xC3"), u"caf\uFFFD");  // cut in the middle of a sequence
    EXPECT_FALSE(utf8ToUtf16Strict("a\xFF"));
    EXPECT_EQ(utf8ToUtf16Strict("\xC3\xA9"), std::optional<std::u16string>(u"\u00e9"));
}

TEST(Strings, TextForPeopleReplacesLoneSurrogates) {
    const char16_t lone[] = {u'a', 0xD800, u'b'};
    EXPECT_EQ(utf16ToUtf8Lossy(std::u16string_view(lone, 3)), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(utf16ToUtf8Lossy(u"caf\u00e9 \U0001F600"), "caf\xC3\xA9 \xF0\x9F\x98\x80");
}
