#include "platform/system/process_table.h"

#include "platform/base/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace perivane::platform {

namespace {

// Reads a /proc file into [out, out + capacity) until its end or the space is full. Returns the
// byte count, or -1 when the first read fails. `more` says whether bytes were left unread; the
// first of them is then in `next` (it has been read).
ssize_t readUpTo(int fd, char* out, size_t capacity, bool& more, char& next) {
    size_t total = 0;
    more = false;
    while (total < capacity) {
        ssize_t n = ::read(fd, out + total, capacity - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (total == 0) return -1;
            break;
        }
        total += static_cast<size_t>(n);
        // A /proc file of a process gives all it has in one read when there is room for it,
        // so a short read is its end.
        if (static_cast<size_t>(n) < capacity - (total - n)) return static_cast<ssize_t>(total);
    }
    ssize_t n;
    do n = ::read(fd, &next, 1); while (n < 0 && errno == EINTR);
    more = n > 0;
    return static_cast<ssize_t>(total);
}

// Counts the strings, each ended by a zero byte except perhaps the last, that start at `first`
// (already read) and go on with the rest of fd: for an argument list that did not fit.
size_t countRemainingStrings(int fd, char first) {
    size_t count = first == '\0';
    char chunk[4096];
    char last = first;
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i) count += chunk[i] == '\0';
        last = chunk[n - 1];
    }
    return count + (last != '\0' ? 1 : 0);
}

bool isPid(const char* name) {
    if (*name < '1' || *name > '9') return false;
    for (const char* p = name + 1; *p != '\0'; ++p)
        if (*p < '0' || *p > '9') return false;
    return true;
}

int fail(int error) {
    errno = error;
    return -1;
}

class ProcfsSource final : public ProcessSource {
public:
    int sysctl(const int* name, unsigned namelen, void* oldp, size_t* oldlenp, const void* newp,
               size_t newlen, Reading reading) override {
        if (newp != nullptr || newlen != 0) return fail(EPERM);
        if (name == nullptr || oldlenp == nullptr || namelen < 2 || name[0] != CTL_KERN)
            return fail(ENOENT);
        if (namelen == 3 && name[1] == KERN_PROC && name[2] == KERN_PROC_ALL)
            return processTable(oldp, oldlenp, reading);
        if (namelen == 4 && name[1] == KERN_PROC && name[2] == KERN_PROC_PID)
            return processRecord(name[3], oldp, oldlenp);
        if (namelen == 2 && name[1] == KERN_ARGMAX) return argMax(oldp, oldlenp);
        if (namelen == 3 && name[1] == KERN_PROCARGS2)
            return argumentArea(name[2], static_cast<char*>(oldp), oldlenp, reading);
        return fail(ENOENT);
    }

private:
    static int argMax(void* oldp, size_t* oldlenp) {
        if (oldp == nullptr) {
            *oldlenp = sizeof(int);
            return 0;
        }
        if (*oldlenp < sizeof(int)) return fail(ENOMEM);
        long limit = ::sysconf(_SC_ARG_MAX);
        if (limit <= 0) return fail(EINVAL);
        int value = limit > INT_MAX ? INT_MAX : static_cast<int>(limit);
        std::memcpy(oldp, &value, sizeof value);
        *oldlenp = sizeof value;
        return 0;
    }

    // At least the number of processes: the system's task count (every thread of every
    // process, so never fewer), which /proc/loadavg gives in one short read; or, failing
    // that, the count of process directories.
    static size_t taskCount() {
        FileDescriptor fd(::open("/proc/loadavg", O_RDONLY | O_CLOEXEC));
        char text[128];
        ssize_t n = fd ? ::read(fd.get(), text, sizeof text - 1) : -1;
        if (n > 0) {
            text[n] = '\0';
            unsigned long running = 0, tasks = 0;
            if (std::sscanf(text, "%*s %*s %*s %lu/%lu", &running, &tasks) == 2 && tasks > 0)
                return tasks;
        }
        Directory proc(::opendir("/proc"));
        size_t count = 0;
        while (proc && ::readdir(proc.get()) != nullptr) ++count;
        return count;
    }

