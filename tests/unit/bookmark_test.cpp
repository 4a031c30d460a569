// The bookmark writer, reader and resolver on real items and on the Finder's own files; the
// natives' use of them is tested from Java (AliasTest).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

#include "fuzz/bookmark_check.h"
#include "platform/base/file_system.h"
#include "platform/files/volumes.h"
#include "scratch_home.h"

using namespace perivane::platform;
namespace bm = perivane::platform::bookmark;

namespace {

std::uint32_t u32(std::string_view b, size_t at) {
    std::uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

void put32(std::string& b, size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); }

NSURL urlOf(const std::string& path) { return *NSURL::fileURLWithPath(utf8ToUtf16Lossy(path)); }

std::vector<std::string> namesOf(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& part : std::filesystem::path(path)) {
        if (part != "/") names.push_back(part);
    }
    return names;
}

// What every data area we write must be: the creation options first, items on 4-byte
// boundaries, every table sorted by key with the platform's size field.
void expectWellFormed(std::string_view area) {
    const std::optional<bm::Reader> r = bm::Reader::open(area);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->item(4)->type, 0x0303u);
    EXPECT_EQ(u32(r->item(4)->payload, 0), 0x400u);
    for (std::uint32_t at = u32(area, 0); at != 0; at = u32(area, at + 12)) {
        EXPECT_EQ(u32(area, at), 12 + 12 * u32(area, at + 16));
    }
    for (const bm::Table& t : r->tables()) {
        EXPECT_TRUE(std::is_sorted(t.entries.begin(), t.entries.end()));
        for (const auto& [key, offset] : t.entries) EXPECT_TRUE(offset % 4 == 0 && r->item(offset)) << key;
    }
}

bm::Contents sample() {
    bm::Contents c;
    c.pathComponents = {"media", "STICK", "caf\u00e9"};
    c.fileIDs = {std::nullopt, 42, std::int64_t{1} << 61};
    c.resourceFlags = bm::kRegularFile;
    c.creationDate = 700000000.25;
    c.targetURL = "file:///media/STICK/caf%C3%A9";
    c.volume = {"/media/STICK", "STICK", "0A1B2C3D-4E5F-4061-8283-A4B5C6D7E8F9", 1u << 30, bm::kUnixEpoch, 0x101};
    c.rootVolume = bm::Volume{"/", "Filesystem root", "11111111-2222-3333-4444-555555555555", 1ull << 40, -1.5, 0x81};
    c.creationOptions = 0x400;
    c.displayName = "caf\u00e9";
    return c;
}

}  // namespace

