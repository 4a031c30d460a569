#include "platform/system/user_dirs.h"

#include <cstdlib>

#include "platform/base/file_system.h"
#include "platform/system/user_database.h"

namespace perivane::platform {

namespace {

// Larger files are not user-dirs.dirs files: they are not read at all.
constexpr size_t kMaxConfigBytes = 64 * 1024;

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// `rest` ("" or "/...") inside the home folder, with one "/" between them.
std::string insideHome(std::string_view home, std::string_view rest) {
    std::string base = withoutTrailingSlashes(std::string(home));
    if (base == "/") base.clear();
    const std::string joined = withoutTrailingSlashes(base + std::string(rest));
    return joined.empty() ? "/" : joined;
}

std::string_view skipBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
}

// The folder one line sets `key` to, or nullopt when the line does not set it validly.
std::optional<std::string> assignment(std::string_view line, std::string_view key, std::string_view home) {
    line = skipBlanks(line);
    if (line.substr(0, key.size()) != key) return std::nullopt;
    line = skipBlanks(line.substr(key.size()));
    if (line.empty() || line.front() != '=') return std::nullopt;
    line = skipBlanks(line.substr(1));
    if (line.empty() || line.front() != '"') return std::nullopt;
    line.remove_prefix(1);

    std::string value;
    bool closed = false;
    for (size_t i = 0; i < line.size() && !closed; ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            value += line[++i];
        } else if (line[i] == '"') {
            closed = true;
        } else {
            value += line[i];
        }
    }
    if (!closed || value.find('\0') != std::string::npos) return std::nullopt;
    // "$HOME" is written unescaped; an escaped "\$HOME" has lost its backslash by now, which
    // is why the prefix is tested on the raw text.
    if (line.substr(0, 5) == "$HOME" && (line.size() > 5 && (line[5] == '/' || line[5] == '"'))) {
        return insideHome(home, std::string_view(value).substr(5));
    }
    if (line.front() != '/') return std::nullopt;
    return withoutTrailingSlashes(value);
}

}  // namespace

std::optional<std::string> userDirectoryFromConfig(std::string_view text, std::string_view key,
                                                   std::string_view home) {
    std::optional<std::string> found;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        if (std::optional<std::string> folder = assignment(line, key, home)) found = std::move(folder);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return found;
}

std::optional<std::string> userDesktopFolder() {
    const std::optional<std::string> home = currentHomeFolder();
    if (!home) return std::nullopt;
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    const std::string config = configHome != nullptr && configHome[0] == '/'
                                   ? std::string(configHome)
                                   : insideHome(*home, "/.config");
    if (const std::optional<std::string> text = readRegularFile(config + "/user-dirs.dirs", kMaxConfigBytes)) {
        if (std::optional<std::string> desktop = userDirectoryFromConfig(*text, "XDG_DESKTOP_DIR", *home)) {
            return desktop;
        }
    }
    return insideHome(*home, "/Desktop");
}

}  // namespace perivane::platform
