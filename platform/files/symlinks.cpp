#include "platform/files/symlinks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace perivane::platform {

namespace {
bool lstatIsLink(const char* path) noexcept {
    struct stat st;
    std::memset(&st, 0, sizeof st);
    return ::lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
}
}  // namespace

bool isSymbolicLink(const char* path) noexcept { return lstatIsLink(path); }

std::optional<std::string> readSymbolicLink(const char* path) {
    // readlink does not say how long the target is: a result that fills the buffer may have
    // been cut, so the buffer doubles (256, 512, ...) until the target fits with room to spare.
    // The kernel keeps targets below a page or so, so this ends after a few rounds. The first
    // buffer, enough for nearly every target, is on the stack.
    char first[256];
    ssize_t n = ::readlink(path, first, sizeof first);
    if (n < 0) return std::nullopt;
    if (static_cast<size_t>(n) < sizeof first) return std::string(first, static_cast<size_t>(n));
    std::string buffer;
    for (size_t size = 2 * sizeof first;; size *= 2) {
        buffer.resize(size);
        n = ::readlink(path, buffer.data(), size);
        if (n < 0) return std::nullopt;
        if (static_cast<size_t>(n) < size) {
            buffer.resize(static_cast<size_t>(n));
            return buffer;
        }
    }
}

bool createSymbolicLink(const char* linkPath, const char* target) noexcept {
    return ::symlink(target, linkPath) == 0;
}

LinkRemoval removeSymbolicLink(const char* path) noexcept {
    if (!lstatIsLink(path)) return LinkRemoval::notALink;
    return ::unlink(path) == 0 ? LinkRemoval::removed : LinkRemoval::failed;
}

}  // namespace perivane::platform
