// The domain loader's contract, checked on one input: used by the fuzz target and by the unit
// test that replays the seed corpus. Aborts when the contract is broken.
#pragma once

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/property_list.h"

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

// Parses `bytes` as a domain file is parsed. Whatever is accepted must be writable, and its
// written form must read back as the very same value. (Not the very same bytes: libplist's
// writer shares equal data blobs only when their addresses happen to hash alike.)
inline std::optional<platform::plist::Value> checkDomainBytes(std::string_view bytes) {
    using namespace platform::plist;
    std::optional<Value> value = parse(bytes);
    if (!value) return value;
    const std::optional<std::string> binary = toBinary(*value);
    if (!binary) std::abort();
    const std::optional<Value> again = parse(*binary);
    if (!again || !identical(*again, *value)) std::abort();
    return value;
}

}  // namespace perivane::fuzz
