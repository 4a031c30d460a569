#include <gtest/gtest.h>

#include "platform/preferences/property_list.h"
#include "small_stack.h"

using namespace perivane::platform::plist;

namespace {

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
