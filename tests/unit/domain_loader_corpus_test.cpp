#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "fuzz/domain_loader_check.h"
#include "platform/user_defaults.h"
#include "scratch_home.h"

using namespace perivane;

// Replays the fuzz seeds through the loader and the store, each with the verdict it must get:
// a domain, a property list that is no domain, or refused outright.
TEST(DomainLoaderCorpus, EverySeedGetsItsVerdict) {
    enum Verdict { Domain, NotADomain, Refused };
    const std::map<std::string, Verdict> expected = {
        {"dock-binary", Domain},       {"dock-xml", Domain},          {"every-type-binary", Domain},
        {"every-type-xml", Domain},    {"root-array", NotADomain},    {"truncated", Refused},
        {"nested-10", NotADomain},     {"nested-200", Refused},       {"shared-explosion", Refused},
        {"cycle", Refused},            {"repeated-key", Refused},     {"utf16-string", Domain},
        {"xml-comments", Domain},      {"xml-deep", Refused},         {"date-fraction", Domain},
    };
    ScratchHome home;
    size_t seen = 0;
    for (const auto& file : std::filesystem::directory_iterator(PERIVANE_FUZZ_CORPUS)) {
        const std::string name = file.path().filename();
        const auto it = expected.find(name);
        ASSERT_NE(it, expected.end()) << "no verdict for seed " << name;
        ++seen;
        const std::string bytes = readWholeFile(file.path());
        const std::optional<platform::plist::Value> value = fuzz::checkDomainBytes(bytes);
        const Verdict got = !value ? Refused : value->dictionary() ? Domain : NotADomain;
        EXPECT_EQ(got, it->second) << name;
        // The same bytes as a domain file on disk.
        home.writeDomainFile("com.example.seed", bytes);
        const auto domain = platform::NSUserDefaults::standardUserDefaults().persistentDomainForName("com.example.seed");
        EXPECT_EQ(domain != nullptr, it->second == Domain) << name;
    }
    EXPECT_EQ(seen, expected.size());
}
