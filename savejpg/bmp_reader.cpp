#include "bmp_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "byte_reader.h"

namespace savejpg {
namespace {

constexpr uint32_t kMaxSide = 65500;                  // largest side a JPEG can hold here
constexpr uint64_t kMaxProfileSize = 255ull * 65519;  // fits the APP2 chunks

// The file header: "BM", file size, 2 reserved words, pixel data offset.
constexpr uint32_t kFileHeaderSize = 14;
constexpr size_t kFileSizeAndReservedSize = 8;

// Info header sizes; the size field, the header's first, says which it is.
constexpr uint32_t kCoreHeaderSize = 12;      // OS/2 1.x: 16-bit sides, no compression
constexpr uint32_t kOs2ShortHeaderSize = 16;  // OS/2 2.x cut after the bit count
constexpr uint32_t kInfoHeaderSize = 40;      // Windows 3: masks, if any, follow it
constexpr uint32_t kV2HeaderSize = 52;        // adds the red, green and blue masks
constexpr uint32_t kV3HeaderSize = 56;        // adds the alpha mask
constexpr uint32_t kOs2HeaderSize = 64;       // OS/2 2.x: fields of its own after 40
constexpr uint32_t kV4HeaderSize = 108;       // adds the colour space
constexpr uint32_t kV5HeaderSize = 124;       // adds the rendering intent and a profile

// Parts of the info headers that are skipped.
constexpr size_t kSizeFieldSize = 4;
constexpr size_t kColoursImportantSize = 4;
constexpr size_t kEndpointsSize = 36;  // three CIE XYZ points
constexpr size_t kGammaSize = 12;      // red, green, blue
constexpr size_t kIntentSize = 4;
constexpr uint32_t kMaskSize = 4;

constexpr uint8_t kCoreEntrySize = 3;  // core colour tables have no unused fourth byte

// Compression values of the Windows headers.
constexpr uint32_t kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiJpeg = 4, kBiPng = 5,
                   kBiAlphaBitfields = 6;
// OS/2 2.x headers reuse 3 and 4 for Huffman 1D and RLE24.
constexpr uint32_t kOs2Huffman = 3, kOs2Rle24 = 4;
constexpr uint32_t kProfileEmbedded = 0x4D424544;  // 'MBED'

// Second byte of an RLE code whose first byte, the run length, is 0. Any
// larger value starts an absolute run of that many pixels.
constexpr uint8_t kRleEndOfLine = 0, kRleEndOfBitmap = 1, kRleDelta = 2;

struct ColourMasks {
  uint32_t red = 0, green = 0, blue = 0, alpha = 0;
};

// The layouts BI_RGB stands for at 16 and 32 bits.
constexpr ColourMasks kMasks555 = {0x7C00, 0x03E0, 0x001F, 0};
constexpr ColourMasks kMasks888 = {0xFF0000, 0x00FF00, 0x0000FF, 0};
// 32-bit layouts handed over as read.
constexpr ColourMasks kMasksBgrx = kMasks888;
constexpr ColourMasks kMasksRgbx = {0x0000FF, 0x00FF00, 0xFF0000, 0};

// Header fields needed only while the header is checked.
struct HeaderFields {
  uint32_t pixel_offset = 0;
  int64_t width = 0;
  int64_t height = 0;  // negative for a top-down bitmap
  uint16_t planes = 0;
  uint32_t colours_used = 0;
  uint32_t image_size = 0;  // bytes of pixel data, 0 if not given
  ColourMasks masks;
  uint32_t colour_space = 0;
  uint32_t profile_data = 0;  // counted from the start of the info header
  uint32_t profile_size = 0;
};

bool IsError(BmpError error) { return error != BmpError{}; }

bool IsOs2Info(uint32_t size) {
  return size == kCoreHeaderSize || size == kOs2ShortHeaderSize || size == kOs2HeaderSize;
}

bool IsKnownInfoSize(uint32_t size) {
  switch (size) {
    case kCoreHeaderSize:
    case kOs2ShortHeaderSize:
    case kInfoHeaderSize:
    case kV2HeaderSize:
    case kV3HeaderSize:
    case kOs2HeaderSize:
    case kV4HeaderSize:
    case kV5HeaderSize:
      return true;
    default:
      return false;
  }
}

bool IsRle(uint32_t compression) { return compression == kBiRle8 || compression == kBiRle4; }

bool IsBitfields(uint32_t compression) {
  return compression == kBiBitfields || compression == kBiAlphaBitfields;
}

// Bytes holding `pixels` pixels of `bits` bits each.
uint64_t PackedBytes(uint64_t pixels, uint16_t bits) { return (pixels * bits + 7) / 8; }

// Bytes of one stored row that hold pixels, without the padding.
uint64_t UsedRowBytes(const BmpHeader& header) {
  return PackedBytes(header.width, header.bit_count);
}

// Palette index of pixel `x` of a row packed at `bits` (1, 4 or 8) bits per
// pixel; a byte's first pixel is in its highest bits.
inline uint8_t PackedIndex(const uint8_t* row, uint32_t x, uint16_t bits) {
  const uint32_t first_bit = x * bits;
  const uint32_t shift = 8 - bits - first_bit % 8;
  return static_cast<uint8_t>((row[first_bit / 8] >> shift) & ((1u << bits) - 1));
}

// Checks one channel mask and fills in where its bits are.
bool MakeChannel(uint32_t mask, uint16_t bit_count, ChannelMask& channel) {
  if (mask == 0) return false;
  if (bit_count < 32 && (mask >> bit_count) != 0) return false;  // too wide
  const int shift = std::countr_zero(mask);
  const uint32_t bits = mask >> shift;
  if ((bits & (bits + 1)) != 0) return false;  // holes between set bits
  channel.mask = mask;
  channel.shift = static_cast<uint8_t>(shift);
  channel.bits = static_cast<uint8_t>(std::popcount(mask));
  return true;
}

BmpError CheckMasks(const ColourMasks& masks, BmpHeader& header) {
  const uint16_t bit_count = header.bit_count;
  if (!MakeChannel(masks.red, bit_count, header.red) ||
      !MakeChannel(masks.green, bit_count, header.green) ||
      !MakeChannel(masks.blue, bit_count, header.blue))
    return BmpError::BadMasks;
  ChannelMask alpha;
  if (masks.alpha != 0 && !MakeChannel(masks.alpha, bit_count, alpha)) return BmpError::BadMasks;
  const uint32_t colours = masks.red | masks.green | masks.blue;
  if ((masks.red & masks.green) || (masks.red & masks.blue) || (masks.green & masks.blue) ||
      (colours & masks.alpha))
    return BmpError::BadMasks;
  return BmpError{};
}

BmpError ReadFileHeader(ByteReader& in, HeaderFields& fields) {
  uint8_t first = 0, second = 0;
  if (!in.ReadU8(first) || !in.ReadU8(second)) return BmpError::Truncated;
  if (first != 'B' || second != 'M') return BmpError::BadMagic;
  if (!in.Skip(kFileSizeAndReservedSize) || !in.ReadU32(fields.pixel_offset))
    return BmpError::Truncated;
  return BmpError{};
}

// The OS/2 1.x core header: 16-bit unsigned sides.
BmpError ReadCoreHeader(ByteReader& in, BmpHeader& header, HeaderFields& fields) {
  uint16_t width = 0, height = 0;
  if (!in.ReadU16(width) || !in.ReadU16(height) || !in.ReadU16(fields.planes) ||
      !in.ReadU16(header.bit_count))
    return BmpError::Truncated;
  fields.width = width;
  fields.height = height;
  header.palette_entry_size = kCoreEntrySize;
  return BmpError{};
}

// Every later header, Windows' and OS/2 2.x's: signed 32-bit sides, then as
// many of the following fields as its size holds.
BmpError ReadLaterHeader(ByteReader& in, BmpHeader& header, HeaderFields& fields) {
  const uint32_t size = header.info_size;
  int32_t width = 0, height = 0;
  bool ok = in.ReadI32(width) && in.ReadI32(height) && in.ReadU16(fields.planes) &&
            in.ReadU16(header.bit_count);
  fields.width = width;
  fields.height = height;
  if (size >= kInfoHeaderSize) {
    ok = ok && in.ReadU32(header.compression) && in.ReadU32(fields.image_size) &&
         in.ReadI32(header.x_pixels_per_metre) && in.ReadI32(header.y_pixels_per_metre) &&
         in.ReadU32(fields.colours_used) && in.Skip(kColoursImportantSize);
  }
  // The 64-byte OS/2 header goes on with fields of its own, not masks.
  ColourMasks& masks = fields.masks;
  if (size >= kV2HeaderSize && size != kOs2HeaderSize)
    ok = ok && in.ReadU32(masks.red) && in.ReadU32(masks.green) && in.ReadU32(masks.blue);
  if (size >= kV3HeaderSize && size != kOs2HeaderSize) ok = ok && in.ReadU32(masks.alpha);
  if (size >= kV4HeaderSize)
    ok = ok && in.ReadU32(fields.colour_space) && in.Skip(kEndpointsSize + kGammaSize);
  if (size >= kV5HeaderSize) {
    ok = ok && in.Skip(kIntentSize) && in.ReadU32(fields.profile_data) &&
         in.ReadU32(fields.profile_size);
  }
  return ok ? BmpError{} : BmpError::Truncated;
}

BmpError ReadInfoHeader(ByteReader& in, BmpHeader& header, HeaderFields& fields) {
  if (!in.ReadU32(header.info_size)) return BmpError::Truncated;
  if (!IsKnownInfoSize(header.info_size)) return BmpError::BadHeaderSize;
  if (in.Remaining() < header.info_size - kSizeFieldSize) return BmpError::Truncated;
  if (header.info_size == kCoreHeaderSize) return ReadCoreHeader(in, header, fields);
  return ReadLaterHeader(in, header, fields);
}

BmpError CheckDimensions(const HeaderFields& fields, BmpHeader& header) {
  if (fields.planes != 1) return BmpError::BadPlanes;
  if (fields.width <= 0 || fields.height == 0 || fields.height == INT32_MIN)
    return BmpError::BadDimensions;
  header.top_down = fields.height < 0;
  const int64_t height = header.top_down ? -fields.height : fields.height;
  if (fields.width > kMaxSide || height > kMaxSide) return BmpError::TooLarge;
  header.width = static_cast<uint32_t>(fields.width);
  header.height = static_cast<uint32_t>(height);
  return BmpError{};
}

// The compression value alone: known, and one this reader decodes.
BmpError CheckCompression(const BmpHeader& header) {
  const uint32_t compression = header.compression;
  if (IsOs2Info(header.info_size)) {
    if (compression == kOs2Huffman || compression == kOs2Rle24)
      return BmpError::UnsupportedCompression;
    if (compression > kBiRle4) return BmpError::BadCompression;
  } else {
    if (compression == kBiJpeg || compression == kBiPng) return BmpError::UnsupportedCompression;
    if (compression > kBiAlphaBitfields) return BmpError::BadCompression;
  }
  return BmpError{};
}

// The bit count, then whether the compression suits it.
BmpError CheckBitCount(const BmpHeader& header) {
  const uint16_t bit_count = header.bit_count;
  const bool palette = bit_count == 1 || bit_count == 4 || bit_count == 8;
  if (!palette && bit_count != 16 && bit_count != 24 && bit_count != 32)
    return BmpError::BadBitCount;
  if (header.info_size == kCoreHeaderSize && !palette && bit_count != 24)
    return BmpError::BadBitCount;
  const uint32_t compression = header.compression;
  if ((compression == kBiRle8 && bit_count != 8) || (compression == kBiRle4 && bit_count != 4) ||
      (IsBitfields(compression) && bit_count != 16 && bit_count != 32))
    return BmpError::CompressionMismatch;
  if (IsRle(compression) && header.top_down) return BmpError::TopDownRle;
  return BmpError{};
}

// After a 40-byte header the masks follow it, which moves the colour table
// and `headers_end`; in the larger headers they are part of it. BI_RGB
// stands for the fixed 5-5-5 and 8-8-8 layouts.
BmpError ReadColourMasks(ByteReader& in, BmpHeader& header, ColourMasks& masks,
                         uint64_t& headers_end) {
  const uint32_t compression = header.compression;
  const bool alpha = compression == kBiAlphaBitfields;
  if (IsBitfields(compression) && header.info_size == kInfoHeaderSize) {
    bool ok = in.ReadU32(masks.red) && in.ReadU32(masks.green) && in.ReadU32(masks.blue);
    if (ok && alpha) ok = in.ReadU32(masks.alpha);
    if (!ok) return BmpError::Truncated;
    headers_end += kMaskSize * (alpha ? 4 : 3);
  }
  if (header.bit_count != 16 && header.bit_count != 32) return BmpError{};
  if (!IsBitfields(compression)) masks = header.bit_count == 16 ? kMasks555 : kMasks888;
  if (!alpha && header.info_size < kV3HeaderSize) masks.alpha = 0;
  return CheckMasks(masks, header);
}

bool SameColourMasks(const ColourMasks& masks, const ColourMasks& layout) {
  return masks.red == layout.red && masks.green == layout.green && masks.blue == layout.blue;
}

BmpLayout LayoutFor(const BmpHeader& header, const ColourMasks& masks) {
  const bool rle = IsRle(header.compression);
  switch (header.bit_count) {
    case 1:
      return BmpLayout::Indexed1;
    case 4:
      return rle ? BmpLayout::Rle4 : BmpLayout::Indexed4;
    case 8:
      return rle ? BmpLayout::Rle8 : BmpLayout::Indexed8;
    case 16:
      return BmpLayout::Masked16;
    case 24:
      return BmpLayout::Bgr24;
    default:
      if (SameColourMasks(masks, kMasksBgrx)) return BmpLayout::Bgrx32;
      if (SameColourMasks(masks, kMasksRgbx)) return BmpLayout::Rgbx32;
      return BmpLayout::Masked32;
  }
}

// The colour table lies between the headers and the pixel data.
BmpError LocatePalette(const HeaderFields& fields, uint64_t headers_end, uint64_t file_size,
                       BmpHeader& header) {
  header.palette_offset = headers_end;
  header.pixel_offset = fields.pixel_offset;
  if (header.pixel_offset < headers_end || header.pixel_offset > file_size)
    return BmpError::BadPixelOffset;
  if (header.bit_count > 8) return BmpError{};
  const uint32_t max_colours = 1u << header.bit_count;
  if (fields.colours_used > max_colours) return BmpError::BadPaletteSize;
  uint64_t count = fields.colours_used == 0 ? max_colours : fields.colours_used;
  const uint64_t room = (header.pixel_offset - headers_end) / header.palette_entry_size;
  if (header.info_size == kCoreHeaderSize) {
    // The core header has no colour count: the table fills the room
    // before the pixel data, up to 2^bpp entries.
    count = std::min(count, room);
    if (count == 0) return BmpError::BadPaletteSize;
  } else {
    if (headers_end + count * header.palette_entry_size > file_size)
      return BmpError::PaletteTruncated;
    if (count > room) return BmpError::BadPixelOffset;  // table overlaps the pixels
  }
  header.palette_count = static_cast<uint32_t>(count);
  return BmpError{};
}

// Uncompressed rows are padded to whole 32-bit words.
uint64_t RowStride(const BmpHeader& header) {
  constexpr uint64_t kWordBits = 32;
  return (uint64_t{header.width} * header.bit_count + kWordBits - 1) / kWordBits * (kWordBits / 8);
}

BmpError LocatePixels(const HeaderFields& fields, uint64_t file_size, BmpHeader& header) {
  if (IsRle(header.compression)) {
    header.pixel_bytes =
        fields.image_size != 0 ? fields.image_size : file_size - header.pixel_offset;
  } else {
    header.row_stride = RowStride(header);
    header.pixel_bytes = header.row_stride * header.height;
  }
  if (header.pixel_bytes == 0 || header.pixel_offset + header.pixel_bytes > file_size)
    return BmpError::PixelsTruncated;
  return BmpError{};
}

// An embedded colour profile; its offset counts from the info header.
BmpError LocateProfile(const HeaderFields& fields, uint64_t file_size, BmpHeader& header) {
  if (header.info_size != kV5HeaderSize || fields.colour_space != kProfileEmbedded ||
      fields.profile_size == 0)
    return BmpError{};
  header.profile_offset = kFileHeaderSize + uint64_t{fields.profile_data};
  header.profile_size = fields.profile_size;
  if (header.profile_size > kMaxProfileSize ||
      header.profile_offset + header.profile_size > file_size)
    return BmpError::BadProfile;
  return BmpError{};
}

}  // namespace

bool MemorySource::Read(uint64_t offset, std::span<uint8_t> out) {
  if (offset > bytes_.size() || out.size() > bytes_.size() - offset) return false;
  std::copy_n(bytes_.begin() + static_cast<ptrdiff_t>(offset), out.size(), out.begin());
  return true;
}

const char* ToString(BmpError error) {
  switch (error) {
    case BmpError::Truncated:
      return "file ends inside the headers";
    case BmpError::BadMagic:
      return "not a bitmap (no BM signature)";
    case BmpError::BadHeaderSize:
      return "unknown info header size";
    case BmpError::BadPlanes:
      return "planes is not 1";
    case BmpError::BadDimensions:
      return "bad width or height";
    case BmpError::TooLarge:
      return "a side is larger than 65500 pixels";
    case BmpError::BadBitCount:
      return "unsupported bits per pixel";
    case BmpError::BadCompression:
      return "unknown compression";
    case BmpError::UnsupportedCompression:
      return "unsupported compression";
    case BmpError::CompressionMismatch:
      return "compression does not suit the bit count";
    case BmpError::TopDownRle:
      return "top-down bitmap with RLE compression";
    case BmpError::BadMasks:
      return "bad colour masks";
    case BmpError::BadPaletteSize:
      return "bad colour count";
    case BmpError::PaletteTruncated:
      return "colour table runs past the file";
    case BmpError::BadPixelOffset:
      return "bad pixel data offset";
    case BmpError::PixelsTruncated:
      return "pixel data runs past the file";
    case BmpError::BadPaletteIndex:
      return "pixel refers to a colour past the table";
    case BmpError::RlePastRow:
      return "RLE data passes the end of a row";
    case BmpError::RlePastImage:
      return "RLE data passes the last row";
    case BmpError::RleTruncated:
      return "RLE data ends early";
    case BmpError::BadProfile:
      return "colour profile lies outside the file";
  }
  return "unknown bitmap error";
}

BmpResult<BmpHeader> ParseBmpHeader(std::span<const uint8_t> head, uint64_t file_size) {
  ByteReader in(head);
  BmpHeader header;
  HeaderFields fields;
  BmpError error = ReadFileHeader(in, fields);
  if (!IsError(error)) error = ReadInfoHeader(in, header, fields);
  if (!IsError(error)) error = CheckDimensions(fields, header);
  if (!IsError(error)) error = CheckCompression(header);
  if (!IsError(error)) error = CheckBitCount(header);
  uint64_t headers_end = kFileHeaderSize + uint64_t{header.info_size};
  if (!IsError(error)) error = ReadColourMasks(in, header, fields.masks, headers_end);
  if (IsError(error)) return error;
  header.layout = LayoutFor(header, fields.masks);
  error = LocatePalette(fields, headers_end, file_size, header);
  if (!IsError(error)) error = LocatePixels(fields, file_size, header);
  if (!IsError(error)) error = LocateProfile(fields, file_size, header);
  if (IsError(error)) return error;
  return header;
}

namespace {

// Where runs of a row must end. Writers that code whole stored rows, 4-byte
// padding included (ImageMagick does), run up to 3 pixels past the width in
// RLE8 and up to 7 in RLE4; their indexes are checked like any other, then
// dropped. Moves stop at the width.
uint64_t RleRowEnd(const BmpHeader& header) {
  const uint64_t per_word = 32 / header.bit_count;
  return (uint64_t{header.width} + per_word - 1) / per_word * per_word;
}

// The codes of an RLE stream, walked from a place in it that stands at pixel
// x of stored row y: each code is checked against the row, the image and
// the stream's end, and handed on. The one walk for checking the whole
// stream (DecodeBmp) and for decoding a row (BmpRowReader).
//   visit.Pixels(x, count, packed, period): `count` pixels from x, the
//     index of pixel i being PackedIndex(packed, i % period); false stops
//     the walk with BadPaletteIndex.
//   visit.RowStarts(y, position, x): stored row y starts here (after an end
//     of line or a move up); false ends the walk.
// Walk returns the error of the first code that does not fit, or nothing
// at the end of the bitmap (its code, or the stream's end after the last
// row).
class RleWalker {
 public:
  RleWalker(const BmpHeader& header, std::span<const uint8_t> stream, size_t position, uint64_t x,
            uint32_t y)
      : header_(header),
        stream_(stream),
        row_end_(RleRowEnd(header)),
        position_(position),
        x_(x),
        y_(y) {}

