// NSURL file URLs as fileURLWithPath: makes them on the platform: an absolute path in the
// file-system decomposed form, percent-encoded, with a "/" added for an existing folder.
#pragma once

#include <optional>
#include <string>

#include "platform/strings.h"

namespace perivane::platform {

class NSURL {
public:
    // A file URL for `path`. A relative path is taken against the working directory. The
    // path is brought into the file-system decomposed form and its UTF-8 bytes are
    // percent-encoded (everything but letters, digits and -._~!$&'()*+,=:@/). A "/" is added
    // when the path names an existing folder now (lstat: a link to a folder gets none); a path
    // ending in "/" keeps its own. Nil for an empty path or one that cannot name a file
    // (U+0000, a lone surrogate).
    static std::optional<NSURL> fileURLWithPath(const NSString& path);

    NSString scheme() const { return ascii("file"); }
    // Everything after "file:", authority included ("///Applications/Foo%20Bar.app/"), so
    // that scheme ":" resourceSpecifier is the URL string as the Dock stores it.
    NSString resourceSpecifier() const { return ascii("//" + encodedPath_); }
    NSString absoluteString() const { return ascii("file://" + encodedPath_); }

private:
    explicit NSURL(std::string encodedPath) : encodedPath_(std::move(encodedPath)) {}
    std::string encodedPath_;  // "/..." percent-encoded, ASCII only
};

// Percent-encodes bytes with the platform's table for file URL paths (uppercase hex).
std::string percentEncodeFilePath(std::string_view bytes);

}  // namespace perivane::platform
