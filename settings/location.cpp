#include "settings/location.h"

#include "core/text.h"
#include "platform/conventions.h"
#include "platform/platform.h"

namespace morvane {
namespace {

constexpr std::u16string_view kFileName = u"Morvane.ini";
constexpr std::u16string_view kFolderName = u"Morvane";

std::u16string FileIn(std::u16string_view folder) {
  std::u16string path(folder);
  EndWithSeparator(path, kPathSeparator);
  path += kFileName;
  return path;
}

}  // namespace

SettingsLocation LocateSettings(std::u16string_view program_folder,
                                const std::optional<std::u16string>& user_folder) {
  // A file beside the program wins even where it cannot be written: the
  // settings it holds are the ones its user set up, and a failed Save says
  // so rather than silently keeping two files.
  std::u16string beside = FileIn(program_folder);
  if (!user_folder || EntryExists(beside) || FolderWritable(program_folder)) {
    return {std::move(beside), {}};
  }
  return {FileIn(*user_folder), *user_folder};
}

std::optional<std::u16string> UserSettingsFolder() {
  std::optional<std::u16string> folder = UserConfigFolder();
  if (!folder) return std::nullopt;
  EndWithSeparator(*folder, kPathSeparator);
  *folder += kFolderName;
  return folder;
}

SettingsLocation ProgramSettingsLocation() {
  return LocateSettings(ExecutableFolder(), UserSettingsFolder());
}

}  // namespace morvane
