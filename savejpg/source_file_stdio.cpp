// SourceFile where there are no positioned reads: seek, then read.
#include <algorithm>

#include "source_file.h"

namespace savejpg {

SourceFile::~SourceFile() {
  if (file_ != nullptr) std::fclose(file_);
}

bool SourceFile::Open(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return false;
  file_ = std::fopen(path.string().c_str(), "rb");
  if (file_ == nullptr) return false;
  size_ = size;
  return true;
}

bool SourceFile::Read(uint64_t offset, std::span<uint8_t> out) {
  if (offset > size_ || out.size() > size_ - offset) return false;
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
