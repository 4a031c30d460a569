#include "platform/files/bookmark.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "platform/base/file_system.h"
#include "platform/files/finder_info.h"
#include "platform/base/unicode.h"
#include "platform/files/volumes.h"

namespace perivane::platform {

namespace {

using bookmark::Contents;

constexpr double kSecondsFrom1970To2001 = 978307200.0;

double formatTime(std::int64_t seconds, std::uint32_t nanoseconds) {
    return static_cast<double>(seconds) - kSecondsFrom1970To2001 + nanoseconds / 1e9;
}

double now() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return formatTime(t.tv_sec, static_cast<std::uint32_t>(t.tv_nsec));
}

// When the item was made: its birth time where the file system keeps one, else its last
// modification. A final symbolic link is the link itself.
std::optional<double> creationDate(const std::string& path) {
    struct statx sx{};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME, &sx) != 0) {
        return std::nullopt;
    }
    const statx_timestamp& t = (sx.stx_mask & STATX_BTIME) != 0 ? sx.stx_btime : sx.stx_mtime;
    return formatTime(t.tv_sec, t.tv_nsec);
}

// FAT file systems number their files afresh on every mount: their IDs find nothing later.
bool hasPersistentIDs(const std::string& fsType) {
    return fsType != "vfat" && fsType != "msdos" && fsType != "exfat" && fsType != "fat";
}

// The volume's UUID: its file system's, where udev knows a full one. Otherwise one is derived
// from the names that identify the volume here (a version-3, name-based UUID over its source
// and mount point in the URL namespace), which stays the same for as long as the same source is
// mounted at the same place, as the platform derives one for volumes that carry none.
std::string volumeUUID(const Volume& v, const LabelLookup& uuids) {
    uuid_t id{};
    char text[37];
    if (const std::optional<std::string> known = uuids(v.source);
        known && known->size() == 36 && uuid_parse(known->c_str(), id) == 0) {
        uuid_unparse_upper(id, text);
        return text;
    }
    const std::string name = "file://" + v.mountPoint + "?source=" + v.source;
    uuid_generate_md5(id, *uuid_get_template("url"), name.data(), name.size());
    uuid_unparse_upper(id, text);
    return text;
}

bookmark::Volume volumeFacts(const Volume& v, const LabelLookup& uuids) {
    bookmark::Volume facts;
    facts.path = v.mountPoint;
    facts.name = utf16ToUtf8Lossy(v.name);
    facts.uuid = volumeUUID(v, uuids);
    if (struct statvfs s{}; ::statvfs(v.mountPoint.c_str(), &s) == 0) {
        facts.capacity = static_cast<std::uint64_t>(s.f_blocks) * s.f_frsize;
    }
    // A file system makes its root folder when it is made: the folder's birth is the volume's.
    facts.creationDate = creationDate(v.mountPoint).value_or(bookmark::kUnixEpoch);
    facts.flags = bookmark::kVolumeLocal |
                  (v.mountPoint == "/" ? bookmark::kVolumeInternal : bookmark::kVolumeExternal) |
                  (hasPersistentIDs(v.fsType) ? bookmark::kVolumeHasPersistentIDs : 0);
    return facts;
}

std::vector<std::string> componentsOf(std::string_view path) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) names.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

std::string joined(const std::vector<std::string>& names) {
    std::string path;
    for (const std::string& n : names) path += "/" + n;
    return path.empty() ? "/" : path;
}

// The item a path names, with its folders resolved (symbolic links, "." and "..") but the item
// itself not followed: its canonical path and lstat. Nullopt with errno set when it is missing.
struct Item {
    std::string path;
    struct stat st{};
};

std::optional<Item> locate(const std::string& path) {
    const PathParts parts = splitPath(path);
    Item item;
    if (parts.name.empty() || parts.name == "." || parts.name == "..") {
        std::optional<std::string> canonical = canonicalPath(path);
        if (!canonical) return std::nullopt;
        item.path = std::move(*canonical);
    } else {
        const std::optional<std::string> folder = canonicalPath(parts.folder);
        if (!folder) return std::nullopt;
        item.path = (*folder == "/" ? "" : *folder) + "/" + parts.name;
    }
    if (::lstat(item.path.c_str(), &item.st) != 0) return std::nullopt;
    return item;
}

FinderInfo aliasFinderInfo() {
    FinderInfo info;
    std::copy_n("alisMACS", 8, info.bytes.begin());  // file type, creator
    info.setFinderFlags(kIsAlias);
    return info;
}

