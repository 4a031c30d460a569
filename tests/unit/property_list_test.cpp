#include <gtest/gtest.h>
#include <plist/plist.h>

#include <filesystem>
#include <map>

#include "fuzz/domain_loader_check.h"
#include "platform/property_list.h"
#include "scratch_home.h"
#include "small_stack.h"

using namespace perivane::platform::plist;

namespace {

// libplist's own XML rendering of a property list: an independent reading of every value.
std::string libplistXml(const std::string& bytes) {
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    if (root == nullptr) { ADD_FAILURE() << "libplist cannot read it"; return ""; }
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    std::string text(xml, length);
    plist_to_xml_free(xml);
    plist_free(root);
    return text;
}

// A binary property list of raw objects, the first being the top one: 4-byte offsets,
// `refSize`-byte references.
std::string binaryOf(const std::vector<std::string>& objects, char refSize = 1) {
    auto bigEndian = [](std::string& s, uint64_t v, int bytes) {
        while (bytes-- > 0) s += static_cast<char>(v >> (8 * bytes));
    };
    std::string out = "bplist00", table;
    for (const std::string& o : objects) {
        bigEndian(table, out.size(), 4);
        out += o;
    }
    const uint64_t tableStart = out.size();
    out += table + std::string(6, '\0') + '\x04' + refSize;
    for (uint64_t v : {uint64_t{objects.size()}, uint64_t{0}, tableStart}) bigEndian(out, v, 8);
    return out;
}

// `depth` arrays, each holding the next.
std::string nestedBinary(uint32_t depth) {
    std::vector<std::string> objects;
    for (uint32_t i = 1; i < depth; ++i) objects.push_back({'\xA1', char(i >> 8), char(i)});
    objects.push_back("\xA0");
    return binaryOf(objects, 2);
}

std::string nestedXml(size_t depth) {
    std::string open, close;
    for (size_t i = 0; i < depth; ++i) open += "<array>", close += "</array>";
    return "<plist>" + open + close + "</plist>";
}

bool parsesOnSmallStack(const std::string& bytes) {
    bool parsed = false;
    onSmallStack(1 << 20, [&] { parsed = parse(bytes).has_value(); });
    return parsed;
}

}  // namespace

// Replays the fuzz seeds, each with the verdict it must get: a domain, a property list that is
// no domain, or refused outright. Whatever is read must be written and read back unchanged
// (checkDomainBytes aborts otherwise), and libplist, an independent reader, must read what we
// write as it reads the original: types, signs, text and order.
TEST(PropertyList, EverySeedGetsItsVerdict) {
    enum Verdict { Domain, NotADomain, Refused };
    const std::map<std::string, Verdict> expected = {
        {"dock-binary", Domain},       {"dock-xml", Domain},          {"every-type-binary", Domain},
        {"every-type-xml", Domain},    {"root-array", NotADomain},    {"truncated", Refused},
        {"nested-10", NotADomain},     {"nested-200", Refused},       {"shared-explosion", Refused},
        {"cycle", Refused},            {"repeated-key", Refused},     {"utf16-string", Domain},
        {"xml-comments", Domain},      {"xml-deep", Refused},         {"date-fraction", Domain},
    };
    size_t seen = 0;
    for (const auto& file : std::filesystem::directory_iterator(PERIVANE_FUZZ_CORPUS)) {
        const auto it = expected.find(file.path().filename());
        ASSERT_NE(it, expected.end()) << "no verdict for seed " << file.path();
        ++seen;
        const std::string bytes = readWholeFile(file.path());
        const std::optional<Value> value = perivane::fuzz::checkDomainBytes(bytes);
        EXPECT_EQ(!value ? Refused : value->dictionary() ? Domain : NotADomain, it->second) << it->first;
        if (value) { EXPECT_EQ(libplistXml(*toBinary(*value)), libplistXml(bytes)) << it->first; }
    }
    EXPECT_EQ(seen, expected.size());
}

TEST(PropertyList, RefusesWhatItCannotKeepExactly) {
    for (const std::string& bytes : {std::string(), std::string("not a property list"),
                                    std::string("<plist><string>\xC3(</string></plist>"),          // invalid UTF-8
                                    std::string("<plist><string>\xED\xA0\x80</string></plist>")}) {  // a surrogate
        EXPECT_FALSE(parse(bytes)) << bytes.substr(0, 40);
    }
    EXPECT_TRUE(parse("<plist><string>ok</string></plist>"));
    // A value that was never read from a file is checked when it is written.
    EXPECT_FALSE(toBinary(Value(std::string("a\0b", 3))));
    Dictionary twice;
    twice.append("k", 1.0);
    twice.append("k", 2.0);
    EXPECT_FALSE(toBinary(Value(twice)));
}

TEST(PropertyList, DeepOrExplodingFilesAreRefusedBeforeParsing) {
    // 12,000 nested arrays overflow a 1 MiB stack inside libplist: never handed over.
    EXPECT_FALSE(parsesOnSmallStack(nestedBinary(12000)));
    EXPECT_TRUE(parsesOnSmallStack(nestedBinary(kMaxDepth)));
    EXPECT_TRUE(parsesOnSmallStack(nestedXml(kMaxDepth)));

    // 10 arrays, each holding the next twice: 2^10 values once references are expanded, fine
    // (the seed "shared-explosion" has 2^39).
    std::vector<std::string> shared;
    for (int i = 1; i < 10; ++i) shared.push_back({'\xA2', char(i), char(i)});
    shared.push_back({'\x08'});
    EXPECT_TRUE(parse(binaryOf(shared)));
    for (const std::string& bytes : {nestedBinary(kMaxDepth + 1), nestedXml(kMaxDepth + 1),
                                     // Closing tags hidden in quotes or comments must not lower the measured depth.
                                     std::string("<plist><array a=\"></array>\"></array></plist>"),
                                     std::string("<plist><array><!-- </array> --></array></plist>"),
                                     binaryOf({{'\xA1', 5}, {'\x09'}})}) {  // a reference past the last object
        EXPECT_FALSE(withinLimits(bytes)) << bytes.substr(0, 60);
    }
}
