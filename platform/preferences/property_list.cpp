#include "platform/preferences/property_list.h"

#include <plist/plist.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_set>

namespace perivane::platform::plist {

// ---- the model -----------------------------------------------------------------------------

const Value* Dictionary::find(std::string_view key) const {
    for (const DictionaryEntry& e : entries_) {
        if (e.key == key) return &e.value;
    }
    return nullptr;
}

void Dictionary::append(std::string key, Value value) {
    entries_.push_back(DictionaryEntry{std::move(key), std::move(value)});
}

bool isStorableString(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c == 0) return false;
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        char32_t cp;
        if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i < len) return false;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

// ---- limits, checked before libplist parses ------------------------------------------------

namespace {

constexpr std::string_view kBinaryMagic = "bplist00";

uint64_t readBigEndian(const unsigned char* p, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

// The object graph of a binary property list: walks it from the top object through the offset
// table, without recursion, and measures the depth and the number of values that parsing would
// build (a shared object counts once per reference, as libplist copies it). Refuses cycles,
// references out of range, and strings that hold U+0000.
class BinaryScan {
public:
    explicit BinaryScan(std::string_view bytes)
        : p_(reinterpret_cast<const unsigned char*>(bytes.data())), n_(bytes.size()) {}

    bool ok() {
        if (n_ < kBinaryMagic.size() + 32) return false;
        const unsigned char* t = p_ + n_ - 32;
        offsetSize_ = t[6];
        refSize_ = t[7];
        objects_ = readBigEndian(t + 8, 8);
        const uint64_t top = readBigEndian(t + 16, 8);
        tableStart_ = readBigEndian(t + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return false;
        if (objects_ == 0 || top >= objects_) return false;
        if (tableStart_ < kBinaryMagic.size() || tableStart_ > n_ - 32) return false;
        if (objects_ > (n_ - 32 - tableStart_) / offsetSize_) return false;
        state_.assign(objects_, 0);
        height_.assign(objects_, 0);
        count_.assign(objects_, 0);
        return walk(top);
    }

private:
    struct Frame {
        uint64_t object;
        const unsigned char* refs;
        uint64_t refCount;
        uint64_t next;
        uint64_t height;
        uint64_t count;
    };

    // Where the object's bytes start, or null when its offset is out of range.
    const unsigned char* objectStart(uint64_t object) const {
        const uint64_t offset = readBigEndian(p_ + tableStart_ + object * offsetSize_, offsetSize_);
        if (offset < kBinaryMagic.size() || offset >= tableStart_) return nullptr;
        return p_ + offset;
    }

    // Reads the element count that follows a marker (in the marker, or an integer after it).
    bool readCount(const unsigned char*& q, unsigned info, uint64_t& count) const {
        const unsigned char* end = p_ + tableStart_;
        if (info != 0x0F) {
            count = info;
            return true;
        }
        if (q >= end || (*q & 0xF0) != 0x10) return false;
        const size_t width = size_t{1} << (*q & 0x0F);
        if (width > 8 || static_cast<size_t>(end - q - 1) < width) return false;
        count = readBigEndian(q + 1, width);
        q += 1 + width;
        return true;
    }

    // A leaf: checks strings for U+0000. Containers fill in their references instead.
    bool open(uint64_t object, Frame& frame) const {
        const unsigned char* q = objectStart(object);
        if (q == nullptr) return false;
        const unsigned char* end = p_ + tableStart_;
        const unsigned type = *q >> 4, info = *q & 0x0F;
        ++q;
        frame = Frame{object, nullptr, 0, 0, 1, 1};
        if (type == 0x5 || type == 0x6) {  // ASCII or UTF-16 string
            uint64_t length;
            if (!readCount(q, info, length)) return false;
            const uint64_t unit = type == 0x6 ? 2 : 1;
            if (length > static_cast<uint64_t>(end - q) / unit) return false;
            for (uint64_t i = 0; i < length; ++i) {
                if (unit == 1 ? q[i] == 0 : (q[2 * i] == 0 && q[2 * i + 1] == 0)) return false;
            }
            return true;
        }
        if (type < 0xA || type > 0xD) return true;
        uint64_t count;
        if (!readCount(q, info, count)) return false;
        if (type == 0xD) {
            if (count > UINT64_MAX / 2) return false;
            count *= 2;  // keys, then values
        }
        if (count > static_cast<uint64_t>(end - q) / refSize_) return false;
        frame.refs = q;
        frame.refCount = count;
        return true;
    }

    bool walk(uint64_t top) {
        std::vector<Frame> stack;
        Frame f;
        if (!open(top, f)) return false;
        state_[top] = 1;
        stack.push_back(f);
        while (!stack.empty()) {
            Frame& cur = stack.back();
            if (cur.next < cur.refCount) {
                const uint64_t child = readBigEndian(cur.refs + cur.next * refSize_, refSize_);
                ++cur.next;
                if (child >= objects_) return false;
                if (state_[child] == 1) return false;  // a cycle
                if (state_[child] == 2) {
                    cur.height = std::max(cur.height, height_[child] + 1);
                    cur.count = std::min<uint64_t>(cur.count + count_[child], kMaxValues + 1);
                    if (cur.count > kMaxValues) return false;
                    continue;
                }
                if (stack.size() >= kMaxDepth) return false;
                Frame next;
                if (!open(child, next)) return false;
                state_[child] = 1;
                stack.push_back(next);
                continue;
            }
            const Frame done = cur;
            stack.pop_back();
            state_[done.object] = 2;
            height_[done.object] = done.height;
            count_[done.object] = done.count;
            if (!stack.empty()) {
                Frame& parent = stack.back();
                parent.height = std::max(parent.height, done.height + 1);
                parent.count = std::min<uint64_t>(parent.count + done.count, kMaxValues + 1);
                if (parent.count > kMaxValues) return false;
            }
        }
        return height_[top] <= kMaxDepth && count_[top] <= kMaxValues;
    }

    const unsigned char* p_;
    size_t n_;
    unsigned offsetSize_ = 0, refSize_ = 0;
    uint64_t objects_ = 0, tableStart_ = 0;
    std::vector<unsigned char> state_;  // 0 unseen, 1 on the walk, 2 measured
    std::vector<uint64_t> height_, count_;
};

// The tag nesting of an XML property list. The scan reads tags the way any tokenizer would,
// and refuses constructs where tokenizers could disagree about where a tag ends (a quoted
// angle bracket, a comment or CDATA section holding one), so that its depth is never lower
// than the depth libplist sees.
bool xmlWithinLimits(std::string_view s) {
    size_t depth = 0, elements = 0;
    size_t i = 0;
    auto noBrackets = [](std::string_view body) {
        return body.find_first_of("<>") == std::string_view::npos;
    };
    while ((i = s.find('<', i)) != std::string_view::npos) {
        const std::string_view rest = s.substr(i);
        std::string_view closer;
        if (rest.starts_with("<!--")) closer = "-->";
        else if (rest.starts_with("<![CDATA[")) closer = "]]>";
        if (!closer.empty()) {
            const size_t bodyStart = closer == "-->" ? 4 : 9;
            const size_t end = rest.find(closer, bodyStart);
            if (end == std::string_view::npos) return false;
            if (!noBrackets(rest.substr(bodyStart, end - bodyStart))) return false;
            i += end + closer.size();
            continue;
        }
        const size_t end = rest.find('>', 1);
        if (end == std::string_view::npos) return false;
        const std::string_view tag = rest.substr(1, end - 1);
        if (tag.find('<') != std::string_view::npos) return false;
        if (std::count(tag.begin(), tag.end(), '"') % 2 != 0) return false;
        if (std::count(tag.begin(), tag.end(), '\'') % 2 != 0) return false;
        i += end + 1;
        if (tag.starts_with('?') || tag.starts_with('!')) continue;
        if (tag.starts_with('/')) {
            if (depth == 0) return false;
            --depth;
            continue;
        }
        if (++elements > 2 * kMaxValues + 1) return false;
        if (tag.ends_with('/')) continue;
        if (++depth > kMaxDepth + 1) return false;  // <plist> itself is one level
    }
    return true;
}

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using Node = std::unique_ptr<void, PlistFree>;

// Whether a PLIST_UINT node holds a value above 2^63-1 (stored 16 bytes wide) rather than a
// negative one: libplist keeps that apart but only its XML writer tells.
bool isLargeUnsignedNode(plist_t node) {
    char* xml = nullptr;  // the writer does nothing unless this starts null
    uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
    if (xml == nullptr) return false;
    const bool negative = std::string_view(xml, length).find("<integer>-") != std::string_view::npos;
    plist_to_xml_free(xml);
    return !negative;
}

// Dates: libplist keeps the file's double but its API trades in whole seconds and truncated
// microseconds, which drift by a microsecond on each rewrite. The exact double is taken from,
// and given back through, a one-object binary list: "bplist00", 0x33 and 8 bytes big-endian.
constexpr size_t kDateAt = kBinaryMagic.size();

double dateSeconds(plist_t node) {
    char* bin = nullptr;  // the writer does nothing unless this starts null
    uint32_t length = 0;
    plist_to_bin(node, &bin, &length);
    double seconds = 0;
    if (bin != nullptr && length >= kDateAt + 9 && static_cast<unsigned char>(bin[kDateAt]) == 0x33) {
        const uint64_t bits = readBigEndian(reinterpret_cast<const unsigned char*>(bin) + kDateAt + 1, 8);
        std::memcpy(&seconds, &bits, sizeof seconds);
    } else {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        seconds = sec + usec / 1e6;
    }
    if (bin != nullptr) plist_to_bin_free(bin);
    return seconds;
}

Node dateNode(double seconds) {
    uint64_t bits;
    std::memcpy(&bits, &seconds, sizeof bits);
    std::string bin(kBinaryMagic);
    bin += '\x33';
    for (int s = 56; s >= 0; s -= 8) bin += static_cast<char>(bits >> s);
    bin += static_cast<char>(kDateAt);  // the offset table: one one-byte offset
    bin += std::string(6, '\0') + "\x01\x01";
    for (uint64_t v : {uint64_t{1}, uint64_t{0}, uint64_t{kDateAt + 9}}) {
        for (int s = 56; s >= 0; s -= 8) bin += static_cast<char>(v >> s);
    }
    plist_t node = nullptr;
    plist_from_bin(bin.data(), static_cast<uint32_t>(bin.size()), &node);
    return Node(node);
}

std::optional<Value> fromNode(plist_t node, size_t depth) {
    if (node == nullptr || depth > kMaxDepth) return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
        Dictionary d;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        if (it == nullptr) return std::nullopt;
        std::unique_ptr<void, decltype(&std::free)> iterHolder(it, &std::free);
        const uint32_t size = plist_dict_get_size(node);
        // Repeated keys are found through a set of the keys kept so far, which stay where they
        // are (room is made first): linear in the number of keys, however many there are.
        d.reserve(size);
        std::unordered_set<std::string_view> keys;
        keys.reserve(size);
        for (uint32_t k = 0; k < size; ++k) {
            char* key = nullptr;
            plist_t child = nullptr;
            plist_dict_next_item(node, it, &key, &child);
            std::unique_ptr<char, decltype(&std::free)> keyHolder(key, &std::free);
            if (key == nullptr || child == nullptr || !isStorableString(key)) return std::nullopt;
            std::optional<Value> v = fromNode(child, depth + 1);
            if (!v) return std::nullopt;
            d.append(key, std::move(*v));
            if (!keys.insert(d.entries().back().key).second) return std::nullopt;  // a repeated key
        }
        return Value(std::move(d));
    }
    case PLIST_ARRAY: {
        Array a;
        const uint32_t size = plist_array_get_size(node);
        a.reserve(size);
        for (uint32_t k = 0; k < size; ++k) {
            std::optional<Value> v = fromNode(plist_array_get_item(node, k), depth + 1);
            if (!v) return std::nullopt;
            a.push_back(std::move(*v));
        }
        return Value(std::move(a));
    }
    case PLIST_STRING: {
        uint64_t length = 0;
        const char* s = plist_get_string_ptr(node, &length);
        if (s == nullptr) return std::nullopt;
        std::string text(s, length);
        if (!isStorableString(text)) return std::nullopt;
        return Value(std::move(text));
    }
    case PLIST_UINT: {
        uint64_t bits = 0;
        plist_get_uint_val(node, &bits);
        if (bits > static_cast<uint64_t>(INT64_MAX) && isLargeUnsignedNode(node)) {
            return Value(Integer::fromUnsigned(bits));
        }
        return Value(Integer::fromSigned(static_cast<int64_t>(bits)));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return Value(d);
    }
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return Value(b != 0);
    }
    case PLIST_DATE:
        return Value(Date{dateSeconds(node)});
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* p = plist_get_data_ptr(node, &length);
        if (p == nullptr && length != 0) return std::nullopt;
        const auto* u = reinterpret_cast<const uint8_t*>(p);
        return Value(Data(u, u + length));
    }
    default:  // keyed-archive UIDs and stray keys have no place in a preferences domain
        return std::nullopt;
    }
}

