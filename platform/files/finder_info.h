// The File Manager's Finder information (CoreServices): the 32-byte record the Finder keeps
// for every file and folder. Linux has no such record; it is kept where copies of macOS files
// keep it, in the extended attribute "user.com.apple.FinderInfo" (Java's
// UserDefinedFileAttributeView and copying tools show it as "com.apple.FinderInfo").
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/file_system.h"

namespace perivane::platform {

// Bits of the 16-bit Finder flags.
inline constexpr std::uint16_t kHasBundle = 0x2000;  // a folder that is a bundle (package)
inline constexpr std::uint16_t kIsAlias = 0x8000;    // a file that is an alias file

inline constexpr const char* kFinderInfoAttribute = "user.com.apple.FinderInfo";

// The record as stored: 32 bytes, big-endian fields. The first 16 are FileInfo for a file
// (type, creator, flags, location, reserved) or FolderInfo for a folder (window bounds, flags,
// location, reserved); both keep the Finder flags at bytes 8-9. Bytes 16-31 are the extended
// record. A record of all zeros is the same as no record at all.
struct FinderInfo {
    std::array<std::uint8_t, 32> bytes{};

    std::uint16_t finderFlags() const noexcept;
    void setFinderFlags(std::uint16_t flags) noexcept;
    bool isEmpty() const noexcept;

    // The record stored as `value`; nullopt when the value is not a 32-byte record.
    static std::optional<FinderInfo> fromAttribute(std::string_view value);
};

// An existing file-system object as the bundle-flag calls find it: a folder held open, so that
// every later call works on the folder that was found whatever happens to its path meanwhile.
struct FSRef {
    FileDescriptor fd;         // open on the folder; none for an object that is not a folder
    bool isDirectory = false;
};

// Results below are 0 (noErr) or the errno that explains the failure.

// Opens the folder at `path` (a final symbolic link followed). An object that is there but is
// not a folder gives an FSRef without a descriptor (isDirectory false); a folder the caller may
// not read gives one with an O_PATH descriptor, on which the record cannot be read or written.
// nullopt when nothing is there or it cannot be reached, with the reason in `*error` when
// `error` is given.
std::optional<FSRef> FSPathMakeRef(const char* path, int* error = nullptr);

// Reads the Finder information of the object open on `fd` (a file or a folder); an object
// without any reads as all zeros. A stored value that is not a 32-byte record is refused
// (EINVAL) rather than guessed at.
int FSGetFinderInfo(int fd, FinderInfo& info);

// Writes the Finder information of the object open on `fd` whole; a record of all zeros
// removes the attribute. Fails where the file system refuses extended attributes (ENOTSUP),
// or on permission.
int FSSetFinderInfo(int fd, const FinderInfo& info);

// Stores a (non-empty) record on the file open as `fd`, whole: for a file being made, so that it
// never appears without its record. 0, or the errno (ENOTSUP where the file system stores no
// extended attributes).
int setFinderInfoOfDescriptor(int fd, const FinderInfo& info);

}  // namespace perivane::platform
