// The view that shows Form1 on this system's desktop. Each system builds
// its own: on Linux it comes from the window module (Qt), opened from the
// program's folder; on Windows it is the Win32 view built into the program.
#pragma once

#include <memory>

#include "ui/view.h"

namespace morvane {

// The desktop view, or nullptr when none can be used (no display named, the
// window module or its entry point missing, no usable display). Called at
// most once per run, the first time something must be shown.
std::unique_ptr<View> LoadDesktopView();

}  // namespace morvane
