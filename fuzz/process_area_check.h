// The argument-area parser's contract (getproclline and the running-application check over one
// process), checked on one input: used by the fuzz target and by the corpus replay. Aborts when
// the contract is broken. Also the process source that stands in for /proc there and in the
// unit tests.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "VLPerivaneJNI/ProcessList.h"
#include "platform/base/unicode.h"

namespace perivane::fuzz {

// In place of /proc while it lives: a process table and argument areas given as bytes.
class FakeProcessSource : public platform::ProcessSource {
public:
    std::map<pid_t, std::string> areas;  // none: an empty area
    std::vector<pid_t> areasRead;
    bool areaFails = false;              // the process has ended
    int argmax = 4096;
    std::string table;                   // the process table's bytes
    int enomemReads = 0;                 // table reads that fail with ENOMEM first
    int tableError = 0, sizeQueries = 0;
    platform::ProcessSource* previous = platform::setProcessSource(this);
    ~FakeProcessSource() override { platform::setProcessSource(previous); }

    int sysctl(const int* name, unsigned namelen, void* oldp, size_t* oldlenp, const void*, size_t,
               platform::Reading) override {
        if (namelen == 2) return std::memcpy(oldp, &argmax, sizeof argmax), 0;
        if (name[1] == platform::KERN_PROCARGS2) {
            if (areaFails) return errno = ESRCH, -1;
            areasRead.push_back(name[2]);
            const std::string& a = areas[name[2]];
            *oldlenp = std::min(a.size(), *oldlenp);  // cut at the buffer's end
            return std::memcpy(oldp, a.data(), *oldlenp), 0;
        }
        std::string_view answer = table;
        if (namelen == 4 && name[2] == platform::KERN_PROC_PID) {  // one process's record, or none
            answer = {};
            for (size_t at = 0; at + sizeof(platform::kinfo_proc) <= table.size(); at += sizeof(platform::kinfo_proc)) {
                platform::kinfo_proc k;
                std::memcpy(&k, table.data() + at, sizeof k);
                if (k.kp_proc.p_pid == name[3]) answer = std::string_view(table).substr(at, sizeof k);
            }
        }
        if (oldp == nullptr) return ++sizeQueries, *oldlenp = answer.size(), 0;
        if (tableError != 0) return errno = tableError, -1;
        if (enomemReads > 0) return --enomemReads, errno = ENOMEM, -1;
        if (answer.size() > *oldlenp) return errno = ENOMEM, -1;
        *oldlenp = answer.size();
        return std::memcpy(oldp, answer.data(), answer.size()), 0;
    }
};

inline platform::kinfo_proc processRecord(pid_t pid, std::string_view comm, uid_t uid) {
    platform::kinfo_proc k{};
    k.kp_proc.p_pid = pid;
    std::memcpy(k.kp_proc.p_comm, comm.data(), std::min<size_t>(comm.size(), platform::MAXCOMLEN));
    k.kp_eproc.e_pcred.p_ruid = uid;
    return k;
}

// Whether `longer` is `shorter`, or `shorter` followed by a space and more.
inline bool extends(const platform::NSString& longer, const platform::NSString& shorter) {
    return longer == shorter || longer.starts_with(shorter + u' ');
}

// Input: byte 0, bit 0: the process runs as another user; byte 1: the size of the largest
// argument area (255: larger than any input); bytes 2 to 17: the short command name; the rest:
// the argument area of process 42, the only process. Inputs shorter than 18 bytes are refused.
//
// The contract: no name holds U+0000; argv[0], when the area gives it, is the area's text from
// the first non-zero byte after the executable path up to the next zero byte, in Form C, and
// its length is what the caller is told, with or without the other arguments; the name with
// the arguments starts with argv[0], and with the environment it starts with the name another
// user gets; and the running-application check finds the process by its own name (so the
// length cut it makes before comparing never drops a match). Accepted: the area gave argv[0].
inline bool checkProcessArea(std::string_view bytes) {
    using platform::NSString;
    if (bytes.size() < 18) return false;
    FakeProcessSource source;
    source.argmax = static_cast<unsigned char>(bytes[1]) == 255 ? 1 << 16 : static_cast<unsigned char>(bytes[1]);
    const uid_t owner = platform::getuid() + ((bytes[0] & 1) != 0 ? 1 : 0);
    platform::kinfo_proc record = processRecord(42, bytes.substr(2, 16), owner);
    const std::string_view area = bytes.substr(18);
    source.areas[42] = area;
    source.table.assign(reinterpret_cast<const char*>(&record), sizeof record);

    int length = -1, lengthWithArguments = -1;
    const std::optional<NSString> argv0 = getproclline(&record, nullptr, &length, 0);
    const std::optional<NSString> line = getproclline(&record, nullptr, &lengthWithArguments, 1);
    record.kp_eproc.e_pcred.p_ruid = owner + 1;
    const std::optional<NSString> othersLine = getproclline(&record, nullptr, nullptr, 1);
    for (const auto& name : {argv0, line, othersLine}) {
        if (name && name->find(u'\0') != NSString::npos) std::abort();
    }
    if (length != lengthWithArguments) std::abort();
    if (length >= 0) {
        const std::string_view visible = area.substr(0, static_cast<size_t>(source.argmax));
        size_t start = 4;
        while (start < visible.size() && visible[start] != '\0') ++start;
        while (start < visible.size() && visible[start] == '\0') ++start;
        const size_t end = start + static_cast<size_t>(length);
        if (length == 0 || end >= visible.size() || visible[end] != '\0' ||
            visible.substr(start, length).find('\0') != std::string_view::npos) {
            std::abort();
        }
        std::optional<NSString> expected = platform::utf8ToUtf16Strict(visible.substr(start, length));
        if (expected) expected = platform::precomposed(*expected);
        if (argv0 != expected) std::abort();
        if (argv0 && line && !extends(*line, *argv0)) std::abort();
        if (line && othersLine && !extends(*line, *othersLine)) std::abort();
    }
    if (argv0 && !isRunningNamed(*argv0)) std::abort();
    return length >= 0;
}

}  // namespace perivane::fuzz
