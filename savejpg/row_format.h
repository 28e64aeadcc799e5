// The pixel rows passed from the bitmap reader to the JPEG writer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace savejpg {

enum class RowFormat : uint8_t {
  Grey,  // 1 byte per pixel
  Rgb,   // R, G, B
  Bgr,   // B, G, R
  Bgrx,  // B, G, R, unused
  Rgbx,  // R, G, B, unused
};

constexpr size_t BytesPerPixel(RowFormat format) {
  switch (format) {
    case RowFormat::Grey:
      return 1;
    case RowFormat::Rgb:
    case RowFormat::Bgr:
      return 3;
    case RowFormat::Bgrx:
    case RowFormat::Rgbx:
      return 4;
  }
  return 4;
}

}  // namespace savejpg
