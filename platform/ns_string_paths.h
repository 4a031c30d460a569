// NSString's path methods: the last component of a path and the path without it.
#pragma once

#include "platform/strings.h"

namespace perivane::platform {

// "/tmp/scratch.tiff" -> "scratch.tiff", "/tmp/lock/" -> "lock", "/" -> "/", "" -> "".
NSString lastPathComponent(const NSString& path);

// "/tmp/scratch.tiff" -> "/tmp", "/tmp" -> "/", "/" -> "/", "Foo.app" -> "", "" -> "".
NSString stringByDeletingLastPathComponent(const NSString& path);

}  // namespace perivane::platform
