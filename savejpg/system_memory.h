// How much memory the encoder may take. Which implementation is built is
// chosen in CMakeLists.txt.
#pragma once

#include <cstdint>
#include <string_view>

namespace savejpg {

// Bytes of memory this process may still take: the least of the physical
// memory, the limit of its control groups (cgroup v2 memory.max or v1
// memory.limit_in_bytes, of its own group and those above it) and of its
// resource limits (RLIMIT_AS, RLIMIT_DATA), each less what the process holds
// against it already (resident memory, address space, data); on Windows the
// least of the physical memory and its job object's limits for the process
// and for the job, less the memory the process has committed. At least 1
// where any limit is known; 0 when the system says nothing.
uint64_t MemoryAvailable();

// Bytes of physical memory of the machine, whatever the process may take of
// it; 0 when the system does not say.
uint64_t MachineMemory();

// POSIX systems only: the least memory limit among the control groups named
// in `cgroups` (the text of /proc/self/cgroup) and the groups above them,
// read from the mounts that `mountinfo` (the text of /proc/self/mountinfo)
// lists: for cgroup v2 each group's memory.max, for v1's memory controller
// its memory.limit_in_bytes. UINT64_MAX when none sets one.
uint64_t CgroupMemoryLimit(std::string_view cgroups, std::string_view mountinfo);

}  // namespace savejpg
