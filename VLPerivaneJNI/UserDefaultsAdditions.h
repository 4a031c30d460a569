// The NSUserDefaults(Additions) category: the methods the Cocoa-half natives send to the
// standard user defaults. Each takes the receiver first and answers YES or NO as a bool.
// Free of JNI, so the unit tests call it directly.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/files/ns_url.h"
#include "platform/preferences/property_list.h"
#include "platform/base/strings.h"
#include "platform/preferences/user_defaults.h"

namespace perivane::additions {

using platform::NSString;
using platform::NSURL;
using platform::NSUserDefaults;

// ---- Dock ----------------------------------------------------------------------------------

// The Dock and Desktop methods do their file work in the home folder as its owner where the
// process is privileged and the owner is another user (platform/system/home_owner.h): NO when
// that identity cannot be taken.

// addApplicationToDock:named: appends a Dock tile record for `path`, labelled `name`, to the
// "persistent-apps" array of the Dock domain (making the array if the domain has none). NO
// when the path is listed already, when there is no Dock domain or it cannot be read, when
// path or name cannot be stored, or when the write fails.
bool addApplicationToDock(NSUserDefaults& defaults, const NSString& path, const NSString& name);

// removeApplicationFromDock: removes every entry of "persistent-apps" that lists `path`. NO
// when none does, when there is no readable Dock domain or no such array, or when the write
// fails.
bool removeApplicationFromDock(NSUserDefaults& defaults, const NSString& path);

namespace dock {

inline constexpr std::string_view kDomain = "com.apple.dock";
inline constexpr std::string_view kPersistentApps = "persistent-apps";
inline constexpr std::string_view kURLStringKeyPath = "tile-data.file-data._CFURLString";
inline constexpr std::string_view kURLStringTypeKeyPath = "tile-data.file-data._CFURLStringType";

// The tile URL string the add looks for: the file URL of the whole path in decomposed form.
std::optional<NSString> tileURLStringForAdding(const NSString& path);

// The tile URL string the removal looks for: the folder part decomposed, the last component
// composed, rebuilt with a trailing "/" and made a file URL, without a "localhost" host.
std::optional<NSString> tileURLStringForRemoving(const NSString& path);

// "file://localhost/..." -> "file:///...": the loopback host only, never text in the path.
NSString withoutLoopbackHost(NSString tileURL);

// What an entry is tested against: the tile URL string, and the path in Form C.
struct Needle {
    NSString tileURL;
    NSString composedPath;
};

// Whether `entry` lists the item: its URL string contains the tile URL string (byte for byte),
// or it is a plain-path record (type 0), as the add writes, whose path equals ours in Form C.
bool entryMatches(const platform::plist::Value& entry, const Needle& needle);

// The record the add appends: exactly these keys, nested, and nothing more.
platform::plist::Value tileRecord(std::string path, std::string name);

}  // namespace dock

// ---- alias files --------------------------------------------------------------------------
// None of these reads or writes a default. A failure the platform reports is logged with its
// description; an item URL that cannot be made (a name that is not exactly one path component)
// logs a fixed line.

// createShortcutItem:named:location: writes an alias file of `target` named exactly `name` in
// `folder`, replacing a file of that name. NO when the target does not exist, the name is not
// one component, or the write fails.
bool createShortcutItem(NSUserDefaults& defaults, const NSURL& target, const NSString& name,
                        const NSURL& folder);

// removeShortcutItem:location: removes whatever has `name` in `folder` (a folder with all it
// holds; a symbolic link itself). YES when nothing of that name is left, including when nothing
// was there (a dangling link counts as nothing, and stays).
bool removeShortcutItem(NSUserDefaults& defaults, const NSString& name, const NSURL& folder);

// createDesktopItem:named: and removeDesktopItem: do the same in the Desktop folder, which must
// exist: NO when it does not.
bool createDesktopItem(NSUserDefaults& defaults, const NSURL& target, const NSString& name);
bool removeDesktopItem(NSUserDefaults& defaults, const NSString& name);

}  // namespace perivane::additions
