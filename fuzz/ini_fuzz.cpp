// Fuzz target for the settings file: the bytes are a settings file. Checks
// that its text gives back the same bytes, reads the settings from it,
// converts every value it holds, writes the settings into it and checks that
// what was written reads back and that every line not written kept its
// bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "settings/conversion.h"
#include "settings/file_text.h"
#include "settings/profile.h"
#include "settings/settings.h"

namespace {

using morvane::GetProfileString;
using morvane::SetProfileString;

void Check(bool holds) {
  if (!holds) std::abort();
}

// The value as the reader gives it back: without surrounding blanks and
// tabs, then without one pair of matching quotes.
std::u16string_view AsRead(std::u16string_view value) {
  while (!value.empty() && (value.front() == u' ' || value.front() == u'\t'))
    value.remove_prefix(1);
  while (!value.empty() && (value.back() == u' ' || value.back() == u'\t')) value.remove_suffix(1);
  if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

// Writes `value` under `section` and `key` and checks that it reads back and
// that writing it again changes nothing.
void CheckWriteReadsBack(std::u16string_view content, std::u16string_view section,
                         std::u16string_view key, std::u16string_view value) {
  const std::optional<std::u16string> written = SetProfileString(content, section, key, value);
  if (!written) return;
  Check(GetProfileString(*written, section, key, u"\u0001missing") == AsRead(value));
  Check(SetProfileString(*written, section, key, value) == written);
}

// The lines of a narrow or UTF-8 file, without their line ends (LF, and a
// CR before it or ending the file), each with how often it occurs.
std::map<std::string_view, size_t> LinesOf(std::string_view bytes) {
  std::map<std::string_view, size_t> lines;
  for (size_t begin = 0; begin < bytes.size();) {
    const size_t feed = bytes.find('\n', begin);
    const size_t end = feed == std::string_view::npos ? bytes.size() : feed + 1;
    size_t text_end = feed == std::string_view::npos ? bytes.size() : feed;
    if (text_end > begin && bytes[text_end - 1] == '\r') --text_end;
    ++lines[bytes.substr(begin, text_end - begin)];
    begin = end;
  }
  return lines;
}

// Every line of `before` but the four key lines that Save owns is in
// `after` byte for byte.
void CheckOtherLinesKept(std::string_view before, std::string_view after) {
  std::map<std::string_view, size_t> left = LinesOf(after);
  size_t replaced = 0;
  for (const auto& [line, count] : LinesOf(before)) {
    size_t& there = left[line];
    const size_t kept = count < there ? count : there;
    there -= kept;
    replaced += count - kept;
  }
  Check(replaced <= 4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const morvane::FileText file = morvane::FileText::Decode(bytes);
  Check(file.Encode() == bytes);
  const std::u16string& content = file.text();

  uint8_t quality = 0;
  int16_t progressive = 0;
  const morvane::StoredSettings stored =
      morvane::LoadSettingsFromContent(content, quality, progressive);
  for (const std::u16string* text : {&stored.Rate, &stored.Prg, &stored.Folder, &stored.Set}) {
    (void)morvane::TextToByte(*text);
    (void)morvane::TextToBoolean(*text);
  }
  // The whole input as a value too, so the conversions see long texts.
  (void)morvane::TextToByte(content);
  (void)morvane::TextToBoolean(content);

  const std::optional<std::u16string> saved = morvane::SettingsFileContent(
      content, quality, progressive, stored.Folder, stored.Set == u"N");
  if (saved) {
    uint8_t quality_again = 0;
    int16_t progressive_again = 0;
    const morvane::StoredSettings again =
        morvane::LoadSettingsFromContent(*saved, quality_again, progressive_again);
    Check(quality_again == quality);
    Check(again.Folder == AsRead(stored.Folder));
    // The written file, in the input's encoding, reads as it was written,
    // and keeps the bytes of every line it does not own. A folder read from
    // the file is one the file can hold.
    const std::optional<std::string> written =
        morvane::SettingsFileBytes(bytes, quality, progressive, stored.Folder, stored.Set == u"N");
    Check(written.has_value());
    Check(morvane::FileText::Decode(*written).text() == *saved);
    if (file.encoding() == morvane::FileEncoding::kNarrow ||
        file.encoding() == morvane::FileEncoding::kUtf8) {
      CheckOtherLinesKept(bytes, *written);
    }
  }

  // The input's first line chooses a section, key and value of its own.
  const std::u16string_view first_line =
      std::u16string_view(content).substr(0, content.find(u'\n'));
  const size_t cut1 = first_line.size() / 3;
  const size_t cut2 = 2 * first_line.size() / 3;
  CheckWriteReadsBack(content, first_line.substr(0, cut1), first_line.substr(cut1, cut2 - cut1),
                      first_line.substr(cut2));
  CheckWriteReadsBack(content, u"Data", u"Folder", first_line);
  return 0;
}
