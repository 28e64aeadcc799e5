#include "settings/file_text.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "platform/platform.h"

namespace morvane {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// Where the line starting at `begin` ends: past its LF, or at the end of the
// text. Its line end starts at `text_end`: at the LF, one before it when a CR
// precedes it, and before a CR that ends the text.
template <class Char>
void FindLineEnd(std::basic_string_view<Char> text, size_t begin, size_t& text_end, size_t& end) {
  const size_t feed = text.find(Char('\n'), begin);
  end = feed == std::basic_string_view<Char>::npos ? text.size() : feed + 1;
  text_end = feed == std::basic_string_view<Char>::npos ? text.size() : feed;
  if (text_end > begin && text[text_end - 1] == Char('\r')) --text_end;
}

std::u16string Utf16Units(std::string_view bytes, bool big_endian) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (size_t at = 0; at + 1 < bytes.size(); at += 2) {
    const auto first = static_cast<uint8_t>(bytes[at]);
    const auto second = static_cast<uint8_t>(bytes[at + 1]);
    units.push_back(big_endian ? static_cast<char16_t>(first << 8 | second)
                               : static_cast<char16_t>(second << 8 | first));
  }
  return units;
}

std::string Utf16Bytes(std::u16string_view units, bool big_endian) {
  std::string bytes;
  bytes.reserve(units.size() * 2);
  for (const char16_t unit : units) {
    const auto high = static_cast<char>(unit >> 8);
    const auto low = static_cast<char>(unit & 0xFF);
    bytes.push_back(big_endian ? high : low);
    bytes.push_back(big_endian ? low : high);
  }
  return bytes;
}

}  // namespace

FileText FileText::Decode(std::string_view bytes) {
  FileText file;
  const std::string_view mark = bytes.substr(0, 2);
  if (mark == "\xFF\xFE" || mark == "\xFE\xFF") {
    // UTF-16 text is its units: every line encodes back to the bytes it
    // was read from.
    const bool big_endian = mark == "\xFE\xFF";
    file.encoding_ = big_endian ? FileEncoding::kUtf16BigEndian : FileEncoding::kUtf16LittleEndian;
    file.text_ = Utf16Units(bytes, big_endian);
    if (bytes.size() % 2 != 0) file.odd_byte_.assign(1, bytes.back());
    file.lines_ = SplitLines(file.text_);
    return file;
  }
  const bool utf8 = bytes.substr(0, kUtf8Mark.size()) == kUtf8Mark;
  file.encoding_ = utf8 ? FileEncoding::kUtf8 : FileEncoding::kNarrow;
  // Line by line, so that a character the decoder cannot make out never
  // takes the line end with it, and each line knows its bytes.
  for (size_t begin = 0; begin < bytes.size();) {
    Line line;
    size_t text_end = 0;
    size_t end = 0;
    FindLineEnd(bytes, begin, text_end, end);
    const std::string_view content = bytes.substr(begin, text_end - begin);
    line.begin = file.text_.size();
    file.text_ += utf8 ? FromUtf8(content) : FromSystemText(content);
    line.text_end = file.text_.size();
    file.text_.append(bytes.begin() + text_end, bytes.begin() + end);  // CR and LF
    line.end = file.text_.size();
    line.bytes.emplace(content);
    file.lines_.push_back(std::move(line));
    begin = end;
  }
  return file;
}

std::vector<FileText::Line> FileText::SplitLines(std::u16string_view text) {
  std::vector<Line> lines;
  for (size_t begin = 0; begin < text.size();) {
    Line line;
    line.begin = begin;
    FindLineEnd(text, begin, line.text_end, line.end);
    begin = line.end;
    lines.push_back(std::move(line));
  }
  return lines;
}

std::u16string_view FileText::TextOf(const Line& line) const {
  return std::u16string_view(text_).substr(line.begin, line.text_end - line.begin);
}

void FileText::SetText(std::u16string text) {
  std::vector<Line> lines = SplitLines(text);
  auto same = [&](const Line& old_line, const Line& new_line) {
    return TextOf(old_line) ==
           std::u16string_view(text).substr(new_line.begin, new_line.text_end - new_line.begin);
  };
  const size_t most = std::min(lines.size(), lines_.size());
  size_t kept_start = 0;
  while (kept_start < most && same(lines_[kept_start], lines[kept_start])) {
    lines[kept_start].bytes = std::move(lines_[kept_start].bytes);
    ++kept_start;
  }
  for (size_t kept_end = 1; kept_start + kept_end <= most; ++kept_end) {
    Line& old_line = lines_[lines_.size() - kept_end];
    Line& new_line = lines[lines.size() - kept_end];
    if (!same(old_line, new_line)) break;
    new_line.bytes = std::move(old_line.bytes);
  }
  text_ = std::move(text);
  lines_ = std::move(lines);
}

std::optional<std::string> FileText::EncodeText(std::u16string_view text) const {
  switch (encoding_) {
    case FileEncoding::kNarrow:
      return ToSystemTextExactly(text);
    case FileEncoding::kUtf8:
      return ToUtf8Exactly(text);
    case FileEncoding::kUtf16LittleEndian:
    case FileEncoding::kUtf16BigEndian:
      return Utf16Bytes(text, encoding_ == FileEncoding::kUtf16BigEndian);
  }
  return std::nullopt;
}

std::optional<std::string> FileText::Encode() const {
  std::string bytes;
  for (const Line& line : lines_) {
    std::optional<std::string> text = line.bytes;
    if (!text) text = EncodeText(TextOf(line));
    const std::optional<std::string> line_end =
        EncodeText(std::u16string_view(text_).substr(line.text_end, line.end - line.text_end));
    if (!text || !line_end) return std::nullopt;
    bytes += *text;
    bytes += *line_end;
  }
  bytes += odd_byte_;
  return bytes;
}

}  // namespace morvane
