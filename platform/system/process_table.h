// The kernel's process table and each process's argument area, as the platform's `sysctl`
// gives them, answered from /proc. Exactly four names are known:
//
//   {CTL_KERN, KERN_PROC, KERN_PROC_ALL}        an array of kinfo_proc records, one per process
//   {CTL_KERN, KERN_PROC, KERN_PROC_PID, pid}   that process's record alone (none: size 0)
//   {CTL_KERN, KERN_ARGMAX}                     the largest argument area, an int
//   {CTL_KERN, KERN_PROCARGS2, pid}             that process's argument area (layout below)
//
// The argument area: argc (int, machine order) at 0; the executable path from 4, ended by a
// zero byte (empty when the executable cannot be read); zero padding up to a multiple of 8;
// the argc argument strings, each ended by a zero byte; then, where the kernel lets us read it
// (our own user's processes, or any process for root), the environment strings, each ended by
// a zero byte, and one more zero byte. An area that does not fit the caller's buffer is cut at
// the buffer's end; argc still counts every argument. Kernel threads and zombies have no
// arguments: argc 0.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace perivane::platform {

inline constexpr int CTL_KERN = 1;
inline constexpr int KERN_ARGMAX = 8;
inline constexpr int KERN_PROC = 14;
inline constexpr int KERN_PROC_ALL = 0;
inline constexpr int KERN_PROC_PID = 1;
inline constexpr int KERN_PROCARGS2 = 49;

inline constexpr int MAXCOMLEN = 16;

struct extern_proc {
    pid_t p_pid;
    char p_comm[MAXCOMLEN + 1];  // the short command name, zero-terminated
};

struct pcred {
    // The user the process runs as: the owner /proc reports for it. That is the real user ID
    // for every process except a set-user-ID one, whose environment the kernel shows only to
    // root (who may read every environment anyway).
    uid_t p_ruid;
};

struct eproc {
    pcred e_pcred;
};

struct kinfo_proc {
    extern_proc kp_proc;
    eproc kp_eproc;
};

// What a caller will look at in an answer. The platform gives the whole answer unless the caller
// says it reads less; then it may leave out what costs a /proc access per process:
//   firstArgument   of an argument area, only the first argument (the text that starts after
//                   the padding, up to its zero byte): the area gives the same first argument
//                   but may leave out the executable path and the environment;
//   processIds      of the process table, only each record's p_pid: p_comm may be left empty
//                   and p_ruid 0 (the record of one process, KERN_PROC_PID, has them).
// Every other name ignores it.
enum class Reading { whole, firstArgument, processIds };

// Where sysctl's answers come from: /proc unless a test puts another source in place.
class ProcessSource {
public:
    virtual ~ProcessSource() = default;
    // The same contract as sysctl below.
    virtual int sysctl(const int* name, unsigned namelen, void* oldp, size_t* oldlenp,
                       const void* newp, size_t newlen, Reading reading) = 0;
};

// The platform call: 0 on success, -1 with errno set on failure. A null oldp asks for the
// size the answer needs (for the process table, with room for a few more processes); an
// answer bigger than *oldlenp fails with ENOMEM (the process table) or is cut (an argument
// area). Values cannot be written: a non-null newp fails with EPERM. Unknown names give
// ENOENT; a process that has ended gives ESRCH.
int sysctl(const int* name, unsigned namelen, void* oldp, size_t* oldlenp, const void* newp,
           size_t newlen, Reading reading = Reading::whole);

// The real user ID of the calling process (getuid).
uid_t getuid() noexcept;

// The /proc source, and the current one. setProcessSource(nullptr) puts /proc back; it
// returns the source it replaced. Meant for tests; not synchronized with running calls.
ProcessSource& procfsProcessSource();
ProcessSource* setProcessSource(ProcessSource* source) noexcept;

}  // namespace perivane::platform
