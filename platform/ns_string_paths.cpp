#include "ns_string_paths.h"

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

}  // namespace perivane::platform
