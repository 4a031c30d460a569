#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <fstream>

#include "VLPerivaneJNI/FileFlags.h"
#include "platform/files/finder_info.h"
#include "scratch_home.h"

using namespace perivane::platform;

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

// A folder the caller may search but not read (as nobody, also when run as root) is found;
// reading its record is what fails.
TEST(FinderInfo, AFolderThatCannotBeReadIsFoundAndItsRecordIsWhatFails) {
    ScratchHome scratch;
    const std::string folder = scratch.path() + "/closed";
    ASSERT_EQ(chmod(scratch.path().c_str(), 0711) | mkdir(folder.c_str(), 0311), 0);
    const int was = setfsuid(65534);
    std::optional<FSRef> ref = FSPathMakeRef(folder.c_str());
    FinderInfo info;
    const int read = ref ? FSGetFinderInfo(ref->fd.get(), info) : 0;
    setfsuid(was);
    EXPECT_TRUE(ref && ref->isDirectory && read != 0);
}

// Java passes only 0 or 1: other jboolean bytes and negative 16-bit modes are checked here.
TEST(FileFlags, JbooleansAndModesAtTheirEdges) {
    using namespace perivane::jni;
    EXPECT_EQ(permissionsFromFlags({2, 0x80, 0xFF, 1, 1, 1, 1, 1, 1}), 0777) << "any nonzero byte is true";
    EXPECT_EQ(flagsFromPermissions(static_cast<std::int16_t>(0xFE00)), PermissionFlags{});
    EXPECT_EQ(flagsFromPermissions(-1), (PermissionFlags{1, 1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(finderFlagsWithBundle(0xFFFF, 2), 0xDFFF) << "a byte other than 1 clears the flag";
    EXPECT_EQ(finderFlagsWithBundle(0x2000, 0xFF), 0x0000);
}
