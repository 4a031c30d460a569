// The preferences store and the Dock category: matching, and the guards around reading and
// writing the domain. Pinning against the real Dock file and the exact record are tested
// through the natives in DockTest.java, concurrent writers in ConcurrencyTest.java.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <tuple>

#include "VLPerivaneJNI/UserDefaultsAdditions.h"
#include "platform/preferences/ns_predicate.h"
#include "scratch_home.h"

using namespace perivane::additions;
using namespace perivane::platform::plist;
using perivane::platform::NSUserDefaults;

namespace {

const std::string kDock = "com.apple.dock";

// Each call with a fresh view of the defaults, as each native call has.
bool add(const std::u16string& path, const std::u16string& name = u"label") {
    NSUserDefaults d = NSUserDefaults::standardUserDefaults();
    return addApplicationToDock(d, path, name);
}
bool remove(const std::u16string& path) {
    NSUserDefaults d = NSUserDefaults::standardUserDefaults();
    return removeApplicationFromDock(d, path);
}

std::shared_ptr<const Dictionary> dockDomain() {
    return NSUserDefaults::standardUserDefaults().persistentDomainForName(kDock);
}

std::vector<std::string> urlStrings() {
    std::vector<std::string> urls;
    const auto domain = dockDomain();
    if (!domain) return {"(no readable domain)"};
    for (const Value& e : *domain->find("persistent-apps")->array()) {
        urls.push_back(*perivane::platform::valueForKeyPath(e, dock::kURLStringKeyPath)->string());
    }
    return urls;
}

Value entry(const std::string& url, int64_t type = 15) {
    Dictionary fileData, tileData, e;
    fileData.append("_CFURLString", url);
    fileData.append("_CFURLStringType", Integer::fromSigned(type));
    tileData.append("file-data", std::move(fileData));
    e.append("tile-type", "file-tile");
    e.append("tile-data", std::move(tileData));
    return e;
}

void writeDock(const ScratchHome& home, Array apps) {
    Dictionary d;
    d.append("version", Integer::fromSigned(1));
    d.append("persistent-apps", std::move(apps));
    home.writeDomainFile(kDock, *toBinary(Value(std::move(d))));
}

}  // namespace

// Each case: the Dock's entries, adds (+) and removals (-) with the answers they must give, and
// the URL strings left afterwards.
TEST(DockAdditions, MatchesWhatTheDockAndTheAddWrote) {
    struct Op { char kind; std::u16string path; bool answer; };
    struct Case { const char* what; Array apps; std::vector<Op> ops; std::vector<std::string> left; };
    const std::vector<Case> cases = {
        {"a substring, case-sensitive; every match removed, order kept; \"localhost\" in a path kept",
         {entry("file:///Applications/Foo.app/"), entry("file:///Applications/Bar.app/"),
          entry("file:///Applications/Foo.app/Contents/MacOS/"), entry("file:///Users/me/localhost-tools.app/"),
          entry("FILE:///Applications/Foo.app/"), entry("file:///Applications/Foo.app/")},
         {{'+', u"/Applications", false}, {'-', u"/Applications/Foo.app", true},
          {'-', u"/Users/me/localhost-tools.app", true}},
         {"file:///Applications/Bar.app/", "FILE:///Applications/Foo.app/"}},
        // A type-15 entry holding a plain path is no URL, and a longer type-0 path is not ours.
        {"plain-path records match by their whole path in Form C",
         {entry("/Applications/Cafe\u0301.app", 0), entry("/Applications/Other.app"),
          entry("/Applications/Other.app/Contents", 0), entry("file:///Applications/Keep.app/")},
         {{'+', u"/Applications/Caf\u00e9.app", false}, {'+', u"/Applications/Other.app", true},
          {'-', u"/Applications/Caf\u00e9.app", true}, {'-', u"/Applications/Other.app", true}},
         {"/Applications/Other.app", "/Applications/Other.app/Contents", "file:///Applications/Keep.app/"}},
        {"accented names decompose alike for add and remove; an item at the root; percent-encoding, and a "
         "last component kept composed where file names keep it (U+2260)",
         {entry("file:///Applications/Cafe%CC%81.app/"), entry("file:///Foo.app/"), entry("file:///%E2%89%A0%20%23.app/")},
         {{'+', u"/Applications/Caf\u00e9.app", false}, {'-', u"/Applications/Caf\u00e9.app", true},
          {'-', u"/Foo.app", true}, {'-', u"/\u2260 #.app", true}},
         {}},
    };
    for (const Case& c : cases) {
        ScratchHome home;
        writeDock(home, c.apps);
        for (const Op& op : c.ops) {
            EXPECT_EQ(op.kind == '+' ? add(op.path) : remove(op.path), op.answer) << c.what << ": " << op.kind;
        }
        EXPECT_EQ(urlStrings(), c.left) << c.what;
    }
}

TEST(DockAdditions, TheRemovalsTileStringForABareNameAndTheLoopbackHost) {
    EXPECT_EQ(dock::tileURLStringForRemoving(u"Foo.app"), u"file:///Foo.app/");  // rebuilt as "/Foo.app/"
    EXPECT_EQ(dock::withoutLoopbackHost(u"file://localhost/A.app/"), u"file:///A.app/");
}

// Domains that cannot be read, or would be refused when read back, and FIFOs: NativeSweepTest.
TEST(DockAdditions, NoDomainIsNeverMade) {
    ScratchHome home;
    EXPECT_FALSE(add(u"/Applications/A.app"));
    EXPECT_FALSE(remove(u"/Applications/A.app"));
    EXPECT_FALSE(std::filesystem::exists(home.preferences()));  // not even the folder or a lock file
}

