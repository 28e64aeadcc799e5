#include "bmp_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "byte_reader.h"

namespace savejpg {
namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kMaxSide = 65500;                  // largest side a JPEG can hold here
constexpr uint64_t kMaxProfileSize = 255ull * 65519;  // fits the APP2 chunks

// Compression values of the Windows headers.
constexpr uint32_t kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiJpeg = 4, kBiPng = 5,
                   kBiAlphaBitfields = 6;
// OS/2 2.x headers reuse 3 and 4 for Huffman 1D and RLE24.
constexpr uint32_t kOs2Huffman = 3, kOs2Rle24 = 4;
constexpr uint32_t kProfileEmbedded = 0x4D424544;  // 'MBED'

bool IsOs2Info(uint32_t size) { return size == 12 || size == 16 || size == 64; }

// Checks one channel mask and fills in where its bits are.
bool MakeChannel(uint32_t mask, uint16_t bit_count, ChannelMask& out) {
  if (mask == 0) return false;
  if (bit_count < 32 && (mask >> bit_count) != 0) return false;  // too wide
  const int shift = std::countr_zero(mask);
  const uint32_t bits = mask >> shift;
  if ((bits & (bits + 1)) != 0) return false;  // holes between set bits
  out.mask = mask;
  out.shift = static_cast<uint8_t>(shift);
  out.bits = static_cast<uint8_t>(std::popcount(mask));
  return true;
}

BmpError CheckMasks(uint32_t r, uint32_t g, uint32_t b, uint32_t a, uint16_t bit_count,
                    BmpHeader& h) {
  if (!MakeChannel(r, bit_count, h.red) || !MakeChannel(g, bit_count, h.green) ||
      !MakeChannel(b, bit_count, h.blue))
    return BmpError::BadMasks;
  ChannelMask alpha;
  if (a != 0 && !MakeChannel(a, bit_count, alpha)) return BmpError::BadMasks;
  if ((r & g) || (r & b) || (g & b) || ((r | g | b) & a)) return BmpError::BadMasks;
  return BmpError{};
}

bool IsError(BmpError e) { return e != BmpError{}; }

// Bytes of one stored row that hold pixels, without the padding.
uint64_t UsedRowBytes(const BmpHeader& h) { return (uint64_t{h.width} * h.bit_count + 7) / 8; }

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
  BmpHeader h;

  // File header: "BM", file size, 2 reserved words, pixel data offset.
  uint8_t b0 = 0, b1 = 0;
  if (!in.ReadU8(b0) || !in.ReadU8(b1)) return BmpError::Truncated;
  if (b0 != 'B' || b1 != 'M') return BmpError::BadMagic;
  uint32_t pixel_offset = 0;
  if (!in.Skip(8) || !in.ReadU32(pixel_offset)) return BmpError::Truncated;

  // Info header: its size says which kind it is.
  if (!in.ReadU32(h.info_size)) return BmpError::Truncated;
  switch (h.info_size) {
    case 12:
    case 16:
    case 40:
    case 52:
    case 56:
    case 64:
    case 108:
    case 124:
      break;
    default:
      return BmpError::BadHeaderSize;
  }
  if (in.Remaining() < h.info_size - 4) return BmpError::Truncated;

