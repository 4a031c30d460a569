#include "platform/preferences/ns_predicate.h"

namespace perivane::platform {

const plist::Value* valueForKeyPath(const plist::Value& object, std::string_view keyPath) {
    const plist::Value* v = &object;
    for (;;) {
        const plist::Dictionary* d = v->dictionary();
        if (d == nullptr) return nullptr;
        const size_t dot = keyPath.find('.');
        v = d->find(keyPath.substr(0, dot));
        if (v == nullptr || dot == std::string_view::npos) return v;
        keyPath.remove_prefix(dot + 1);
    }
}

bool keyPathContains(const plist::Value& object, std::string_view keyPath, const NSString& text) {
    const plist::Value* v = valueForKeyPath(object, keyPath);
    const std::string* s = v != nullptr ? v->string() : nullptr;
    if (s == nullptr) return false;
    // Both sides are valid UTF-8, so a byte match is a match of whole characters.
    const std::optional<std::string> needle = utf16ToUtf8(text);
    return needle && s->find(*needle) != std::string::npos;
}

}  // namespace perivane::platform
