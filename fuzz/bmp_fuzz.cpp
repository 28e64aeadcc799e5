// Fuzz target for the bitmap reader: decodes the bytes as a bitmap, reads
// every row and, for images up to a size, compresses them to an in-memory
// JPEG, as SavetoJPEG would, without touching any file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "bmp_reader.h"
#include "jpeg_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace savejpg;
  MemorySource source(std::span<const uint8_t>(data, size));
  const BmpResult<BmpImage> decoded = DecodeBmp(source);
  if (!decoded.ok()) {
    (void)ToString(decoded.error());
    return 0;
  }
  const BmpImage& image = decoded.value();
  BmpRowReader rows(image, source);
  const uint64_t pixels = uint64_t{rows.Width()} * rows.Height();
  const size_t row_bytes = size_t{rows.Width()} * BytesPerPixel(rows.Format());

  // Every row when the image is small enough to be quick, else a few at
  // each end; every byte of a row is read.
  volatile uint8_t sink = 0;
  for (uint32_t y = 0; y < rows.Height(); ++y) {
    if (pixels > (uint64_t{1} << 22) && y >= 8 && y + 8 < rows.Height()) y = rows.Height() - 8;
    const uint8_t* row = rows.Row(y);
    if (row == nullptr) std::abort();  // bytes in memory cannot fail to be read
    uint8_t sum = 0;
    for (size_t i = 0; i < row_bytes; ++i) sum = static_cast<uint8_t>(sum + row[i]);
    sink = sink + sum;
  }

  if (pixels <= (uint64_t{1} << 16)) {
    JpegOptions options;
    options.quality = 1 + static_cast<int>(size % 100);
    options.progressive = (size & 1) != 0;
    options.x_dpi = DotsPerInch(image.header.x_pixels_per_metre);
    options.y_dpi = DotsPerInch(image.header.y_pixels_per_metre);
    options.icc_profile = image.icc_profile;
    options.memory_limit = 64 << 20;
    // Now and then the recoding may keep little: some progressive scans are
    // then made twice, or libjpeg's own way codes the picture.
    if (size % 3 == 0) options.recoding_limit = (size % 16 + 1) * 16 * 1024;
    MemorySink out;
    try {
      WriteJpeg(
          rows.Width(), rows.Height(), rows.Format(),
          [&rows](uint32_t top) { return rows.Row(top); }, options, out);
    } catch (const JpegFailure&) {
      std::abort();  // a bitmap the reader accepted must always encode
    }
  }
  return 0;
}