  int64_t width = 0, height = 0;
  uint16_t planes = 0;
  uint32_t colors_used = 0, size_image = 0;
  uint32_t mask_r = 0, mask_g = 0, mask_b = 0, mask_a = 0;
  uint32_t cs_type = 0, profile_data = 0, profile_size = 0;
  bool ok = true;
  if (h.info_size == 12) {  // OS/2 1.x core header: 16-bit unsigned sides
    uint16_t w = 0, hh = 0;
    ok = in.ReadU16(w) && in.ReadU16(hh) && in.ReadU16(planes) && in.ReadU16(h.bit_count);
    width = w;
    height = hh;
    h.palette_entry_size = 3;
  } else {
    int32_t w = 0, hh = 0;
    ok = in.ReadI32(w) && in.ReadI32(hh) && in.ReadU16(planes) && in.ReadU16(h.bit_count);
    width = w;
    height = hh;
    if (h.info_size >= 40) {
      ok = ok && in.ReadU32(h.compression) && in.ReadU32(size_image) &&
           in.ReadI32(h.x_pixels_per_metre) && in.ReadI32(h.y_pixels_per_metre) &&
           in.ReadU32(colors_used) && in.Skip(4);  // colours important
    }
    if (h.info_size >= 52 && h.info_size != 64)
      ok = ok && in.ReadU32(mask_r) && in.ReadU32(mask_g) && in.ReadU32(mask_b);
    if (h.info_size >= 56 && h.info_size != 64) ok = ok && in.ReadU32(mask_a);
    if (h.info_size >= 108) ok = ok && in.ReadU32(cs_type) && in.Skip(36 + 12);
    if (h.info_size >= 124)
      ok = ok && in.Skip(4) && in.ReadU32(profile_data) && in.ReadU32(profile_size);
  }
  if (!ok) return BmpError::Truncated;
  uint64_t headers_end = kFileHeaderSize + uint64_t{h.info_size};

  if (planes != 1) return BmpError::BadPlanes;
  if (width <= 0 || height == 0 || height == INT32_MIN) return BmpError::BadDimensions;
  h.top_down = height < 0;
  const int64_t abs_height = height < 0 ? -height : height;
  if (width > kMaxSide || abs_height > kMaxSide) return BmpError::TooLarge;
  h.width = static_cast<uint32_t>(width);
  h.height = static_cast<uint32_t>(abs_height);

  // Compression, then whether it suits the bit count.
  const uint32_t c = h.compression;
  if (IsOs2Info(h.info_size)) {
    if (c == kOs2Huffman || c == kOs2Rle24) return BmpError::UnsupportedCompression;
    if (c > kBiRle4) return BmpError::BadCompression;
  } else {
    if (c == kBiJpeg || c == kBiPng) return BmpError::UnsupportedCompression;
    if (c > kBiAlphaBitfields) return BmpError::BadCompression;
  }
  const uint16_t bpp = h.bit_count;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
    return BmpError::BadBitCount;
  if (h.info_size == 12 && bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24)
    return BmpError::BadBitCount;
  const bool bitfields = c == kBiBitfields || c == kBiAlphaBitfields;
  if ((c == kBiRle8 && bpp != 8) || (c == kBiRle4 && bpp != 4) ||
      (bitfields && bpp != 16 && bpp != 32))
    return BmpError::CompressionMismatch;
  const bool rle = c == kBiRle8 || c == kBiRle4;
  if (rle && h.top_down) return BmpError::TopDownRle;

  // Masks: after a 40-byte header they follow it, in the larger ones they are
  // part of it. BI_RGB uses the fixed 5-5-5 and 8-8-8 layouts.
  if (bitfields && h.info_size == 40) {
    ok = in.ReadU32(mask_r) && in.ReadU32(mask_g) && in.ReadU32(mask_b);
    if (ok && c == kBiAlphaBitfields) ok = in.ReadU32(mask_a);
    if (!ok) return BmpError::Truncated;
    headers_end += c == kBiAlphaBitfields ? 16 : 12;
  }
  if (bpp == 16 || bpp == 32) {
    if (!bitfields) {
      mask_a = 0;
      if (bpp == 16) {
        mask_r = 0x7C00;
        mask_g = 0x03E0;
        mask_b = 0x001F;
      } else {
        mask_r = 0xFF0000;
        mask_g = 0x00FF00;
        mask_b = 0x0000FF;
      }
    }
    if (c != kBiAlphaBitfields && h.info_size < 56) mask_a = 0;
    const BmpError e = CheckMasks(mask_r, mask_g, mask_b, mask_a, bpp, h);
    if (IsError(e)) return e;
  }

