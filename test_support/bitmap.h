// Windows bitmap files built byte by byte: every header kind, palette and
// pixel layout through BmpFields, and a plain 24-bit picture through
// Bitmap24.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace morvane::test_support {

struct Colour {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Colour&) const = default;
};

// Everything a bitmap file says; BuildBmp writes it out field by field.
struct BmpFields {
  uint32_t info_size = 40;  // 12 core, 16/64 OS/2 2.x, 40, 52, 56, 108 V4, 124 V5
  int32_t width = 8;
  int32_t height = 8;  // negative: rows stored top row first
  uint16_t planes = 1;
  uint16_t bit_count = 24;
  uint32_t compression = 0;  // 0 RGB, 1 RLE8, 2 RLE4, 3 BITFIELDS, 6 ALPHABITFIELDS
  uint32_t colors_used = 0;
  int32_t x_ppm = 0, y_ppm = 0;
  std::vector<uint32_t> masks;   // R, G, B[, A]: in the header from 52 bytes on, else after it
  std::vector<Colour> palette;   // 3 bytes per entry for core headers, else 4
  std::vector<uint8_t> pixels;   // pixel data exactly as stored
  std::vector<uint8_t> profile;  // V5 only: embedded ICC profile, put after the pixels
  int64_t pixel_offset = -1;     // -1: right after the palette
};

std::vector<uint8_t> BuildBmp(const BmpFields& fields);

// A smooth 9 x 7 picture as a 24-bit bitmap, for tests that need any good file.
std::vector<uint8_t> SmallBitmap();

// Stores pixel values row by row, each row padded to 4 bytes, bottom row
// first unless top_down. value(x, y) is a palette index (1/4/8 bits), a 16-
// or 32-bit word, or 0xRRGGBB for 24 bits; y counts from the top.
std::vector<uint8_t> StoreRows(int w, int h, int bpp, bool top_down,
                               const std::function<uint32_t(int, int)>& value);

// Smooth photo-like test content.
Colour Smooth(int x, int y);
// 0xRRGGBB.
uint32_t Packed(Colour c);

// A picture: its size and the colour of each pixel, y counting from the top.
struct Picture {
  int width = 0;
  int height = 0;
  std::function<Colour(int, int)> colour;
};

// The most common kind of bitmap: 24 bits, bottom row first, 96 dpi.
std::vector<uint8_t> Bitmap24(const Picture& picture);

}  // namespace morvane::test_support
