// Reading Windows and OS/2 bitmaps, from bytes in memory or from a file read
// a piece at a time.
//
// ParseBmpHeader checks every header field and size against the file before
// anything is allocated. DecodeBmp also reads the colour table and checks the
// pixel data itself (palette indexes, the whole RLE stream), so that once it
// succeeds BmpRowReader can hand out rows, top row first; a row fails only
// when the file no longer holds it (another program cut it short meanwhile).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <variant>
#include <vector>

#include "row_format.h"
#include "savejpg.h"

namespace savejpg {

enum class BmpError : int16_t {
  Truncated = SAVEJPG_BMP_TRUNCATED,
  BadMagic = SAVEJPG_BMP_BAD_MAGIC,
  BadHeaderSize = SAVEJPG_BMP_BAD_HEADER_SIZE,
  BadPlanes = SAVEJPG_BMP_BAD_PLANES,
  BadDimensions = SAVEJPG_BMP_BAD_DIMENSIONS,
  TooLarge = SAVEJPG_BMP_TOO_LARGE,
  BadBitCount = SAVEJPG_BMP_BAD_BIT_COUNT,
  BadCompression = SAVEJPG_BMP_BAD_COMPRESSION,
  UnsupportedCompression = SAVEJPG_BMP_UNSUPPORTED_COMPRESSION,
  CompressionMismatch = SAVEJPG_BMP_COMPRESSION_MISMATCH,
  TopDownRle = SAVEJPG_BMP_TOP_DOWN_RLE,
  BadMasks = SAVEJPG_BMP_BAD_MASKS,
  BadPaletteSize = SAVEJPG_BMP_BAD_PALETTE_SIZE,
  PaletteTruncated = SAVEJPG_BMP_PALETTE_TRUNCATED,
  BadPixelOffset = SAVEJPG_BMP_BAD_PIXEL_OFFSET,
  PixelsTruncated = SAVEJPG_BMP_PIXELS_TRUNCATED,
  BadPaletteIndex = SAVEJPG_BMP_BAD_PALETTE_INDEX,
  RlePastRow = SAVEJPG_BMP_RLE_PAST_ROW,
  RlePastImage = SAVEJPG_BMP_RLE_PAST_IMAGE,
  RleTruncated = SAVEJPG_BMP_RLE_TRUNCATED,
  BadProfile = SAVEJPG_BMP_BAD_PROFILE,
};

[[nodiscard]] const char* ToString(BmpError error);

// Either a value or the reason the bitmap was refused.
template <class T>
class [[nodiscard]] BmpResult {
 public:
  BmpResult(T value) : state_(std::move(value)) {}
  BmpResult(BmpError error) : state_(error) {}

  bool ok() const { return std::holds_alternative<T>(state_); }
  BmpError error() const { return std::get<BmpError>(state_); }
  const T& value() const& { return std::get<T>(state_); }
  T&& value() && { return std::get<T>(std::move(state_)); }

 private:
  std::variant<T, BmpError> state_;
};

// How the pixels are laid out in the file.
enum class BmpLayout : uint8_t {
  Indexed1,
  Indexed4,
  Indexed8,  // palette indexes, rows padded to 4 bytes
  Rle4,
  Rle8,  // run-length coded palette indexes
  Masked16,
  Masked32,  // channels picked out by bit masks
  Bgr24,     // B, G, R bytes
  Bgrx32,    // B, G, R, unused
  Rgbx32,    // R, G, B, unused
};

// One colour channel of a 16- or 32-bit pixel: which bits, and how to bring
// them to 8 bits.
struct ChannelMask {
  uint32_t mask = 0;
  uint8_t shift = 0;  // position of the lowest bit
  uint8_t bits = 0;   // number of bits (contiguous)
};

struct BmpHeader {
  uint32_t info_size = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  bool top_down = false;
  uint16_t bit_count = 0;
  uint32_t compression = 0;
  BmpLayout layout = BmpLayout::Bgr24;
  ChannelMask red, green, blue;  // used by Masked16 / Masked32
  int32_t x_pixels_per_metre = 0;
  int32_t y_pixels_per_metre = 0;
  uint64_t palette_offset = 0;     // file offset of the colour table
  uint32_t palette_count = 0;      // entries read (palette layouts only)
  uint8_t palette_entry_size = 4;  // 3 for OS/2 core headers
  uint64_t pixel_offset = 0;
  uint64_t pixel_bytes = 0;     // bytes of pixel data used
  uint64_t row_stride = 0;      // padded row size, uncompressed only
  uint64_t profile_offset = 0;  // embedded ICC profile, size 0 if none
  uint64_t profile_size = 0;
};

// Where the bytes of a bitmap file come from. Uncompressed pixel rows are
// read from it one at a time, while the JPEG is written.
class BmpSource {
 public:
  virtual ~BmpSource() = default;
  // The file's size when it was opened; every size is checked against it.
  virtual uint64_t Size() const = 0;
  // Fills `out` with the bytes from `offset` on. False when the source no
  // longer holds them all.
  [[nodiscard]] virtual bool Read(uint64_t offset, std::span<uint8_t> out) = 0;
};

class MemorySource final : public BmpSource {
 public:
  explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint64_t Size() const override { return bytes_.size(); }
  [[nodiscard]] bool Read(uint64_t offset, std::span<uint8_t> out) override;

