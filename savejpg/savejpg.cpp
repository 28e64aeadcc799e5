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
#include "jpeg_file.h"
#include "jpeg_writer.h"
#include "source_file.h"

namespace savejpg {
namespace {

namespace fs = std::filesystem;

fs::path PathFromUtf8(const char* text) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(text)));
}

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
      file_ = std::fopen(candidate.string().c_str(), "wbx");  // fails if it exists
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
    // A replaced JPEG keeps who may read it. File systems without
    // permission bits refuse the change; there it means nothing anyway.
    std::error_code ec;
    const fs::file_status old = fs::status(dest, ec);
    if (!ec && fs::is_regular_file(old))
      fs::permissions(path_, old.permissions() & fs::perms::all, ec);
    fs::rename(path_, dest, ec);
    if (ec) return false;
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

// Rows for libjpeg; a row the source no longer holds ends the conversion.
RowFunction RowsOrFailure(BmpRowReader& rows) {
  return [&rows](uint32_t top) {
    const uint8_t* row = rows.Row(top);
    if (row == nullptr)
      throw JpegFailure(SAVEJPG_BMP_PIXELS_TRUNCATED, "the bitmap was cut short while read");
    return row;
  };
}

int16_t Convert(const char* source, const char* dest, uint8_t quality, int16_t progressive) {
  if (source == nullptr || dest == nullptr || *source == '\0' || *dest == '\0')
    return SAVEJPG_ERR_ARGUMENT;
  const fs::path source_path = PathFromUtf8(source);
  const fs::path dest_path = PathFromUtf8(dest);
  if (SameFile(source_path, dest_path)) return SAVEJPG_ERR_SAME_FILE;

  SourceFile input;
  if (!input.Open(source_path)) return SAVEJPG_ERR_OPEN_SOURCE;
  const BmpResult<BmpImage> decoded = DecodeBmp(input);
  if (!decoded.ok()) return static_cast<int16_t>(decoded.error());
  return WriteJpegFile(decoded.value(), input, dest_path, quality, progressive);
}

}  // namespace

int16_t WriteJpegFile(const BmpImage& image, BmpSource& source, const fs::path& dest,
                      uint8_t quality, int16_t progressive) {
  TempOutput output;
  if (!output.Create(dest)) return SAVEJPG_ERR_CREATE_OUTPUT;
  BmpRowReader rows(image, source);
  FileSink sink(output.File());
  try {
    WriteJpeg(rows.Width(), rows.Height(), rows.Format(), RowsOrFailure(rows),
              OptionsFor(image, source.Size(), quality, progressive), sink);
  } catch (const JpegFailure& failure) {
    return failure.code();
  }
  if (!output.Close()) return SAVEJPG_ERR_WRITE_OUTPUT;
  if (!output.RenameTo(dest)) return SAVEJPG_ERR_REPLACE_OUTPUT;
  return SAVEJPG_OK;
}

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
