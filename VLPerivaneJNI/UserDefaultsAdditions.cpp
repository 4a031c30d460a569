#include "UserDefaultsAdditions.h"

#include "platform/files/bookmark.h"
#include "platform/files/file_manager.h"
#include "platform/system/gestalt.h"
#include "platform/system/home_owner.h"
#include "platform/base/log.h"
#include "platform/preferences/ns_predicate.h"
#include "platform/system/ns_string_paths.h"
#include "platform/files/ns_url.h"
#include "platform/base/unicode.h"

namespace perivane::additions {

using platform::ascii;
using namespace platform::plist;

// ---- Dock ----------------------------------------------------------------------------------

namespace dock {

namespace {
NSString tileURLString(const platform::NSURL& url) {
    return url.scheme() + u":" + url.resourceSpecifier();
}
}  // namespace

std::optional<NSString> tileURLStringForAdding(const NSString& path) {
    const std::optional<platform::NSURL> url =
        platform::NSURL::fileURLWithPath(platform::decomposed(path));
    if (!url) return std::nullopt;
    return tileURLString(*url);
}

std::optional<NSString> tileURLStringForRemoving(const NSString& path) {
    const NSString last = platform::precomposed(platform::lastPathComponent(path));
    NSString rebuilt = platform::decomposed(platform::stringByDeletingLastPathComponent(path));
    // A folder part of "/" already ends in the separator: "/Foo.app" rebuilds as "/Foo.app/",
    // not "//Foo.app/", whose URL no stored entry holds.
    if (rebuilt.empty() || rebuilt.back() != u'/') rebuilt += u'/';
    rebuilt += last + u"/";
    const std::optional<platform::NSURL> url = platform::NSURL::fileURLWithPath(rebuilt);
    if (!url) return std::nullopt;
    int32_t version = 0;
    platform::Gestalt(platform::gestaltSystemVersion, &version);  // on failure it stays 0
    NSString tile = tileURLString(*url);
    if (version >= 0x1090) tile = withoutLoopbackHost(std::move(tile));
    return tile;
}

NSString withoutLoopbackHost(NSString tileURL) {
    static const NSString withHost = u"file://localhost/";
    if (tileURL.starts_with(withHost)) tileURL.replace(0, withHost.size(), u"file:///");
    return tileURL;
}

bool entryMatches(const Value& entry, const Needle& needle) {
    if (platform::keyPathContains(entry, kURLStringKeyPath, needle.tileURL)) return true;
    const Value* type = platform::valueForKeyPath(entry, kURLStringTypeKeyPath);
    if (type == nullptr || type->integer() == nullptr || *type->integer() != Integer::fromSigned(0)) {
        return false;
    }
    const Value* url = platform::valueForKeyPath(entry, kURLStringKeyPath);
    if (url == nullptr || url->string() == nullptr) return false;
    return platform::precomposed(platform::utf8ToUtf16Lossy(*url->string())) == needle.composedPath;
}

Value tileRecord(std::string path, std::string name) {
    Dictionary fileData;
    fileData.append("_CFURLString", std::move(path));
    fileData.append("_CFURLStringType", Integer::fromSigned(0));
    Dictionary tileData;
    tileData.append("file-data", std::move(fileData));
    tileData.append("file-label", std::move(name));
    tileData.append("dock-extra", false);
    Dictionary record;
    record.append("tile-data", std::move(tileData));
    return record;
}

}  // namespace dock

namespace {

// The Dock domain and its "persistent-apps" array, read under the caller's lock. Nullopt when
// there is no domain, it cannot be read, or "persistent-apps" holds something other than an
// array: what we cannot read we never rewrite.
struct DockDomain {
    std::shared_ptr<const Dictionary> domain;
    const Array* apps;  // null when the domain has no "persistent-apps"
};

std::optional<DockDomain> readDockDomain(const NSUserDefaults& defaults) {
    std::shared_ptr<const Dictionary> domain = defaults.persistentDomainForName(dock::kDomain);
    if (!domain) return std::nullopt;
    const Value* apps = domain->find(dock::kPersistentApps);
    if (apps != nullptr && apps->array() == nullptr) return std::nullopt;
    return DockDomain{domain, apps != nullptr ? apps->array() : nullptr};
}

// The domain with `apps` as its "persistent-apps" (in the place of the old array, or last),
// written. Every other entry is copied once; the old array is not copied at all.
bool storeApps(NSUserDefaults& defaults, const Dictionary& domain, Array apps) {
    Dictionary changed;
    changed.reserve(domain.size() + 1);
    bool placed = false;
    for (const DictionaryEntry& e : domain.entries()) {
        if (!placed && e.key == dock::kPersistentApps) {
            changed.append(e.key, std::move(apps));
            placed = true;
        } else {
            changed.append(e.key, e.value);
        }
    }
    if (!placed) changed.append(std::string(dock::kPersistentApps), std::move(apps));
    defaults.setPersistentDomain(std::move(changed), dock::kDomain);
    return defaults.synchronize();
}

}  // namespace

bool addApplicationToDock(NSUserDefaults& defaults, const NSString& path, const NSString& name) {
    // Both are stored as they came; a path that cannot name a file, or a name with U+0000 or
    // a lone surrogate, has no faithful stored form.
    const std::optional<std::string> storedPath = platform::fileSystemBytes(path);
    const std::optional<std::string> storedName = platform::utf16ToUtf8(name);
    if (!storedPath || !storedName || !isStorableString(*storedName)) return false;
    const std::optional<NSString> tile = dock::tileURLStringForAdding(path);
    if (!tile) return false;
    const dock::Needle needle{*tile, platform::precomposed(path)};

    const auto identity = platform::HomeOwnerIdentity::take();  // for the file work, below
    if (!identity) return false;
    // Held from the read to the end of the write, so that no other writer's entry is lost.
    const auto lock = platform::PersistentDomainLock::acquire(dock::kDomain);
    if (!lock) return false;
    const std::optional<DockDomain> dockDomain = readDockDomain(defaults);
    if (!dockDomain) return false;
    Array apps;
    if (dockDomain->apps != nullptr) {
        for (const Value& entry : *dockDomain->apps) {
            if (dock::entryMatches(entry, needle)) return false;
        }
        apps = *dockDomain->apps;
    }
    apps.push_back(dock::tileRecord(*storedPath, *storedName));
    return storeApps(defaults, *dockDomain->domain, std::move(apps));
}

bool removeApplicationFromDock(NSUserDefaults& defaults, const NSString& path) {
    if (!platform::fileSystemBytes(path)) return false;
    const std::optional<NSString> tile = dock::tileURLStringForRemoving(path);
    if (!tile) return false;
    const dock::Needle needle{*tile, platform::precomposed(path)};

    const auto identity = platform::HomeOwnerIdentity::take();
    if (!identity) return false;
    const auto lock = platform::PersistentDomainLock::acquire(dock::kDomain);
    if (!lock) return false;
    const std::optional<DockDomain> dockDomain = readDockDomain(defaults);
    if (!dockDomain || dockDomain->apps == nullptr) return false;
    Array kept;
    kept.reserve(dockDomain->apps->size());
    for (const Value& entry : *dockDomain->apps) {
        if (!dock::entryMatches(entry, needle)) kept.push_back(entry);
    }
    if (kept.size() == dockDomain->apps->size()) return false;
    return storeApps(defaults, *dockDomain->domain, std::move(kept));
}

// ---- alias files --------------------------------------------------------------------------

namespace {

using platform::NSError;
using platform::NSFileManager;

// NSLog(@"%@", error.localizedDescription): "(null)" for a failure that set no error.
void logError(const std::optional<NSError>& error) {
    platform::NSLog(error ? error->localizedDescription() : NSString(u"(null)"));
}

// The Desktop folder's URL, or nil after the failure has been logged: the lookup's error, or,
// for a Desktop that cannot be named (no home folder, a path that is not UTF-8), the line of a
// destination URL that cannot be made (`call`).
std::optional<NSURL> desktopFolder(const char16_t* call) {
    std::optional<NSError> error;
    std::optional<NSURL> desktop = NSFileManager::defaultManager().URLForDirectory(
        platform::NSDesktopDirectory, platform::NSUserDomainMask, std::nullopt, false, &error);
    if (!desktop && error) logError(error);
    if (!desktop && !error) platform::NSLog(NSString(call) + u" :: Couldn't create destination URL");
    return desktop;
}

}  // namespace

bool createShortcutItem(NSUserDefaults&, const NSURL& target, const NSString& name, const NSURL& folder) {
    std::optional<NSError> error;
    const std::optional<platform::NSData> data = platform::bookmarkDataWithOptions(
        target, platform::NSURLBookmarkCreationSuitableForBookmarkFile, &error);
    if (!data) {
        logError(error);
        return false;
    }
    const std::optional<NSURL> item = folder.URLByAppendingPathComponent(name);
    if (!item) {
        platform::NSLog(u"createShortcutItem :: Couldn't create destination URL");
        return false;
    }
    if (platform::writeBookmarkData(*data, *item, 0, &error)) return true;
    logError(error);
    return false;
}

bool removeShortcutItem(NSUserDefaults&, const NSString& name, const NSURL& folder) {
    std::optional<NSError> error;
    const std::optional<NSURL> item = folder.URLByAppendingPathComponent(name);
    if (!item) {
        platform::NSLog(u"removeShortcutItem :: Couldn't create destination URL");
        return false;
    }
    NSFileManager& manager = NSFileManager::defaultManager();
    // Nothing there is success; a lookup that failed (a folder the caller may not search, or
    // cannot reach) says nothing of what is there, so then the removal is tried, and its error
    // is the answer.
    int failure = 0;
    if (!manager.fileExistsAtPath(item->path(), &failure) && failure == 0) return true;
    if (manager.removeItemAtURL(*item, &error)) return true;
    logError(error);
    return false;
}

bool createDesktopItem(NSUserDefaults& defaults, const NSURL& target, const NSString& name) {
    const auto identity = platform::HomeOwnerIdentity::take();
    if (!identity) return false;
    const std::optional<NSURL> desktop = desktopFolder(u"createShortcutItem");
    return desktop && createShortcutItem(defaults, target, name, *desktop);
}

bool removeDesktopItem(NSUserDefaults& defaults, const NSString& name) {
    const auto identity = platform::HomeOwnerIdentity::take();
    if (!identity) return false;
    const std::optional<NSURL> desktop = desktopFolder(u"removeShortcutItem");
    return desktop && removeShortcutItem(defaults, name, *desktop);
}

}  // namespace perivane::additions
