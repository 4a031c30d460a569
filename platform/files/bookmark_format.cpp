#include "platform/files/bookmark_format.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_set>

#include "platform/files/ns_url.h"

namespace perivane::platform::bookmark {

namespace {

// Item types.
enum Type : std::uint32_t {
    kString = 0x0101,
    kData = 0x0201,
    kInt32 = 0x0303,
    kInt64 = 0x0304,
    kDate = 0x0400,
    kFalse = 0x0500,
    kTrue = 0x0501,
    kArray = 0x0601,
    kURL = 0x0901,
    kNull = 0x0A01,
    kTableType = 0xFFFFFFFE,
};
constexpr std::uint32_t kNumberMajor = 0x0300;

constexpr std::uint32_t kVersion = 0x10040000;  // the header word every sample carries
constexpr std::size_t kDataHeaderSize = 0x30;
constexpr std::size_t kFileHeaderSize = 0x38;
constexpr std::string_view kFileMagic("book\0\0\0\0mark\0\0\0\0", 16);
constexpr std::size_t kTableHeaderSize = 20;  // size, type, id, next, count
constexpr std::size_t kTableEntrySize = 12;   // key, offset, reserved

// The property masks the platform's Finder writes beside the flags.
constexpr std::uint64_t kResourcePropsMask = 0x21F;
constexpr std::uint64_t kVolumePropsMask = 0x1000013EF;

std::uint64_t readLE(std::string_view bytes, std::size_t at, std::size_t width) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width; ++i) v |= std::uint64_t{static_cast<unsigned char>(bytes[at + i])} << (8 * i);
    return v;
}

std::uint32_t read32(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint32_t>(readLE(bytes, at, 4));
}

void appendLE(std::string& out, std::uint64_t v, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void putLE(std::string& out, std::size_t at, std::uint64_t v, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// ---- writing -------------------------------------------------------------------------------

class Builder {
public:
    Builder() : area_(4, '\0') {}  // the first table's offset goes here at the end

    std::uint32_t add(std::uint32_t type, std::string_view payload) {
        const auto at = static_cast<std::uint32_t>(area_.size());
        appendLE(area_, payload.size(), 4);
        appendLE(area_, type, 4);
        area_.append(payload);
        area_.append((4 - area_.size() % 4) % 4, '\0');
        return at;
    }
    std::uint32_t string(std::string_view s) { return add(kString, s); }
    std::uint32_t number(std::int64_t v, bool wide) {
        std::string payload;
        appendLE(payload, static_cast<std::uint64_t>(v), wide ? 8 : 4);
        return add(wide ? kInt64 : kInt32, payload);
    }
    std::uint32_t date(double seconds) {
        std::string payload;
        const auto bits = std::bit_cast<std::uint64_t>(seconds);
        for (int shift = 56; shift >= 0; shift -= 8) payload += static_cast<char>((bits >> shift) & 0xFF);
        return add(kDate, payload);
    }
    std::uint32_t properties(std::uint64_t flags, std::uint64_t mask) {
        std::string payload;
        for (const std::uint64_t word : {flags, mask, mask}) appendLE(payload, word, 8);
        return add(kData, payload);
    }
    std::uint32_t array(const std::vector<std::uint32_t>& offsets) {
        std::string payload;
        for (const std::uint32_t o : offsets) appendLE(payload, o, 4);
        return add(kArray, payload);
    }
    // A table of contents, its entries sorted by key as readers binary-search them.
    std::uint32_t table(std::uint32_t id, std::vector<std::pair<std::uint32_t, std::uint32_t>> entries) {
        std::sort(entries.begin(), entries.end());
        const auto at = static_cast<std::uint32_t>(area_.size());
        appendLE(area_, 12 + kTableEntrySize * entries.size(), 4);  // the bytes after the type word
        appendLE(area_, kTableType, 4);
        appendLE(area_, id, 4);
        appendLE(area_, 0, 4);  // next table: none yet
        appendLE(area_, entries.size(), 4);
        for (const auto& [key, offset] : entries) {
            appendLE(area_, key, 4);
            appendLE(area_, offset, 4);
            appendLE(area_, 0, 4);
        }
        return at;
    }
    void chain(std::uint32_t table, std::uint32_t next) { putLE(area_, table + 12, next, 4); }
    std::string finish(std::uint32_t firstTable) {
        putLE(area_, 0, firstTable, 4);
        return std::move(area_);
    }

private:
    std::string area_;
};

using Entries = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

Entries addVolume(Builder& b, const Volume& v) {
    std::string url = "file://" + percentEncodeFilePath(v.path);
    if (url.back() != '/') url += '/';
    return {
        {kVolPath, b.string(v.path)},
        {kVolURL, b.add(kURL, url)},
        {kVolName, b.string(v.name)},
        {kVolUUID, b.string(v.uuid)},
        {kVolCapacity, b.number(static_cast<std::int64_t>(v.capacity), true)},
        {kVolCreationDate, b.date(v.creationDate)},
        {kVolProps, b.properties(v.flags, kVolumePropsMask)},
    };
}

// How many folders deep the mount point lies: "/" 0, "/media/x" 2.
std::size_t depthOf(std::string_view path) {
    std::size_t depth = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] != '/' && (i == 0 || path[i - 1] == '/')) ++depth;
    }
    return depth;
}

