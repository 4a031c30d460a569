#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "platform/volumes.h"

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

// A container's table: the root comes after the pseudo mounts, /dev/shm is mounted twice (the
// second on top of the first), and a mount point holds a space and a non-ASCII name.
const char* kContainerTable =
    "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
    "23 27 0:22 / /sys rw,relatime - sysfs sysfs rw\n"
    "24 27 0:6 / /dev rw,relatime - devtmpfs devtmpfs rw\n"
    "25 24 0:23 / /dev/shm rw,relatime - tmpfs tmpfs rw\n"
    "26 24 0:24 / /dev/pts rw,relatime - devpts devpts rw\n"
    "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
    "30 25 0:27 / /dev/shm rw,relatime - tmpfs tmpfs rw\n"
    "31 23 0:28 / /sys/fs/cgroup rw,relatime - cgroup2 cgroup2 rw\n"
    "32 27 0:29 / /media/My\\040Disk rw,relatime - vfat /dev/sdb1 rw\n"
    "33 27 0:30 / /media/Caf\xC3\xA9 rw,relatime - ext4 /dev/sdc1 rw\n"
    "34 27 0:31 / /run/mqueue rw - mqueue mqueue rw\n"
    "35 27 0:32 / /sys/kernel/tracing rw - tracefs tracefs rw\n";

}  // namespace

TEST(Volumes, RootFirstPseudoFileSystemsLeftOutTableOrderKept) {
    const auto volumes = volumesFromMountTable(parse(kContainerTable), noLabels);
    EXPECT_EQ(mountPoints(volumes),
              (std::vector<std::string>{"/", "/dev", "/dev/shm", "/media/My Disk", "/media/Caf\xC3\xA9"}));
    EXPECT_EQ(names(volumes),
              (std::vector<std::u16string>{u"Filesystem root", u"dev", u"shm", u"My Disk", u"Caf\u00e9"}));
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

TEST(Volumes, LabelsNameVolumesAndTheRootIsAlwaysThere) {
    auto labels = [](const std::string& source) -> std::optional<std::string> {
        if (source == "/dev/sda1") return "System";
        if (source == "/dev/sdb1") return "USB STICK";
        return std::nullopt;
    };
    auto volumes = volumesFromMountTable(parse("1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                               "2 1 8:2 / /media/x rw - vfat /dev/sdb1 rw\n"),
                                         labels);
    EXPECT_EQ(names(volumes), (std::vector<std::u16string>{u"System", u"USB STICK"}));

    // A table without a root entry (or none at all) still lists the boot volume.
    volumes = volumesFromMountTable({}, noLabels);
    ASSERT_EQ(volumes.size(), 1u);
    EXPECT_EQ(volumes[0].mountPoint, "/");
    EXPECT_EQ(volumes[0].name, u"Filesystem root");
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

    // Without sizes the volume answers; asking for the sizes of a vanished mount fails.
    EXPECT_EQ(list.FSGetVolumeInfo(2, kFSVolInfoNone, nullptr, &name), noErr);
    EXPECT_EQ(list.FSGetVolumeInfo(2, kFSVolInfoSizes, &info, &name), ioErr);
}

TEST(Volumes, LongNamesAreCutToTheRecordsCapacity) {
    const VolumeList list({Volume{std::u16string(300, u'n'), "/"}});
    HFSUniStr255 name;
    ASSERT_EQ(list.FSGetVolumeInfo(1, kFSVolInfoNone, nullptr, &name), noErr);
    EXPECT_EQ(name.length, 255);
}
