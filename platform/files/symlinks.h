// Symbolic links through the C library (lstat, readlink, symlink, unlink). Paths are the
// UTF-8 bytes that name a file; targets come back as the bytes stored in the link.
#pragma once

#include <optional>
#include <string>

namespace perivane::platform {

// Whether `path` itself is a symbolic link (a final link is not followed). A path that cannot
// be examined, a missing one included, is not a link.
bool isSymbolicLink(const char* path) noexcept;

// The target stored in the link at `path`, exactly as stored (a relative target stays
// relative); nullopt when it cannot be read (not a link, missing, no permission, ...).
// Throws std::bad_alloc when the target buffer cannot be had.
std::optional<std::string> readSymbolicLink(const char* path);

// Makes a link at `linkPath` holding `target`; false when the system refuses (an existing
// `linkPath` is left as it is).
bool createSymbolicLink(const char* linkPath, const char* target) noexcept;

enum class LinkRemoval {
    removed,    // the link is gone; what it pointed to is untouched
    failed,     // it is a link, but the system refused to remove it
    notALink,   // missing, not examinable, or not a symbolic link: nothing was removed
};

// Removes the link at `path` after checking that it is one. The check and the removal are
// two calls: a path replaced in between is removed as found then.
LinkRemoval removeSymbolicLink(const char* path) noexcept;

}  // namespace perivane::platform
