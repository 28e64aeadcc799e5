#include "settings/settings.h"

#include <cstddef>
#include <string>
#include <utility>

#include "core/resume_next.h"
#include "core/text.h"
#include "platform/platform.h"
#include "settings/conversion.h"
#include "settings/file_text.h"
#include "settings/profile.h"

namespace morvane {
namespace {

constexpr std::u16string_view kSection = u"Data";
constexpr uint8_t kDefaultQuality = 85;
// A settings file holds a few short lines. A larger one, or anything that is
// not a regular file (a FIFO, a link to /dev/zero), is unreadable: a batch
// reads defaults and Save leaves it alone, rather than hang or read without
// bound.
constexpr size_t kMaxFileBytes = 1 << 20;

// One key of the settings file: the width its value is padded to when
// written, and the most bytes of its value that are read back (one less than
// the read buffer of the original program), or 0 for no limit.
struct Field {
  std::u16string_view key;
  size_t width;
  size_t read_limit;
};

constexpr Field kRate{u"Rate", 50, 49};
constexpr Field kPrg{u"Prg", 5, 4};
// The folder is read and written whole: cut to the field, a long folder
// would silently name another folder.
constexpr Field kFolder{u"Folder", 50, 0};
constexpr Field kSet{u"Set", 2, 1};

// The longest start of `text` whose narrow form (as the file and the
// program's read buffer hold it) has at most `limit` bytes, cut only between
// whole characters so that no character is half read. A byte that is not
// UTF-8, carried as one unit, counts one.
std::u16string_view CutToBytes(std::u16string_view text, size_t limit) {
  size_t bytes = 0;
  size_t at = 0;
  while (at < text.size()) {
    const size_t units = UnitsOfCharacterAt(text, at);
    const size_t size = ToSystemText(text.substr(at, units)).size();
    if (bytes + size > limit) break;
    bytes += size;
    at += units;
  }
  return text.substr(0, at);
}

// The value as the original program's read buffer holds it: up to its
// first NUL and within the field's byte limit.
std::u16string ReadField(std::u16string_view content, const Field& field) {
  const std::u16string value = GetProfileString(content, kSection, field.key, u"");
  std::u16string_view text = value;
  text = text.substr(0, text.find(u'\0'));
  if (field.read_limit != 0) text = CutToBytes(text, field.read_limit);
  return std::u16string(text);
}

// `text` left-justified in the field, blank-padded. Only the folder can be
// longer than its field, and it is kept whole.
std::u16string Padded(std::u16string_view text, const Field& field) {
  std::u16string padded(text);
  if (padded.size() < field.width) padded.resize(field.width, u' ');
  return padded;
}

uint8_t QualityFrom(std::u16string_view rate) {
  // A Rate that does not convert is treated as a missing one, so that a
  // damaged file gives the usual quality rather than the lowest.
  return TextToByte(rate).value_or(kDefaultQuality);
}

int16_t ProgressiveFrom(std::u16string_view prg) {
  const std::optional<int16_t> progressive = TextToBoolean(prg);
  if (!progressive) throw StepFailure("Prg is not a boolean");
  return *progressive;
}

// Hands `store` the four keys and their blank-padded values in the order
// they are written; stops at the first it refuses. True when it took all.
template <class Store>
bool WriteFields(uint8_t quality, int16_t progressive, std::u16string_view folder,
                 bool option2_selected, Store store) {
  const std::pair<const Field&, std::u16string> values[] = {
      {kRate, Padded(DecimalText(quality), kRate)},
      {kPrg, Padded(progressive != 0 ? u"True" : u"False", kPrg)},
      {kFolder, Padded(folder, kFolder)},
      {kSet, Padded(option2_selected ? u"N" : u"Y", kSet)},
  };
  for (const auto& [field, value] : values) {
    if (!store(field.key, value)) return false;
  }
  return true;
}

}  // namespace

std::u16string SettingsFilePath() { return ProgramSettingsLocation().file; }

StoredSettings LoadSettingsFromContent(std::u16string_view file_content, uint8_t& quality,
                                       int16_t& progressive) {
  StoredSettings stored;
  RunStep([&] {
    StoredSettings read;
    read.Rate = ReadField(file_content, kRate);
    read.Prg = ReadField(file_content, kPrg);
    read.Folder = ReadField(file_content, kFolder);
    read.Set = ReadField(file_content, kSet);
    stored = std::move(read);
  });
  RunStep([&] { quality = QualityFrom(stored.Rate); });
  RunStep([&] { progressive = ProgressiveFrom(stored.Prg); });
  return stored;
}

StoredSettings LoadSettingsFrom(std::u16string_view settings_file, uint8_t& quality,
                                int16_t& progressive) {
  std::u16string content;
  RunStep([&] {
    content = FileText::Decode(ReadWholeFile(settings_file, kMaxFileBytes).bytes).text();
  });
  return LoadSettingsFromContent(content, quality, progressive);
}

StoredSettings LoadSettings(uint8_t& quality, int16_t& progressive) {
  // Without the executable's folder there is no file: every key reads as
  // missing.
  std::u16string settings_file;
  RunStep([&] { settings_file = ProgramSettingsLocation().FileToRead(); });
  return LoadSettingsFrom(settings_file, quality, progressive);
}

std::optional<std::u16string> SettingsFileContent(std::u16string_view file_content, uint8_t quality,
                                                  int16_t progressive, std::u16string_view folder,
                                                  bool option2_selected) {
  std::u16string content(file_content);
  const bool stored = WriteFields(quality, progressive, folder, option2_selected,
                                  [&](std::u16string_view key, std::u16string_view value) {
                                    std::optional<std::u16string> written =
                                        SetProfileString(content, kSection, key, value);
                                    if (written) content = std::move(*written);
                                    return written.has_value();
                                  });
  if (!stored) return std::nullopt;
  return content;
}

std::optional<std::string> SettingsFileBytes(std::string_view file_bytes, uint8_t quality,
                                             int16_t progressive, std::u16string_view folder,
                                             bool option2_selected) {
  // One key at a time, so that each write is one changed line or one place
  // where lines are added, and every other line keeps its bytes.
  FileText file = FileText::Decode(file_bytes);
  const bool stored = WriteFields(quality, progressive, folder, option2_selected,
                                  [&](std::u16string_view key, std::u16string_view value) {
                                    std::optional<std::u16string> written =
                                        SetProfileString(file.text(), kSection, key, value);
                                    if (written) file.SetText(std::move(*written));
                                    return written.has_value();
                                  });
  if (!stored) return std::nullopt;
  return file.Encode();
}

bool SaveSettingsTo(std::u16string_view settings_file, uint8_t quality, int16_t progressive,
                    std::u16string_view folder, bool option2_selected) {
  try {
    // A file that is there but cannot be read is never replaced: what it
    // holds would be lost. A missing one is created.
    const FileContent existing = ReadWholeFile(settings_file, kMaxFileBytes);
    if (existing.status == FileRead::kUnreadable) return false;
    const std::optional<std::string> bytes =
        SettingsFileBytes(existing.bytes, quality, progressive, folder, option2_selected);
    return bytes && ReplaceFileAtomically(settings_file, *bytes);
  } catch (const std::exception&) {
    // A lack of memory: nothing was written.
    return false;
  }
}

bool SaveSettingsAt(const SettingsLocation& location, uint8_t quality, int16_t progressive,
                    std::u16string_view folder, bool option2_selected) {
  // An installed copy whose user has no settings folder has nowhere to
  // write.
  if (location.file.empty()) return false;
  // The user's own folder is made on the first Save, never by a read.
  if (!location.user_folder.empty() && !CreateFolderWithParents(location.user_folder)) {
    return false;
  }
  return SaveSettingsTo(location.file, quality, progressive, folder, option2_selected);
}

bool SaveSettings(uint8_t quality, int16_t progressive, std::u16string_view folder,
                  bool option2_selected) {
  SettingsLocation location;
  try {
    location = ProgramSettingsLocation();
  } catch (const std::exception&) {
    return false;
  }
  return SaveSettingsAt(location, quality, progressive, folder, option2_selected);
}

}  // namespace morvane
