// TempOutput where there are no POSIX descriptors: a named file made and
// renamed as system_file.h does it (through the wide API on Windows). Such
// systems have no stop signals to guard against.
#include <cerrno>
#include <chrono>
#include <random>

#include "savejpg.h"
#include "system_file.h"
#include "temp_output.h"

namespace savejpg {
namespace {

namespace fs = std::filesystem;

unsigned RandomSeed() {
  try {
    return std::random_device{}();
  } catch (...) {  // no entropy source: the clock will do for a file name
    return static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
  }
}

}  // namespace

TempOutput::~TempOutput() {
  if (file_ != nullptr) std::fclose(file_);
  if (!path_.empty()) {
    std::error_code ec;
    fs::remove(path_, ec);
  }
}

bool TempOutput::Create(const fs::path& dest) { return CreateNamed(dest); }

bool TempOutput::CreateNamed(const fs::path& dest) {
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

void TempOutput::Write(const uint8_t* data, size_t size) {
  if (size != 0 && std::fwrite(data, 1, size, file_) != size)
    throw JpegFailure(SAVEJPG_ERR_WRITE_OUTPUT, "cannot write the JPEG file");
}

int16_t TempOutput::Replace(const fs::path& dest) {
  const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!flushed || !closed) return SAVEJPG_ERR_WRITE_OUTPUT;
  // A replaced JPEG keeps who may read it.
  if (!RenameOver(path_, dest)) return SAVEJPG_ERR_REPLACE_OUTPUT;
  path_.clear();
  return SAVEJPG_OK;
}

}  // namespace savejpg
