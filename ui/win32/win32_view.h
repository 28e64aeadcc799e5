// The desktop view of Form1 on Windows, built into the program: the Win32
// toolkit (the settings window made of real child controls from the layout
// table, the system's message boxes and folder chooser) under the view that
// is alike on every toolkit.
#pragma once

#include <windows.h>

#include <string_view>

#include "ui/form1.h"
#include "ui/toolkit_view.h"

namespace morvane {

// The control id of a child window: IDOK for the default button (Enter),
// IDCANCEL for the cancel button (Esc), 100 plus the row in kForm1Controls
// for the others; 0 for a name the table does not hold.
int ControlIdOf(std::string_view name);

// Twips to pixels at `dpi` dots per inch.
int PixelsFromTwips(int twips, int dpi);

class Win32Toolkit;

// The desktop view on Windows: the view alike on every toolkit
// (toolkit_view.h) with real Win32 child controls, the system's message
// boxes and folder chooser, and, once a batch has run kBatchProgressDelay,
// a window titled "変換中" with the count on a msctls_progress32 bar and in a
// STATIC ("12 / 200"), and a キャンセル button (IDCANCEL: Esc and the close
// box too) that asks the batch to start no more calls.
class Win32View : public ToolkitView {
 public:
  Win32View();

  // The window of `form`, made hidden the first time.
  HWND WindowFor(Form1& form);
  // Shows the window of `form` with the focus on Command3; RunWindow then
  // runs the message loop until the program ends.
  HWND ShowWindow(Form1& form);
  // The window, or nullptr before it is made.
  HWND window() const;
};

}  // namespace morvane