  switch (bpp) {
    case 1:
      h.layout = BmpLayout::Indexed1;
      break;
    case 4:
      h.layout = rle ? BmpLayout::Rle4 : BmpLayout::Indexed4;
      break;
    case 8:
      h.layout = rle ? BmpLayout::Rle8 : BmpLayout::Indexed8;
      break;
    case 16:
      h.layout = BmpLayout::Masked16;
      break;
    case 24:
      h.layout = BmpLayout::Bgr24;
      break;
    default:
      if (mask_r == 0xFF0000 && mask_g == 0xFF00 && mask_b == 0xFF)
        h.layout = BmpLayout::Bgrx32;
      else if (mask_r == 0xFF && mask_g == 0xFF00 && mask_b == 0xFF0000)
        h.layout = BmpLayout::Rgbx32;
      else
        h.layout = BmpLayout::Masked32;
  }

  // Colour table, between the headers and the pixel data.
  h.palette_offset = headers_end;
  h.pixel_offset = pixel_offset;
  if (h.pixel_offset < headers_end || h.pixel_offset > file_size) return BmpError::BadPixelOffset;
  if (bpp <= 8) {
    const uint32_t max_colours = 1u << bpp;
    if (colors_used > max_colours) return BmpError::BadPaletteSize;
    uint64_t count = colors_used == 0 ? max_colours : colors_used;
    const uint64_t room = (h.pixel_offset - headers_end) / h.palette_entry_size;
    if (h.info_size == 12) {
      // The core header has no colour count: the table fills the room
      // before the pixel data, up to 2^bpp entries.
      count = std::min(count, room);
      if (count == 0) return BmpError::BadPaletteSize;
    } else {
      if (headers_end + count * h.palette_entry_size > file_size) return BmpError::PaletteTruncated;
      if (count > room) return BmpError::BadPixelOffset;  // table overlaps the pixels
    }
    h.palette_count = static_cast<uint32_t>(count);
  }

  // Pixel data.
  if (rle) {
    h.pixel_bytes = size_image != 0 ? size_image : file_size - h.pixel_offset;
  } else {
    h.row_stride = (uint64_t{h.width} * bpp + 31) / 32 * 4;
    h.pixel_bytes = h.row_stride * h.height;
  }
  if (h.pixel_bytes == 0 || h.pixel_offset + h.pixel_bytes > file_size)
    return BmpError::PixelsTruncated;

  // An embedded colour profile; its offset counts from the info header.
  if (h.info_size == 124 && cs_type == kProfileEmbedded && profile_size != 0) {
    h.profile_offset = kFileHeaderSize + uint64_t{profile_data};
    h.profile_size = profile_size;
    if (h.profile_size > kMaxProfileSize || h.profile_offset + h.profile_size > file_size)
      return BmpError::BadProfile;
  }
  return h;
}

