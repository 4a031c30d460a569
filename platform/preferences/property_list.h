// Property-list values (what NSDictionary, NSArray, NSString, NSNumber, NSDate and NSData hold
// in a preferences domain) and their binary and XML file forms, read and written with libplist.
// Every value read from a file is written back exactly as read: key order, integer width and
// sign, and the bytes of strings and data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace perivane::platform::plist {

struct Value;
struct DictionaryEntry;

// An integer as property lists hold it: any value from -2^63 to 2^64-1. Values above 2^63-1
// are kept apart (`isLargeUnsigned`) because files store them in a wider form than the rest.
class Integer {
public:
    constexpr Integer() = default;
    static constexpr Integer fromSigned(int64_t v) { return Integer(static_cast<uint64_t>(v), false); }
    static constexpr Integer fromUnsigned(uint64_t v) {
        return Integer(v, v > static_cast<uint64_t>(INT64_MAX));
    }
    constexpr bool isLargeUnsigned() const { return large_; }
    // The value when it fits a signed 64-bit integer.
    constexpr std::optional<int64_t> signedValue() const {
        if (large_) return std::nullopt;
        return static_cast<int64_t>(bits_);
    }
    constexpr uint64_t bits() const { return bits_; }
    friend constexpr bool operator==(const Integer&, const Integer&) = default;

private:
    constexpr Integer(uint64_t bits, bool large) : bits_(bits), large_(large) {}
    uint64_t bits_ = 0;
    bool large_ = false;
};

// A date: seconds since 2001-01-01 00:00:00 UTC, as binary files store it (a double).
struct Date {
    double seconds = 0;
    friend bool operator==(const Date&, const Date&) = default;
};

using Data = std::vector<uint8_t>;
using Array = std::vector<Value>;

// A dictionary that keeps its keys in the order they were read or first set. Keys are UTF-8.
class Dictionary {
public:
    // Defined below, once DictionaryEntry is complete.
    Dictionary();
    Dictionary(const Dictionary&);
    Dictionary(Dictionary&&) noexcept;
    Dictionary& operator=(const Dictionary&);
    Dictionary& operator=(Dictionary&&) noexcept;
    ~Dictionary();

    // The value under `key`, or null.
    const Value* find(std::string_view key) const;
    // Appends without looking for the key (the caller knows it is new).
    void append(std::string key, Value value);
    // Makes room for `count` entries: appending up to that many moves no entry.
    void reserve(size_t count);

    size_t size() const;
    bool empty() const;
    const std::vector<DictionaryEntry>& entries() const { return entries_; }

    friend bool operator==(const Dictionary&, const Dictionary&);

private:
    std::vector<DictionaryEntry> entries_;
};

// One property-list value. Strings are UTF-8 without U+0000.
struct Value {
    using Variant = std::variant<Dictionary, Array, std::string, Integer, double, bool, Date, Data>;
    Variant v;

    Value() : v(false) {}
    template <typename T>
        requires std::is_constructible_v<Variant, T&&>
    Value(T&& x) : v(std::forward<T>(x)) {}
    Value(const char* s) : v(std::string(s)) {}

    const Dictionary* dictionary() const { return std::get_if<Dictionary>(&v); }
    const Array* array() const { return std::get_if<Array>(&v); }
    const std::string* string() const { return std::get_if<std::string>(&v); }
    const Integer* integer() const { return std::get_if<Integer>(&v); }

    friend bool operator==(const Value&, const Value&) = default;
};

struct DictionaryEntry {
    std::string key;
    Value value;
    friend bool operator==(const DictionaryEntry&, const DictionaryEntry&) = default;
};

inline Dictionary::Dictionary() = default;
inline Dictionary::Dictionary(const Dictionary&) = default;
inline Dictionary::Dictionary(Dictionary&&) noexcept = default;
inline Dictionary& Dictionary::operator=(const Dictionary&) = default;
inline Dictionary& Dictionary::operator=(Dictionary&&) noexcept = default;
inline Dictionary::~Dictionary() = default;
inline void Dictionary::reserve(size_t count) { entries_.reserve(count); }
inline size_t Dictionary::size() const { return entries_.size(); }
inline bool Dictionary::empty() const { return entries_.empty(); }
inline bool operator==(const Dictionary& a, const Dictionary& b) { return a.entries_ == b.entries_; }

// Limits a file must keep to be read at all. libplist parses and frees recursively, so a
// deeply nested file would overflow a thread's stack (a JVM thread has 1 MiB), and its binary
// reader copies shared objects, so a small file can stand for a huge tree. Both are checked
// before libplist sees the bytes.
inline constexpr size_t kMaxFileBytes = 8u << 20;
inline constexpr size_t kMaxDepth = 128;
inline constexpr size_t kMaxValues = 1u << 18;  // a preferences domain holds hundreds

// Whether the bytes stay within the limits above: a scan of the binary object graph (through
// its offset table) or of the XML tag nesting. False also for bytes too malformed to scan.
bool withinLimits(std::string_view bytes);

// Parses a binary or XML property list. Nullopt when the bytes are over a limit, cannot be
// parsed, or hold something the model does not keep exactly (a string with U+0000 or invalid
// UTF-8, a repeated dictionary key, a keyed-archive UID).
std::optional<Value> parse(std::string_view bytes);

// The binary form of `value`. Nullopt when a string or key is not valid UTF-8 without U+0000,
// or when the value is nested deeper than the limit.
std::optional<std::string> toBinary(const Value& value);

// The same for a dictionary at the root, which needs no copy into a Value.
std::optional<std::string> toBinary(const Dictionary& root);

// Whether `s` is valid UTF-8 (no surrogates, no overlong forms) without U+0000.
bool isStorableString(std::string_view s);

}  // namespace perivane::platform::plist
