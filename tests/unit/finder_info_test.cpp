#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <fstream>
#include <string>

#include "platform/finder_info.h"
#include "scratch_home.h"

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

// The bundle flag is read and written on the folder that was opened, even when another
// process swaps the folder with a file between the calls.
TEST(FinderInfo, TheRecordStaysWithTheFolderOpenedWhenItIsSwappedWithAFile) {
    ScratchHome scratch;
    const std::string folder = scratch.path() + "/Folder.app", file = scratch.path() + "/file";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    std::ofstream(file) << "x";
    const std::optional<FSRef> ref = FSPathMakeRef(folder.c_str());
    ASSERT_TRUE(ref && ref->isDirectory);
    ASSERT_EQ(renameat2(AT_FDCWD, folder.c_str(), AT_FDCWD, file.c_str(), RENAME_EXCHANGE), 0);
    FinderInfo info;
    info.setFinderFlags(kHasBundle);
    ASSERT_EQ(FSSetFinderInfo(ref->fd.get(), info), 0);
    char value[64];
    EXPECT_EQ(getxattr(file.c_str(), kFinderInfoAttribute, value, sizeof value), 32) << "the folder, now at the file's path";
    EXPECT_EQ(getxattr(folder.c_str(), kFinderInfoAttribute, value, sizeof value), -1) << "the file";
}
