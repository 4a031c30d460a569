#include "platform/system/home_owner.h"

#include <grp.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "platform/system/user_database.h"

namespace perivane::platform {

namespace {

// The calling thread's credentials, changed by the system calls themselves: the C library's
// wrappers of setgroups change every thread of the process.
long threadCall(long number, long a, long b = 0) { return ::syscall(number, a, b); }

bool mayChangeUser() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    return (data[0].effective & (1u << CAP_SETUID)) != 0;
}

std::vector<gid_t> threadGroups() {
    std::vector<gid_t> groups(static_cast<size_t>(std::max(0L, threadCall(SYS_getgroups, 0, 0))));
    const long n = threadCall(SYS_getgroups, static_cast<long>(groups.size()), reinterpret_cast<long>(groups.data()));
    groups.resize(static_cast<size_t>(std::max(0L, n)));
    return groups;
}

bool setGroups(const std::vector<gid_t>& groups) {
    return threadCall(SYS_setgroups, static_cast<long>(groups.size()), reinterpret_cast<long>(groups.data())) == 0;
}

// setfsuid and setfsgid report no failure: the identity in force afterwards (asked for with an
// ID that is never valid) tells.
bool setUser(uid_t uid) {
    threadCall(SYS_setfsuid, uid);
    return static_cast<uid_t>(threadCall(SYS_setfsuid, -1)) == uid;
}
bool setGroup(gid_t gid) {
    threadCall(SYS_setfsgid, gid);
    return static_cast<gid_t>(threadCall(SYS_setfsgid, -1)) == gid;
}

}  // namespace

std::optional<HomeOwnerIdentity> HomeOwnerIdentity::take() {
    HomeOwnerIdentity identity;
    const std::optional<std::string> home = currentHomeFolder();
    struct stat st{};
    if (!home || ::stat(home->c_str(), &st) != 0 || st.st_uid == ::geteuid() || !mayChangeUser()) return identity;
    const std::optional<UserGroups> owner = groupsOfUser(st.st_uid);
    const gid_t gid = owner ? owner->primary : st.st_gid;
    const std::vector<gid_t> groups = owner ? owner->all : std::vector<gid_t>{gid};
    identity.uid_ = static_cast<uid_t>(threadCall(SYS_setfsuid, -1));
    identity.gid_ = static_cast<gid_t>(threadCall(SYS_setfsgid, -1));
    identity.groups_ = threadGroups();
    // The groups first: the change of user takes the file capabilities the others need.
    identity.changed_ = true;
    if (!setGroups(groups) || !setGroup(gid) || !setUser(st.st_uid)) return std::nullopt;  // the holder undoes it
    return identity;
}

HomeOwnerIdentity::HomeOwnerIdentity(HomeOwnerIdentity&& other) noexcept
    : changed_(std::exchange(other.changed_, false)), uid_(other.uid_), gid_(other.gid_), groups_(std::move(other.groups_)) {}

HomeOwnerIdentity::~HomeOwnerIdentity() {
    if (!changed_) return;
    setUser(uid_);
    setGroup(gid_);
    setGroups(groups_);
}

}  // namespace perivane::platform
