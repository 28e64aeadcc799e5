// Where cutting a picture into bands starts to pay: the writer alone on one
// thread and on two, each picture cut however small, for the bitmaps given
// (24-bit, bottom up, as make_bmp.cpp writes them), baseline and
// progressive at quality 85.
//   band_sizes RUNS FILE.bmp...
// Prints, for each bitmap and mode, the fastest one-thread time and the
// median over the runs of the paired ratio two threads / one thread.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "jpeg_writer.h"

namespace {

using Clock = std::chrono::steady_clock;

uint32_t Little32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
         uint32_t{b[at + 3]} << 24;
}

// The rows of a 24-bit bottom-up bitmap, top first, without padding; false
// for any other file.
bool ReadRows(const char* path, uint32_t& width, uint32_t& height, std::vector<uint8_t>& rows) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (file.size() < 54 || file[0] != 'B' || file[1] != 'M' || file[28] != 24) return false;
  const uint32_t offset = Little32(file, 10);
  width = Little32(file, 18);
  height = Little32(file, 22);
  const uint64_t stride = (uint64_t{width} * 3 + 3) / 4 * 4;
  if (width == 0 || height == 0 || height > 65535 || offset + stride * height > file.size())
    return false;
  rows.resize(size_t{width} * 3 * height);
  for (uint32_t y = 0; y < height; ++y)
    std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(offset + (height - 1 - y) * stride),
                size_t{width} * 3,
                rows.begin() + static_cast<std::ptrdiff_t>(size_t{y} * width * 3));
  return true;
}

double Seconds(uint32_t width, uint32_t height, const std::vector<uint8_t>& pixels,
               bool progressive, unsigned threads) {
  savejpg::JpegOptions options;
  options.quality = 85;
  options.progressive = progressive;
  options.threads = threads;
  options.least_pixels_to_cut = 0;
  const savejpg::RowFunction row = [&](uint32_t top) {
    return pixels.data() + size_t{top} * width * 3;
  };
  savejpg::MemorySink sink;
  const Clock::time_point start = Clock::now();
  savejpg::WriteJpeg(width, height, savejpg::RowFormat::Bgr,
                     savejpg::RowFunctionMaker([&] { return row; }), options, sink);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: band_sizes RUNS FILE.bmp...\n");
    return 2;
  }
  const int runs = std::max(1, std::atoi(argv[1]));
  std::printf(
      "| pixels | mode | one thread ms (fastest) | two threads / one (median of pairs) |\n");
  std::printf("|---|---|---|---|\n");
  for (int i = 2; i < argc; ++i) {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;
    if (!ReadRows(argv[i], width, height, pixels)) {
      std::fprintf(stderr, "band_sizes: %s is no 24-bit bottom-up bitmap\n", argv[i]);
      return 1;
    }
    for (const bool progressive : {false, true}) {
      double fastest = 1e9;
      std::vector<double> ratios;
      for (int run = 0; run < runs; ++run) {
        const double one = Seconds(width, height, pixels, progressive, 1);
        const double two = Seconds(width, height, pixels, progressive, 2);
        fastest = std::min(fastest, one);
        ratios.push_back(two / one);
      }
      std::nth_element(ratios.begin(),
                       ratios.begin() + static_cast<std::ptrdiff_t>(ratios.size() / 2),
                       ratios.end());
      std::printf("| %ux%u (%.2f MP) | %s | %.2f | %.2f |\n", width, height, width * height / 1e6,
                  progressive ? "progressive" : "baseline", fastest * 1e3,
                  ratios[ratios.size() / 2]);
    }
  }
  return 0;
}
