// A whole file, read-only, as bytes. Which implementation is built is chosen
// in CMakeLists.txt: memory mapping where the system has it, reading the
// file into memory elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace savejpg {

class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // False when the file is missing, unreadable or not a regular file.
  [[nodiscard]] bool Open(const std::filesystem::path& path);

  std::span<const uint8_t> Bytes() const { return {data_, size_}; }

  // A hint that bytes [offset, offset + length) will not be read again, so
  // their memory can be given back; they stay readable.
  void Release(uint64_t offset, uint64_t length);

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  void* mapping_ = nullptr;    // set when the bytes are mapped
  std::vector<uint8_t> copy_;  // used when they are read instead
};

}  // namespace savejpg
