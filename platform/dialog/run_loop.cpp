#include "platform/dialog/run_loop.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/exception.h"
#include "platform/base/file_system.h"
#include "platform/base/waiting_line.h"

extern char** environ;

namespace perivane::platform {

namespace {

constexpr const char* kProgramName = "perivane-chooser";
constexpr const char* kDebugVariable = "PERIVANE_CHOOSER_DEBUG";
constexpr const char* kFailureName = "NSInternalInconsistencyException";
// An answer is one path at most; anything longer is not an answer.
constexpr size_t kLargestAnswer = 1 << 20;
// How often a wait on the channel looks whether the program has ended: a process it started
// may hold the channel open after the program itself has gone.
constexpr int kEndCheckMilliseconds = 200;
// A program that has closed the channel is about to exit: it is looked at every few
// milliseconds, and killed if it has not exited within ten seconds.
constexpr int kExitCheckMilliseconds = 5;
constexpr int kExitGraceChecks = 2000;

[[noreturn]] void fail(std::string reason) { throw NSException(kFailureName, std::move(reason)); }

std::string errnoText(int errnum) { return std::strerror(errnum); }

// A descriptor moved above the ones the program is given (standard input, output and error,
// the channel and the program itself), so that no file action of the start replaces it: a host
// that closed its standard input or output gets descriptors 0 and 1 back from the system.
FileDescriptor aboveProgramDescriptors(FileDescriptor fd) {
    if (!fd || fd.get() > kProgramDescriptor) return fd;
    return FileDescriptor(::fcntl(fd.get(), F_DUPFD_CLOEXEC, kProgramDescriptor + 1));
}

// The chooser program, opened and checked once, when the library is loaded: the file beside the
// library that this code was loaded from. Every start runs the file this descriptor holds, so a
// file put at that path later (the folder renamed away and another made in its place) is never
// run. The file must be a regular file owned by root or by the library file's owner and
// writable by no one else.
struct ChooserProgram {
    std::string path;
    FileDescriptor fd;
    std::string refusal;  // why there is no descriptor

    ChooserProgram() {
        Dl_info info{};
        const bool known = ::dladdr(reinterpret_cast<void*>(&aboveProgramDescriptors), &info) != 0 &&
                           info.dli_fname != nullptr && std::strchr(info.dli_fname, '/') != nullptr;
        if (!known) {
            refusal = "The folder chooser cannot tell where the library was loaded from.";
            return;
        }
        const std::string_view loaded = info.dli_fname;
        path = std::string(loaded.substr(0, loaded.rfind('/') + 1)) + kProgramName;
        struct stat library{}, program{};
        fd = aboveProgramDescriptors(FileDescriptor(::open(path.c_str(), O_PATH | O_CLOEXEC)));
        if (!fd || ::fstat(fd.get(), &program) != 0 || ::stat(info.dli_fname, &library) != 0) {
            refusal = "The folder chooser program " + path + " cannot be started: " + std::strerror(errno);
        } else if (!S_ISREG(program.st_mode)) {
            refusal = "The folder chooser program " + path + " is not a regular file.";
        } else if (program.st_uid != 0 && program.st_uid != library.st_uid) {
            refusal = "The folder chooser program " + path + " is owned by neither root nor the library's owner.";
        } else if ((program.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
            refusal = "The folder chooser program " + path + " may be written by others than its owner.";
        }
        if (!refusal.empty()) fd = FileDescriptor();
    }
};
// Made at load and never destroyed, like `turns` below: a call still running (or waiting its
// turn) while the process exits must not meet them destroyed; a condition variable destroyed
// under a waiter would hold the exit up for ever.
const ChooserProgram& chooserProgram = *new ChooserProgram;

// Calls are served one at a time, in the order they came: a process shows one dialog at a time,
// as the platform's main thread runs one modal session at a time. A later call waits for its
// turn; ending a call in any way passes the turn on.
WaitingLine& turns = *new WaitingLine;

bool debugging() {
    const char* value = std::getenv(kDebugVariable);
    return value != nullptr && *value != '\0';
}

// The caller's environment, with the accessibility bus off.
std::vector<std::string> chooserEnvironment() {
    std::vector<std::string> entries;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry = *e;
        if (entry.substr(0, entry.find('=')) != "NO_AT_BRIDGE") entries.emplace_back(entry);
    }
    entries.emplace_back("NO_AT_BRIDGE=1");
    return entries;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// A posix_spawn settings object, set up and destroyed by its holder.
template <typename T, int (*Init)(T*), int (*Destroy)(T*)>
class SpawnSettings {
public:
    SpawnSettings() { Init(&settings_); }
    ~SpawnSettings() { Destroy(&settings_); }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;
    T* get() { return &settings_; }

private:
    T settings_;
};
using SpawnActions =
    SpawnSettings<posix_spawn_file_actions_t, ::posix_spawn_file_actions_init, ::posix_spawn_file_actions_destroy>;
using SpawnAttributes = SpawnSettings<posix_spawnattr_t, ::posix_spawnattr_init, ::posix_spawnattr_destroy>;

// A started program. Whatever way the call leaves, the program is reaped; one still running
// when its holder goes (the call is being abandoned) is killed first, so none outlives it.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {}
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            reap();
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Whether the program has ended (it is not reaped by asking). A host that ignores SIGCHLD
    // has its children reaped by the kernel: then it is gone with nothing left to ask.
    bool hasEnded() const {
        siginfo_t info{};
        const int r = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
        return (r == 0 && info.si_pid == pid_) || (r == -1 && errno == ECHILD);
    }

