#include "file_manager.h"

#include "ns_string_paths.h"
#include "user_database.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace perivane::platform {

namespace {
NSString quoted(const NSString& name) { return u"\u201C" + name + u"\u201D"; }

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
    switch (code) {
        case NSFileReadNoSuchFileError:
            return u"The file " + file + u" couldn\u2019t be opened because there is no such file.";
        case NSFileReadNoPermissionError:
            return u"The file " + file +
                   u" couldn\u2019t be opened because you don\u2019t have permission to view it.";
        case NSFileReadUnknownError:
            return u"The file " + file + u" couldn\u2019t be opened.";
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
    const NSString& path, std::optional<NSError>* error, FinalLink finalLink) const {
    // A path holding U+0000 or a lone surrogate has no file-system name, so it cannot name an
    // existing item: it is reported as missing without asking the system.
    const FileSystemName name(path);
    struct stat st {};
    auto status = finalLink == FinalLink::follow ? ::stat : ::lstat;
    const int errnum = name.c_str() == nullptr ? ENOENT : (status(name.c_str(), &st) == 0 ? 0 : errno);
    if (errnum != 0) {
        if (error != nullptr) *error = NSError::fromErrno(errnum, path, FileOperation::read);
        return std::nullopt;
    }
    return NSFileAttributes(st.st_mode, st.st_uid);
}

bool NSFileManager::setAttributes(const NSFileAttributeChanges& attributes, const NSString& path,
                                  std::optional<NSError>* error) const {
    const FileSystemName name(path);
    int errnum = name.c_str() != nullptr ? 0 : ENOENT;  // no file-system name: missing, as above
    if (errnum == 0 && attributes.posixPermissions &&
        ::chmod(name.c_str(), static_cast<mode_t>(*attributes.posixPermissions)) != 0) {
        errnum = errno;
    }
    if (errnum != 0) {
        if (error != nullptr) *error = NSError::fromErrno(errnum, path, FileOperation::change);
        return false;
    }
    return true;
}

}  // namespace perivane::platform
