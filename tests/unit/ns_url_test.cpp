#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/system/ns_string_paths.h"
#include "platform/files/ns_url.h"
#include "platform/base/strings.h"
#include "platform/system/user_database.h"
#include "scratch_home.h"

using namespace perivane::platform;

TEST(NSURL, AppendsExactlyOneNameAndKeepsTheGivenFormForTheFileSystem) {
    ScratchHome scratch;
    std::filesystem::create_directory(scratch.path() + "/sub");
    const NSURL folder = *NSURL::fileURLWithPath(utf8ToUtf16Lossy(scratch.path()));
    const std::string file = "file://" + scratch.path();
    for (const std::u16string& name : std::vector<std::u16string>{u"", u".", u"..", u"../x", u"a/b", u"/", std::u16string(u"a\0b", 3),
                                       std::u16string{u'a', char16_t(0xDC00)}}) {
        EXPECT_FALSE(folder.URLByAppendingPathComponent(name)) << *utf16ToUtf8(name);
    }
    const NSURL cafe = *folder.URLByAppendingPathComponent(u"Caf\u00e9 ~x");
    EXPECT_EQ(*utf16ToUtf8(cafe.absoluteString()), file + "/Cafe%CC%81%20~x");
    EXPECT_EQ(cafe.fileSystemPath(), scratch.path() + "/Caf\u00e9 ~x") << "the name as given";
    EXPECT_EQ(*utf16ToUtf8(folder.URLByAppendingPathComponent(u"sub")->absoluteString()), file + "/sub/");
    EXPECT_EQ(folder.URLByAppendingPathComponent(u"sub")->path(), utf8ToUtf16Lossy(scratch.path() + "/sub"));
    EXPECT_EQ(NSURL::fileURLWithPath(u"/")->path(), u"/");
    EXPECT_EQ(NSURL::fileURLWithPath(u"/tmp/x//")->path(), u"/tmp/x/") << "one slash dropped, as the platform does";
}

TEST(NSURL, ARelativePathStandsOnTheWorkingDirectory) {
    ScratchHome scratch;
    std::filesystem::create_directory(scratch.path() + "/sub");
    const std::filesystem::path was = std::filesystem::current_path();
    std::filesystem::current_path(scratch.path());
    const std::optional<NSURL> sub = NSURL::fileURLWithPath(u"sub"), file = NSURL::fileURLWithPath(u"Caf\u00e9 x");
    std::filesystem::current_path(was);
    EXPECT_EQ(*utf16ToUtf8(sub->absoluteString()), "file://" + scratch.path() + "/sub/") << "a folder";
    EXPECT_EQ(*utf16ToUtf8(file->absoluteString()), "file://" + scratch.path() + "/Cafe%CC%81%20x");
    EXPECT_EQ(file->fileSystemPath(), scratch.path() + "/Caf\u00e9 x");
}

TEST(NSURL, FileURLStringsDecodeToTheirPaths) {
    for (const auto& [url, path] : std::vector<std::pair<std::string, std::optional<std::string>>>{
             {"file:///Volumes/SANDISK/", "/Volumes/SANDISK/"},
             {"file://localhost/a%20b/Cafe%CC%81", "/a b/Cafe\u0301"},
             {"file:///a%00b", std::nullopt},
             {"file:///bad%2", std::nullopt},
             {"file://server/share", std::nullopt},
         }) {
        EXPECT_EQ(pathOfFileURLString(url), path) << url;
    }
}

TEST(NSStringPaths, TildeExpandsOnlyAtTheStart) {
    ScratchHome scratch;  // HOME is the scratch folder
    const std::u16string home = utf8ToUtf16Lossy(scratch.path());
    const std::u16string root = utf8ToUtf16Lossy(perivane::platform::homeFolderOf(0).value_or("/root"));
    for (const auto& [path, expanded] : std::vector<std::pair<std::u16string, std::u16string>>{
             {u"~", home},
             {u"~/", home},
             {u"~/a/b/", home + u"/a/b"},
             {u"~root/x", root + u"/x"},
             {u"~no-such-user-here/x", u"~no-such-user-here/x"},
             {u"/a/~/b", u"/a/~/b"},
             {u"a~", u"a~"},
             {u"", u""},
         }) {
        EXPECT_EQ(stringByExpandingTildeInPath(path), expanded) << *utf16ToUtf8(path);
    }
    setenv("HOME", "relative/home", 1);  // names no folder, never one under the working directory
    EXPECT_FALSE(NSHomeDirectory());
    EXPECT_EQ(stringByExpandingTildeInPath(u"~/x"), u"~/x");
    unsetenv("HOME");  // unset: the user database answers
    EXPECT_EQ(NSHomeDirectory(), utf8ToUtf16Lossy(*perivane::platform::homeFolderOf(getuid())));
}
