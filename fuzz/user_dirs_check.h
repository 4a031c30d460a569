// The XDG user-dirs reader's contract, checked on one input: used by the fuzz target and by the
// corpus replay. Aborts when the contract is broken.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/system/user_dirs.h"

namespace perivane::fuzz {

// Input: the home folder ("/" followed by the first line), then the text of a user-dirs.dirs
// file (the rest).
//
// The contract: the Desktop folder read is nothing, or an absolute path without U+0000 or a
// line break that ends in "/" only when it is "/"; written back as the last line of the file,
// quoted and escaped as the shell quotes it, it is read again unchanged; and the home folder
// enters only as a prefix: read with another home, the answer is the same or the other home
// with the same rest. Accepted: the file sets the Desktop folder.
inline bool checkUserDirs(std::string_view bytes) {
    constexpr std::string_view kKey = "XDG_DESKTOP_DIR", kOtherHome = "/elsewhere/o";
    const size_t lineEnd = std::min(bytes.find('\n'), bytes.size());
    const std::string home = "/" + std::string(bytes.substr(0, lineEnd));
    if (home.find('\0') != std::string::npos) return false;  // no environment holds one
    const std::string_view text = bytes.substr(std::min(lineEnd + 1, bytes.size()));

    const std::optional<std::string> desktop = platform::userDirectoryFromConfig(text, kKey, home);
    if (!desktop) return false;
    if (!desktop->starts_with('/') || desktop->find_first_of(std::string_view("\0\n", 2)) != std::string::npos ||
        (desktop->size() > 1 && desktop->ends_with('/'))) {
        std::abort();
    }
    std::string line = "\n" + std::string(kKey) + "=\"";
    for (const char c : *desktop) {
        if (c == '"' || c == '\\' || c == '$' || c == '`') line += '\\';
        line += c;
    }
    if (platform::userDirectoryFromConfig(std::string(text) + line + "\"\n", kKey, home) != desktop) std::abort();

    std::string base = home;
    while (base.ends_with('/')) base.pop_back();
    const std::optional<std::string> elsewhere = platform::userDirectoryFromConfig(text, kKey, kOtherHome);
    if (!base.empty() && elsewhere != desktop &&
        (!elsewhere || !(*desktop == base || desktop->starts_with(base + "/")) ||
         *elsewhere != std::string(kOtherHome) + desktop->substr(base.size()))) {
        std::abort();
    }
    return true;
}

}  // namespace perivane::fuzz
