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

// Each row: a POSIX path and its HFS form on the fake machine.
TEST(PosixToHfs, NamesPathsByTheirVolume) {
    const std::vector<std::pair<std::u16string, std::u16string>> rows = {
        {u"/usr/bin", u"Filesystem root:usr:bin"},
        {u"/", u"Filesystem root"},
        {u"/media/ext", u"Ext"},
        {u"/media/ext/a/b", u"Ext:a:b"},
        {u"/mnt/ext/x", u"Deep:x"},  // nested mounts: the deeper wins
        {u"/mnt/other", u"Mnt:other"},
        {u"/media/extra/y", u"Filesystem root:media:extra:y"},  // whole components only
        {u"/media/colon/f", u"A/B:f"},  // a ":" in a volume name is an HFS "/"
        // The existing part canonicalised (links resolved), the missing tail appended.
        {u"/tmp/x", u"Filesystem root:private:tmp:x"},
        {u"/usr//bin/", u"Filesystem root:usr:bin"},
        {u"/usr/new/./deeper/../leaf", u"Filesystem root:usr:new:leaf"},
        {u"/usr/gone/../../bin", u"Filesystem root:bin"},
        {u"/media/ext/../../..", u"Filesystem root"},  // never above "/"
        {u"/Volumes/Gone/x", u"Filesystem root:Volumes:Gone:x"},
        // Separators inside names; a last name ending in ":" loses the "/" it becomes.
        {u"/usr/a:b", u"Filesystem root:usr:a/b"},
        {u"/usr/Folder:", u"Filesystem root:usr:Folder"},
        {u"/usr/My Docs/100%;?#", u"Filesystem root:usr:My Docs:100%;?#"},
        {u"/usr/caf\u00e9", u"Filesystem root:usr:caf\u00e9"},
        // Relative paths: never resolved, "." and ".." kept.
        {u"foo/bar", u":foo:bar"},
        {u"foo/", u":foo"},
        {u"../x", u":..:x"},
        {u"a:b/c", u":a/b:c"},
    };
    FakeEnvironment env;
    for (const auto& [posix, hfs] : rows) EXPECT_EQ(toHfs(posix, env), Opt(hfs)) << std::string(posix.begin(), posix.end());
}

// Each row: an HFS path and its POSIX form; the file system is never asked.
TEST(HfsToPosix, LooksUpVolumesAndCollapsesParents) {
    const std::vector<std::pair<std::u16string, std::u16string>> rows = {
        {u"Filesystem root:usr:bin", u"/usr/bin"},
        {u"Filesystem root:usr:bin:", u"/usr/bin"},
        {u"Filesystem root", u"/"},
        {u"Ext:x", u"/media/ext/x"},
        {u"Ext", u"/media/ext"},
        {u"A/B:f", u"/media/colon/f"},
        {u"NoSuchVol:a", u"/NoSuchVol/a"},  // unknown names (case counts): top-level folders
        {u"ext:x", u"/ext/x"},
        {u"/:Users", u"/Users"},
        {u"Filesystem root:a:b::c", u"/a/c"},  // "::" climbs, never above the volume
        {u"Filesystem root:a::", u"/"},
        {u"Filesystem root::", u"/"},
        {u"Ext:a:::b", u"/media/ext/b"},
        {u"Filesystem root:..:x", u"/../x"},  // only "::" is special
        {u":foo:bar", u"foo/bar"},
        {u":foo:", u"foo"},
        {u"::foo", u"foo"},
        {u":a::b", u"b"},
        {u":", u"/"},
        {u"Filesystem root:a/b", u"/a:b"},
        {u"Filesystem root:caf\u00e9", u"/caf\u00e9"},
    };
    FakeEnvironment env;
    for (const auto& [hfs, posix] : rows) EXPECT_EQ(toPosix(hfs, env), Opt(posix)) << std::string(hfs.begin(), hfs.end());
    EXPECT_EQ(env.canonicalCalls, 0);

    env.vols.push_back({u"Ext", "/media/ext1"});  // duplicate names: the first in list order
    EXPECT_EQ(toPosix(u"Ext:x", env), Opt(u"/media/ext/x"));
}
