#include "platform/system/groups.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/system/user_database.h"

namespace perivane::platform {

std::vector<gid_t> processGroupIDs() {
    const int n = ::getgroups(0, nullptr);
    if (n <= 0) return {};
    std::vector<gid_t> ids(static_cast<size_t>(n));
    // The set may have changed since it was counted; a set that grew fails the call (no
    // retry: the caller gets no groups, as for any failed query).
    const int filled = ::getgroups(n, ids.data());
    if (filled <= 0) return {};
    ids.resize(static_cast<size_t>(filled));
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
