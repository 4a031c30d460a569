// Mounted volumes, as the platform's File Manager lists them: an ordered list walked by a
// 1-based index, each volume with a display name and its total and free size.
//
// The list comes from the kernel's mount table (libmount) and holds what a Linux desktop's file
// manager shows as volumes: the mount at "/" (the boot volume) first, then every visible mount
// that is not the system's own (GLib's system-internal test, and the few places noted in
// volumes.cpp) and not inside a hidden (dot) folder. A mount point mounted over keeps only its
// top mount. A volume is named by its file-system label where udev knows one, else by the last
// component of its mount point; "/" without a label is "Filesystem root".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/base/mac_errors.h"
#include "platform/base/strings.h"

namespace perivane::platform {

// One line of the mount table. `id` and `parentId` are the kernel's mount IDs (0 when the
// table does not carry them); `root` is the folder of the file system that is mounted (not
// "/" for a bind mount of a folder; empty when the table does not say).
struct MountEntry {
    int id = 0;
    int parentId = 0;
    std::string source;
    std::string target;
    std::string fsType;
    std::string root;
    bool pseudo = false;  // proc, sysfs, cgroup, devpts, ...: never a volume
};

struct Volume {
    NSString name;           // display name, as UTF-16
    std::string mountPoint;  // file-system bytes
    std::string source{};    // the mounted device or file system source, as the table gives it
    std::string fsType{};
};

// Reads a mount table file (mountinfo or mounts format), every line of it. Empty when it
// cannot be read.
std::vector<MountEntry> readMountTable(const std::string& path);

// The file-system label of a mount's source device, if any.
using LabelLookup = std::function<std::optional<std::string>(const std::string& source)>;

// Labels from udev's /dev/disk/by-label links (absent in containers, where none are known).
LabelLookup udevLabels();

// File-system UUIDs from udev's /dev/disk/by-uuid links, as udev writes them.
LabelLookup udevUUIDs();

// The volumes of a mount table, in list order: the visible "/" first, then the other visible
// mounts that are volumes, in table order. Linear in the size of the table.
std::vector<Volume> volumesFromMountTable(const std::vector<MountEntry>& table, const LabelLookup& label);

// The volumes of one reading of the mount table, with the two lookups the path styles make: by
// mount point and by name, each one hash lookup however many volumes there are.
class VolumeTable {
public:
    explicit VolumeTable(std::vector<Volume> volumes);
    VolumeTable(const VolumeTable&) = delete;  // the maps point into the list
    VolumeTable& operator=(const VolumeTable&) = delete;

    const std::vector<Volume>& volumes() const noexcept { return volumes_; }
    // The volume mounted at exactly `mountPoint`; of two at one point the later in the list,
    // which is mounted on top.
    const Volume* mountedAt(std::string_view mountPoint) const;
    // The first volume in list order whose name, with each ":" written as "/", is `hfsName`.
    const Volume* named(std::u16string_view hfsName) const;
    // The volume an absolute path in canonical form lies on: the one mounted at the longest
    // leading part of it on a component boundary (one lookup per leading part). Null when none
    // is, never for a table that holds the root volume.
    const Volume* containing(std::string_view path) const;

private:
    std::vector<Volume> volumes_;
    std::unordered_map<std::string_view, size_t> byMountPoint_;
    std::unordered_map<std::u16string, size_t> byName_;
};

// The volumes mounted now, for the calling process, as a fresh reading of the mount table and
// udev's labels would give them at the moment of the call. The table is kept between calls and
// read again only when the kernel reports a change of the mount table (a descriptor on
// /proc/self/mountinfo, tested with poll and no timeout) or udev's label folder changes
// (inotify); where either descriptor cannot be had, or PERIVANE_MOUNT_WATCH=off is set when the
// first volume is asked for, every call reads afresh. Safe from any thread: a thread that
// needs a newer table reads it itself, no thread waits for another's reading, and the one kept
// is the newest. Released when the library is unloaded.
std::shared_ptr<const VolumeTable> currentVolumeTable();

// ---- the File Manager's volume call ----------------------------------------------------------

inline constexpr OSErr nsvErr = -35;  // no such volume

using FSVolumeInfoBitmap = uint32_t;
inline constexpr FSVolumeInfoBitmap kFSVolInfoNone = 0x0000;
inline constexpr FSVolumeInfoBitmap kFSVolInfoSizes = 0x0040;

struct FSVolumeInfo {
    uint64_t totalBytes = 0;
    uint64_t freeBytes = 0;  // bytes an unprivileged user can still write
};

struct HFSUniStr255 {
    uint16_t length = 0;
    char16_t unicode[255] = {};
};

// One reading of the volume list, walked by 1-based index the way the File Manager's
// FSGetVolumeInfo walks it. A native takes one snapshot per call, so its passes over the list
// agree with each other even when volumes come and go meanwhile.
class VolumeList {
public:
    explicit VolumeList(std::vector<Volume> volumes) : table_(std::make_shared<VolumeTable>(std::move(volumes))) {}
    explicit VolumeList(std::shared_ptr<const VolumeTable> table) : table_(std::move(table)) {}
    static VolumeList current() { return VolumeList(currentVolumeTable()); }

    // noErr and what `whichInfo` asks for (sizes, and the name when `volumeName` is given), or
    // nsvErr past the last volume. Sizes that cannot be read (a mount that went away, one
    // behind a folder the caller may not enter, another user's FUSE mount) are 0 and 0.
    OSErr FSGetVolumeInfo(uint32_t volumeIndex, FSVolumeInfoBitmap whichInfo, FSVolumeInfo* info,
                          HFSUniStr255* volumeName) const;

    const std::vector<Volume>& volumes() const noexcept { return table_->volumes(); }

private:
    std::shared_ptr<const VolumeTable> table_;
};

}  // namespace perivane::platform