namespace {

// Where runs of a row must end. Writers that code whole stored rows, 4-byte
// padding included (ImageMagick does), run up to 3 pixels past the width in
// RLE8 and up to 7 in RLE4; their indexes are checked like any other, then
// dropped. Moves stop at the width.
uint64_t RleRowEnd(const BmpHeader& h) {
  const uint64_t per_word = h.layout == BmpLayout::Rle4 ? 8 : 4;
  return (uint64_t{h.width} + per_word - 1) / per_word * per_word;
}

// Walks the whole RLE stream once: checks every code against the row and
// the image, checks every palette index, and notes where each stored row's
// codes begin so rows can later be decoded in any order.
BmpError ScanRle(BmpImage& img) {
  const BmpHeader& h = img.header;
  const bool four = h.layout == BmpLayout::Rle4;
  const uint64_t row_end = RleRowEnd(h);
  const std::span<const uint8_t> d = img.pixels;
  const size_t size = d.size();
  const uint32_t colours = h.palette_count;
  img.rle_rows.assign(h.height, RleRowStart{});
  img.rle_rows[0] = {0, 0};
  size_t pos = 0;
  uint64_t x = 0;
  uint32_t y = 0;
  while (true) {
    if (size - pos < 2) return y >= h.height ? BmpError{} : BmpError::RleTruncated;
    const uint8_t count = d[pos], value = d[pos + 1];
    pos += 2;
    if (count > 0) {  // a run of one index (RLE8) or two alternating ones (RLE4)
      if (y >= h.height) return BmpError::RlePastImage;
      if (x + count > row_end) return BmpError::RlePastRow;
      if (four) {
        if ((value >> 4) >= colours || (count > 1 && (value & 15) >= colours))
          return BmpError::BadPaletteIndex;
      } else if (value >= colours) {
        return BmpError::BadPaletteIndex;
      }
      x += count;
      continue;
    }
    switch (value) {
      case 0:  // end of line
        if (y >= h.height) return BmpError::RlePastImage;
        ++y;
        x = 0;
        if (y < h.height) img.rle_rows[y] = {static_cast<uint32_t>(pos), 0};
        break;
      case 1:  // end of bitmap
        return BmpError{};
      case 2: {  // move right and up
        if (size - pos < 2) return BmpError::RleTruncated;
        const uint8_t dx = d[pos], dy = d[pos + 1];
        pos += 2;
        if (y + uint64_t{dy} >= h.height) return BmpError::RlePastImage;
        if (x + dx > h.width) return BmpError::RlePastRow;
        x += dx;
        if (dy > 0) {
          y += dy;
          img.rle_rows[y] = {static_cast<uint32_t>(pos), static_cast<uint32_t>(x)};
        }
        break;
      }
      default: {  // absolute run of `value` indexes, padded to 2 bytes
        const size_t bytes = four ? (value + 1u) / 2 : value;
        const size_t padded = bytes + (bytes & 1);
        if (size - pos < padded) return BmpError::RleTruncated;
        if (y >= h.height) return BmpError::RlePastImage;
        if (x + value > row_end) return BmpError::RlePastRow;
        for (unsigned i = 0; i < value; ++i) {
          const uint8_t b = d[pos + (four ? i / 2 : i)];
          const uint8_t index = four ? ((i & 1) ? (b & 15) : (b >> 4)) : b;
          if (index >= colours) return BmpError::BadPaletteIndex;
        }
        x += value;
        pos += padded;
      }
    }
  }
}

// Checks that no pixel of an uncompressed palette bitmap names a colour
// past a short palette.
BmpError CheckIndexes(const BmpImage& img, BmpSource& source) {
  const BmpHeader& h = img.header;
  if (h.palette_count >= (1u << h.bit_count)) return BmpError{};
  std::vector<uint8_t> stored(UsedRowBytes(h));
  for (uint32_t y = 0; y < h.height; ++y) {
    if (!source.Read(h.pixel_offset + y * h.row_stride, stored)) return BmpError::PixelsTruncated;
    const uint8_t* row = stored.data();
    uint32_t highest = 0;
    switch (h.layout) {
      case BmpLayout::Indexed8:
        for (uint32_t x = 0; x < h.width; ++x) highest = std::max<uint32_t>(highest, row[x]);
        break;
      case BmpLayout::Indexed4:
        for (uint32_t x = 0; x < h.width; ++x)
          highest = std::max<uint32_t>(highest, (row[x / 2] >> ((x & 1) ? 0 : 4)) & 15);
        break;
      default:  // Indexed1
        for (uint32_t x = 0; x < h.width; ++x)
          highest = std::max<uint32_t>(highest, (row[x / 8] >> (7 - (x & 7))) & 1);
    }
    if (highest >= h.palette_count) return BmpError::BadPaletteIndex;
  }
  return BmpError{};
}

}  // namespace

