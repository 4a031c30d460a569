#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/files/file_manager.h"
#include "scratch_home.h"

using namespace perivane::platform;

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
