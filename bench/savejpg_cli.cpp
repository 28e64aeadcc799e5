// Converts one bitmap through libSaveJPG.so, for timing and manual checks:
//   savejpg_cli in.bmp out.jpg [quality] [progressive]
// Exits with 0 when the JPEG was written, else prints the result value and
// exits with 1. Uses only the C library, so no C++ runtime is loaded for it.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "savejpg.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s in.bmp out.jpg [quality 0-255] [progressive]\n", argv[0]);
    return 2;
  }
  const long quality = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 85;
  const bool progressive = argc > 4 && std::strcmp(argv[4], "0") != 0;
  const int16_t result = SavetoJPEG(argv[1], argv[2],
                                    static_cast<uint8_t>(quality < 0     ? 0
                                                         : quality > 255 ? 255
                                                                         : quality),
                                    progressive ? -1 : 0);
  if (result != 0) std::fprintf(stderr, "SavetoJPEG failed: %d\n", result);
  return result == 0 ? 0 : 1;
}
