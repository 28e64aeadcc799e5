#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "ui/view.h"

namespace morvane {
namespace {

// Message boxes break lines with CR LF; a terminal wants LF.
std::string ForConsole(std::u16string_view text) {
  std::string out = ToSystemText(text);
  std::string::size_type pos = 0;
  while ((pos = out.find("\r\n", pos)) != std::string::npos) out.erase(pos, 1);
  return out;
}

class ConsoleView : public View {
 public:
  void ShowMessage(std::u16string_view text, std::u16string_view title, MessageIcon icon) override {
    std::FILE* out = icon == MessageIcon::kError ? stderr : stdout;
    const std::string message = ForConsole(title) + '\n' + ForConsole(text) + '\n';
    std::fwrite(message.data(), 1, message.size(), out);
    std::fflush(out);
  }

  int RunWindow(Form1&) override {
    std::fputs(
        "morvane: the settings window cannot be shown without a display.\n"
        "Give bitmap paths on the command line to convert them.\n",
        stderr);
    return 1;
  }
};

}  // namespace

std::unique_ptr<View> MakeConsoleView() { return std::make_unique<ConsoleView>(); }

}  // namespace morvane
