// The contract between the program and its window module: the C entry point
// that makes its desktop view.
#pragma once

#include <string_view>

namespace morvane {

class View;

// The module lies in the program's folder under the name the platform gives
// it (kDesktopModuleFileName).

// extern "C" View* MorvaneCreateDesktopView(): starts the toolkit and gives
// a new desktop view, owned by the caller, or nullptr when no display can be
// used. The view resolves Form1's code from the program that loaded it.
inline constexpr char kCreateDesktopViewName[] = "MorvaneCreateDesktopView";
using CreateDesktopViewFunction = View* (*)();

}  // namespace morvane
