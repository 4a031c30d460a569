#include <gtest/gtest.h>
#include <plist/plist.h>
#include <pthread.h>

#include <fstream>
#include <sstream>

#include "platform/property_list.h"

using namespace perivane::platform::plist;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

const std::string kDockFixture = std::string(PERIVANE_FIXTURES) + "/dock/com.apple.dock.plist";

// libplist's own XML rendering of a binary or XML property list: an independent reading of
// every value, integer signs included.
std::string libplistXml(const std::string& bytes) {
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    if (root == nullptr) return "";
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    std::string text(xml, length);
    plist_to_xml_free(xml);
    plist_free(root);
    return text;
}

// A binary property list of `depth` arrays, each holding the next.
std::string nestedBinary(uint32_t depth) {
    std::string objects = "bplist00";
    std::vector<uint32_t> offsets;
    for (uint32_t i = 0; i < depth; ++i) {
        offsets.push_back(static_cast<uint32_t>(objects.size()));
        if (i + 1 == depth) {
            objects += '\xA0';
        } else {
            objects += '\xA1';
            objects += static_cast<char>((i + 1) >> 24);
            objects += static_cast<char>((i + 1) >> 16);
            objects += static_cast<char>((i + 1) >> 8);
            objects += static_cast<char>(i + 1);
        }
    }
    const uint64_t tableStart = objects.size();
    for (uint32_t o : offsets) {
        for (int s = 24; s >= 0; s -= 8) objects += static_cast<char>(o >> s);
    }
    std::string trailer(6, '\0');
    trailer += '\x04';  // offset size
    trailer += '\x04';  // reference size
    auto be64 = [&](uint64_t v) {
        for (int s = 56; s >= 0; s -= 8) trailer += static_cast<char>(v >> s);
    };
    be64(depth);
    be64(0);
    be64(tableStart);
    return objects + trailer;
}

// A binary property list of the given objects (one-byte references and offsets), the first
// being the top object.
std::string binaryOf(const std::vector<std::string>& objects) {
    std::string out = "bplist00";
    std::string table;
    for (const std::string& o : objects) {
        table += static_cast<char>(out.size());
        out += o;
    }
    const uint64_t tableStart = out.size();
    out += table;
    out += std::string(6, '\0') + "\x01\x01";
    for (uint64_t v : {uint64_t{objects.size()}, uint64_t{0}, tableStart}) {
        for (int s = 56; s >= 0; s -= 8) out += static_cast<char>(v >> s);
    }
    return out;
}

// Parses on a thread with a JVM thread's default stack (1 MiB), where libplist's recursion
// would overflow on deep input.
bool parsesOnSmallStack(const std::string& bytes) {
    struct Job {
        const std::string* bytes;
        bool parsed;
    } job{&bytes, false};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 1 << 20);
    pthread_t thread;
    pthread_create(&thread, &attr, [](void* p) -> void* {
        auto* j = static_cast<Job*>(p);
        j->parsed = parse(*j->bytes).has_value();
        return nullptr;
    }, &job);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    return job.parsed;
}

}  // namespace

TEST(PropertyList, RealDockFileRoundTripsEveryValue) {
    const std::string original = readFile(kDockFixture);
    ASSERT_TRUE(original.starts_with("bplist00"));
    const std::optional<Value> read = parse(original);
    ASSERT_TRUE(read && read->dictionary());
    const std::optional<std::string> written = toBinary(*read);
    ASSERT_TRUE(written && written->starts_with("bplist00"));
    EXPECT_EQ(parse(*written), read);
    // libplist reads the same values, in the same order, from both files.
    EXPECT_EQ(libplistXml(*written), libplistXml(original));

    // Values the model must keep exactly: key order, large and negative integers, reals.
    const Dictionary& d = *read->dictionary();
    ASSERT_GE(d.size(), 4u);
    EXPECT_EQ(d.entries()[0].key, "show-recents");
    EXPECT_EQ(d.entries()[3].key, "version");
    const Value& other = (*d.find("persistent-others")->array())[0];
    EXPECT_EQ(*other.dictionary()->find("GUID"), Value(Integer::fromSigned(2904540896)));
    const Dictionary& tile = *other.dictionary()->find("tile-data")->dictionary();
    EXPECT_EQ(*tile.find("preferreditemsize"), Value(Integer::fromSigned(-1)));
    EXPECT_EQ(*tile.find("parent-mod-date"), Value(Integer::fromSigned(46655652985443)));
    EXPECT_NE(std::get_if<Data>(&tile.find("book")->v), nullptr);
    EXPECT_EQ(*d.find("tilesize"), Value(64.0));
}

