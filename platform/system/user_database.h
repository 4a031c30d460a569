// Names from the system's user and group databases, through the re-entrant lookups (another
// thread's lookup cannot overwrite the answer).
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace perivane::platform {

// The account name of user `uid`, as the database stores it; nothing when it has no entry.
std::optional<std::string> userName(uid_t uid);

// The name of group `gid`, as the database stores it; nothing when it has no entry.
std::optional<std::string> groupName(gid_t gid);

// The home folder of user `uid`, or of the user named `name`; nothing when there is no such
// entry or it names no folder.
std::optional<std::string> homeFolderOf(uid_t uid);
std::optional<std::string> homeFolderOfUser(std::string_view name);

// The groups of user `uid`: its primary group, and all it belongs to (the primary first, each
// once); nothing when it has no entry.
struct UserGroups {
    gid_t primary;
    std::vector<gid_t> all;
};
std::optional<UserGroups> groupsOfUser(uid_t uid);

// The current user's home folder: $HOME when it is set, else the user database's entry for the
// real user ID (so a scratch HOME moves every per-user file). A HOME that is set but empty or
// relative names no folder: nothing, never a folder under the working directory.
std::optional<std::string> currentHomeFolder();

}  // namespace perivane::platform
