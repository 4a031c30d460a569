// The running-application check: the snapshot, the naming of a process from its argument area
// and the name search, over a process source that answers with hand-built records and areas;
// the /proc stand-in against processes we start; the comparison of names.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "VLPerivaneJNI/ProcessList.h"
#include "fuzz/process_area_check.h"
#include "platform/base/unicode.h"

using namespace perivane;
using namespace perivane::platform;
using namespace std::string_literals;

namespace {

using perivane::fuzz::FakeProcessSource;

std::string withArgc(int argc, const std::string& rest) {
    return std::string(reinterpret_cast<const char*>(&argc), sizeof argc) + rest;
}

kinfo_proc record(pid_t pid, const char* comm, uid_t uid = ::getuid()) { return perivane::fuzz::processRecord(pid, comm, uid); }

// The name getproclline gives pid 42, with the length it stored (-7: none stored).
std::pair<std::optional<NSString>, int> name(int flag, const char* comm = "short",
                                             uid_t uid = ::getuid()) {
    kinfo_proc k = record(42, comm, uid);
    int length = -7;
    std::optional<NSString> n = getproclline(&k, nullptr, &length, flag);
    return {n, length};
}

// argv /bin/x a b; environment HOME, PATH, an empty string, then one more.
const std::string kArea = withArgc(3, "/usr/bin/xx\0\0\0\0\0/bin/x\0a\0b\0HOME=/h\0PATH=/p\0\0L=1\0"s);
const NSString kWithEnvironment = u"/bin/x a b HOME=/h PATH=/p";

}  // namespace

TEST(GetProcLine, NamesFromHandBuiltAreas) {
    FakeProcessSource s;
    const std::optional<NSString> shortName = u"short", none;
    struct Case { std::string area; int flag; std::optional<NSString> name; int length; };
    const Case cases[] = {
        {kArea, 0, u"/bin/x", 6},
        {kArea, 1, kWithEnvironment, 6},
        {withArgc(3, "/e\0\0\0/bin/x\0a\0b\0\0HOME=/h\0"s), 1, u"/bin/x a b", 6},
        {withArgc(0, "/e\0\0\0/bin/x\0"s), 0, shortName, -7},
        {withArgc(-5, "/e\0\0\0/bin/x\0"s), 0, shortName, -7},
        {withArgc(0, "/e\0\0\0HOME=/h\0\0"s), 1, u"HOME=/h", -7},  // no arguments: still walked
        {withArgc(1, "/e\0\0\0/Apps/Cafe\xCC\x81.app\0"s), 0, u"/Apps/Caf\u00e9.app", 16},
        {withArgc(1, "/e\0\0\0/Apps/\xFF.app\0"s), 0, none, 11},  // no short name instead
    };
    for (const Case& c : cases) {
        s.areas[42] = c.area;
        EXPECT_EQ(name(c.flag), std::make_pair(c.name, c.length)) << testing::PrintToString(c.area);
    }
    // No executable path end, padding to the end, argv[0] not ended, shorter than argc.
    for (const std::string& area : {withArgc(1, "/no/end"s), withArgc(1, "/e\0\0\0\0\0\0"s),
                                    withArgc(1, "/e\0\0\0/bin/x-no-end"s), "\1\0"s}) {
        s.areas[42] = area;
        for (int flag : {0, 1})
            EXPECT_EQ(name(flag), std::make_pair(shortName, -7)) << testing::PrintToString(area);
    }
    s.areas[42] = withArgc(0, ""s);
    EXPECT_EQ(name(0, "bad\xC3").first, none);
    ArgumentBuffer buffer;  // a shorter area read after a longer one ends at its own end
    kinfo_proc k = record(42, "k");
    s.areas[42] = withArgc(2, "/e\0\0\0/a/long/first/argument\0x\0E=1\0\0"s);
    getproclline(&k, nullptr, nullptr, 1, buffer);
    s.areas[42] = withArgc(1, "/e\0\0\0/b"s);
    EXPECT_EQ(getproclline(&k, nullptr, nullptr, 0, buffer), NSString(u"k"));
    s.areaFails = true;  // the process ended after the snapshot
    EXPECT_EQ(name(0, "gone").first, NSString(u"gone"));
    s.areaFails = false;
    s.argmax = 0;  // no largest size to be had
    EXPECT_EQ(name(0, "nomax").first, NSString(u"nomax"));
    s.argmax = 4096;
    s.areas[42] = kArea;  // another user's environment is read by root alone
    EXPECT_EQ(name(1, "xx", ::getuid() + 1).first, ::getuid() == 0 ? kWithEnvironment : NSString(u"/bin/x a b"));
}

