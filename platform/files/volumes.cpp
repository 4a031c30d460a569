#include "platform/files/volumes.h"

#include "platform/base/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <gio/gunixmounts.h>
#include <libmount.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>

namespace perivane::platform {

namespace {

struct TableDeleter {
    void operator()(libmnt_table* t) const { mnt_unref_table(t); }
};
struct IterDeleter {
    void operator()(libmnt_iter* i) const { mnt_free_iter(i); }
};

std::string orEmpty(const char* s) { return s ? s : ""; }

bool startsWithFolder(const std::string& path, std::string_view folder) {
    return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

// What GLib calls system-internal (its system file-system types, device paths and mount
// paths, and bind mounts of a folder, as g_unix_mount_is_system_internal decides for an entry
// of its own table), and places a desktop's file manager hides although that test lets them
// through: the runtime folders below /run other than removable media in /run/media (a user's
// runtime folder holds FUSE mounts such as gvfs and the document portal), the EFI system
// partition, and snap images.
bool isSystemInternal(const MountEntry& m) {
    if (g_unix_is_system_fs_type(m.fsType.c_str()) || g_unix_is_system_device_path(m.source.c_str()) ||
        g_unix_is_mount_path_system_internal(m.target.c_str()) || (!m.root.empty() && m.root != "/")) {
        return true;
    }
    if (startsWithFolder(m.target, "/run")) return !startsWithFolder(m.target, "/run/media");
    for (std::string_view folder : {"/boot", "/efi", "/snap", "/var/lib/snapd"}) {
        if (startsWithFolder(m.target, folder)) return true;
    }
    return false;
}

// Whether a component of the mount point starts with ".": the user keeps it out of sight.
bool inHiddenFolder(const std::string& target) { return target.find("/.") != std::string::npos; }

// udev names by-label links with the label's unsafe bytes written as \xNN.
std::string unescapeUdev(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' && std::isxdigit(static_cast<unsigned char>(s[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 3]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string lastComponent(const std::string& mountPoint) {
    const size_t slash = mountPoint.find_last_of('/');
    return slash == std::string::npos ? mountPoint : mountPoint.substr(slash + 1);
}

}  // namespace

std::vector<MountEntry> readMountTable(const std::string& path) {
    std::vector<MountEntry> entries;
    std::unique_ptr<libmnt_table, TableDeleter> table(mnt_new_table());
    if (!table || mnt_table_parse_file(table.get(), path.c_str()) != 0) return entries;
    std::unique_ptr<libmnt_iter, IterDeleter> it(mnt_new_iter(MNT_ITER_FORWARD));
    if (!it) throw std::bad_alloc();
    libmnt_fs* fs = nullptr;
    while (mnt_table_next_fs(table.get(), it.get(), &fs) == 0) {
        entries.push_back(MountEntry{mnt_fs_get_id(fs), mnt_fs_get_parent_id(fs),
                                     orEmpty(mnt_fs_get_source(fs)), orEmpty(mnt_fs_get_target(fs)),
                                     orEmpty(mnt_fs_get_fstype(fs)), orEmpty(mnt_fs_get_root(fs)),
                                     mnt_fs_is_pseudofs(fs) != 0});
    }
    return entries;
}

namespace {

// The names of udev's links in `folder`, looked up by the device each link resolves to.
LabelLookup linksByDevice(const std::string& folder) {
    std::map<std::string, std::string> byDevice;  // resolved device path -> link name
    if (Directory dir(opendir(folder.c_str())); dir) {
        while (dirent* e = readdir(dir.get())) {
            const std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            if (auto device = canonicalPath(folder + name)) byDevice.emplace(*device, unescapeUdev(name));
        }
    }
    return [byDevice = std::move(byDevice)](const std::string& source) -> std::optional<std::string> {
        if (byDevice.empty() || source.rfind("/dev/", 0) != 0) return std::nullopt;
        auto device = canonicalPath(source);
        if (!device) return std::nullopt;
        auto it = byDevice.find(*device);
        if (it == byDevice.end()) return std::nullopt;
        return it->second;
    };
}

}  // namespace

LabelLookup udevLabels() { return linksByDevice("/dev/disk/by-label/"); }

LabelLookup udevUUIDs() { return linksByDevice("/dev/disk/by-uuid/"); }

namespace {

// Which mounts of the table can be seen: a mount is covered when another sits on the same mount
// point on top of it (its parent is the covered mount; without mount IDs, a later entry for the
// same point). A mount is visible when it is not covered and its way up to the root passes
// through visible mounts, where a mount that covers another stands where the covered one
// stood. Each mount is looked at a bounded number of times, and nothing recurses: the kernel
// lets root stack any number of mounts on one point.
std::vector<bool> visibleMounts(const std::vector<MountEntry>& table) {
    const size_t n = table.size();
    const bool haveIds = std::all_of(table.begin(), table.end(), [](const MountEntry& m) { return m.id != 0; });
    std::vector<bool> covered(n, false);
    std::vector<size_t> parent(n, n);  // n: none in the table (a root)
    if (haveIds) {
        std::unordered_map<int, size_t> byId;
        byId.reserve(n);
        for (size_t i = 0; i < n; ++i) byId.emplace(table[i].id, i);
        for (size_t i = 0; i < n; ++i) {
            const auto p = byId.find(table[i].parentId);
            if (p == byId.end() || p->second == i) continue;
            parent[i] = p->second;
            if (table[p->second].target == table[i].target) covered[p->second] = true;
        }
    } else {
        std::unordered_map<std::string_view, size_t> last;
        for (size_t i = 0; i < n; ++i) last[table[i].target] = i;
        for (size_t i = 0; i < n; ++i) covered[i] = last[table[i].target] != i;
    }

    enum : char { unknown, walking, hidden, reachable };
    std::vector<char> state(n, unknown);
    std::vector<size_t> chain;
    for (size_t i = 0; i < n; ++i) {
        // Climb to a mount whose state is known (or a root), then settle the way back down.
        chain.clear();
        size_t k = i;
        while (k < n && state[k] == unknown) {
            state[k] = walking;
            chain.push_back(k);
            k = parent[k];
        }
        if (k < n && state[k] == walking) state[k] = reachable;  // a loop (no kernel table has one): its top counts as a root
        for (auto c = chain.rbegin(); c != chain.rend(); ++c) {
            if (state[*c] != walking) continue;
            const size_t p = parent[*c];
            bool up = true;
            if (p < n) {
                up = state[p] == reachable;
                if (table[p].target != table[*c].target) up = up && !covered[p];
            }
            state[*c] = up ? reachable : hidden;
        }
    }
    std::vector<bool> visible(n);
    for (size_t i = 0; i < n; ++i) visible[i] = state[i] == reachable && !covered[i];
    return visible;
}

}  // namespace

std::vector<Volume> volumesFromMountTable(const std::vector<MountEntry>& table, const LabelLookup& label) {
    const std::vector<bool> visible = visibleMounts(table);
    auto nameOf = [&](const MountEntry& m) -> NSString {
        if (auto l = label(m.source); l && !l->empty()) return utf8ToUtf16Lossy(*l);
        if (m.target == "/") return u"Filesystem root";
        return utf8ToUtf16Lossy(lastComponent(m.target));
    };
    std::vector<Volume> volumes;
    for (size_t i = 0; i < table.size(); ++i) {
        if (table[i].target == "/" && visible[i]) {
            volumes.push_back(Volume{nameOf(table[i]), "/", table[i].source, table[i].fsType});
            break;
        }
    }
    if (volumes.empty()) volumes.push_back(Volume{u"Filesystem root", "/"});  // the boot volume is always there
    for (size_t i = 0; i < table.size(); ++i) {
        const MountEntry& m = table[i];
        if (m.target == "/" || !visible[i] || m.pseudo || isSystemInternal(m) || inHiddenFolder(m.target)) continue;
        volumes.push_back(Volume{nameOf(m), m.target, m.source, m.fsType});
    }
    return volumes;
}

VolumeTable::VolumeTable(std::vector<Volume> volumes) : volumes_(std::move(volumes)) {
    byMountPoint_.reserve(volumes_.size());
    byName_.reserve(volumes_.size());
    for (size_t i = 0; i < volumes_.size(); ++i) {
        byMountPoint_[volumes_[i].mountPoint] = i;  // the later wins: mounted on top
        NSString name = volumes_[i].name;
        std::replace(name.begin(), name.end(), u':', u'/');
        byName_.emplace(std::move(name), i);  // the first wins
    }
}

const Volume* VolumeTable::mountedAt(std::string_view mountPoint) const {
    const auto it = byMountPoint_.find(mountPoint);
    return it == byMountPoint_.end() ? nullptr : &volumes_[it->second];
}

const Volume* VolumeTable::named(std::u16string_view hfsName) const {
    const auto it = byName_.find(std::u16string(hfsName));
    return it == byName_.end() ? nullptr : &volumes_[it->second];
}

const Volume* VolumeTable::containing(std::string_view path) const {
    for (;;) {
        if (const Volume* v = mountedAt(path.empty() ? std::string_view("/") : path)) return v;
        const size_t slash = path.rfind('/');
        if (path.empty() || slash == std::string_view::npos) return nullptr;
        path = path.substr(0, slash);
    }
}

namespace {

// What tells the process that its volumes may have changed: a descriptor on its mount table,
// which the kernel marks with POLLPRI and POLLERR once after each change of the mount namespace
// (the mark is taken by the poll that sees it), and an inotify watch on udev's label folder
// (or, while that folder is missing, on the nearest folder above it that exists, to see it
// appear). /proc/self names the process's first thread, whose namespace a JVM never changes
// (a multithreaded process cannot join another, and the JVM's first thread only waits).
//
// Each change seen counts one; a table read after the count reached N holds every change
// counted up to N, because its reading began after the poll that counted it. A call therefore
// uses the kept table only when nothing was counted since that table's reading began; a change
// another thread's poll took away from this one was counted under the same lock, so it is not
// missed.
class MountWatch {
public:
    MountWatch() {
        const char* setting = std::getenv("PERIVANE_MOUNT_WATCH");
        if (setting != nullptr && std::strcmp(setting, "off") == 0) return;  // every call reads afresh
        mountinfo_ = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
        inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (inotify_ >= 0) watchLabels();
    }
    ~MountWatch() {
        const std::lock_guard lock(mutex_);
        for (int* fd : {&mountinfo_, &inotify_}) {
            if (*fd >= 0) ::close(*fd);
            *fd = -1;
        }
        watch_ = -1;
        table_.reset();
    }

