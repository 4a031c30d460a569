// Acting in the home folder as its owner. A privileged process (one allowed to change its
// file-system identity, as root is) that works in a HOME owned by another user would otherwise
// read and write there through whatever that user controls: a link to a file only the process
// may read, a folder the user points elsewhere. It takes the owner's file-system identity for
// that work instead, so that it reads, creates, writes and removes exactly what the owner could,
// and what it creates is the owner's.
#pragma once

#include <sys/types.h>

#include <optional>
#include <vector>

namespace perivane::platform {

class HomeOwnerIdentity {
public:
    // For a privileged process whose effective user is not the owner of the current home folder:
    // the owner's user, group and groups as the file-system identity of the calling thread
    // (setfsuid, setfsgid and the thread's own groups; other threads keep theirs), until the
    // holder goes. Otherwise a holder that changes nothing: an unprivileged process acts as
    // itself, which the kernel's checks already hold to what it may do. Nullopt when the identity
    // should be taken and cannot be: the caller then does nothing.
    static std::optional<HomeOwnerIdentity> take();

    ~HomeOwnerIdentity();
    HomeOwnerIdentity(HomeOwnerIdentity&& other) noexcept;
    HomeOwnerIdentity(const HomeOwnerIdentity&) = delete;
    HomeOwnerIdentity& operator=(const HomeOwnerIdentity&) = delete;
    HomeOwnerIdentity& operator=(HomeOwnerIdentity&&) = delete;

private:
    HomeOwnerIdentity() = default;
    bool changed_ = false;
    uid_t uid_ = 0;  // the thread's own, to go back to
    gid_t gid_ = 0;
    std::vector<gid_t> groups_;
};

}  // namespace perivane::platform