std::string temporaryName() {
    unsigned char random[8] = {};
    if (::getrandom(random, sizeof random, 0) != sizeof random) {
        const auto t = static_cast<std::uint64_t>(now() * 1e9) ^ static_cast<std::uint64_t>(::getpid());
        std::copy_n(reinterpret_cast<const unsigned char*>(&t), sizeof random, random);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name = ".alias-";
    for (const unsigned char b : random) {
        name += kHex[b >> 4];
        name += kHex[b & 0xF];
    }
    return name;
}

bool isMountedVolume(const std::string& path) {
    return currentVolumeTable()->mountedAt(path) != nullptr;
}

bool exists(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0;
}

bool isOneName(const std::string& name) {
    return !name.empty() && name.size() <= bookmark::kMaxNameBytes && name != "." && name != ".." && name.find_first_of(std::string_view("/\0", 2)) == std::string::npos &&
           utf8ToUtf16Strict(name).has_value();
}

}  // namespace

std::optional<NSData> bookmarkDataWithOptions(const NSURL& url, unsigned long options,
                                              std::optional<NSError>* error) {
    const std::optional<Item> item = locate(url.fileSystemPath());
    if (!item) {
        if (error != nullptr) *error = NSError::fromErrno(errno, url.path(), FileOperation::read);
        return std::nullopt;
    }
    const std::shared_ptr<const VolumeTable> volumes = currentVolumeTable();
    const Volume* volume = volumes->containing(item->path);
    const Volume* root = volumes->containing("/");
    if (volume == nullptr || root == nullptr) {  // the list always holds "/": this cannot happen
        if (error != nullptr) *error = NSError::fromErrno(ENODEV, url.path(), FileOperation::read);
        return std::nullopt;
    }
    const LabelLookup uuids = udevUUIDs();

    Contents c;
    c.pathComponents = componentsOf(item->path);
    // The ID of each folder on the way (followed, as the path is) and of the item itself, where
    // it lies on one of the volumes recorded (the item's, or the root volume) and that volume
    // keeps IDs: an item on a file system that is no volume (/proc, say) has IDs of its own
    // file system, which name nothing on the volume the path is recorded under.
    struct stat volumeRoot{}, rootRoot{};
    const bool recorded = ::stat(volume->mountPoint.c_str(), &volumeRoot) == 0 && ::stat("/", &rootRoot) == 0;
    std::string prefix;
    for (size_t i = 0; i < c.pathComponents->size(); ++i) {
        prefix += "/" + (*c.pathComponents)[i];
        const Volume* on = volumes->containing(prefix);
        std::optional<std::int64_t> id;
        struct stat st = item->st;
        const bool found = i + 1 == c.pathComponents->size() || ::stat(prefix.c_str(), &st) == 0;
        const dev_t device = on == volume ? volumeRoot.st_dev : on == root ? rootRoot.st_dev : 0;
        if (recorded && found && device != 0 && st.st_dev == device && hasPersistentIDs(on->fsType)) {
            id = static_cast<std::int64_t>(st.st_ino);
        }
        c.fileIDs.push_back(id);
    }
    c.resourceFlags = S_ISDIR(item->st.st_mode)   ? bookmark::kDirectory
                      : S_ISLNK(item->st.st_mode) ? bookmark::kSymbolicLink
                                                  : bookmark::kRegularFile;
    if (item->path == volume->mountPoint) c.resourceFlags |= bookmark::kVolumeRoot;
    c.creationDate = creationDate(item->path).value_or(bookmark::kUnixEpoch);
    c.volume = volumeFacts(*volume, uuids);
    c.volumeWasBoot = volume->mountPoint == "/";
    if (!c.volumeWasBoot) c.rootVolume = volumeFacts(*root, uuids);
    if (c.pathComponents->empty()) c.fileName = c.volume.name;
    c.displayName = c.pathComponents->empty() ? c.volume.name : c.pathComponents->back();
    c.creationOptions = static_cast<std::uint32_t>(options);
    return bookmark::bookmarkData(bookmark::encode(c));
}

