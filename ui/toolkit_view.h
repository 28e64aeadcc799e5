// The desktop view of Form1, alike on every toolkit: the settings window
// mirrors Form1's controls and hands the user's actions to their handlers;
// message boxes, the folder chooser and a long batch's progress are the
// toolkit's (window_toolkit.h).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ui/controls.h"
#include "ui/view.h"
#include "ui/window_toolkit.h"

namespace morvane {

class ToolkitView : public View, private WindowActions {
 public:
  explicit ToolkitView(std::unique_ptr<WindowToolkit> toolkit);
  ~ToolkitView() override;
  ToolkitView(const ToolkitView&) = delete;
  ToolkitView& operator=(const ToolkitView&) = delete;

  void ShowMessage(std::u16string_view text, std::u16string_view title, MessageIcon icon) override;
  // Shows the window of `form` (ShowWindow), then runs the toolkit's events
  // until the program ends. Gives 0.
  int RunWindow(Form1& form) override;
  // Owned by the window of `form`, made hidden for it if need be.
  std::optional<std::u16string> ChooseFolder(Form1& form, std::u16string_view title) override;
  void PropertyChanged(Form1& form, const Control& control, ControlProperty property) override;
  void FocusMoved(Form1& form, const Control& control) override;
  // Hides the window and ends RunWindow's events.
  void EndProgram(Form1& form) override;
  // After kBatchProgressDelay, the toolkit shows the progress until the
  // batch has finished.
  void WaitForBatch(BatchProgress& progress) override;

  // The window of `form`, made hidden the first time, every widget showing
  // its control's state. Throws StepFailure when it cannot be made.
  void MakeWindow(Form1& form);
  // Shows the window of `form` with the focus on Command3; nothing once
  // the program has ended.
  void ShowWindow(Form1& form);
  bool window_made() const { return form_ != nullptr; }

 protected:
  WindowToolkit& toolkit() { return *toolkit_; }
  const WindowToolkit& toolkit() const { return *toolkit_; }

 private:
  // WindowActions: each runs its control's handler, under RunHandler's
  // rules, for an enabled control only.
  void Clicked(int control) override;
  void CheckClicked(int control, int state) override;
  void OptionSelected(int control) override;
  void TextEdited(int control, std::u16string_view text) override;
  void SliderMoved(int control, int position) override;
  void CancelKeyPressed() override;
  void CloseRequested() override;

  // Puts one property of `control` onto its widget.
  void Mirror(const Control& control, ControlProperty property);
  // The control of a row, when the window is made and the control enabled.
  Control* EnabledControl(int control) const;
  // Runs `handler` for a user action: not while a property is mirrored,
  // not after the end of the program; a failure ends only the handler.
  template <class Handler>
  void RunHandler(Handler handler);

  std::unique_ptr<WindowToolkit> toolkit_;
  Form1* form_ = nullptr;  // set once the window is made
  bool mirroring_ = false;
};

}  // namespace morvane
