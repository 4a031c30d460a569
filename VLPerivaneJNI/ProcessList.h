// The running-application check's own routines: the process-table snapshot, the naming of
// one process from its argument area, and the search over all names. isAppRunning calls them;
// the unit tests reach them here (the library exports none of them).
#pragma once

#include <cstdlib>
#include <memory>
#include <optional>

#include "platform/system/process_table.h"
#include "platform/base/strings.h"

namespace perivane {

using platform::kinfo_proc;

// Takes a snapshot of the process table: on success (0) *procList is a new malloc'd array of
// *procCount records, owned by the caller (free). On failure a non-zero error number, a null
// array and a count of 0. When the table outgrows the buffer between the size query and the
// read, it starts again. `reading` says what of the records the caller will look at.
int GetBSDProcessList(kinfo_proc** procList, unsigned long* procCount,
                      platform::Reading reading = platform::Reading::whole);

// The buffer an argument area is read into, as large as the largest area. It is allocated on
// first use, and one buffer serves any number of processes, one after the other.
class ArgumentBuffer {
public:
    // Null when the largest size cannot be had or the buffer cannot be allocated; it is tried
    // again on the next call.
    char* data();
    size_t size() const noexcept { return size_; }

private:
    struct Free {
        void operator()(char* p) const noexcept { std::free(p); }
    };
    std::unique_ptr<char, Free> data_;
    size_t size_ = 0;
};

// The name of one process: its argv[0] (showArguments 0), or argv[0] followed by the other
// arguments and, when the caller is root or the process's user, by the environment strings up
// to the first empty one (showArguments non-zero), joined by single spaces; when the argument
// area gives nothing, the record's short command name. Names are UTF-8 made into Normalization
// Form C; invalid UTF-8 gives no name (nullopt). *argv0Length receives the byte length of
// argv[0] when its end is found, and is left alone otherwise. The second parameter is unused.
std::optional<platform::NSString> getproclline(kinfo_proc* proc, int* unused, int* argv0Length,
                                               int showArguments);

// The same, reading the area into `buffer` (which any earlier call may have filled).
std::optional<platform::NSString> getproclline(kinfo_proc* proc, int* unused, int* argv0Length,
                                               int showArguments, ArgumentBuffer& buffer);

// Whether some process other than pid 0 has a name equal to `path` when letter case is folded
// and canonically equivalent forms count as equal. Every process is named before the first
// comparison; the comparisons stop at the first match.
bool isRunningNamed(const platform::NSString& path);

}  // namespace perivane
