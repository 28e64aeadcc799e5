// Converts one bitmap through libSaveJPG.so, for timing and manual checks:
//   savejpg_cli in.bmp out.jpg [quality] [progressive]
// Exits with 0 when the JPEG was written, else prints the result value and
// exits with 1. Codes the picture on up to MORVANE_WORKERS threads when that
// is a number from 1 to 64, otherwise on one a core (SaveJPGUseThreads), as
// the program does for a lone bitmap. Uses only the C library, so no C++
// runtime is loaded for it.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "savejpg.h"

namespace {

// MORVANE_WORKERS when it is a number from 1 to 64, else the cores online.
uint16_t ThreadsToUse() {
  if (const char* text = std::getenv("MORVANE_WORKERS")) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && value >= 1 && value <= 64) {
      return static_cast<uint16_t>(value);
    }
  }
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  return static_cast<uint16_t>(cores < 1 ? 1 : cores > 64 ? 64 : cores);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s in.bmp out.jpg [quality 0-255] [progressive]\n", argv[0]);
    return 2;
  }
  const long quality = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 85;
  const bool progressive = argc > 4 && std::strcmp(argv[4], "0") != 0;
  SaveJPGUseThreads(ThreadsToUse());
  const int16_t result = SavetoJPEG(argv[1], argv[2],
                                    static_cast<uint8_t>(quality < 0     ? 0
                                                         : quality > 255 ? 255
                                                                         : quality),
                                    progressive ? -1 : 0);
  if (result != 0) std::fprintf(stderr, "SavetoJPEG failed: %d\n", result);
  return result == 0 ? 0 : 1;
}
