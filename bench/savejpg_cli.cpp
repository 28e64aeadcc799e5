// Converts one bitmap through libSaveJPG.so, for timing and manual checks:
//   savejpg_cli in.bmp out.jpg [quality] [progressive]
// Prints the result value and exits with 0 only when the JPEG was written.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "savejpg.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s in.bmp out.jpg [quality 1-100] [progressive]\n", argv[0]);
    return 2;
  }
  const int quality = argc > 3 ? std::atoi(argv[3]) : 85;
  const bool progressive = argc > 4 && std::string(argv[4]) != "0";
  const int16_t result = SavetoJPEG(argv[1], argv[2], static_cast<uint8_t>(quality < 0 ? 0 : quality > 255 ? 255 : quality),
                                    progressive ? -1 : 0);
  if (result != 0) std::fprintf(stderr, "SavetoJPEG failed: %d\n", result);
  return result == 0 ? 0 : 1;
}
