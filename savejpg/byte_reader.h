// A bounded little-endian reader over untrusted bytes. Every read checks what
// remains first; a read that does not fit returns false and leaves the
// position unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace savejpg {

class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  size_t Position() const { return pos_; }
  size_t Remaining() const { return bytes_.size() - pos_; }

  [[nodiscard]] bool Skip(size_t count) {
    if (count > Remaining()) return false;
    pos_ += count;
    return true;
  }

  [[nodiscard]] bool ReadU8(uint8_t& out) {
    if (Remaining() < 1) return false;
    out = bytes_[pos_++];
    return true;
  }

  [[nodiscard]] bool ReadU16(uint16_t& out) {
    if (Remaining() < 2) return false;
    out = static_cast<uint16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
    pos_ += 2;
    return true;
  }

  [[nodiscard]] bool ReadU32(uint32_t& out) {
    if (Remaining() < 4) return false;
    out = static_cast<uint32_t>(bytes_[pos_]) | (static_cast<uint32_t>(bytes_[pos_ + 1]) << 8) |
          (static_cast<uint32_t>(bytes_[pos_ + 2]) << 16) |
          (static_cast<uint32_t>(bytes_[pos_ + 3]) << 24);
    pos_ += 4;
    return true;
  }

  [[nodiscard]] bool ReadI32(int32_t& out) {
    uint32_t raw = 0;
    if (!ReadU32(raw)) return false;
    out = static_cast<int32_t>(raw);  // two's complement, defined in C++20
    return true;
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
};

}  // namespace savejpg
