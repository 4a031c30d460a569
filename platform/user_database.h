// Names from the system's user and group databases, through the re-entrant lookups (another
// thread's lookup cannot overwrite the answer).
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace perivane::platform {

// The account name of user `uid`, as the database stores it; nothing when it has no entry.
std::optional<std::string> userName(uid_t uid);

// The name of group `gid`, as the database stores it; nothing when it has no entry.
std::optional<std::string> groupName(gid_t gid);

}  // namespace perivane::platform
