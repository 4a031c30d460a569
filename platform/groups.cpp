#include "groups.h"

#include <grp.h>
#include <unistd.h>

#include <cerrno>

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

std::optional<std::string> groupName(gid_t gid) {
    long hint = sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 1024);
    // ERANGE means the entry (its name and member list) did not fit. An entry has a fixed
    // size, so doubling the buffer reaches it in a few rounds; the cap stops a misbehaving name
    // service from making this endless, and then the group counts as nameless.
    for (;;) {
        group entry{};
        group* found = nullptr;
        const int rc = getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (size_t{1} << 24)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || found == nullptr || found->gr_name == nullptr) return std::nullopt;
        return std::string(found->gr_name);
    }
}

std::vector<std::string> processGroupNames() {
    std::vector<std::string> names;
    for (gid_t gid : processGroupIDs()) {
        if (std::optional<std::string> name = groupName(gid)) names.push_back(std::move(*name));
    }
    return names;
}

}  // namespace perivane::platform
