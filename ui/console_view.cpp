#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "ui/view.h"

namespace morvane {
namespace {

constexpr std::u16string_view kConvertingLabel = u"変換中 ";
constexpr std::chrono::milliseconds kProgressLinePeriod{100};

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

  void WaitForBatch(BatchProgress& progress) override {
    if (!StandardErrorIsTerminal() ||
        progress.WaitUntil(progress.started() + kBatchProgressDelay)) {
      progress.Wait();
      return;
    }
    const std::string label = ToSystemText(kConvertingLabel);
    const std::string total = std::to_string(progress.total());
    size_t widest = 0;
    size_t shown = 0;
    bool any_shown = false;
    do {
      const size_t done = progress.done();
      if (!any_shown || done != shown) {
        const std::string line = label + std::to_string(done) + "/" + total;
        // Each character takes at most one column per byte, so blanking as
        // many columns as the widest line had bytes clears it.
        widest = std::max(widest, line.size());
        std::fputc('\r', stderr);
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
        shown = done;
        any_shown = true;
      }
    } while (!progress.WaitUntil(BatchProgress::Clock::now() + kProgressLinePeriod));
    std::fputc('\r', stderr);
    std::fputs(std::string(widest, ' ').c_str(), stderr);
    std::fputc('\r', stderr);
    std::fflush(stderr);
  }
};

}  // namespace

std::unique_ptr<View> MakeConsoleView() { return std::make_unique<ConsoleView>(); }

}  // namespace morvane
