// The desktop view on Windows. Message boxes are the system's own; the
// settings window and the folder chooser are not made yet, so showing the
// window says so in a message box and ends the run.
#include <windows.h>

#include <string>

#include "ui/desktop_view.h"

namespace morvane {
namespace {

constexpr std::u16string_view kProgramTitle = u"Morvane";
constexpr std::u16string_view kNoWindowYet =
    u"設定ウィンドウはこの版にはまだありません。\r\n"
    u"変換するビットマップをコマンドラインで指定してください。";

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

class Win32View : public View {
 public:
  void ShowMessage(std::u16string_view text, std::u16string_view title, MessageIcon icon) override {
    const UINT style = MB_OK | (icon == MessageIcon::kError ? MB_ICONERROR : MB_ICONINFORMATION);
    ::MessageBoxW(nullptr, Wide(text).c_str(), Wide(title).c_str(), style);
  }

  int RunWindow(Form1&) override {
    ShowMessage(kNoWindowYet, kProgramTitle, MessageIcon::kError);
    return 1;
  }
};

}  // namespace

std::unique_ptr<View> LoadDesktopView() { return std::make_unique<Win32View>(); }

}  // namespace morvane