  template <typename Visit>
  BmpError Walk(Visit& visit) {
    while (true) {
      if (stream_.size() - position_ < 2)
        return y_ >= header_.height ? BmpError{} : BmpError::RleTruncated;
      const uint8_t count = stream_[position_], value = stream_[position_ + 1];
      position_ += 2;
      if (count == 0 && value == kRleEndOfBitmap) return BmpError{};
      bool go_on = true;
      const BmpError error = count > 0                ? EncodedRun(count, value, visit)
                             : value == kRleEndOfLine ? EndOfLine(visit, go_on)
                             : value == kRleDelta     ? Delta(visit, go_on)
                                                      : AbsoluteRun(value, visit);
      if (IsError(error) || !go_on) return error;
    }
  }

 private:
  // `count` pixels: RLE8 repeats one index, RLE4 alternates the two packed
  // in `value`.
  template <typename Visit>
  BmpError EncodedRun(uint8_t count, const uint8_t& value, Visit& visit) {
    if (y_ >= header_.height) return BmpError::RlePastImage;
    if (x_ + count > row_end_) return BmpError::RlePastRow;
    if (!visit.Pixels(x_, count, &value, 8u / header_.bit_count)) return BmpError::BadPaletteIndex;
    x_ += count;
    return BmpError{};
  }

