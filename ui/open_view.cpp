#include "ui/desktop_view.h"
#include "ui/view.h"

namespace morvane {
namespace {

// Starts as the console view and turns into the desktop view the first time
// something must be shown, if it can.
class OnDemandView : public View {
 public:
  void ShowMessage(std::u16string_view text, std::u16string_view title, MessageIcon icon) override {
    Showing().ShowMessage(text, title, icon);
  }

  int RunWindow(Form1& form) override { return Showing().RunWindow(form); }

  std::optional<std::u16string> ChooseFolder(Form1& form, std::u16string_view title) override {
    return Showing().ChooseFolder(form, title);
  }

  // Before the desktop view exists there is nothing to mirror: it reads the
  // controls' state when it makes the window.
  void PropertyChanged(Form1& form, const Control& control, ControlProperty property) override {
    if (desktop_ != nullptr) desktop_->PropertyChanged(form, control, property);
  }

  void FocusMoved(Form1& form, const Control& control) override {
    if (desktop_ != nullptr) desktop_->FocusMoved(form, control);
  }

  // Only a batch that runs long is worth loading the window module for; it
  // shows its progress where its summary will be shown.
  void WaitForBatch(BatchProgress& progress) override {
    if (!tried_desktop_ && progress.WaitUntil(progress.started() + kBatchProgressDelay)) return;
    Showing().WaitForBatch(progress);
  }

  void EndProgram(Form1& form) override {
    if (desktop_ != nullptr) desktop_->EndProgram(form);
  }

 private:
  View& Showing() {
    if (!tried_desktop_) {
      tried_desktop_ = true;
      desktop_ = LoadDesktopView();
    }
    return desktop_ != nullptr ? *desktop_ : *console_;
  }

  std::unique_ptr<View> console_ = MakeConsoleView();
  std::unique_ptr<View> desktop_;
  bool tried_desktop_ = false;
};

}  // namespace

std::unique_ptr<View> OpenView() { return std::make_unique<OnDemandView>(); }

}  // namespace morvane