    // Waits a while for the program to end, kills it if it does not, and reaps it: its status.
    int finish() {
        for (int i = 0; i < kExitGraceChecks && !hasEnded(); ++i) ::poll(nullptr, 0, kExitCheckMilliseconds);
        if (!hasEnded()) ::kill(pid_, SIGKILL);
        return reap();
    }

private:
    int reap() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) == -1 && errno == EINTR) {
        }
        pid_ = 0;
        return status;
    }

    pid_t pid_;
};

pid_t start(int channel, bool debug) {
    SpawnActions actions;
    ::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
    // Whatever GTK or a library prints must not reach the host: the answer has its own channel.
    ::posix_spawn_file_actions_addopen(actions.get(), 1, "/dev/null", O_WRONLY, 0);
    if (!debug) ::posix_spawn_file_actions_addopen(actions.get(), 2, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_adddup2(actions.get(), channel, kMainThreadChannel);
    ::posix_spawn_file_actions_adddup2(actions.get(), chooserProgram.fd.get(), kProgramDescriptor);
    // None of the host's other descriptors (the JVM's files and sockets) goes along.
    ::posix_spawn_file_actions_addclosefrom_np(actions.get(), kProgramDescriptor + 1);

    // The program starts with no signal blocked and every disposition at its default, whatever
    // the calling thread blocks or the host ignores.
    SpawnAttributes attributes;
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    ::posix_spawnattr_setsigmask(attributes.get(), &none);
    ::posix_spawnattr_setsigdefault(attributes.get(), &all);
    ::posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    // The program runs from the descriptor it was checked on, which the file actions gave it as
    // kProgramDescriptor: its link in the program's own /proc/self/fd is the open file itself
    // (as fexecve runs it), not a path looked up again.
    std::vector<std::string> arguments{chooserProgram.path};
    if (debug) arguments.emplace_back("--debug");
    std::vector<std::string> environment = chooserEnvironment();
    const std::string self = "/proc/self/fd/" + std::to_string(kProgramDescriptor);
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, self.c_str(), actions.get(), attributes.get(), pointers(arguments).data(),
                                    pointers(environment).data());
    if (error != 0) {
        fail("The folder chooser program " + chooserProgram.path + " cannot be started: " + errnoText(error));
    }
    return pid;
}

// Sends the request, shuts the sending side, and takes in the answer until the program closes
// the channel or has ended. A program that stops reading ends the sending early; its answer,
// or the lack of one, tells why.
std::string exchange(int channel, std::string_view request, const Child& child) {
    size_t sent = 0;
    bool sending = true;
    std::string received;
    char buffer[4096];
    for (;;) {
        if (sending && sent == request.size()) {
            ::shutdown(channel, SHUT_WR);
            sending = false;
        }
        pollfd ready{channel, static_cast<short>(sending ? POLLOUT : POLLIN), 0};
        const int count = ::poll(&ready, 1, kEndCheckMilliseconds);
        if (count < 0 && errno != EINTR) fail("The folder chooser's channel failed: " + errnoText(errno));
        if (count <= 0) {
            if (child.hasEnded()) return received;
            continue;
        }
        if (sending) {
            const ssize_t n = ::send(channel, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<size_t>(n);
            } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
                sent = request.size();  // the program no longer reads
            }
            continue;
        }
        const ssize_t n = ::recv(channel, buffer, sizeof buffer, 0);
        if (n == 0) return received;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return received;
        }
        if (received.size() + static_cast<size_t>(n) > kLargestAnswer) {
            fail("The folder chooser's answer is too long.");
        }
        received.append(buffer, static_cast<size_t>(n));
    }
}

std::string describeEnd(int status) {
    if (WIFSIGNALED(status)) return "was ended by signal " + std::to_string(WTERMSIG(status));
    return "exited with status " + std::to_string(WEXITSTATUS(status));
}

}  // namespace

void JNFRunLoop::performOnMainThreadWaiting(const MainThreadBlock& block) {
    if (!chooserProgram.fd) fail(chooserProgram.refusal);
    const std::string request = encodeRequest(block.captured);
    const WaitingLine::Turn turn = turns.wait();
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        fail("The folder chooser's channel cannot be made: " + errnoText(errno));
    }
    FileDescriptor ours(ends[0]), theirs = aboveProgramDescriptors(FileDescriptor(ends[1]));
    if (!theirs) fail("The folder chooser's channel cannot be made: " + errnoText(errno));
    ::fcntl(ours.get(), F_SETFL, O_NONBLOCK);

    Child child(start(theirs.get(), debugging()));
    theirs.close();  // from now on only the program holds its end: its exit ends the channel
    const std::string received = exchange(ours.get(), request, child);
    const int status = child.finish();

    const std::optional<MainThreadAnswer> answer = decodeAnswer(received);
    if (answer && answer->kind == MainThreadAnswer::Kind::failure) {
        fail(utf16ToUtf8Lossy(answer->text.value_or(NSString())));
    }
    if (!answer || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fail("The folder chooser ended without an answer: it " + describeEnd(status) + ".");
    }
    *block.result = answer->text;
}

}  // namespace perivane::platform
