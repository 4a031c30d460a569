#include "platform/base/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <utility>

#include "platform/base/strings.h"
#include "platform/base/unicode.h"

namespace perivane::platform {

PathParts splitPath(std::string_view path) {
    auto withoutTrailingSlashes = [](std::string_view p) {
        while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
        return p;
    };
    path = withoutTrailingSlashes(path);
    const size_t slash = path.find_last_of('/');
    if (slash == std::string_view::npos) return {".", std::string(path)};
    if (path == "/") return {"/", ""};
    const std::string_view folder = withoutTrailingSlashes(path.substr(0, slash + 1));
    return {std::string(folder), std::string(path.substr(slash + 1))};
}

FileDescriptor openFolder(const std::string& path) {
    constexpr int kFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    FileDescriptor folder(::open(path.c_str(), kFlags));
    if (folder || errno != ENAMETOOLONG) return folder;
    folder = FileDescriptor(::open(path.front() == '/' ? "/" : ".", kFlags));
    for (size_t start = 0; folder && start < path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) {
            const int next = ::openat(folder.get(), path.substr(start, end - start).c_str(), kFlags);
            const int e = errno;
            folder = FileDescriptor(next);
            errno = e;
        }
        start = end + 1;
    }
    return folder;
}

std::u16string inFormCWhereItNamesTheSameItem(std::u16string_view path, int at) {
    if (scanUnits(path).composed == path.size()) return std::u16string(path);  // in Form C, and the only form
    std::u16string composed = precomposed(path);
    if (composed == path) return composed;
    auto identity = [at](std::u16string_view p) -> std::optional<std::pair<dev_t, ino_t>> {
        const FileSystemName name(p);
        struct stat st{};
        if (name.c_str() == nullptr || ::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
        return std::pair(st.st_dev, st.st_ino);
    };
    return identity(composed) == identity(path) ? composed : std::u16string(path);
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::optional<std::string> readRegularFile(const std::string& path, size_t maxBytes, bool followLink) {
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (followLink ? 0 : O_NOFOLLOW);
    FileDescriptor fd(::open(path.c_str(), flags));
    if (!fd) return std::nullopt;
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0) return std::nullopt;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return std::nullopt;
    }
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        errno = EFBIG;
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
        if (bytes.size() > maxBytes) {  // it grew meanwhile
            errno = EFBIG;
            return std::nullopt;
        }
    }
    return bytes;
}

}  // namespace perivane::platform
