#include <gtest/gtest.h>

#include <filesystem>

#include "platform/ns_string_paths.h"
#include "platform/ns_url.h"
#include "platform/strings.h"
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

TEST(NSURL, AddsASlashOnlyForAFolderThatExistsNow) {
    ScratchHome scratch;
    namespace fs = std::filesystem;
    const std::string base = scratch.path(), file = "file://" + base;
    fs::create_directories(base + "/Caf\u00e9");  // stored composed, as Linux keeps it
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
