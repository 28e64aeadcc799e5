#include "app/program.h"

#include <cstdlib>
#include <string>

#include "app/about.h"
#include "app/load_handler.h"
#include "encoder/encoder_binding.h"
#include "platform/platform.h"
#include "settings/settings.h"
#include "ui/answer.h"
#include "ui/form1.h"
#include "ui/view.h"

namespace morvane {
namespace {

// MORVANE_WORKERS=N holds the encoder calls to N threads in all, calls side
// by side and the threads of each (1: one call after the other, each on one
// thread), for tests and comparisons; otherwise 0, one per core.
unsigned WorkersFromEnvironment() {
  const char* text = std::getenv("MORVANE_WORKERS");
  if (text == nullptr) return 0;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (end == text || *end != '\0' || value > 1024) return 0;
  return static_cast<unsigned>(value);
}

}  // namespace

int RunProgram(int argc, const char* const* argv) {
  const CommandLine command_line = ProcessCommandLine(argc, argv);
  if (const std::optional<std::u16string> answer = AnswerAbout(CommandLineText(command_line))) {
    ShowAnswer(*answer);
    return 0;
  }
  const std::unique_ptr<View> view = OpenView();
  Form1 form(*view);
  StartUpParts parts;
  parts.load_settings = [](uint8_t& quality, int16_t& progressive) {
    return LoadSettings(quality, progressive);
  };
  parts.convert = [](std::u16string& source, std::u16string& dest, uint8_t quality,
                     int16_t progressive, unsigned threads) {
    return SavetoJPEG(source, dest, quality, progressive, threads);
  };
  parts.workers = WorkersFromEnvironment();
  parts.report_not_converted = [](std::u16string_view lines) { WriteToStandardError(lines); };
  const StartUpOutcome outcome = RunLoadHandler(form, command_line, parts);
  if (outcome == StartUpOutcome::kShowWindow) return view->RunWindow(form);
  return ExitStatusOf(outcome);
}

}  // namespace morvane
