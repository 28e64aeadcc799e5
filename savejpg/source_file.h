// A bitmap file opened for reading, read a piece at a time with positioned
// reads, from several threads at once. A file that another program cuts
// short or rewrites while it is read gives a failed read, never a fault. Which implementation is
// built is chosen in CMakeLists.txt.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <span>

#include "bmp_reader.h"

namespace savejpg {

class SourceFile final : public BmpSource {
 public:
  SourceFile() = default;
  ~SourceFile() override;
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;

  // False when the file is missing, unreadable or not a regular file. Never
  // waits: a FIFO or a device is refused at once.
  [[nodiscard]] bool Open(const std::filesystem::path& path);

  uint64_t Size() const override { return size_; }
  [[nodiscard]] bool Read(uint64_t offset, std::span<uint8_t> out) override;

 private:
  uint64_t size_ = 0;
  // Each implementation uses one of the two.
  [[maybe_unused]] int fd_ = -1;                // where the system has positioned reads
  [[maybe_unused]] std::FILE* file_ = nullptr;  // elsewhere
  // Threads coding bands of one picture read at once; a seek and its read
  // go together.
  std::mutex seek_mutex_;
};

}  // namespace savejpg
