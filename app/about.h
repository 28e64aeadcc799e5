// What the program says about itself when that is all its command line asks:
// "--help" (and on Windows "/?") for its usage, "--version" for its version.
// Any other command line, one that holds more than the switch included, is
// a batch as always.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace morvane {

// The answer to `command_line` (the whole text after the program's name),
// lines ending in LF; nothing when it asks no such question. The usage
// names the settings file that this run would use (SettingsFilePath).
std::optional<std::u16string> AnswerAbout(std::u16string_view command_line);

}  // namespace morvane
