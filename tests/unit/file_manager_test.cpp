#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "VLPerivaneJNI/UserDefaultsAdditions.h"
#include "platform/base/file_system.h"
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

TEST(FileSystem, SplitPathGivesTheFolderAndTheLastNameTheSystemResolves) {
    const std::vector<std::array<std::string, 3>> cases = {
        {"/a/b", "/a", "b"}, {"/a/b//", "/a", "b"}, {"/a//b", "/a", "b"}, {"/a", "/", "a"}, {"//a", "/", "a"},
        {"/", "/", ""}, {"///", "/", ""}, {"a", ".", "a"}, {"a/", ".", "a"}, {"a/b", "a", "b"}, {"", ".", ""}};
    for (const auto& [path, folder, name] : cases) {
        const PathParts parts = splitPath(path);
        EXPECT_EQ(std::pair(parts.folder, parts.name), std::pair(folder, name)) << path;
    }
}

namespace {
NSURL urlOf(const std::string& p) { return *NSURL::fileURLWithPath(*utf8ToUtf16Strict(p)); }
}  // namespace

// A folder path longer than PATH_MAX: the item in it is found and removed, and one that cannot be
// reached (through a looping link) is an error, not "nothing there".
TEST(FileManager, RemovalReachesItemsBeyondPathMaxAndFailsWhereItCannot) {
    ScratchHome scratch;
    std::string folder = scratch.path();
    for (int i = 0; i < 20; ++i) {
        const FileDescriptor at = openFolder(folder);
        const std::string name = std::string(250, 'a' + i);
        ASSERT_EQ(mkdirat(at.get(), name.c_str(), 0755), 0);
        folder += "/" + name;
    }
    ASSERT_GT(folder.size(), size_t{PATH_MAX});
    const FileDescriptor at = openFolder(folder);
    ASSERT_EQ(mkdirat(at.get(), "item", 0755) | symlinkat("loop", at.get(), "loop"), 0);
    NSUserDefaults defaults = NSUserDefaults::standardUserDefaults();
    EXPECT_TRUE(perivane::additions::removeShortcutItem(defaults, u"item", urlOf(folder)));
    struct stat st{};
    EXPECT_EQ(fstatat(at.get(), "item", &st, AT_SYMLINK_NOFOLLOW), -1) << "removed";
    EXPECT_FALSE(perivane::additions::removeShortcutItem(defaults, u"x", urlOf(folder + "/loop/y")));
    EXPECT_TRUE(NSFileManager::defaultManager().removeItemAtURL(urlOf(scratch.path() + "/" + std::string(250, 'a')), nullptr));
}

// In a private mount namespace of a child process (root only): an item that is a mount point is
// refused with nothing removed; a mount inside a tree, a bind mount of the tree's own file system
// too, is not entered.
TEST(FileManager, RemovalNeverEmptiesAMount) {
    namespace fs = std::filesystem;
    ScratchHome scratch;
    const std::string b = scratch.path();
    for (const char* f : {"/folder/Stick/e", "/folder/bound/in/place", "/folder/inner/volume", "/outside"}) fs::create_directories(b + f);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    if (fork() == 0) {
        std::string report;
        const std::string outside = b + "/outside";
        for (auto [at, source, type, flags] : {std::tuple(std::string("/"), "", "", MS_REC | MS_PRIVATE),
                 {b + "/folder/Stick", "s", "tmpfs", 0}, {b + "/folder/inner/volume", "v", "tmpfs", 0},
                 {b + "/folder/bound/in/place", outside.c_str(), "", MS_BIND}}) {
            if (report.empty() && ((at == "/" && unshare(CLONE_NEWNS) != 0) || mount(source, at.c_str(), type, flags, nullptr) != 0)) {
                report = "skipped: no private mount namespace here: " + std::string(strerror(errno));
            }
        }
        fs::create_directory(b + "/folder/Stick/e");
        for (const char* f : {"/folder/Stick/a", "/folder/inner/volume/c", "/outside/d"}) std::ofstream(b + f) << "x";
        for (const char* item : {"/folder/Stick", "/folder/bound", "/folder/inner"}) {
            if (report.empty() && NSFileManager::defaultManager().removeItemAtURL(urlOf(b + item), nullptr)) report += item;
        }
        for (const char* kept : {"/folder/Stick/a", "/folder/Stick/e", "/folder/inner/volume/c", "/outside/d"}) {
            if (report.empty() || !report.starts_with("skipped")) report += fs::exists(b + kept) ? "" : std::string(kept) + " gone ";
        }
        _exit(write(out[1], report.data(), report.size()) < 0);
    }
    close(out[1]);
    char buffer[4096];
    const std::string report(buffer, std::max<ssize_t>(read(out[0], buffer, sizeof buffer), 0));
    close(out[0]);
    wait(nullptr);
    if (report.starts_with("skipped")) GTEST_SKIP() << report;
    EXPECT_EQ(report, "");
}
