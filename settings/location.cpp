#include "settings/location.h"

#include "core/text.h"
#include "platform/conventions.h"
#include "platform/platform.h"

namespace morvane {
namespace {

constexpr std::u16string_view kFileName = u"Morvane.ini";
constexpr std::u16string_view kFolderName = u"Morvane";

std::u16string FileIn(std::u16string_view folder, std::u16string_view name = kFileName) {
  std::u16string path(folder);
  EndWithSeparator(path, kPathSeparator);
  path += name;
  return path;
}

std::u16string WithFolderName(std::u16string folder) {
  EndWithSeparator(folder, kPathSeparator);
  folder += kFolderName;
  return folder;
}

// An installed copy: the user's own file, read from the first system-wide
// one until it exists.
SettingsLocation InstalledLocation(const std::optional<std::u16string>& user_folder,
                                   const std::vector<std::u16string>& system_folders) {
  SettingsLocation location;
  if (user_folder) location = {FileIn(*user_folder), *user_folder, {}};
  if (user_folder && EntryExists(location.file)) return location;
  for (const std::u16string& folder : system_folders) {
    std::u16string defaults = FileIn(folder);
    if (EntryExists(defaults)) {
      location.defaults_file = std::move(defaults);
      break;
    }
  }
  return location;
}

}  // namespace

bool InstalledCopy(std::u16string_view program_folder) {
  return EntryExists(FileIn(program_folder, kInstalledMarkerName));
}

SettingsLocation LocateSettings(std::u16string_view program_folder,
                                const std::optional<std::u16string>& user_folder,
                                const std::vector<std::u16string>& system_folders) {
  if (InstalledCopy(program_folder)) return InstalledLocation(user_folder, system_folders);
  // A file beside a portable copy wins even where it cannot be written: the
  // settings it holds are the ones its user set up, and a failed Save says
  // so rather than silently keeping two files.
  std::u16string beside = FileIn(program_folder);
  if (!user_folder || EntryExists(beside) || FolderWritable(program_folder)) {
    return {std::move(beside), {}, {}};
  }
  return {FileIn(*user_folder), *user_folder, {}};
}

std::optional<std::u16string> UserSettingsFolder() {
  std::optional<std::u16string> folder = UserConfigFolder();
  if (!folder) return std::nullopt;
  return WithFolderName(std::move(*folder));
}

std::vector<std::u16string> SystemSettingsFolders() {
  std::vector<std::u16string> folders = SystemConfigFolders();
  for (std::u16string& folder : folders) folder = WithFolderName(std::move(folder));
  return folders;
}

SettingsLocation ProgramSettingsLocation() {
  return LocateSettings(ExecutableFolder(), UserSettingsFolder(), SystemSettingsFolders());
}

}  // namespace morvane
