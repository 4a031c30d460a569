#include "platform/system/ns_string_paths.h"

#include "platform/system/user_database.h"

namespace perivane::platform {

namespace {

// The path with runs of "/" made single and trailing ones dropped ("/" stays "/").
NSString standardSlashes(const NSString& path) {
    NSString out;
    out.reserve(path.size());
    for (char16_t c : path) {
        if (c == u'/' && !out.empty() && out.back() == u'/') continue;
        out += c;
    }
    if (out.size() > 1 && out.back() == u'/') out.pop_back();
    return out;
}

}  // namespace

NSString lastPathComponent(const NSString& path) {
    const NSString p = standardSlashes(path);
    if (p == u"/") return p;
    const size_t slash = p.find_last_of(u'/');
    return slash == NSString::npos ? p : p.substr(slash + 1);
}

NSString stringByDeletingLastPathComponent(const NSString& path) {
    const NSString p = standardSlashes(path);
    if (p == u"/") return p;
    const size_t slash = p.find_last_of(u'/');
    if (slash == NSString::npos) return NSString();
    if (slash == 0) return u"/";
    return p.substr(0, slash);
}

std::optional<NSString> NSHomeDirectory() {
    const std::optional<std::string> home = currentHomeFolder();
    if (!home) return std::nullopt;
    return utf8ToUtf16Strict(*home);  // a folder whose path is not UTF-8 has no name in text
}

NSString stringByExpandingTildeInPath(const NSString& path) {
    if (path.empty() || path.front() != u'~') return path;
    const size_t slash = path.find(u'/');
    const NSString user = path.substr(1, slash == NSString::npos ? NSString::npos : slash - 1);
    std::optional<std::string> home;
    if (user.empty()) {
        home = currentHomeFolder();
    } else if (const std::optional<std::string> name = fileSystemBytes(user)) {
        home = homeFolderOfUser(*name);
    }
    std::optional<NSString> text = home ? utf8ToUtf16Strict(*home) : std::nullopt;
    if (!text) return path;
    NSString expanded = std::move(*text);
    if (slash != NSString::npos) {  // one separator between the home folder and the rest
        while (!expanded.empty() && expanded.back() == u'/') expanded.pop_back();
        expanded += path.substr(slash);
    }
    while (expanded.size() > 1 && expanded.back() == u'/') expanded.pop_back();
    return expanded.empty() ? NSString(u"/") : expanded;
}

}  // namespace perivane::platform