Node largeUnsignedNode(uint64_t v) {
    // plist_new_uint cannot mark a value as unsigned; the XML reader does.
    const std::string xml = "<plist version=\"1.0\"><integer>" + std::to_string(v) + "</integer></plist>";
    plist_t node = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &node);
    return Node(node);
}

Node toNode(const Value& value, size_t depth);

Node dictionaryNode(const Dictionary& x, size_t depth) {
    if (depth > kMaxDepth) return nullptr;
    Node d(plist_new_dict());
    for (const DictionaryEntry& e : x.entries()) {
        if (!isStorableString(e.key)) return nullptr;
        Node child = toNode(e.value, depth + 1);
        if (!child) return nullptr;
        plist_dict_set_item(d.get(), e.key.c_str(), child.release());
    }
    // A repeated key would have replaced an earlier value: refuse, never merge.
    if (plist_dict_get_size(d.get()) != x.size()) return nullptr;
    return d;
}

Node toNode(const Value& value, size_t depth) {
    if (depth > kMaxDepth) return nullptr;
    return std::visit(
        [depth](const auto& x) -> Node {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, Dictionary>) {
                return dictionaryNode(x, depth);
            } else if constexpr (std::is_same_v<T, Array>) {
                Node a(plist_new_array());
                for (const Value& v : x) {
                    Node child = toNode(v, depth + 1);
                    if (!child) return nullptr;
                    plist_array_append_item(a.get(), child.release());
                }
                return a;
            } else if constexpr (std::is_same_v<T, std::string>) {
                if (!isStorableString(x)) return nullptr;
                return Node(plist_new_string(x.c_str()));
            } else if constexpr (std::is_same_v<T, Integer>) {
                if (x.isLargeUnsigned()) return largeUnsignedNode(x.bits());
                return Node(plist_new_uint(x.bits()));
            } else if constexpr (std::is_same_v<T, double>) {
                return Node(plist_new_real(x));
            } else if constexpr (std::is_same_v<T, bool>) {
                return Node(plist_new_bool(x ? 1 : 0));
            } else if constexpr (std::is_same_v<T, Date>) {
                return dateNode(x.seconds);
            } else {
                return Node(plist_new_data(reinterpret_cast<const char*>(x.data()), x.size()));
            }
        },
        value.v);
}

}  // namespace

