// The process-table snapshot and the naming of a process from its argument area, over a
// process source that answers with hand-built records and areas.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <map>
#include <vector>
#include <string>
#include <string_view>

#include "VLPerivaneJNI/ProcessList.h"

using namespace perivane;
using namespace perivane::platform;
using namespace std::string_literals;

namespace {

class FakeSource : public ProcessSource {
public:
    std::string area;        // the argument area of every process not in `areas`
    std::map<pid_t, std::string> areas;
    std::vector<pid_t> areasRead;
    bool areaFails = false;  // the process has ended
    int argmax = 4096;
    std::string table;       // the process table's bytes
    int enomemReads = 0;     // reads of the table that fail with ENOMEM first
    int tableError = 0;      // errno of every table read
    int sizeQueries = 0;

    int sysctl(const int* name, unsigned namelen, void* oldp, size_t* oldlenp, const void*,
               size_t, AreaUse) override {
        if (namelen == 2 && name[1] == KERN_ARGMAX) {
            std::memcpy(oldp, &argmax, sizeof argmax);
            return 0;
        }
        if (namelen == 3 && name[1] == KERN_PROCARGS2) {
            if (areaFails) return errno = ESRCH, -1;
            areasRead.push_back(name[2]);
            auto found = areas.find(name[2]);
            const std::string& a = found != areas.end() ? found->second : area;
            size_t n = std::min(a.size(), *oldlenp);
            std::memcpy(oldp, a.data(), n);
            *oldlenp = n;
            return 0;
        }
        if (oldp == nullptr) {
            ++sizeQueries;
            *oldlenp = table.size();
            return 0;
        }
        if (tableError != 0) return errno = tableError, -1;
        if (enomemReads > 0) return --enomemReads, errno = ENOMEM, -1;
        std::memcpy(oldp, table.data(), table.size());
        *oldlenp = table.size();
        return 0;
    }
};

class UseSource {
public:
    explicit UseSource(ProcessSource& s) : previous_(setProcessSource(&s)) {}
    ~UseSource() { setProcessSource(previous_); }

private:
    ProcessSource* previous_;
};

std::string withArgc(int argc, std::string_view rest) {
    std::string a(sizeof argc, '\0');
    std::memcpy(a.data(), &argc, sizeof argc);
    return a + std::string(rest);
}

kinfo_proc record(pid_t pid, const char* comm, uid_t uid = ::getuid()) {
    kinfo_proc k{};
    k.kp_proc.p_pid = pid;
    std::memcpy(k.kp_proc.p_comm, comm, std::min<size_t>(std::strlen(comm), MAXCOMLEN));
    k.kp_eproc.e_pcred.p_ruid = uid;
    return k;
}

struct Named {
    std::optional<NSString> name;
    int length;
};

Named name(FakeSource& source, kinfo_proc k, int flag) {
    UseSource use(source);
    Named n{std::nullopt, -7};
    n.name = getproclline(&k, nullptr, &n.length, flag);
    return n;
}

// "/bin/x a b" with an environment of two strings, then an empty one, then more.
const std::string kArea =
    withArgc(3, "/usr/bin/xx\0\0\0\0\0/bin/x\0a\0b\0HOME=/h\0PATH=/p\0\0LATER=1\0"s);

}  // namespace

TEST(GetProcLine, FlagZeroGivesArgvZeroAlone) {
    FakeSource s;
    s.area = kArea;
    Named n = name(s, record(42, "xx"), 0);
    EXPECT_EQ(n.name, NSString(u"/bin/x"));
    EXPECT_EQ(n.length, 6);
}

TEST(GetProcLine, FlagJoinsArgumentsAndEnvironmentUpToTheEmptyString) {
    FakeSource s;
    s.area = kArea;
    Named n = name(s, record(42, "xx"), 1);
    EXPECT_EQ(n.name, NSString(u"/bin/x a b HOME=/h PATH=/p"));
    EXPECT_EQ(n.length, 6);

    // An empty first environment string ends the walk at once.
    s.area = withArgc(3, "/e\0\0\0/bin/x\0a\0b\0\0HOME=/h\0"s);
    EXPECT_EQ(name(s, record(42, "xx"), 1).name, NSString(u"/bin/x a b"));
}

