#include "app/about.h"

#include "app/about_system.h"
#include "platform/conventions.h"
#include "platform/platform.h"
#include "settings/settings.h"

namespace morvane {
namespace {

std::u16string VersionText() { return u"Morvane " + FromSystemText(MORVANE_VERSION); }

// The settings file this run uses, and the rule of this kind of copy.
std::u16string SettingsLines(const SystemUsage& usage) {
  SettingsLocation location{u"Morvane.ini", {}, {}};
  bool installed = false;
  try {
    location = ProgramSettingsLocation();
    installed = InstalledCopy(ExecutableFolder());
  } catch (const std::exception&) {
    // Without the executable's folder the usage names the file alone.
  }
  std::u16string lines = u"  " + (location.file.empty() ? u"(なし / none)" : location.file) + u"\n";
  if (!location.defaults_file.empty()) {
    lines += u"  (それまでは / until then: " + location.defaults_file + u")\n";
  }
  return lines + std::u16string(installed ? usage.installed_settings : usage.portable_settings);
}

std::u16string UsageText() {
  const SystemUsage& usage = ThisSystemsUsage();
  const std::u16string name(kProgramFileName);
  std::u16string help_switches = u"--help";
  if (!kSystemHelpSwitch.empty()) help_switches += u" | " + std::u16string(kSystemHelpSwitch);
  std::u16string text = u"Usage: " + name + u" [FILE.BMP]...\n";
  text += u"  or:  " + name + u" " + help_switches + u" | --version\n\n";
  text += VersionText() + u"\n";
  text +=
      u"ビットマップ (BMP) ファイルを JPEG に変換します。\n"
      u"名前がなければ設定ウィンドウを開きます。\n"
      u"Converts bitmap (BMP) files to JPEG. Without names, opens the settings window.\n"
      u"\n"
      u"名前 / Names:\n";
  text += usage.names;
  text +=
      u"\n"
      u"オプション / Options:\n"
      u"  --help             この説明 / this help\n"
      u"  --version          バージョン / the version\n"
      u"  (コマンドライン全体がそれだけのときに限る / only as the whole command line)\n"
      u"\n"
      u"環境変数 / Environment:\n"
      u"  MORVANE_WORKERS=N  使うスレッドの数: 同時に変換する数と、大きな 1 枚を\n"
      u"                     分けて変換する数の合計 (1: 1 スレッド。未設定: コアの数)\n"
      u"                     threads in all, bitmaps at once and a lone large\n"
      u"                     bitmap's bands alike (1: one thread; unset: one per core)\n";
  text += usage.environment;
  text += u"\n設定ファイル / Settings file:\n" + SettingsLines(usage);
  text +=
      u"\n"
      u"終了状態 / Exit status:\n"
      u"  0 すべて変換 / all converted, 1 変換なし / none converted,\n"
      u"  2 一部を変換 / some converted\n"
      u"  変換できなかった名前は理由とともに標準エラーに出ます。\n"
      u"  Each name not converted is named on standard error with its reason.\n"
      u"\n";
  return text + std::u16string(usage.see_also);
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
