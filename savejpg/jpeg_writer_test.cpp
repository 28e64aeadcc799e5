// What the writer keeps in memory: whatever it may keep, the JPEG is the one
// libjpeg writes itself.
#include "jpeg_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// On `threads` threads, any picture cut into bands of a row of MCUs or more.
std::vector<uint8_t> WriteOnThreads(const Rows& rows, JpegOptions options, unsigned threads) {
  options.threads = threads;
  options.least_pixels_to_cut = 0;
  options.least_mcu_rows_in_band = 1;
  // Room to code the bands side by side, which a picture large enough to
  // be cut has.
  if (options.recoding_limit == 0) options.recoding_limit = 64 << 20;
  const size_t stride = size_t{rows.width} * savejpg::BytesPerPixel(rows.format);
  const savejpg::RowFunction row = [&](uint32_t top) { return rows.pixels.data() + top * stride; };
  savejpg::MemorySink sink;
  savejpg::WriteJpeg(rows.width, rows.height, rows.format,
                     savejpg::RowFunctionMaker([&] { return row; }), options, sink);
  return sink.bytes;
}

// A picture to write and the quality to write it at.
struct Case {
  const char* name;
  Rows rows;
  int quality;
};

// The JPEG libjpeg writes of `c` itself; `options` then set for the
// writer's own way at the same quality and mode.
std::vector<uint8_t> LibjpegsOwn(const Case& c, bool progressive, JpegOptions& options) {
  options.quality = c.quality;
  options.progressive = progressive;
  options.libjpeg_fits_tables = true;
  const std::vector<uint8_t> jpeg = Write(c.rows, options);
  options.libjpeg_fits_tables = false;
  return jpeg;
}

const auto kSmooth = [](uint32_t x, uint32_t y, size_t c) {
  const morvane::test_support::Colour colour =
      morvane::test_support::Smooth(static_cast<int>(x), static_cast<int>(y));
  return c == 0 ? colour.b : c == 1 ? colour.g : colour.r;
};

// From plenty down to almost nothing, what the recoding may keep takes it
// through every way it has: every scan's symbols kept, only some of them
// (the progressive scans that do not fit made twice), and libjpeg's own way
// once the first coding does not fit, found as it passes the limit or, once
// a sixteenth of the rows is coded, as it heads past it.
TEST(JpegWriter, SameBytesWhateverTheRecodingMayKeep) {
  std::mt19937 random(17);
  const auto noise = [&](uint32_t, uint32_t, size_t) { return static_cast<uint8_t>(random()); };
  const auto smooth = kSmooth;
  // A busy photograph: many symbols for the bytes they take.
  const auto grainy = [&](uint32_t x, uint32_t y, size_t c) {
    return static_cast<uint8_t>(smooth(x, y, c) / 2 + random() % 48);
  };
  // Noise in the last rows: the first coding passes the limit at once.
  const auto noisy_bottom = [&](uint32_t x, uint32_t y, size_t c) {
    return y >= 24 ? noise(x, y, c) : smooth(x, y, c);
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
      const std::vector<uint8_t> libjpegs = LibjpegsOwn(c, progressive, options);
      const uint64_t coefficients =
          savejpg::CoefficientBytes(c.rows.width, c.rows.height, c.rows.format, c.quality);
      for (uint64_t limit = coefficients * 8; limit > coefficients / 8; limit = limit * 7 / 8) {
        options.recoding_limit = limit;
        EXPECT_EQ(Write(c.rows, options), libjpegs)
            << c.name << (progressive ? ", progressive" : "") << ", limit " << limit;
        EXPECT_EQ(WriteOnThreads(c.rows, options, 3), libjpegs)
            << c.name << (progressive ? ", progressive" : "") << ", limit " << limit
            << ", in bands";
      }
    }
  }
}

// A grey column of 128 blocks, each a checkerboard of its own level and
// contrast: its last AC coefficient not 0, its last bits random.
Rows Checkerboards(unsigned seed) {
  std::mt19937 random(seed);
  std::vector<int> level(256), contrast(256);
  for (int& l : level) l = static_cast<int>(random() % 256);
  for (int& c : contrast) c = static_cast<int>(random() % 64);
  return MakeRows(8, 8 * 128, RowFormat::Grey, [&](uint32_t x, uint32_t y, size_t) {
    const size_t b = y / 8;
    const int value = level[b] + ((x + y) % 2 ? contrast[b] : -contrast[b]);
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
  });
}

// Cut into bands, each coded first on a thread of its own, a picture is
// still the JPEG libjpeg writes in one piece: at every size (the last band
// holding the picture's bottom edge, a band of one row of MCUs), sampling,
// quality and mode, with the DC differences joined at band edges between
// black and white rows of MCUs (the largest a difference can be), and the
// bands' bits joined at every place in a byte.
TEST(JpegWriter, SameBytesOnAnyNumberOfThreads) {
  std::mt19937 random(29);
  const auto noise = [&](uint32_t, uint32_t, size_t) { return static_cast<uint8_t>(random()); };
  // Black and white rows of MCUs, each band edge between the two.
  const auto stripes = [](uint32_t, uint32_t y, size_t) -> uint8_t { return y / 8 % 2 ? 255 : 0; };
  const auto grainy = [&](uint32_t x, uint32_t y, size_t c) {
    return static_cast<uint8_t>(kSmooth(x, y, c) / 2 + random() % 48);
  };
  const std::vector<Case> cases = {
      {"one pixel", MakeRows(1, 1, RowFormat::Bgr, grainy), 85},
      {"grainy, 4:2:0, a part row of MCUs", MakeRows(97, 75, RowFormat::Bgr, grainy), 75},
      {"grainy, 4:4:4", MakeRows(130, 70, RowFormat::Rgbx, grainy), 92},
      {"stripes, 4:2:0", MakeRows(40, 96, RowFormat::Bgrx, stripes), 100},
      {"stripes, grey", MakeRows(24, 200, RowFormat::Grey, stripes), 100},
      {"stripes, 4:4:4", MakeRows(16, 120, RowFormat::Rgb, stripes), 100},
      {"noise, grey", MakeRows(61, 77, RowFormat::Grey, noise), 50},
      {"noise, 4:2:0, low quality", MakeRows(50, 130, RowFormat::Bgr, noise), 5},
      {"smooth, wide", MakeRows(700, 40, RowFormat::Bgr, kSmooth), 85},
      // A band of one block each, 127 band edges, where the byte made of
      // the last bits of one band and the first of the next is 0xFF.
      {"checkerboards, one block a band", Checkerboards(6), 100},
      {"checkerboards, one block a band", Checkerboards(7), 100},
  };
  for (const Case& c : cases) {
    for (const bool progressive : {false, true}) {
      JpegOptions options;
      const std::vector<uint8_t> libjpegs = LibjpegsOwn(c, progressive, options);
      for (const unsigned threads : {2u, 3u, 8u, savejpg::kMostThreads})
        EXPECT_EQ(WriteOnThreads(c.rows, options, threads), libjpegs)
            << c.name << (progressive ? ", progressive" : "") << ", " << threads << " threads";
    }
  }
}

}  // namespace
}  // namespace savejpg_test
