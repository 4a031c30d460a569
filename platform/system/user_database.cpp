#include "platform/system/user_database.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

namespace perivane::platform {

namespace {

// Runs a re-entrant database lookup with a buffer that grows while the entry does not fit
// (ERANGE), and gives what `get` takes from the entry. An entry has a fixed size, so doubling
// reaches it in a few rounds; the cap stops a misbehaving name service from making this endless,
// and the entry then counts as missing.
template <typename Entry, typename Id, typename Lookup, typename Get>
auto lookUp(int sizeHint, Id id, Lookup lookup, Get get) -> decltype(get(std::declval<const Entry&>())) {
    const long hint = sysconf(sizeHint);
    std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 1024);
    for (;;) {
        Entry entry{};
        Entry* found = nullptr;
        const int rc = lookup(id, &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (size_t{1} << 24)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || found == nullptr) return std::nullopt;
        return get(*found);
    }
}

std::optional<std::string> text(const char* s) {
    if (s == nullptr) return std::nullopt;
    return std::string(s);
}

std::optional<std::string> nonEmpty(std::optional<std::string> folder) {
    if (folder && folder->empty()) return std::nullopt;
    return folder;
}

}  // namespace

std::optional<std::string> userName(uid_t uid) {
    return lookUp<passwd>(_SC_GETPW_R_SIZE_MAX, uid, getpwuid_r, [](const passwd& p) { return text(p.pw_name); });
}

std::optional<std::string> groupName(gid_t gid) {
    return lookUp<group>(_SC_GETGR_R_SIZE_MAX, gid, getgrgid_r, [](const group& g) { return text(g.gr_name); });
}

std::optional<std::string> homeFolderOf(uid_t uid) {
    return nonEmpty(lookUp<passwd>(_SC_GETPW_R_SIZE_MAX, uid, getpwuid_r, [](const passwd& p) { return text(p.pw_dir); }));
}

std::optional<std::string> homeFolderOfUser(std::string_view name) {
    if (name.find('\0') != std::string_view::npos) return std::nullopt;
    const std::string user(name);
    return nonEmpty(lookUp<passwd>(_SC_GETPW_R_SIZE_MAX, user.c_str(), getpwnam_r,
                                   [](const passwd& p) { return text(p.pw_dir); }));
}

std::optional<UserGroups> groupsOfUser(uid_t uid) {
    using Account = std::pair<std::string, gid_t>;
    const std::optional<Account> account = lookUp<passwd>(_SC_GETPW_R_SIZE_MAX, uid, getpwuid_r, [](const passwd& p) {
        return p.pw_name == nullptr ? std::nullopt : std::optional<Account>(Account(p.pw_name, p.pw_gid));
    });
    if (!account) return std::nullopt;
    UserGroups groups{account->second, {account->second}};
    std::vector<gid_t> listed(64);
    for (int tries = 0; tries < 8; ++tries) {  // the count grows to what the database holds
        int n = static_cast<int>(listed.size());
        if (getgrouplist(account->first.c_str(), groups.primary, listed.data(), &n) >= 0) {
            for (int i = 0; i < n; ++i) {
                if (std::find(groups.all.begin(), groups.all.end(), listed[i]) == groups.all.end()) groups.all.push_back(listed[i]);
            }
            break;
        }
        listed.resize(static_cast<size_t>(std::max(n, 2 * static_cast<int>(listed.size()))));
    }
    return groups;
}

std::optional<std::string> currentHomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr) {
        if (home[0] != '/') return std::nullopt;
        return home;
    }
    return homeFolderOf(::getuid());
}

}  // namespace perivane::platform
