#include "volumes.h"

#include "file_system.h"

#include <dirent.h>
#include <libmount.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <map>
#include <memory>
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

// Memory-backed file systems hold files and have a size, so they count as volumes although
// libmount lists them among the pseudo file systems.
bool isPseudo(libmnt_fs* fs) {
    const std::string type = orEmpty(mnt_fs_get_fstype(fs));
    if (type == "tmpfs" || type == "devtmpfs") return false;
    return mnt_fs_is_pseudofs(fs) != 0;
}

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
                                     orEmpty(mnt_fs_get_fstype(fs)), isPseudo(fs)});
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

std::vector<Volume> volumesFromMountTable(const std::vector<MountEntry>& table, const LabelLookup& label) {
    // A mount is covered when a later mount sits on the same mount point on top of it (its
    // parent is the covered mount). Without mount IDs, the last of equal mount points wins.
    const bool haveIds = std::all_of(table.begin(), table.end(), [](const MountEntry& m) { return m.id != 0; });
    std::unordered_map<int, const MountEntry*> byId;
    for (const auto& m : table) byId[m.id] = &m;
    auto covered = [&](size_t i) {
        for (size_t j = 0; j < table.size(); ++j) {
            if (j == i || table[j].target != table[i].target) continue;
            if (haveIds ? table[j].parentId == table[i].id : j > i) return true;
        }
        return false;
    };
    // A mount is visible when it is not covered and its way up to the root passes through
    // visible mounts (a mount that covers another stands where the covered one stood).
    std::vector<int> state(table.size(), -1);  // -1 unknown, 0 hidden, 1 visible
    std::function<bool(size_t, int)> reachable = [&](size_t i, int depth) -> bool {
        if (!haveIds || depth > static_cast<int>(table.size())) return true;
        auto parent = byId.find(table[i].parentId);
        if (parent == byId.end() || parent->second == &table[i]) return true;
        const size_t p = static_cast<size_t>(parent->second - table.data());
        if (table[p].target == table[i].target) return reachable(p, depth + 1);
        return !covered(p) && reachable(p, depth + 1);
    };
    auto visible = [&](size_t i) {
        if (state[i] < 0) state[i] = (!covered(i) && reachable(i, 0)) ? 1 : 0;
        return state[i] == 1;
    };

    std::vector<Volume> volumes;
    auto nameOf = [&](const MountEntry& m) -> NSString {
        if (auto l = label(m.source); l && !l->empty()) return utf8ToUtf16Lossy(*l);
        if (m.target == "/") return u"Filesystem root";
        return utf8ToUtf16Lossy(lastComponent(m.target));
    };
    for (size_t i = 0; i < table.size(); ++i) {
        if (table[i].target == "/" && visible(i)) {
            volumes.push_back(Volume{nameOf(table[i]), "/", table[i].source, table[i].fsType});
            break;
        }
    }
    if (volumes.empty()) volumes.push_back(Volume{u"Filesystem root", "/"});  // the boot volume is always there
    for (size_t i = 0; i < table.size(); ++i) {
        if (table[i].target != "/" && !table[i].pseudo && visible(i)) volumes.push_back(Volume{nameOf(table[i]), table[i].target, table[i].source, table[i].fsType});
    }
    return volumes;
}

std::vector<Volume> mountedVolumes() {
    return volumesFromMountTable(readMountTable("/proc/self/mountinfo"), udevLabels());
}

const Volume* volumeContaining(const std::vector<Volume>& volumes, const std::string& path) {
    const Volume* best = nullptr;
    for (const Volume& v : volumes) {
        const std::string& m = v.mountPoint;
        const bool holds = m == "/" || path == m ||
                           (path.size() > m.size() && path.compare(0, m.size(), m) == 0 && path[m.size()] == '/');
        if (holds && (best == nullptr || m.size() > best->mountPoint.size())) best = &v;
    }
    return best;
}

OSErr VolumeList::FSGetVolumeInfo(uint32_t volumeIndex, FSVolumeInfoBitmap whichInfo,
                                  FSVolumeInfo* info, HFSUniStr255* volumeName) const {
    if (volumeIndex < 1 || volumeIndex > volumes_.size()) return nsvErr;
    const Volume& v = volumes_[volumeIndex - 1];
    if ((whichInfo & kFSVolInfoSizes) != 0 && info != nullptr) {
        struct statvfs s {};
        if (::statvfs(v.mountPoint.c_str(), &s) != 0) return ioErr;
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
