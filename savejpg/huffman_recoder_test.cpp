// JPEGs whose fitted Huffman tables (and progressive scans) come from the
// recoder, against the same pictures with libjpeg counting the symbols and
// making the scans itself: the bytes must not differ.
#include "huffman_recoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "jpeg_writer.h"
#include "savejpg.h"
#include "test_support/bitmap.h"
#include "test_support/jpeg.h"

namespace savejpg_test {
namespace {

using savejpg::JpegOptions;
using savejpg::RowFormat;
using namespace morvane::test_support;

struct Picture {
  uint32_t width, height;
  RowFormat format;
  std::vector<uint8_t> pixels;  // top row first, no padding
};

template <typename Pixel>
Picture Make(uint32_t width, uint32_t height, RowFormat format, Pixel pixel) {
  Picture p{width, height, format, {}};
  const size_t bytes = savejpg::BytesPerPixel(format);
  p.pixels.resize(size_t{width} * height * bytes);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      for (size_t c = 0; c < bytes; ++c)
        p.pixels[(size_t{y} * width + x) * bytes + c] = pixel(x, y, c);
  return p;
}

std::vector<uint8_t> Write(const Picture& p, JpegOptions options, bool libjpeg_fits) {
  options.libjpeg_fits_tables = libjpeg_fits;
  const size_t stride = size_t{p.width} * savejpg::BytesPerPixel(p.format);
  savejpg::MemorySink sink;
  savejpg::WriteJpeg(
      p.width, p.height, p.format, [&](uint32_t top) { return p.pixels.data() + top * stride; },
      options, sink);
  return sink.bytes;
}

TEST(HuffmanRecoder, GivesLibjpegsOwnFittedTablesByteForByte) {
  std::mt19937 random(7);
  const auto noise = [&](uint32_t, uint32_t, size_t) { return static_cast<uint8_t>(random()); };
  const auto smooth = [](uint32_t x, uint32_t y, size_t c) {
    const Colour colour = Smooth(static_cast<int>(x), static_cast<int>(y));
    return c == 0 ? colour.b : c == 1 ? colour.g : colour.r;
  };
  // Thin lines far apart: blocks with a few coefficients after long runs of
  // zeros (16-zero codes) and many blocks that end at once.
  const auto lines = [](uint32_t x, uint32_t y, size_t) {
    return static_cast<uint8_t>((x % 29 == 3 || y % 37 == 5) ? 250 : 20);
  };
  const auto flat = [](uint32_t, uint32_t, size_t) { return uint8_t{128}; };
  // Stripes that are the highest horizontal frequency of the 8x8 transform:
  // blocks whose one coefficient comes after 27 zeros (a 16-zero code).
  const auto stripes = [](uint32_t x, uint32_t, size_t) {
    return static_cast<uint8_t>(
        128 + std::lround(100 * std::cos((2 * (x % 8) + 1) * 7 * std::numbers::pi / 16)));
  };

  struct Case {
    const char* name;
    Picture picture;
    int quality;
  };
  const std::vector<Case> cases = {
      {"smooth colour, 4:2:0", Make(61, 47, RowFormat::Bgr, smooth), 85},
      {"smooth colour, 4:4:4", Make(61, 47, RowFormat::Bgr, smooth), 95},
      {"noise, every coefficient large", Make(67, 35, RowFormat::Bgrx, noise), 100},
      {"noise, grey", Make(45, 50, RowFormat::Grey, noise), 100},
      {"lines, grey", Make(200, 120, RowFormat::Grey, lines), 75},
      {"lines, colour", Make(200, 120, RowFormat::Rgb, lines), 50},
      {"stripes, grey", Make(48, 40, RowFormat::Grey, stripes), 80},
      {"flat at the lowest quality", Make(40, 24, RowFormat::Bgr, flat), 1},
      {"one pixel", Make(1, 1, RowFormat::Bgr, smooth), 85},
      // More empty blocks in a row than one end-of-band run may count.
      {"flat, 33124 blocks", Make(1456, 1456, RowFormat::Grey, flat), 85},
  };
  for (const Case& c : cases) {
    for (const bool progressive : {false, true}) {
      JpegOptions options;
      options.quality = c.quality;
      options.progressive = progressive;
      const std::vector<uint8_t> recoded = Write(c.picture, options, false);
      EXPECT_EQ(recoded, Write(c.picture, options, true))
          << c.name << (progressive ? ", progressive" : "");
      const DecodedJpeg decoded = DecodeJpeg(recoded);
      EXPECT_EQ(decoded.width, static_cast<int>(c.picture.width)) << c.name;
      EXPECT_EQ(decoded.progressive, progressive) << c.name;
    }
  }

  // The markers before the scan come through: density, and a profile long
  // enough for two APP2 markers.
  JpegOptions marked;
  marked.x_dpi = 300;
  marked.y_dpi = 72;
  std::vector<uint8_t> profile(70000);
  for (size_t i = 0; i < profile.size(); ++i) profile[i] = static_cast<uint8_t>(i * 7 + i / 256);
  marked.icc_profile = profile;
  const Picture picture = Make(61, 47, RowFormat::Bgr, smooth);
  for (const bool progressive : {false, true}) {
    marked.progressive = progressive;
    const std::vector<uint8_t> recoded = Write(picture, marked, false);
    EXPECT_EQ(recoded, Write(picture, marked, true));
    EXPECT_EQ(DecodeJpeg(recoded).icc, profile);
  }
}

// The recoder only ever reads what libjpeg wrote a moment before, but it
// still checks every byte: damaged input is refused, never read past.
TEST(HuffmanRecoder, RefusesDamagedInputWithoutReadingPastIt) {
  const Picture picture = Make(24, 16, RowFormat::Bgr, [](uint32_t x, uint32_t y, size_t c) {
    return static_cast<uint8_t>(x * 9 + y * 5 + c * 70);
  });
  // Any baseline JPEG of libjpeg's will do: the recoder reads any tables.
  const std::vector<uint8_t> first = Write(picture, JpegOptions{}, true);
  // Tables with a code for every symbol.
  const auto build = [](std::array<int64_t, 257>&) {
    savejpg::HuffmanTable table;
    table.bits[8] = 255;
    for (int i = 0; i < 255; ++i) table.symbols[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    return table;
  };
  size_t refused = 0;
  for (size_t cut = 0; cut < first.size(); ++cut) {
    std::vector<uint8_t> damaged(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(cut));
    damaged.insert(damaged.end(), {0xFF, 0xD9});  // a cut file still ends as one
    for (const uint8_t changed : {uint8_t{0xFF}, uint8_t{0x00}, uint8_t{0x5A}}) {
      std::vector<uint8_t> altered = first;
      altered[cut] = changed;
      for (const std::vector<uint8_t>* input : {&damaged, &altered}) {
        savejpg::MemorySink sink;
        try {
          savejpg::RecodeWithFittedTables(*input, build, sink);
        } catch (const savejpg::JpegFailure& e) {
          EXPECT_EQ(e.code(), SAVEJPG_ERR_ENCODER);
          ++refused;
        }
      }
    }
  }
  EXPECT_GT(refused, first.size());
}

}  // namespace
}  // namespace savejpg_test
