// MappedFile where there is no mmap: the file is read into memory.
#include <fstream>

#include "mapped_file.h"

namespace savejpg {

MappedFile::~MappedFile() = default;

bool MappedFile::Open(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  copy_.resize(static_cast<size_t>(size));
  if (size > 0 &&
      !in.read(reinterpret_cast<char*>(copy_.data()), static_cast<std::streamsize>(size)))
    return false;
  data_ = copy_.data();
  size_ = copy_.size();
  return true;
}

void MappedFile::Release(uint64_t, uint64_t) {}

}  // namespace savejpg
