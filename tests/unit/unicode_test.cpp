#include <gtest/gtest.h>

#include "platform/unicode.h"

using namespace perivane::platform;

TEST(Unicode, FormsCAndD) {
    EXPECT_EQ(precomposed(u"e\u0301"), u"\u00e9");
    EXPECT_EQ(precomposed(u"\ufb01"), u"\ufb01");  // canonical only: compatibility forms stay
    EXPECT_EQ(precomposed(u"\u1112\u1161\u11ab"), u"\ud55c");
    EXPECT_EQ(precomposed(std::u16string_view(u"a\0e\u0301", 4)), std::u16string(u"a\0\u00e9", 3));
    EXPECT_EQ(decomposed(u"\u00e9"), u"e\u0301");
    EXPECT_EQ(decomposed(u"\u2126"), u"\u03a9");  // standard NFD maps the Ohm sign
    // A composed prefix followed by a combining mark: the seam is composed too.
    EXPECT_EQ(precomposed(u"abcde\u0301"), u"abcd\u00e9");
    const std::u16string big(100000, u'x');
    EXPECT_EQ(precomposed(big + u"e\u0301"), big + u"\u00e9");
}

TEST(Unicode, FileSystemDecompositionKeepsTheExcludedRanges) {
    EXPECT_EQ(fileSystemDecomposed(u"Caf\u00e9.app"), u"Cafe\u0301.app");
    EXPECT_EQ(fileSystemDecomposed(u"\u2126"), u"\u2126");
    EXPECT_EQ(fileSystemDecomposed(u"\u2260"), u"\u2260");
    EXPECT_EQ(fileSystemDecomposed(u"\uf900"), u"\uf900");
    EXPECT_EQ(fileSystemDecomposed(u"\U0002F800"), u"\U0002F800");
    EXPECT_EQ(fileSystemDecomposed(u"\u00e9\u2126\u00fc"), u"e\u0301\u2126u\u0308");
    EXPECT_EQ(fileSystemDecomposed(u"\ud55c"), u"\u1112\u1161\u11ab");  // Hangul to jamo
}

TEST(Unicode, CaseInsensitiveCanonicalEquality) {
    EXPECT_TRUE(equalIgnoringCase(u"/Applications/Caf\u00e9.app", u"/APPLICATIONS/CAFE\u0301.APP"));
    EXPECT_TRUE(equalIgnoringCase(u"stra\u00dfe", u"STRASSE"));
    EXPECT_TRUE(equalIgnoringCase(u"\u212b", u"\u00e5"));
    EXPECT_TRUE(equalIgnoringCase(u"a\u0301\u0323", u"a\u0323\u0301"));
    EXPECT_FALSE(equalIgnoringCase(u"I", u"\u0131"));
    EXPECT_FALSE(equalIgnoringCase(u"/bin/x", u"/bin/xy"));
}
