// NSFileManager (Foundation): the attribute calls, existence, removal and the standard
// directories, with errors reported the platform's way, as an NSError whose code and
// description are the ones Cocoa gives for the same failure.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files/ns_url.h"
#include "platform/base/strings.h"

namespace perivane::platform {

// Cocoa error codes (NSCocoaErrorDomain) that the file manager reports.
enum NSCocoaError : long {
    NSFileNoSuchFileError = 4,
    NSFileReadUnknownError = 256,
    NSFileReadNoPermissionError = 257,
    NSFileReadCorruptFileError = 259,
    NSFileReadNoSuchFileError = 260,
    NSFileWriteUnknownError = 512,
    NSFileWriteNoPermissionError = 513,
    NSFileWriteVolumeReadOnlyError = 642,
};

// What the failing operation was doing: the same errno reads differently for each.
enum class FileOperation { read, change, remove };

// The standard directories and domains the file manager is asked for.
enum NSSearchPathDirectory : unsigned long { NSDesktopDirectory = 12 };
enum NSSearchPathDomainMask : unsigned long { NSUserDomainMask = 1 };

// Folders nested deeper than this below an item are not removed (the removal holds one open
// descriptor per level); the removal then fails.
inline constexpr size_t kMaxRemovalDepth = 1024;

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
    std::optional<NSFileAttributes> attributesOfItemAtPath(std::u16string_view path,
                                                           std::optional<NSError>* error,
                                                           FinalLink finalLink) const;

    // Applies the attributes given. NSFilePosixPermissions is set with chmod, which follows a
    // final symbolic link (a dangling one fails); the value goes in as given. NO with `*error`
    // set on failure.
    bool setAttributes(const NSFileAttributeChanges& attributes, std::u16string_view path,
                       std::optional<NSError>* error) const;

    // Whether an item exists at the path, a final symbolic link counting by what it points at
    // (a dangling or looping link is no item). A path of any length is looked up, from folder
    // to folder where it is longer than the system takes at once. With `failure`, a NO also
    // gives the errno when the lookup failed rather than found nothing there (a folder on the
    // way that cannot be searched or reached, a name too long): an item may be there.
    bool fileExistsAtPath(const NSString& path, int* failure = nullptr) const;

    // Removes the item: a file, a symbolic link (the link itself), or a folder with everything
    // in it. Its folder is reached from folder to folder where its path is too long for one
    // open, and the walk below it goes from descriptor to descriptor (openat, statx without
    // following, unlinkat), so a link inside the tree is removed and never followed, even when
    // the tree changes meanwhile. Mounts are never emptied: an item that is a mount point (or a
    // bind mount) is refused before anything is removed, and a folder inside the tree that is
    // another mount, of any file system, the tree's own included, is not entered (EBUSY). NO with
    // `*error` set at the first failure; what was removed before it stays removed. The name "."
    // or ".." is refused.
    bool removeItemAtURL(const NSURL& url, std::optional<NSError>* error) const;

    // The URL of a standard directory. Known here: the user's Desktop (NSDesktopDirectory in
    // NSUserDomainMask), from the XDG user directories. Looked up, and with `create` NO never
    // made: a folder that is not there is an error. With `create` YES a missing folder is made
    // (its parent must exist). Nil without an error for a directory that is not known, as on
    // the platform, and for a Desktop that cannot be named (no home folder, or a path that is
    // not UTF-8, which no text names). `appropriateForURL` matters only to directories not
    // known here.
    std::optional<NSURL> URLForDirectory(NSSearchPathDirectory directory, NSSearchPathDomainMask domain,
                                         const std::optional<NSURL>& appropriateForURL, bool create,
                                         std::optional<NSError>* error) const;

    // The URLs of a standard directory in the domains given, whether the folders exist or not:
    // one URL for the user's Desktop, none for what is not known or cannot be named (as above).
    std::vector<NSURL> URLsForDirectory(NSSearchPathDirectory directory, NSSearchPathDomainMask domains) const;
};

}  // namespace perivane::platform
