#include "app/about.h"

#include "platform/conventions.h"
#include "platform/platform.h"
#include "settings/settings.h"

namespace morvane {
namespace {

std::u16string VersionText() { return u"Morvane " + FromSystemText(MORVANE_VERSION); }

std::u16string UsageText() {
  const std::u16string name(kProgramFileName);
  std::u16string settings_file;
  try {
    settings_file = SettingsFilePath();
  } catch (const std::exception&) {
    settings_file = u"Morvane.ini";
  }
  std::u16string help_switches = u"--help";
  if (!kSystemHelpSwitch.empty()) help_switches += u" | " + std::u16string(kSystemHelpSwitch);
  return VersionText() +
         u"\n"
         u"ビットマップ (BMP) ファイルを JPEG に変換します。\n"
         u"Converts bitmap (BMP) files to JPEG.\n"
         u"\n"
         u"  " +
         name +
         u"                  設定ウィンドウ / the settings window\n"
         u"  " +
         name +
         u" FILE.BMP ...     変換 / convert each bitmap\n"
         u"  " +
         name + u" " + help_switches +
         u" | --version\n"
         u"\n"
         u"名前 / Names:\n"
         u"  .BMP で終わる名前を変換します (大文字・小文字は問いません)。\n"
         u"  Names ending in .BMP, in any letter case, are converted.\n" +
         std::u16string(kHowNamesArrive) +
         u"\n"
         u"設定ファイル / Settings file:\n"
         u"  " +
         settings_file +
         u"\n"
         u"  プログラムのフォルダに Morvane.ini があるか、そこに書き込めるときはそこ、\n"
         u"  そうでなければユーザーの設定フォルダ (保存時に作成)。\n"
         u"  Beside the program when it has one there or its folder is writable,\n"
         u"  otherwise in the user's own settings folder (made on the first Save).\n"
         u"\n"
         u"終了状態 / Exit status:\n"
         u"  0 すべて変換 / all converted, 1 変換なし / none converted,\n"
         u"  2 一部を変換 / some converted\n";
}

}  // namespace

std::optional<std::u16string> AnswerAbout(std::u16string_view command_line) {
  if (command_line == u"--version") return VersionText() + u"\n";
  if (command_line == u"--help" ||
      (!kSystemHelpSwitch.empty() && command_line == kSystemHelpSwitch)) {
    return UsageText();
  }
  return std::nullopt;
}

}  // namespace morvane
