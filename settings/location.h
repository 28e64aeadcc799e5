// Where the settings file lies. A copy is installed when the file
// "Morvane.installed" lies beside the program (the Debian package, the
// Windows installer and `cmake --install` put it there); any other copy is
// portable (an unpacked zip, the build folder).
//
// An installed copy keeps every user's settings, root's and an
// administrator's included, in that user's own settings folder:
// "<config folder>/Morvane/Morvane.ini", with the config folder as
// UserConfigFolder gives it ($XDG_CONFIG_HOME or ~/.config on Linux,
// %APPDATA% on Windows); a Morvane.ini beside it is never read or written.
// Until a user has a file of their own, the first "Morvane/Morvane.ini"
// under SystemConfigFolders (/etc/xdg, C:\ProgramData) gives the settings
// read; it is never written.
//
// A portable copy keeps "Morvane.ini" beside it when one is there or its
// user can write into its folder, and otherwise the user's own file.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// The name of the entry that marks a copy as installed, beside the program.
inline constexpr std::u16string_view kInstalledMarkerName = u"Morvane.installed";

struct SettingsLocation {
  // The settings file that Save writes and start-up reads; empty when an
  // installed copy's user has no settings folder, which leaves nothing to
  // write.
  std::u16string file;
  // The folder that holds `file` when it is the user's own one, which Save
  // creates (with its missing parents) before it writes the file; empty
  // beside the program, whose folder is there.
  std::u16string user_folder;
  // The system-wide file that start-up reads in place of `file` while
  // `file` does not exist; empty when there is none.
  std::u16string defaults_file;

  const std::u16string& FileToRead() const { return defaults_file.empty() ? file : defaults_file; }
};

// The settings of a program in `program_folder`, by the rules above, with
// the user's own settings folder `user_folder` and the system's ones
// `system_folders` (each already ending in "Morvane"). Leaves nothing
// behind (on Windows the probe file of FolderWritable comes and goes).
SettingsLocation LocateSettings(std::u16string_view program_folder,
                                const std::optional<std::u16string>& user_folder,
                                const std::vector<std::u16string>& system_folders = {});

// True when the copy in `program_folder` is installed: an entry named
// kInstalledMarkerName lies there, whatever it is.
bool InstalledCopy(std::u16string_view program_folder);

// This user's own settings folder for the program: "Morvane" in the folder
// UserConfigFolder gives; nothing when the system names none.
std::optional<std::u16string> UserSettingsFolder();

// The system-wide settings folders: "Morvane" in each folder that
// SystemConfigFolders gives, in its order.
std::vector<std::u16string> SystemSettingsFolders();

// LocateSettings for the running program, from the executable's folder.
// Throws StepFailure when the executable's folder cannot be found.
SettingsLocation ProgramSettingsLocation();

}  // namespace morvane
