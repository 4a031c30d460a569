// The domain loader's contract, checked on one input: used by the fuzz target and by the corpus
// replay. Aborts when the contract is broken.
#pragma once

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include <plist/plist.h>

#include "platform/preferences/property_list.h"

namespace perivane::fuzz {

// Equal values, reals and dates compared bit for bit (so a NaN equals itself).
inline bool identical(const platform::plist::Value& a, const platform::plist::Value& b) {
    using namespace platform::plist;
    if (a.v.index() != b.v.index()) return false;
    auto sameBits = [](double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; };
    if (const auto* x = std::get_if<double>(&a.v)) return sameBits(*x, std::get<double>(b.v));
    if (const auto* x = std::get_if<Date>(&a.v)) return sameBits(x->seconds, std::get<Date>(b.v).seconds);
    if (const auto* x = a.array()) {
        const Array& y = *b.array();
        if (x->size() != y.size()) return false;
        for (size_t i = 0; i < x->size(); ++i) {
            if (!identical((*x)[i], y[i])) return false;
        }
        return true;
    }
    if (const auto* x = a.dictionary()) {
        const auto& xs = x->entries();
        const auto& ys = b.dictionary()->entries();
        if (xs.size() != ys.size()) return false;
        for (size_t i = 0; i < xs.size(); ++i) {
            if (xs[i].key != ys[i].key || !identical(xs[i].value, ys[i].value)) return false;
        }
        return true;
    }
    return a == b;
}

// libplist's own XML rendering of a property list it can read: an independent reading of every
// value (nothing when it cannot read the bytes).
inline std::optional<std::string> libplistXml(std::string_view bytes) {
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    if (root == nullptr) return std::nullopt;
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    std::optional<std::string> text;
    if (xml != nullptr) text.emplace(xml, length);
    plist_to_xml_free(xml);
    plist_free(root);
    return text;
}

// Parses `bytes` as a domain file is parsed. Whatever is accepted must be writable, and its
// written form must read back as the very same value (not the very same bytes: libplist's
// writer shares equal data blobs only when their addresses happen to hash alike); and libplist
// must read what was written as it reads the original: types, signs, text and order.
// Accepted: the bytes are a property list (a domain or not).
inline std::optional<platform::plist::Value> checkDomainBytes(std::string_view bytes) {
    using namespace platform::plist;
    std::optional<Value> value = parse(bytes);
    if (!value) return value;
    const std::optional<std::string> binary = toBinary(*value);
    if (!binary) std::abort();
    const std::optional<Value> again = parse(*binary);
    if (!again || !identical(*again, *value)) std::abort();
    const std::optional<std::string> original = libplistXml(bytes);
    if (!original || libplistXml(*binary) != original) std::abort();
    return value;
}

}  // namespace perivane::fuzz
