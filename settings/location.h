// Where the settings file lies. A program in a folder its user may write (a
// copy of their own, the build folder) keeps "Morvane.ini" beside it, and so
// does any program that already has one there. A program installed for every
// user, in a folder its user cannot write, keeps the file in the user's own
// settings folder instead: "<config folder>/Morvane/Morvane.ini", with the
// config folder as UserConfigFolder gives it ($XDG_CONFIG_HOME or
// ~/.config on Linux, %APPDATA% on Windows).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace morvane {

struct SettingsLocation {
  std::u16string file;
  // The folder that holds `file` when it is the user's own one, which Save
  // creates (with its missing parents) before it writes the file; empty
  // beside the program, whose folder is there.
  std::u16string user_folder;
};

// The settings file of a program in `program_folder`: "Morvane.ini" beside
// it when an entry of that name exists there (whatever it is, and even when
// it cannot be written) or when this user can write into `program_folder`;
// otherwise "Morvane.ini" in `user_folder`, or beside the program when there
// is no user folder. Leaves nothing behind (on Windows the probe file of
// FolderWritable comes and goes).
SettingsLocation LocateSettings(std::u16string_view program_folder,
                                const std::optional<std::u16string>& user_folder);

// This user's own settings folder for the program: "Morvane" in the folder
// UserConfigFolder gives; nothing when the system names none.
std::optional<std::u16string> UserSettingsFolder();

// LocateSettings for the running program, from the executable's folder.
// Throws StepFailure when the executable's folder cannot be found.
SettingsLocation ProgramSettingsLocation();

}  // namespace morvane
