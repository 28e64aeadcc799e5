// The memory a process may take, on POSIX systems. The rules (the physical
// memory, the limits of the process's control groups and its resource
// limits, each less what the process holds already) are the encoder
// library's own, savejpg/system_memory_posix.cpp, which this layer compiles
// too: the library must stand alone, and the batch's budget and the
// encoder's limit then follow one reading of the system.
#include <pthread.h>
#include <sys/resource.h>

#include <cstdint>
#include <string_view>

#include "platform/cgroup_memory.h"
#include "platform/platform.h"
#include "savejpg/system_memory.h"

namespace morvane {
namespace {

bool Limited(int resource) {
  struct rlimit limit {};
  return ::getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY;
}

}  // namespace

uint64_t PhysicalMemoryBytes() { return savejpg::MachineMemory(); }

uint64_t CgroupMemoryLimit(std::string_view cgroups, std::string_view mountinfo) {
  return savejpg::CgroupMemoryLimit(cgroups, mountinfo);
}

uint64_t MemoryAvailableToProcess() { return savejpg::MemoryAvailable(); }

uint64_t MemoryEachThreadTakes() {
  const bool address_space = Limited(RLIMIT_AS);
  if (!address_space && !Limited(RLIMIT_DATA)) return 0;
  size_t stack = size_t{8} << 20;
  size_t guard = 64 << 10;
  uint64_t heap = 0;
#if defined(__GLIBC__)
  pthread_attr_t defaults;
  if (::pthread_getattr_default_np(&defaults) == 0) {
    ::pthread_attr_getstacksize(&defaults, &stack);
    ::pthread_attr_getguardsize(&defaults, &guard);
    ::pthread_attr_destroy(&defaults);
  }
  // A thread's arena reserves a heap of twice the largest mmap threshold
  // (HEAP_MAX_SIZE: 64 MiB on 64-bit systems) when it first allocates.
  heap = uint64_t{2} * 4 * 1024 * 1024 * sizeof(long);
#endif
  return stack + guard + (address_space ? heap : 0);
}

}  // namespace morvane
