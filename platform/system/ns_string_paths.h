// NSString's path methods (the last component of a path, the path without it, tilde expansion)
// and NSHomeDirectory, as Foundation's path utilities give them.
#pragma once

#include <optional>

#include "platform/base/strings.h"

namespace perivane::platform {

// "/tmp/scratch.tiff" -> "scratch.tiff", "/tmp/lock/" -> "lock", "/" -> "/", "" -> "".
NSString lastPathComponent(const NSString& path);

// "/tmp/scratch.tiff" -> "/tmp", "/tmp" -> "/", "/" -> "/", "Foo.app" -> "", "" -> "".
NSString stringByDeletingLastPathComponent(const NSString& path);

// The current user's home folder ($HOME when absolute, else the user database); nil when
// neither names one, or its path is not UTF-8 (no text names it).
std::optional<NSString> NSHomeDirectory();

// A leading "~" expanded: "~" and "~/x" to the current user's home folder, "~name" and
// "~name/x" to that user's; a trailing "/" of the result is dropped. A path that does not
// start with "~", or names an unknown user or one whose home's path is not UTF-8, comes back
// unchanged; a "~" elsewhere stays.
NSString stringByExpandingTildeInPath(const NSString& path);

}  // namespace perivane::platform
