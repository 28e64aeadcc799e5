#include "ui/toolkit_view.h"

#include <algorithm>
#include <exception>

#include "core/resume_next.h"
#include "core/step_failure.h"
#include "ui/form1.h"

namespace morvane {
namespace {

// The properties a widget shows, each put on it when the window is made.
constexpr ControlProperty kShownProperties[] = {
    ControlProperty::kEnabled, ControlProperty::kBackColor, ControlProperty::kText,
    ControlProperty::kCaption, ControlProperty::kValue,     ControlProperty::kPosition};

int RowOf(const Form1& form, const Control& control) {
  const auto& controls = form.controls();
  return static_cast<int>(std::find(controls.begin(), controls.end(), &control) - controls.begin());
}

// Runs the handler a click on `control` runs: a push button's, or the
// text box's; none for the others.
void RunClickHandler(Form1& form, const Control& control) {
  if (&control == &form.Command1)
    form.Command1_Click();
  else if (&control == &form.Command2)
    form.Command2_Click();
  else if (&control == &form.Command3)
    form.Command3_Click();
  else if (&control == &form.Text1)
    form.Text1_Click();
}

}  // namespace

ToolkitView::ToolkitView(std::unique_ptr<WindowToolkit> toolkit) : toolkit_(std::move(toolkit)) {}

ToolkitView::~ToolkitView() {
  // The form may already be gone: no handler may run while the widgets go.
  mirroring_ = true;
  toolkit_.reset();
}

void ToolkitView::ShowMessage(std::u16string_view text, std::u16string_view title,
                              MessageIcon icon) {
  toolkit_->ShowMessage(text, title, icon);
}

int ToolkitView::RunWindow(Form1& form) {
  ShowWindow(form);
  if (form.ended()) return 0;
  toolkit_->RunEventLoop();
  return 0;
}

std::optional<std::u16string> ToolkitView::ChooseFolder(Form1& form, std::u16string_view title) {
  MakeWindow(form);
  return toolkit_->ChooseFolder(title);
}

void ToolkitView::PropertyChanged(Form1&, const Control& control, ControlProperty property) {
  if (form_ != nullptr) Mirror(control, property);
}

void ToolkitView::FocusMoved(Form1&, const Control& control) {
  if (form_ != nullptr) toolkit_->Focus(RowOf(*form_, control));
}

void ToolkitView::EndProgram(Form1&) {
  toolkit_->HideWindow();
  toolkit_->QuitEventLoop();
}

void ToolkitView::WaitForBatch(BatchProgress& progress) {
  if (progress.WaitUntil(progress.started() + kBatchProgressDelay)) return;
  toolkit_->ShowProgressUntilFinished(progress);
}

void ToolkitView::MakeWindow(Form1& form) {
  if (form_ != nullptr) return;
  if (!toolkit_->MakeWindow(*this)) throw StepFailure("the settings window cannot be made");
  form_ = &form;
  for (const Control* control : form.controls())
    for (const ControlProperty property : kShownProperties) Mirror(*control, property);
}

void ToolkitView::ShowWindow(Form1& form) {
  MakeWindow(form);
  if (form.ended()) return;
  toolkit_->ShowWindow();
  form.SetShown(true);
  RunStep([&] { form.SetFocus(form.Command3); });
}

// What each property is on the toolkit's widgets: a caption on everything
// but the text box and the slider; a check for check boxes and option
// buttons, and Tab stopping only at the selected option button.
void ToolkitView::Mirror(const Control& control, ControlProperty property) {
  const int row = RowOf(*form_, control);
  const ControlKind kind = control.kind();
  const bool checkable = kind == ControlKind::kCheckBox || kind == ControlKind::kOptionButton;
  const bool was_mirroring = std::exchange(mirroring_, true);
  switch (property) {
    case ControlProperty::kEnabled:
      toolkit_->SetEnabled(row, control.enabled());
      break;
    case ControlProperty::kBackColor:
      if (kind == ControlKind::kTextBox) toolkit_->SetBackColour(row, control.back_color());
      break;
    case ControlProperty::kText:
      if (kind == ControlKind::kTextBox) toolkit_->SetText(row, control.text());
      break;
    case ControlProperty::kCaption:
      if (kind != ControlKind::kTextBox && kind != ControlKind::kSlider)
        toolkit_->SetCaption(row, control.caption());
      break;
    case ControlProperty::kValue:
      if (checkable) toolkit_->SetCheck(row, control.value());
      if (kind == ControlKind::kOptionButton) toolkit_->SetTabStop(row, control.value() == 1);
      break;
    case ControlProperty::kPosition:
      if (kind == ControlKind::kSlider) toolkit_->SetPosition(row, control.position());
      break;
  }
  mirroring_ = was_mirroring;
}

Control* ToolkitView::EnabledControl(int control) const {
  if (form_ == nullptr || control < 0 || static_cast<size_t>(control) >= form_->controls().size())
    return nullptr;
  Control* found = form_->controls()[static_cast<size_t>(control)];
  return found->enabled() ? found : nullptr;
}

template <class Handler>
void ToolkitView::RunHandler(Handler handler) {
  if (mirroring_ || form_ == nullptr || form_->ended()) return;
  try {
    handler();
  } catch (...) {
    // Any failure ends the handler; the window goes on.
  }
}

void ToolkitView::Clicked(int row) {
  Control* control = EnabledControl(row);
  if (control == nullptr) return;
  RunHandler([&] { RunClickHandler(*form_, *control); });
}

void ToolkitView::CheckClicked(int row, int state) {
  Control* control = EnabledControl(row);
  if (control == nullptr || control != &form_->Check1) return;
  RunHandler([&] {
    control->SetValue(state);
    form_->Check1_Click();
  });
}

// Only a selection runs a handler: that of the option that became selected.
void ToolkitView::OptionSelected(int row) {
  Control* control = EnabledControl(row);
  if (control == nullptr || control->value() == 1) return;
  if (control == &form_->Option1) RunHandler([&] { form_->Option1_Click(); });
  if (control == &form_->Option2) RunHandler([&] { form_->Option2_Click(); });
}

void ToolkitView::TextEdited(int row, std::u16string_view text) {
  Control* control = EnabledControl(row);
  if (control == nullptr || control != &form_->Text1) return;
  RunHandler([&] { control->SetText(text); });
}

void ToolkitView::SliderMoved(int row, int position) {
  Control* control = EnabledControl(row);
  if (control == nullptr || control != &form_->Slider1 || position == control->position()) return;
  RunHandler([&] {
    control->SetPosition(position);
    form_->Slider1_Change();
  });
}

// Esc presses the cancel button, when it is enabled.
void ToolkitView::CancelKeyPressed() {
  if (form_ == nullptr) return;
  for (size_t row = 0; row < kForm1Controls.size(); ++row)
    if (kForm1Controls[row].role == ButtonRole::kCancel) Clicked(static_cast<int>(row));
}

// The close box ends the program unsaved.
void ToolkitView::CloseRequested() {
  if (form_ != nullptr && !mirroring_ && !form_->ended()) form_->EndProgram();
}

}  // namespace morvane
