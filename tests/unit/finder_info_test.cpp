#include <gtest/gtest.h>

#include <string>

#include "platform/finder_info.h"

using namespace perivane::platform;

TEST(FinderInfo, OnlyA32ByteRecordIsReadAndOnlyAnAllZeroOneIsEmpty) {
    EXPECT_FALSE(FinderInfo::fromAttribute(std::string(31, 'a')));
    EXPECT_FALSE(FinderInfo::fromAttribute(std::string(33, 'a')));
    std::string value(32, '\0');
    value[8] = '\x80';
    value[31] = 'f';
    const auto parsed = FinderInfo::fromAttribute(value);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->finderFlags(), kIsAlias);
    EXPECT_EQ(parsed->bytes[31], 'f');
    FinderInfo info = *parsed;
    info.setFinderFlags(0);
    EXPECT_FALSE(info.isEmpty()) << "a byte outside the flags keeps the record";
    info.bytes[31] = 0;
    EXPECT_TRUE(info.isEmpty());
}