TEST(Bookmark, RealItemsRoundTripThroughAliasFiles) {
    ScratchHome scratch;
    const std::string base = *canonicalPath(scratch.path());
    std::filesystem::create_directory(base + "/Ordner");
    std::filesystem::create_directory(base + "/Cafe\u0301");  // a decomposed name stays decomposed
    std::ofstream(base + "/plain.txt") << "x";
    std::ofstream(base + "/Caf\u00e9 \u2615.txt") << "x";
    const std::shared_ptr<const VolumeTable> volumes = currentVolumeTable();
    for (const std::string& target : {base + "/plain.txt", base + "/Ordner", base + "/Caf\u00e9 \u2615.txt",
                                      base + "/Cafe\u0301", std::string("/")}) {
        SCOPED_TRACE(target);
        const std::optional<NSData> data =
            bookmarkDataWithOptions(urlOf(target), NSURLBookmarkCreationSuitableForBookmarkFile, nullptr);
        ASSERT_TRUE(data);
        EXPECT_TRUE(data->starts_with("book") && u32(*data, 4) == data->size() && u32(*data, 12) == 0x30);
        expectWellFormed(std::string_view(*data).substr(0x30));
        const std::optional<bm::Contents> c = bm::decode(*data);
        ASSERT_TRUE(c);
        const std::vector<std::string> names = namesOf(target);
        EXPECT_EQ(c->pathComponents, names);
        ASSERT_EQ(c->fileIDs.size(), names.size());
        std::string prefix;
        struct stat onVolume{};
        ASSERT_EQ(::stat(c->volume.path.c_str(), &onVolume), 0);
        for (size_t i = 0; i < names.size(); ++i) {
            prefix += "/" + names[i];
            struct stat st{};
            ASSERT_EQ(::lstat(prefix.c_str(), &st), 0);  // IDs only from the volume recorded
            EXPECT_EQ(c->fileIDs[i], st.st_dev == onVolume.st_dev ? std::optional<std::int64_t>(st.st_ino) : std::nullopt) << prefix;
        }
        const Volume* volume = volumes->containing(target);
        EXPECT_EQ(c->volume.path, volume->mountPoint);
        EXPECT_EQ(c->volumeWasBoot, volume->mountPoint == "/");
        EXPECT_EQ(c->rootVolume.has_value(), !c->volumeWasBoot);
        EXPECT_EQ(c->volume.uuid.size(), 36u);
        EXPECT_EQ(c->resourceFlags, target.ends_with(".txt") ? bm::kRegularFile
                                    : target == "/"           ? bm::kDirectory | bm::kVolumeRoot
                                                              : bm::kDirectory);
        EXPECT_EQ(c->displayName, names.empty() ? c->volume.name : names.back());

        const std::string alias = base + "/alias";
        ASSERT_TRUE(writeBookmarkData(*data, urlOf(alias), 0, nullptr));
        const std::string file = readWholeFile(alias);
        EXPECT_EQ(file.substr(0, 16), std::string("book\0\0\0\0mark\0\0\0\0", 16));
        EXPECT_TRUE(u32(file, 0x10) == 0x38 && u32(file, 0x14) == 0x38 && u32(file, 0x18) == file.size() - 0x38);
        EXPECT_EQ(file.substr(0x38), data->substr(0x30));
        char info[64];
        ASSERT_EQ(::getxattr(alias.c_str(), "user.com.apple.FinderInfo", info, sizeof info), 32);
        EXPECT_EQ(std::string(info, 32), std::string("alisMACS\x80", 9) + std::string(23, '\0'));
        EXPECT_EQ(bookmarkDataWithContentsOfURL(urlOf(alias), nullptr), data) << "the same data back";
        const std::optional<NSURL> resolved = URLByResolvingBookmarkData(*data, 768, nullptr, nullptr);
        ASSERT_TRUE(resolved);
        EXPECT_EQ(resolved->fileSystemPath(), target);
    }
    const auto proc = bm::decode(*bookmarkDataWithOptions(urlOf("/proc/version"), 0, nullptr));
    EXPECT_EQ(proc->fileIDs, (std::vector<std::optional<std::int64_t>>(2))) << "proc's own IDs name nothing on the root volume";
}

TEST(BookmarkFormat, ContentsSurviveBothContainersWithTwoTablesAndNullIDs) {
    const bm::Contents c = sample();
    const std::string area = bm::encode(c);
    expectWellFormed(area);
    EXPECT_EQ(bm::decode(bm::bookmarkData(area)), c);
    EXPECT_EQ(bm::decode(bm::bookmarkFile(area, 1.0)), c);
    // The root volume's table is chained after ours; the depths say where each volume sits.
    const bm::Reader r = *bm::Reader::open(area);
    ASSERT_EQ(r.tables().size(), 2u);
    EXPECT_EQ(r.tables()[1].id, bm::kRootVolumeTable);
    std::vector<std::uint32_t> depths;
    const std::string_view offsets = r.find(1, bm::kVolInfoDepths)->payload;
    for (size_t i = 0; i < offsets.size(); i += 4) depths.push_back(u32(r.item(u32(offsets, i))->payload, 0));
    EXPECT_EQ(depths, (std::vector<std::uint32_t>{0xF000, 0, 1, 0}));
}