// ---- reading -------------------------------------------------------------------------------

std::optional<std::string_view> stringOf(const std::optional<Item>& item) {
    if (!item || item->type != kString || item->payload.size() > kMaxTextBytes) return std::nullopt;
    return item->payload;
}

// Any integer subtype, sized by its payload.
std::optional<std::int64_t> integerOf(const std::optional<Item>& item) {
    if (!item || (item->type & 0xFFFFFF00) != kNumberMajor) return std::nullopt;
    const std::uint32_t subtype = item->type & 0xFF;
    const bool real = subtype == 0x05 || subtype == 0x06 || subtype == 0x0C || subtype == 0x0D || subtype == 0x10;
    const std::size_t n = item->payload.size();
    if (real || (n != 1 && n != 2 && n != 4 && n != 8)) return std::nullopt;
    const std::uint64_t raw = readLE(item->payload, 0, n);
    const unsigned unused = 64 - 8 * static_cast<unsigned>(n);  // sign-extend from n bytes
    return static_cast<std::int64_t>(raw << unused) >> unused;
}

std::optional<double> dateOf(const std::optional<Item>& item) {
    if (!item || item->type != kDate || item->payload.size() != 8) return std::nullopt;
    std::uint64_t bits = 0;
    for (const char c : item->payload) bits = (bits << 8) | static_cast<unsigned char>(c);
    return std::bit_cast<double>(bits);
}

// The first word of a property item (the flags).
std::uint64_t flagsOf(const std::optional<Item>& item) {
    if (!item || item->type != kData || item->payload.size() < 8) return 0;
    return readLE(item->payload, 0, 8);
}

// An array of at most kMaxPathComponents elements (the only arrays read are a path's).
std::optional<std::vector<std::uint32_t>> arrayOf(const std::optional<Item>& item) {
    if (!item || item->type != kArray || item->payload.size() % 4 != 0 || item->payload.size() / 4 > kMaxPathComponents) {
        return std::nullopt;
    }
    std::vector<std::uint32_t> offsets;
    offsets.reserve(item->payload.size() / 4);
    for (std::size_t i = 0; i < item->payload.size(); i += 4) offsets.push_back(read32(item->payload, i));
    return offsets;
}

Volume readVolume(const Reader& r, std::uint32_t table) {
    Volume v;
    if (const auto path = stringOf(r.find(table, kVolPath))) {
        v.path = *path;
    } else if (const auto url = r.find(table, kVolURL); url && url->type == kURL && url->payload.size() <= kMaxTextBytes) {
        v.path = pathOfFileURLString(url->payload).value_or("");
        while (v.path.size() > 1 && v.path.back() == '/') v.path.pop_back();
    }
    v.name = stringOf(r.find(table, kVolName)).value_or("");
    v.uuid = stringOf(r.find(table, kVolUUID)).value_or("");
    v.capacity = static_cast<std::uint64_t>(integerOf(r.find(table, kVolCapacity)).value_or(0));
    v.creationDate = dateOf(r.find(table, kVolCreationDate)).value_or(0);
    v.flags = flagsOf(r.find(table, kVolProps));
    return v;
}

}  // namespace

// ---- containers ----------------------------------------------------------------------------

std::optional<std::string_view> dataArea(std::string_view bytes) {
    bytes = bytes.substr(0, std::min(bytes.size(), kMaxBookmarkBytes));
    std::uint64_t start = 0, end = 0;
    if (bytes.size() >= 0x1C && bytes.substr(0, kFileMagic.size()) == kFileMagic) {
        start = read32(bytes, 0x10);
        end = start + read32(bytes, 0x18);
    } else if (bytes.size() >= 0x10 && (bytes.substr(0, 4) == "book" || bytes.substr(0, 4) == "alis")) {
        start = read32(bytes, 0x0C);
        end = read32(bytes, 0x04);
    } else {
        return std::nullopt;
    }
    if (start < 0x10 || start > end || end > bytes.size()) return std::nullopt;
    return bytes.substr(start, end - start);
}

