#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/gestalt.h"
#include "platform/ns_string_paths.h"
#include "platform/ns_url.h"
#include "platform/strings.h"
#include "platform/unicode.h"
#include "scratch_home.h"

using namespace perivane::platform;

namespace {

std::string urlOf(const NSString& path) {
    const std::optional<NSURL> url = NSURL::fileURLWithPath(path);
    if (!url) return "(nil)";
    return *utf16ToUtf8(url->scheme() + u":" + url->resourceSpecifier());
}

std::u16string u16(const std::string& s) { return utf8ToUtf16Lossy(s); }

}  // namespace

TEST(NSURL, PercentEncodesWithThePlatformsTable) {
    EXPECT_EQ(urlOf(u"/Applications/Foo Bar.app/"), "file:///Applications/Foo%20Bar.app/");
    EXPECT_EQ(urlOf(u"/nonexistent/a#b?c;d%e"), "file:///nonexistent/a%23b%3Fc%3Bd%25e");
    EXPECT_EQ(urlOf(u"/nonexistent/-._~!$&'()*+,=:@"), "file:///nonexistent/-._~!$&'()*+,=:@");
    EXPECT_EQ(urlOf(u"/nonexistent/\"<>[\\]^`{|}"),
              "file:///nonexistent/%22%3C%3E%5B%5C%5D%5E%60%7B%7C%7D");
    EXPECT_EQ(urlOf(u"/nonexistent/\x01\x1f\x7f"), "file:///nonexistent/%01%1F%7F");
    EXPECT_EQ(urlOf(u"/"), "file:///");
    const std::optional<NSURL> url = NSURL::fileURLWithPath(u"/Applications/Foo Bar.app/");
    EXPECT_EQ(url->absoluteString(), u"file:///Applications/Foo%20Bar.app/");
    EXPECT_EQ(url->scheme(), u"file");
    // Nothing that cannot name a file makes a URL.
    EXPECT_EQ(urlOf(u""), "(nil)");
    EXPECT_EQ(urlOf(std::u16string(u"/a\0b", 4)), "(nil)");
    EXPECT_EQ(urlOf(std::u16string{u'/', char16_t(0xD800)}), "(nil)");
}

TEST(NSURL, DecomposesAsTheFileSystemDoes) {
    // é composed or not: the same bytes, e + U+0301.
    EXPECT_EQ(urlOf(u"/nonexistent/Caf\u00e9.app"), "file:///nonexistent/Cafe%CC%81.app");
    EXPECT_EQ(urlOf(u"/nonexistent/Cafe\u0301.app"), "file:///nonexistent/Cafe%CC%81.app");
    // U+2126 OHM SIGN stays itself (standard decomposition would make it U+03A9).
    EXPECT_EQ(urlOf(u"/nonexistent/\u2126"), "file:///nonexistent/%E2%84%A6");
    // Hangul syllables become jamo; a character outside the BMP stays one 4-byte sequence.
    EXPECT_EQ(urlOf(u"/nonexistent/\ud55c"), "file:///nonexistent/%E1%84%92%E1%85%A1%E1%86%AB");
    EXPECT_EQ(urlOf(u"/nonexistent/\U0001F600"), "file:///nonexistent/%F0%9F%98%80");
}

TEST(NSURL, AddsASlashOnlyForAFolderThatExistsNow) {
    ScratchHome scratch;
    namespace fs = std::filesystem;
    const std::string base = scratch.path();
    fs::create_directories(base + "/App.app");
    fs::create_directory_symlink(base + "/App.app", base + "/Link.app");
    std::ofstream(base + "/plain.txt") << "x";
    fs::create_directories(base + "/Caf\u00e9.app");  // stored composed, as Linux keeps it

    EXPECT_EQ(urlOf(u16(base + "/App.app")), "file://" + base + "/App.app/");
    EXPECT_EQ(urlOf(u16(base + "/Link.app")), "file://" + base + "/Link.app");
    EXPECT_EQ(urlOf(u16(base + "/plain.txt")), "file://" + base + "/plain.txt");
    EXPECT_EQ(urlOf(u16(base + "/Missing.app")), "file://" + base + "/Missing.app");
    // A path that ends in "/" keeps exactly its own slashes.
    EXPECT_EQ(urlOf(u16(base + "/Missing.app//")), "file://" + base + "/Missing.app//");
    // Either form of the name finds the folder and gives the same URL.
    const std::string cafe = "file://" + base + "/Cafe%CC%81.app/";
    EXPECT_EQ(urlOf(u16(base + "/Caf\u00e9.app")), cafe);
    EXPECT_EQ(urlOf(u16(base + "/Cafe\u0301.app")), cafe);
}

TEST(NSURL, RelativePathsAreTakenAgainstTheWorkingDirectory) {
    ScratchHome scratch;
    const std::string old = std::filesystem::current_path();
    // A working directory stored composed: its URL is decomposed, and lstat still finds it.
    const std::string cwd = scratch.path() + "/Caf\u00e9";
    std::filesystem::create_directories(cwd + "/Here.app");
    ASSERT_EQ(chdir(cwd.c_str()), 0);
    const std::string relative = urlOf(u"Here.app");
    const std::string missing = urlOf(u"sub/There.app");
    ASSERT_EQ(chdir(old.c_str()), 0);
    EXPECT_EQ(relative, "file://" + scratch.path() + "/Cafe%CC%81/Here.app/");
    EXPECT_EQ(missing, "file://" + scratch.path() + "/Cafe%CC%81/sub/There.app");
}

TEST(NSStringPaths, ComponentsAsThePlatformSplitsThem) {
    struct Case {
        std::u16string path, last, deleted;
    };
    for (const Case& c : std::vector<Case>{
             {u"/tmp/scratch.tiff", u"scratch.tiff", u"/tmp"},
             {u"/tmp/lock/", u"lock", u"/tmp"},
             {u"/a/b/", u"b", u"/a"},
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

TEST(Gestalt, ReportsAModernSystem) {
    int32_t version = 0;
    EXPECT_EQ(Gestalt(gestaltSystemVersion, &version), noErr);
    EXPECT_EQ(version, 0x1099);
    int32_t other = 7;
    EXPECT_EQ(Gestalt(0x71717171, &other), gestaltUndefSelectorErr);
    EXPECT_EQ(other, 7);
}