BmpResult<BmpImage> DecodeBmp(BmpSource& source) {
  std::vector<uint8_t> head(std::min<uint64_t>(source.Size(), kBmpHeadSize));
  if (!source.Read(0, head)) return BmpError::Truncated;
  BmpResult<BmpHeader> parsed = ParseBmpHeader(head, source.Size());
  if (!parsed.ok()) return parsed.error();
  BmpImage img;
  img.header = std::move(parsed).value();
  const BmpHeader& h = img.header;

  // ParseBmpHeader has checked that the table, pixels and profile lie inside
  // the file, and the table lies inside the head.
  const uint64_t palette_end = h.palette_offset + uint64_t{h.palette_count} * h.palette_entry_size;
  if (palette_end > head.size()) return BmpError::PaletteTruncated;
  img.grey_palette = h.palette_count > 0;
  for (uint32_t i = 0; i < h.palette_count; ++i) {
    const uint8_t* e = head.data() + h.palette_offset + uint64_t{i} * h.palette_entry_size;
    img.palette[i] = Rgb{e[2], e[1], e[0]};  // stored blue, green, red
    if (e[0] != e[1] || e[1] != e[2]) img.grey_palette = false;
  }
  if (h.profile_size != 0) {
    img.icc_profile.resize(h.profile_size);
    if (!source.Read(h.profile_offset, img.icc_profile)) return BmpError::PixelsTruncated;
  }

  BmpError e{};
  if (h.layout == BmpLayout::Rle4 || h.layout == BmpLayout::Rle8) {
    if (h.pixel_bytes >= RleRowStart::kEmpty) return BmpError::PixelsTruncated;
    img.pixels.resize(h.pixel_bytes);
    if (!source.Read(h.pixel_offset, img.pixels)) return BmpError::PixelsTruncated;
    e = ScanRle(img);
  } else if (h.bit_count <= 8) {
    e = CheckIndexes(img, source);
  }
  if (IsError(e)) return e;
  return img;
}

BmpResult<BmpImage> DecodeBmp(std::span<const uint8_t> file) {
  MemorySource source(file);
  return DecodeBmp(source);
}

// ---------------------------------------------------------------------------

namespace {

RowFormat FormatFor(const BmpImage& img) {
  switch (img.header.layout) {
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
      return img.grey_palette ? RowFormat::Grey : RowFormat::Rgb;
  }
}

// Table taking a channel's raw value (up to 8 bits) to 0..255, rounded.
void FillScale(const ChannelMask& c, std::array<uint8_t, 256>& lut) {
  if (c.bits == 0 || c.bits >= 8) return;
  const uint32_t max = (1u << c.bits) - 1;
  for (uint32_t v = 0; v <= max; ++v) lut[v] = static_cast<uint8_t>((v * 255 + max / 2) / max);
}

inline uint8_t Scale(uint32_t pixel, const ChannelMask& c, const std::array<uint8_t, 256>& lut) {
  const uint32_t v = (pixel & c.mask) >> c.shift;
  return c.bits >= 8 ? static_cast<uint8_t>(v >> (c.bits - 8)) : lut[v];
}

}  // namespace

BmpRowReader::BmpRowReader(const BmpImage& image, BmpSource& source)
    : image_(image), source_(source), format_(FormatFor(image)) {
  const BmpHeader& h = image_.header;
  if (h.layout != BmpLayout::Rle4 && h.layout != BmpLayout::Rle8) stored_.resize(UsedRowBytes(h));
  switch (h.layout) {
    case BmpLayout::Bgr24:
    case BmpLayout::Bgrx32:
    case BmpLayout::Rgbx32:
      return;  // rows are handed over as read
    case BmpLayout::Rle4:
    case BmpLayout::Rle8:
    case BmpLayout::Indexed4:
    case BmpLayout::Indexed1:
      indexes_.resize(h.width);
      break;
    case BmpLayout::Masked16:
    case BmpLayout::Masked32:
      FillScale(h.red, lutR_);
      FillScale(h.green, lutG_);
      FillScale(h.blue, lutB_);
      break;
    default:
      break;
  }
  row_.resize(size_t{h.width} * BytesPerPixel(format_));
}

