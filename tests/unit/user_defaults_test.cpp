#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

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

TEST(UserDefaults, DomainsThatCannotBeReadAreNil) {
    ScratchHome home;
    NSUserDefaults defaults = NSUserDefaults::standardUserDefaults();
    EXPECT_EQ(defaults.persistentDomainForName("com.example.none"), nullptr);
    home.writeDomainFile("com.example.corrupt", "bplist00 this is not a property list");
    EXPECT_EQ(defaults.persistentDomainForName("com.example.corrupt"), nullptr);
    home.writeDomainFile("com.example.array", "<plist><array><string>x</string></array></plist>");
    EXPECT_EQ(defaults.persistentDomainForName("com.example.array"), nullptr);
    home.writeDomainFile("com.example.xml", "<plist><dict><key>k</key><string>v</string></dict></plist>");
    auto xml = defaults.persistentDomainForName("com.example.xml");
    ASSERT_NE(xml, nullptr);
    EXPECT_EQ(*xml->find("k"), Value("v"));
    std::filesystem::create_directories(home.domainFile("com.example.folder"));
    EXPECT_EQ(defaults.persistentDomainForName("com.example.folder"), nullptr);
    EXPECT_EQ(NSUserDefaults::domainPath("../escape"), std::nullopt);
    EXPECT_EQ(NSUserDefaults::domainPath(""), std::nullopt);
}

TEST(UserDefaults, SynchronizeWritesBinaryMakesFoldersAndKeepsTheMode) {
    ScratchHome home;
    NSUserDefaults defaults = NSUserDefaults::standardUserDefaults();
    defaults.setPersistentDomain(sampleDomain(3), "com.example.new");
    // Until synchronize, the change lives in this object only.
    EXPECT_EQ(*defaults.persistentDomainForName("com.example.new"), sampleDomain(3));
    EXPECT_EQ(NSUserDefaults::standardUserDefaults().persistentDomainForName("com.example.new"), nullptr);
    ASSERT_TRUE(defaults.synchronize());
    const std::string file = home.domainFile("com.example.new");
    EXPECT_TRUE(readWholeFile(file).starts_with("bplist00"));
    struct stat st{};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(stat(home.preferences().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);

    chmod(file.c_str(), 0644);
    defaults.setPersistentDomain(sampleDomain(5), "com.example.new");
    ASSERT_TRUE(defaults.synchronize());
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(*NSUserDefaults::standardUserDefaults().persistentDomainForName("com.example.new"),
              sampleDomain(5));
    // Only the domain file and nothing temporary beside it.
    EXPECT_EQ(folderEntries(home.preferences()), std::vector<std::string>{"com.example.new.plist"});
}

TEST(UserDefaults, HomeIsReadOnEveryCall) {
    ScratchHome first;
    NSUserDefaults defaults = NSUserDefaults::standardUserDefaults();
    first.writeDomainFile("com.example.d", "<plist><dict><key>home</key><string>first</string></dict></plist>");
    {
        ScratchHome second;
        second.writeDomainFile("com.example.d", "<plist><dict><key>home</key><string>second</string></dict></plist>");
        EXPECT_EQ(*defaults.persistentDomainForName("com.example.d")->find("home"), Value("second"));
    }
    EXPECT_EQ(*defaults.persistentDomainForName("com.example.d")->find("home"), Value("first"));
}

TEST(UserDefaults, AFailedWriteLeavesTheOldFileWhole) {
    ScratchHome home;
    NSUserDefaults defaults = NSUserDefaults::standardUserDefaults();
    defaults.setPersistentDomain(sampleDomain(2), "com.example.d");
    ASSERT_TRUE(defaults.synchronize());
    const std::string before = readWholeFile(home.domainFile("com.example.d"));

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
    EXPECT_EQ(readWholeFile(home.domainFile("com.example.d")), before);
    EXPECT_EQ(folderEntries(home.preferences()), std::vector<std::string>{"com.example.d.plist"});
    // The change is still pending and goes out once writing works again.
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_EQ(*NSUserDefaults::standardUserDefaults().persistentDomainForName("com.example.d"),
              sampleDomain(2000));
}

TEST(UserDefaults, TheDomainLockExcludesOtherThreads) {
    ScratchHome home;
    std::filesystem::create_directories(home.preferences());
    auto held = PersistentDomainLock::acquire("com.example.d");
    ASSERT_TRUE(held);
    std::atomic<bool> second{false};
    std::thread other([&] {
        auto lock = PersistentDomainLock::acquire("com.example.d");
        second = lock.has_value();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(second) << "a second holder got the lock while the first held it";
    held.reset();
    other.join();
    EXPECT_TRUE(second);
    // No preferences folder: nothing to lock, and nothing is created.
    ScratchHome empty;
    EXPECT_FALSE(PersistentDomainLock::acquire("com.example.d"));
    EXPECT_FALSE(std::filesystem::exists(empty.preferences()));
}