    std::shared_ptr<const VolumeTable> current() {
        uint64_t seen = 0;
        bool usable = false;
        {
            const std::lock_guard lock(mutex_);
            usable = mountinfo_ >= 0 && watch_ >= 0 && poll();
            seen = changes_;
            if (usable && table_ && tableSeen_ == seen) return table_;
        }
        auto fresh = std::make_shared<const VolumeTable>(
            volumesFromMountTable(readMountTable("/proc/self/mountinfo"), udevLabels()));
        if (usable) {
            const std::lock_guard lock(mutex_);
            if (!table_ || tableSeen_ < seen) {
                table_ = fresh;
                tableSeen_ = seen;
            }
        }
        return fresh;
    }

private:
    static constexpr const char* kLabels = "/dev/disk/by-label";

    // Counts what both descriptors report; false when they cannot tell (then nothing is kept).
    bool poll() {
        pollfd fds[2] = {{mountinfo_, POLLPRI, 0}, {inotify_, POLLIN, 0}};
        if (::poll(fds, 2, 0) < 0) return false;
        if (((fds[0].revents | fds[1].revents) & POLLNVAL) != 0) return false;
        if ((fds[0].revents & (POLLPRI | POLLERR)) != 0) ++changes_;
        if ((fds[1].revents & POLLIN) != 0) {
            ++changes_;
            bool rewatch = !watchingLabels_;
            alignas(inotify_event) char buffer[4096];
            for (ssize_t n; (n = ::read(inotify_, buffer, sizeof buffer)) > 0;) {
                for (ssize_t at = 0; at < n;) {
                    const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
                    if ((e->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_Q_OVERFLOW)) != 0) rewatch = true;
                    at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
                }
            }
            if (rewatch) watchLabels();
        }
        return watch_ >= 0;
    }

