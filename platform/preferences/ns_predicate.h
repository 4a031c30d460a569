// NSPredicate's "%K CONTAINS %@" over a property-list value: a substring test sensitive to
// case and diacritics (no [cd] modifier) on the string at a key path.
#pragma once

#include <initializer_list>
#include <string_view>

#include "platform/preferences/property_list.h"
#include "platform/base/strings.h"

namespace perivane::platform {

// The value at the dotted key path: each step a dictionary key. Null when a step is missing
// or does not lead to a dictionary.
const plist::Value* valueForKeyPath(const plist::Value& object, std::string_view keyPath);

// Whether the string at `keyPath` contains `text`. False when there is no value there or the
// value is not a string, and when `text` cannot be a stored string (a lone surrogate).
bool keyPathContains(const plist::Value& object, std::string_view keyPath, const NSString& text);

}  // namespace perivane::platform
