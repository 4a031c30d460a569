#include "ns_url.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <vector>

#include "platform/unicode.h"

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
    std::string absolute = base.decomposed + *bytes;
    if (absolute.back() != '/' && namesFolder(base.bytes, path)) absolute += '/';
    return NSURL(percentEncodeFilePath(absolute));
}

}  // namespace perivane::platform