std::string bookmarkData(std::string_view area) {
    std::string out(kDataHeaderSize, '\0');
    out.replace(0, 4, "book");
    putLE(out, 0x04, kDataHeaderSize + area.size(), 4);
    putLE(out, 0x08, kVersion, 4);
    putLE(out, 0x0C, kDataHeaderSize, 4);
    return out.append(area);
}

std::string bookmarkFile(std::string_view area, double createdAt) {
    std::string out(kFileHeaderSize, '\0');
    out.replace(0, kFileMagic.size(), kFileMagic);
    putLE(out, 0x10, kFileHeaderSize, 4);
    putLE(out, 0x14, kFileHeaderSize, 4);
    putLE(out, 0x18, area.size(), 4);
    putLE(out, 0x1C, kVersion, 4);
    putLE(out, 0x28, std::bit_cast<std::uint64_t>(createdAt), 8);  // this one double is little-endian
    return out.append(area);
}

// ---- data area -----------------------------------------------------------------------------

std::string encode(const Contents& c) {
    Builder b;
    const std::uint32_t options = b.number(static_cast<std::int32_t>(c.creationOptions), false);
    Entries entries;
    if (c.pathComponents) {
        std::vector<std::uint32_t> names;
        for (const std::string& name : *c.pathComponents) names.push_back(b.string(name));
        entries.emplace_back(kPathComponents, b.array(names));
    }
    if (!c.fileIDs.empty()) {
        std::vector<std::uint32_t> ids;
        for (const auto& id : c.fileIDs) ids.push_back(id ? b.number(*id, true) : b.add(kNull, {}));
        entries.emplace_back(kFileIDs, b.array(ids));
    }
    entries.emplace_back(kResourceProps, b.properties(c.resourceFlags, kResourcePropsMask));
    if (c.fileName) entries.emplace_back(kFileName, b.string(*c.fileName));
    if (c.targetURL) entries.emplace_back(kTargetURL, b.add(kURL, *c.targetURL));
    entries.emplace_back(kCreationDate, b.date(c.creationDate));
    if (c.rootVolume) {
        // One element per depth from "/": the root volume's table at 0, ours where it is mounted.
        std::vector<std::int32_t> depths((c.pathComponents ? c.pathComponents->size() : 0) + 1, 0);
        depths[0] = static_cast<std::int32_t>(kRootVolumeTable);
        if (const std::size_t at = depthOf(c.volume.path); at > 0 && at < depths.size()) depths[at] = kPrimaryTable;
        std::vector<std::uint32_t> items;
        for (const std::int32_t d : depths) items.push_back(b.number(d, false));
        entries.emplace_back(kVolInfoDepths, b.array(items));
    }
    const Entries volume = addVolume(b, c.volume);
    entries.insert(entries.end(), volume.begin(), volume.end());
    const std::uint32_t yes = b.add(kTrue, {});  // one item serves every key that is true
    if (c.volumeWasBoot) entries.emplace_back(kVolWasBoot, yes);
    entries.emplace_back(kWasFileIDFormat, yes);
    entries.emplace_back(kCreationOptions, options);
    if (!c.displayName.empty()) entries.emplace_back(kDisplayName, b.string(c.displayName));

    const Entries root = c.rootVolume ? addVolume(b, *c.rootVolume) : Entries{};
    const std::uint32_t primary = b.table(kPrimaryTable, std::move(entries));
    if (c.rootVolume) b.chain(primary, b.table(kRootVolumeTable, root));
    return b.finish(primary);
}

