#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "VLPerivaneJNI/FileFlags.h"
#include "platform/file_manager.h"
#include "scratch_home.h"

using namespace perivane::platform;

// Sentences for missing and forbidden files are checked from Java (FilePermissionsTest).
TEST(FileManager, ErrorsCarryThePlatformsCodesAndSentences) {
    struct Case { int errnum; FileOperation op; long code; const char16_t* text; } cases[] = {
        {ENOENT, FileOperation::read, 260, nullptr},
        {EACCES, FileOperation::read, 257, nullptr},
        {EPERM, FileOperation::read, 257, nullptr},
        {EIO, FileOperation::read, 256, u"The file \u201Cr\u00e9sum\u00e9.txt\u201D couldn\u2019t be opened."},
        {ENOENT, FileOperation::change, 4, nullptr},
        {EPERM, FileOperation::change, 513, nullptr},
        {EACCES, FileOperation::change, 513, nullptr},
        {EROFS, FileOperation::change, 642, nullptr},
        {EIO, FileOperation::change, 512, u"The file \u201Cr\u00e9sum\u00e9.txt\u201D couldn\u2019t be saved."},
    };
    for (const Case& c : cases) {
        const NSError e = NSError::fromErrno(c.errnum, u"/home/docs/r\u00e9sum\u00e9.txt", c.op);
        EXPECT_EQ(e.code, c.code) << c.errnum;
        EXPECT_EQ(e.underlyingError, c.errnum);
        if (c.text != nullptr) { EXPECT_EQ(e.localizedDescription(), c.text) << c.code; }
    }
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

// Links inside a removed tree are covered from Java (AliasTest); here depth and dot names.
TEST(FileManager, RemovalTakesDeepTreesAndRefusesDotNames) {
    namespace fs = std::filesystem;
    ScratchHome scratch;
    const std::string base = scratch.path(), outside = base + "/outside";
    fs::create_directories(outside + "/inner");
    std::ofstream(outside + "/inner/keep") << "x";
    std::string deep = base + "/tree";
    for (int i = 0; i < 300; ++i) deep += "/d";  // deeper than any recursion should go on a small stack
    fs::create_directories(deep);
    fs::create_directory_symlink(outside, deep + "/link-to-outside");
    auto urlOf = [](const std::string& p) { return *NSURL::fileURLWithPath(utf8ToUtf16Lossy(p)); };
    const NSFileManager& manager = NSFileManager::defaultManager();
    std::optional<NSError> error;
    EXPECT_TRUE(manager.removeItemAtURL(urlOf(base + "/tree"), &error));
    EXPECT_FALSE(fs::exists(fs::symlink_status(base + "/tree")));
    for (const char* name : {"/outside/inner/..", "/outside/."}) {
        EXPECT_FALSE(manager.removeItemAtURL(urlOf(base + name), &error)) << name;
    }
    EXPECT_FALSE(manager.removeItemAtURL(urlOf(base + "/missing"), &error));
    EXPECT_EQ(error->localizedDescription(), u"\u201Cmissing\u201D couldn\u2019t be removed.");
    EXPECT_TRUE(fs::exists(outside + "/inner/keep"));
}

TEST(FileManager, DesktopIsLookedUpNeverMade) {
    ScratchHome scratch;
    unsetenv("XDG_CONFIG_HOME");
    const NSFileManager& manager = NSFileManager::defaultManager();
    std::optional<NSError> error;
    EXPECT_FALSE(manager.URLForDirectory(NSDesktopDirectory, NSUserDomainMask, std::nullopt, false, &error));
    EXPECT_EQ(error->localizedDescription(), u"The file \u201CDesktop\u201D couldn\u2019t be opened because there is no such file.");
    EXPECT_FALSE(std::filesystem::exists(scratch.path() + "/Desktop"));
    const std::vector<NSURL> urls = manager.URLsForDirectory(NSDesktopDirectory, NSUserDomainMask);
    ASSERT_EQ(urls.size(), 1u) << "listed whether it exists or not";
    EXPECT_EQ(urls[0].fileSystemPath(), scratch.path() + "/Desktop");
    std::filesystem::create_directory(scratch.path() + "/Desktop");
    EXPECT_EQ(manager.URLForDirectory(NSDesktopDirectory, NSUserDomainMask, std::nullopt, false, &error)->fileSystemPath(),
              scratch.path() + "/Desktop");
}
