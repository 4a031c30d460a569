#include "platform/system/groups.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/system/user_database.h"

namespace perivane::platform {

std::vector<gid_t> processGroupIDs() {
    std::vector<gid_t> ids{::getegid()};
    const int n = ::getgroups(0, nullptr);
    std::vector<gid_t> supplementary(n > 0 ? static_cast<size_t>(n) : 0);
    // The set may have changed since it was counted; a set that grew fails the call (no
    // retry: the effective group alone is reported, as for any failed query).
    const int filled = n > 0 ? ::getgroups(n, supplementary.data()) : 0;
    for (int i = 0; i < filled; ++i) {
        if (std::find(ids.begin(), ids.end(), supplementary[i]) == ids.end()) ids.push_back(supplementary[i]);
    }
    return ids;
}

std::vector<std::string> processGroupNames() {
    std::vector<std::string> names;
    for (gid_t gid : processGroupIDs()) {
        if (std::optional<std::string> name = groupName(gid)) names.push_back(std::move(*name));
    }
    return names;
}

mode_t umask(mode_t mask) noexcept { return ::umask(mask); }

}  // namespace perivane::platform
