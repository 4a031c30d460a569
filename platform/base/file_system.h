// Holders for what POSIX file-system calls hand out, and path resolution.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace perivane::platform {

// A file descriptor that is closed when its holder goes.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) noexcept : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) ::close(fd_);
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    // Closes now and tells whether the close succeeded (it can report a failed write).
    bool close() noexcept { return ::close(std::exchange(fd_, -1)) == 0; }
    // Hands the descriptor to a new owner (a directory stream, say); this holder then holds none.
    int release() noexcept { return std::exchange(fd_, -1); }

private:
    int fd_;
};

struct DirectoryCloser {
    void operator()(DIR* d) const noexcept { ::closedir(d); }
};
// An open directory stream, closed when its holder goes.
using Directory = std::unique_ptr<DIR, DirectoryCloser>;

// The canonical form of an existing path (symbolic links, "." and ".." resolved), or nothing
// when it does not exist or cannot be searched.
inline std::optional<std::string> canonicalPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) return std::nullopt;
    return std::string(resolved.get());
}

// A path split into its folder and its last name, as the system resolves them: trailing "/" do
// not count; the folder of a bare name is "." and that of a name right below the root is "/";
// the root's own name is empty. "/a/b/" -> {"/a", "b"}, "a" -> {".", "a"}, "/" -> {"/", ""}.
struct PathParts {
    std::string folder;
    std::string name;
};
PathParts splitPath(std::string_view path);

// An O_PATH descriptor of the folder at `path` (links followed), whatever the path's length: one
// open, or where the path is too long for one (ENAMETOOLONG), openat from folder to folder. None,
// with errno set, when it cannot be reached.
FileDescriptor openFolder(const std::string& path);

// The spelling a path result is handed back in: `path` in Normalization Form C when that
// spelling names the same item (the same device and inode, a final link not followed) or when
// neither names anything; otherwise `path` itself, which names the item (Linux, unlike the
// platform, finds a name only in the form it was made in). A relative path is taken from the
// folder open as `at`.
std::u16string inFormCWhereItNamesTheSameItem(std::u16string_view path, int at = AT_FDCWD);

// Writes all of `bytes` to `fd`, going on after short writes and interruptions.
bool writeAll(int fd, std::string_view bytes);

// The bytes of the regular file at `path`, or nullopt when it is missing, not a regular file,
// unreadable, or larger than `maxBytes` (checked before reading and again while reading). The
// open never blocks (a FIFO is refused, not waited on); with `followLink` false a final
// symbolic link is refused too. On failure errno tells why.
std::optional<std::string> readRegularFile(const std::string& path, size_t maxBytes,
                                           bool followLink = true);

}  // namespace perivane::platform
