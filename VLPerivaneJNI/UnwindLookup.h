// The lookup that the unwinder linked into the library and the chooser program makes to find the
// frame tables of the code it unwinds through, made to work on glibc 2.34 (see UnwindLookup.cpp).
#pragma once

#include <dlfcn.h>

namespace perivane {

// What glibc's _dl_find_object answers for `pc` (the mapping of the object holding it and its
// frame-table header; no link map), found by walking the loaded objects' program headers: 0,
// or -1 when no loaded object holds `pc`.
int findObjectByProgramHeaders(void* pc, dl_find_object* result) noexcept;

}  // namespace perivane