    // Watches the label folder, or the nearest folder above it that exists.
    void watchLabels() {
        if (watch_ >= 0) ::inotify_rm_watch(inotify_, watch_);
        watch_ = -1;
        std::string folder = kLabels;
        for (;;) {
            watchingLabels_ = folder == kLabels;
            const uint32_t events = watchingLabels_ ? IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                                          IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR
                                                    : IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
            watch_ = ::inotify_add_watch(inotify_, folder.c_str(), events);
            if (watch_ >= 0 || errno != ENOENT || folder == "/dev") return;
            folder.resize(folder.rfind('/'));
        }
    }

    std::mutex mutex_;
    int mountinfo_ = -1;
    int inotify_ = -1;
    int watch_ = -1;
    bool watchingLabels_ = false;
    uint64_t changes_ = 0;
    std::shared_ptr<const VolumeTable> table_;
    uint64_t tableSeen_ = 0;
};

}  // namespace

std::shared_ptr<const VolumeTable> currentVolumeTable() {
    static MountWatch watch;  // closed, and its table freed, when the library is unloaded
    return watch.current();
}

OSErr VolumeList::FSGetVolumeInfo(uint32_t volumeIndex, FSVolumeInfoBitmap whichInfo,
                                  FSVolumeInfo* info, HFSUniStr255* volumeName) const {
    const std::vector<Volume>& volumes = table_->volumes();
    if (volumeIndex < 1 || volumeIndex > volumes.size()) return nsvErr;
    const Volume& v = volumes[volumeIndex - 1];
    if ((whichInfo & kFSVolInfoSizes) != 0 && info != nullptr) {
        struct statvfs s {};
        if (::statvfs(v.mountPoint.c_str(), &s) != 0) s = {};  // sizes unknown: 0 and 0
        info->totalBytes = static_cast<uint64_t>(s.f_blocks) * s.f_frsize;
        info->freeBytes = static_cast<uint64_t>(s.f_bavail) * s.f_frsize;
    }
    if (volumeName != nullptr) {
        const size_t n = std::min<size_t>(v.name.size(), 255);
        volumeName->length = static_cast<uint16_t>(n);
        std::copy_n(v.name.data(), n, volumeName->unicode);
    }
    return noErr;
}

}  // namespace perivane::platform
