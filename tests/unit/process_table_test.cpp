// The /proc stand-in for the process table and argument areas, against processes we start.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "VLPerivaneJNI/ProcessList.h"

using namespace perivane;
using namespace perivane::platform;
using namespace std::string_literals;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string joined(const std::vector<std::string>& strings) {
    std::string out;
    for (const auto& s : strings) out += s + '\0';
    return out;
}

// A program run with the given argv and environment, its standard input a pipe that stays
// open; killed and reaped when it goes.
class Child {
public:
    Child(std::vector<std::string> argv, std::vector<std::string> envp)
        : Child("/bin/sleep", std::move(argv), std::move(envp)) {}
    Child(const char* program, std::vector<std::string> argv, std::vector<std::string> envp) {
        std::vector<char*> a, e;
        for (auto& s : argv) a.push_back(s.data());
        for (auto& s : envp) e.push_back(s.data());
        a.push_back(nullptr);
        e.push_back(nullptr);
        int input[2];
        if (::pipe(input) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(input[0], 0);
            ::close(input[0]);
            ::close(input[1]);
            ::execve(program, a.data(), e.data());
            ::_exit(127);
        }
        ::close(input[0]);
        input_ = input[1];
        // Wait for the exec: the command line is ours until then.
        const std::string expected = joined(argv);
        for (int i = 0; i < 500 && readFile(procPath("cmdline")) != expected; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Child(Child&& other) noexcept
        : pid_(std::exchange(other.pid_, -1)), input_(std::exchange(other.input_, -1)) {}
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { stop(); }
    pid_t pid() const { return pid_; }
    std::string procPath(const char* entry) const {
        return "/proc/" + std::to_string(pid_) + "/" + entry;
    }
    void kill() {
        if (pid_ > 0) ::kill(pid_, SIGKILL);
    }
    void stop() {
        if (input_ >= 0) ::close(std::exchange(input_, -1));
        if (pid_ <= 0) return;
        kill();
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int input_ = -1;
};

struct Area {
    int result;
    int error;
    std::string bytes;
    int argc() const {
        int a;
        std::memcpy(&a, bytes.data(), sizeof a);
        return a;
    }
};

Area readArea(pid_t pid, size_t capacity, AreaUse use) {
    std::string buffer(capacity, '\x7f');
    size_t size = capacity;
    int name[3] = {CTL_KERN, KERN_PROCARGS2, pid};
    errno = 0;
    int r = sysctl(name, 3, buffer.data(), &size, nullptr, 0, use);
    Area a{r, errno, {}};
    if (r == 0) a.bytes = buffer.substr(0, size);
    return a;
}

std::vector<kinfo_proc> snapshot() {
    kinfo_proc* list = nullptr;
    unsigned long count = 0;
    EXPECT_EQ(GetBSDProcessList(&list, &count), 0);
    std::vector<kinfo_proc> out(list, list + count);
    std::free(list);
    return out;
}

// Always builds the whole area, whatever the caller says it reads.
class WholeAreas : public ProcessSource {
public:
    int sysctl(const int* name, unsigned namelen, void* oldp, size_t* oldlenp, const void* newp,
               size_t newlen, AreaUse) override {
        return procfsProcessSource().sysctl(name, namelen, oldp, oldlenp, newp, newlen,
                                            AreaUse::whole);
    }
};

}  // namespace

TEST(ProcfsTable, HoldsEveryProcessWithItsShortNameAndUser) {
    Child child({"/opt/Some App/Thing", "30"}, {});
    std::vector<kinfo_proc> records = snapshot();
    bool sawSelf = false, sawChild = false;
    std::string myComm = readFile("/proc/self/comm");
    myComm.pop_back();  // its newline
    for (const kinfo_proc& k : records) {
        if (k.kp_proc.p_pid == ::getpid()) {
            sawSelf = true;
            EXPECT_EQ(std::string(k.kp_proc.p_comm), myComm);
            EXPECT_EQ(k.kp_eproc.e_pcred.p_ruid, ::getuid());
        }
        if (k.kp_proc.p_pid == child.pid()) {
            sawChild = true;
            EXPECT_STREQ(k.kp_proc.p_comm, "sleep");
        }
        EXPECT_GT(k.kp_proc.p_pid, 0);
    }
    EXPECT_TRUE(sawSelf);
    EXPECT_TRUE(sawChild);

    // A buffer too small for the table is refused, not filled in part.
    int name[3] = {CTL_KERN, KERN_PROC, KERN_PROC_ALL};
    kinfo_proc one;
    size_t size = sizeof one;
    errno = 0;
    EXPECT_EQ(sysctl(name, 3, &one, &size, nullptr, 0), -1);
    EXPECT_EQ(errno, ENOMEM);

    int argmax = 0;
    size = sizeof argmax;
    int argmaxName[2] = {CTL_KERN, KERN_ARGMAX};
    ASSERT_EQ(sysctl(argmaxName, 2, &argmax, &size, nullptr, 0), 0);
    EXPECT_EQ(argmax, ::sysconf(_SC_ARG_MAX));
    EXPECT_EQ(sysctl(argmaxName, 2, nullptr, &size, &argmax, sizeof argmax), -1);  // no writes
    EXPECT_EQ(errno, EPERM);
}

TEST(ProcfsArea, HasTheLayoutOfTheWholeArea) {
    Child child({"/opt/Some App/Thing", "30"}, {"A=1", "B=2"});
    Area a = readArea(child.pid(), 1 << 16, AreaUse::whole);
    ASSERT_EQ(a.result, 0);
    char exe[PATH_MAX];
    ssize_t n = ::readlink(child.procPath("exe").c_str(), exe, sizeof exe);
    ASSERT_GT(n, 0);
    std::string header = a.bytes.substr(0, 4) + std::string(exe, n) + '\0';
    header.resize((header.size() + 7) / 8 * 8, '\0');
    EXPECT_EQ(a.bytes, header + "/opt/Some App/Thing\0" "30\0" "A=1\0B=2\0\0"s);
    EXPECT_EQ(a.argc(), 2);

    // Cut at the buffer's end, with every argument still counted.
    Area cut = readArea(child.pid(), 10, AreaUse::whole);
    ASSERT_EQ(cut.result, 0);
    EXPECT_EQ(cut.bytes, a.bytes.substr(0, 10));
    EXPECT_EQ(cut.argc(), 2);

    // Through the naming routine: argv[0], or everything.
    kinfo_proc k{};
    k.kp_proc.p_pid = child.pid();
    k.kp_eproc.e_pcred.p_ruid = ::getuid();
    int length = 0;
    EXPECT_EQ(getproclline(&k, nullptr, &length, 0), NSString(u"/opt/Some App/Thing"));
    EXPECT_EQ(length, 19);
    EXPECT_EQ(getproclline(&k, nullptr, &length, 1), NSString(u"/opt/Some App/Thing 30 A=1 B=2"));
}

TEST(ProcfsArea, EndedProcessesFailAndZombiesHaveNoArguments) {
    Child child({"sleep", "30"}, {});
    const pid_t pid = child.pid();
    child.kill();
    // Killed but not reaped: a zombie, with no arguments; it is named by its short name.
    for (int i = 0; i < 500 && readFile("/proc/" + std::to_string(pid) + "/cmdline") != ""; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Area zombie = readArea(pid, 4096, AreaUse::whole);
    ASSERT_EQ(zombie.result, 0);
    EXPECT_EQ(zombie.argc(), 0);
    kinfo_proc k{};
    k.kp_proc.p_pid = pid;
    std::strcpy(k.kp_proc.p_comm, "sleep");
    EXPECT_EQ(getproclline(&k, nullptr, nullptr, 0), NSString(u"sleep"));

    child.stop();  // reaped: gone
    Area gone = readArea(pid, 4096, AreaUse::whole);
    EXPECT_EQ(gone.result, -1);
    EXPECT_EQ(gone.error, ESRCH);
    std::strcpy(k.kp_proc.p_comm, "snapshot");
    EXPECT_EQ(getproclline(&k, nullptr, nullptr, 0), NSString(u"snapshot"));
}

// Reading only what argv[0] needs must never change a name: empty leading arguments (the
// name then starts later, possibly in the environment) and every process of the machine.
TEST(ProcfsArea, FirstArgumentReadsNameLikeTheWholeArea) {
    std::vector<Child> children;
    using Strings = std::vector<std::string>;
    children.emplace_back("/bin/sleep", Strings{"", "30"}, Strings{"E=1"});
    children.emplace_back("/bin/cat", Strings{""}, Strings{"FIRST=env", "X=2"});
    children.emplace_back("/bin/cat", Strings{""}, Strings{});

    WholeAreas whole;
    int compared = 0;
    ArgumentBuffer buffer;
    const auto both = [&](kinfo_proc k) {
        int fastLength = -1, wholeLength = -1;
        std::optional<NSString> fast = getproclline(&k, nullptr, &fastLength, 0, buffer);
        setProcessSource(&whole);
        std::optional<NSString> reference = getproclline(&k, nullptr, &wholeLength, 0, buffer);
        setProcessSource(nullptr);
        return std::make_tuple(fast, reference, fastLength, wholeLength);
    };
    for (const kinfo_proc& k : snapshot()) {
        auto [fast, reference, fastLength, wholeLength] = both(k);
        if (fast != reference || fastLength != wholeLength) {
            // Other processes of this machine come and go, and exec: ask again once.
            std::tie(fast, reference, fastLength, wholeLength) = both(k);
        }
        EXPECT_EQ(fast, reference) << "pid " << k.kp_proc.p_pid;
        EXPECT_EQ(fastLength, wholeLength) << "pid " << k.kp_proc.p_pid;
        for (const Child& c : children) {
            if (c.pid() != k.kp_proc.p_pid) continue;
            ++compared;
            if (&c == &children[0]) {
                EXPECT_EQ(fast, NSString(u"30"));
            } else if (&c == &children[1]) {
                EXPECT_EQ(fast, NSString(u"FIRST=env"));
            } else {
                EXPECT_EQ(fast, NSString(u"cat"));
            }
        }
    }
    EXPECT_EQ(compared, 3);
}