    // The record of process `pid`, with its short name and owner, from /proc (or from its
    // directory opened as `proc`): false when the process has ended.
    static bool readRecord(int proc, pid_t pid, kinfo_proc& record) {
        char path[48];
        std::snprintf(path, sizeof path, proc == AT_FDCWD ? "/proc/%d/comm" : "%d/comm", static_cast<int>(pid));
        FileDescriptor fd(::openat(proc, path, O_RDONLY | O_CLOEXEC));
        if (!fd) return false;
        struct stat st;
        char comm[64];
        ssize_t n = ::read(fd.get(), comm, sizeof comm);
        if (n < 0 || ::fstat(fd.get(), &st) != 0) return false;
        while (n > 0 && comm[n - 1] == '\n') --n;
        record = kinfo_proc{};
        record.kp_proc.p_pid = pid;
        std::memcpy(record.kp_proc.p_comm, comm, std::min<size_t>(n, MAXCOMLEN));
        record.kp_eproc.e_pcred.p_ruid = st.st_uid;
        return true;
    }

    // One record per process directory of /proc: with the short name and the owner, or, read
    // for process IDs alone, with the ID from the listing and nothing else (no file of the
    // process is opened). The size query leaves room for an eighth more processes than there
    // are; the read lists /proc and fails with ENOMEM when the table has outgrown the buffer
    // since.
    static int processTable(void* oldp, size_t* oldlenp, Reading reading) {
        if (oldp == nullptr) {
            const size_t count = taskCount();
            *oldlenp = (count + count / 8 + 8) * sizeof(kinfo_proc);
            return 0;
        }
        Directory dir(::opendir("/proc"));
        if (!dir) return -1;
        const size_t capacity = *oldlenp / sizeof(kinfo_proc);
        auto* out = static_cast<kinfo_proc*>(oldp);
        const int dirFd = ::dirfd(dir.get());
        size_t count = 0;
        while (const dirent* e = ::readdir(dir.get())) {
            if (!isPid(e->d_name)) continue;
            kinfo_proc record{};
            record.kp_proc.p_pid = static_cast<pid_t>(std::strtol(e->d_name, nullptr, 10));
            if (reading != Reading::processIds && !readRecord(dirFd, record.kp_proc.p_pid, record)) {
                continue;  // ended since the listing: not in the table
            }
            if (count == capacity) return fail(ENOMEM);
            out[count++] = record;
        }
        *oldlenp = count * sizeof(kinfo_proc);
        return 0;
    }

    static int processRecord(int pid, void* oldp, size_t* oldlenp) {
        if (oldp == nullptr) {
            *oldlenp = sizeof(kinfo_proc);
            return 0;
        }
        if (*oldlenp < sizeof(kinfo_proc)) return fail(ENOMEM);
        kinfo_proc record;
        if (pid <= 0 || !readRecord(AT_FDCWD, pid, record)) {
            *oldlenp = 0;  // no such process: no record, as the platform answers
            return 0;
        }
        std::memcpy(oldp, &record, sizeof record);
        *oldlenp = sizeof record;
        return 0;
    }

    static int argumentArea(pid_t pid, char* out, size_t* oldlenp, Reading reading) {
        if (pid <= 0) return fail(EINVAL);
        char path[48];
        std::snprintf(path, sizeof path, "/proc/%d/cmdline", static_cast<int>(pid));
        FileDescriptor cmdline(::open(path, O_RDONLY | O_CLOEXEC));
        if (!cmdline) return fail(errno == ENOENT ? ESRCH : errno);
        if (out == nullptr) {
            // Size query: the whole area is at most the largest one.
            long limit = ::sysconf(_SC_ARG_MAX);
            *oldlenp = static_cast<size_t>(limit > 0 ? limit : 0) + PATH_MAX + 16;
            return 0;
        }
        const size_t capacity = *oldlenp;
        if (capacity < sizeof(int)) return fail(ENOMEM);

        if (reading == Reading::firstArgument) {
            // The first argument is the same whatever the executable path holds, as long as it
            // ends where it ends in the whole area: the whole area puts the arguments at most
            // PATH_MAX + 8 bytes further on, so when they end that far before the buffer's end,
            // an empty path serves. The environment matters only when no argument holds a
            // non-zero byte (the first argument then starts in the environment).
            constexpr size_t start = 8;  // argc, an empty path's zero byte, padding
            if (capacity > start + PATH_MAX + 8) {
                const size_t room = capacity - start - PATH_MAX - 8;
                bool more = false;
                char next;
                ssize_t n = readUpTo(cmdline.get(), out + start, room, more, next);
                if (n < 0) return fail(ESRCH);
                const char* args = out + start;
                bool hasText = false;
                for (ssize_t i = 0; i < n && !hasText; ++i) hasText = args[i] != '\0';
                if (!more && (hasText || n == 0)) {
                    size_t size = start + static_cast<size_t>(n);
                    int argc = 0;
                    for (ssize_t i = 0; i < n; ++i) argc += args[i] == '\0';
                    if (n > 0 && args[n - 1] != '\0') {
                        out[size++] = '\0';  // room was left for it
                        ++argc;
                    }
                    std::memcpy(out, &argc, sizeof argc);
                    std::memset(out + 4, 0, start - 4);
                    *oldlenp = size;
                    return 0;
                }
            }
            // Otherwise build the whole area, from the start.
            if (::lseek(cmdline.get(), 0, SEEK_SET) != 0) return fail(ESRCH);
        }
        return wholeArea(pid, cmdline.get(), out, capacity, oldlenp);
    }

