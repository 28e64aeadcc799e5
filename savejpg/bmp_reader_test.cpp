// Bitmap reading: every layout decoded to the expected pixels, and every kind
// of malformed file refused with its own error and without any file written.
#include "bmp_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "savejpg.h"
#include "test_support/bitmap.h"
#include "test_support/files.h"

namespace savejpg_test {
namespace {

namespace fs = std::filesystem;
using namespace morvane::test_support;

using savejpg::BmpError;
using savejpg::BmpImage;
using savejpg::BmpRowReader;
using savejpg::DecodeBmp;
using savejpg::RowFormat;

BmpImage MustDecode(const std::vector<uint8_t>& bytes) {
  auto r = DecodeBmp(bytes);
  if (!r.ok()) throw std::runtime_error(std::string("refused: ") + savejpg::ToString(r.error()));
  return std::move(r).value();
}

// All rows of a bitmap as RGB, top row first.
std::vector<Colour> DecodeAll(const std::vector<uint8_t>& bytes, RowFormat* format = nullptr) {
  const BmpImage img = MustDecode(bytes);
  savejpg::MemorySource source(bytes);
  BmpRowReader rows(img, source);
  if (format) *format = rows.Format();
  std::vector<Colour> out;
  for (uint32_t y = 0; y < rows.Height(); ++y) {
    const uint8_t* p = rows.Row(y);
    for (uint32_t x = 0; x < rows.Width(); ++x) {
      switch (rows.Format()) {
        case RowFormat::Grey:
          out.push_back({p[x], p[x], p[x]});
          break;
        case RowFormat::Rgb:
          out.push_back({p[3 * x], p[3 * x + 1], p[3 * x + 2]});
          break;
        case RowFormat::Bgr:
          out.push_back({p[3 * x + 2], p[3 * x + 1], p[3 * x]});
          break;
        case RowFormat::Bgrx:
          out.push_back({p[4 * x + 2], p[4 * x + 1], p[4 * x]});
          break;
        case RowFormat::Rgbx:
          out.push_back({p[4 * x], p[4 * x + 1], p[4 * x + 2]});
          break;
      }
    }
  }
  return out;
}

std::vector<Colour> Expected(int w, int h, const std::function<Colour(int, int)>& f) {
  std::vector<Colour> out;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) out.push_back(f(x, y));
  return out;
}

std::vector<Colour> Ramp(int n) {
  std::vector<Colour> p;
  for (int i = 0; i < n; ++i)
    p.push_back({static_cast<uint8_t>(i * 255 / std::max(n - 1, 1)),
                 static_cast<uint8_t>(255 - i * 7), static_cast<uint8_t>(i * 3)});
  return p;
}

constexpr int W = 13, H = 5;  // odd width: every row has padding

BmpFields TrueColour(int bpp, uint32_t compression = 0, std::vector<uint32_t> masks = {},
                     uint32_t info_size = 40) {
  BmpFields s;
  s.info_size = info_size;
  s.width = W;
  s.height = H;
  s.bit_count = static_cast<uint16_t>(bpp);
  s.compression = compression;
  s.masks = masks;
  return s;
}

TEST(BmpReader, TrueColourLayoutsGiveTheStoredColours) {
  auto smooth = [](int x, int y) { return Smooth(x, y); };
  BmpFields s24 = TrueColour(24);
  s24.pixels = StoreRows(W, H, 24, false, [](int x, int y) { return Packed(Smooth(x, y)); });
  EXPECT_EQ(DecodeAll(BuildBmp(s24)), Expected(W, H, smooth));

  BmpFields s32 = TrueColour(32);
  s32.pixels =
      StoreRows(W, H, 32, false, [](int x, int y) { return 0xAB000000 | Packed(Smooth(x, y)); });
  RowFormat f;
  EXPECT_EQ(DecodeAll(BuildBmp(s32), &f), Expected(W, H, smooth));
  EXPECT_EQ(f, RowFormat::Bgrx);

  // R in the low byte: still passed through without conversion.
  BmpFields rgbx = TrueColour(32, 3, {0xFF, 0xFF00, 0xFF0000});
  rgbx.pixels = StoreRows(W, H, 32, false, [](int x, int y) {
    const Colour c = Smooth(x, y);
    return c.r | (c.g << 8) | (c.b << 16);
  });
  EXPECT_EQ(DecodeAll(BuildBmp(rgbx), &f), Expected(W, H, smooth));
  EXPECT_EQ(f, RowFormat::Rgbx);

  // 10-10-10-2 in a V5 header with alpha: wider channels lose their low bits.
  BmpFields wide = TrueColour(32, 3, {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000}, 124);
  wide.pixels = StoreRows(W, H, 32, false, [](int x, int y) {
    const Colour c = Smooth(x, y);
    return 0xC0000000u | (uint32_t{c.r} << 22 | 3u << 20) | (uint32_t{c.g} << 12) |
           (uint32_t{c.b} << 2 | 1u);
  });
  EXPECT_EQ(DecodeAll(BuildBmp(wide)), Expected(W, H, smooth));

  // Same colours through ALPHABITFIELDS after a 40-byte header.
  BmpFields alpha = TrueColour(32, 6, {0xFF0000, 0xFF00, 0xFF, 0xFF000000});
  alpha.pixels = s32.pixels;
  EXPECT_EQ(DecodeAll(BuildBmp(alpha)), Expected(W, H, smooth));
}

TEST(BmpReader, SixteenBitMasksAreScaledToFullRange) {
  // 5-5-5 by default; 5-6-5 through BI_BITFIELDS, in a 40-byte and a V4 header.
  // Each level with the byte it stands for: 5-bit levels across, 6-bit ones
  // down (one per row; 1, 9, 16, 24, 31 when cut to 5 bits).
  const uint32_t levels5[] = {0, 1, 16, 30, 31};
  const uint8_t bytes5[] = {0, 8, 132, 247, 255};
  const uint32_t levels6[H] = {3, 18, 33, 48, 63};
  const uint8_t bytes6[H] = {12, 73, 134, 194, 255};
  const uint8_t bytes6_cut_to_5[H] = {8, 74, 132, 197, 255};
  BmpFields s555 = TrueColour(16);
  s555.pixels = StoreRows(W, H, 16, false, [&](int x, int y) {
    return levels5[x % 5] << 10 | (levels6[y] >> 1) << 5 | levels5[(x + y) % 5];
  });
  EXPECT_EQ(DecodeAll(BuildBmp(s555)), Expected(W, H, [&](int x, int y) {
              return Colour{bytes5[x % 5], bytes6_cut_to_5[y], bytes5[(x + y) % 5]};
            }));
  for (uint32_t info : {40u, 108u}) {
    BmpFields s565 = TrueColour(16, 3, {0xF800, 0x07E0, 0x001F}, info);
    s565.pixels = StoreRows(W, H, 16, false, [&](int x, int y) {
      return levels5[x % 5] << 11 | levels6[y] << 5 | levels5[(x + y) % 5];
    });
    EXPECT_EQ(DecodeAll(BuildBmp(s565)),
              Expected(W, H,
                       [&](int x, int y) {
                         return Colour{bytes5[x % 5], bytes6[y], bytes5[(x + y) % 5]};
                       }))
        << "info header " << info;
  }
  // Full scale and zero stay exact.
  BmpFields corners = TrueColour(16, 3, {0xF800, 0x07E0, 0x001F});
  corners.width = 2;
  corners.height = 1;
  corners.pixels = {0xFF, 0xFF, 0x00, 0x00};
  EXPECT_EQ(DecodeAll(BuildBmp(corners)), (std::vector<Colour>{{255, 255, 255}, {0, 0, 0}}));
}

TEST(BmpReader, PaletteLayoutsAndHeaderKinds) {
  for (int bpp : {1, 4, 8}) {
    const int colours = bpp == 8 ? 200 : (1 << bpp) - (bpp == 4 ? 3 : 0);  // short tables too
    const auto pal = Ramp(colours);
    auto index = [&](int x, int y) { return static_cast<uint32_t>((x * 3 + y) % colours); };
    for (uint32_t info : {12u, 40u, 64u, 124u}) {
      BmpFields s;
      s.info_size = info;
      s.width = W;
      s.height = H;
      s.bit_count = static_cast<uint16_t>(bpp);
      s.colors_used = info == 12 ? 0 : colours;
      s.palette = pal;
      s.pixels = StoreRows(W, H, bpp, false, index);
      EXPECT_EQ(DecodeAll(BuildBmp(s)),
                Expected(W, H, [&](int x, int y) { return pal[index(x, y)]; }))
          << bpp << " bits, info header " << info;
    }
  }
}

TEST(BmpReader, ColourCountZeroMeansFullTableAndGreyTablesGiveGreyRows) {
  BmpFields s;
  s.width = W;
  s.height = H;
  s.bit_count = 4;
  for (int i = 0; i < 16; ++i)
    s.palette.push_back({uint8_t(i * 17), uint8_t(i * 17), uint8_t(i * 17)});
  s.pixels = StoreRows(W, H, 4, false, [](int x, int y) { return uint32_t((x + y) % 16); });
  RowFormat f;
  EXPECT_EQ(DecodeAll(BuildBmp(s), &f), Expected(W, H, [](int x, int y) {
              const uint8_t v = uint8_t((x + y) % 16 * 17);
              return Colour{v, v, v};
            }));
  EXPECT_EQ(f, RowFormat::Grey);
  s.palette[15].b = 1;  // one entry not grey, even an unused one
  s.pixels = StoreRows(W, H, 4, false, [](int, int) { return 0u; });
  DecodeAll(BuildBmp(s), &f);
  EXPECT_EQ(f, RowFormat::Rgb);
}

TEST(BmpReader, TopDownAndBottomUpGiveTheSameRows) {
  for (int bpp : {4, 8, 16, 24, 32}) {
    auto value = [bpp](int x, int y) {
      return bpp <= 8    ? uint32_t((x + 2 * y) % 16)
             : bpp == 16 ? uint32_t(x * 997 + y * 31) & 0x7FFF
                         : Packed(Smooth(x, y));
    };
    BmpFields up = TrueColour(bpp);
    if (bpp <= 8) up.palette = Ramp(16), up.colors_used = 16;
    BmpFields down = up;
    up.pixels = StoreRows(W, H, bpp, false, value);
    down.pixels = StoreRows(W, H, bpp, true, value);
    down.height = -H;
    EXPECT_EQ(DecodeAll(BuildBmp(up)), DecodeAll(BuildBmp(down))) << bpp << " bits";
  }
}

// Rows are read several at a time: a picture of three blocks, the last one
// short, gives every row in its place either way up.
TEST(BmpReader, RowsReadInBlocksComeInTheirPlaces) {
  constexpr int kWide = 7001, kTall = 8;  // 21 KB a row: three rows to a block
  const std::vector<Colour> expected =
      Expected(kWide, kTall, [](int x, int y) { return Smooth(x, y); });
  for (const bool top_down : {false, true}) {
    BmpFields fields = TrueColour(24);
    fields.width = kWide;
    fields.height = top_down ? -kTall : kTall;
    fields.pixels =
        StoreRows(kWide, kTall, 24, top_down, [](int x, int y) { return Packed(Smooth(x, y)); });
    EXPECT_TRUE(DecodeAll(BuildBmp(fields)) == expected) << (top_down ? "top-down" : "bottom-up");
  }
}

// RLE streams with runs, absolute runs (with padding), moves, early end of
// line and end of bitmap, against the same indexes stored uncompressed.
TEST(BmpReader, RleMatchesItsUncompressedTwin) {
  struct Case {
    int bpp, w;
    std::vector<uint8_t> stream;
    std::vector<std::vector<uint32_t>> stored_rows;  // bottom row first
  };
  const Case cases[] = {
      {8,
       8,
       {8, 1, 0, 0,                    // 8 x colour 1, end of line
        0, 3, 2, 3, 1, 0, 5, 2, 0, 0,  // absolute 2 3 1 + pad, 5 x colour 2
        2, 3, 0, 2, 1, 1,              // 2 x colour 3, move right 1 and up 1
        3, 2, 0, 1},                   // 3 x colour 2, end of bitmap
       {{1, 1, 1, 1, 1, 1, 1, 1},
        {2, 3, 1, 2, 2, 2, 2, 2},
        {3, 3, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 2, 2, 2, 0, 0}}},
      {4,
       8,
       {8, 0x12, 0,    0,                              // alternating 1 2
        0, 5,    0x31, 0x23, 0x10, 0, 3, 0x30,         // absolute 3 1 2 3 1 + pad, then 3 0 3
        0, 0,    0,    2,    4,    0, 1, 0x20, 0, 1},  // end of line, move right 4, one 2, end
       {{1, 2, 1, 2, 1, 2, 1, 2}, {3, 1, 2, 3, 1, 3, 0, 3}, {0, 0, 0, 0, 2, 0, 0, 0}}},
  };
  for (const Case& c : cases) {
    const int h = static_cast<int>(c.stored_rows.size());
    BmpFields rle;
    rle.width = c.w;
    rle.height = h;
    rle.bit_count = static_cast<uint16_t>(c.bpp);
    rle.compression = c.bpp == 8 ? 1 : 2;
    rle.palette = {{10, 20, 30}, {200, 0, 0}, {0, 200, 0}, {0, 0, 200}};
    rle.colors_used = 4;
    rle.pixels = c.stream;
    BmpFields twin = rle;
    twin.compression = 0;
    twin.pixels =
        StoreRows(c.w, h, c.bpp, false, [&](int x, int y) { return c.stored_rows[h - 1 - y][x]; });
    EXPECT_EQ(DecodeAll(BuildBmp(rle)), DecodeAll(BuildBmp(twin))) << "RLE" << c.bpp;
  }
}

// Writers that code whole stored rows run into the row's 4-byte padding:
// up to the width rounded to 4 pixels in RLE8, to 8 pixels in RLE4. Those
// pixels are dropped; a run past that point is still refused.
TEST(BmpReader, RleRunsIntoTheRowPaddingAreDropped) {
  const Colour grey{10, 20, 30}, red{200, 0, 0}, green{0, 200, 0}, blue{0, 0, 200};
  auto rle = [&](int bpp, int width, int height, std::vector<uint8_t> stream) {
    BmpFields s;
    s.width = width;
    s.height = height;
    s.bit_count = static_cast<uint16_t>(bpp);
    s.compression = bpp == 8 ? 1 : 2;
    s.palette = {grey, red, green, blue};
    s.colors_used = 4;
    s.pixels = std::move(stream);
    return BuildBmp(s);
  };
  // RLE8, 3 pixels wide: rows of 4 coded pixels.
  EXPECT_EQ(DecodeAll(rle(8, 3, 2,
                          {4, 1,              // 4 x colour 1, the last in the padding
                           0, 0,              // end of line
                           0, 4, 2, 3, 1, 3,  // absolute 2 3 1, then 3 in the padding
                           0, 0, 0, 1})),     // end of line, end of bitmap
            (std::vector<Colour>{green, blue, red, red, red, red}));
  // RLE4, 3 pixels wide: rows of 8 coded pixels.
  EXPECT_EQ(DecodeAll(rle(4, 3, 2,
                          {8, 0x12,                       // 1 2 1, then 2 1 2 1 2 dropped
                           0, 0,                          // end of line
                           1, 0x30,                       // one 3
                           0, 7, 0x12, 0x31, 0x23, 0x10,  // absolute 1 2, then 3 1 2 3 1
                           0, 1})),                       // end of bitmap
            (std::vector<Colour>{blue, red, green, red, green, red}));

  // One pixel past the padding.
  EXPECT_EQ(DecodeBmp(rle(8, 3, 1, {4, 1, 1, 1, 0, 1})).error(), BmpError::RlePastRow);
  EXPECT_EQ(DecodeBmp(rle(8, 3, 1, {0, 5, 1, 1, 1, 1, 1, 0, 0, 1})).error(), BmpError::RlePastRow);
  EXPECT_EQ(DecodeBmp(rle(4, 3, 1, {9, 0x12, 0, 1})).error(), BmpError::RlePastRow);
}

// ---------------------------------------------------------------------------
// Malformed bitmaps: the exact error from the reader, the same value from
// SavetoJPEG, and no trace in the destination folder.

BmpFields Valid24() {
  BmpFields s = TrueColour(24);
  s.pixels = StoreRows(W, H, 24, false, [](int x, int y) { return Packed(Smooth(x, y)); });
  return s;
}
BmpFields Valid8(int colours = 4) {
  BmpFields s = TrueColour(8);
  s.palette = Ramp(colours);
  s.colors_used = colours;
  s.pixels = StoreRows(W, H, 8, false, [&](int x, int) { return uint32_t(x % colours); });
  return s;
}
BmpFields Rle(int bpp, std::vector<uint8_t> stream) {
  BmpFields s = Valid8();
  s.width = 4;
  s.height = 2;
  s.bit_count = static_cast<uint16_t>(bpp);
  s.compression = bpp == 8 ? 1 : 2;
  s.pixels = std::move(stream);
  return s;
}
template <class F>
std::vector<uint8_t> With(BmpFields s, F change) {
  change(s);
  return BuildBmp(s);
}

struct Malformed {
  const char* name;
  std::function<std::vector<uint8_t>()> bytes;
  BmpError error;
};

// clang-format off
const Malformed kMalformed[] = {
    {"empty file", [] { return std::vector<uint8_t>{}; }, BmpError::Truncated},
    {"signature only", [] { return std::vector<uint8_t>{'B', 'M'}; }, BmpError::Truncated},
    {"not BM", [] { auto b = BuildBmp(Valid24()); b[0] = 'P'; return b; }, BmpError::BadMagic},
    {"info header size 20", [] { return With(Valid24(), [](BmpFields& s) { s.info_size = 20; }); }, BmpError::BadHeaderSize},
    {"cut inside info header", [] { auto b = BuildBmp(Valid24()); b.resize(30); return b; }, BmpError::Truncated},
    {"masks cut off", [] { auto b = BuildBmp(TrueColour(16, 3, {0xF800, 0x7E0})); return b; }, BmpError::Truncated},
    {"two planes", [] { return With(Valid24(), [](BmpFields& s) { s.planes = 2; }); }, BmpError::BadPlanes},
    {"width 0", [] { return With(Valid24(), [](BmpFields& s) { s.width = 0; }); }, BmpError::BadDimensions},
    {"negative width", [] { return With(Valid24(), [](BmpFields& s) { s.width = -4; }); }, BmpError::BadDimensions},
    {"height 0", [] { return With(Valid24(), [](BmpFields& s) { s.height = 0; }); }, BmpError::BadDimensions},
    {"height INT_MIN", [] { return With(Valid24(), [](BmpFields& s) { s.height = INT32_MIN; }); }, BmpError::BadDimensions},
    {"width 65501", [] { return With(Valid24(), [](BmpFields& s) { s.width = 65501; }); }, BmpError::TooLarge},
    {"height -65501", [] { return With(Valid24(), [](BmpFields& s) { s.height = -65501; }); }, BmpError::TooLarge},
    {"huge sides, tiny file", [] { return With(Valid24(), [](BmpFields& s) { s.width = s.height = 65500; }); }, BmpError::PixelsTruncated},
    {"2 bits per pixel", [] { return With(Valid24(), [](BmpFields& s) { s.bit_count = 2; }); }, BmpError::BadBitCount},
    {"16 bits in a core header", [] { return With(Valid24(), [](BmpFields& s) { s.info_size = 12; s.bit_count = 16; }); }, BmpError::BadBitCount},
    {"BI_JPEG", [] { return With(Valid24(), [](BmpFields& s) { s.compression = 4; }); }, BmpError::UnsupportedCompression},
    {"BI_PNG", [] { return With(Valid24(), [](BmpFields& s) { s.compression = 5; }); }, BmpError::UnsupportedCompression},
    {"OS/2 RLE24", [] { return With(Valid24(), [](BmpFields& s) { s.info_size = 64; s.compression = 4; }); }, BmpError::UnsupportedCompression},
    {"compression 7", [] { return With(Valid24(), [](BmpFields& s) { s.compression = 7; }); }, BmpError::BadCompression},
    {"CMYK compression 11", [] { return With(Valid24(), [](BmpFields& s) { s.compression = 11; }); }, BmpError::BadCompression},
    {"RLE8 at 24 bits", [] { return With(Valid24(), [](BmpFields& s) { s.compression = 1; }); }, BmpError::CompressionMismatch},
    {"RLE4 at 8 bits", [] { return With(Valid8(), [](BmpFields& s) { s.compression = 2; }); }, BmpError::CompressionMismatch},
    {"BITFIELDS at 24 bits", [] { return With(Valid24(), [](BmpFields& s) { s.compression = 3; s.masks = {0xFF0000, 0xFF00, 0xFF}; }); }, BmpError::CompressionMismatch},
    {"top-down RLE8", [] { return With(Rle(8, {4, 1, 0, 0, 4, 1, 0, 1}), [](BmpFields& s) { s.height = -2; }); }, BmpError::TopDownRle},
    {"zero red mask", [] { return BuildBmp(TrueColour(16, 3, {0, 0x7E0, 0x1F})); }, BmpError::BadMasks},
    {"overlapping masks", [] { return BuildBmp(TrueColour(16, 3, {0xF800, 0x0FE0, 0x1F})); }, BmpError::BadMasks},
    {"split mask", [] { return BuildBmp(TrueColour(32, 3, {0xFF0F00, 0xF0, 0xF})); }, BmpError::BadMasks},
    {"mask wider than 16 bits", [] { return BuildBmp(TrueColour(16, 3, {0x1F0000, 0x7E0, 0x1F})); }, BmpError::BadMasks},
    {"alpha overlaps blue", [] { return BuildBmp(TrueColour(32, 6, {0xFF0000, 0xFF00, 0xFF, 0xFF0000FF})); }, BmpError::BadMasks},
    {"17 colours at 4 bits", [] { return With(Valid8(), [](BmpFields& s) { s.bit_count = 4; s.colors_used = 17; }); }, BmpError::BadPaletteSize},
    {"core header, no room for colours", [] { return With(Valid8(), [](BmpFields& s) { s.info_size = 12; s.palette.clear(); }); }, BmpError::BadPaletteSize},
    {"palette past the file", [] { auto b = With(Valid8(), [](BmpFields& s) { s.colors_used = 200; s.pixels.clear(); s.pixel_offset = 60; }); return b; }, BmpError::PaletteTruncated},
    {"palette over the pixels", [] { return With(Valid8(), [](BmpFields& s) { s.colors_used = 8; }); }, BmpError::BadPixelOffset},
    {"pixel offset past the file", [] { return With(Valid24(), [](BmpFields& s) { s.pixel_offset = 100000; }); }, BmpError::BadPixelOffset},
    {"pixel offset inside the header", [] { return With(Valid24(), [](BmpFields& s) { s.pixel_offset = 20; }); }, BmpError::BadPixelOffset},
    {"one pixel byte missing", [] { return With(Valid24(), [](BmpFields& s) { s.pixels.pop_back(); }); }, BmpError::PixelsTruncated},
    {"no pixel data", [] { return With(Valid24(), [](BmpFields& s) { s.pixels.clear(); }); }, BmpError::PixelsTruncated},
    {"8-bit index past palette", [] { return With(Valid8(), [](BmpFields& s) { s.pixels[W + 3] = 4; }); }, BmpError::BadPaletteIndex},
    {"1-bit index past a 1-colour palette", [] { return With(Valid8(1), [](BmpFields& s) {
       s.bit_count = 1; s.pixels = StoreRows(W, H, 1, false, [](int x, int y) { return uint32_t(x == 12 && y == 4); }); }); }, BmpError::BadPaletteIndex},
    {"RLE8 run index past palette", [] { return BuildBmp(Rle(8, {4, 1, 0, 0, 4, 4, 0, 1})); }, BmpError::BadPaletteIndex},
    {"RLE4 absolute index past palette", [] { return BuildBmp(Rle(4, {0, 3, 0x12, 0x40, 0, 1})); }, BmpError::BadPaletteIndex},
    {"RLE8 run past the row", [] { return BuildBmp(Rle(8, {5, 1, 0, 1})); }, BmpError::RlePastRow},
    {"RLE4 absolute run past the row", [] { return BuildBmp(Rle(4, {6, 0x11, 0, 3, 0x12, 0x30, 0, 1})); }, BmpError::RlePastRow},
    {"RLE move past the row", [] { return BuildBmp(Rle(8, {2, 1, 0, 2, 3, 0, 0, 1})); }, BmpError::RlePastRow},
    {"RLE move past the last row", [] { return BuildBmp(Rle(8, {0, 2, 0, 2, 0, 1})); }, BmpError::RlePastImage},
    {"RLE run after the last row", [] { return BuildBmp(Rle(8, {4, 1, 0, 0, 4, 1, 0, 0, 1, 1, 0, 1})); }, BmpError::RlePastImage},
    {"RLE data ends mid-image", [] { return BuildBmp(Rle(8, {4, 1, 0, 0})); }, BmpError::RleTruncated},
    {"RLE absolute run cut", [] { return BuildBmp(Rle(8, {0, 4, 1, 2})); }, BmpError::RleTruncated},
    {"RLE move cut", [] { return BuildBmp(Rle(8, {4, 1, 0, 2})); }, BmpError::RleTruncated},
    {"profile past the file", [] { auto b = With(TrueColour(24, 0, {}, 124), [](BmpFields& s) {
       s.pixels = Valid24().pixels; s.profile = {1, 2, 3, 4}; }); b.resize(b.size() - 1); return b; }, BmpError::BadProfile},
};
// clang-format on

TEST(BmpReader, MalformedBitmapsAreRefusedWithTheirOwnError) {
  TempFolder dir;
  const std::vector<uint8_t> previous = {0xFF, 0xD8, 'o', 'l', 'd'};
  for (const Malformed& m : kMalformed) {
    SCOPED_TRACE(m.name);
    const std::vector<uint8_t> bytes = m.bytes();
    const auto decoded = DecodeBmp(bytes);
    ASSERT_FALSE(decoded.ok());
    EXPECT_EQ(decoded.error(), m.error) << savejpg::ToString(decoded.error());

    // Through the entry point: the same value, the old JPEG untouched and
    // nothing else left in the folder.
    WriteFile(dir / "in.bmp", bytes);
    WriteFile(dir / "out.jpg", previous);
    std::string src = (dir / "in.bmp").string(), dst = (dir / "out.jpg").string();
    EXPECT_EQ(SavetoJPEG(src.data(), dst.data(), 90, 0), static_cast<int16_t>(m.error));
    EXPECT_EQ(ReadFile(dir / "out.jpg"), previous);
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.bmp", "out.jpg"}));
    fs::remove(dir / "out.jpg");
    EXPECT_NE(SavetoJPEG(src.data(), dst.data(), 90, -1), 0);
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.bmp"}));
  }
}

TEST(BmpReader, EveryShorterCopyOfAValidFileIsRefused) {
  for (const BmpFields& fields :
       {Valid24(), Valid8(), Rle(8, {4, 1, 0, 0, 0, 3, 1, 2, 3, 0, 1, 1, 0, 1})}) {
    const auto full = BuildBmp(fields);
    ASSERT_TRUE(DecodeBmp(full).ok());
    for (size_t n = 0; n < full.size(); ++n) {
      const std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<ptrdiff_t>(n));
      EXPECT_FALSE(DecodeBmp(cut).ok()) << "length " << n;
    }
  }
}

}  // namespace
}  // namespace savejpg_test
