// NSUserDefaults persistent domains, kept where and how the platform keeps them: the domain NAME
// is the property-list file $HOME/Library/Preferences/NAME.plist (read in binary or XML form,
// written in binary form). HOME is read from the environment on every call.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/property_list.h"
#include "platform/strings.h"

namespace perivane::platform {

// An exclusive advisory lock on one domain (flock on NAME.plist.lock beside the domain file),
// held until the object goes. flock locks belong to an open file description, so two holders
// exclude each other whether they are threads of one process or separate processes.
class PersistentDomainLock {
public:
    // Blocks until the lock is held. Nullopt when the lock file cannot be opened (no
    // preferences folder, no permission): then there is no domain this caller could change.
    static std::optional<PersistentDomainLock> acquire(std::string_view domainName);

private:
    explicit PersistentDomainLock(FileDescriptor fd) : fd_(std::move(fd)) {}
    FileDescriptor fd_;  // the lock lasts as long as this descriptor is open
};

class NSUserDefaults {
public:
    // A fresh view of the user's defaults. Changes made through it stay with it until its
    // synchronize; nothing is shared between views.
    static NSUserDefaults standardUserDefaults() { return NSUserDefaults(); }

    // The domain as stored: its changes not yet synchronized, else its file. Null when there
    // is no file, or the file cannot be read or parsed, or its root is not a dictionary.
    std::shared_ptr<const plist::Dictionary> persistentDomainForName(std::string_view name) const;

    // Replaces the whole domain; written by the next synchronize.
    void setPersistentDomain(plist::Dictionary domain, std::string_view name);

    // Writes every changed domain: a temporary file in the same folder, fsync, rename over
    // the old file (whose permission bits the new one keeps). Folders are made as needed.
    // True when every write succeeded; a failed write leaves the old file as it was.
    bool synchronize();

    // $HOME/Library/Preferences/NAME.plist, or nullopt when the name cannot name a domain
    // (empty, ".", "..", or holding "/" or U+0000) or there is no home folder.
    static std::optional<std::string> domainPath(std::string_view name);

private:
    NSUserDefaults() = default;
    std::map<std::string, std::shared_ptr<const plist::Dictionary>, std::less<>> pending_;
};

// Writes `bytes` to `path` atomically (temporary file beside it, fsync, rename, then fsync of
// the folder). An existing file's permission bits are kept; a new file gets 0600 and its
// missing folders 0700. False, with the old file untouched, when any step fails.
bool writeFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace perivane::platform
