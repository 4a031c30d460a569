// The snapshot, the naming of a process from its argument area and the name search, over a
// process source that answers with hand-built records and areas.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "VLPerivaneJNI/ProcessList.h"

using namespace perivane;
using namespace perivane::platform;
using namespace std::string_literals;

namespace {

class FakeSource : public ProcessSource {
public:
    std::string area;                     // of every process not in `areas`
    std::map<pid_t, std::string> areas;
    std::vector<pid_t> areasRead;
    bool areaFails = false;               // the process has ended
    int argmax = 4096;
    std::string table;                    // the process table's bytes
    int enomemReads = 0;                  // table reads that fail with ENOMEM first
    int tableError = 0, sizeQueries = 0;

    int sysctl(const int* name, unsigned namelen, void* oldp, size_t* oldlenp, const void*,
               size_t, AreaUse) override {
        if (namelen == 2) return std::memcpy(oldp, &argmax, sizeof argmax), 0;
        if (name[1] == KERN_PROCARGS2) {
            if (areaFails) return errno = ESRCH, -1;
            areasRead.push_back(name[2]);
            const std::string& a = areas.count(name[2]) ? areas[name[2]] : area;
            *oldlenp = std::min(a.size(), *oldlenp);
            return std::memcpy(oldp, a.data(), *oldlenp), 0;
        }
        if (oldp == nullptr) return ++sizeQueries, *oldlenp = table.size(), 0;
        if (tableError != 0) return errno = tableError, -1;
        if (enomemReads > 0) return --enomemReads, errno = ENOMEM, -1;
        *oldlenp = table.size();
        return std::memcpy(oldp, table.data(), table.size()), 0;
    }
};

class UseSource {
public:
    explicit UseSource(ProcessSource& s) : previous_(setProcessSource(&s)) {}
    ~UseSource() { setProcessSource(previous_); }

private:
    ProcessSource* previous_;
};

std::string withArgc(int argc, const std::string& rest) {
    return std::string(reinterpret_cast<const char*>(&argc), sizeof argc) + rest;
}

kinfo_proc record(pid_t pid, const char* comm, uid_t uid = ::getuid()) {
    kinfo_proc k{};
    k.kp_proc.p_pid = pid;
    std::memcpy(k.kp_proc.p_comm, comm, std::min<size_t>(std::strlen(comm), MAXCOMLEN));
    k.kp_eproc.e_pcred.p_ruid = uid;
    return k;
}

// The name getproclline gives, with the length it stored (-7: none stored).
std::pair<std::optional<NSString>, int> name(FakeSource& s, kinfo_proc k, int flag) {
    UseSource use(s);
    int length = -7;
    std::optional<NSString> n = getproclline(&k, nullptr, &length, flag);
    return {n, length};
}

// argv /bin/x a b; environment HOME, PATH, an empty string, then one more.
const std::string kArea = withArgc(3, "/usr/bin/xx\0\0\0\0\0/bin/x\0a\0b\0HOME=/h\0PATH=/p\0\0L=1\0"s);
const NSString kWithEnvironment = u"/bin/x a b HOME=/h PATH=/p";

}  // namespace

TEST(GetProcLine, FlagZeroGivesArgvZeroAndTheFlagJoinsTheRest) {
    FakeSource s;
    s.area = kArea;
    EXPECT_EQ(name(s, record(42, "xx"), 0), std::make_pair(std::optional<NSString>(u"/bin/x"), 6));
    EXPECT_EQ(name(s, record(42, "xx"), 1), std::make_pair(std::optional(kWithEnvironment), 6));
    s.area = withArgc(3, "/e\0\0\0/bin/x\0a\0b\0\0HOME=/h\0"s);  // empty first environment string
    EXPECT_EQ(name(s, record(42, "xx"), 1).first, NSString(u"/bin/x a b"));
}

