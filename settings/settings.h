// The program's settings file, "Morvane.ini" beside the executable or in the
// user's own settings folder (see location.h): reading it into the quality, the progressive flag
// and the stored texts at start-up, and writing it on Save. Section "Data" holds the keys Rate,
// Prg, Folder and Set as blank-padded fields (widths 50, 5, 50, 2). The file is the system's narrow
// text (the ANSI code page on Windows, UTF-8 on Linux), or UTF-8 or UTF-16 when it starts with
// that byte-order mark. Save writes only the key lines it owns, in the file's own encoding, and
// keeps every other line byte for byte (see file_text.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "settings/location.h"

namespace morvane {

// The four texts of the settings file as read. A `Set` text of exactly "Y"
// selects the rule that puts every JPEG file into the `Folder` folder.
struct StoredSettings {
  std::u16string Rate, Prg, Folder, Set;
};

// The running program's settings file, the one Save writes,
// ProgramSettingsLocation().file (see location.h): for a portable copy
// "<folder of the executable>/Morvane.ini" (the system's separator: "\" on
// Windows, a single one when the folder is the root), or the file in the
// user's own settings folder when the program's folder holds none and this
// user cannot write into it; for an installed copy always the user's own
// file (empty when the system names no folder for it). Throws StepFailure
// when the executable's folder cannot be found.
std::u16string SettingsFilePath();

// Reads the settings file of ProgramSettingsLocation(), FileToRead(): the
// file at SettingsFilePath(), or the system-wide one while an installed
// copy's user has none of their own. A missing file, section or
// key reads as the empty text, and so does every key of an unreadable file:
// one that cannot be read, is not a regular file, or holds more than 1 MiB. Sets `quality` to the
// Rate converted by TextToByte, or to 85 when Rate is empty or does not convert; sets `progressive`
// to Prg converted by TextToBoolean, or leaves it as it was when Prg does not convert. Rate is read
// as at most 49 bytes, Prg 4 and Set 1 (cut before a character that would not fit whole); Folder is
// read whole. Result: the four texts as read. Never throws: each step that fails is abandoned and
// the next one runs.
StoredSettings LoadSettings(uint8_t& quality, int16_t& progressive);

// As LoadSettings, with the settings file at `settings_file`.
StoredSettings LoadSettingsFrom(std::u16string_view settings_file, uint8_t& quality,
                                int16_t& progressive);

// As LoadSettings, with the settings file's text already read and decoded
// (FileText::Decode).
StoredSettings LoadSettingsFromContent(std::u16string_view file_content, uint8_t& quality,
                                       int16_t& progressive);

// Writes the four keys of section "Data", in the order Rate, Prg, Folder,
// Set, into the settings file at ProgramSettingsLocation() (see
// SaveSettingsAt), keeping every other line
// of the file: Rate the decimal digits of `quality`, Prg "True" when
// `progressive` is non-zero and "False" otherwise, Folder `folder` whole
// (never cut), Set "N" when `option2_selected` and "Y" otherwise, each
// blank-padded to its width. The file is replaced in one atomic step; a
// missing file is created, an unreadable one (as for LoadSettings) is never
// replaced.
// Result: false when the file could not be written (it is then unchanged),
// when it is unreadable, or when `folder` is a text the file cannot hold:
// one with a line break, or one its encoding cannot hold exactly (on
// Windows a character the ANSI code page lacks, such as "ö" or Korean on
// code page 932), which is never written as a look-alike.
[[nodiscard]] bool SaveSettings(uint8_t quality, int16_t progressive, std::u16string_view folder,
                                bool option2_selected);

// As SaveSettings, with the settings file where `location` says (its
// `file`; never its `defaults_file`). A user folder that is missing is
// created first, with its missing parents; when it cannot be, or when
// `location` names no file, nothing is written and the result is false.
[[nodiscard]] bool SaveSettingsAt(const SettingsLocation& location, uint8_t quality,
                                  int16_t progressive, std::u16string_view folder,
                                  bool option2_selected);

// As SaveSettings, with the settings file at `settings_file`.
[[nodiscard]] bool SaveSettingsTo(std::u16string_view settings_file, uint8_t quality,
                                  int16_t progressive, std::u16string_view folder,
                                  bool option2_selected);

// The settings file's content after SaveSettings writes into
// `file_content`; nothing when `folder` holds a line break.
std::optional<std::u16string> SettingsFileContent(std::u16string_view file_content, uint8_t quality,
                                                  int16_t progressive, std::u16string_view folder,
                                                  bool option2_selected);

// The bytes SaveSettings writes over a file holding `file_bytes` (empty for
// a missing file): the four key lines written in the file's encoding, every
// other line as it was. Nothing when `folder` is a text the file cannot hold
// (see SaveSettings).
std::optional<std::string> SettingsFileBytes(std::string_view file_bytes, uint8_t quality,
                                             int16_t progressive, std::u16string_view folder,
                                             bool option2_selected);

}  // namespace morvane
