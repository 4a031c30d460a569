// libgcc's unwinder, linked in statically, finds the frame tables of the code it unwinds through
// with _dl_find_object, which glibc has from version 2.35 on; linked against it as it is, the
// library would not load on glibc 2.34. The link sends those calls here instead
// (-Wl,--wrap=_dl_find_object): to glibc's own where the running C library has it, else to the
// same answer from a walk over the loaded objects' program headers.
#include "UnwindLookup.h"

#include <link.h>

#include <algorithm>
#include <cstdint>

namespace perivane {

int findObjectByProgramHeaders(void* pc, dl_find_object* result) noexcept {
    struct Search {
        uintptr_t pc;
        dl_find_object* result;
    } search{reinterpret_cast<uintptr_t>(pc), result};
    auto visit = [](dl_phdr_info* info, size_t, void* data) -> int {
        const Search& s = *static_cast<Search*>(data);
        uintptr_t start = UINTPTR_MAX, end = 0, frames = 0;
        bool holds = false;
        for (int i = 0; i < info->dlpi_phnum; ++i) {
            const ElfW(Phdr)& segment = info->dlpi_phdr[i];
            const uintptr_t at = info->dlpi_addr + segment.p_vaddr;
            if (segment.p_type == PT_LOAD) {
                start = std::min(start, at);
                end = std::max(end, at + segment.p_memsz);
                holds = holds || (s.pc >= at && s.pc - at < segment.p_memsz);
            } else if (segment.p_type == PT_GNU_EH_FRAME) {
                frames = at;
            }
        }
        if (!holds) return 0;
        *s.result = {};
        s.result->dlfo_map_start = reinterpret_cast<void*>(start);
        s.result->dlfo_map_end = reinterpret_cast<void*>(end);
        s.result->dlfo_eh_frame = reinterpret_cast<void*>(frames);
        return 1;
    };
    return dl_iterate_phdr(visit, &search) == 1 ? 0 : -1;
}

}  // namespace perivane

extern "C" int __wrap__dl_find_object(void* pc, dl_find_object* result) {
    using Find = int (*)(void*, dl_find_object*);
    static const Find glibc = reinterpret_cast<Find>(dlsym(RTLD_DEFAULT, "_dl_find_object"));
    return glibc != nullptr ? glibc(pc, result) : perivane::findObjectByProgramHeaders(pc, result);
}
