// The desktop view from the window module, which the program opens from its
// own folder only when something must be shown.
#include "platform/conventions.h"
#include "platform/platform.h"
#include "ui/desktop_module.h"
#include "ui/desktop_view.h"
#include "ui/module_toolkit.h"
#include "ui/toolkit_view.h"

namespace morvane {

std::unique_ptr<View> LoadDesktopView() {
  if (!DisplayNamed()) return nullptr;
  void* module = OpenLibraryInProgramFolder(kDesktopModuleFileName);
  if (module == nullptr) return nullptr;
  const auto open = reinterpret_cast<MorvaneOpenDesktopToolkitFunction>(
      FindEntryPoint(module, kOpenDesktopToolkitName));
  MorvaneToolkit toolkit{};
  if (open == nullptr || open(&toolkit) == 0) return nullptr;
  // The module stays loaded until the process ends.
  return std::make_unique<ToolkitView>(MakeModuleToolkit(toolkit));
}

}  // namespace morvane
