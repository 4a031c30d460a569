// The path-style conversions' contract (POSIX to HFS and HFS to POSIX, on a fixed machine),
// checked on one input: used by the fuzz target and by the corpus replay. Aborts when the
// contract is broken. Also the fake machine, which the unit tests share.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include "platform/files/file_url.h"

namespace perivane::fuzz {

// A machine with fixed volumes, folders and symbolic links (where /tmp leads to /private/tmp),
// resolving paths as the kernel does. Names are bytes: two of them are not UTF-8.
class FakeMachine : public platform::PathEnvironment {
public:
    std::vector<platform::Volume> vols{{u"Filesystem root", "/"}, {u"Ext", "/media/ext"}, {u"Mnt", "/mnt"},
                                       {u"Deep", "/mnt/ext"},     {u"A:B", "/media/colon"},
                                       {u"Under", "/mnt/stack"},  {u"Over", "/mnt/stack"},  // mounted on top
                                       {u"Raw", "/media/raw\xFF"}};
    std::set<std::string> folders{"/", "/usr", "/usr/bin", "/media", "/media/ext", "/media/extra", "/mnt",
                                  "/mnt/ext", "/mnt/ext/x", "/private", "/private/tmp", "/media/colon",
                                  "/mnt/stack", "/media/raw\xFF", "/usr/\xFE", "/usr/x:"};
    std::map<std::string, std::string> links{{"/tmp", "/private/tmp"}, {"/usr/lib", "bin"}, {"/loop", "/loop"},
                                             {"/up", "../mnt/ext/.."},  {"/raw", "/media/raw\xFF"},
                                             {"/usr/odd", "\xFE"}, {"/dangling", "/nowhere"}};
    int canonicalCalls = 0;
    std::optional<platform::VolumeTable> table;

    const platform::VolumeTable& volumes() override { return table.emplace(vols); }  // vols as they are now
    std::optional<std::string> canonical(const std::string& path) override {
        ++canonicalCalls;
        const std::optional<std::vector<std::string>> names = resolve(path);
        return names ? std::optional(join(*names)) : std::nullopt;
    }

    // The names of the folders an absolute path leads through, links followed, as the kernel
    // finds them; nothing where a name is missing or the links loop.
    std::optional<std::vector<std::string>> resolve(std::string_view path) const {
        std::vector<std::string> done;
        std::string at;  // the path of `done`, "" for "/"
        std::deque<std::string> todo = names(path);
        for (int hops = 0; !todo.empty();) {
            std::string name = std::move(todo.front());
            todo.pop_front();
            if (name == "." || name == "..") {
                if (name == ".." && !done.empty()) done.pop_back(), at.resize(at.rfind('/'));
                continue;
            }
            const std::string here = at + "/" + name;
            if (const auto link = links.find(here); link != links.end()) {
                if (++hops > 40) return std::nullopt;
                const std::deque<std::string> target = names(link->second);
                todo.insert(todo.begin(), target.begin(), target.end());
                if (link->second.starts_with('/')) done.clear(), at.clear();
                continue;
            }
            if (!folders.contains(here)) return std::nullopt;
            done.push_back(std::move(name));
            at = here;
        }
        return done;
    }

    // The path an absolute path stands for: its longest prefix that resolves, then the rest as
    // written ("." dropped, ".." climbing, never above "/").
    std::vector<std::string> standsFor(std::string_view path) const {
        const std::deque<std::string> all = names(path);
        for (size_t keep = all.size();; --keep) {
            std::optional<std::vector<std::string>> done = resolve(join({all.begin(), all.begin() + keep}));
            if (!done) continue;
            for (auto name = all.begin() + keep; name != all.end(); ++name) {
                if (*name == "..") {
                    if (!done->empty()) done->pop_back();
                } else if (*name != ".") {
                    done->push_back(*name);
                }
            }
            return *done;
        }
    }

