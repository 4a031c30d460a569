// The bookmark reader's and resolver's contract, checked on one input: used by the fuzz target
// and by the corpus replay. Aborts when the contract is broken.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files/bookmark.h"
#include "platform/files/bookmark_format.h"

namespace perivane::fuzz {

// Decodes `bytes` as an alias file or bookmark data is decoded. Both containers must carry the
// same data area; whatever decodes must write out and read back to the very same bytes; and
// resolution may only ever look at an absolute path of plain names.
inline std::optional<platform::bookmark::Contents> checkBookmarkBytes(std::string_view bytes) {
    using namespace platform::bookmark;
    if (const std::optional<std::string_view> area = dataArea(bytes)) {
        if (dataArea(bookmarkData(*area)) != area || dataArea(bookmarkFile(*area, 0)) != area) std::abort();
    }
    std::optional<Contents> contents = decode(bytes);
    if (!contents) return contents;
    const std::string once = encode(*contents);
    const std::optional<Contents> again = decode(bookmarkData(once));
    if (!again || encode(*again) != once) std::abort();

    const platform::ResolvedPath r = platform::resolveByPath(*contents, [](const std::string&) { return false; });
    if (r.outcome != platform::Resolution::unusable) {
        const std::string& p = r.path;
        if (p.empty() || p[0] != '/' || p.find("//") != std::string::npos || p.find("/./") != std::string::npos ||
            p.find("/../") != std::string::npos || p.ends_with("/.") || p.ends_with("/..") ||
            p.find('\0') != std::string::npos) {
            std::abort();
        }
    }
    return contents;
}

}  // namespace perivane::fuzz
