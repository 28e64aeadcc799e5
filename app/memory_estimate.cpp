#include "app/memory_estimate.h"

#include <algorithm>

#include "platform/platform.h"

namespace morvane {
namespace {

constexpr uint64_t kMaxSide = 65500;  // the encoder refuses larger sides
constexpr uint64_t kMaxProfileSize = 255ull * 65519;

// The file header: "BM", file size, reserved words, pixel data offset; the
// info header follows, its size first.
constexpr size_t kPixelOffsetAt = 10;
constexpr size_t kInfoAt = 14;
constexpr uint32_t kCoreHeaderSize = 12;  // OS/2 1.x: 16-bit sides
constexpr uint32_t kOs2ShortHeaderSize = 16;
constexpr uint32_t kV5HeaderSize = 124;
constexpr uint32_t kBiRle8 = 1, kBiRle4 = 2;

// Bytes of the encoder that do not grow with the picture: tables, libjpeg's
// own structures, buffers of 64 KiB for the bitmap and the JPEG.
constexpr uint64_t kFixedBytes = uint64_t{1} << 20;
// What the encoder's recoding may always keep, however small the picture.
constexpr uint64_t kSmallestRecoding = 256 * 1024;
constexpr uint64_t kReadBlock = 64 * 1024;

// `count` bytes at `at`, little-endian; nullopt past the end of `bytes`.
std::optional<uint32_t> LittleEndian(std::span<const uint8_t> bytes, size_t at, size_t count) {
  if (at > bytes.size() || bytes.size() - at < count) return std::nullopt;
  uint32_t value = 0;
  for (size_t i = count; i > 0; --i) value = value << 8 | bytes[at + i - 1];
  return value;
}

bool KnownInfoSize(uint32_t size) {
  for (const uint32_t known : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u})
    if (size == known) return true;
  return false;
}

// The sides, bit count, compression and sizes of an info header of `size`
// bytes at kInfoAt; false when the bytes end first.
bool ReadInfoHeader(std::span<const uint8_t> start, uint32_t size, BitmapFacts& facts) {
  if (size == kCoreHeaderSize) {
    const auto width = LittleEndian(start, kInfoAt + 4, 2);
    const auto height = LittleEndian(start, kInfoAt + 6, 2);
    const auto bit_count = LittleEndian(start, kInfoAt + 10, 2);
    if (!width || !height || !bit_count) return false;
    facts.width = *width;
    facts.height = *height;
    facts.bit_count = static_cast<uint16_t>(*bit_count);
    return true;
  }
  const auto width = LittleEndian(start, kInfoAt + 4, 4);
  const auto height = LittleEndian(start, kInfoAt + 8, 4);
  const auto bit_count = LittleEndian(start, kInfoAt + 14, 2);
  if (!width || !height || !bit_count) return false;
  // Both sides are signed; a negative height is a bitmap stored top row
  // first. In 64 bits, INT32_MIN has a size too.
  const int64_t signed_width = static_cast<int32_t>(*width);
  const int64_t signed_height = static_cast<int32_t>(*height);
  if (signed_width < 0) return false;
  facts.width = static_cast<uint32_t>(std::min<int64_t>(signed_width, kMaxSide + 1));
  facts.height = static_cast<uint32_t>(
      std::min<int64_t>(signed_height < 0 ? -signed_height : signed_height, kMaxSide + 1));
  facts.bit_count = static_cast<uint16_t>(*bit_count);
  if (size == kOs2ShortHeaderSize) return true;  // cut after the bit count
  const auto compression = LittleEndian(start, kInfoAt + 16, 4);
  const auto image_size = LittleEndian(start, kInfoAt + 20, 4);
  if (!compression || !image_size) return false;
  facts.rle = *compression == kBiRle8 || *compression == kBiRle4;
  facts.image_size = *image_size;
  if (size != kV5HeaderSize) return true;
  const auto profile_size = LittleEndian(start, kInfoAt + 116, 4);
  if (!profile_size) return false;
  facts.profile_size = std::min<uint64_t>(*profile_size, kMaxProfileSize);
  return true;
}

uint64_t DivideUp(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

// The bytes of the coefficients the encoder keeps of a colour picture:
// 128 for each 8x8 block of its three components, in whole MCUs; below
// quality 90 the colour planes have half the resolution each way.
uint64_t CoefficientBytes(uint64_t width, uint64_t height, uint8_t quality) {
  constexpr uint64_t kBlockBytes = 64 * 2;
  const bool full_colour = quality >= 90;
  const uint64_t mcu = full_colour ? 8 : 16;
  const uint64_t blocks_per_mcu = full_colour ? 3 : 6;
  return DivideUp(width, mcu) * DivideUp(height, mcu) * blocks_per_mcu * kBlockBytes;
}

}  // namespace

std::optional<BitmapFacts> ReadBitmapFacts(std::span<const uint8_t> start) {
  if (start.size() < 2 || start[0] != 'B' || start[1] != 'M') return std::nullopt;
  const auto pixel_offset = LittleEndian(start, kPixelOffsetAt, 4);
  const auto info_size = LittleEndian(start, kInfoAt, 4);
  if (!pixel_offset || !info_size || !KnownInfoSize(*info_size)) return std::nullopt;
  BitmapFacts facts;
  facts.pixel_offset = *pixel_offset;
  if (!ReadInfoHeader(start, *info_size, facts)) return std::nullopt;
  if (facts.width == 0 || facts.height == 0 || facts.width > kMaxSide || facts.height > kMaxSide)
    return std::nullopt;
  return facts;
}

uint64_t ConversionMemory(const BitmapFacts& facts, uint64_t file_size, uint8_t quality) {
  const uint64_t width = facts.width, height = facts.height;
  const uint64_t coefficients =
      CoefficientBytes(width, height, std::clamp<uint8_t>(quality, 1, 100));
  // libjpeg's rows: colour conversion, downsampling and the DCT's input,
  // up to 16 rows of each of three components, in whole MCUs.
  const uint64_t libjpeg_rows = DivideUp(width, 16) * 16 * 3 * 16 * 2;
  // The bitmap's rows, read a block at a time, and a row converted to RGB
  // with its palette indexes.
  const uint64_t stride = DivideUp(width * facts.bit_count, 32) * 4;
  const uint64_t bitmap_rows = kReadBlock + 2 * stride + 4 * width;
  uint64_t coded = 0;
  if (facts.rle) {
    const uint64_t rest = file_size > facts.pixel_offset ? file_size - facts.pixel_offset : 0;
    coded = (facts.image_size != 0 ? std::min(facts.image_size, rest) : rest) + 8 * height;
  }
  return std::max(coefficients, kSmallestRecoding) + libjpeg_rows + bitmap_rows + coded +
         facts.profile_size + kFixedBytes;
}

uint64_t BitmapMemoryEstimate(const std::u16string& source, uint8_t quality) {
  // Never opened in a way that waits: a FIFO named like a bitmap must not
  // hold up the batch before the encoder refuses it.
  const FileStart start = ReadFileStart(source, kBitmapFactsBytes);
  const std::optional<BitmapFacts> facts = ReadBitmapFacts(
      std::span(reinterpret_cast<const uint8_t*>(start.bytes.data()), start.bytes.size()));
  return facts ? ConversionMemory(*facts, start.size, quality) : kFixedBytes;
}

}  // namespace morvane
