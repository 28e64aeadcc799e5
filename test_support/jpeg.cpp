#include "test_support/jpeg.h"

#include <cmath>
#include <cstdlib>
#include <stdexcept>

// libjpeg's header needs size_t and FILE declared first.
// clang-format off
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
// clang-format on

namespace morvane::test_support {
namespace {

[[noreturn]] void ThrowReadError(j_common_ptr) {
  throw std::runtime_error("libjpeg could not read the JPEG");
}

struct Decompressor {
  jpeg_decompress_struct d{};
  jpeg_error_mgr err{};
  Decompressor() {
    d.err = jpeg_std_error(&err);
    err.error_exit = ThrowReadError;
    err.output_message = [](j_common_ptr) {};
    jpeg_create_decompress(&d);
  }
  ~Decompressor() { jpeg_destroy_decompress(&d); }
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;
};

}  // namespace

DecodedJpeg DecodeJpeg(const std::vector<uint8_t>& bytes) {
  Decompressor j;
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

std::pair<int, int> JpegSize(const std::vector<uint8_t>& bytes) {
  Decompressor j;
  jpeg_mem_src(&j.d, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&j.d, TRUE);
  return {static_cast<int>(j.d.image_width), static_cast<int>(j.d.image_height)};
}

double Psnr(const DecodedJpeg& jpeg, int w, int h,
            const std::function<Colour(int, int)>& expected) {
  if (jpeg.width != w || jpeg.height != h || jpeg.components == 0) return 0;
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

double Psnr(const DecodedJpeg& jpeg, const Picture& expected) {
  return Psnr(jpeg, expected.width, expected.height, expected.colour);
}

}  // namespace morvane::test_support
