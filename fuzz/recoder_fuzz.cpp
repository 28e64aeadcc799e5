// Fuzz target for the Huffman recoder: every JPEG it makes must be, byte
// for byte, the one libjpeg makes alone. The first byte picks the way in:
//  - even: pixels through WriteJpeg, the program's own path (size, row
//    format, quality, baseline or progressive from the next bytes, the
//    pixels from the rest), cut into bands coded on several threads or not,
//    against WriteJpeg with libjpeg fitting the tables itself;
//  - odd: chosen coefficients (test_support/libjpeg_coefficients.h): 1, 3
//    or 4 components, any sampling and table numbers, blocks of every kind,
//    libjpeg's script or a random one, the recoder's input coded with the
//    quick, the standard or fitted tables; against libjpeg's transcoding
//    path.
// Choices are read from the bytes; past their end from a generator seeded
// with them, so that a short input still makes a whole picture. Any byte
// that differs, or a refusal of what libjpeg wrote, aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <span>
#include <utility>
#include <vector>

#include "huffman_recoder.h"
#include "jpeg_writer.h"
#include "test_support/libjpeg_coefficients.h"

namespace {

using namespace morvane::test_support;
using Bytes = std::vector<uint8_t>;

// Numbers from the input's bytes, then from a generator seeded with them.
class Chooser {
 public:
  explicit Chooser(std::span<const uint8_t> bytes) : bytes_(bytes) {
    std::seed_seq seed(bytes.begin(), bytes.end());
    random_.seed(seed);
  }
  uint32_t operator()(uint32_t n) {
    if (n <= 1) return 0;
    if (at_ >= bytes_.size()) return static_cast<uint32_t>(random_() % n);
    uint32_t value = 0;
    for (uint64_t range = 1; range < n && at_ < bytes_.size(); range <<= 8)
      value = value << 8 | bytes_[at_++];
    return value % n;
  }
  std::span<const uint8_t> Rest() const { return bytes_.subspan(at_); }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
  std::mt19937 random_;
};

[[noreturn]] void Differ(const char* what) {
  std::fprintf(stderr, "the recoder and libjpeg differ: %s\n", what);
  std::abort();
}

void CheckSame(const Bytes& recoded, const Bytes& libjpeg, const char* what) {
  if (recoded != libjpeg) Differ(what);
}

Bytes WritePixels(uint32_t width, uint32_t height, savejpg::RowFormat format, const Bytes& pixels,
                  savejpg::JpegOptions options) {
  const size_t stride = size_t{width} * savejpg::BytesPerPixel(format);
  const savejpg::RowFunction rows = [&](uint32_t top) { return pixels.data() + top * stride; };
  savejpg::MemorySink sink;
  savejpg::WriteJpeg(width, height, format, savejpg::RowFunctionMaker([&] { return rows; }),
                     options, sink);
  return sink.bytes;
}

void FuzzPixels(Chooser& choose) {
  uint32_t width = 1 + choose(512), height = 1 + choose(512);
  while (uint64_t{width} * height > (1u << 14)) width = (width + 1) / 2, height = (height + 1) / 2;
  const auto format = static_cast<savejpg::RowFormat>(choose(5));
  savejpg::JpegOptions options;
  options.quality = 1 + static_cast<int>(choose(100));
  options.progressive = choose(2) == 1;
  // The rest of the bytes, over and over; past them, as the generator says.
  Bytes pixels(size_t{width} * height * savejpg::BytesPerPixel(format));
  const std::span<const uint8_t> rest = choose.Rest();
  for (size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = rest.empty() ? static_cast<uint8_t>(choose(256)) : rest[i % rest.size()];
  options.libjpeg_fits_tables = true;
  const Bytes libjpeg = WritePixels(width, height, format, pixels, options);
  options.libjpeg_fits_tables = false;
  // Cut into bands of any number of rows of MCUs, on up to 8 threads, the
  // bands' symbols coded one after the other or side by side.
  options.threads = 1 + choose(8);
  options.least_pixels_to_cut = 0;
  options.least_mcu_rows_in_band = 1 + choose(4);
  options.recoding_limit = choose(2) == 0 ? 0 : 64 << 20;
  CheckSame(WritePixels(width, height, format, pixels, options), libjpeg, "through WriteJpeg");
}

CoefficientPicture ChoosePicture(Chooser& choose) {
  static constexpr int kComponents[] = {1, 3, 4};
  CoefficientPicture picture;
  picture.components.resize(static_cast<size_t>(kComponents[choose(3)]));
  int blocks_in_mcu = 0;
  for (CoefficientPicture::Component& c : picture.components) {
    c.h = 1 + static_cast<int>(choose(4));
    c.v = 1 + static_cast<int>(choose(4));
    const int others = static_cast<int>(picture.components.size()) - 1;
    if (blocks_in_mcu + c.h * c.v + others > 10) c.h = c.v = 1;
    blocks_in_mcu += c.h * c.v;
    c.dc_table = static_cast<int>(choose(4));
    c.ac_table = static_cast<int>(choose(4));
  }
  picture.width = 1 + choose(1024);
  picture.height = 1 + choose(1024);
  while (uint64_t{picture.width} * picture.height > (1u << 16))
    picture.width = (picture.width + 1) / 2, picture.height = (picture.height + 1) / 2;
  picture.SizeBlocks();
  FillRandomly(picture, choose);
  return picture;
}

void FuzzCoefficients(Chooser& choose) {
  const CoefficientPicture picture = ChoosePicture(choose);
  const int components = static_cast<int>(picture.components.size());
  const std::vector<savejpg::ProgressiveScan> script =
      choose(2) == 0 ? LibjpegSimpleProgression(components) : RandomScript(components, choose);
  static constexpr LibjpegCoding kInputs[] = {
      LibjpegCoding::kQuickTables, LibjpegCoding::kStandardTables, LibjpegCoding::kFittedTables};
  Bytes input = WriteWithLibjpeg(picture, kInputs[choose(3)]);
  savejpg::MemorySink fitted, progressive;
  savejpg::RecodeWithFittedTables(input, LibjpegFittedTable, fitted);
  CheckSame(fitted.bytes, WriteWithLibjpeg(picture, LibjpegCoding::kFittedTables), "fitted tables");
  savejpg::RecodeAsProgressive(std::move(input), script, LibjpegFittedTable, progressive);
  CheckSame(progressive.bytes, WriteWithLibjpeg(picture, LibjpegCoding::kProgressive, script),
            "progressive");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Chooser choose(std::span<const uint8_t>(data, size));
  try {
    if (choose(2) == 0) {
      FuzzPixels(choose);
    } else {
      FuzzCoefficients(choose);
    }
  } catch (const std::exception& e) {
    // libjpeg takes every picture and script made here; the recoder must
    // take all that libjpeg wrote.
    std::fprintf(stderr, "refused: %s\n", e.what());
    std::abort();
  }
  return 0;
}
