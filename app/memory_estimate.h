// What converting one bitmap takes in memory at most, from its headers, so
// that a batch runs side by side only the conversions that fit together.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace morvane {

// What the memory of a bitmap's conversion depends on, as its headers say.
struct BitmapFacts {
  uint32_t width = 0;
  uint32_t height = 0;  // rows, whichever way they are stored
  uint16_t bit_count = 0;
  bool rle = false;           // RLE8 or RLE4: the coded pixels are kept whole
  uint64_t pixel_offset = 0;  // where the pixels start in the file
  uint64_t image_size = 0;    // bytes of pixels the header gives; 0 when it does not
  uint64_t profile_size = 0;  // of an embedded colour profile (V5 headers)
};

// The bytes from the start of a file that hold every field BitmapFacts
// reads.
constexpr size_t kBitmapFactsBytes = 14 + 124;

// Reads the facts from the first bytes of a bitmap file (up to
// kBitmapFactsBytes of them). nullopt when they cannot be the headers of a
// bitmap the encoder converts: cut short, not "BM", an info header of an
// unknown size, or a side of 0 or over 65500 pixels.
std::optional<BitmapFacts> ReadBitmapFacts(std::span<const uint8_t> start);

// An upper bound of the memory the encoder takes to convert the bitmap of
// `facts`, a file of `file_size` bytes, at `quality` (0 counts as 1, over
// 100 as 100): the whole picture's coefficients in colour, at the sampling
// the quality gives, libjpeg's rows and the bitmap's, an RLE bitmap's coded
// pixels and the profile, and a fixed part.
uint64_t ConversionMemory(const BitmapFacts& facts, uint64_t file_size, uint8_t quality);

// The memory converting the bitmap at `source` at `quality` takes, from its
// headers; the fixed part alone when they cannot be read (the encoder then
// refuses the file at once).
uint64_t BitmapMemoryEstimate(const std::u16string& source, uint8_t quality);

}  // namespace morvane