  template <typename Visit>
  BmpError EndOfLine(Visit& visit, bool& go_on) {
    if (y_ >= header_.height) return BmpError::RlePastImage;
    ++y_;
    x_ = 0;
    if (y_ < header_.height) go_on = visit.RowStarts(y_, position_, x_);
    return BmpError{};
  }

  // Moves right and up by the next two bytes; the pixels passed over keep
  // the first colour.
  template <typename Visit>
  BmpError Delta(Visit& visit, bool& go_on) {
    if (stream_.size() - position_ < 2) return BmpError::RleTruncated;
    const uint8_t right = stream_[position_], up = stream_[position_ + 1];
    position_ += 2;
    if (y_ + uint64_t{up} >= header_.height) return BmpError::RlePastImage;
    if (x_ + right > header_.width) return BmpError::RlePastRow;
    x_ += right;
    if (up > 0) {
      y_ += up;
      go_on = visit.RowStarts(y_, position_, x_);
    }
    return BmpError{};
  }

  // `count` indexes given one by one, padded to a 16-bit boundary.
  template <typename Visit>
  BmpError AbsoluteRun(uint8_t count, Visit& visit) {
    const uint64_t bytes = PackedBytes(count, header_.bit_count);
    const uint64_t padded = bytes + (bytes & 1);
    if (stream_.size() - position_ < padded) return BmpError::RleTruncated;
    if (y_ >= header_.height) return BmpError::RlePastImage;
    if (x_ + count > row_end_) return BmpError::RlePastRow;
    if (!visit.Pixels(x_, count, stream_.data() + position_, count))
      return BmpError::BadPaletteIndex;
    x_ += count;
    position_ += padded;
    return BmpError{};
  }

