#include "test_support/bitmap.h"

#include <algorithm>
#include <cstddef>

namespace morvane::test_support {
namespace {

void Put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(x & 0xFF);
  v.push_back((x >> 8) & 0xFF);
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
  Put16(v, x & 0xFFFF);
  Put16(v, x >> 16);
}
void Patch32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.at(at + i) = static_cast<uint8_t>(x >> (8 * i));
}

}  // namespace

std::vector<uint8_t> BuildBmp(const BmpFields& s) {
  std::vector<uint8_t> f;
  f.push_back('B');  // signature
  f.push_back('M');
  Put32(f, 0);  // file size, patched below
  Put32(f, 0);  // two reserved words
  Put32(f, 0);  // pixel data offset, patched below
  const size_t info = f.size();
  Put32(f, s.info_size);
  if (s.info_size == 12) {
    Put16(f, static_cast<uint16_t>(s.width));
    Put16(f, static_cast<uint16_t>(s.height));
    Put16(f, s.planes);
    Put16(f, s.bit_count);
  } else {
    Put32(f, static_cast<uint32_t>(s.width));
    Put32(f, static_cast<uint32_t>(s.height));
    Put16(f, s.planes);
    Put16(f, s.bit_count);
    if (s.info_size >= 40) {
      Put32(f, s.compression);
      Put32(f, static_cast<uint32_t>(s.pixels.size()));  // image size
      Put32(f, static_cast<uint32_t>(s.x_ppm));
      Put32(f, static_cast<uint32_t>(s.y_ppm));
      Put32(f, s.colors_used);
      Put32(f, 0);  // colours important
    }
    const bool masks_inside = s.info_size >= 52 && s.info_size != 64;
    for (size_t i = 0; masks_inside && i < 4 && 40 + 4 * i < std::min<uint32_t>(s.info_size, 56);
         ++i)
      Put32(f, i < s.masks.size() ? s.masks[i] : 0);
    if (s.info_size >= 108) {
      Put32(f, s.profile.empty() ? 0x73524742 : 0x4D424544);  // 'sRGB' or 'MBED'
      f.resize(f.size() + 36 + 12);                           // endpoints, gamma
    }
    if (s.info_size >= 124) {
      Put32(f, 4);  // intent
      Put32(f, 0);  // profile offset from the info header, patched below
      Put32(f, static_cast<uint32_t>(s.profile.size()));
      Put32(f, 0);  // reserved
    }
    f.resize(info + s.info_size);  // OS/2 2.x tail: zeros
    if (!masks_inside)
      for (uint32_t m : s.masks) Put32(f, m);
  }
  for (const Colour& c : s.palette) {
    f.push_back(c.b);
    f.push_back(c.g);
    f.push_back(c.r);
    if (s.info_size != 12) f.push_back(0);
  }
  Patch32(f, 10, static_cast<uint32_t>(s.pixel_offset >= 0 ? s.pixel_offset : f.size()));
  f.insert(f.end(), s.pixels.begin(), s.pixels.end());
  if (!s.profile.empty()) {
    Patch32(f, info + 112, static_cast<uint32_t>(f.size() - info));
    f.insert(f.end(), s.profile.begin(), s.profile.end());
  }
  Patch32(f, 2, static_cast<uint32_t>(f.size()));
  return f;
}

std::vector<uint8_t> StoreRows(int w, int h, int bpp, bool top_down,
                               const std::function<uint32_t(int, int)>& value) {
  const size_t stride = (static_cast<size_t>(w) * bpp + 31) / 32 * 4;
  std::vector<uint8_t> out(stride * h, 0);
  for (int row = 0; row < h; ++row) {
    const int y = top_down ? row : h - 1 - row;
    uint8_t* p = out.data() + stride * row;
    for (int x = 0; x < w; ++x) {
      const uint32_t v = value(x, y);
      switch (bpp) {
        case 1:
          p[x / 8] |= static_cast<uint8_t>((v & 1) << (7 - x % 8));
          break;
        case 4:
          p[x / 2] |= static_cast<uint8_t>((v & 15) << (x % 2 ? 0 : 4));
          break;
        case 8:
          p[x] = static_cast<uint8_t>(v);
          break;
        case 16:
          p[2 * x] = v & 0xFF;
          p[2 * x + 1] = (v >> 8) & 0xFF;
          break;
        case 24:
          p[3 * x] = v & 0xFF;
          p[3 * x + 1] = (v >> 8) & 0xFF;
          p[3 * x + 2] = (v >> 16) & 0xFF;
          break;
        default:
          for (int i = 0; i < 4; ++i) p[4 * x + i] = (v >> (8 * i)) & 0xFF;
      }
    }
  }
  return out;
}

Colour Smooth(int x, int y) {
  return Colour{static_cast<uint8_t>(40 + 3 * x), static_cast<uint8_t>(200 - 2 * y),
                static_cast<uint8_t>(60 + x + y)};
}

uint32_t Packed(Colour c) { return (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b; }

std::vector<uint8_t> Bitmap24(const Picture& picture) {
  BmpFields fields;
  fields.width = picture.width;
  fields.height = picture.height;
  fields.x_ppm = fields.y_ppm = 3780;  // 96 dpi
  fields.pixels = StoreRows(picture.width, picture.height, 24, false,
                            [&](int x, int y) { return Packed(picture.colour(x, y)); });
  return BuildBmp(fields);
}

std::vector<uint8_t> SmallBitmap() {
  BmpFields s;
  s.width = 9;
  s.height = 7;
  s.pixels = StoreRows(9, 7, 24, false, [](int x, int y) { return Packed(Smooth(x, y)); });
  return BuildBmp(s);
}

}  // namespace morvane::test_support
