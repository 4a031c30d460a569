#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/user_defaults.h"
#include "scratch_home.h"

using namespace perivane::platform;
using plist::Dictionary;
using plist::Value;

namespace {

Dictionary sampleDomain(int entries) {
    Dictionary d;
    plist::Array a;
    for (int i = 0; i < entries; ++i) a.push_back(Value("entry " + std::to_string(i)));
    d.append("list", std::move(a));
    d.append("flag", true);
    return d;
}

std::vector<std::string> folderEntries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

// Files that exist but cannot be read as a domain: see the seed corpus replay.
TEST(UserDefaults, NoFileOrNoNameIsNil) {
    ScratchHome home;
    NSUserDefaults defaults = NSUserDefaults::standardUserDefaults();
    EXPECT_EQ(defaults.persistentDomainForName("com.example.none"), nullptr);
    std::filesystem::create_directories(home.domainFile("com.example.folder"));
    EXPECT_EQ(defaults.persistentDomainForName("com.example.folder"), nullptr);
    for (const char* name : {"", ".", "..", "../escape"}) EXPECT_EQ(NSUserDefaults::domainPath(name), std::nullopt);
    // A HOME that is empty or relative names no home folder (not the working directory).
    for (const char* relative : {"", "relative/home"}) {
        setenv("HOME", relative, 1);
        EXPECT_EQ(NSUserDefaults::domainPath("com.example.d"), std::nullopt) << relative;
    }
}

TEST(UserDefaults, SynchronizeWritesAtomicallyAndKeepsTheMode) {
    ScratchHome home;
    NSUserDefaults defaults = NSUserDefaults::standardUserDefaults();
    const std::string file = home.domainFile("com.example.d");
    auto stored = [] {
        const auto d = NSUserDefaults::standardUserDefaults().persistentDomainForName("com.example.d");
        return d ? *d : Dictionary();
    };
    auto mode = [](const std::string& path) {
        struct stat st{};
        return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
    };
    defaults.setPersistentDomain(sampleDomain(3), "com.example.d");
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_TRUE(readWholeFile(file).starts_with("bplist00"));
    EXPECT_EQ(mode(file), 0600u);
    EXPECT_EQ(mode(home.preferences()), 0700u);
    chmod(file.c_str(), 0644);
    const std::string before = readWholeFile(file);

    // The file-size limit makes the write stop part way (EFBIG), as a full disk would.
    struct rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    defaults.setPersistentDomain(sampleDomain(2000), "com.example.d");
    const bool written = defaults.synchronize();
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(readWholeFile(file), before);
    EXPECT_EQ(folderEntries(home.preferences()), std::vector<std::string>{"com.example.d.plist"});
    // The failed change stays with this object only, and goes out once writing works again.
    EXPECT_EQ(stored(), sampleDomain(3));
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_EQ(stored(), sampleDomain(2000));
    EXPECT_EQ(mode(file), 0644u);
    EXPECT_EQ(folderEntries(home.preferences()), std::vector<std::string>{"com.example.d.plist"});
}
