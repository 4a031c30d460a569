// The XDG user directories (the freedesktop.org user-dirs.dirs file): where the user's
// Desktop folder is, as desktop environments and GLib find it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace perivane::platform {

// The folder that `key` (e.g. "XDG_DESKTOP_DIR") is set to in the text of a user-dirs.dirs
// file, with `home` as the current home folder. A line reads KEY="VALUE", blanks allowed around
// the "="; VALUE is "$HOME" or "$HOME/..." (taken inside `home`) or an absolute path, with
// backslash escapes as the shell writes them; trailing "/" are dropped. Other lines, and
// values of other forms (relative, unterminated, holding U+0000), are ignored. The last valid
// assignment wins; nullopt when there is none.
std::optional<std::string> userDirectoryFromConfig(std::string_view text, std::string_view key,
                                                   std::string_view home);

// The user's Desktop folder: XDG_DESKTOP_DIR in $XDG_CONFIG_HOME/user-dirs.dirs (~/.config when
// that variable is unset or not absolute), else ~/Desktop. Read on every call, and never
// created; nullopt when there is no home folder.
std::optional<std::string> userDesktopFolder();

}  // namespace perivane::platform
