#include "platform/files/finder_info.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>

namespace perivane::platform {

std::uint16_t FinderInfo::finderFlags() const noexcept {
    return static_cast<std::uint16_t>((bytes[8] << 8) | bytes[9]);
}

void FinderInfo::setFinderFlags(std::uint16_t flags) noexcept {
    bytes[8] = static_cast<std::uint8_t>(flags >> 8);
    bytes[9] = static_cast<std::uint8_t>(flags & 0xFF);
}

bool FinderInfo::isEmpty() const noexcept {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

std::optional<FinderInfo> FinderInfo::fromAttribute(std::string_view value) {
    FinderInfo info;
    if (value.size() != info.bytes.size()) return std::nullopt;
    std::copy(value.begin(), value.end(), info.bytes.begin());
    return info;
}

std::optional<FSRef> FSPathMakeRef(const char* path, int* error) {
    // Non-blocking and without taking a terminal, in case the path names something else.
    FileDescriptor fd(::open(path, O_RDONLY | O_DIRECTORY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd) return FSRef{std::move(fd), true};
    const int e = errno;
    struct stat st {};
    if (e == ENOTDIR && ::stat(path, &st) == 0) return FSRef{FileDescriptor(), false};  // there, but not a folder
    // Finding a folder needs only search permission on the way: one the caller may not read is
    // found (an O_PATH descriptor), and reading its record is what fails.
    FileDescriptor found(e == EACCES ? ::open(path, O_PATH | O_DIRECTORY | O_CLOEXEC) : -1);
    if (found) return FSRef{std::move(found), true};
    if (error != nullptr) *error = e;
    return std::nullopt;
}

int FSGetFinderInfo(int fd, FinderInfo& info) {
    // One byte more than a record, so that a longer value shows as too long, not as cut.
    char value[sizeof info.bytes + 1];
    const ssize_t n = ::fgetxattr(fd, kFinderInfoAttribute, value, sizeof value);
    if (n < 0) {
        const int e = errno;
        // No record stored, or a file system that stores none: the platform reads zeros.
        if (e == ENODATA || e == ENOTSUP) {
            info = FinderInfo{};
            return 0;
        }
        return e == ERANGE ? EINVAL : e;
    }
    const std::optional<FinderInfo> stored =
        FinderInfo::fromAttribute(std::string_view(value, static_cast<size_t>(n)));
    if (!stored) return EINVAL;
    info = *stored;
    return 0;
}

int FSSetFinderInfo(int fd, const FinderInfo& info) {
    if (info.isEmpty()) {
        if (::fremovexattr(fd, kFinderInfoAttribute) == 0) return 0;
        const int e = errno;
        // Nothing stored, or nowhere to store it: either way the record now reads as zeros.
        return (e == ENODATA || e == ENOTSUP) ? 0 : e;
    }
    if (::fsetxattr(fd, kFinderInfoAttribute, info.bytes.data(), info.bytes.size(), 0) == 0) return 0;
    return errno;
}

int setFinderInfoOfDescriptor(int fd, const FinderInfo& info) {
    return ::fsetxattr(fd, kFinderInfoAttribute, info.bytes.data(), info.bytes.size(), 0) == 0 ? 0 : errno;
}

}  // namespace perivane::platform
