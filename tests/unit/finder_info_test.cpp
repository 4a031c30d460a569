#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "VLPerivaneJNI/FileFlags.h"
#include "platform/finder_info.h"

using namespace perivane::platform;
namespace fs = std::filesystem;

namespace {
class FinderInfoOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/finder_info_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        // The record lives in a user extended attribute; say so plainly where there are none.
        if (setxattr(dir.c_str(), "user.probe", "x", 1, 0) != 0) {
            GTEST_SKIP() << "the file system of /tmp keeps no user.* extended attributes";
        }
        removexattr(dir.c_str(), "user.probe");
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string stored(const std::string& path) {
        char value[64];
        const ssize_t n = getxattr(path.c_str(), kFinderInfoAttribute, value, sizeof value);
        return n < 0 ? std::string("<none>") : std::string(value, static_cast<size_t>(n));
    }

    std::string dir;
};
}  // namespace

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

TEST_F(FinderInfoOnDisk, FolderWithoutRecordReadsZerosAndWritesRoundTrip) {
    int error = 0;
    const auto ref = FSPathMakeRef(dir.c_str(), &error);
    ASSERT_TRUE(ref);
    EXPECT_TRUE(ref->isDirectory);
    FinderInfo info;
    info.bytes.fill(0xAA);
    ASSERT_EQ(FSGetFinderInfo(*ref, info), 0);
    EXPECT_TRUE(info.isEmpty());

    info.setFinderFlags(kHasBundle);
    info.bytes[20] = 0x5C;
    ASSERT_EQ(FSSetFinderInfo(*ref, info), 0);
    EXPECT_EQ(stored(dir).size(), 32u);
    FinderInfo back;
    ASSERT_EQ(FSGetFinderInfo(*ref, back), 0);
    EXPECT_EQ(back.bytes, info.bytes);

    // A record written back all zeros is removed, as the platform keeps no empty record.
    ASSERT_EQ(FSSetFinderInfo(*ref, FinderInfo{}), 0);
    EXPECT_EQ(stored(dir), "<none>");
    EXPECT_EQ(FSSetFinderInfo(*ref, FinderInfo{}), 0) << "removing what is not there";
}

TEST_F(FinderInfoOnDisk, ResolutionFollowsLinksAndRefusesWhatIsMissing) {
    const std::string file = dir + "/file", link = dir + "/link", dangling = dir + "/dangling";
    fs::create_directory(dir + "/sub");
    ASSERT_EQ(close(creat(file.c_str(), 0644)), 0);
    ASSERT_EQ(symlink("sub", link.c_str()), 0);
    ASSERT_EQ(symlink("nothing", dangling.c_str()), 0);

    auto ref = FSPathMakeRef(link.c_str());
    ASSERT_TRUE(ref);
    EXPECT_TRUE(ref->isDirectory) << "a link to a folder resolves to the folder";
    ref = FSPathMakeRef(file.c_str());
    ASSERT_TRUE(ref);
    EXPECT_FALSE(ref->isDirectory);

    int error = 0;
    EXPECT_FALSE(FSPathMakeRef(dangling.c_str(), &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(FSPathMakeRef((dir + "/file/below").c_str(), &error));
    EXPECT_EQ(error, ENOTDIR);
}

TEST_F(FinderInfoOnDisk, ForeignValueOfTheWrongSizeIsRefusedNotGuessedAt) {
    ASSERT_EQ(setxattr(dir.c_str(), kFinderInfoAttribute, "short", 5, 0), 0);
    const auto ref = FSPathMakeRef(dir.c_str());
    ASSERT_TRUE(ref);
    FinderInfo info;
    EXPECT_EQ(FSGetFinderInfo(*ref, info), EINVAL);
    const std::string longer(40, 'x');
    ASSERT_EQ(setxattr(dir.c_str(), kFinderInfoAttribute, longer.data(), longer.size(), 0), 0);
    EXPECT_EQ(FSGetFinderInfo(*ref, info), EINVAL);
    EXPECT_EQ(stored(dir).size(), 40u) << "left as found";
}