bool writeBookmarkData(const NSData& data, const NSURL& url, unsigned long, std::optional<NSError>* error) {
    auto fail = [&](int errnum) {
        if (error != nullptr) *error = NSError::fromErrno(errnum, url.path(), FileOperation::change);
        return false;
    };
    const std::optional<std::string_view> area = bookmark::dataArea(data);
    const std::optional<Contents> contents = bookmark::decode(data);
    if (!area || !contents || (contents->creationOptions & NSURLBookmarkCreationSuitableForBookmarkFile) == 0) {
        if (error != nullptr) *error = NSError{NSFileWriteUnknownError, url.path(), EINVAL, FileOperation::change};
        return false;
    }
    const auto [folderPath, name] = splitPath(url.fileSystemPath());
    if (name.empty() || name == "." || name == "..") return fail(EISDIR);
    const FileDescriptor folder = openFolder(folderPath);
    if (!folder) return fail(errno);

    std::string temporary;
    FileDescriptor file;
    for (int attempt = 0; attempt < 16 && !file; ++attempt) {
        temporary = temporaryName();
        file = FileDescriptor(::openat(folder.get(), temporary.c_str(),
                                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!file && errno != EEXIST) return fail(errno);
    }
    if (!file) return fail(EEXIST);
    int errnum = 0;
    if (!writeAll(file.get(), bookmark::bookmarkFile(*area, now()))) {
        errnum = errno;
    } else if (const int e = setFinderInfoOfDescriptor(file.get(), aliasFinderInfo()); e != 0 && e != ENOTSUP) {
        errnum = e;
    } else if (::fsync(file.get()) != 0 || !file.close() ||
               ::renameat(folder.get(), temporary.c_str(), folder.get(), name.c_str()) != 0) {
        errnum = errno;
    }
    if (errnum != 0) {
        ::unlinkat(folder.get(), temporary.c_str(), 0);
        return fail(errnum);
    }
    // The folder is not synced: after a crash the rename may be undone, leaving the old file or
    // none, both whole; an alias is cheap to make again, and that sync would double the cost.
    return true;
}

std::optional<NSData> bookmarkDataWithContentsOfURL(const NSURL& url, std::optional<NSError>* error) {
    const std::optional<std::string> bytes = readRegularFile(url.fileSystemPath(), kMaxAliasFileBytes, false);
    if (!bytes) {
        if (error != nullptr) *error = NSError::fromErrno(errno, url.path(), FileOperation::read);
        return std::nullopt;
    }
    const std::optional<std::string_view> area = bookmark::dataArea(*bytes);
    if (!area || !bookmark::Reader::open(*area)) {
        if (error != nullptr) *error = NSError{NSFileReadCorruptFileError, url.path(), 0, FileOperation::read};
        return std::nullopt;
    }
    return bookmark::bookmarkData(*area);
}

ResolvedPath resolveByPath(const Contents& c, const std::function<bool(const std::string&)>& isMountPoint) {
    std::vector<std::string> names;
    if (c.pathComponents) {
        names = *c.pathComponents;
    } else if (const std::optional<std::string> path = c.targetURL ? pathOfFileURLString(*c.targetURL) : std::nullopt) {
        names = componentsOf(*path);
    } else if (c.fileName && !c.volume.path.empty()) {
        names = componentsOf(c.volume.path);
        names.push_back(*c.fileName);
    } else {
        return {};
    }
    std::size_t joinedBytes = 0;
    for (const std::string& n : names) joinedBytes += 1 + n.size();
    if (!std::all_of(names.begin(), names.end(), isOneName) || names.size() > bookmark::kMaxPathComponents ||
        joinedBytes > bookmark::kMaxPathBytes) {
        return {};
    }
    ResolvedPath r{Resolution::found, joined(names)};
    if (exists(r.path)) return r;
    std::vector<std::string> composed;
    for (const std::string& n : names) composed.push_back(*utf16ToUtf8(precomposed(*utf8ToUtf16Strict(n))));
    if (const std::string path = joined(composed); path != r.path && exists(path)) return {Resolution::found, path};

    const std::string volume = c.volume.path.empty() ? "/" : c.volume.path;
    const bool mounted = volume == "/" || c.volumeWasBoot || isMountPoint(volume);
    r.outcome = mounted ? Resolution::fileNotFound : Resolution::volumeNotMounted;
    return r;
}

std::optional<NSURL> URLByResolvingBookmarkData(const NSData& data, unsigned long, bool* isStale,
                                                std::optional<NSError>* error) {
    if (isStale != nullptr) *isStale = false;
    const std::optional<Contents> contents = bookmark::decode(data);
    const ResolvedPath r = contents ? resolveByPath(*contents, isMountedVolume) : ResolvedPath{};
    if (r.outcome != Resolution::found) {
        if (error != nullptr) *error = NSError{NSFileNoSuchFileError, utf8ToUtf16Lossy(r.path), ENOENT, FileOperation::read};
        return std::nullopt;
    }
    return NSURL::fileURLWithPath(*utf8ToUtf16Strict(r.path));
}

}  // namespace perivane::platform