TEST(PropertyList, XmlInBinaryOutKeepsTypesSignsAndText) {
    const std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
  <key>z-first</key><string>Cafe&#x301; &lt;ok&gt; &#x1F600;</string>
  <key>a-second</key><array>
    <integer>-5</integer><integer>9223372036854775807</integer>
    <integer>9223372036854775808</integer><integer>18446744073709551615</integer>
    <real>1.5</real><true/><false/><date>2020-02-03T04:05:06Z</date><data>AAEC/w==</data>
    <dict/><array/><string></string>
  </array>
</dict></plist>)";
    const std::optional<Value> read = parse(xml);
    ASSERT_TRUE(read && read->dictionary());
    const Dictionary& d = *read->dictionary();
    EXPECT_EQ(d.entries()[0].key, "z-first");
    EXPECT_EQ(*d.find("z-first")->string(), "Cafe\xCC\x81 <ok> \xF0\x9F\x98\x80");
    const Array& a = *d.find("a-second")->array();
    ASSERT_EQ(a.size(), 12u);
    EXPECT_EQ(a[0], Value(Integer::fromSigned(-5)));
    EXPECT_EQ(a[1], Value(Integer::fromSigned(INT64_MAX)));
    EXPECT_TRUE(a[2].integer()->isLargeUnsigned());
    EXPECT_EQ(a[3], Value(Integer::fromUnsigned(UINT64_MAX)));
    EXPECT_NE(a[3], Value(Integer::fromSigned(-1)));
    EXPECT_EQ(a[8], Value(Data{0, 1, 2, 255}));

    const std::optional<std::string> binary = toBinary(*read);
    ASSERT_TRUE(binary && binary->starts_with("bplist00"));
    EXPECT_EQ(parse(*binary), read);
    // A date with a fraction of a second keeps its exact value through rewrites.
    for (double seconds : {602449506.123456789, -1.5e-7, 1e9 + 0.999999}) {
        const Value date(Date{seconds});
        EXPECT_EQ(parse(*toBinary(date)), date) << seconds;
    }
    const std::string again = libplistXml(*binary);
    EXPECT_NE(again.find("<integer>-5</integer>"), std::string::npos);
    EXPECT_NE(again.find("<integer>18446744073709551615</integer>"), std::string::npos);
}

TEST(PropertyList, RefusesWhatItCannotKeepExactly) {
    const std::string original = readFile(kDockFixture);
    EXPECT_FALSE(parse(""));
    EXPECT_FALSE(parse("not a property list"));
    EXPECT_FALSE(parse(original.substr(0, original.size() / 2)));  // cut short
    EXPECT_FALSE(parse(original.substr(0, original.size() - 1)));  // trailer damaged
    // A dictionary holding the key "k" twice.
    EXPECT_TRUE(parse(binaryOf({{'\xD2', 1, 2, 3, 4}, {'\x51', 'k'}, {'\x51', 'j'}, {'\x08'}, {'\x09'}})));
    EXPECT_FALSE(parse(binaryOf({{'\xD2', 1, 1, 3, 4}, {'\x51', 'k'}, {'\x51', 'j'}, {'\x08'}, {'\x09'}})));
    EXPECT_FALSE(parse("<plist><string>\xC3(</string></plist>"));   // invalid UTF-8
    EXPECT_FALSE(parse("<plist><string>\xED\xA0\x80</string></plist>"));  // a surrogate
    EXPECT_TRUE(parse("<plist><string>ok</string></plist>"));
    // A value that was never read from a file is checked when it is written.
    EXPECT_FALSE(toBinary(Value(std::string("a\0b", 3))));
    Dictionary twice;
    twice.append("k", 1.0);
    twice.append("k", 2.0);
    EXPECT_FALSE(toBinary(Value(twice)));
}

TEST(PropertyList, DeepOrExplodingFilesAreRefusedBeforeParsing) {
    // 12,000 nested arrays (60 KB) overflow a 1 MiB stack inside libplist: never handed over.
    EXPECT_FALSE(withinLimits(nestedBinary(12000)));
    EXPECT_FALSE(parsesOnSmallStack(nestedBinary(12000)));
    EXPECT_FALSE(parsesOnSmallStack(nestedBinary(100000)));
    EXPECT_TRUE(parsesOnSmallStack(nestedBinary(kMaxDepth)));
    EXPECT_FALSE(withinLimits(nestedBinary(kMaxDepth + 1)));

    auto nestedXml = [](size_t depth) {
        std::string s = "<plist>";
        for (size_t i = 0; i < depth; ++i) s += "<array>";
        for (size_t i = 0; i < depth; ++i) s += "</array>";
        return s + "</plist>";
    };
    EXPECT_TRUE(parsesOnSmallStack(nestedXml(kMaxDepth)));
    EXPECT_FALSE(parsesOnSmallStack(nestedXml(kMaxDepth + 1)));
    EXPECT_FALSE(parsesOnSmallStack(nestedXml(200000)));
    // Closing tags hidden in quotes or comments must not lower the measured depth.
    EXPECT_FALSE(withinLimits("<plist><array a=\"></array>\"></array></plist>"));
    EXPECT_FALSE(withinLimits("<plist><array><!-- </array> --></array></plist>"));

    // 64 arrays, each holding the next twice: 2^64 values once the references are expanded.
    std::vector<std::string> bomb;
    for (int i = 0; i < 63; ++i) bomb.push_back({'\xA2', char(i + 1), char(i + 1)});
    bomb.push_back({'\x08'});
    EXPECT_FALSE(withinLimits(binaryOf(bomb)));
    bomb.resize(10);  // 2^10 values: fine
    bomb.push_back({'\x08'});
    EXPECT_TRUE(withinLimits(binaryOf(bomb)));
    EXPECT_TRUE(parse(binaryOf(bomb)));

    // Two arrays holding each other: a cycle.
    EXPECT_FALSE(withinLimits(binaryOf({{'\xA1', 1}, {'\xA1', 0}})));
    EXPECT_TRUE(withinLimits(binaryOf({{'\xA1', 1}, {'\xA1', 2}, {'\x09'}})));
    // A reference past the last object.
    EXPECT_FALSE(withinLimits(binaryOf({{'\xA1', 5}, {'\x09'}})));
}
