#include "app/program.h"

#include "app/load_handler.h"
#include "encoder/encoder_binding.h"
#include "platform/platform.h"
#include "settings/settings.h"
#include "ui/form1.h"
#include "ui/view.h"

namespace morvane {

int RunProgram(int argc, const char* const* argv) {
  const std::unique_ptr<View> view = OpenView();
  Form1 form(*view);
  const StartUpParts parts{
      [](uint8_t& quality, int16_t& progressive) { return LoadSettings(quality, progressive); },
      [](std::u16string& source, std::u16string& dest, uint8_t quality, int16_t progressive) {
        return SavetoJPEG(source, dest, quality, progressive);
      }};
  const StartUpOutcome outcome = RunLoadHandler(form, CommandLineText(argc, argv), parts);
  if (outcome == StartUpOutcome::kShowWindow) return view->RunWindow(form);
  return ExitStatusOf(outcome);
}

}  // namespace morvane
