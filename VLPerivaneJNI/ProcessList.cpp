// The running-application check's own routines: the process-table snapshot, the naming of one
// process from its argument area, and the search over all names (declared in ProcessList.h).
#include "ProcessList.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/base/unicode.h"

namespace perivane {

using platform::NSString;

namespace {

// A name from UTF-8 bytes, in Normalization Form C; invalid UTF-8 gives none.
std::optional<NSString> nameFromBytes(std::string_view bytes) {
    std::optional<NSString> text = platform::utf8ToUtf16Strict(bytes);
    if (!text) return std::nullopt;
    return platform::precomposed(*text);
}

// Gives a record read for its process ID alone (its short name empty) the short name from the
// process's own record. False when the process has ended.
bool withShortName(kinfo_proc& proc) {
    if (proc.kp_proc.p_comm[0] != '\0') return true;
    int name[4] = {platform::CTL_KERN, platform::KERN_PROC, platform::KERN_PROC_PID, proc.kp_proc.p_pid};
    kinfo_proc own;
    size_t size = sizeof own;
    if (platform::sysctl(name, 4, &own, &size, nullptr, 0) == -1 || size < sizeof own) return false;
    std::memcpy(proc.kp_proc.p_comm, own.kp_proc.p_comm, sizeof proc.kp_proc.p_comm);
    return true;
}

std::string_view shortCommandName(const kinfo_proc& proc) {
    const char* comm = proc.kp_proc.p_comm;
    return std::string_view(comm, strnlen(comm, sizeof proc.kp_proc.p_comm));
}

// The bytes of the name in the argument area of `proc`, as they stand in it (which `buffer` holds
// until its next use); nothing when the area gives no name, and the record's short command name
// stands in.
std::optional<std::string_view> areaName(kinfo_proc* proc, int* argv0Length, int showArguments,
                                         ArgumentBuffer& buffer);

// The number of characters of UTF-8 bytes (of valid ones; others give no name anyway).
size_t characterCount(std::string_view utf8) {
    return static_cast<size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;  // every byte but continuations
    }));
}

}  // namespace

int GetBSDProcessList(kinfo_proc** procList, unsigned long* procCount, platform::Reading reading) {
    static const int kProcessTableName[3] = {platform::CTL_KERN, platform::KERN_PROC,
                                             platform::KERN_PROC_ALL};
    *procList = nullptr;
    *procCount = 0;
    // The table can grow between the size query and the read; then the read fails with ENOMEM
    // and we ask again. There is no limit on the attempts: each one sizes the buffer to the
    // table of that moment with room to spare, so only a table that keeps outgrowing that room
    // between two calls a few milliseconds apart keeps it going, and the number of processes is
    // bounded by the system.
    for (;;) {
        size_t size = 0;
        int error = platform::sysctl(kProcessTableName, 3, nullptr, &size, nullptr, 0, reading);
        if (error == -1) error = errno;
        if (error != 0) return error;

        std::unique_ptr<kinfo_proc, void (*)(void*)> buffer(
            static_cast<kinfo_proc*>(std::malloc(size)), &std::free);
        if (buffer == nullptr) return ENOMEM;

        error = platform::sysctl(kProcessTableName, 3, buffer.get(), &size, nullptr, 0, reading);
        if (error == -1) error = errno;
        if (error == 0) {
            *procList = buffer.release();
            *procCount = size / sizeof(kinfo_proc);
            return 0;
        }
        if (error != ENOMEM) return error;
    }
}

char* ArgumentBuffer::data() {
    if (data_ != nullptr) return data_.get();
    int name[2] = {platform::CTL_KERN, platform::KERN_ARGMAX};
    int argmax = 0;
    size_t length = sizeof argmax;
    if (platform::sysctl(name, 2, &argmax, &length, nullptr, 0) == -1 || argmax <= 0) {
        return nullptr;
    }
    // Not zero-filled: the pages are touched only as far as areas reach.
    data_.reset(static_cast<char*>(std::malloc(static_cast<size_t>(argmax))));
    if (data_ == nullptr) return nullptr;
    size_ = static_cast<size_t>(argmax);
    return data_.get();
}

std::optional<NSString> getproclline(kinfo_proc* proc, int* unused, int* argv0Length,
                                     int showArguments) {
    ArgumentBuffer buffer;
    return getproclline(proc, unused, argv0Length, showArguments, buffer);
}

