// The platform's bookmark format, as NSURL's bookmark calls make and read it: a data area of
// typed items found through tables of contents, in one of two containers (in-memory bookmark
// data with a 48-byte header, the alias file with a 56-byte one). Little-endian, except dates,
// which are big-endian doubles counting seconds from 2001-01-01 UTC. Bytes in, bytes out:
// nothing here touches the file system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace perivane::platform::bookmark {

// Keys of a table of contents that the writer stores or the reader uses.
enum Key : std::uint32_t {
    kTargetURL = 0x1003,
    kPathComponents = 0x1004,
    kFileIDs = 0x1005,
    kResourceProps = 0x1010,
    kFileName = 0x1020,
    kCreationDate = 0x1040,
    kVolInfoDepths = 0x2000,
    kVolPath = 0x2002,
    kVolURL = 0x2005,
    kVolName = 0x2010,
    kVolUUID = 0x2011,
    kVolCapacity = 0x2012,
    kVolCreationDate = 0x2013,
    kVolProps = 0x2020,
    kVolWasBoot = 0x2030,
    kWasFileIDFormat = 0xD001,
    kCreationOptions = 0xD010,
    kDisplayName = 0xF017,
};

// Table ids: the target's own table, and the root volume's when the target lies on another.
inline constexpr std::uint32_t kPrimaryTable = 1;
inline constexpr std::uint32_t kRootVolumeTable = 0xF000;

// Resource flags (kResourceProps) and volume flags (kVolProps) the writer sets.
inline constexpr std::uint64_t kRegularFile = 0x1, kDirectory = 0x2, kSymbolicLink = 0x4, kVolumeRoot = 0x8;
inline constexpr std::uint64_t kVolumeLocal = 0x1, kVolumeInternal = 0x80, kVolumeExternal = 0x100;
inline constexpr std::uint64_t kVolumeHasPersistentIDs = std::uint64_t{1} << 32;

// 1970-01-01 in the format's time, the date the platform writes when it knows none.
inline constexpr double kUnixEpoch = -978307200.0;

// Larger inputs are not bookmarks: every offset in the format is 32 bits.
inline constexpr std::size_t kMaxBookmarkBytes = 0xFFFFFFFF;

// Bounds on what decoding produces, so that what it makes stays within a small multiple of its
// input: a path of at most 4096 components (and as many file IDs), each name at most 255 bytes
// (NAME_MAX), the joined path at most 4096 bytes (PATH_MAX); beyond these the data is refused.
// Any other text longer than kMaxTextBytes (a percent-encoded path of PATH_MAX bytes and its
// scheme) reads as absent.
inline constexpr std::size_t kMaxPathComponents = 4096, kMaxNameBytes = 255, kMaxPathBytes = 4096;
inline constexpr std::size_t kMaxTextBytes = 3 * kMaxPathBytes + 16;

struct Volume {
    std::string path;  // its mount point: "/" or "/media/x"
    std::string name;
    std::string uuid;  // uppercase 8-4-4-4-12
    std::uint64_t capacity = 0;
    double creationDate = 0;
    std::uint64_t flags = 0;
    bool operator==(const Volume&) const = default;
};

// What a bookmark says of its target: what the writer stores and the reader gives back.
struct Contents {
    std::optional<std::vector<std::string>> pathComponents;  // from "/"; empty for "/" itself
    std::vector<std::optional<std::int64_t>> fileIDs;        // one per component; none: no persistent ID
    std::uint64_t resourceFlags = 0;
    double creationDate = 0;
    std::optional<std::string> targetURL;  // seldom written
    std::optional<std::string> fileName;   // written for a volume's root
    Volume volume;
    bool volumeWasBoot = false;
    std::optional<Volume> rootVolume;  // when the target lies on another volume than "/"
    std::uint32_t creationOptions = 0;
    std::string displayName;
    bool operator==(const Contents&) const = default;
};

// ---- containers ----------------------------------------------------------------------------

// The data area of bookmark bytes in either container, or nullopt when the header is neither
// or points outside the bytes. Bytes beyond the size the header gives are ignored.
std::optional<std::string_view> dataArea(std::string_view bytes);

// The in-memory form of a data area.
std::string bookmarkData(std::string_view area);

// The alias-file form of a data area, stamped with its creation time.
std::string bookmarkFile(std::string_view area, double createdAt);

// ---- data area -----------------------------------------------------------------------------

// The data area that stores `contents`: the creation options first, then the items, each on a
// 4-byte boundary, then the tables of contents with their entries sorted by key (a second table
// for the root volume when there is one).
std::string encode(const Contents& contents);

struct Table {
    std::uint32_t id = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;  // key, item offset
};

struct Item {
    std::uint32_t type = 0;
    std::string_view payload;
};

// A reader for a data area that trusts nothing in it: every offset and length is checked
// against the area, the chain of tables is followed at most kMaxTables steps and never twice
// through one table, the tables hold at most one entry per 12 bytes of the area in all, and
// items are read one level deep only (an array's elements, never theirs), so no input can make
// it read outside the area, recurse or loop, and what it holds is smaller than the area.
class Reader {
public:
    static constexpr std::size_t kMaxTables = 64;

    // Nullopt when the area has no chain of well-formed tables.
    static std::optional<Reader> open(std::string_view area);

    const std::vector<Table>& tables() const noexcept { return tables_; }
    // The item at `offset`, when it lies wholly inside the area.
    std::optional<Item> item(std::uint32_t offset) const;
    // The offset that table `id` lists under `key` (the first such entry), and its item.
    std::optional<std::uint32_t> offsetOf(std::uint32_t id, std::uint32_t key) const;
    std::optional<Item> find(std::uint32_t id, std::uint32_t key) const;

private:
    explicit Reader(std::string_view area) : area_(area) {}
    std::string_view area_;
    std::vector<Table> tables_;
};

// The contents of bookmark bytes in either container. Unknown keys and items are skipped, and
// known keys holding items of another type (or text beyond kMaxTextBytes) read as absent;
// nullopt when the container or the tables are broken, when the path components are listed but
// are not an array of strings, or when the path or its file IDs go beyond the bounds above.
std::optional<Contents> decode(std::string_view bytes);

}  // namespace perivane::platform::bookmark
