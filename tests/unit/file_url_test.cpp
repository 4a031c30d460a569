#include <gtest/gtest.h>

#include <map>
#include <set>

#include "platform/file_url.h"

using namespace perivane::platform;

namespace {

// A machine with fixed volumes and a fixed set of existing paths; `links` maps a path to the
// canonical path it resolves to.
class FakeEnvironment : public PathEnvironment {
public:
    std::vector<Volume> vols{{u"Filesystem root", "/"}, {u"Ext", "/media/ext"}, {u"Mnt", "/mnt"},
                             {u"Deep", "/mnt/ext"}, {u"A:B", "/media/colon"}};
    std::set<std::string> existing{"/", "/usr", "/usr/bin", "/media", "/media/ext", "/media/extra",
                                   "/mnt", "/mnt/ext", "/mnt/ext/x", "/private", "/private/tmp",
                                   "/media/colon"};
    std::map<std::string, std::string> links{{"/tmp", "/private/tmp"}};
    int canonicalCalls = 0;

    const std::vector<Volume>& volumes() override { return vols; }
    std::optional<std::string> canonical(const std::string& path) override {
        ++canonicalCalls;
        for (const auto& [from, to] : links) {
            if (path == from || path.rfind(from + "/", 0) == 0) {
                std::string resolved = to + path.substr(from.size());
                if (existing.count(resolved)) return resolved;
                return std::nullopt;
            }
        }
        if (existing.count(path)) return path;
        return std::nullopt;
    }
};

std::optional<std::u16string> convert(std::u16string_view path, CFURLPathStyle from, CFURLPathStyle to,
                                      PathEnvironment& env) {
    auto url = CFURLCreateWithFileSystemPath(path, from, true, env);
    if (!url) return std::nullopt;
    return CFURLCopyFileSystemPath(*url, to, env);
}

std::optional<std::u16string> toHfs(std::u16string_view p, PathEnvironment& env) {
    return convert(p, kCFURLPOSIXPathStyle, kCFURLHFSPathStyle, env);
}
std::optional<std::u16string> toPosix(std::u16string_view p, PathEnvironment& env) {
    return convert(p, kCFURLHFSPathStyle, kCFURLPOSIXPathStyle, env);
}

using Opt = std::optional<std::u16string>;

}  // namespace

TEST(PosixToHfs, NamesThePathByTheVolumeWithTheLongestMountPoint) {
    FakeEnvironment env;
    EXPECT_EQ(toHfs(u"/usr/bin", env), Opt(u"Filesystem root:usr:bin"));
    EXPECT_EQ(toHfs(u"/", env), Opt(u"Filesystem root"));
    EXPECT_EQ(toHfs(u"/media/ext", env), Opt(u"Ext"));
    EXPECT_EQ(toHfs(u"/media/ext/a/b", env), Opt(u"Ext:a:b"));
    EXPECT_EQ(toHfs(u"/mnt/ext/x", env), Opt(u"Deep:x"));  // nested mounts: the deeper wins
    EXPECT_EQ(toHfs(u"/mnt/other", env), Opt(u"Mnt:other"));
    // A mount point covers whole components only.
    EXPECT_EQ(toHfs(u"/media/extra/y", env), Opt(u"Filesystem root:media:extra:y"));
    // A ":" in a volume name is written as "/" in HFS.
    EXPECT_EQ(toHfs(u"/media/colon/f", env), Opt(u"A/B:f"));
}

TEST(PosixToHfs, CanonicalisesTheExistingPrefixAndAppendsTheMissingTail) {
    FakeEnvironment env;
    EXPECT_EQ(toHfs(u"/tmp/x", env), Opt(u"Filesystem root:private:tmp:x"));  // link resolved
    EXPECT_EQ(toHfs(u"/usr//bin/", env), Opt(u"Filesystem root:usr:bin"));
    EXPECT_EQ(toHfs(u"/usr/new/./deeper/../leaf", env), Opt(u"Filesystem root:usr:new:leaf"));
    EXPECT_EQ(toHfs(u"/usr/gone/../../bin", env), Opt(u"Filesystem root:bin"));
    EXPECT_EQ(toHfs(u"/media/ext/../../..", env), Opt(u"Filesystem root"));  // never above "/"
    EXPECT_EQ(toHfs(u"/Volumes/Gone/x", env), Opt(u"Filesystem root:Volumes:Gone:x"));
}

TEST(PosixToHfs, SwapsSeparatorsInsideNames) {
    FakeEnvironment env;
    EXPECT_EQ(toHfs(u"/usr/a:b", env), Opt(u"Filesystem root:usr:a/b"));
    // A last name ending in ":" would end in "/": like the platform, that one "/" is dropped.
    EXPECT_EQ(toHfs(u"/usr/Folder:", env), Opt(u"Filesystem root:usr:Folder"));
    EXPECT_EQ(toHfs(u"/usr/My Docs/100%;?#", env), Opt(u"Filesystem root:usr:My Docs:100%;?#"));
    EXPECT_EQ(toHfs(u"/usr/caf\u00e9", env), Opt(u"Filesystem root:usr:caf\u00e9"));
}

