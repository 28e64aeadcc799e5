// PhysicalMemory for POSIX systems: pages times page size.
#include <unistd.h>

#include "system_memory.h"

namespace savejpg {

uint64_t PhysicalMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  const uint64_t p = static_cast<uint64_t>(pages), size = static_cast<uint64_t>(page_size);
  return p > UINT64_MAX / size ? UINT64_MAX : p * size;
}

}  // namespace savejpg
