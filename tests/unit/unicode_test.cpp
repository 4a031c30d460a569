#include <gtest/gtest.h>

#include "platform/unicode.h"

using namespace perivane::platform;

TEST(Unicode, CaseInsensitiveCanonicalEquality) {
    EXPECT_TRUE(equalIgnoringCase(u"/Applications/Caf\u00e9.app", u"/APPLICATIONS/CAFE\u0301.APP"));
    EXPECT_TRUE(equalIgnoringCase(u"stra\u00dfe", u"STRASSE"));
    EXPECT_TRUE(equalIgnoringCase(u"\u212b", u"\u00e5"));
    EXPECT_TRUE(equalIgnoringCase(u"a\u0301\u0323", u"a\u0323\u0301"));
    EXPECT_FALSE(equalIgnoringCase(u"I", u"\u0131"));
    EXPECT_FALSE(equalIgnoringCase(u"/bin/x", u"/bin/xy"));
    // The compared form is never shorter than either text: "STRASSE" (7) may equal "straße".
    EXPECT_EQ(comparisonLength(u"stra\u00dfe"), 7u);
}
