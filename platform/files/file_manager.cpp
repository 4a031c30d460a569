#include "platform/files/file_manager.h"

#include "platform/base/file_system.h"
#include "platform/system/ns_string_paths.h"
#include "platform/system/user_database.h"
#include "platform/system/user_dirs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

bool NSFileManager::fileExistsAtPath(const NSString& path, bool* lookupDenied) const {
    const FileSystemName name(path);
    struct stat st{};
    const bool exists = name.c_str() != nullptr && ::stat(name.c_str(), &st) == 0;
    if (lookupDenied != nullptr) *lookupDenied = !exists && name.c_str() != nullptr && errno == EACCES;
    return exists;
}

namespace {

// Removes the folder `name` in the folder `parent` with everything in it, depth first. Each
// level is an open stream on a descriptor reached by openat from the level above without
// following links, so the walk stays inside the tree. It does not enter another file system
// mounted inside the tree (`device` is the tree's): a mount point cannot be removed anyway, and
// the volume's own files are not ours to empty. 0, or the errno of the first failure.
int removeFolderTree(int parent, const std::string& name, dev_t device) {
    struct Level {
        Directory stream;
        std::string name;  // in the folder one level up
    };
    std::vector<Level> levels;
    auto enter = [&levels](int at, const std::string& folder) -> int {
        if (levels.size() >= kMaxRemovalDepth) return ENAMETOOLONG;
        FileDescriptor fd(::openat(at, folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd) return errno;
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
        struct stat st{};
        if (::fstatat(here, child.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;  // gone meanwhile
            return errno;
        }
        if (S_ISDIR(st.st_mode)) {
            if (st.st_dev != device) return EBUSY;
            if (const int e = enter(here, child)) return e;
        } else if (::unlinkat(here, child.c_str(), 0) != 0 && errno != ENOENT) {
            return errno;
        }
    }
    return 0;
}

// 0 when the item `name` in the folder `parent` is removed, else the errno of the failure.
int removeItem(const std::string& parent, const std::string& name) {
    if (name.empty() || name == "." || name == "..") return EINVAL;
    const FileDescriptor folder(::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder) return errno;
    struct stat st{};
    if (::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return removeFolderTree(folder.get(), name, st.st_dev);
    return ::unlinkat(folder.get(), name.c_str(), 0) == 0 ? 0 : errno;
}

}  // namespace

bool NSFileManager::removeItemAtURL(const NSURL& url, std::optional<NSError>* error) const {
    const std::string path = url.fileSystemPath();
    const size_t slash = path.find_last_of('/');  // the path is absolute: there is one
    const int errnum = removeItem(slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1));
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
    if (!desktop) return std::nullopt;
    if (create && ::mkdir(desktop->c_str(), 0755) != 0 && errno != EEXIST) {
        if (error != nullptr) *error = NSError::fromErrno(errno, utf8ToUtf16Lossy(*desktop), FileOperation::change);
        return std::nullopt;
    }
    struct stat st{};
    const int errnum = ::stat(desktop->c_str(), &st) != 0 ? errno : S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (errnum != 0) {
        if (error != nullptr) *error = NSError::fromErrno(errnum, utf8ToUtf16Lossy(*desktop), FileOperation::read);
        return std::nullopt;
    }
    return NSURL::fileURLWithPath(utf8ToUtf16Lossy(*desktop));
}

std::vector<NSURL> NSFileManager::URLsForDirectory(NSSearchPathDirectory directory,
                                                   NSSearchPathDomainMask domains) const {
    std::vector<NSURL> urls;
    if (directory != NSDesktopDirectory || (domains & NSUserDomainMask) == 0) return urls;
    if (const std::optional<std::string> desktop = userDesktopFolder()) {
        if (std::optional<NSURL> url = NSURL::fileURLWithPath(utf8ToUtf16Lossy(*desktop))) urls.push_back(std::move(*url));
    }
    return urls;
}

}  // namespace perivane::platform
