// Replays every seed of every fuzz corpus (fuzz/corpus/TARGET) through the contract its target
// checks, which aborts when it is broken. A seed named "refused-..." must be refused, every
// other one accepted (each check header says what its target accepts).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <map>

#include "fuzz/bookmark_check.h"
#include "fuzz/domain_loader_check.h"
#include "fuzz/path_styles_check.h"
#include "fuzz/process_area_check.h"
#include "fuzz/user_dirs_check.h"
#include "scratch_home.h"

using namespace perivane::fuzz;

TEST(FuzzCorpus, EverySeedKeepsItsTargetsContractAndVerdict) {
    const std::map<std::string, std::function<bool(std::string_view)>> checks = {
        {"domain_loader", [](std::string_view b) { return checkDomainBytes(b).has_value(); }},
        {"bookmark", [](std::string_view b) { return checkBookmarkBytes(b).has_value(); }},
        {"process_area", checkProcessArea}, {"path_styles", checkPathStyles}, {"user_dirs", checkUserDirs}};
    size_t corpora = 0;
    for (const auto& corpus : std::filesystem::directory_iterator(PERIVANE_FUZZ_CORPORA)) {
        const auto check = checks.find(corpus.path().filename());
        ASSERT_NE(check, checks.end()) << "no check for " << corpus.path();
        ++corpora;
        size_t seeds[2] = {0, 0};  // accepted, refused
        for (const auto& seed : std::filesystem::directory_iterator(corpus)) {
            const bool refused = seed.path().filename().string().starts_with("refused-");
            std::cerr << "replaying " << seed.path() << "\n";  // the last line shown when a check aborts
            EXPECT_EQ(check->second(readWholeFile(seed.path())), !refused) << seed.path();
            ++seeds[refused];
        }
        EXPECT_TRUE(seeds[0] > 0 && seeds[1] > 0) << corpus.path() << " needs accepted and refused seeds";
    }
    EXPECT_EQ(corpora, checks.size());
}