  const BmpHeader& header_;
  const std::span<const uint8_t> stream_;
  const uint64_t row_end_;
  size_t position_;
  uint64_t x_;
  uint32_t y_;
};

// Walks the whole RLE stream once: checks every code and every palette
// index, and notes where each stored row's codes begin so rows can later be
// decoded in any order.
BmpError ScanRle(BmpImage& image) {
  struct Check {
    BmpImage& image;
    bool Pixels(uint64_t, uint32_t count, const uint8_t* packed, uint32_t period) const {
      for (uint32_t i = 0; i < std::min(count, period); ++i)
        if (PackedIndex(packed, i, image.header.bit_count) >= image.header.palette_count)
          return false;
      return true;
    }
    bool RowStarts(uint32_t y, size_t position, uint64_t x) const {
      image.rle_rows[y] = {static_cast<uint32_t>(position), static_cast<uint32_t>(x)};
      return true;
    }
  } check{image};
  image.rle_rows.assign(image.header.height, RleRowStart{});
  check.RowStarts(0, 0, 0);
  return RleWalker(image.header, image.pixels, 0, 0, 0).Walk(check);
}

// Checks that no pixel of an uncompressed palette bitmap names a colour
// past a short palette.
BmpError CheckIndexes(const BmpImage& image, BmpSource& source) {
  const BmpHeader& header = image.header;
  if (header.palette_count >= (1u << header.bit_count)) return BmpError{};
  std::vector<uint8_t> stored(UsedRowBytes(header));
  for (uint32_t y = 0; y < header.height; ++y) {
    if (!source.Read(header.pixel_offset + y * header.row_stride, stored))
      return BmpError::PixelsTruncated;
    uint32_t highest = 0;
    for (uint32_t x = 0; x < header.width; ++x)
      highest = std::max<uint32_t>(highest, PackedIndex(stored.data(), x, header.bit_count));
    if (highest >= header.palette_count) return BmpError::BadPaletteIndex;
  }
  return BmpError{};
}

// The colour table, which ParseBmpHeader has placed inside the file; it
// must lie inside the head as well.
BmpError ReadPalette(std::span<const uint8_t> head, BmpImage& image) {
  const BmpHeader& header = image.header;
  const uint64_t palette_end =
      header.palette_offset + uint64_t{header.palette_count} * header.palette_entry_size;
  if (palette_end > head.size()) return BmpError::PaletteTruncated;
  image.grey_palette = header.palette_count > 0;
  for (uint32_t i = 0; i < header.palette_count; ++i) {
    const uint8_t* entry =
        head.data() + header.palette_offset + uint64_t{i} * header.palette_entry_size;
    image.palette[i] = Rgb{entry[2], entry[1], entry[0]};  // stored blue, green, red
    if (entry[0] != entry[1] || entry[1] != entry[2]) image.grey_palette = false;
  }
  return BmpError{};
}

BmpError ReadProfile(BmpSource& source, BmpImage& image) {
  const BmpHeader& header = image.header;
  if (header.profile_size == 0) return BmpError{};
  image.icc_profile.resize(header.profile_size);
  if (!source.Read(header.profile_offset, image.icc_profile)) return BmpError::PixelsTruncated;
  return BmpError{};
}

// RLE streams are read whole and checked; uncompressed rows stay in the
// file, their indexes checked against a short palette.
BmpError CheckPixels(BmpSource& source, BmpImage& image) {
  const BmpHeader& header = image.header;
  if (header.layout == BmpLayout::Rle4 || header.layout == BmpLayout::Rle8) {
    if (header.pixel_bytes >= RleRowStart::kEmpty) return BmpError::PixelsTruncated;
    image.pixels.resize(header.pixel_bytes);
    if (!source.Read(header.pixel_offset, image.pixels)) return BmpError::PixelsTruncated;
    return ScanRle(image);
  }
  if (header.bit_count <= 8) return CheckIndexes(image, source);
  return BmpError{};
}

}  // namespace

BmpResult<BmpImage> DecodeBmp(BmpSource& source) {
  std::vector<uint8_t> head(std::min<uint64_t>(source.Size(), kBmpHeadSize));
  if (!source.Read(0, head)) return BmpError::Truncated;
  BmpResult<BmpHeader> parsed = ParseBmpHeader(head, source.Size());
  if (!parsed.ok()) return parsed.error();
  BmpImage image;
  image.header = std::move(parsed).value();
  BmpError error = ReadPalette(head, image);
  if (!IsError(error)) error = ReadProfile(source, image);
  if (!IsError(error)) error = CheckPixels(source, image);
  if (IsError(error)) return error;
  return image;
}

BmpResult<BmpImage> DecodeBmp(std::span<const uint8_t> file) {
  MemorySource source(file);
  return DecodeBmp(source);
}

// ---------------------------------------------------------------------------

namespace {

RowFormat FormatFor(const BmpImage& image) {
  switch (image.header.layout) {
    case BmpLayout::Bgr24:
      return RowFormat::Bgr;
    case BmpLayout::Bgrx32:
      return RowFormat::Bgrx;
    case BmpLayout::Rgbx32:
      return RowFormat::Rgbx;
    case BmpLayout::Masked16:
    case BmpLayout::Masked32:
      return RowFormat::Rgb;
    default:
      return image.grey_palette ? RowFormat::Grey : RowFormat::Rgb;
  }
}

// Table taking a channel's raw value (up to 8 bits) to 0..255, rounded.
void FillScale(const ChannelMask& channel, std::array<uint8_t, 256>& scale) {
  if (channel.bits == 0 || channel.bits >= 8) return;
  const uint32_t max = (1u << channel.bits) - 1;
  for (uint32_t value = 0; value <= max; ++value)
    scale[value] = static_cast<uint8_t>((value * 255 + max / 2) / max);
}

inline uint8_t Scale(uint32_t pixel, const ChannelMask& channel,
                     const std::array<uint8_t, 256>& scale) {
  const uint32_t value = (pixel & channel.mask) >> channel.shift;
  return channel.bits >= 8 ? static_cast<uint8_t>(value >> (channel.bits - 8)) : scale[value];
}

}  // namespace

BmpRowReader::BmpRowReader(const BmpImage& image, BmpSource& source)
    : image_(image), source_(source), format_(FormatFor(image)) {
  const BmpHeader& header = image_.header;
  if (header.layout != BmpLayout::Rle4 && header.layout != BmpLayout::Rle8) {
    // Rows are read a block at a time: a few hundred reads for a photo
    // rather than one per row, the block small enough to stay in the cache.
    constexpr uint64_t kBlockBytes = 64 * 1024;
    block_rows_ = static_cast<uint32_t>(
        std::clamp<uint64_t>(kBlockBytes / header.row_stride, 1, header.height));
    stored_.resize(uint64_t{block_rows_ - 1} * header.row_stride + UsedRowBytes(header));
  }
  switch (header.layout) {
    case BmpLayout::Bgr24:
    case BmpLayout::Bgrx32:
    case BmpLayout::Rgbx32:
      return;  // rows are handed over as read
    case BmpLayout::Rle4:
    case BmpLayout::Rle8:
    case BmpLayout::Indexed4:
    case BmpLayout::Indexed1:
      indexes_.resize(header.width);
      break;
    case BmpLayout::Masked16:
    case BmpLayout::Masked32:
      FillScale(header.red, red_scale_);
      FillScale(header.green, green_scale_);
      FillScale(header.blue, blue_scale_);
      break;
    default:
      break;
  }
  row_.resize(size_t{header.width} * BytesPerPixel(format_));
}

// Stored row `stored`, from the block held or from a new block read towards
// the rows that follow it in the picture: a bottom-up file is read from its
// end backwards. The last row of a block is read without its padding.
const uint8_t* BmpRowReader::StoredRow(uint32_t stored) {
  const BmpHeader& header = image_.header;
  if (held_ == 0 || stored < first_ || stored - first_ >= held_) {
    held_ = 0;
    const uint32_t count =
        std::min(block_rows_, header.top_down ? header.height - stored : stored + 1);
    const uint32_t first = header.top_down ? stored : stored + 1 - count;
    const uint64_t bytes = uint64_t{count - 1} * header.row_stride + UsedRowBytes(header);
    if (!source_.Read(header.pixel_offset + uint64_t{first} * header.row_stride,
                      std::span(stored_.data(), bytes)))
      return nullptr;
    first_ = first;
    held_ = count;
  }
  return stored_.data() + uint64_t{stored - first_} * header.row_stride;
}

const uint8_t* BmpRowReader::Row(uint32_t top) {
  const BmpHeader& header = image_.header;
  const uint32_t stored = header.top_down ? top : header.height - 1 - top;
  const uint8_t* pixels = stored_.empty() ? nullptr : StoredRow(stored);
  if (!stored_.empty() && pixels == nullptr) return nullptr;
  switch (header.layout) {
    case BmpLayout::Bgr24:
    case BmpLayout::Bgrx32:
    case BmpLayout::Rgbx32:
      return pixels;
    case BmpLayout::Rle4:
    case BmpLayout::Rle8:
      DecodeRleRow(stored);
      ConvertIndexes(indexes_.data());
      break;
    case BmpLayout::Indexed8:
      ConvertIndexes(pixels);
      break;
    case BmpLayout::Indexed4:
    case BmpLayout::Indexed1:
      for (uint32_t x = 0; x < header.width; ++x)
        indexes_[x] = PackedIndex(pixels, x, header.bit_count);
      ConvertIndexes(indexes_.data());
      break;
    case BmpLayout::Masked16:
    case BmpLayout::Masked32:
      ConvertMasked(pixels);
      break;
  }
  return row_.data();
}

void BmpRowReader::ConvertIndexes(const uint8_t* indexes) {
  const uint32_t width = image_.header.width;
  const auto& palette = image_.palette;
  uint8_t* out = row_.data();
  if (format_ == RowFormat::Grey) {
    for (uint32_t x = 0; x < width; ++x) out[x] = palette[indexes[x]].r;
    return;
  }
  for (uint32_t x = 0; x < width; ++x, out += 3) {
    const Rgb& colour = palette[indexes[x]];
    out[0] = colour.r;
    out[1] = colour.g;
    out[2] = colour.b;
  }
}

// 16- or 32-bit little-endian pixels, channels picked out by the masks.
void BmpRowReader::ConvertMasked(const uint8_t* pixels) {
  const BmpHeader& header = image_.header;
  const bool wide = header.layout == BmpLayout::Masked32;
  uint8_t* out = row_.data();
  for (uint32_t x = 0; x < header.width; ++x, out += 3) {
    const uint8_t* bytes = pixels + (wide ? 4 : 2) * size_t{x};
    uint32_t pixel = bytes[0] | (bytes[1] << 8);
    if (wide) pixel |= (uint32_t{bytes[2]} << 16) | (uint32_t{bytes[3]} << 24);
    out[0] = Scale(pixel, header.red, red_scale_);
    out[1] = Scale(pixel, header.green, green_scale_);
    out[2] = Scale(pixel, header.blue, blue_scale_);
  }
}

// Decodes one stored row of an RLE bitmap into indexes_, dropping pixels
// coded past the width. The stream was checked by ScanRle; the walk checks
// it again all the same, and ends with the row.
void BmpRowReader::DecodeRleRow(uint32_t stored) {
  std::fill(indexes_.begin(), indexes_.end(), uint8_t{0});  // skipped pixels: first colour
  const RleRowStart start = image_.rle_rows[stored];
  if (start.offset == RleRowStart::kEmpty) return;
  struct Decode {
    uint8_t* out;
    uint32_t width;
    uint16_t bits;
    bool Pixels(uint64_t x, uint32_t count, const uint8_t* packed, uint32_t period) const {
      const uint64_t shown = x >= width ? 0 : std::min<uint64_t>(count, width - x);
      for (uint32_t i = 0; i < shown; ++i) out[x + i] = PackedIndex(packed, i % period, bits);
      return true;
    }
    bool RowStarts(uint32_t, size_t, uint64_t) const { return false; }
  } decode{indexes_.data(), image_.header.width, image_.header.bit_count};
  (void)RleWalker(image_.header, image_.pixels, start.offset, start.x, stored).Walk(decode);
}

}  // namespace savejpg
