#include "platform/preferences/user_defaults.h"

#include "platform/base/waiting_line.h"
#include "platform/system/user_database.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>

namespace perivane::platform {

namespace {

// Gives the file open on `fd` the owner and group in `like`. Only root may give a file away:
// for anyone else (root acting as a home folder's owner included) a refusal leaves the file
// theirs, as any save by rename would.
bool ownLike(int fd, const struct stat& like) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    if (st.st_uid == like.st_uid && st.st_gid == like.st_gid) return true;
    return ::fchown(fd, like.st_uid, like.st_gid) == 0 || (errno == EPERM && ::setfsuid(-1) != 0);
}

// Makes every missing folder of `dir`, as mkdir -p does, each 0700 and owned like the folder
// it is made in.
bool makeFolders(const std::string& dir) {
    struct stat st{};
    if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const std::string parent = splitPath(dir).folder;
    if (parent == dir || !makeFolders(parent) || ::stat(parent.c_str(), &st) != 0) return false;
    if (::mkdir(dir.c_str(), 0700) != 0) return errno == EEXIST;
    FileDescriptor made(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    return made && ownLike(made.get(), st) && ::fchmod(made.get(), 0700) == 0;
}

}  // namespace

// ---- lock ----------------------------------------------------------------------------------

std::optional<PersistentDomainLock> PersistentDomainLock::acquire(std::string_view domainName) {
    const std::optional<std::string> path = NSUserDefaults::domainPath(domainName);
    if (!path) return std::nullopt;
    const std::string lockPath = *path + ".lock";
    // flock needs no write access: the file is opened read-only, and a new one gets its mode
    // (and owner) explicitly, whatever the umask.
    constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    FileDescriptor fd(::open(lockPath.c_str(), kFlags | O_CREAT | O_EXCL, 0600));
    if (fd) {
        struct stat parent {};
        if (::stat(splitPath(lockPath).folder.c_str(), &parent) != 0 || !ownLike(fd.get(), parent) || ::fchmod(fd.get(), 0600) != 0) {
            return std::nullopt;
        }
    } else if (errno == EEXIST) {
        fd = FileDescriptor(::open(lockPath.c_str(), kFlags));
    }
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;

    // Polled rather than waited for, so that a holder that never lets go (a stopped process, a
    // hostile one) costs this caller five seconds, not its thread; every millisecond, since a
    // waiter that paused longer would seldom try while the lock is free. The threads of this
    // process poll one at a time, in the order they asked, the others asleep in the line: all
    // polling at once are served in no order (as the threads waiting on a mutex are), and under
    // steady contention one could lose to later callers every time until its five seconds ran out.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    static WaitingLine& line = *new WaitingLine;  // never destroyed: threads may wait at exit
    const std::optional<WaitingLine::Turn> turn = line.waitUntil(deadline);
    if (!turn) return std::nullopt;
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return PersistentDomainLock(std::move(fd));  // closing the descriptor releases the lock
}

// ---- domains -------------------------------------------------------------------------------

std::optional<std::string> NSUserDefaults::domainPath(std::string_view name) {
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos) {
        return std::nullopt;
    }
    std::optional<std::string> home = currentHomeFolder();
    if (!home) return std::nullopt;
    while (home->size() > 1 && home->back() == '/') home->pop_back();
    if (*home == "/") home->clear();
    return *home + "/Library/Preferences/" + std::string(name) + ".plist";
}

std::shared_ptr<const plist::Dictionary> NSUserDefaults::persistentDomainForName(
    std::string_view name) const {
    if (auto it = pending_.find(name); it != pending_.end()) return it->second;
    const std::optional<std::string> path = domainPath(name);
    if (!path) return nullptr;
    const std::optional<std::string> bytes = readRegularFile(*path, plist::kMaxFileBytes);
    if (!bytes) return nullptr;
    std::optional<plist::Value> root = plist::parse(*bytes);
    if (!root || root->dictionary() == nullptr) return nullptr;
    return std::make_shared<const plist::Dictionary>(std::move(std::get<plist::Dictionary>(root->v)));
}

void NSUserDefaults::setPersistentDomain(plist::Dictionary domain, std::string_view name) {
    pending_.insert_or_assign(std::string(name),
                              std::make_shared<const plist::Dictionary>(std::move(domain)));
}

bool NSUserDefaults::synchronize() {
    bool allWritten = true;
    for (auto it = pending_.begin(); it != pending_.end();) {
        const std::optional<std::string> path = domainPath(it->first);
        const std::optional<std::string> bytes =
            path ? plist::toBinary(*it->second) : std::nullopt;
        // What the reader would refuse is never written: it would lock every later call out.
        if (bytes && plist::withinLimits(*bytes) && writeFileAtomically(*path, *bytes)) {
            it = pending_.erase(it);  // stored: later reads come from the file again
        } else {
            allWritten = false;
            ++it;
        }
    }
    return allWritten;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes) {
    const auto [dir, base] = splitPath(path);
    if (base.empty() || !makeFolders(dir)) return false;

    // The owner, group and mode of the file the rename replaces: the entry itself (lstat), so
    // that a link to some other file lends it nothing.
    struct stat like {};
    mode_t mode = 0600;
    if (::lstat(path.c_str(), &like) == 0 && S_ISREG(like.st_mode)) {
        // A file the caller may not write (made read-only, or another user's) is not replaced
        // either, though the folder would let a rename do it.
        if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return false;
        mode = like.st_mode & 07777;
    } else if (::stat(dir.c_str(), &like) != 0) {
        return false;
    }

    std::string temp = (dir == "/" ? "" : dir) + "/." + base + ".XXXXXX";
    FileDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0) return false;
    // The owner first: a change of owner clears the set-user-ID and set-group-ID bits.
    const bool written = ownLike(fd.get(), like) && ::fchmod(fd.get(), mode) == 0 && writeAll(fd.get(), bytes) &&
                         ::fsync(fd.get()) == 0 && fd.close() &&
                         ::rename(temp.c_str(), path.c_str()) == 0;
    if (!written) {
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable; the new file is in place whatever this reports.
    FileDescriptor folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) ::fsync(folder.get());
    return true;
}

}  // namespace perivane::platform