std::optional<Reader> Reader::open(std::string_view area) {
    if (area.size() < 4 || area.size() > kMaxBookmarkBytes) return std::nullopt;
    Reader r(area);
    std::unordered_set<std::uint32_t> seen;
    std::uint64_t entries = 0;  // in all tables: tables may overlap, but never hold more than the area
    for (std::uint32_t at = read32(area, 0); at != 0;) {
        if (r.tables_.size() == kMaxTables || !seen.insert(at).second) return std::nullopt;
        if (std::uint64_t{at} + kTableHeaderSize > area.size() || read32(area, at + 4) != kTableType) {
            return std::nullopt;
        }
        const std::uint32_t count = read32(area, at + 16);
        entries += count;
        if (std::uint64_t{at} + kTableHeaderSize + std::uint64_t{count} * kTableEntrySize > area.size() ||
            entries > area.size() / kTableEntrySize) {
            return std::nullopt;
        }
        Table t{read32(area, at + 8), {}};
        t.entries.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::size_t e = at + kTableHeaderSize + std::size_t{i} * kTableEntrySize;
            t.entries.emplace_back(read32(area, e), read32(area, e + 4));
        }
        r.tables_.push_back(std::move(t));
        at = read32(area, at + 12);
    }
    if (r.tables_.empty()) return std::nullopt;
    return r;
}

std::optional<Item> Reader::item(std::uint32_t offset) const {
    if (offset < 4 || std::uint64_t{offset} + 8 > area_.size()) return std::nullopt;
    const std::uint32_t length = read32(area_, offset);
    if (std::uint64_t{offset} + 8 + length > area_.size()) return std::nullopt;
    return Item{read32(area_, offset + 4), area_.substr(offset + 8, length)};
}

std::optional<std::uint32_t> Reader::offsetOf(std::uint32_t id, std::uint32_t key) const {
    for (const Table& t : tables_) {
        if (t.id != id) continue;
        for (const auto& [k, offset] : t.entries) {
            if (k == key) return offset;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<Item> Reader::find(std::uint32_t id, std::uint32_t key) const {
    const std::optional<std::uint32_t> offset = offsetOf(id, key);
    return offset ? item(*offset) : std::nullopt;
}

std::optional<Contents> decode(std::string_view bytes) {
    const std::optional<std::string_view> area = dataArea(bytes);
    if (!area) return std::nullopt;
    const std::optional<Reader> r = Reader::open(*area);
    if (!r) return std::nullopt;
    // Keys are looked up in the target's own table: the one with id 1, else the first.
    const bool hasPrimary = std::any_of(r->tables().begin(), r->tables().end(),
                                        [](const Table& t) { return t.id == kPrimaryTable; });
    const std::uint32_t own = hasPrimary ? kPrimaryTable : r->tables().front().id;

    Contents c;
    if (const std::optional<std::uint32_t> listed = r->offsetOf(own, kPathComponents)) {
        const std::optional<std::vector<std::uint32_t>> offsets = arrayOf(r->item(*listed));
        if (!offsets) return std::nullopt;
        c.pathComponents.emplace();
        c.pathComponents->reserve(offsets->size());
        std::size_t joined = 0;
        for (const std::uint32_t o : *offsets) {
            const std::optional<std::string_view> name = stringOf(r->item(o));
            // A path made of something else, or longer than a path can be, cannot be followed.
            if (!name || name->size() > kMaxNameBytes || (joined += 1 + name->size()) > kMaxPathBytes) return std::nullopt;
            c.pathComponents->emplace_back(*name);
        }
    }
    const std::optional<Item> ids = r->find(own, kFileIDs);
    if (ids && ids->type == kArray && ids->payload.size() / 4 > kMaxPathComponents) return std::nullopt;
    if (const auto offsets = arrayOf(ids)) {
        for (const std::uint32_t o : *offsets) c.fileIDs.push_back(integerOf(r->item(o)));
    }
    c.resourceFlags = flagsOf(r->find(own, kResourceProps));
    c.creationDate = dateOf(r->find(own, kCreationDate)).value_or(0);
    if (const auto url = r->find(own, kTargetURL); url && url->type == kURL && url->payload.size() <= kMaxTextBytes) {
        c.targetURL = std::string(url->payload);
    }
    if (const auto name = stringOf(r->find(own, kFileName))) c.fileName = std::string(*name);
    c.volume = readVolume(*r, own);
    const std::optional<Item> wasBoot = r->find(own, kVolWasBoot);
    c.volumeWasBoot = wasBoot && wasBoot->type == kTrue;
    if (own != kRootVolumeTable && std::any_of(r->tables().begin(), r->tables().end(),
                                               [](const Table& t) { return t.id == kRootVolumeTable; })) {
        c.rootVolume = readVolume(*r, kRootVolumeTable);
    }
    c.creationOptions = static_cast<std::uint32_t>(integerOf(r->find(own, kCreationOptions)).value_or(0));
    c.displayName = stringOf(r->find(own, kDisplayName)).value_or("");
    return c;
}

}  // namespace perivane::platform::bookmark