// A lock another writer keeps: the call gives up (false, nothing written) instead of holding
// its thread for ever (a test that hangs fails at its time limit); a thread that waits gets its
// turn before later callers.
TEST(DockAdditions, NeverWaitsWithoutBoundAndTakesItsTurn) {
    ScratchHome home;
    writeDock(home, {});
    const std::string domain = home.domainFile(kDock);
    const std::string before = readWholeFile(domain);
    const int holder = open((domain + ".lock").c_str(), O_RDONLY | O_CREAT, 0600);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    EXPECT_FALSE(add(u"/Applications/A.app"));  // five seconds
    close(holder);
    EXPECT_EQ(readWholeFile(domain), before);

    // A caller that asks while another thread takes the lock again and again gets it at that
    // thread's next release, not once it stops or when its own five seconds run out.
    std::atomic<bool> stop = false;
    std::thread again([&] {
        while (!stop) {
            const auto lock = perivane::platform::PersistentDomainLock::acquire(kDock);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(add(u"/Applications/A.app"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    stop = true;
    again.join();
}

// Whatever the caller's umask, and when root works in a user's HOME (sudo -E, installers), the
// domain and its lock keep, or take from their folder, an owner and mode the user can live with.
TEST(DockAdditions, FilesKeepTheirOwnerAndModeWhateverTheUmaskOrTheCaller) {
    ScratchHome home;
    writeDock(home, {});
    const std::string domain = home.domainFile(kDock), lock = domain + ".lock";
    auto status = [](const std::string& path) {
        struct stat st{};
        lstat(path.c_str(), &st);
        return std::make_tuple(st.st_mode & 0170777, st.st_uid, st.st_gid);
    };
    const mode_t umaskBefore = umask(0222);
    const bool pinned = add(u"/Applications/A.app") && add(u"/Applications/B.app");
    umask(umaskBefore);
    EXPECT_TRUE(pinned);
    EXPECT_EQ(std::get<0>(status(lock)), S_IFREG | 0600);

    // A domain that is a link to a world-writable file elsewhere becomes a private file of its
    // own; the other file is left as it was.
    const std::string outside = home.path() + "/outside.plist";
    std::filesystem::rename(domain, outside);
    chmod(outside.c_str(), 0666);
    std::filesystem::create_symlink(outside, domain);
    const std::string outsideBefore = readWholeFile(outside);
    EXPECT_TRUE(add(u"/Applications/C.app"));
    EXPECT_EQ(std::get<0>(status(domain)), S_IFREG | 0600);
    EXPECT_EQ(readWholeFile(outside), outsideBefore);

    if (getuid() != 0) return;  // only root gives files away
    std::filesystem::remove(lock);
    chmod(domain.c_str(), 0644);
    ASSERT_EQ(chown(domain.c_str(), 65534, 65534) | chown(home.preferences().c_str(), 65534, 65534), 0);
    EXPECT_TRUE(add(u"/Applications/D.app"));
    EXPECT_EQ(status(domain), std::make_tuple(S_IFREG | 0644, 65534u, 65534u));
    EXPECT_EQ(status(lock), std::make_tuple(S_IFREG | 0600, 65534u, 65534u));
}

TEST(DockAdditions, ADomainWithoutAppsGetsTheArrayOnTheFirstAdd) {
    ScratchHome home;
    home.writeDomainFile(kDock, "<plist><dict><key>autohide</key><true/></dict></plist>");
    EXPECT_FALSE(remove(u"/Applications/A.app"));
    EXPECT_TRUE(readWholeFile(home.domainFile(kDock)).starts_with("<plist>"));  // not rewritten
    EXPECT_TRUE(add(u"/Applications/A.app", u"A"));
    const auto d = dockDomain();
    ASSERT_EQ(d->size(), 2u);
    EXPECT_EQ(d->entries()[0].key, "autohide");
    EXPECT_EQ(*d->find("persistent-apps"), Value(Array{dock::tileRecord("/Applications/A.app", "A")}));
}

namespace {

Dictionary sampleDomain(int entries) {
    Dictionary d;
    Array a;
    for (int i = 0; i < entries; ++i) a.push_back(Value("entry " + std::to_string(i)));
    d.append("list", std::move(a));
    d.append("flag", true);
    return d;
}

size_t folderEntries(const std::string& dir) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
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

TEST(UserDefaults, SynchronizeWritesAtomicallyWithTheModesItMeans) {
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
    const mode_t umaskBefore = umask(0277);  // folders are made usable whatever the umask
    ASSERT_TRUE(defaults.synchronize());
    umask(umaskBefore);
    EXPECT_TRUE(readWholeFile(file).starts_with("bplist00"));
    for (const auto& [path, want] : {std::pair{home.path() + "/Library", 0700u}, {home.preferences(), 0700u}, {file, 0600u}}) {
        EXPECT_EQ(mode(path), want) << path;
    }
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
    EXPECT_EQ(folderEntries(home.preferences()), 1u) << "no temporary file left";
    // The failed change stays with this object only, and goes out once writing works again.
    EXPECT_EQ(stored(), sampleDomain(3));
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_EQ(stored(), sampleDomain(2000));
    EXPECT_EQ(mode(file), 0644u);
    EXPECT_EQ(folderEntries(home.preferences()), 1u) << "no temporary file left";
}
