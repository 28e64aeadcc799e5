// PhysicalMemory on Windows: the total physical memory the system reports.
#include <windows.h>

#include "system_memory.h"

namespace savejpg {

uint64_t PhysicalMemory() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!::GlobalMemoryStatusEx(&status)) return 0;
  return status.ullTotalPhys;
}

}  // namespace savejpg
