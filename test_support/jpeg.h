// JPEG files read back with libjpeg, and how close their pixels come to the
// expected ones.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "test_support/bitmap.h"

namespace morvane::test_support {

// A JPEG file read back: pixels (RGB or grey, top row first) and the header
// facts.
struct DecodedJpeg {
  int width = 0, height = 0, components = 0;
  std::vector<uint8_t> pixels;
  bool progressive = false;
  int density_unit = 0, x_density = 0, y_density = 0;
  int h_samp = 0, v_samp = 0;  // of the first component
  std::vector<uint8_t> icc;
};

// Throws std::runtime_error when libjpeg cannot read the bytes.
DecodedJpeg DecodeJpeg(const std::vector<uint8_t>& bytes);

// Width and height from a JPEG's header, without decoding the pixels.
std::pair<int, int> JpegSize(const std::vector<uint8_t>& bytes);

// PSNR in dB of decoded pixels against expected colours (grey JPEGs against
// R); 99 for identical pixels, 0 when the sizes differ.
double Psnr(const DecodedJpeg& jpeg, int w, int h, const std::function<Colour(int, int)>& expected);
double Psnr(const DecodedJpeg& jpeg, const Picture& expected);

}  // namespace morvane::test_support