TEST(GetProcLine, EnvironmentOnlyForTheProcessUserOrRoot) {
    FakeSource s;
    s.area = kArea;
    const NSString withEnvironment = u"/bin/x a b HOME=/h PATH=/p";
    const NSString withoutEnvironment = u"/bin/x a b";
    if (::getuid() != 0) {
        EXPECT_EQ(name(s, record(42, "xx", ::getuid() + 1), 1).name, withoutEnvironment);
        return;
    }
    // Root sees every process's environment; another user only its own. The other user is
    // played by a child that gives up root.
    EXPECT_EQ(name(s, record(42, "xx", 12345), 1).name, withEnvironment);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        bool ok = ::setuid(65534) == 0 &&
                  name(s, record(42, "xx", 0), 1).name == withoutEnvironment &&
                  name(s, record(42, "xx", 65534), 1).name == withEnvironment;
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(GetProcLine, MalformedAreasFallBackToTheShortName) {
    FakeSource s;
    const auto fallsBack = [&](const std::string& area, int flag) {
        s.area = area;
        Named n = name(s, record(42, "short"), flag);
        return n.name == NSString(u"short") && n.length == -7;
    };
    for (int flag : {0, 1}) {
        SCOPED_TRACE(flag);
        EXPECT_TRUE(fallsBack(withArgc(1, "/no/end/of/the/executable"s), flag));
        EXPECT_TRUE(fallsBack(withArgc(1, "/e\0\0\0\0\0\0"s), flag));          // padding to the end
        EXPECT_TRUE(fallsBack(withArgc(1, "/e\0\0\0/bin/x-no-end"s), flag));  // argv[0] not ended
        EXPECT_TRUE(fallsBack(withArgc(1, ""s), flag));
        EXPECT_TRUE(fallsBack("\1\0"s, flag));                                 // shorter than argc
    }
    s.areaFails = true;  // the process ended after the snapshot
    EXPECT_EQ(name(s, record(42, "gone"), 0).name, NSString(u"gone"));
    s.areaFails = false;
    s.argmax = 0;  // no largest size
    s.area = kArea;
    EXPECT_EQ(name(s, record(42, "nomax"), 0).name, NSString(u"nomax"));
}

TEST(GetProcLine, ZeroOrNegativeArgcSkipsTheArguments) {
    FakeSource s;
    // With the flag, the environment walk still starts at the first string after the padding.
    s.area = withArgc(0, "/e\0\0\0/bin/x\0"s);
    EXPECT_EQ(name(s, record(42, "k"), 0).name, NSString(u"k"));
    s.area = withArgc(0, "/e\0\0\0HOME=/h\0\0"s);
    EXPECT_EQ(name(s, record(42, "k"), 0).name, NSString(u"k"));
    EXPECT_EQ(name(s, record(42, "k"), 1).name, NSString(u"HOME=/h"));
    s.area = withArgc(-5, "/e\0\0\0/bin/x\0"s);
    EXPECT_EQ(name(s, record(42, "k"), 0).name, NSString(u"k"));
}

TEST(GetProcLine, TextIsUtf8InFormCAndInvalidBytesGiveNoName) {
    FakeSource s;
    s.area = withArgc(1, "/e\0\0\0/Apps/Cafe\xCC\x81.app\0"s);
    EXPECT_EQ(name(s, record(42, "k"), 0).name, NSString(u"/Apps/Caf\u00e9.app"));

    // No fallback to the short name for invalid UTF-8, in the area or in the record.
    s.area = withArgc(1, "/e\0\0\0/Apps/\xFF.app\0"s);
    Named n = name(s, record(42, "valid"), 0);
    EXPECT_FALSE(n.name);
    EXPECT_EQ(n.length, 11);
    s.area = withArgc(0, ""s);
    EXPECT_FALSE(name(s, record(42, "bad\xC3"), 0).name);
    EXPECT_EQ(name(s, record(42, "sixteen-bytes-xx"), 0).name, NSString(u"sixteen-bytes-xx"));
}

TEST(GetProcLine, AReusedBufferKeepsNoTraceOfEarlierAreas) {
    FakeSource s;
    UseSource use(s);
    ArgumentBuffer buffer;
    kinfo_proc k = record(42, "k");
    int length = 0;
    s.area = withArgc(4, "/e\0\0\0/a/very/long/first/argument\0x\0y\0z\0E=1\0\0"s);
    EXPECT_EQ(getproclline(&k, nullptr, &length, 1, buffer),
              NSString(u"/a/very/long/first/argument x y z E=1"));
    // A shorter area in the same buffer: its end is the area's end, whatever follows in memory.
    s.area = withArgc(1, "/e\0\0\0/b"s);
    EXPECT_EQ(getproclline(&k, nullptr, &length, 0, buffer), NSString(u"k"));
    s.area = withArgc(1, "/e\0\0\0/b\0"s);
    EXPECT_EQ(getproclline(&k, nullptr, &length, 0, buffer), NSString(u"/b"));
    EXPECT_EQ(length, 2);
}

TEST(ProcessSnapshot, CountsWholeRecordsOnly) {
    FakeSource s;
    UseSource use(s);
    kinfo_proc records[3] = {record(1, "a"), record(2, "b"), record(3, "c")};
    s.table.assign(reinterpret_cast<const char*>(records), sizeof records);
    s.table += "12345";  // a partial record at the end

    kinfo_proc* list = nullptr;
    unsigned long count = 99;
    ASSERT_EQ(GetBSDProcessList(&list, &count), 0);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(list[2].kp_proc.p_pid, 3);
    EXPECT_STREQ(list[2].kp_proc.p_comm, "c");
    std::free(list);

    s.table.resize(sizeof(kinfo_proc) - 1);  // one byte short of a record
    ASSERT_EQ(GetBSDProcessList(&list, &count), 0);
    EXPECT_EQ(count, 0u);
    std::free(list);
}

TEST(ProcessSnapshot, StartsAgainWhileTheTableOutgrowsTheBufferAndFailsOtherwise) {
    FakeSource s;
    UseSource use(s);
    kinfo_proc one = record(7, "seven");
    s.table.assign(reinterpret_cast<const char*>(&one), sizeof one);
    s.enomemReads = 5;
    kinfo_proc* list = nullptr;
    unsigned long count = 0;
    ASSERT_EQ(GetBSDProcessList(&list, &count), 0);
    EXPECT_EQ(s.sizeQueries, 6);  // the size is asked anew each time
    EXPECT_EQ(count, 1u);
    std::free(list);

    s.tableError = EPERM;
    list = reinterpret_cast<kinfo_proc*>(&one);
    count = 5;
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
    s.areas[5] = withArgc(0, ""s);                                      // a kernel thread
    s.areas[6] = withArgc(2, "/x\0\0\0\0\0/Apps/Caf\xC3\xA9.app\0-v\0E=1\0\0"s);
    s.areas[7] = withArgc(1, "/x\0\0\0\0\0/Apps/\xC3.app\0"s);          // invalid UTF-8

    EXPECT_TRUE(isRunningNamed(u"/APPS/CAFE\u0301.APP"));
    EXPECT_EQ(s.areasRead, (std::vector<pid_t>{5, 6, 7}));  // all named, pid 0 never
    EXPECT_TRUE(isRunningNamed(u"KWorker"));                // the short name stands in
    EXPECT_FALSE(isRunningNamed(u"/zero"));
    EXPECT_FALSE(isRunningNamed(u"cafe"));  // named by argv[0], not by the short name
    EXPECT_FALSE(isRunningNamed(u"bad"));   // no name at all
    EXPECT_FALSE(isRunningNamed(u"/Apps/Caf\u00e9.app -v"));
    EXPECT_FALSE(isRunningNamed(u"/x"));

    s.tableError = EIO;  // no snapshot: nothing runs
    EXPECT_FALSE(isRunningNamed(u"/APPS/CAFE\u0301.APP"));
}
