// The domain loader's contract, checked on one input: used by the fuzz target and by the unit
// test that replays the seed corpus. Aborts when the contract is broken.
#pragma once

#include <cstdlib>
#include <optional>
#include <string_view>

#include "platform/property_list.h"

namespace perivane::fuzz {

// Parses `bytes` as a domain file is parsed. Whatever is accepted must be writable, and its
// written form must read back to a value that writes the very same bytes again.
inline std::optional<platform::plist::Value> checkDomainBytes(std::string_view bytes) {
    using namespace platform::plist;
    std::optional<Value> value = parse(bytes);
    if (!value) return value;
    const std::optional<std::string> binary = toBinary(*value);
    if (!binary) std::abort();
    const std::optional<Value> again = parse(*binary);
    if (!again) std::abort();
    const std::optional<std::string> binaryAgain = toBinary(*again);
    if (!binaryAgain || *binaryAgain != *binary) std::abort();
    return value;
}

}  // namespace perivane::fuzz
