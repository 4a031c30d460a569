#include <gtest/gtest.h>

#include <string>

#include "VLPerivaneJNI/FileFlags.h"
#include "platform/finder_info.h"

using namespace perivane::platform;

// The record on disk is exercised from Java (BundleBitTest), through the natives.

TEST(FinderInfo, FlagsAreBigEndianAtBytesEightAndNine) {
    FinderInfo info;
    EXPECT_TRUE(info.isEmpty());
    info.setFinderFlags(0x2001);
    EXPECT_EQ(info.bytes[8], 0x20);
    EXPECT_EQ(info.bytes[9], 0x01);
    EXPECT_EQ(info.finderFlags(), 0x2001);
    EXPECT_FALSE(info.isEmpty());
    info.bytes[31] = 7;
    info.setFinderFlags(0);
    EXPECT_FALSE(info.isEmpty()) << "a byte outside the flags keeps the record";

    EXPECT_FALSE(FinderInfo::fromAttribute(std::string(31, 'a')));
    EXPECT_FALSE(FinderInfo::fromAttribute(std::string(33, 'a')));
    std::string value(32, '\0');
    value[8] = '\x80';
    value[0] = 'f';
    const auto parsed = FinderInfo::fromAttribute(value);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->finderFlags(), kIsAlias);
    EXPECT_EQ(parsed->bytes[0], 'f');
}

TEST(FinderInfo, BundleFlagIsSetOnlyByExactlyTrue) {
    using perivane::jni::finderFlagsWithBundle;
    EXPECT_EQ(finderFlagsWithBundle(0x0401, JNI_TRUE), 0x2401);
    EXPECT_EQ(finderFlagsWithBundle(0x2401, JNI_FALSE), 0x0401);
    EXPECT_EQ(finderFlagsWithBundle(0xFFFF, 2), 0xDFFF) << "a byte other than 1 clears the flag";
    EXPECT_EQ(finderFlagsWithBundle(0x2000, 0xFF), 0x0000);
}