 private:
  std::span<const uint8_t> bytes_;
};

// Bytes from the start of a file that hold every header and the colour
// table: the file header, the largest info header, masks and 256 entries.
constexpr size_t kBmpHeadSize = 14 + 124 + 16 + 256 * 4;

// `head` is the file's first min(file_size, kBmpHeadSize) bytes.
[[nodiscard]] BmpResult<BmpHeader> ParseBmpHeader(std::span<const uint8_t> head,
                                                  uint64_t file_size);

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
};

// Where decoding of one stored RLE row starts: stream offset and column.
struct RleRowStart {
  static constexpr uint32_t kEmpty = UINT32_MAX;  // no codes in this row
  uint32_t offset = kEmpty;
  uint32_t x = 0;
};

struct BmpImage {
  BmpHeader header;
  std::array<Rgb, 256> palette{};
  bool grey_palette = false;  // every palette entry has R == G == B
  // RLE layouts: the whole coded stream. Uncompressed rows stay in the file
  // and are read as they are needed.
  std::vector<uint8_t> pixels;
  std::vector<uint8_t> icc_profile;   // empty if none
  std::vector<RleRowStart> rle_rows;  // per stored row, RLE layouts only
};

// Reads the headers, colour table, profile and any RLE stream from `source`
// and checks the pixel data; PixelsTruncated when a read fails.
[[nodiscard]] BmpResult<BmpImage> DecodeBmp(BmpSource& source);
[[nodiscard]] BmpResult<BmpImage> DecodeBmp(std::span<const uint8_t> file);

// Hands out rows of a decoded bitmap, top row first, in the format Format()
// names. Uncompressed rows are read from `source` (the one DecodeBmp read);
// 24- and 32-bit rows are handed over as read, every other layout is
// converted into one row buffer.
class BmpRowReader {
 public:
  BmpRowReader(const BmpImage& image, BmpSource& source);

  RowFormat Format() const { return format_; }
  uint32_t Width() const { return image_.header.width; }
  uint32_t Height() const { return image_.header.height; }

  // Row `top` (0 = top of the picture), or nullptr when the source no
  // longer holds it. The pointer stays valid until the next call; it must
  // not be written through.
  const uint8_t* Row(uint32_t top);

 private:
  const uint8_t* StoredRow(uint32_t stored);
  void ConvertIndexes(const uint8_t* indexes);
  void ConvertMasked(const uint8_t* pixels);
  void DecodeRleRow(uint32_t stored);

  const BmpImage& image_;
  BmpSource& source_;
  RowFormat format_;
  // Uncompressed rows as read from the file, up to block_rows_ of them in
  // one read: stored rows first_ to first_ + held_ - 1.
  std::vector<uint8_t> stored_;
  uint32_t block_rows_ = 1;
  uint32_t first_ = 0;
  uint32_t held_ = 0;
  std::vector<uint8_t> row_;      // converted output row
  std::vector<uint8_t> indexes_;  // one palette index per pixel (RLE)
  // Masked layouts: each channel's raw value to 0..255.
  std::array<uint8_t, 256> red_scale_{}, green_scale_{}, blue_scale_{};
};

}  // namespace savejpg
