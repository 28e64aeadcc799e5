#include "settings/file_text.h"

#include <cstdint>

#include "platform/platform.h"

namespace morvane {

FileText DecodeFileText(std::string_view bytes) {
  FileText file;
  const std::string_view mark = bytes.substr(0, 2);
  if (mark == "\xFF\xFE") {
    file.encoding = FileEncoding::kUtf16LittleEndian;
  } else if (mark == "\xFE\xFF") {
    file.encoding = FileEncoding::kUtf16BigEndian;
  } else {
    file.text = FromSystemText(bytes);
    return file;
  }
  const bool big_endian = file.encoding == FileEncoding::kUtf16BigEndian;
  file.text.reserve(bytes.size() / 2);
  for (size_t at = 0; at + 1 < bytes.size(); at += 2) {
    const auto first = static_cast<uint8_t>(bytes[at]);
    const auto second = static_cast<uint8_t>(bytes[at + 1]);
    file.text.push_back(big_endian ? static_cast<char16_t>(first << 8 | second)
                                   : static_cast<char16_t>(second << 8 | first));
  }
  if (bytes.size() % 2 != 0) file.odd_byte.assign(1, bytes.back());
  return file;
}

std::string EncodeFileText(const FileText& file) {
  if (file.encoding == FileEncoding::kNarrow) return ToSystemText(file.text) + file.odd_byte;
  const bool big_endian = file.encoding == FileEncoding::kUtf16BigEndian;
  std::string bytes;
  bytes.reserve(file.text.size() * 2 + file.odd_byte.size());
  for (const char16_t unit : file.text) {
    const auto high = static_cast<char>(unit >> 8);
    const auto low = static_cast<char>(unit & 0xFF);
    bytes.push_back(big_endian ? high : low);
    bytes.push_back(big_endian ? low : high);
  }
  bytes += file.odd_byte;
  return bytes;
}

}  // namespace morvane
