// File-system URLs in two path styles, as CoreFoundation's CFURL makes and reads them: POSIX
// (slash-separated) and HFS (colon-separated, starting with a volume name).
//
// POSIX -> HFS names an absolute path by the volume it lives on: the path is canonicalised on
// its longest existing prefix (symbolic links resolved), a missing tail is appended, and the
// volume whose mount point is the longest prefix gives the first component. HFS -> POSIX is
// pure string work: the first component is looked up among the volume names. Inside a name,
// a POSIX ":" is an HFS "/" and the other way round.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/strings.h"
#include "platform/files/volumes.h"

namespace perivane::platform {

enum CFURLPathStyle : int { kCFURLPOSIXPathStyle = 0, kCFURLHFSPathStyle = 1 };

// What path conversion asks of the system: the volumes and the canonical form of existing
// paths. Tests give fixed answers; the live one asks the kernel.
class PathEnvironment {
public:
    virtual ~PathEnvironment() = default;
    virtual const VolumeTable& volumes() = 0;
    // The canonical form of an existing absolute path (symbolic links, "." and ".." resolved),
    // or nothing when the path does not exist or cannot be searched.
    virtual std::optional<std::string> canonical(const std::string& path) = 0;
    // The canonical names of the longest leading part of an absolute path's `names` that
    // exists, and how many of `names` that part is. This one asks `canonical` of ever shorter
    // parts.
    virtual std::pair<std::vector<std::string>, size_t> resolveLeading(const std::vector<std::string>& names);
};

// The machine's own answers: the volume table as it is at the first use, and the existing part
// of a path found in one walk over it (one readlink per name, as realpath makes).
class LivePathEnvironment final : public PathEnvironment {
public:
    const VolumeTable& volumes() override;
    std::optional<std::string> canonical(const std::string& path) override;
    std::pair<std::vector<std::string>, size_t> resolveLeading(const std::vector<std::string>& names) override;

private:
    std::shared_ptr<const VolumeTable> volumes_;
};

// A file URL: the POSIX path it names (UTF-16, without percent escapes) and whether it is
// absolute.
struct CFURL {
    NSString path;
    bool absolute = false;
    bool isDirectory = false;
};

// The longest POSIX path, in UTF-8 bytes, that a file URL can be made from.
inline constexpr size_t kMaxPosixPathBytes = 1023;

// A URL for `path` in `style`, or nothing when the path cannot be one: empty, holding U+0000
// or a lone surrogate (no file has such a name, and a path cut at U+0000 would name another
// file), (POSIX) 1024 UTF-8 bytes or longer, or (HFS) on a volume mounted at a path that is
// not UTF-8.
std::optional<CFURL> CFURLCreateWithFileSystemPath(std::u16string_view path, CFURLPathStyle style,
                                                   bool isDirectory, PathEnvironment& env);

// The URL's path in `style`, without a trailing separator. Nothing in HFS style when the
// canonical path has a name below its volume that is not UTF-8.
std::optional<NSString> CFURLCopyFileSystemPath(const CFURL& url, CFURLPathStyle style,
                                                PathEnvironment& env);

}  // namespace perivane::platform
