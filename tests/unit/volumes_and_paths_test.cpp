// The volume list and the path styles that name paths by their volume.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "fuzz/path_styles_check.h"
#include "platform/files/file_url.h"
#include "platform/files/volumes.h"
#include "small_stack.h"

using namespace perivane::platform;

namespace {

using Opt = std::optional<std::u16string>;

using perivane::fuzz::FakeMachine;

Opt convert(std::u16string_view path, CFURLPathStyle from, CFURLPathStyle to, PathEnvironment& env) {
    auto url = CFURLCreateWithFileSystemPath(path, from, true, env);
    return url ? CFURLCopyFileSystemPath(*url, to, env) : std::nullopt;
}
Opt toHfs(std::u16string_view p, PathEnvironment& env) { return convert(p, kCFURLPOSIXPathStyle, kCFURLHFSPathStyle, env); }
Opt toPosix(std::u16string_view p, PathEnvironment& env) { return convert(p, kCFURLHFSPathStyle, kCFURLPOSIXPathStyle, env); }

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
        // Relative paths: never resolved, "." and ".." kept.
        {u"foo/bar", u":foo:bar"},
        {u"foo/", u":foo"},
        {u"../x", u":..:x"},
        {u"a:b/c", u":a/b:c"},
    };
    FakeMachine env;
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
        {u"Ext:a:::b", u"/media/ext/b"},
        {u"Filesystem root:..:x", u"/../x"},  // only "::" is special
        {u":foo:bar", u"foo/bar"},
        {u":foo:", u"foo"},
        {u"::foo", u"foo"},
        {u":a::b", u"b"},
        {u":", u"/"},
        {u"Filesystem root:a/b", u"/a:b"},
    };
    FakeMachine env;
    for (const auto& [hfs, posix] : rows) EXPECT_EQ(toPosix(hfs, env), Opt(posix)) << std::string(hfs.begin(), hfs.end());
    EXPECT_EQ(env.canonicalCalls, 0);

    env.vols.push_back({u"Ext", "/media/ext1"});  // duplicate names: the first in list order
    EXPECT_EQ(toPosix(u"Ext:x", env), Opt(u"/media/ext/x"));
}

namespace {

// Writes a mount table to a temporary file and reads it back the way the live list does.
std::vector<MountEntry> parse(const std::string& text) {
    char path[] = "/tmp/perivane-mountinfo-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    close(fd);
    std::ofstream(path) << text;
    auto table = readMountTable(path);
    std::remove(path);
    return table;
}

std::optional<std::string> noLabels(const std::string&) { return std::nullopt; }

// Each volume as "mount point=name".
std::vector<std::string> listed(const std::vector<Volume>& vs) {
    std::vector<std::string> out;
    for (const auto& v : vs) out.push_back(v.mountPoint + "=" + *utf16ToUtf8(v.name));
    return out;
}

// A desktop's table, "/" listed after the first mounts. Only "/" and the user's volumes are
// shown: not the system's own (/proc, /dev, /run, snap images, the EFI partition, the user
// runtime folder and its FUSE mounts), not a bind mount, not a mount in a hidden folder.
const char* kDesktopTable =
    "22 1 0:21 / /proc rw - proc proc rw\n"
    "24 1 0:5 / /dev rw - devtmpfs udev rw\n"
    "1 0 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n"
    "25 24 0:23 / /dev/shm rw - tmpfs tmpfs rw\n"
    "26 1 0:24 / /run rw - tmpfs tmpfs rw\n"
    "27 26 0:25 / /run/lock rw - tmpfs tmpfs rw\n"
    "28 1 7:3 / /snap/core/1828 ro - squashfs /dev/loop3 ro\n"
    "29 1 259:1 / /boot/efi rw - vfat /dev/nvme0n1p1 rw\n"
    "30 26 0:26 / /run/user/1000 rw - tmpfs tmpfs rw\n"
    "31 30 0:27 / /run/user/1000/gvfs rw - fuse.gvfsd-fuse gvfsd-fuse rw\n"
    "32 1 8:17 / /media/me/USB\\040STICK rw - vfat /dev/sdb1 rw\n"
    "33 1 8:33 / /media/me/Caf\xC3\xA9 rw - ext4 /dev/sdc1 rw\n"
    "34 26 8:49 / /run/media/me/Backup rw - ext4 /dev/sdd1 rw\n"
    "35 1 259:2 /srv/share /home/me/share rw - ext4 /dev/nvme0n1p2 rw\n"
    "36 1 0:40 / /home/me/.cache/doc rw - fuse.portal portal rw\n"
    "37 1 8:2 / /data rw - xfs /dev/sda2 rw\n"
    "38 23 0:28 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n";

}  // namespace

