// Helpers for the SaveJPG tests: building bitmap files byte by byte, reading
// JPEG files back with libjpeg, comparing pixels, scratch folders.
#pragma once

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace savejpg_test {

namespace fs = std::filesystem;

inline void Put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(x & 0xFF);
  v.push_back((x >> 8) & 0xFF);
}
inline void Put32(std::vector<uint8_t>& v, uint32_t x) {
  Put16(v, x & 0xFFFF);
  Put16(v, x >> 16);
}
inline void Patch32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.at(at + i) = static_cast<uint8_t>(x >> (8 * i));
}

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

inline std::vector<uint8_t> BuildBmp(const BmpFields& s) {
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

// Stores pixel values row by row, each row padded to 4 bytes, bottom row
// first unless top_down. value(x, y) is a palette index (1/4/8 bits), a 16-
// or 32-bit word, or 0xRRGGBB for 24 bits; y counts from the top.
inline std::vector<uint8_t> StoreRows(int w, int h, int bpp, bool top_down,
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

// Smooth photo-like test content.
inline Colour Smooth(int x, int y) {
  return Colour{static_cast<uint8_t>(40 + 3 * x), static_cast<uint8_t>(200 - 2 * y),
                static_cast<uint8_t>(60 + x + y)};
}
inline uint32_t Packed(Colour c) { return (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b; }

// A JPEG file read back: pixels (RGB or grey) and the header facts.
struct DecodedJpeg {
  int width = 0, height = 0, components = 0;
  std::vector<uint8_t> pixels;
  bool progressive = false;
  int density_unit = 0, x_density = 0, y_density = 0;
  int h_samp = 0, v_samp = 0;  // of the first component
  std::vector<uint8_t> icc;
};

inline std::vector<uint8_t> ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
inline void WriteFile(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline DecodedJpeg DecodeJpeg(const std::vector<uint8_t>& bytes) {
  struct Decompressor {
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    Decompressor() {
      d.err = jpeg_std_error(&err);
      err.error_exit = [](j_common_ptr) {
        throw std::runtime_error("libjpeg could not read the JPEG");
      };
      err.output_message = [](j_common_ptr) {};
      jpeg_create_decompress(&d);
    }
    ~Decompressor() { jpeg_destroy_decompress(&d); }
  } j;
  DecodedJpeg out;
  jpeg_mem_src(&j.d, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_save_markers(&j.d, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(&j.d, TRUE);
  JOCTET* icc = nullptr;
  unsigned int icc_len = 0;
  if (jpeg_read_icc_profile(&j.d, &icc, &icc_len)) {
    out.icc.assign(icc, icc + icc_len);
    free(icc);
  }
  out.components = j.d.num_components;
  out.h_samp = j.d.comp_info[0].h_samp_factor;
  out.v_samp = j.d.comp_info[0].v_samp_factor;
  out.density_unit = j.d.density_unit;
  out.x_density = j.d.X_density;
  out.y_density = j.d.Y_density;
  out.progressive = j.d.progressive_mode;
  j.d.dct_method = JDCT_ISLOW;
  jpeg_start_decompress(&j.d);
  out.width = static_cast<int>(j.d.output_width);
  out.height = static_cast<int>(j.d.output_height);
  const size_t stride = static_cast<size_t>(out.width) * j.d.output_components;
  out.pixels.resize(stride * out.height);
  while (j.d.output_scanline < j.d.output_height) {
    JSAMPROW row = out.pixels.data() + stride * j.d.output_scanline;
    jpeg_read_scanlines(&j.d, &row, 1);
  }
  jpeg_finish_decompress(&j.d);
  return out;
}

// Width and height from a JPEG's header, without decoding the pixels.
inline std::pair<int, int> JpegSize(const std::vector<uint8_t>& bytes) {
  jpeg_decompress_struct d{};
  jpeg_error_mgr err{};
  d.err = jpeg_std_error(&err);
  err.error_exit = [](j_common_ptr) {
    throw std::runtime_error("libjpeg could not read the JPEG");
  };
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, bytes.data(), static_cast<unsigned long>(bytes.size()));
  std::pair<int, int> size;
  try {
    jpeg_read_header(&d, TRUE);
    size = {static_cast<int>(d.image_width), static_cast<int>(d.image_height)};
  } catch (...) {
    jpeg_destroy_decompress(&d);
    throw;
  }
  jpeg_destroy_decompress(&d);
  return size;
}

// PSNR of decoded pixels against expected colours (grey JPEGs against R).
inline double Psnr(const DecodedJpeg& jpeg, int w, int h,
                   const std::function<Colour(int, int)>& expected) {
  double sum = 0;
  size_t n = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Colour e = expected(x, y);
      const uint8_t* p = jpeg.pixels.data() + (static_cast<size_t>(y) * w + x) * jpeg.components;
      const uint8_t want[3] = {e.r, e.g, e.b};
      for (int c = 0; c < jpeg.components; ++c, ++n) sum += std::pow(double(p[c]) - want[c], 2);
    }
  const double mse = sum / static_cast<double>(n);
  return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// A fresh folder, removed with everything in it at the end of the test.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::random_device r;
    path_ =
        fs::temp_directory_path() / ("savejpg_test_" + std::to_string(r()) + std::to_string(r()));
    fs::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path_))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  fs::path path_;
};

}  // namespace savejpg_test
