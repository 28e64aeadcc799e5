// MemoryAvailable where the system has no way to ask that is built here.
#include "system_memory.h"

namespace savejpg {

uint64_t MemoryAvailable() { return 0; }

uint64_t MachineMemory() { return 0; }

}  // namespace savejpg