TEST(PosixToHfs, RelativePathsNeverConsultTheFileSystem) {
    FakeEnvironment env;
    EXPECT_EQ(toHfs(u"foo/bar", env), Opt(u":foo:bar"));
    EXPECT_EQ(toHfs(u"foo", env), Opt(u":foo"));
    EXPECT_EQ(toHfs(u"foo/", env), Opt(u":foo"));
    EXPECT_EQ(toHfs(u"../x", env), Opt(u":..:x"));
    EXPECT_EQ(toHfs(u"a:b/c", env), Opt(u":a/b:c"));
    EXPECT_EQ(env.canonicalCalls, 0);
}

TEST(PosixToHfs, RefusesWhatCannotNameAFile) {
    FakeEnvironment env;
    EXPECT_EQ(toHfs(u"", env), std::nullopt);
    EXPECT_EQ(toHfs(std::u16string_view(u"/usr\0bin", 8), env), std::nullopt);
    const char16_t lone[] = {u'/', u'a', 0xDC00};
    EXPECT_EQ(toHfs(std::u16string_view(lone, 3), env), std::nullopt);
    // 1023 bytes still fit; 1024 do not (a two-byte character pushes it over).
    std::u16string longest = u"/" + std::u16string(1022, u'a');
    EXPECT_TRUE(toHfs(longest, env).has_value());
    EXPECT_EQ(toHfs(longest + u"a", env), std::nullopt);
    EXPECT_EQ(toHfs(u"/" + std::u16string(1021, u'a') + u"\u00e9", env), std::nullopt);
}

TEST(HfsToPosix, LooksUpTheVolumeByExactName) {
    FakeEnvironment env;
    EXPECT_EQ(toPosix(u"Filesystem root:usr:bin", env), Opt(u"/usr/bin"));
    EXPECT_EQ(toPosix(u"Filesystem root:usr:bin:", env), Opt(u"/usr/bin"));
    EXPECT_EQ(toPosix(u"Filesystem root", env), Opt(u"/"));
    EXPECT_EQ(toPosix(u"Ext:x", env), Opt(u"/media/ext/x"));
    EXPECT_EQ(toPosix(u"Ext", env), Opt(u"/media/ext"));
    EXPECT_EQ(toPosix(u"A/B:f", env), Opt(u"/media/colon/f"));
    // Unknown names (letter case counts) become top-level folders.
    EXPECT_EQ(toPosix(u"NoSuchVol:a", env), Opt(u"/NoSuchVol/a"));
    EXPECT_EQ(toPosix(u"ext:x", env), Opt(u"/ext/x"));
    EXPECT_EQ(toPosix(u"/:Users", env), Opt(u"/Users"));
    EXPECT_EQ(env.canonicalCalls, 0);
}

TEST(HfsToPosix, DuplicateVolumeNamesTakeTheFirstInListOrder) {
    FakeEnvironment env;
    env.vols.push_back({u"Ext", "/media/ext1"});
    EXPECT_EQ(toPosix(u"Ext:x", env), Opt(u"/media/ext/x"));
}

TEST(HfsToPosix, DoubleColonClimbsButNeverAboveTheVolume) {
    FakeEnvironment env;
    EXPECT_EQ(toPosix(u"Filesystem root:a:b::c", env), Opt(u"/a/c"));
    EXPECT_EQ(toPosix(u"Filesystem root:a::", env), Opt(u"/"));
    EXPECT_EQ(toPosix(u"Filesystem root::", env), Opt(u"/"));
    EXPECT_EQ(toPosix(u"Ext:a:::b", env), Opt(u"/media/ext/b"));
    EXPECT_EQ(toPosix(u"Filesystem root:..:x", env), Opt(u"/../x"));  // only "::" is special
}

TEST(HfsToPosix, RelativePathsAndSeparatorsInsideNames) {
    FakeEnvironment env;
    EXPECT_EQ(toPosix(u":foo:bar", env), Opt(u"foo/bar"));
    EXPECT_EQ(toPosix(u":foo:", env), Opt(u"foo"));
    EXPECT_EQ(toPosix(u"::foo", env), Opt(u"foo"));
    EXPECT_EQ(toPosix(u":a::b", env), Opt(u"b"));
    EXPECT_EQ(toPosix(u":", env), Opt(u"/"));
    EXPECT_EQ(toPosix(u"Filesystem root:a/b", env), Opt(u"/a:b"));
    EXPECT_EQ(toPosix(u"Filesystem root:caf\u00e9", env), Opt(u"/caf\u00e9"));
}

TEST(HfsToPosix, RefusesEmptyAndLoneSurrogates) {
    FakeEnvironment env;
    EXPECT_EQ(toPosix(u"", env), std::nullopt);
    const char16_t lone[] = {u'E', u'x', u't', u':', 0xD800};
    EXPECT_EQ(toPosix(std::u16string_view(lone, 5), env), std::nullopt);
}

TEST(PathStyles, RoundTripsCanonicalPaths) {
    FakeEnvironment env;
    for (std::u16string p : {u"/usr/bin", u"/media/ext/a:b/c d", u"/mnt/ext/x/y", u"/", u"/media/colon"}) {
        auto hfs = toHfs(p, env);
        ASSERT_TRUE(hfs) << std::string(p.begin(), p.end());
        EXPECT_EQ(toPosix(*hfs, env), Opt(p));
    }
}