const uint8_t* BmpRowReader::Row(uint32_t top) {
  const BmpHeader& h = image_.header;
  const uint32_t stored = h.top_down ? top : h.height - 1 - top;
  if (!stored_.empty() && !source_.Read(h.pixel_offset + uint64_t{stored} * h.row_stride, stored_))
    return nullptr;
  const uint8_t* src = stored_.data();
  uint8_t* out = row_.data();
  switch (h.layout) {
    case BmpLayout::Bgr24:
    case BmpLayout::Bgrx32:
    case BmpLayout::Rgbx32:
      return src;
    case BmpLayout::Rle4:
    case BmpLayout::Rle8:
      DecodeRleRow(stored);
      ConvertIndexes(indexes_.data());
      return out;
    case BmpLayout::Indexed8:
      ConvertIndexes(src);
      return out;
    case BmpLayout::Indexed4:
      for (uint32_t x = 0; x < h.width; ++x) indexes_[x] = (src[x / 2] >> ((x & 1) ? 0 : 4)) & 15;
      ConvertIndexes(indexes_.data());
      return out;
    case BmpLayout::Indexed1:
      for (uint32_t x = 0; x < h.width; ++x) indexes_[x] = (src[x / 8] >> (7 - (x & 7))) & 1;
      ConvertIndexes(indexes_.data());
      return out;
    case BmpLayout::Masked16:
      for (uint32_t x = 0; x < h.width; ++x, out += 3) {
        const uint32_t p = src[2 * x] | (src[2 * x + 1] << 8);
        out[0] = Scale(p, h.red, lutR_);
        out[1] = Scale(p, h.green, lutG_);
        out[2] = Scale(p, h.blue, lutB_);
      }
      return row_.data();
    case BmpLayout::Masked32:
      for (uint32_t x = 0; x < h.width; ++x, out += 3) {
        const uint8_t* s = src + 4 * x;
        const uint32_t p = s[0] | (s[1] << 8) | (s[2] << 16) | (uint32_t{s[3]} << 24);
        out[0] = Scale(p, h.red, lutR_);
        out[1] = Scale(p, h.green, lutG_);
        out[2] = Scale(p, h.blue, lutB_);
      }
      return row_.data();
  }
  return row_.data();
}

void BmpRowReader::ConvertIndexes(const uint8_t* indexes) {
  const uint32_t width = image_.header.width;
  const auto& pal = image_.palette;
  uint8_t* out = row_.data();
  if (format_ == RowFormat::Grey) {
    for (uint32_t x = 0; x < width; ++x) out[x] = pal[indexes[x]].r;
    return;
  }
  for (uint32_t x = 0; x < width; ++x, out += 3) {
    const Rgb& c = pal[indexes[x]];
    out[0] = c.r;
    out[1] = c.g;
    out[2] = c.b;
  }
}

// Decodes one stored row of an RLE bitmap into indexes_, dropping pixels
// coded past the width. The stream was checked by ScanRle; the bounds are
// checked again all the same.
void BmpRowReader::DecodeRleRow(uint32_t stored) {
  const uint32_t width = image_.header.width;
  const uint64_t row_end = RleRowEnd(image_.header);
  const bool four = image_.header.layout == BmpLayout::Rle4;
  uint8_t* out = indexes_.data();
  std::fill(indexes_.begin(), indexes_.end(), uint8_t{0});  // skipped pixels: first colour
  const RleRowStart start = image_.rle_rows[stored];
  if (start.offset == RleRowStart::kEmpty) return;
  const std::span<const uint8_t> d = image_.pixels;
  size_t pos = start.offset;
  uint64_t x = start.x;
  // How many of `count` pixels from x are inside the picture.
  auto shown = [&](unsigned count) {
    return static_cast<unsigned>(x >= width ? 0 : std::min<uint64_t>(count, width - x));
  };
  while (d.size() - pos >= 2) {
    const uint8_t count = d[pos], value = d[pos + 1];
    pos += 2;
    if (count > 0) {
      if (x + count > row_end) return;
      for (unsigned i = 0, n = shown(count); i < n; ++i)
        out[x + i] = four ? ((i & 1) ? (value & 15) : (value >> 4)) : value;
      x += count;
    } else if (value == 0 || value == 1) {
      return;  // end of line or of bitmap
    } else if (value == 2) {
      if (d.size() - pos < 2 || d[pos + 1] != 0) return;  // a move to another row ends this one
      x += d[pos];
      pos += 2;
      if (x > width) return;
    } else {
      const size_t bytes = four ? (value + 1u) / 2 : value;
      const size_t padded = bytes + (bytes & 1);
      if (d.size() - pos < padded || x + value > row_end) return;
      for (unsigned i = 0, n = shown(value); i < n; ++i) {
        const uint8_t b = d[pos + (four ? i / 2 : i)];
        out[x + i] = four ? ((i & 1) ? (b & 15) : (b >> 4)) : b;
      }
      x += value;
      pos += padded;
    }
  }
}

}  // namespace savejpg
