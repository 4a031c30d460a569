#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "platform/volumes.h"
#include "small_stack.h"

using namespace perivane::platform;

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

std::vector<std::u16string> names(const std::vector<Volume>& vs) {
    std::vector<std::u16string> out;
    for (const auto& v : vs) out.push_back(v.name);
    return out;
}

std::vector<std::string> mountPoints(const std::vector<Volume>& vs) {
    std::vector<std::string> out;
    for (const auto& v : vs) out.push_back(v.mountPoint);
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
    const auto volumes = volumesFromMountTable(parse(kDesktopTable), labels);
    EXPECT_EQ(mountPoints(volumes), (std::vector<std::string>{"/", "/media/me/USB STICK", "/media/me/Caf\xC3\xA9",
                                                              "/run/media/me/Backup", "/data"}));
    EXPECT_EQ(names(volumes),
              (std::vector<std::u16string>{u"Filesystem root", u"USB STICK", u"Caf\u00e9", u"Backup", u"data"}));
}

TEST(Volumes, MountsHiddenUnderAnotherMountAreLeftOut) {
    // /data is mounted, /data/inner under it, then a new mount covers /data (parent 40):
    // /data/inner is no longer reachable, the covering mount and its own child are.
    const auto volumes = volumesFromMountTable(parse("1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                                     "40 1 8:2 / /data rw - ext4 /dev/sda2 rw\n"
                                                     "41 40 8:3 / /data/inner rw - ext4 /dev/sda3 rw\n"
                                                     "42 40 8:4 / /data rw - xfs /dev/sda4 rw\n"
                                                     "43 42 8:5 / /data/new rw - ext4 /dev/sda5 rw\n"),
                                               noLabels);
    EXPECT_EQ(mountPoints(volumes), (std::vector<std::string>{"/", "/data", "/data/new"}));
}

TEST(Volumes, TheBootVolumeIsThereEvenWithoutARootEntry) {
    const auto volumes = volumesFromMountTable({}, noLabels);
    ASSERT_EQ(volumes.size(), 1u);
    EXPECT_EQ(volumes[0].mountPoint, "/");
    EXPECT_EQ(volumes[0].name, u"Filesystem root");
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
    EXPECT_EQ(mountPoints(volumes), (std::vector<std::string>{"/", "/media/stack", "/media/stack/on-top"}));
}

TEST(Volumes, FileManagerWalkByIndex) {
    const VolumeList list({Volume{u"Filesystem root", "/"}, Volume{u"Gone", "/no/such/mount/point"}});
    EXPECT_EQ(list.FSGetVolumeInfo(0, kFSVolInfoNone, nullptr, nullptr), nsvErr);
    EXPECT_EQ(list.FSGetVolumeInfo(3, kFSVolInfoNone, nullptr, nullptr), nsvErr);

    FSVolumeInfo info;
    HFSUniStr255 name;
    ASSERT_EQ(list.FSGetVolumeInfo(1, kFSVolInfoSizes, &info, &name), noErr);
    EXPECT_EQ(std::u16string(name.unicode, name.length), u"Filesystem root");
    struct statvfs s {};
    ASSERT_EQ(statvfs("/", &s), 0);
    EXPECT_EQ(info.totalBytes, static_cast<uint64_t>(s.f_blocks) * s.f_frsize);

    // A volume whose sizes cannot be read (gone, or behind a folder we may not enter) still
    // answers, with sizes 0: the list never ends early while nothing changes.
    ASSERT_EQ(list.FSGetVolumeInfo(2, kFSVolInfoSizes, &info, &name), noErr);
    EXPECT_EQ(std::u16string(name.unicode, name.length), u"Gone");
    EXPECT_EQ(info.totalBytes, 0u);
    EXPECT_EQ(info.freeBytes, 0u);
}
