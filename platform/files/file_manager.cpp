#include "platform/files/file_manager.h"

#include "platform/base/file_system.h"
#include "platform/system/ns_string_paths.h"
#include "platform/system/user_database.h"
#include "platform/system/user_dirs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <variant>
#include <vector>

namespace perivane::platform {

namespace {
NSString quoted(const NSString& name) { return u"\u201C" + name + u"\u201D"; }

NSString couldNotBeRemoved(const NSString& file, std::u16string_view because = u"") {
    return file + u" couldn\u2019t be removed" + NSString(because) + u".";
}

long codeFor(int errnum, FileOperation operation) {
    if (operation == FileOperation::read) {
        switch (errnum) {
            case ENOENT: return NSFileReadNoSuchFileError;
            case EPERM:
            case EACCES: return NSFileReadNoPermissionError;
            default: return NSFileReadUnknownError;
        }
    }
    switch (errnum) {
        case ENOENT: return NSFileNoSuchFileError;
        case EPERM:
        case EACCES: return NSFileWriteNoPermissionError;
        case EROFS: return NSFileWriteVolumeReadOnlyError;
        default: return NSFileWriteUnknownError;
    }
}
}  // namespace

NSError NSError::fromErrno(int errnum, const NSString& path, FileOperation operation) {
    return NSError{codeFor(errnum, operation), path, errnum, operation};
}

NSString NSError::localizedDescription() const {
    const NSString file = quoted(lastPathComponent(filePath));
    if (operation == FileOperation::remove) {
        return code == NSFileWriteNoPermissionError
                   ? couldNotBeRemoved(file, u" because you don\u2019t have permission to access it")
                   : couldNotBeRemoved(file);
    }
    switch (code) {
        case NSFileReadNoSuchFileError:
            return u"The file " + file + u" couldn\u2019t be opened because there is no such file.";
        case NSFileReadNoPermissionError:
            return u"The file " + file +
                   u" couldn\u2019t be opened because you don\u2019t have permission to view it.";
        case NSFileReadUnknownError:
            return u"The file " + file + u" couldn\u2019t be opened.";
        case NSFileReadCorruptFileError:
            return u"The file " + file + u" couldn\u2019t be opened because it isn\u2019t in the correct format.";
        case NSFileNoSuchFileError:
            return u"The file " + file + u" doesn\u2019t exist.";
        case NSFileWriteNoPermissionError:
            return u"You don\u2019t have permission to save the file " + file + u" in the folder " +
                   quoted(lastPathComponent(stringByDeletingLastPathComponent(filePath))) + u".";
        case NSFileWriteVolumeReadOnlyError:
            return u"The file " + file + u" couldn\u2019t be saved because the volume is read only.";
        default:
            return u"The file " + file + u" couldn\u2019t be saved.";
    }
}

std::optional<NSString> NSFileAttributes::fileOwnerAccountName() const {
    std::optional<std::string> name = userName(owner_);
    if (!name) return std::nullopt;
    return utf8ToUtf16Lossy(*name);  // bytes that are not UTF-8 read as U+FFFD
}

NSFileManager& NSFileManager::defaultManager() noexcept {
    static NSFileManager shared;  // holds no state: one is as good as another
    return shared;
}

std::optional<NSFileAttributes> NSFileManager::attributesOfItemAtPath(
    std::u16string_view path, std::optional<NSError>* error, FinalLink finalLink) const {
    // A path holding U+0000 or a lone surrogate has no file-system name, so it cannot name an
    // existing item: it is reported as missing without asking the system.
    const FileSystemName name(path);
    struct stat st {};
    auto status = finalLink == FinalLink::follow ? ::stat : ::lstat;
    const int errnum = name.c_str() == nullptr ? ENOENT : (status(name.c_str(), &st) == 0 ? 0 : errno);
    if (errnum != 0) {
        if (error != nullptr) *error = NSError::fromErrno(errnum, NSString(path), FileOperation::read);
        return std::nullopt;
    }
    return NSFileAttributes(st.st_mode, st.st_uid);
}

bool NSFileManager::setAttributes(const NSFileAttributeChanges& attributes, std::u16string_view path,
                                  std::optional<NSError>* error) const {
    const FileSystemName name(path);
    int errnum = name.c_str() != nullptr ? 0 : ENOENT;  // no file-system name: missing, as above
    if (errnum == 0 && attributes.posixPermissions &&
        ::chmod(name.c_str(), static_cast<mode_t>(*attributes.posixPermissions)) != 0) {
        errnum = errno;
    }
    if (errnum != 0) {
        if (error != nullptr) *error = NSError::fromErrno(errnum, NSString(path), FileOperation::change);
        return false;
    }
    return true;
}

bool NSFileManager::fileExistsAtPath(const NSString& path, int* failure) const {
    const FileSystemName name(path);
    struct stat st{};
    int errnum = name.c_str() == nullptr ? ENOENT : ::stat(name.c_str(), &st) == 0 ? 0 : errno;
    if (errnum == ENAMETOOLONG) {  // looked up from its folder, reached from folder to folder
        const PathParts parts = splitPath(name.c_str());
        const FileDescriptor folder = openFolder(parts.folder);
        errnum = !folder ? errno : ::fstatat(folder.get(), parts.name.c_str(), &st, 0) == 0 ? 0 : errno;
        if (errnum == ELOOP && ::fstatat(folder.get(), parts.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) errnum = ENOENT;
    } else if (errnum == ELOOP && ::lstat(name.c_str(), &st) == 0) {
        errnum = ENOENT;  // a final link that loops names nothing, as a dangling one
    }
    if (failure != nullptr) *failure = errnum == ENOENT || errnum == ENOTDIR ? 0 : errnum;
    return errnum == 0;
}

namespace {

// Where an object lies: the mount it was reached through (the kernel's mount ID; 0 where the
// kernel gives none) and its device, and whether it is the root of a mount.
struct Place {
    std::uint64_t mount = 0;
    dev_t device = 0;
    bool mountRoot = false;
    mode_t mode = 0;
    bool sameMountAs(const Place& other) const { return !mountRoot && mount == other.mount && device == other.device; }
};

// The place of `name` in the folder open as `at` (a final link not followed; "" for `at` itself),
// or the errno.
std::variant<Place, int> placeOf(int at, const char* name) {
    struct statx sx{};
    const int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (name[0] == '\0' ? AT_EMPTY_PATH : 0);
    if (::statx(at, name, flags, STATX_TYPE | STATX_MNT_ID, &sx) != 0) return errno;
    Place p;
    p.mount = (sx.stx_mask & STATX_MNT_ID) != 0 ? sx.stx_mnt_id : 0;
    p.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    p.mountRoot = (sx.stx_attributes_mask & sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    p.mode = sx.stx_mode;
    return p;
}

// Removes the folder `name` in the folder `parent` with everything in it, depth first. Each
// level is an open stream on a descriptor reached by openat from the level above without
// following links, so the walk stays inside the tree. It enters no folder that lies on another
// mount than the tree (`tree`): not a volume mounted inside it, nor a bind mount of a folder of
// the tree's own file system, whose files lie outside the tree; their mount point cannot be
// removed anyway. 0, or the errno of the first failure.
int removeFolderTree(int parent, const std::string& name, const Place& tree) {
    struct Level {
        Directory stream;
        std::string name;  // in the folder one level up
    };
    std::vector<Level> levels;
    auto enter = [&levels, &tree](int at, const std::string& folder) -> int {
        if (levels.size() >= kMaxRemovalDepth) return ENAMETOOLONG;
        FileDescriptor fd(::openat(at, folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd) return errno;
        // Checked again on what was opened: a mount made since the look before is not entered.
        const std::variant<Place, int> opened = placeOf(fd.get(), "");
        if (const int* e = std::get_if<int>(&opened)) return *e;
        if (std::get<Place>(opened).mount != tree.mount || std::get<Place>(opened).device != tree.device) return EBUSY;
        DIR* stream = ::fdopendir(fd.get());
        if (stream == nullptr) return errno;
        (void)fd.release();  // the stream owns the descriptor now
        levels.push_back(Level{Directory(stream), folder});
        return 0;
    };
    if (const int e = enter(parent, name)) return e;
    while (!levels.empty()) {
        const int here = ::dirfd(levels.back().stream.get());
        errno = 0;
        const dirent* entry = ::readdir(levels.back().stream.get());
        if (entry == nullptr) {  // this folder is empty now: remove it from the level above
            if (errno != 0) return errno;
            const std::string done = std::move(levels.back().name);
            levels.pop_back();
            const int above = levels.empty() ? parent : ::dirfd(levels.back().stream.get());
            if (::unlinkat(above, done.c_str(), AT_REMOVEDIR) != 0) return errno;
            continue;
        }
        const std::string child = entry->d_name;
        if (child == "." || child == "..") continue;
        const std::variant<Place, int> place = placeOf(here, child.c_str());
        if (const int* e = std::get_if<int>(&place)) {
            if (*e == ENOENT) continue;  // gone meanwhile
            return *e;
        }
        if (!std::get<Place>(place).sameMountAs(tree)) return EBUSY;  // a mount: neither entered nor removed
        if (S_ISDIR(std::get<Place>(place).mode)) {
            if (const int e = enter(here, child)) return e;
        } else if (::unlinkat(here, child.c_str(), 0) != 0 && errno != ENOENT) {
            return errno;
        }
    }
    return 0;
}

// 0 when the item `name` in the folder `parent` is removed, else the errno of the failure. An
// item that is a mount point is refused (EBUSY) before anything is removed.
int removeItem(const std::string& parent, const std::string& name) {
    if (name.empty() || name == "." || name == "..") return EINVAL;
    const FileDescriptor folder = openFolder(parent);
    if (!folder) return errno;
    const std::variant<Place, int> here = placeOf(folder.get(), ""), item = placeOf(folder.get(), name.c_str());
    for (const auto* p : {&here, &item}) {
        if (const int* e = std::get_if<int>(p)) return *e;
    }
    const Place& tree = std::get<Place>(item);
    if (!tree.sameMountAs(std::get<Place>(here))) return EBUSY;
    if (S_ISDIR(tree.mode)) return removeFolderTree(folder.get(), name, tree);
    return ::unlinkat(folder.get(), name.c_str(), 0) == 0 ? 0 : errno;
}

}  // namespace

bool NSFileManager::removeItemAtURL(const NSURL& url, std::optional<NSError>* error) const {
    const PathParts parts = splitPath(url.fileSystemPath());
    const int errnum = removeItem(parts.folder, parts.name);
    if (errnum != 0) {
        if (error != nullptr) *error = NSError::fromErrno(errnum, url.path(), FileOperation::remove);
        return false;
    }
    return true;
}

std::optional<NSURL> NSFileManager::URLForDirectory(NSSearchPathDirectory directory,
                                                    NSSearchPathDomainMask domain,
                                                    const std::optional<NSURL>&, bool create,
                                                    std::optional<NSError>* error) const {
    if (directory != NSDesktopDirectory || (domain & NSUserDomainMask) == 0) return std::nullopt;
    const std::optional<std::string> desktop = userDesktopFolder();
    const std::optional<NSString> text = desktop ? utf8ToUtf16Strict(*desktop) : std::nullopt;
    if (!text) return std::nullopt;  // no home folder, or a path no text names: no URL, no error
    if (create && ::mkdir(desktop->c_str(), 0755) != 0 && errno != EEXIST) {
        if (error != nullptr) *error = NSError::fromErrno(errno, *text, FileOperation::change);
        return std::nullopt;
    }
    struct stat st{};
    const int errnum = ::stat(desktop->c_str(), &st) != 0 ? errno : S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (errnum != 0) {
        if (error != nullptr) *error = NSError::fromErrno(errnum, *text, FileOperation::read);
        return std::nullopt;
    }
    return NSURL::fileURLWithPath(*text);
}

std::vector<NSURL> NSFileManager::URLsForDirectory(NSSearchPathDirectory directory,
                                                   NSSearchPathDomainMask domains) const {
    std::vector<NSURL> urls;
    if (directory != NSDesktopDirectory || (domains & NSUserDomainMask) == 0) return urls;
    const std::optional<std::string> desktop = userDesktopFolder();
    if (const std::optional<NSString> text = desktop ? utf8ToUtf16Strict(*desktop) : std::nullopt) {
        if (std::optional<NSURL> url = NSURL::fileURLWithPath(*text)) urls.push_back(std::move(*url));
    }
    return urls;
}

}  // namespace perivane::platform
