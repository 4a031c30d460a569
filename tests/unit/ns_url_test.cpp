#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/ns_string_paths.h"
#include "platform/ns_url.h"
#include "platform/strings.h"
#include "platform/user_database.h"
#include "scratch_home.h"

using namespace perivane::platform;

namespace {

std::string urlOf(const NSString& path) {
    const std::optional<NSURL> url = NSURL::fileURLWithPath(path);
    return url ? *utf16ToUtf8(url->scheme() + u":" + url->resourceSpecifier()) : "(nil)";
}

}  // namespace

TEST(NSURL, EncodesAndDecomposesAsThePlatformDoes) {
    for (const auto& [path, url] : std::vector<std::pair<std::u16string, std::string>>{
             {u"/Applications/Foo Bar.app/", "file:///Applications/Foo%20Bar.app/"},
             {u"/nonexistent/a#b?c;d%e", "file:///nonexistent/a%23b%3Fc%3Bd%25e"},
             {u"/nonexistent/-._~!$&'()*+,=:@", "file:///nonexistent/-._~!$&'()*+,=:@"},
             {u"/nonexistent/\"<>[\\]^`{|}", "file:///nonexistent/%22%3C%3E%5B%5C%5D%5E%60%7B%7C%7D"},
             {u"/nonexistent/\x01\x1f\x7f", "file:///nonexistent/%01%1F%7F"},
             {u"/", "file:///"},
             // é composed or not: the same bytes, e + U+0301.
             {u"/nonexistent/Caf\u00e9.app", "file:///nonexistent/Cafe%CC%81.app"},
             {u"/nonexistent/Cafe\u0301.app", "file:///nonexistent/Cafe%CC%81.app"},
             // U+2126 OHM SIGN stays itself (standard decomposition would make it U+03A9).
             {u"/nonexistent/\u2126", "file:///nonexistent/%E2%84%A6"},
             {u"/nonexistent/\ud55c", "file:///nonexistent/%E1%84%92%E1%85%A1%E1%86%AB"},  // Hangul: jamo
             {u"/nonexistent/\U0001F600", "file:///nonexistent/%F0%9F%98%80"},
             // Nothing that cannot name a file makes a URL.
             {u"", "(nil)"},
             {std::u16string(u"/a\0b", 4), "(nil)"},
             {std::u16string{u'/', char16_t(0xD800)}, "(nil)"},
         }) {
        EXPECT_EQ(urlOf(path), url);
    }
}

TEST(NSURL, AddsASlashOnlyForAFolderThatExistsNowAndResolvesRelativePaths) {
    ScratchHome scratch;
    namespace fs = std::filesystem;
    const std::string base = scratch.path(), file = "file://" + base;
    fs::create_directories(base + "/Caf\u00e9/Here.app");  // stored composed, as Linux keeps it
    fs::create_directory_symlink(base + "/Caf\u00e9", base + "/Link.app");
    std::ofstream(base + "/plain.txt") << "x";
    for (const auto& [path, url] : std::vector<std::pair<std::string, std::string>>{
             {"/Caf\u00e9", "/Cafe%CC%81/"},  // either form of the name finds the folder
             {"/Cafe\u0301", "/Cafe%CC%81/"},
             {"/Link.app", "/Link.app"},
             {"/plain.txt", "/plain.txt"},
             {"/Missing.app", "/Missing.app"},
             {"/Missing.app//", "/Missing.app//"},  // exactly its own slashes
         }) {
        EXPECT_EQ(urlOf(utf8ToUtf16Lossy(base + path)), file + url) << path;
    }
    const std::string old = fs::current_path();
    ASSERT_EQ(chdir((base + "/Caf\u00e9").c_str()), 0);
    const std::string here = urlOf(u"Here.app"), missing = urlOf(u"sub/There.app");
    ASSERT_EQ(chdir(old.c_str()), 0);
    EXPECT_EQ(here, file + "/Cafe%CC%81/Here.app/");
    EXPECT_EQ(missing, file + "/Cafe%CC%81/sub/There.app");
}

TEST(NSStringPaths, ComponentsAsThePlatformSplitsThem) {
    struct Case { std::u16string path, last, deleted; };
    for (const Case& c : std::vector<Case>{
             {u"/tmp/scratch.tiff", u"scratch.tiff", u"/tmp"},
             {u"/tmp/lock/", u"lock", u"/tmp"},
             {u"/tmp", u"tmp", u"/"},
             {u"/", u"/", u"/"},
             {u"///", u"/", u"/"},
             {u"scratch///", u"scratch", u""},
             {u"Foo.app", u"Foo.app", u""},
             {u"a//b///c", u"c", u"a/b"},
             {u"", u"", u""},
         }) {
        EXPECT_EQ(lastPathComponent(c.path), c.last) << *utf16ToUtf8(c.path);
        EXPECT_EQ(stringByDeletingLastPathComponent(c.path), c.deleted) << *utf16ToUtf8(c.path);
    }
}

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
    setenv("HOME", "relative/home", 1);  // not absolute: the user database answers
    EXPECT_EQ(NSHomeDirectory(), utf8ToUtf16Lossy(*perivane::platform::homeFolderOf(getuid())));
}
