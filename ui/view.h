// How Form1 shows things: message boxes, the folder chooser and the window
// itself. The console view serves runs without a display; the desktop view
// (the window module) serves runs on a display.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/batch_progress.h"
#include "core/step_failure.h"
#include "ui/controls.h"

namespace morvane {

class Form1;

enum class MessageIcon { kInformation, kError };

// A batch shows its progress only once it has run this long, so a short
// batch shows nothing but its summary.
inline constexpr std::chrono::milliseconds kBatchProgressDelay{1000};

class View {
 public:
  virtual ~View() = default;

  // A modal message box with one OK button; returns when it is closed.
  virtual void ShowMessage(std::u16string_view text, std::u16string_view title,
                           MessageIcon icon) = 0;

  // Shows `form` and runs it until the program ends. Gives the exit status.
  virtual int RunWindow(Form1& form) = 0;

  // The modal folder chooser, owned by `form`'s window, titled `title` and
  // starting at the file-system root. Gives the chosen folder, or nothing
  // when the user cancels. Throws StepFailure when it cannot be shown, as
  // in a view that has no display.
  virtual std::optional<std::u16string> ChooseFolder(Form1& form, std::u16string_view title) {
    (void)form;
    (void)title;
    throw StepFailure("the folder chooser cannot be shown without a display");
  }

  // A property of one of `form`'s controls has changed.
  virtual void PropertyChanged(Form1& form, const Control& control, ControlProperty property) {
    (void)form;
    (void)control;
    (void)property;
  }

  // `form` has moved the keyboard focus to `control`.
  virtual void FocusMoved(Form1& form, const Control& control) {
    (void)form;
    (void)control;
  }

  // Returns when `progress` has finished. Called on the thread that shows
  // things while other threads make the batch's encoder calls, so a view
  // may show the progress there once the batch has run kBatchProgressDelay,
  // and may let the user cancel it (progress.RequestCancel()); whatever it
  // showed is gone when it returns. This one only waits.
  virtual void WaitForBatch(BatchProgress& progress) { progress.Wait(); }

  // `form` has ended the program: its window goes, RunWindow returns 0 and
  // no handler runs any more.
  virtual void EndProgram(Form1& form) { (void)form; }
};

// Message boxes become their title on one line and then their text, on
// standard output (information) or standard error (error). No window can be
// shown: RunWindow says so on standard error and gives 1; the folder
// chooser cannot be shown either and throws StepFailure. While a batch that
// has run kBatchProgressDelay goes on, and standard error is a terminal, one
// line there ("変換中 12/200") is rewritten in place and blanked out before
// the summary; nothing when standard error is not a terminal.
std::unique_ptr<View> MakeConsoleView();

// The view for this run. It starts as the console view; the first time a
// message box, the folder chooser or the window must be shown, it opens the
// window module from the program's folder, when a display is named, and
// uses the desktop view from then on if the module finds a usable display.
// A batch that runs longer than kBatchProgressDelay shows its progress
// there too (so the desktop view is loaded for it when a display is named);
// a shorter one shows nothing before its summary. A run that shows nothing
// never loads the window module or its toolkit.
std::unique_ptr<View> OpenView();

}  // namespace morvane
