// The groups of the calling process and their names, through the C library (getgroups and
// the group database), and the process's file-creation mask.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace perivane::platform {

// The group IDs of the process, each once: its effective group first (which a process always
// belongs to, with or without supplementary groups), then the supplementary groups in the order
// the system keeps them.
std::vector<gid_t> processGroupIDs();

// The names of the process's groups, in the order of processGroupIDs(), IDs without a name left
// out.
std::vector<std::string> processGroupNames();

// Sets the process-wide file-creation mask to `mask` and returns the mask it replaces (umask).
mode_t umask(mode_t mask) noexcept;

}  // namespace perivane::platform