TEST(ProcessSnapshot, CountsWholeRecordsAndStartsAgainWhileTheTableGrows) {
    FakeProcessSource s;
    kinfo_proc records[3] = {record(1, "a"), record(2, "b"), record(3, "c")};
    s.table = std::string(reinterpret_cast<const char*>(records), sizeof records) + "12345";
    s.enomemReads = 5;
    kinfo_proc* list = nullptr;
    unsigned long count = 0;
    ASSERT_EQ(GetBSDProcessList(&list, &count), 0);
    EXPECT_EQ(s.sizeQueries, 6);  // the size is asked anew each time
    ASSERT_EQ(count, 3u);         // the partial record at the end is left out
    EXPECT_STREQ(list[2].kp_proc.p_comm, "c");
    std::free(list);

    s.table.resize(sizeof(kinfo_proc) - 1);
    ASSERT_EQ(GetBSDProcessList(&list, &count), 0);
    EXPECT_EQ(count, 0u);
    std::free(list);

    s.tableError = EPERM;
    EXPECT_EQ(GetBSDProcessList(&list, &count), EPERM);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(count, 0u);
}

TEST(RunningCheck, NamesEveryProcessButPidZeroThenMatchesIgnoringCaseAndForm) {
    FakeProcessSource s;
    kinfo_proc records[4] = {record(0, "/zero"), record(5, "kworker"), record(6, "cafe"),
                             record(7, "bad")};
    s.table.assign(reinterpret_cast<const char*>(records), sizeof records);
    s.areas[5] = withArgc(0, ""s);  // a kernel thread
    s.areas[6] = withArgc(2, "/x\0\0\0\0\0/Apps/Caf\xC3\xA9.app\0-v\0E=1\0\0"s);
    s.areas[7] = withArgc(1, "/x\0\0\0\0\0/Apps/\xC3.app\0"s);  // invalid UTF-8

    EXPECT_TRUE(isRunningNamed(u"/APPS/CAFE\u0301.APP"));
    EXPECT_EQ(s.areasRead, (std::vector<pid_t>{5, 6, 7}));  // all named first, pid 0 never
    EXPECT_TRUE(isRunningNamed(u"KWorker"));                // the short name stands in
    for (const char16_t* other : {u"/zero", u"cafe", u"bad", u"/Apps/Caf\u00e9.app -v", u"/x"})
        EXPECT_FALSE(isRunningNamed(other));

    s.tableError = EIO;  // no snapshot: nothing runs
    EXPECT_FALSE(isRunningNamed(u"/APPS/CAFE\u0301.APP"));
}

// Any user can give a process an argv[0] of alternating combining marks, whose normalization
// takes time in the square of its length (megabytes: hours). A name with more characters than
// the path could ever match is never normalized, so the check answers at once.
TEST(RunningCheck, NamesTooLongToMatchAreNeverNormalized) {
    FakeProcessSource s;
    std::string marks = "/";
    while (marks.size() < (4u << 20)) marks += "\xCC\x81\xCC\x96";  // U+0301 (class 230), U+0316 (220)
    kinfo_proc records[2] = {record(5, "hostile"), record(6, "app")};
    s.table.assign(reinterpret_cast<const char*>(records), sizeof records);
    s.argmax = static_cast<int>(marks.size()) + 64;
    s.areas[5] = withArgc(1, "/x\0\0\0\0\0"s + marks + '\0');
    s.areas[6] = withArgc(1, "/x\0\0\0\0\0/Apps/A\xCC\x81.app\0"s);
    EXPECT_TRUE(isRunningNamed(u"/APPS/\u00c1.APP"));
    EXPECT_FALSE(isRunningNamed(u"/Apps/B.app"));
    EXPECT_EQ(s.areasRead, (std::vector<pid_t>{5, 6, 5, 6}));
}

namespace {

const uid_t kChildUser = ::getuid() == 0 ? 65534 : ::getuid();

void awaitContent(const std::string& path, const std::string& text) {
    for (int i = 0; i < 500; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
        std::ifstream in(path, std::ios::binary);
        if (std::string(std::istreambuf_iterator<char>(in), {}) == text) return;
    }
}

// cat with the given argv and environment, reading a pipe that stays open, run by another user
// when we are root; killed and reaped when it goes.
struct Child {
    Child(std::vector<std::string> argv, std::vector<std::string> envp) {
        std::vector<char*> a, e;
        std::string cmdline;
        for (auto& s : argv) a.push_back(s.data()), cmdline += s + '\0';
        for (auto& s : envp) e.push_back(s.data());
        a.push_back(nullptr), e.push_back(nullptr);
        int input[2];
        if (::pipe2(input, O_CLOEXEC) != 0) return;
        writeEnd = input[1];
        if ((pid = ::fork()) == 0) {
            ::dup2(input[0], 0);
            if (::getuid() == 0 && ::setuid(kChildUser) != 0) ::_exit(126);
            ::_exit(::execve("/bin/cat", a.data(), e.data()));
        }
        ::close(input[0]);
        awaitContent(proc("cmdline"), cmdline);  // until the exec the command line is ours
    }
    ~Child() { reap(), ::close(writeEnd); }
    std::string proc(const char* entry) const { return "/proc/" + std::to_string(pid) + "/" + entry; }
    void reap() {
        if (pid > 0) ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0);
        pid = -1;
    }
    pid_t pid = -1;
    int writeEnd = -1;
};

}  // namespace

