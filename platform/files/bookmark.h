// NSURL's bookmark calls (Foundation): bookmark data for an item, alias files written from it
// and read back, and resolution of bookmark data to the item's URL. The format is the
// platform's own (bookmark_format.h); resolution goes by the stored path, as the platform's does
// when it finds the item where it was.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/files/bookmark_format.h"
#include "platform/files/file_manager.h"
#include "platform/files/ns_url.h"

namespace perivane::platform {

// Bookmark data as NSData holds it: in-memory form bytes.
using NSData = std::string;

// Creation and resolution options.
inline constexpr unsigned long NSURLBookmarkCreationSuitableForBookmarkFile = 1UL << 10;
inline constexpr unsigned long NSURLBookmarkResolutionWithoutUI = 1UL << 8;
inline constexpr unsigned long NSURLBookmarkResolutionWithoutMounting = 1UL << 9;

// Alias files larger than this are not read (the largest the platform writes, with an icon
// inside, are near 1 MiB).
inline constexpr std::size_t kMaxAliasFileBytes = 8u << 20;

// bookmarkDataWithOptions:includingResourceValuesForKeys:nil relativeToURL:nil error:
// The bookmark data of the item `url` names (a final symbolic link is the link itself): its
// path from "/", in the form the file system names it, the file IDs of the path's folders and
// of the item, its kind and creation date, and the volume it lies on, with the options stored
// as given. Nil with the platform's read error (260 when there is no such item).
std::optional<NSData> bookmarkDataWithOptions(const NSURL& url, unsigned long options,
                                              std::optional<NSError>* error);

// writeBookmarkData:toURL:options:error: writes bookmark data made with
// NSURLBookmarkCreationSuitableForBookmarkFile as an alias file at `url`: a new file beside it,
// created exclusively, marked as an alias in its Finder information ("alis", "MACS", kIsAlias)
// and synced before it is renamed over the name, so the name holds the old file or the whole
// new one, never a part or an unmarked one, even after a crash. A folder of that name is not replaced: the write
// fails. On file systems without extended attributes the file is written unmarked, as the
// platform's are there. NO with the error set on failure (512 for data not made for a file).
bool writeBookmarkData(const NSData& data, const NSURL& url, unsigned long options,
                       std::optional<NSError>* error);

// bookmarkDataWithContentsOfURL:error: the bookmark data in the alias file `url` names, in
// either container, as in-memory form data. Nil for anything that is not a regular file
// holding bookmark data (a folder, a symbolic link, a FIFO, other bytes), with `*error` set
// when asked for.
std::optional<NSData> bookmarkDataWithContentsOfURL(const NSURL& url, std::optional<NSError>* error);

// How a bookmark's stored path fared.
enum class Resolution { found, fileNotFound, volumeNotMounted, unusable };

struct ResolvedPath {
    Resolution outcome = Resolution::unusable;
    std::string path;  // when found: the item's path as it exists
};

// Resolves stored contents by path: the path from the components (else from the target URL,
// else the volume path and file name) if an item exists there, or with its names in Form C
// (the platform stores them decomposed; Linux keeps the form names were made in). Otherwise
// the item is missing from a mounted volume, or its volume is not mounted (`isMountPoint`
// says which volume paths are); nothing is ever mounted. A path with an empty, ".", ".."
// component, or one holding "/", U+0000 or bytes that are not UTF-8, or beyond the bounds of
// bookmark_format.h (components, name and path lengths), is unusable.
ResolvedPath resolveByPath(const bookmark::Contents& contents,
                           const std::function<bool(const std::string&)>& isMountPoint);

// URLByResolvingBookmarkData:options:relativeToURL:nil bookmarkDataIsStale:error:
// The URL of the item the data points at, resolved by path. No user interface is ever shown and
// no volume mounted, whatever the options; the data is never reported stale. Nil, with `*error`
// set when asked for (4), when the item is not found.
std::optional<NSURL> URLByResolvingBookmarkData(const NSData& data, unsigned long options,
                                                bool* isStale, std::optional<NSError>* error);

}  // namespace perivane::platform