TEST(GetProcLine, EnvironmentOnlyForTheProcessUserOrRoot) {
    FakeSource s;
    s.area = kArea;
    if (::getuid() != 0) {
        EXPECT_EQ(name(s, record(42, "xx", ::getuid() + 1), 1).first, NSString(u"/bin/x a b"));
        return;
    }
    EXPECT_EQ(name(s, record(42, "xx", 12345), 1).first, kWithEnvironment);  // root sees all
    pid_t child = ::fork();  // another user: a child that gives up root
    ASSERT_GE(child, 0);
    if (child == 0) {
        bool ok = ::setuid(65534) == 0 &&
                  name(s, record(42, "xx", 0), 1).first == NSString(u"/bin/x a b") &&
                  name(s, record(42, "xx", 65534), 1).first == kWithEnvironment;
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(GetProcLine, MalformedOrMissingAreasFallBackToTheShortName) {
    FakeSource s;
    const auto named = [&](const std::string& area, int flag) {
        s.area = area;
        return name(s, record(42, "short"), flag);
    };
    const auto fallback = std::make_pair(std::optional<NSString>(u"short"), -7);
    for (int flag : {0, 1}) {
        EXPECT_EQ(named(withArgc(1, "/no/end/of/the/executable"s), flag), fallback);
        EXPECT_EQ(named(withArgc(1, "/e\0\0\0\0\0\0"s), flag), fallback);         // padding to the end
        EXPECT_EQ(named(withArgc(1, "/e\0\0\0/bin/x-no-end"s), flag), fallback);  // argv[0] not ended
        EXPECT_EQ(named("\1\0"s, flag), fallback);                                // shorter than argc
    }
    EXPECT_EQ(named(withArgc(0, "/e\0\0\0/bin/x\0"s), 0), fallback);
    EXPECT_EQ(named(withArgc(-5, "/e\0\0\0/bin/x\0"s), 0), fallback);
    // With the flag and no arguments, the further strings are still walked.
    EXPECT_EQ(named(withArgc(0, "/e\0\0\0HOME=/h\0\0"s), 1).first, NSString(u"HOME=/h"));

    s.areaFails = true;  // the process ended after the snapshot
    EXPECT_EQ(name(s, record(42, "gone"), 0).first, NSString(u"gone"));
    s.areaFails = false;
    s.argmax = 0;  // no largest size to be had
    EXPECT_EQ(name(s, record(42, "nomax"), 0).first, NSString(u"nomax"));
}

TEST(GetProcLine, NamesAreUtf8InFormCAndInvalidBytesGiveNone) {
    FakeSource s;
    s.area = withArgc(1, "/e\0\0\0/Apps/Cafe\xCC\x81.app\0"s);
    EXPECT_EQ(name(s, record(42, "k"), 0).first, NSString(u"/Apps/Caf\u00e9.app"));
    // No fallback to the short name for invalid UTF-8, in the area or in the record.
    s.area = withArgc(1, "/e\0\0\0/Apps/\xFF.app\0"s);
    EXPECT_EQ(name(s, record(42, "valid"), 0), std::make_pair(std::optional<NSString>(), 11));
    s.area = withArgc(0, ""s);
    EXPECT_FALSE(name(s, record(42, "bad\xC3"), 0).first);
}

TEST(GetProcLine, AReusedBufferKeepsNoTraceOfEarlierAreas) {
    FakeSource s;
    UseSource use(s);
    ArgumentBuffer buffer;
    kinfo_proc k = record(42, "k");
    s.area = withArgc(2, "/e\0\0\0/a/long/first/argument\0x\0E=1\0\0"s);
    EXPECT_EQ(getproclline(&k, nullptr, nullptr, 1, buffer), NSString(u"/a/long/first/argument x E=1"));
    s.area = withArgc(1, "/e\0\0\0/b"s);  // ends at the area's end, whatever follows in memory
    EXPECT_EQ(getproclline(&k, nullptr, nullptr, 0, buffer), NSString(u"k"));
}

TEST(ProcessSnapshot, CountsWholeRecordsAndStartsAgainWhileTheTableGrows) {
    FakeSource s;
    UseSource use(s);
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

    s.table.resize(sizeof(kinfo_proc) - 1);  // one byte short of a record
    ASSERT_EQ(GetBSDProcessList(&list, &count), 0);
    EXPECT_EQ(count, 0u);
    std::free(list);

    s.tableError = EPERM;
    EXPECT_EQ(GetBSDProcessList(&list, &count), EPERM);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(count, 0u);
}

TEST(RunningCheck, NamesEveryProcessButPidZeroThenMatchesIgnoringCaseAndForm) {
    FakeSource s;
    UseSource use(s);
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
