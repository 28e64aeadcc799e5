// The memory a batch reckons each conversion takes: the one reader of the
// bitmap's headers behind it, and the sizes it adds up. What the program
// really takes against it: tests/memory_test.cpp.
#include "app/memory_estimate.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "jpeg_writer.h"
#include "test_support/bitmap.h"

namespace morvane {
namespace {

using test_support::BmpFields;
using test_support::BuildBmp;

std::span<const uint8_t> Start(const std::vector<uint8_t>& file) {
  return std::span(file).first(std::min(file.size(), kBitmapFactsBytes));
}

TEST(ReadBitmapFacts, ReadsEveryHeaderKindAndRefusesWhatTheEncoderRefuses) {
  BmpFields core;  // OS/2 1.x: 16-bit sides
  core.info_size = 12;
  core.width = 65500;
  core.height = 40000;
  core.pixels.assign(10, 0);
  BmpFields top_down;  // Windows 3, stored top row first
  top_down.width = 300;
  top_down.height = -200;
  top_down.bit_count = 32;
  BmpFields rle;
  rle.bit_count = 8;
  rle.compression = 1;
  rle.palette.resize(2);
  rle.pixels = {0, 1};  // the image size the header gives
  BmpFields v5;
  v5.info_size = 124;
  v5.width = 7;
  v5.height = 3;
  v5.profile.assign(1000, 7);
  BmpFields os2_short;  // OS/2 2.x cut after the bit count
  os2_short.info_size = 16;
  os2_short.width = 9;
  os2_short.height = 5;
  struct Good {
    BmpFields fields;
    uint32_t width, height;
    uint16_t bit_count;
    bool rle;
    uint64_t image_size, profile_size;
  };
  const Good good[] = {{core, 65500, 40000, 24, false, 0, 0},
                       {top_down, 300, 200, 32, false, 0, 0},
                       {rle, 8, 8, 8, true, 2, 0},
                       {v5, 7, 3, 24, false, 0, 1000},
                       {os2_short, 9, 5, 24, false, 0, 0}};
  for (const Good& g : good) {
    const std::vector<uint8_t> file = BuildBmp(g.fields);
    const std::optional<BitmapFacts> facts = ReadBitmapFacts(Start(file));
    ASSERT_TRUE(facts) << g.fields.info_size;
    EXPECT_EQ(facts->width, g.width);
    EXPECT_EQ(facts->height, g.height);
    EXPECT_EQ(facts->bit_count, g.bit_count);
    EXPECT_EQ(facts->rle, g.rle);
    EXPECT_EQ(facts->image_size, g.image_size);
    EXPECT_EQ(facts->profile_size, g.profile_size);
    EXPECT_EQ(facts->pixel_offset, file[10] | file[11] << 8);
    // Cut anywhere inside the fields read, the headers are not read.
    const size_t needed =
        g.fields.info_size == 124 ? 14 + 120 : 14 + std::min<uint32_t>(g.fields.info_size, 24);
    for (size_t cut = 0; cut < needed; ++cut)
      EXPECT_FALSE(ReadBitmapFacts(std::span(file).first(cut))) << g.fields.info_size << " " << cut;
  }

  const auto with = [](auto change) {
    BmpFields fields;
    change(fields);
    return BuildBmp(fields);
  };
  std::vector<uint8_t> not_bm = BuildBmp(BmpFields{});
  not_bm[1] = 'A';
  const std::vector<std::vector<uint8_t>> bad = {
      not_bm,
      with([](BmpFields& f) { f.info_size = 41; }),
      with([](BmpFields& f) { f.width = 0; }),
      with([](BmpFields& f) { f.height = 0; }),
      with([](BmpFields& f) { f.width = -8; }),
      with([](BmpFields& f) { f.width = 65501; }),
      with([](BmpFields& f) { f.height = -65501; }),
      with([](BmpFields& f) { f.height = INT32_MIN; }),
      with([](BmpFields& f) { f.width = INT32_MAX; }),
  };
  for (size_t i = 0; i < bad.size(); ++i) EXPECT_FALSE(ReadBitmapFacts(Start(bad[i]))) << i;
}

TEST(ConversionMemory, CoversTheCoefficientsAtEverySamplingWithoutWrapping) {
  for (const uint32_t side : {1u, 15u, 16u, 17u, 1000u, 65500u}) {
    for (const int quality : {0, 1, 89, 90, 100, 255}) {
      const BitmapFacts facts{side, side / 2 + 1, 24};
      const uint64_t estimate = ConversionMemory(facts, 0, static_cast<uint8_t>(quality));
      const uint64_t coefficients = savejpg::CoefficientBytes(
          facts.width, facts.height, savejpg::RowFormat::Bgr, std::min(quality, 100));
      EXPECT_GE(estimate, coefficients) << side << " " << quality;
      EXPECT_LT(estimate, coefficients + (uint64_t{16} << 20)) << side << " " << quality;
    }
  }
  // An RLE bitmap's coded pixels are kept whole: what the header gives, or
  // the rest of the file, but never more than the file has.
  BitmapFacts rle{100, 100, 8, true, 1078};
  const uint64_t plain = ConversionMemory(rle, 1078 + 5000, 85);
  EXPECT_EQ(ConversionMemory(rle, 1078 + 9000, 85), plain + 4000);
  rle.image_size = 3000;
  EXPECT_EQ(ConversionMemory(rle, 1078 + 9000, 85), plain - 2000);
  rle.image_size = 1u << 31;
  EXPECT_EQ(ConversionMemory(rle, 1078 + 9000, 85), plain + 4000);
  EXPECT_EQ(ConversionMemory(rle, 10, 85), plain - 5000);
}

}  // namespace
}  // namespace morvane
