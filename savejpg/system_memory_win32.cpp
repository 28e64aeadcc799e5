// MemoryAvailable on Windows: the physical memory and the limits of the
// job object the process is in, less what the process has committed. The
// program that loads the library may ask the same of its own system layer;
// the library keeps its own copy, so it needs nothing of that program.
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <algorithm>
#include <utility>

#include "system_memory.h"

namespace savejpg {

uint64_t MachineMemory() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  return ::GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

uint64_t MemoryAvailable() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  uint64_t least = ::GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  const uint64_t committed =
      ::K32GetProcessMemoryInfo(::GetCurrentProcess(),
                                reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                sizeof counters)
          ? counters.PrivateUsage
          : 0;
  // The job this process is in, if any; its limits count committed memory.
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION job{};
  if (::QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &job, sizeof job,
                                  nullptr)) {
    const DWORD flags = job.BasicLimitInformation.LimitFlags;
    for (const auto& [flag, limit] :
         {std::pair{JOB_OBJECT_LIMIT_PROCESS_MEMORY, job.ProcessMemoryLimit},
          std::pair{JOB_OBJECT_LIMIT_JOB_MEMORY, job.JobMemoryLimit}}) {
      if ((flags & flag) == 0) continue;
      const uint64_t left = limit > committed ? limit - committed : 1;
      least = least == 0 ? left : std::min<uint64_t>(least, left);
    }
  }
  return least;
}

}  // namespace savejpg
