// Runs a fuzz target's LLVMFuzzerTestOneInput once over every file in the
// folders given (recursively), without libFuzzer: the corpus and the saved
// crashers become a plain regression test.
//   NAME_replay FOLDER...
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  size_t files = 0;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    if (!fs::is_directory(argv[i], ec)) {
      std::fprintf(stderr, "not a folder: %s\n", argv[i]);
      return 2;
    }
    for (const auto& entry : fs::recursive_directory_iterator(argv[i])) {
      if (!entry.is_regular_file() || entry.path().filename().string().starts_with(".")) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
      // An exact-size heap copy, as libFuzzer passes it, so reads past the
      // end show under AddressSanitizer.
      std::vector<uint8_t> exact(bytes);
      exact.shrink_to_fit();
      LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
      ++files;
    }
  }
  std::printf("replayed %zu files\n", files);
  // A replay that finds nothing proves nothing: a moved or emptied corpus
  // must not pass unnoticed.
  if (files == 0) {
    std::fprintf(stderr, "no input files found\n");
    return 1;
  }
  return 0;
}
