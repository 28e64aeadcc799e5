// Opens like the encoder library and converts nothing: each call writes, in
// the JPEG's place, how many threads SaveJPGUseThreads last allowed the
// calling thread ("0" when it never did), so a test sees what a program
// told the library before the call.
#include <cstdint>
#include <cstdio>

namespace {
thread_local unsigned threads_allowed = 0;
}  // namespace

extern "C" __attribute__((visibility("default"))) void SaveJPGUseThreads(uint16_t threads) {
  threads_allowed = threads;
}

extern "C" __attribute__((visibility("default"))) int16_t SavetoJPEG(char*, char* dest, uint8_t,
                                                                     int16_t) {
  std::FILE* file = std::fopen(dest, "w");
  if (file == nullptr) return 4;
  std::fprintf(file, "%u", threads_allowed);
  return std::fclose(file) == 0 ? 0 : 5;
}
