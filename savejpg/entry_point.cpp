// The exported entry point: read the bitmap, write the JPEG into a temporary
// file beside the destination, then put it in the destination's place.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <new>
#include <string>

#include "bmp_reader.h"
#include "jpeg_file.h"
#include "jpeg_writer.h"
#include "savejpg.h"
#include "source_file.h"
#include "system_file.h"
#include "system_memory.h"
#include "temp_output.h"

namespace savejpg {
namespace {

namespace fs = std::filesystem;

// Same path written differently, or the same file under another name.
bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec1, ec2;
  const fs::path na = fs::absolute(a, ec1).lexically_normal();
  const fs::path nb = fs::absolute(b, ec2).lexically_normal();
  if (!ec1 && !ec2 && na == nb) return true;
  std::error_code ec;
  const bool same = fs::equivalent(a, b, ec);
  return !ec && same;
}

// A picture's whole coefficients take 2 to 6 bytes a pixel, whatever the
// size of the file, and the encoder keeps at most them and a few rows. It
// may use all the memory the process may still take where a limit of its
// own (its control group's, its address space or data) is what bounds it,
// so a bitmap that cjpeg converts within such a limit converts within it
// too; otherwise half the machine's memory, so that a few bytes of RLE
// claiming a huge image are refused rather than make the system page. The
// writer compares what the coefficients would need with that before reading
// a row (as libjpeg does when it keeps them). Without a figure, the
// allocations decide.
uint64_t MemoryLimit() {
  const uint64_t available = MemoryAvailable();
  const uint64_t half_machine = MachineMemory() / 2;
  if (half_machine == 0) return available;
  return available == 0 ? half_machine : std::min(available, half_machine);
}

// Threads each call made on this thread may use (SaveJPGUseThreads).
thread_local unsigned threads_for_calls = 1;

JpegOptions OptionsFor(const BmpImage& image, uint8_t quality, int16_t progressive,
                       uint64_t memory_limit) {
  JpegOptions options;
  options.threads = threads_for_calls;
  options.memory_limit = memory_limit;
  options.quality = quality;  // the writer clamps 0 to 1 and above 100 to 100
  options.progressive = progressive != 0;
  options.x_dpi = DotsPerInch(image.header.x_pixels_per_metre);
  options.y_dpi = DotsPerInch(image.header.y_pixels_per_metre);
  options.icc_profile = image.icc_profile;
  return options;
}

// Rows for libjpeg, each thread coding rows with a reader of its own; a row
// the source no longer holds ends the conversion.
RowFunctionMaker RowsOrFailure(const BmpImage& image, BmpSource& source) {
  return [&image, &source] {
    const auto rows = std::make_shared<BmpRowReader>(image, source);
    return RowFunction([rows](uint32_t top) {
      const uint8_t* row = rows->Row(top);
      if (row == nullptr)
        throw JpegFailure(SAVEJPG_BMP_PIXELS_TRUNCATED, "the bitmap was cut short while read");
      return row;
    });
  };
}

int16_t Convert(const fs::path& source_path, const fs::path& dest_path, uint8_t quality,
                int16_t progressive) {
  if (SameFile(source_path, dest_path)) return SAVEJPG_ERR_SAME_FILE;
  // Asked before the bitmap is read: the little memory the answer takes, and
  // what it keeps for the next call, stays below the conversion's large
  // blocks rather than between them.
  const uint64_t memory_limit = MemoryLimit();

  SourceFile input;
  if (!input.Open(source_path)) return SAVEJPG_ERR_OPEN_SOURCE;
  const BmpResult<BmpImage> decoded = DecodeBmp(input);
  if (!decoded.ok()) return static_cast<int16_t>(decoded.error());
  return WriteJpegFile(decoded.value(), input, dest_path, quality, progressive, memory_limit);
}

// What a conversion gives, its failures included: nothing is thrown out of
// the library.
template <class Conversion>
int16_t ResultOf(Conversion conversion) {
  try {
    return conversion();
  } catch (const JpegFailure& failure) {
    return failure.code();
  } catch (const std::bad_alloc&) {
    return SAVEJPG_ERR_OUT_OF_MEMORY;
  } catch (...) {
    return SAVEJPG_ERR_INTERNAL;
  }
}

}  // namespace

int16_t WriteJpegFile(const BmpImage& image, BmpSource& source, const fs::path& dest,
                      uint8_t quality, int16_t progressive, uint64_t memory_limit) {
  TempOutput output;
  if (!output.Create(dest)) return SAVEJPG_ERR_CREATE_OUTPUT;
  BmpRowReader rows(image, source);
  try {
    WriteJpeg(rows.Width(), rows.Height(), rows.Format(), RowsOrFailure(image, source),
              OptionsFor(image, quality, progressive, memory_limit), output);
  } catch (const JpegFailure& failure) {
    return failure.code();
  }
  return output.Replace(dest);
}

}  // namespace savejpg

extern "C" SAVEJPG_API int16_t SavetoJPEG(char* source, char* dest, uint8_t quality,
                                          int16_t progressive) {
  return savejpg::ResultOf([&]() -> int16_t {
    if (source == nullptr || dest == nullptr || *source == '\0' || *dest == '\0')
      return SAVEJPG_ERR_ARGUMENT;
    return savejpg::Convert(savejpg::PathFromSystemText(source), savejpg::PathFromSystemText(dest),
                            quality, progressive);
  });
}

extern "C" SAVEJPG_API void SaveJPGUseThreads(uint16_t threads) {
  savejpg::threads_for_calls = std::clamp<unsigned>(threads, 1, savejpg::kMostThreads);
}

#if defined(_WIN32)
// The paths as Windows keeps them, whatever the ANSI code page holds.
extern "C" SAVEJPG_API int16_t SavetoJPEGW(const wchar_t* source, const wchar_t* dest,
                                           uint8_t quality, int16_t progressive) {
  return savejpg::ResultOf([&]() -> int16_t {
    if (source == nullptr || dest == nullptr || *source == L'\0' || *dest == L'\0')
      return SAVEJPG_ERR_ARGUMENT;
    return savejpg::Convert(std::filesystem::path(source), std::filesystem::path(dest), quality,
                            progressive);
  });
}
#endif