std::optional<NSString> getproclline(kinfo_proc* proc, int*, int* argv0Length, int showArguments,
                                     ArgumentBuffer& buffer) {
    // Invalid UTF-8 gives no name; the short command name does not stand in for it.
    return nameFromBytes(areaName(proc, argv0Length, showArguments, buffer).value_or(shortCommandName(*proc)));
}

namespace {

std::optional<std::string_view> areaName(kinfo_proc* proc, int* argv0Length, int showArguments,
                                         ArgumentBuffer& buffer) {
    char* area = buffer.data();
    if (area == nullptr) return std::nullopt;

    int name[3] = {platform::CTL_KERN, platform::KERN_PROCARGS2, proc->kp_proc.p_pid};
    size_t size = buffer.size();
    // With the flag 0 only argv[0] is read, and the area may say so.
    const platform::Reading reading =
        showArguments != 0 ? platform::Reading::whole : platform::Reading::firstArgument;
    if (platform::sysctl(name, 3, area, &size, nullptr, 0, reading) == -1) return std::nullopt;
    const size_t end = size;  // the area is [0, end)

    // The executable path starts at 4 and must end within the area.
    size_t cursor = sizeof(int);
    while (cursor < end && area[cursor] != '\0') ++cursor;
    if (cursor >= end) return std::nullopt;
    // Skip the padding; the name starts at the first byte after it.
    while (cursor < end && area[cursor] == '\0') ++cursor;
    if (cursor >= end) return std::nullopt;
    const size_t start = cursor;

    int argc;
    std::memcpy(&argc, area, sizeof argc);
    char* lastEnd = nullptr;  // the last string terminator met so far
    int strings = 0;

    if (argc > 0) {
        while (cursor < end) {
            if (area[cursor] == '\0') {
                ++strings;
                if (lastEnd != nullptr) {
                    *lastEnd = ' ';
                } else if (argv0Length != nullptr) {
                    *argv0Length = static_cast<int>(cursor - start);
                }
                lastEnd = area + cursor;
                if (showArguments == 0) break;  // argv[0] alone
            }
            ++cursor;
            if (strings == argc) break;
        }
    }

    // The further strings (the environment first), only for our own processes or for root.
    if (showArguments != 0 && (platform::getuid() == 0 || proc->kp_eproc.e_pcred.p_ruid == platform::getuid())) {
        while (cursor < end) {
            if (area[cursor] == '\0') {
                if (lastEnd != nullptr && area + cursor == lastEnd + 1) break;  // an empty string
                if (lastEnd != nullptr) *lastEnd = ' ';
                lastEnd = area + cursor;
            }
            ++cursor;
        }
    }

    if (lastEnd == nullptr) return std::nullopt;
    return std::string_view(area + start, static_cast<size_t>(lastEnd - (area + start)));
}

}  // namespace

bool isRunningNamed(const NSString& path) {
    // Name every process first, then compare. Case folding and decomposition never make a text
    // shorter, so a name with more characters than the path's compared form cannot match: it
    // is left out before it is normalized, whose cost grows with the square of a run of
    // combining marks that any user can put in a process's argv[0].
    const size_t longest = platform::comparisonLength(path);
    const platform::CaselessText wanted(path);
    std::vector<NSString> names;
    kinfo_proc* records = nullptr;
    unsigned long count = 0;
    // The table is read for process IDs alone: a short name costs a /proc read, and only a
    // process whose argument area gives no name (a kernel thread, a zombie) needs one. Such a
    // process's record is read when its turn comes; one that has ended by then has none, as if
    // it had ended before the table was read.
    if (GetBSDProcessList(&records, &count, platform::Reading::processIds) == 0) {
        std::unique_ptr<kinfo_proc, void (*)(void*)> owned(records, &std::free);
        names.reserve(count);
        ArgumentBuffer buffer;  // one for all the processes of this call
        for (unsigned long i = 0; i < count; ++i) {
            if (records[i].kp_proc.p_pid == 0) continue;
            int argv0Length = 0;
            std::optional<std::string_view> bytes = areaName(&records[i], &argv0Length, 0, buffer);
            if (!bytes) {
                if (!withShortName(records[i])) continue;  // ended meanwhile: no name
                bytes = shortCommandName(records[i]);
            }
            if (characterCount(*bytes) > longest) continue;
            std::optional<NSString> name = nameFromBytes(*bytes);
            if (name) names.push_back(std::move(*name));
        }
    }
    for (const NSString& name : names) {
        if (wanted.equals(name)) return true;
    }
    return false;
}

}  // namespace perivane