    static int wholeArea(pid_t pid, int cmdline, char* out, size_t capacity, size_t* oldlenp) {
        std::vector<char> area;
        area.reserve(4096);
        area.resize(sizeof(int));
        char path[48];
        std::snprintf(path, sizeof path, "/proc/%d/exe", static_cast<int>(pid));
        char exe[PATH_MAX];
        ssize_t exeLength = ::readlink(path, exe, sizeof exe);
        if (exeLength > 0) area.insert(area.end(), exe, exe + exeLength);
        area.push_back('\0');
        while (area.size() % 8 != 0) area.push_back('\0');

        // Copy into the caller's buffer as we go; what does not fit is cut.
        size_t size = std::min(area.size(), capacity);
        std::memcpy(out, area.data(), size);

        bool more = false;
        char next = '\0';
        ssize_t n = readUpTo(cmdline, out + size, capacity - size, more, next);
        if (n < 0) return fail(ESRCH);
        size_t argc = 0;
        for (ssize_t i = 0; i < n; ++i) argc += out[size + i] == '\0';
        const char last = n > 0 ? out[size + n - 1] : '\0';
        size += static_cast<size_t>(n);
        if (more) {
            argc += countRemainingStrings(cmdline, next);
        } else if (last != '\0') {
            ++argc;  // the last argument was not ended: end it
            if (size < capacity) out[size++] = '\0';
        }
        int argcValue = argc > INT_MAX ? INT_MAX : static_cast<int>(argc);
        std::memcpy(out, &argcValue, sizeof argcValue);

        if (!more && size < capacity) {
            std::snprintf(path, sizeof path, "/proc/%d/environ", static_cast<int>(pid));
            FileDescriptor environ(::open(path, O_RDONLY | O_CLOEXEC));
            if (environ) {  // the kernel refuses other users' environments
                bool envMore = false;
                char envNext;
                ssize_t e = readUpTo(environ.get(), out + size, capacity - size, envMore, envNext);
                if (e > 0) {
                    size += static_cast<size_t>(e);
                    if (out[size - 1] != '\0' && size < capacity) out[size++] = '\0';
                }
            }
            if (size < capacity) out[size++] = '\0';  // the empty string that ends the list
        }
        *oldlenp = size;
        return 0;
    }
};

std::atomic<ProcessSource*> currentSource{nullptr};

}  // namespace

uid_t getuid() noexcept { return ::getuid(); }

ProcessSource& procfsProcessSource() {
    static ProcfsSource source;
    return source;
}

ProcessSource* setProcessSource(ProcessSource* source) noexcept {
    ProcessSource* previous = currentSource.exchange(source);
    return previous != nullptr ? previous : &procfsProcessSource();
}

int sysctl(const int* name, unsigned namelen, void* oldp, size_t* oldlenp, const void* newp,
           size_t newlen, Reading reading) {
    ProcessSource* source = currentSource.load(std::memory_order_acquire);
    if (source == nullptr) source = &procfsProcessSource();
    return source->sysctl(name, namelen, oldp, oldlenp, newp, newlen, reading);
}

}  // namespace perivane::platform
