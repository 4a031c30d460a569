#include "platform/files/file_url.h"

#include "platform/base/file_system.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <memory>

#include <unicode/utf16.h>

namespace perivane::platform {

namespace {

bool hasLoneSurrogate(std::u16string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        if (U16_IS_LEAD(s[i]) && i + 1 < s.size() && U16_IS_TRAIL(s[i + 1])) {
            ++i;
        } else if (U16_IS_SURROGATE(s[i])) {
            return true;
        }
    }
    return false;
}

template <typename Char>
std::vector<std::basic_string<Char>> split(std::basic_string_view<Char> s, Char separator) {
    std::vector<std::basic_string<Char>> pieces;
    size_t start = 0;
    for (;;) {
        const size_t end = s.find(separator, start);
        pieces.emplace_back(s.substr(start, end - start));
        if (end == std::basic_string_view<Char>::npos) return pieces;
        start = end + 1;
    }
}

// A POSIX name may hold ":", an HFS name "/": each style writes the other's separator with its
// own separator's place taken.
template <typename Char>
std::basic_string<Char> swapped(std::basic_string<Char> name, Char from, Char to) {
    std::replace(name.begin(), name.end(), from, to);
    return name;
}

// Drops "." and resolves ".." lexically, for the part of a path that does not exist (the
// kernel cannot resolve it). A ".." with nothing left before it climbs into `base`.
void appendLexically(std::vector<std::string>& base, const std::vector<std::string>& tail) {
    for (const auto& c : tail) {
        if (c.empty() || c == ".") continue;
        if (c == "..") {
            if (!base.empty()) base.pop_back();
        } else {
            base.push_back(c);
        }
    }
}

std::vector<std::string> components(std::string_view absolutePath) {
    std::vector<std::string> out;
    for (auto& c : split<char>(absolutePath, '/')) {
        if (!c.empty()) out.push_back(std::move(c));
    }
    return out;
}

std::string joinAbsolute(const std::vector<std::string>& comps, size_t count) {
    std::string path;
    for (size_t i = 0; i < count; ++i) path += "/" + comps[i];
    return path.empty() ? "/" : path;
}

// The canonical components of an absolute path: the longest existing prefix as the kernel
// resolves it, then the rest handled lexically.
std::vector<std::string> canonicalComponents(const std::string& path, PathEnvironment& env) {
    const std::vector<std::string> comps = components(path);
    auto [out, kept] = env.resolveLeading(comps);
    appendLexically(out, std::vector<std::string>(comps.begin() + static_cast<long>(kept), comps.end()));
    return out;
}

// The volume whose mount point is the longest prefix of `comps` on a component boundary, and
// how many components its mount point has. "/" matches every path. (The kernel gives mount
// points in canonical form.)
std::pair<const Volume*, size_t> volumeOf(const std::vector<std::string>& comps, const VolumeTable& volumes) {
    const Volume* v = volumes.containing(joinAbsolute(comps, comps.size()));
    return {v, v != nullptr ? components(v->mountPoint).size() : 0};
}

NSString posixToHfsRelative(std::u16string_view path) {
    std::vector<std::u16string> pieces = split<char16_t>(path, u'/');
    if (pieces.size() > 1 && pieces.back().empty()) pieces.pop_back();
    NSString out;
    for (const auto& p : pieces) out += u":" + swapped<char16_t>(p, u':', u'/');
    return out;
}

// Nothing when a name below the volume is not UTF-8 (a link can lead there): no text would
// name that file, and one with U+FFFD in its place names another.
std::optional<NSString> posixToHfsAbsolute(const std::string& path, PathEnvironment& env) {
    const std::vector<std::string> comps = canonicalComponents(path, env);
    auto [volume, depth] = volumeOf(comps, env.volumes());
    NSString out = volume ? swapped<char16_t>(volume->name, u':', u'/') : NSString(u"Filesystem root");
    if (!volume) depth = 0;
    for (size_t i = depth; i < comps.size(); ++i) {
        const std::optional<NSString> name = utf8ToUtf16Strict(comps[i]);
        if (!name) return std::nullopt;
        out += u":" + swapped<char16_t>(*name, u':', u'/');
    }
    return out;
}

// Collapses "::" (each empty piece between two others climbs one level) without ever climbing
// above the first piece: the volume name, or the empty piece that starts a relative path. One
// trailing empty piece (a path ending in ":") means nothing.
std::vector<std::u16string> collapseParents(std::vector<std::u16string> pieces) {
    if (pieces.size() > 1 && pieces.back().empty()) pieces.pop_back();
    std::vector<std::u16string> out;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0 && pieces[i].empty()) {
            if (out.size() > 1) out.pop_back();
            continue;
        }
        out.push_back(std::move(pieces[i]));
    }
    return out;
}

// Nothing for a volume mounted at a path that is not UTF-8, which no text can name.
std::optional<NSString> hfsToPosix(std::u16string_view hfs, const VolumeTable& volumes, bool& absolute) {
    std::vector<std::u16string> pieces = collapseParents(split<char16_t>(hfs, u':'));
    absolute = !pieces.front().empty();
    NSString out;
    if (absolute) {
        const std::u16string& name = pieces.front();
        const Volume* v = volumes.named(name);
        if (name == u"/") {
            out = u"";  // the boot volume's root
        } else if (v != nullptr) {
            std::optional<NSString> mountPoint = utf8ToUtf16Strict(v->mountPoint);
            if (!mountPoint) return std::nullopt;
            if (*mountPoint != u"/") out = std::move(*mountPoint);
        } else {
            out = u"/" + swapped<char16_t>(name, u'/', u':');  // an unknown volume: a top-level folder
        }
        for (size_t i = 1; i < pieces.size(); ++i) out += u"/" + swapped<char16_t>(pieces[i], u'/', u':');
        return out.empty() ? NSString(u"/") : out;
    }
    for (size_t i = 1; i < pieces.size(); ++i) {
        if (i > 1) out += u"/";
        out += swapped<char16_t>(pieces[i], u'/', u':');
    }
    return out.empty() ? NSString(u"/") : out;  // ":" alone names "/", as on the platform
}

}  // namespace