TEST(Volumes, ADesktopShowsTheRootFirstThenOnlyUserVolumes) {
    auto labels = [](const std::string& source) -> std::optional<std::string> {
        if (source == "/dev/sdb1") return "USB STICK";
        return std::nullopt;
    };
    EXPECT_EQ(listed(volumesFromMountTable(parse(kDesktopTable), labels)),
              (std::vector<std::string>{"/=Filesystem root", "/media/me/USB STICK=USB STICK",
                                        "/media/me/Caf\xC3\xA9=Caf\xC3\xA9", "/run/media/me/Backup=Backup", "/data=data"}));
    // A table without a root entry (or none at all) still lists the boot volume.
    EXPECT_EQ(listed(volumesFromMountTable({}, noLabels)), std::vector<std::string>{"/=Filesystem root"});
}

// Root can stack any number of mounts on one point in a mount namespace; only the top one is
// seen, with what is mounted on it. The walk must neither recurse nor rescan the table.
TEST(Volumes, AHundredThousandMountsStackedOnOnePointOnASmallStack) {
    constexpr int kStacked = 100000;
    std::vector<MountEntry> table{{1, 0, "/dev/sda1", "/", "ext4", "/"}};
    for (int id = 2; id < kStacked + 2; ++id) table.push_back({id, id - 1, "/dev/sdb1", "/media/stack", "ext4", "/"});
    table.push_back({kStacked + 2, kStacked + 1, "/dev/sdc1", "/media/stack/on-top", "ext4", "/"});
    table.push_back({kStacked + 3, 2, "/dev/sdd1", "/media/stack/underneath", "ext4", "/"});
    std::vector<Volume> volumes;
    onSmallStack(256 << 10, [&] { volumes = volumesFromMountTable(table, noLabels); });
    EXPECT_EQ(listed(volumes), (std::vector<std::string>{"/=Filesystem root", "/media/stack=stack", "/media/stack/on-top=on-top"}));
}

TEST(Volumes, FileManagerWalkByIndex) {
    const VolumeList list({Volume{u"Filesystem root", "/"}, Volume{u"Gone", "/no/such/mount/point"}});
    FSVolumeInfo info{1, 1};
    HFSUniStr255 name;
    EXPECT_EQ(list.FSGetVolumeInfo(0, kFSVolInfoNone, nullptr, nullptr), nsvErr);
    EXPECT_EQ(list.FSGetVolumeInfo(3, kFSVolInfoNone, nullptr, nullptr), nsvErr);
    // A volume whose sizes cannot be read (gone, or behind a folder we may not enter) still
    // answers, with sizes 0: the list never ends early while nothing changes.
    ASSERT_EQ(list.FSGetVolumeInfo(2, kFSVolInfoSizes, &info, &name), noErr);
    EXPECT_EQ(std::u16string(name.unicode, name.length), u"Gone");
    EXPECT_EQ(info.totalBytes + info.freeBytes, 0u);
}

// The live walk (one readlink per name) answers as realpath asked of ever shorter leading parts.
TEST(PosixToHfs, TheLiveWalkAnswersAsRealpathOfEachLeadingPart) {
    struct ByRealpath : PathEnvironment {
        LivePathEnvironment live;
        const VolumeTable& volumes() override { return live.volumes(); }
        std::optional<std::string> canonical(const std::string& p) override { return live.canonical(p); }
    } byRealpath;
    LivePathEnvironment live;
    char made[] = "/tmp/perivane-walk-XXXXXX";
    const std::string root = mkdtemp(made);
    ASSERT_EQ(std::system(("cd " + root + " && mkdir -p dir/sub && touch file && ln -s dir link && ln -s " + root +
                           "/dir/sub abs && ln -s nowhere dangling && ln -s loop loop && ln -s ../" +
                           root.substr(5) + "/dir/.. up && ln -s link/sub/../sub chain")
                              .c_str()),
              0);
    for (const char* tail : {"/dir/sub", "/link/sub/x/y", "/abs/../sub", "/dangling/x", "/loop/x", "/up/dir/new",
                             "/chain/./..", "/file/..", "/file/../link", "/file/x/..", "/file/.", "/link/../link/..",
                             "/dir/missing/../sub", "/../tmp/./x", "/dir//sub/"}) {
        const std::u16string path = utf8ToUtf16Lossy(root + tail);
        EXPECT_EQ(toHfs(path, live), toHfs(path, byRealpath)) << tail;
    }
    std::system(("rm -rf " + root).c_str());
}
