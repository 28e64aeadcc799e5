// How a Linux process finds the memory limit of its control groups. Part of
// the POSIX platform layer, here for its tests.
#pragma once

#include <cstdint>
#include <string_view>

namespace morvane {

// The least memory limit among the control groups named in `cgroups` (the
// text of /proc/self/cgroup) and the groups above them, read from the
// mounts that `mountinfo` (the text of /proc/self/mountinfo) lists: for
// cgroup v2 each group's memory.max, for v1's memory controller its
// memory.limit_in_bytes. UINT64_MAX when none sets one.
uint64_t CgroupMemoryLimit(std::string_view cgroups, std::string_view mountinfo);

}  // namespace morvane
