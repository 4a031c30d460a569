// NSUserDefaults persistent domains, kept where and how the platform keeps them: the domain NAME
// is the property-list file $HOME/Library/Preferences/NAME.plist (read in binary or XML form,
// written in binary form). HOME is read from the environment on every call.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/file_system.h"
#include "platform/preferences/property_list.h"
#include "platform/base/strings.h"

namespace perivane::platform {

// An exclusive advisory lock on one domain (flock on NAME.plist.lock beside the domain file),
// held until the object goes. flock locks belong to an open file description, so two holders
// exclude each other whether they are threads of one process or separate processes.
class PersistentDomainLock {
public:
    // Waits up to five seconds for the lock (a write holds it for milliseconds), the threads of
    // this process in the order they asked. Nullopt when the lock file cannot be opened or is
    // not a regular file (no preferences folder, no permission), or another holder keeps the
    // lock longer: then this caller changes nothing. A new lock file is made 0600, owned like
    // the preferences folder.
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
    // is no file, or it is not a regular file (it is never waited on), cannot be read or
    // parsed, or its root is not a dictionary.
    std::shared_ptr<const plist::Dictionary> persistentDomainForName(std::string_view name) const;

    // Replaces the whole domain; written by the next synchronize.
    void setPersistentDomain(plist::Dictionary domain, std::string_view name);

    // Writes every changed domain as writeFileAtomically does. A domain that the reader would
    // refuse (over its size or value limits) is not written. True when every write succeeded;
    // a failed write leaves the old file as it was.
    bool synchronize();

    // $HOME/Library/Preferences/NAME.plist, or nullopt when the name cannot name a domain
    // (empty, ".", "..", or holding "/" or U+0000) or there is no home folder: HOME empty or
    // relative, or HOME unset and no home in the user database.
    static std::optional<std::string> domainPath(std::string_view name);

private:
    NSUserDefaults() = default;
    std::map<std::string, std::shared_ptr<const plist::Dictionary>, std::less<>> pending_;
};

// Writes `bytes` to `path` atomically (temporary file beside it, fsync, rename, then fsync of
// the folder). The new file keeps the owner, group and mode of the regular file it replaces;
// one that is new, or replaces anything else (a symbolic link), is 0600 and owned like its
// folder. Missing folders are made 0700, owned like the folder they are made in. Whatever the
// umask; owners are given only where the caller may (root; otherwise the file is the
// caller's). False, with the old file untouched, when any step fails or the regular file there
// is one the caller may not write.
bool writeFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace perivane::platform
