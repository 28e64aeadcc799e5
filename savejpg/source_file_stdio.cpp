// SourceFile where there are no positioned reads: seek, then read. The file
// is opened as system_file.h opens it (through the wide API on Windows).
#include <algorithm>

#include "source_file.h"
#include "system_file.h"

namespace savejpg {

SourceFile::~SourceFile() {
  if (file_ != nullptr) std::fclose(file_);
}

bool SourceFile::Open(const std::filesystem::path& path) {
  file_ = OpenRegularFile(path);
  if (file_ == nullptr) return false;
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return false;
  size_ = size;
  return true;
}

bool SourceFile::Read(uint64_t offset, std::span<uint8_t> out) {
  if (offset > size_ || out.size() > size_ - offset) return false;
  const std::lock_guard lock(seek_mutex_);
  std::rewind(file_);
  // Seeks in steps that fit a long, for files past 2 GiB.
  for (uint64_t left = offset; left > 0;) {
    const long step = static_cast<long>(std::min<uint64_t>(left, 1u << 30));
    if (std::fseek(file_, step, SEEK_CUR) != 0) return false;
    left -= static_cast<uint64_t>(step);
  }
  return std::fread(out.data(), 1, out.size(), file_) == out.size();
}

}  // namespace savejpg