std::pair<std::vector<std::string>, size_t> PathEnvironment::resolveLeading(const std::vector<std::string>& names) {
    for (size_t keep = names.size() + 1; keep-- > 0;) {
        if (auto resolved = canonical(joinAbsolute(names, keep))) return {components(*resolved), keep};
    }
    return {{}, 0};  // not even "/" answered: the path is taken as written
}

const VolumeTable& LivePathEnvironment::volumes() {
    if (!volumes_) volumes_ = currentVolumeTable();
    return *volumes_;
}

std::optional<std::string> LivePathEnvironment::canonical(const std::string& path) { return canonicalPath(path); }

namespace {

// The part of a path walked so far: its names, and its path ("" for "/").
struct Walked {
    std::vector<std::string> names;
    std::string path;
};

// Whether `path` ("" for "/") is a folder that can be searched, as "path/." needs.
bool searchable(const std::string& path) {
    return path.empty() || ::faccessat(AT_FDCWD, (path + "/.").c_str(), F_OK, AT_EACCESS) == 0;
}

// One name walked from `w`, asking readlink of it (what realpath asks): a name that is there and
// no link is appended, "." and ".." are resolved, "/" goes back to the root, and a link's target
// is put in front of `todo` (after a "/" when it is absolute), `w` left as it is. False, with `w`
// as it was, when the name cannot be walked: missing, not searchable, or past 40 links (the
// kernel's limit).
bool step(Walked& w, std::string name, std::deque<std::string>& todo, int& links) {
    if (name == "/") {
        w = {};
        return true;
    }
    if (name == "." || name == "..") {
        if (!searchable(w.path)) return false;
        if (name == ".." && !w.names.empty()) w.names.pop_back(), w.path.resize(w.path.rfind('/'));
        return true;
    }
    std::string path = w.path + "/" + name;
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
    if (n < 0 && errno == EINVAL) {  // there, and not a link
        w.names.push_back(std::move(name));
        w.path = std::move(path);
        return true;
    }
    if (n <= 0 || n == sizeof target || ++links > 40) return false;
    const std::string_view t(target, static_cast<size_t>(n));
    std::vector<std::string> names = split<char>(t, '/');
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        if (!it->empty()) todo.push_front(std::move(*it));
    }
    if (t.starts_with('/')) todo.emplace_front("/");
    return true;
}

}  // namespace

// Walks the names once. A name walks in place; a link's target is walked on a copy, kept only
// when all of it walks, so that the leading part that does resolve is kept when it fails.
std::pair<std::vector<std::string>, size_t> LivePathEnvironment::resolveLeading(const std::vector<std::string>& names) {
    Walked done;
    int links = 0;
    size_t used = 0;
    for (; used < names.size(); ++used) {
        std::deque<std::string> todo;
        if (!step(done, names[used], todo, links)) break;
        if (todo.empty()) continue;
        Walked w = done;
        bool ok = true;
        while (ok && !todo.empty()) {
            std::string next = std::move(todo.front());
            todo.pop_front();
            ok = step(w, std::move(next), todo, links);
        }
        if (!ok) break;
        done = std::move(w);
    }
    return {std::move(done.names), used};
}

std::optional<CFURL> CFURLCreateWithFileSystemPath(std::u16string_view path, CFURLPathStyle style,
                                                   bool isDirectory, PathEnvironment& env) {
    if (path.empty() || path.find(u'\0') != std::u16string_view::npos || hasLoneSurrogate(path)) {
        return std::nullopt;
    }
    if (style == kCFURLPOSIXPathStyle) {
        auto bytes = fileSystemBytes(path);
        if (!bytes || bytes->size() > kMaxPosixPathBytes) return std::nullopt;
        return CFURL{NSString(path), path.front() == u'/', isDirectory};
    }
    if (style != kCFURLHFSPathStyle) return std::nullopt;
    CFURL url;
    std::optional<NSString> posix = hfsToPosix(path, env.volumes(), url.absolute);
    if (!posix) return std::nullopt;
    url.path = std::move(*posix);
    url.isDirectory = isDirectory;
    return url;
}

std::optional<NSString> CFURLCopyFileSystemPath(const CFURL& url, CFURLPathStyle style, PathEnvironment& env) {
    NSString path = url.path;
    if (style == kCFURLPOSIXPathStyle) {
        if (path.size() > 1 && path.back() == u'/') path.pop_back();
        return path;
    }
    if (style != kCFURLHFSPathStyle) return std::nullopt;
    NSString hfs;
    if (url.absolute) {
        auto bytes = fileSystemBytes(path);
        std::optional<NSString> absolute = bytes ? posixToHfsAbsolute(*bytes, env) : std::nullopt;
        if (!absolute) return std::nullopt;
        hfs = std::move(*absolute);
    } else {
        hfs = posixToHfsRelative(path);
    }
    // A last name that ended in ":" in POSIX ends in "/" here; like the platform, a directory
    // URL's path loses that one trailing "/".
    if (url.isDirectory && hfs.size() > 1 && hfs.back() == u'/') hfs.pop_back();
    return hfs;
}

}  // namespace perivane::platform
