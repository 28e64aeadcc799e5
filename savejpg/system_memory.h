// How much memory the machine has. Which implementation is built is chosen
// in CMakeLists.txt.
#pragma once

#include <cstdint>

namespace savejpg {

// Bytes of physical memory, or 0 when the system does not say.
uint64_t PhysicalMemory();

}  // namespace savejpg