TEST(BookmarkFormat, FinderAliasFilesDecodeAndResolveByPath) {
    const auto folder = bm::decode(readWholeFile(PERIVANE_FIXTURES "/alias/folder.alias"));
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->pathComponents, (std::vector<std::string>{"System", "Library", "Perl"}));
    EXPECT_TRUE(std::all_of(folder->fileIDs.begin(), folder->fileIDs.end(), [](auto id) { return id.has_value(); }));
    EXPECT_EQ(folder->fileIDs.size(), 3u);
    EXPECT_TRUE(folder->volumeWasBoot && folder->volume.path == "/" && !folder->rootVolume);
    EXPECT_EQ(folder->volume.uuid, "07FD1A5D-7D66-475A-AF51-934CDEF2D60C");
    EXPECT_EQ(folder->creationOptions, 0x400u);
    const bool perl = std::filesystem::exists("/System/Library/Perl");
    EXPECT_EQ(resolveByPath(*folder, [](auto&) { return true; }).outcome,
              perl ? Resolution::found : Resolution::fileNotFound);

    const std::string removableBytes = readWholeFile(PERIVANE_FIXTURES "/alias/removable.alias");
    const auto removable = bm::decode(removableBytes);
    ASSERT_TRUE(removable);
    EXPECT_EQ(removable->pathComponents, (std::vector<std::string>{"Volumes", "SANDISK", "untitled"}));
    // "Volumes" lies on the boot volume; the FAT volume's own items have no persistent IDs.
    EXPECT_EQ(removable->fileIDs, (std::vector<std::optional<std::int64_t>>{23589, std::nullopt, std::nullopt}));
    EXPECT_TRUE(!removable->volumeWasBoot && removable->volume.path == "/Volumes/SANDISK");
    EXPECT_EQ(removable->rootVolume->path, "/");
    const auto tables = bm::Reader::open(*bm::dataArea(removableBytes))->tables();
    EXPECT_TRUE(tables.size() == 2 && tables[0].id == 1 && tables[1].id == bm::kRootVolumeTable);
    if (!std::filesystem::exists("/Volumes/SANDISK/untitled")) {
        EXPECT_EQ(resolveByPath(*removable, [](auto&) { return false; }).outcome, Resolution::volumeNotMounted);
        EXPECT_EQ(resolveByPath(*removable, [](auto&) { return true; }).outcome, Resolution::fileNotFound);
    }
}

TEST(Bookmark, ResolvesByPathInEitherFormAndNeverMounts) {
    ScratchHome scratch;
    const std::string base = *canonicalPath(scratch.path());
    std::filesystem::create_directory(base + "/Caf\u00e9");  // stored composed, as Linux names are
    auto withPath = [](std::vector<std::string> names, std::string volume = "/") {
        bm::Contents c;
        c.pathComponents = std::move(names);
        c.volume.path = std::move(volume);
        return c;
    };
    std::vector<std::string> decomposed = namesOf(base);
    decomposed.push_back("Cafe\u0301");  // as the platform stores it
    bm::Contents byURL, byName = withPath({}, base);
    byURL.targetURL = "file://" + base + "/Caf%C3%A9";
    byName.pathComponents.reset();
    byName.fileName = "Caf\u00e9";
    struct Case { bm::Contents c; bool mounted; Resolution outcome; };
    for (const auto& [c, mounted, outcome] : std::vector<Case>{
             {withPath(decomposed), false, Resolution::found},
             {byURL, false, Resolution::found},
             {byName, false, Resolution::found},
             {withPath(namesOf(base + "/missing")), false, Resolution::fileNotFound},
             {withPath({"media", "gone", "x"}, "/media/gone"), false, Resolution::volumeNotMounted},
             {withPath({"media", "gone", "x"}, "/media/gone"), true, Resolution::fileNotFound},
             {withPath({"tmp", "..", "etc"}), true, Resolution::unusable},
             {withPath({"tmp", ""}), true, Resolution::unusable},
             {withPath({"a/b"}), true, Resolution::unusable},
             {withPath({std::string("a\0b", 3)}), true, Resolution::unusable},
             {withPath({"\xff"}), true, Resolution::unusable},
             {bm::Contents{}, true, Resolution::unusable},
         }) {
        const ResolvedPath r = resolveByPath(c, [&](const std::string&) { return mounted; });
        EXPECT_EQ(r.outcome, outcome) << r.path;
        if (outcome == Resolution::found) { EXPECT_EQ(r.path, base + "/Caf\u00e9"); }
    }
}

