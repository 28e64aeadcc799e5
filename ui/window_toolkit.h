// The settings window on a toolkit: what the desktop view asks of its
// toolkit's widgets, and what the widgets tell of the user's actions, in
// plain values. A control is named by its row in kForm1Controls (which is
// also its place in Form1::controls()). ToolkitView (toolkit_view.h) does
// all the rest, alike for every toolkit: which handler an action runs and
// when, and which widget state mirrors which property of a control.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/batch_progress.h"
#include "ui/view.h"

namespace morvane {

// The user's actions on the window, as its widgets report them.
class WindowActions {
 public:
  // A push button pressed (by mouse, key or access key), or the text box
  // clicked with the left button.
  virtual void Clicked(int control) = 0;
  // A check box clicked, with the state it shows now: 0 unchecked, 1
  // checked, 2 grayed.
  virtual void CheckClicked(int control, int state) = 0;
  // An option button that the user has just selected.
  virtual void OptionSelected(int control) = 0;
  // The text box's text, changed by the user.
  virtual void TextEdited(int control, std::u16string_view text) = 0;
  // The slider at a position the user moved it to.
  virtual void SliderMoved(int control, int position) = 0;
  // Esc on the window.
  virtual void CancelKeyPressed() = 0;
  // The window's close box.
  virtual void CloseRequested() = 0;

 protected:
  ~WindowActions() = default;
};

// The toolkit's part of the desktop view. The setters change what a widget
// shows and report no action back (an action a toolkit reports while one
// runs is ignored all the same).
class WindowToolkit {
 public:
  virtual ~WindowToolkit() = default;

  // Makes the window, hidden, with a widget for every row of
  // kForm1Controls placed as the row says; its actions go to `actions`
  // from then on. False when it cannot be made.
  virtual bool MakeWindow(WindowActions& actions) = 0;
  virtual void ShowWindow() = 0;
  virtual void HideWindow() = 0;
  // Runs the toolkit's events until QuitEventLoop.
  virtual void RunEventLoop() = 0;
  virtual void QuitEventLoop() = 0;
  // The modal folder chooser, owned by the window, titled `title`, starting
  // at the file-system root. Nothing when the user cancels.
  virtual std::optional<std::u16string> ChooseFolder(std::u16string_view title) = 0;

  // A modal message box with one OK button, owned by the window while it
  // is on screen.
  virtual void ShowMessage(std::u16string_view text, std::u16string_view title,
                           MessageIcon icon) = 0;

  virtual void SetEnabled(int control, bool enabled) = 0;
  // Check box or option button: 0 unchecked, 1 checked, 2 grayed.
  virtual void SetCheck(int control, int state) = 0;
  // Whether Tab stops at the control.
  virtual void SetTabStop(int control, bool tab_stop) = 0;
  // The text box's text; left alone when it is the same, so that the caret
  // stays.
  virtual void SetText(int control, std::u16string_view text) = 0;
  virtual void SetCaption(int control, std::u16string_view caption) = 0;
  virtual void SetPosition(int control, int position) = 0;
  // 0x00BBGGRR, or a system colour number with kSystemColourFlag.
  virtual void SetBackColour(int control, uint32_t colour) = 0;
  virtual void Focus(int control) = 0;

  // Shows the batch's progress (View::WaitForBatch) until it has finished.
  virtual void ShowProgressUntilFinished(BatchProgress& progress) = 0;
};

}  // namespace morvane
