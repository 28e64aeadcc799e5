// The exported entry point: read the bitmap, write the JPEG beside the
// destination under a temporary name, then rename it over the destination.
#include "savejpg.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <new>
#include <random>
#include <string>

#include "bmp_reader.h"
#include "jpeg_writer.h"
#include "mapped_file.h"
#include "system_file.h"

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

unsigned RandomSeed() {
  try {
    return std::random_device{}();
  } catch (...) {  // no entropy source: the clock will do for a file name
    return static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
  }
}

// A new file beside the destination that is removed again unless it has
// been renamed over the destination.
class TempOutput {
 public:
  ~TempOutput() {
    if (file_ != nullptr) std::fclose(file_);
    if (!path_.empty()) {
      std::error_code ec;
      fs::remove(path_, ec);
    }
  }

  bool Create(const fs::path& dest) {
    std::mt19937 random(RandomSeed());
    for (int attempt = 0; attempt < 32; ++attempt) {
      char suffix[32];
      std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
      // Beside the destination, named after it unless that name is so long
      // that the suffix could pass the system's name limit.
      fs::path candidate = dest;
      if (dest.filename().native().size() > 200) candidate.replace_filename("savejpg");
      candidate += suffix;
      errno = 0;
      file_ = CreateNewFile(candidate);  // fails if it exists
      if (file_ != nullptr) {
        path_ = std::move(candidate);
        return true;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }

  std::FILE* File() const { return file_; }

  bool Close() {
    const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return flushed && closed;
  }

  bool RenameTo(const fs::path& dest) {
    if (!RenameOver(path_, dest)) return false;
    path_.clear();
    return true;
  }

 private:
  std::FILE* file_ = nullptr;
  fs::path path_;
};

// libjpeg keeps the whole image's coefficients (Huffman optimisation and
// progressive scans need them): 2 to 6 bytes a pixel. Memory in proportion
// to the file, with a floor, so a few bytes of RLE cannot ask for gigabytes.
uint64_t MemoryLimit(uint64_t file_size) {
  constexpr uint64_t kFloor = uint64_t{1} << 30;
  return std::max(kFloor, file_size * 8);
}

JpegOptions OptionsFor(const BmpImage& image, uint64_t file_size, uint8_t quality,
                       int16_t progressive) {
  JpegOptions options;
  options.memory_limit = MemoryLimit(file_size);
  options.quality = quality;  // the writer clamps 0 to 1 and above 100 to 100
  options.progressive = progressive != 0;
  options.x_dpi = DotsPerInch(image.header.x_pixels_per_metre);
  options.y_dpi = DotsPerInch(image.header.y_pixels_per_metre);
  options.icc_profile = image.icc_profile;
  return options;
}

// Rows already handed to libjpeg are not read again: once enough of them
// have been compressed, the pages they were in are given back, so a large
// bitmap is not held in memory next to libjpeg's coefficients.
class RowsWithRelease {
 public:
  RowsWithRelease(BmpRowReader& rows, MappedFile& file, const BmpHeader& header)
      : rows_(rows), file_(file), header_(header) {}

  const uint8_t* operator()(uint32_t top) {
    const uint64_t done = uint64_t{top - released_} * header_.row_stride;
    if (done >= kBatchBytes) {
      const uint64_t first = header_.top_down ? released_ : header_.height - top;
      file_.Release(header_.pixel_offset + first * header_.row_stride, done);
      released_ = top;
    }
    return rows_.Row(top);
  }

 private:
  static constexpr uint64_t kBatchBytes = 512 << 10;
  BmpRowReader& rows_;
  MappedFile& file_;
  const BmpHeader& header_;
  uint32_t released_ = 0;  // rows from the top already given back
};

int16_t Convert(const char* source, const char* dest, uint8_t quality, int16_t progressive) {
  if (source == nullptr || dest == nullptr || *source == '\0' || *dest == '\0')
    return SAVEJPG_ERR_ARGUMENT;
  const fs::path source_path = PathFromSystemText(source);
  const fs::path dest_path = PathFromSystemText(dest);
  if (SameFile(source_path, dest_path)) return SAVEJPG_ERR_SAME_FILE;

  MappedFile input;
  if (!input.Open(source_path)) return SAVEJPG_ERR_OPEN_SOURCE;
  const BmpResult<BmpImage> decoded = DecodeBmp(input.Bytes());
  if (!decoded.ok()) return static_cast<int16_t>(decoded.error());
  const BmpImage& image = decoded.value();

  TempOutput output;
  if (!output.Create(dest_path)) return SAVEJPG_ERR_CREATE_OUTPUT;
  BmpRowReader rows(image);
  FileSink sink(output.File());
  WriteJpeg(rows.Width(), rows.Height(), rows.Format(), RowsWithRelease(rows, input, image.header),
            OptionsFor(image, input.Bytes().size(), quality, progressive), sink);
  if (!output.Close()) return SAVEJPG_ERR_WRITE_OUTPUT;
  if (!output.RenameTo(dest_path)) return SAVEJPG_ERR_REPLACE_OUTPUT;
  return SAVEJPG_OK;
}

}  // namespace
}  // namespace savejpg

extern "C" SAVEJPG_API int16_t SavetoJPEG(char* source, char* dest, uint8_t quality,
                                          int16_t progressive) {
  try {
    return savejpg::Convert(source, dest, quality, progressive);
  } catch (const savejpg::JpegFailure& failure) {
    return failure.code();
  } catch (const std::bad_alloc&) {
    return SAVEJPG_ERR_OUT_OF_MEMORY;
  } catch (...) {
    return SAVEJPG_ERR_INTERNAL;
  }
}
