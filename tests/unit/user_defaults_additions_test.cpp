// The preferences store and the Dock category: matching, and the guards around reading and
// writing the domain. Pinning against the real Dock file and the exact record are tested
// through the natives in DockTest.java, concurrent writers in ConcurrencyTest.java.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/fsuid.h>
#include <sys/syscall.h>
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

size_t folderEntries(const std::string& dir) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
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

namespace {
std::tuple<mode_t, uid_t, gid_t> status(const std::string& path) {
    struct stat st{};
    lstat(path.c_str(), &st);
    return std::make_tuple(st.st_mode & 0170777, st.st_uid, st.st_gid);
}
}  // namespace

// Whatever the caller's umask, the lock (and the domain, below) get the mode they mean.
TEST(DockAdditions, FilesKeepTheirModeWhateverTheUmask) {
    ScratchHome home;
    writeDock(home, {});
    const mode_t umaskBefore = umask(0222);
    const bool pinned = add(u"/Applications/A.app") && add(u"/Applications/B.app");
    umask(umaskBefore);
    EXPECT_TRUE(pinned);
    EXPECT_EQ(std::get<0>(status(home.domainFile(kDock) + ".lock")), S_IFREG | 0600);
}

// Root working in a HOME owned by nobody (sudo -E, installers) works as nobody: it reads and writes
// only what nobody could, through links nobody made too, and what it makes is nobody's. A domain
// that is a link nobody may follow (a dotfiles folder) keeps working; one to root's own file is
// not read. A thread that cannot take nobody's identity does nothing.
TEST(DockAdditions, RootInAUsersHomeActsAsThatUser) {
    namespace fs = std::filesystem;
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    ScratchHome home;
    char pattern[] = "/tmp/perivane-root-XXXXXX";
    const std::string roots = mkdtemp(pattern), secret = roots + "/secret.plist", rootsFolder = roots + "/folder";
    const std::string domain = home.domainFile(kDock), dotfile = home.path() + "/dotfiles/dock.plist";
    writeDock(home, {});
    fs::create_directories(home.path() + "/dotfiles");
    fs::copy_file(domain, secret);
    fs::rename(domain, dotfile);
    fs::create_directories(rootsFolder + "/item");
    fs::create_directory_symlink(rootsFolder, home.path() + "/Desktop");
    for (const auto& e : fs::recursive_directory_iterator(home.path())) ASSERT_EQ(lchown(e.path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown(home.path().c_str(), 65534, 65534) | chmod(roots.c_str(), 0755) | chmod(secret.c_str(), 0600), 0);
    fs::create_symlink(secret, domain);
    const std::string before = readWholeFile(secret);
    EXPECT_FALSE(add(u"/Applications/A.app"));
    EXPECT_TRUE(fs::is_symlink(domain) && readWholeFile(secret) == before);
    fs::remove(domain);
    fs::create_symlink(dotfile, domain);
    EXPECT_TRUE(add(u"/Applications/B.app"));
    EXPECT_EQ(status(domain), std::make_tuple(S_IFREG | 0600, 65534u, 65534u));
    EXPECT_EQ(status(domain + ".lock"), std::make_tuple(S_IFREG | 0600, 65534u, 65534u));
    NSUserDefaults d = NSUserDefaults::standardUserDefaults();
    EXPECT_FALSE(removeDesktopItem(d, u"item") || createDesktopItem(d, *perivane::platform::NSURL::fileURLWithPath(u"/"), u"new"));
    EXPECT_EQ(folderEntries(rootsFolder), 1u) << "root's folder behind nobody's Desktop link is as it was";

    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2]{};
    ASSERT_EQ(syscall(SYS_capget, &header, caps), 0);
    const __u32 effective = caps[0].effective;
    caps[0].effective &= ~(1u << CAP_SETGID);  // on this thread only
    ASSERT_EQ(syscall(SYS_capset, &header, caps), 0);
    EXPECT_FALSE(add(u"/Applications/C.app"));
    caps[0].effective = effective;
    ASSERT_EQ(syscall(SYS_capset, &header, caps), 0);
    EXPECT_EQ(std::get<0>(status(domain)), S_IFREG | 0600);
    EXPECT_EQ(urlStrings().size(), 1u) << "B alone";
    EXPECT_EQ(setfsuid(-1), 0) << "root again";
    fs::remove_all(roots);
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
