#include <gtest/gtest.h>

#include "platform/system/user_dirs.h"

using perivane::platform::userDirectoryFromConfig;

TEST(UserDirs, TheLastValidDesktopAssignmentWins) {
    const std::string key = "XDG_DESKTOP_DIR";
    for (const auto& [text, folder] : std::vector<std::pair<std::string, std::optional<std::string>>>{
             {"", std::nullopt},
             {"XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n", "/home/u/Schreibtisch"},
             {"  XDG_DESKTOP_DIR = \"$HOME/\"", "/home/u"},
             {"XDG_DESKTOP_DIR=\"$HOME\"", "/home/u"},
             {"XDG_DESKTOP_DIR=\"/abs/Desk top//\"  # comment", "/abs/Desk top"},
             {"XDG_DESKTOP_DIR=\"$HOME/a \\\"q\\\" \\$x\"", "/home/u/a \"q\" $x"},
             {"XDG_DESKTOP_DIR=\"/first\"\nXDG_DESKTOP_DIR=\"/second\"", "/second"},
             {"XDG_DESKTOP_DIR=\"/kept\"\nXDG_DESKTOP_DIR=\"Desk\"", "/kept"},  // relative: ignored
             {"XDG_DESKTOP_DIR=\"$HOMEx/y\"", std::nullopt},
             {"XDG_DESKTOP_DIR=\"/unterminated", std::nullopt},
             {"XDG_DESKTOP_DIR=/unquoted", std::nullopt},
             {std::string("XDG_DESKTOP_DIR=\"/a\0b\"", 22), std::nullopt},
             {"# XDG_DESKTOP_DIR=\"/commented\"\nXDG_DESKTOP_DIRS=\"/other\"", std::nullopt},
             {"XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"", std::nullopt},
         }) {
        EXPECT_EQ(userDirectoryFromConfig(text, key, "/home/u/"), folder) << text;
    }
}