TEST(BookmarkFormat, MalformedInputsFailCleanly) {
    const std::string area = bm::encode(sample());
    const bm::Reader r = *bm::Reader::open(area);
    const std::uint32_t first = u32(area, 0);
    const auto& entries = r.tables()[0].entries;
    const std::uint32_t path = std::find_if(entries.begin(), entries.end(), [](auto e) {
                                   return e.first == bm::kPathComponents;
                               })->second;
    const std::uint32_t component = u32(area, path + 8);
    auto changed = [&](auto change) {
        std::string a = area;
        change(a);
        return bm::bookmarkData(a);
    };
    std::string pastEnd = bm::bookmarkData(area);
    put32(pastEnd, 0x0C, static_cast<std::uint32_t>(pastEnd.size() + 8));
    const std::map<std::string, std::string> inputs = {
        {"empty", ""},
        {"truncated header", bm::bookmarkFile(area, 0).substr(0, 0x1B)},
        {"truncated data", bm::bookmarkFile(area, 0).substr(0, 0x38 + area.size() - 1)},
        {"data start past the end", pastEnd},
        {"first table past the end", changed([&](std::string& a) { put32(a, 0, a.size() + 4); })},
        {"table count overrun", changed([&](std::string& a) { put32(a, first + 16, 0x0FFFFFFF); })},
        {"looping table chain", changed([&](std::string& a) { put32(a, first + 12, first); })},
        {"item length overrun", changed([&](std::string& a) { put32(a, path, 0xFFFFFFF0); })},
        {"self-referencing array", changed([&](std::string& a) { put32(a, path + 8, path); })},
        {"non-string component", changed([&](std::string& a) { put32(a, path + 8, 4); })},
        {"unknown type as component", changed([&](std::string& a) { put32(a, component + 4, 0x0999); })},
    };
    for (const auto& [what, bytes] : inputs) {
        EXPECT_FALSE(perivane::fuzz::checkBookmarkBytes(bytes)) << what;
    }
    // An unknown item where the reader needs none is skipped.
    const std::uint32_t name = entries.back().second;  // 0xF017, the display name, sorts last
    const auto c = bm::decode(changed([&](std::string& a) { put32(a, name + 4, 0x0999); }));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->pathComponents, sample().pathComponents);
    EXPECT_EQ(c->displayName, "");
}

TEST(Bookmark, WritesOnlyWholeAliasFilesAndReadsOnlyBookmarks) {
    ScratchHome scratch;
    const std::string base = *canonicalPath(scratch.path());
    std::ofstream(base + "/target") << "x";
    std::filesystem::create_directory(base + "/folder");
    std::ofstream(base + "/folder/kept") << "x";
    const std::optional<NSData> data = bookmarkDataWithOptions(urlOf(base + "/target"), 1024, nullptr);
    std::optional<NSError> error;
    EXPECT_FALSE(writeBookmarkData(*bookmarkDataWithOptions(urlOf(base + "/target"), 0, nullptr),
                                   urlOf(base + "/plain"), 0, &error)) << "not made for a file";
    EXPECT_EQ(error->code, NSFileWriteUnknownError);
    EXPECT_FALSE(writeBookmarkData(*data, urlOf(base + "/folder"), 0, &error)) << "a folder is not replaced";
    EXPECT_FALSE(writeBookmarkData(*data, urlOf(base + "/no/such/alias"), 0, &error));
    std::ofstream(base + "/alias") << "old contents";
    ASSERT_TRUE(writeBookmarkData(*data, urlOf(base + "/alias"), 0, &error));
    EXPECT_EQ(bookmarkDataWithContentsOfURL(urlOf(base + "/alias"), nullptr), data);
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(base)) left.push_back(e.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"alias", "folder", "target"})) << "no temporary file left";
    EXPECT_TRUE(std::filesystem::exists(base + "/folder/kept"));
    // What is not a regular file is not read: NativeSweepTest's hostile files.
}
