// NSURL file URLs as fileURLWithPath: makes them on the platform: an absolute path in the
// file-system decomposed form, percent-encoded, with a "/" added for an existing folder.
#pragma once

#include <optional>
#include <string>

#include "platform/base/strings.h"

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

    // The file-system path, without the "/" that ends a folder's URL ("/" stays "/"). The
    // platform gives it back decomposed, and finds the item by any form of its name; Linux finds
    // an item only by the very bytes of its name, so here it keeps the form it was made from.
    NSString path() const;
    // The same path as the bytes that name the item in system calls.
    std::string fileSystemPath() const;
    // A path-based file URL is its own file path URL.
    std::optional<NSURL> filePathURL() const { return *this; }

    // This URL with `component` appended as one path component (and a "/" when the result is
    // a folder now). Nil when the component is not exactly one name: empty, ".", "..", holding
    // "/" or U+0000 (the platform would append those as a path, stepping out of the folder or
    // naming the folder itself), or holding a lone surrogate.
    std::optional<NSURL> URLByAppendingPathComponent(const NSString& component) const;

private:
    NSURL(std::string encodedPath, std::string fileSystemPath)
        : encodedPath_(std::move(encodedPath)), fileSystemPath_(std::move(fileSystemPath)) {}
    std::string encodedPath_;     // "/..." percent-encoded, ASCII only
    std::string fileSystemPath_;  // absolute, in the form given, with only its own trailing "/"
};

// Percent-encodes bytes with the platform's table for file URL paths (uppercase hex).
std::string percentEncodeFilePath(std::string_view bytes);

// The path bytes of a "file://" URL string ("file:///a%20b" -> "/a b"; a "localhost" host is
// accepted); nullopt for another scheme or host, a broken escape, or an escaped U+0000.
std::optional<std::string> pathOfFileURLString(std::string_view url);

}  // namespace perivane::platform
