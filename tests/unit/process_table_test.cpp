// The /proc stand-in for the process table and argument areas, against processes we start.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "VLPerivaneJNI/ProcessList.h"

using namespace perivane;
using namespace perivane::platform;
using namespace std::string_literals;

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

// The argument area of `pid` cut at `capacity` bytes; empty, with errno set, on failure.
std::string readArea(pid_t pid, size_t capacity) {
    std::string buffer(capacity, '\x7f');
    int name[3] = {CTL_KERN, KERN_PROCARGS2, pid};
    if (sysctl(name, 3, buffer.data(), &capacity, nullptr, 0) != 0) return "";
    return buffer.substr(0, capacity);
}

// Always builds the whole area, whatever the caller says it reads.
struct WholeAreas : ProcessSource {
    int sysctl(const int* name, unsigned namelen, void* oldp, size_t* oldlenp, const void* newp,
               size_t newlen, AreaUse) override {
        return procfsProcessSource().sysctl(name, namelen, oldp, oldlenp, newp, newlen, AreaUse::whole);
    }
};

}  // namespace

TEST(Procfs, ArgumentAreaOfAChildThenOfNoProcess) {
    Child child({"/opt/Some App/Thing", "-"}, {"A=1", "B=2"});
    char exe[PATH_MAX];
    ssize_t n = ::readlink(child.proc("exe").c_str(), exe, sizeof exe);
    ASSERT_GT(n, 0);
    const int argc = 2;
    std::string area(reinterpret_cast<const char*>(&argc), sizeof argc);
    area.append(exe, n).push_back('\0');
    area.resize((area.size() + 7) / 8 * 8, '\0');
    area += "/opt/Some App/Thing\0-\0A=1\0B=2\0\0"s;
    EXPECT_EQ(readArea(child.pid, 1 << 16), area);
    EXPECT_EQ(readArea(child.pid, 10), area.substr(0, 10));  // cut, every argument counted

    const pid_t pid = child.pid;
    child.reap();
    errno = 0;
    EXPECT_EQ(readArea(pid, 4096), "");
    EXPECT_EQ(errno, ESRCH);
}

// Every process is listed with its short name and user. Reading only what argv[0] needs must
// never change a name: empty leading arguments (the name then starts later, possibly in the
// environment), a zombie (no arguments: its short name) and every other process of the machine.
TEST(Procfs, TableRecordsAndNamesFromTheFirstArgumentAlone) {
    Child a({"", "-"}, {"E=1"}), b({""}, {"FIRST=env", "X=2"}), c({""}, {}), zombie({"/z"}, {});
    ::kill(zombie.pid, SIGKILL);
    awaitContent(zombie.proc("cmdline"), "");
    const std::map<pid_t, NSString> expected = {
        {a.pid, u"-"}, {b.pid, u"FIRST=env"}, {c.pid, u"cat"}, {zombie.pid, u"cat"}};

    WholeAreas whole;
    ArgumentBuffer buffer;
    const auto named = [&](kinfo_proc k, ProcessSource* source) {
        setProcessSource(source);
        int length = -1;
        std::optional<NSString> name = getproclline(&k, nullptr, &length, 0, buffer);
        setProcessSource(nullptr);
        return std::make_pair(name, length);
    };
    kinfo_proc* list = nullptr;
    unsigned long count = 0, compared = 0;
    ASSERT_EQ(GetBSDProcessList(&list, &count), 0);
    std::unique_ptr<kinfo_proc, void (*)(void*)> owned(list, &std::free);
    for (const kinfo_proc& k : std::span(list, count)) {
        EXPECT_GT(k.kp_proc.p_pid, 0);
        auto fast = named(k, nullptr), reference = named(k, &whole);
        if (fast != reference)  // other processes come and go, and exec: ask again once
            fast = named(k, nullptr), reference = named(k, &whole);
        EXPECT_EQ(fast, reference) << "pid " << k.kp_proc.p_pid;
        if (auto e = expected.find(k.kp_proc.p_pid); e != expected.end()) {
            ++compared;
            EXPECT_EQ(fast.first, e->second);
            EXPECT_STREQ(k.kp_proc.p_comm, "cat");
            if (k.kp_proc.p_pid != zombie.pid) {  // /proc shows zombies as root's
                EXPECT_EQ(k.kp_eproc.e_pcred.p_ruid, kChildUser);
            }
        }
    }
    EXPECT_EQ(compared, expected.size());

    // A buffer too small for the table is refused, not filled in part.
    int tableName[3] = {CTL_KERN, KERN_PROC, KERN_PROC_ALL};
    kinfo_proc one;
    size_t size = sizeof one;
    EXPECT_EQ(sysctl(tableName, 3, &one, &size, nullptr, 0), -1);
    EXPECT_EQ(errno, ENOMEM);
}
