#include "platform/files/ns_url.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <vector>

#include "platform/base/unicode.h"

namespace perivane::platform {

namespace {

// Bytes that stay as they are in a file URL's path; all others are written as %XX.
constexpr std::array<bool, 256> kUnreserved = [] {
    std::array<bool, 256> t{};
    for (int c = 'A'; c <= 'Z'; ++c) t[c] = true;
    for (int c = 'a'; c <= 'z'; ++c) t[c] = true;
    for (int c = '0'; c <= '9'; ++c) t[c] = true;
    for (char c : std::string_view("-._~!$&'()*+,=:@/")) t[static_cast<unsigned char>(c)] = true;
    return t;
}();

// The working directory with a trailing "/": as the system names it (for lstat), and in the
// decomposed form the URL is written in.
struct WorkingDirectory {
    std::string bytes;
    std::string decomposed;
};

std::optional<WorkingDirectory> workingDirectory() {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return std::nullopt;
        buffer.resize(buffer.size() * 2);
    }
    std::string cwd(buffer.data());
    if (cwd.empty() || cwd.back() != '/') cwd += '/';
    WorkingDirectory wd{cwd, cwd};
    if (std::optional<std::u16string> units = utf8ToUtf16Strict(cwd)) {
        if (std::optional<std::string> d = fileSystemBytes(fileSystemDecomposed(*units))) wd.decomposed = *d;
    }
    return wd;
}

// Whether the path names a folder now, by lstat. The platform's file systems find a name in
// any normalization form; Linux compares bytes, so the forms names are usually stored in are
// each tried until one exists.
bool namesFolder(const std::string& prefix, const NSString& path) {
    for (const NSString& form : {fileSystemDecomposed(path), path, precomposed(path)}) {
        const std::optional<std::string> bytes = fileSystemBytes(form);
        if (!bytes) continue;
        struct stat st{};
        if (::lstat((prefix + *bytes).c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    }
    return false;
}

bool isFolder(const std::string& bytes) {
    struct stat st{};
    return ::lstat(bytes.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string percentEncodeFilePath(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (kUnreserved[c]) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

std::optional<NSURL> NSURL::fileURLWithPath(const NSString& path) {
    if (path.empty()) return std::nullopt;
    std::optional<std::string> bytes = fileSystemBytes(fileSystemDecomposed(path));
    if (!bytes) return std::nullopt;
    WorkingDirectory base;
    if (path.front() != u'/') {
        std::optional<WorkingDirectory> cwd = workingDirectory();
        if (!cwd) return std::nullopt;
        base = std::move(*cwd);
    }
    std::optional<std::string> given = fileSystemBytes(path);
    if (!given) return std::nullopt;
    std::string absolute = base.decomposed + *bytes;
    if (absolute.back() != '/' && namesFolder(base.bytes, path)) absolute += '/';
    return NSURL(percentEncodeFilePath(absolute), base.bytes + *given);
}

std::string NSURL::fileSystemPath() const {
    std::string p = fileSystemPath_;
    if (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

NSString NSURL::path() const { return utf8ToUtf16Lossy(fileSystemPath()); }

std::optional<NSURL> NSURL::URLByAppendingPathComponent(const NSString& component) const {
    if (component.empty() || component == u"." || component == u".." ||
        component.find(u'/') != NSString::npos) {
        return std::nullopt;
    }
    const std::optional<std::string> name = fileSystemBytes(component);  // nil for U+0000
    const std::optional<std::string> encoded = fileSystemBytes(fileSystemDecomposed(component));
    if (!name || !encoded) return std::nullopt;
    std::string fsPath = fileSystemPath_;
    std::string urlPath = encodedPath_;
    if (fsPath.back() != '/') fsPath += '/';
    if (urlPath.back() != '/') urlPath += '/';
    fsPath += *name;
    urlPath += percentEncodeFilePath(*encoded);
    if (isFolder(fsPath)) urlPath += '/';
    return NSURL(std::move(urlPath), std::move(fsPath));
}

std::optional<std::string> pathOfFileURLString(std::string_view url) {
    for (std::string_view prefix : {"file://localhost/", "file:///"}) {
        if (url.substr(0, prefix.size()) != prefix) continue;
        url.remove_prefix(prefix.size() - 1);  // keep the path's "/"
        std::string path;
        for (size_t i = 0; i < url.size(); ++i) {
            if (url[i] != '%') {
                path += url[i];
                continue;
            }
            const int high = i + 2 < url.size() ? hexValue(url[i + 1]) : -1;
            const int low = high >= 0 ? hexValue(url[i + 2]) : -1;
            if (low < 0 || (high == 0 && low == 0)) return std::nullopt;
            path += static_cast<char>(high * 16 + low);
            i += 2;
        }
        return path;
    }
    return std::nullopt;
}

}  // namespace perivane::platform
