#include "user_defaults.h"

#include "user_database.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace perivane::platform {

namespace {

// Makes every missing folder of `dir` (mode 0700), as mkdir -p does.
bool makeFolders(const std::string& dir) {
    struct stat st{};
    if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makeFolders(dir.substr(0, slash))) return false;
    return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

// ---- lock ----------------------------------------------------------------------------------

std::optional<PersistentDomainLock> PersistentDomainLock::acquire(std::string_view domainName) {
    const std::optional<std::string> path = NSUserDefaults::domainPath(domainName);
    if (!path) return std::nullopt;
    const std::string lockPath = *path + ".lock";
    FileDescriptor fd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) return std::nullopt;
    while (::flock(fd.get(), LOCK_EX) != 0) {
        if (errno != EINTR) return std::nullopt;
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
            path ? plist::toBinary(plist::Value(*it->second)) : std::nullopt;
        if (bytes && writeFileAtomically(*path, *bytes)) {
            it = pending_.erase(it);  // stored: later reads come from the file again
        } else {
            allWritten = false;
            ++it;
        }
    }
    return allWritten;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes) {
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty() || !makeFolders(dir)) return false;

    mode_t mode = 0600;
    if (struct stat st{}; ::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;

    std::string temp = (dir == "/" ? "" : dir) + "/." + base + ".XXXXXX";
    FileDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0) return false;
    const bool written = ::fchmod(fd.get(), mode) == 0 && writeAll(fd.get(), bytes) &&
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