    static std::deque<std::string> names(std::string_view path) {
        std::deque<std::string> out;
        for (size_t start = 0; start <= path.size();) {
            const size_t end = std::min(path.find('/', start), path.size());
            if (end > start) out.emplace_back(path.substr(start, end - start));
            start = end + 1;
        }
        return out;
    }
    static std::string join(const std::vector<std::string>& names) {
        std::string path;
        for (const std::string& n : names) path += "/" + n;
        return path.empty() ? "/" : path;
    }
};

// UTF-16 units from UTF-8 where every byte that is not part of a valid sequence stands for a
// lone surrogate (0xD800 | byte when even, 0xDC00 | byte when odd), so an input reaches every
// unit a Java string can hold.
inline std::u16string unitsOf(std::string_view bytes) {
    std::u16string out;
    for (int32_t i = 0, n = static_cast<int32_t>(bytes.size()); i < n;) {
        const int32_t at = i;
        UChar32 c;
        U8_NEXT(bytes.data(), i, n, c);
        if (c < 0) {
            const auto b = static_cast<unsigned char>(bytes[static_cast<size_t>(at)]);
            out += static_cast<char16_t>(((b & 1) != 0 ? 0xDC00 : 0xD800) | b);
            i = at + 1;
        } else if (U_IS_BMP(c)) {
            out += static_cast<char16_t>(c);
        } else {
            out += {U16_LEAD(c), U16_TRAIL(c)};
        }
    }
    return out;
}

inline std::optional<platform::NSString> convertPath(std::u16string_view path, platform::CFURLPathStyle from,
                                                     platform::CFURLPathStyle to, FakeMachine& machine) {
    const std::optional<platform::CFURL> url = platform::CFURLCreateWithFileSystemPath(path, from, true, machine);
    return url ? platform::CFURLCopyFileSystemPath(*url, to, machine) : std::nullopt;
}

// What a POSIX path that the HFS style can hold comes back as from HFS: the path the machine
// resolves it to (relative paths as written), where the last name loses one trailing ":" (an
// HFS "/", which a folder's HFS path drops) and an empty last name goes. Nothing when that path
// is not UTF-8, and (true, nothing) for a relative path with an empty name inside, which HFS
// reads as a step up: no round trip there.
inline std::pair<bool, std::optional<std::string>> roundTripOf(const std::string& posix, const FakeMachine& machine) {
    std::vector<std::string> names;
    if (posix.starts_with('/')) {
        names = machine.standsFor(posix);
    } else {
        for (size_t start = 0; start <= posix.size();) {
            const size_t end = std::min(posix.find('/', start), posix.size());
            names.push_back(posix.substr(start, end - start));
            start = end + 1;
        }
        if (names.size() > 1 && names.back().empty()) names.pop_back();
        for (size_t i = 0; i + 1 < names.size(); ++i) {
            if (names[i].empty()) return {true, std::nullopt};
        }
    }
    if (!names.empty() && names.back().ends_with(':')) names.back().pop_back();
    if (!names.empty() && names.back().empty()) names.pop_back();
    std::string path = posix.starts_with('/') || names.empty() ? FakeMachine::join(names) : names.front();
    for (size_t i = 1; !posix.starts_with('/') && i < names.size(); ++i) path += "/" + names[i];
    if (!platform::utf8ToUtf16Strict(path)) return {false, std::nullopt};
    return {false, path};  // an empty relative path is ":" in HFS, which names "/"
}

// The volume an absolute HFS path names: the first in list order with its first name.
inline const platform::Volume* volumeNamed(std::u16string_view hfs, const FakeMachine& machine) {
    const std::u16string_view name = hfs.substr(0, hfs.find(u':'));
    for (const platform::Volume& v : machine.vols) {
        platform::NSString shown = v.name;
        std::replace(shown.begin(), shown.end(), u':', u'/');
        if (shown == name) return &v;
    }
    return nullptr;
}

// Whether a path that can name a file stands for a path that is not UTF-8: in HFS style, when
// its volume is mounted at such a path; in POSIX style, when the machine reaches the file by
// such a name.
inline bool standsForNonUtf8(std::u16string_view path, bool hfs, const FakeMachine& machine) {
    if (hfs) {
        const platform::Volume* volume = volumeNamed(path, machine);
        return volume != nullptr && !platform::utf8ToUtf16Strict(volume->mountPoint);
    }
    const std::string posix = *platform::fileSystemBytes(path);
    return posix.starts_with('/') && !roundTripOf(posix, machine).second;
}

// Input: byte 0, bit 0: the path is in HFS style (else POSIX); the rest: the path (see unitsOf).
//
// The contract: the conversion gives a text without U+0000 or lone surrogates, absolute when
// the path was (a relative HFS path that climbs to nothing is "/", as on the platform), exactly when the path can name a file (not empty, no U+0000, no lone surrogate,
// in POSIX style under 1024 UTF-8 bytes) and the path it stands for is UTF-8 (a file the
// machine reaches by a name that is not, or a volume mounted at such a path, gives nothing);
// a known volume's name becomes its mount point. And a converted path converts back: the POSIX path (given, or made from HFS) comes back from
// its HFS form as the file it names (roundTripOf). Accepted: the conversion gave a path.
inline bool checkPathStyles(std::string_view bytes) {
    using namespace platform;
    if (bytes.empty()) return false;
    FakeMachine machine;
    const bool fromHfs = (bytes[0] & 1) != 0;
    const CFURLPathStyle from = fromHfs ? kCFURLHFSPathStyle : kCFURLPOSIXPathStyle;
    const CFURLPathStyle to = fromHfs ? kCFURLPOSIXPathStyle : kCFURLHFSPathStyle;
    const std::u16string path = unitsOf(bytes.substr(1));
    const std::optional<NSString> converted = convertPath(path, from, to, machine);

    const std::optional<std::string> given = fileSystemBytes(path);
    const bool valid = given && !given->empty() && (fromHfs || given->size() <= kMaxPosixPathBytes);
    if (!converted) {
        if (valid && !standsForNonUtf8(path, fromHfs, machine)) std::abort();
        return false;
    }
    if (!valid) std::abort();
    if (converted->empty() || !fileSystemBytes(*converted)) std::abort();
    const bool absolute = fromHfs ? !path.starts_with(u':') : path.starts_with(u'/');
    const bool madeAbsolute = fromHfs ? converted->starts_with(u'/') : !converted->starts_with(u':');
    if (absolute != madeAbsolute && !(fromHfs && *converted == u"/")) std::abort();

    const std::string posix = *fileSystemBytes(fromHfs ? *converted : path);
    if (const Volume* volume = fromHfs && absolute ? volumeNamed(path, machine) : nullptr) {
        const std::string& at = volume->mountPoint;
        if (!(posix == at || posix.starts_with(at == "/" ? at : at + "/"))) std::abort();
    }
    if (posix.size() > kMaxPosixPathBytes) return true;
    const auto [noRoundTrip, expected] = roundTripOf(posix, machine);
    const std::optional<NSString> hfs = convertPath(*utf8ToUtf16Strict(posix), kCFURLPOSIXPathStyle,
                                                    kCFURLHFSPathStyle, machine);
    const std::optional<NSString> back = hfs ? convertPath(*hfs, kCFURLHFSPathStyle, kCFURLPOSIXPathStyle, machine)
                                             : std::nullopt;
    if (!noRoundTrip && back != (expected ? utf8ToUtf16Strict(*expected) : std::nullopt)) std::abort();
    return true;
}

}  // namespace perivane::fuzz
