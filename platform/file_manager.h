// NSFileManager (Foundation): the attribute calls, with errors reported the platform's way, as
// an NSError whose code and description are the ones Cocoa gives for the same failure.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/strings.h"

namespace perivane::platform {

// Cocoa error codes (NSCocoaErrorDomain) that the file manager reports.
enum NSCocoaError : long {
    NSFileNoSuchFileError = 4,
    NSFileReadUnknownError = 256,
    NSFileReadNoPermissionError = 257,
    NSFileReadNoSuchFileError = 260,
    NSFileWriteUnknownError = 512,
    NSFileWriteNoPermissionError = 513,
    NSFileWriteVolumeReadOnlyError = 642,
};

// What the failing operation was doing: the same errno reads differently for each.
enum class FileOperation { read, change };

struct NSError {
    long code = 0;           // an NSCocoaError
    NSString filePath;       // NSFilePathErrorKey
    int underlyingError = 0; // the POSIX errno (NSUnderlyingErrorKey)
    FileOperation operation = FileOperation::read;

    // The platform's sentence for the error, naming the file by its last path component.
    NSString localizedDescription() const;

    // The error the platform reports for a system call on `path` that failed with `errnum`.
    static NSError fromErrno(int errnum, const NSString& path, FileOperation operation);
};

// The attribute dictionary of one item, with the entries the library reads.
class NSFileAttributes {
public:
    NSFileAttributes(mode_t mode, uid_t owner) : mode_(mode), owner_(owner) {}

    // NSFilePosixPermissions: the permission bits with set-user-ID, set-group-ID and sticky.
    std::uint16_t filePosixPermissions() const noexcept { return mode_ & 07777; }
    // NSFileOwnerAccountID.
    uid_t fileOwnerAccountID() const noexcept { return owner_; }
    // NSFileOwnerAccountName: the owner's name from the user database; nil when it has none.
    // Looked up on demand, since only the owner's callers pay for the user database.
    std::optional<NSString> fileOwnerAccountName() const;

private:
    mode_t mode_;
    uid_t owner_;
};

// The entries of an attribute dictionary handed to setAttributes:ofItemAtPath:error:.
struct NSFileAttributeChanges {
    std::optional<int> posixPermissions;  // NSFilePosixPermissions
};

// Whether a final symbolic link in a path is described itself or followed to what it names.
enum class FinalLink { describe, follow };

class NSFileManager {
public:
    static NSFileManager& defaultManager() noexcept;

    // The item's attributes: of a final symbolic link itself (lstat), or of what it names
    // (stat; a dangling link is then a missing item). A Linux link has no permissions of its
    // own (its mode is always 0777, and chmod goes through it), so permissions are read with
    // FinalLink::follow, where setAttributes writes them. nullopt with `*error` set when the
    // item cannot be read.
    std::optional<NSFileAttributes> attributesOfItemAtPath(const NSString& path,
                                                           std::optional<NSError>* error,
                                                           FinalLink finalLink) const;

    // Applies the attributes given. NSFilePosixPermissions is set with chmod, which follows a
    // final symbolic link (a dangling one fails); the value goes in as given. NO with `*error`
    // set on failure.
    bool setAttributes(const NSFileAttributeChanges& attributes, const NSString& path,
                       std::optional<NSError>* error) const;
};

}  // namespace perivane::platform