bool withinLimits(std::string_view bytes) {
    if (bytes.size() > kMaxFileBytes) return false;
    if (bytes.starts_with(kBinaryMagic)) return BinaryScan(bytes).ok();
    return xmlWithinLimits(bytes);
}

std::optional<Value> parse(std::string_view bytes) {
    if (bytes.empty() || !withinLimits(bytes)) return std::nullopt;
    plist_t root = nullptr;  // the readers report failure only by leaving this null
    const auto length = static_cast<uint32_t>(bytes.size());
    if (bytes.starts_with(kBinaryMagic)) plist_from_bin(bytes.data(), length, &root);
    else plist_from_xml(bytes.data(), length, &root);
    Node holder(root);
    return fromNode(root, 1);
}

namespace {
// Runs one of libplist's writers, which allocate the output themselves and report failure
// only by leaving it null (and do nothing at all unless it starts null).
std::optional<std::string> serialize(Node root, void (*write)(plist_t, char**, uint32_t*), void (*release)(char*)) {
    if (!root) return std::nullopt;
    char* out = nullptr;
    uint32_t length = 0;
    write(root.get(), &out, &length);
    if (out == nullptr) return std::nullopt;
    std::string bytes(out, length);
    release(out);
    return bytes;
}
}  // namespace

std::optional<std::string> toBinary(const Value& value) {
    return serialize(toNode(value, 1), plist_to_bin, plist_to_bin_free);
}

std::optional<std::string> toBinary(const Dictionary& root) {
    return serialize(dictionaryNode(root, 1), plist_to_bin, plist_to_bin_free);
}

}  // namespace perivane::platform::plist