// Every process is listed with its short name and user, and named from its first argument
// alone: empty leading arguments (the name then starts later, possibly in the environment) and
// a zombie (no arguments: its short name) included.
TEST(Procfs, TableRecordsAndNamesFromTheFirstArgumentAlone) {
    Child a({"", "-"}, {"E=1"}), b({""}, {"FIRST=env", "X=2"}), c({""}, {}), zombie({"/z"}, {});
    ::kill(zombie.pid, SIGKILL);
    awaitContent(zombie.proc("cmdline"), "");
    std::map<pid_t, NSString> expected = {{a.pid, u"-"}, {b.pid, u"FIRST=env"}, {c.pid, u"cat"}, {zombie.pid, u"cat"}};
    kinfo_proc* list = nullptr;
    unsigned long count = 0;
    ASSERT_EQ(GetBSDProcessList(&list, &count), 0);
    std::unique_ptr<kinfo_proc, void (*)(void*)> owned(list, &std::free);
    for (kinfo_proc& k : std::span(list, count)) {
        EXPECT_GT(k.kp_proc.p_pid, 0);
        if (auto e = expected.find(k.kp_proc.p_pid); e != expected.end()) {
            EXPECT_EQ(getproclline(&k, nullptr, nullptr, 0), e->second);
            EXPECT_STREQ(k.kp_proc.p_comm, "cat");
            if (k.kp_proc.p_pid != zombie.pid) { EXPECT_EQ(k.kp_eproc.e_pcred.p_ruid, kChildUser); }  // a zombie shows as root's
            expected.erase(e);
        }
    }
    EXPECT_TRUE(expected.empty()) << "children missing from the table";
    EXPECT_TRUE(isRunningNamed(u"CAT"));  // c and the zombie, by the short names of their own records

    // A buffer too small for the table is refused, not filled in part.
    int tableName[3] = {CTL_KERN, KERN_PROC, KERN_PROC_ALL};
    kinfo_proc one;
    size_t size = sizeof one;
    EXPECT_EQ(sysctl(tableName, 3, &one, &size, nullptr, 0), -1);
    EXPECT_EQ(errno, ENOMEM);
}

TEST(Unicode, CaseInsensitiveCanonicalEquality) {
    EXPECT_TRUE(equalIgnoringCase(u"/Applications/Caf\u00e9.app", u"/APPLICATIONS/CAFE\u0301.APP"));
    EXPECT_TRUE(equalIgnoringCase(u"stra\u00dfe", u"STRASSE"));
    EXPECT_TRUE(equalIgnoringCase(u"\u212b", u"\u00e5"));
    EXPECT_TRUE(equalIgnoringCase(u"a\u0301\u0323", u"a\u0323\u0301"));
    EXPECT_FALSE(equalIgnoringCase(u"I", u"\u0131"));
    EXPECT_FALSE(equalIgnoringCase(u"/bin/x", u"/bin/xy"));
    // The compared form is never shorter than either text: "STRASSE" (7) may equal "straße".
    EXPECT_EQ(comparisonLength(u"stra\u00dfe"), 7u);
}

// The scan reads units in vector groups of 32, then of 8, then the last 8 again, and one by one
// within the group that holds what it seeks: each kind of unit is found wherever it lies.
TEST(Unicode, UnitScanFindsEachKindOfUnitAtEveryPosition) {
    auto scanned = [](const std::u16string& t) { return std::pair(scanUnits(t).composed, scanUnits(t).nul); };
    for (size_t n = 1; n <= 80; ++n) {
        std::u16string plain(n, u'\u0001');
        for (size_t k = 1; k < n; k += 2) plain[k] = u'\u02FF';  // the two ends of what needs no normalizer
        EXPECT_EQ(scanned(plain), std::pair(n, n));
        for (size_t at = 0; at < n; ++at) {
            for (const char16_t unit : {u'\0', u'\u0300', u'\xD800', u'\xFFFF'}) {
                std::u16string text = plain;
                text[at] = unit;
                const bool nulAfter = unit != u'\0' && at + 1 < n;
                if (nulAfter) text.back() = u'\0';
                EXPECT_EQ(scanned(text), std::pair(at, unit == u'\0' ? at : nulAfter ? n - 1 : n)) << n << " " << at;
            }
        }
    }
}
