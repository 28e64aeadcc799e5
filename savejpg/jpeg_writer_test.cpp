// What the writer keeps in memory: whatever it may keep, the JPEG is the one
// libjpeg writes itself.
#include "jpeg_writer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "test_support/bitmap.h"

namespace savejpg_test {
namespace {

using savejpg::JpegOptions;
using savejpg::RowFormat;

struct Rows {
  uint32_t width, height;
  RowFormat format;
  std::vector<uint8_t> pixels;  // top row first, no padding
};

template <typename Byte>
Rows MakeRows(uint32_t width, uint32_t height, RowFormat format, Byte byte) {
  Rows rows{width, height, format, {}};
  const size_t bytes = savejpg::BytesPerPixel(format);
  rows.pixels.resize(size_t{width} * height * bytes);
  for (size_t i = 0; i < rows.pixels.size(); ++i)
    rows.pixels[i] = byte(static_cast<uint32_t>(i / bytes % width),
                          static_cast<uint32_t>(i / bytes / width), i % bytes);
  return rows;
}

std::vector<uint8_t> Write(const Rows& rows, const JpegOptions& options) {
  const size_t stride = size_t{rows.width} * savejpg::BytesPerPixel(rows.format);
  savejpg::MemorySink sink;
  savejpg::WriteJpeg(
      rows.width, rows.height, rows.format,
      [&](uint32_t top) { return rows.pixels.data() + top * stride; }, options, sink);
  return sink.bytes;
}

// From plenty down to almost nothing, what the recoding may keep takes it
// through every way it has: every scan's symbols kept, only some of them
// (the progressive scans that do not fit made twice), and libjpeg's own way
// once the first coding does not fit, found as it passes the limit or, once
// a sixteenth of the rows is coded, as it heads past it.
TEST(JpegWriter, SameBytesWhateverTheRecodingMayKeep) {
  std::mt19937 random(17);
  const auto noise = [&](uint32_t, uint32_t, size_t) { return static_cast<uint8_t>(random()); };
  const auto smooth = [](uint32_t x, uint32_t y, size_t c) {
    const morvane::test_support::Colour colour =
        morvane::test_support::Smooth(static_cast<int>(x), static_cast<int>(y));
    return c == 0 ? colour.b : c == 1 ? colour.g : colour.r;
  };
  // A busy photograph: many symbols for the bytes they take.
  const auto grainy = [&](uint32_t x, uint32_t y, size_t c) {
    return static_cast<uint8_t>(smooth(x, y, c) / 2 + random() % 48);
  };
  // Noise in the last rows: the first coding passes the limit at once.
  const auto noisy_bottom = [&](uint32_t x, uint32_t y, size_t c) {
    return y >= 24 ? noise(x, y, c) : smooth(x, y, c);
  };
  struct Case {
    const char* name;
    Rows rows;
    int quality;
  };
  const std::vector<Case> cases = {
      {"noise, 4:4:4", MakeRows(150, 90, RowFormat::Bgr, noise), 100},
      {"grainy, 4:2:0", MakeRows(256, 200, RowFormat::Bgrx, grainy), 85},
      {"noise below smooth rows", MakeRows(2048, 32, RowFormat::Rgb, noisy_bottom), 95},
      {"noise, grey", MakeRows(120, 100, RowFormat::Grey, noise), 90},
  };
  for (const Case& c : cases) {
    for (const bool progressive : {false, true}) {
      JpegOptions options;
      options.quality = c.quality;
      options.progressive = progressive;
      options.libjpeg_fits_tables = true;
      const std::vector<uint8_t> libjpegs = Write(c.rows, options);
      options.libjpeg_fits_tables = false;
      const uint64_t coefficients =
          savejpg::CoefficientBytes(c.rows.width, c.rows.height, c.rows.format, c.quality);
      for (uint64_t limit = coefficients * 8; limit > coefficients / 8; limit = limit * 7 / 8) {
        options.recoding_limit = limit;
        EXPECT_EQ(Write(c.rows, options), libjpegs)
            << c.name << (progressive ? ", progressive" : "") << ", limit " << limit;
      }
    }
  }
}

}  // namespace
}  // namespace savejpg_test
