// The program's side of the window module's C interface (desktop_module.h):
// its toolkit as a WindowToolkit, the user's actions and a batch's progress
// handed to it as C functions that catch whatever their C++ code throws.
#pragma once

#include <memory>

#include "ui/desktop_module.h"
#include "ui/window_toolkit.h"

namespace morvane {

// Takes over `toolkit` (destroying it when it goes).
std::unique_ptr<WindowToolkit> MakeModuleToolkit(const MorvaneToolkit& toolkit);

}  // namespace morvane
