// The last step of SavetoJPEG: a decoded bitmap written as a JPEG file that
// replaces the destination only once it is complete. On its own so that the
// tests can change the source file between decoding and writing.
#pragma once

#include <cstdint>
#include <filesystem>

#include "bmp_reader.h"

namespace savejpg {

// Encodes `image`, reading its rows from `source`, into a temporary file in
// dest's folder and renames that over dest. Returns a SaveJpgResult value:
// SAVEJPG_OK, an output or encoder error, or SAVEJPG_BMP_PIXELS_TRUNCATED
// when the source no longer holds a row. On every failure the temporary file
// is removed and dest is left as it was. `memory_limit` bounds what the
// picture's coefficients may need (0: no bound). Throws std::bad_alloc.
[[nodiscard]] int16_t WriteJpegFile(const BmpImage& image, BmpSource& source,
                                    const std::filesystem::path& dest, uint8_t quality,
                                    int16_t progressive, uint64_t memory_limit);

}  // namespace savejpg
