// The bookmark reader's and resolver's contract, checked on one input: used by the fuzz target
// and by the corpus replay. Aborts when the contract is broken.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files/bookmark.h"
#include "platform/files/bookmark_format.h"

// The bytes allocated so far, where the fuzz target counts them (fuzz_target.cpp); elsewhere
// (the corpus replay) nothing counts them.
extern "C" std::size_t perivane_fuzz_allocated_bytes() __attribute__((weak));

namespace perivane::fuzz {

// Decodes `bytes` as an alias file or bookmark data is decoded. Both containers must carry the
// same data area; decoding and resolving may allocate no more than twice the input and 1 MiB
// (what is made from an input is bounded by it, never by what it names again and again);
// whatever decodes must write out and read back to the very same bytes; and resolution may only
// ever look at an absolute path of plain names.
inline std::optional<platform::bookmark::Contents> checkBookmarkBytes(std::string_view bytes) {
    using namespace platform::bookmark;
    if (const std::optional<std::string_view> area = dataArea(bytes)) {
        if (dataArea(bookmarkData(*area)) != area || dataArea(bookmarkFile(*area, 0)) != area) std::abort();
    }
    const std::size_t before = perivane_fuzz_allocated_bytes ? perivane_fuzz_allocated_bytes() : 0;
    std::optional<Contents> contents = decode(bytes);
    const platform::ResolvedPath r = contents ? platform::resolveByPath(*contents, [](const std::string&) { return false; })
                                              : platform::ResolvedPath{};
    if (perivane_fuzz_allocated_bytes && perivane_fuzz_allocated_bytes() - before > 2 * bytes.size() + (1u << 20)) {
        std::abort();
    }
    if (!contents) return contents;
    const std::string once = encode(*contents);
    const std::optional<Contents> again = decode(bookmarkData(once));
    if (!again || encode(*again) != once) std::abort();

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
