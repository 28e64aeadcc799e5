#include "ui/form1.h"

#include <stdexcept>

#include "core/resume_next.h"
#include "core/text.h"

namespace morvane {
namespace {

const ControlLayout& LayoutOf(std::string_view name) {
  const ControlLayout* row = FindControlLayout(name);
  if (row == nullptr) throw std::logic_error("control missing from the layout table");
  return *row;
}

}  // namespace

Form1::Form1(View& view)
    : Text1(LayoutOf("Text1"), *this),
      Frame2(LayoutOf("Frame2"), *this),
      Command2(LayoutOf("Command2"), *this),
      Option2(LayoutOf("Option2"), *this),
      Option1(LayoutOf("Option1"), *this),
      Frame1(LayoutOf("Frame1"), *this),
      Check1(LayoutOf("Check1"), *this),
      Slider1(LayoutOf("Slider1"), *this),
      Label2(LayoutOf("Label2"), *this),
      Label1(LayoutOf("Label1"), *this),
      Label3(LayoutOf("Label3"), *this),
      Label4(LayoutOf("Label4"), *this),
      Label5(LayoutOf("Label5"), *this),
      Label6(LayoutOf("Label6"), *this),
      Command1(LayoutOf("Command1"), *this),
      Command3(LayoutOf("Command3"), *this),
      Label9(LayoutOf("Label9"), *this),
      Label8(LayoutOf("Label8"), *this),
      view_(view),
      controls_{&Text1,  &Frame2,  &Command2, &Option2,  &Option1, &Frame1,
                &Check1, &Slider1, &Label2,   &Label1,   &Label3,  &Label4,
                &Label5, &Label6,  &Command1, &Command3, &Label9,  &Label8},
      save_settings_([](uint8_t quality, int16_t progressive, std::u16string_view folder,
                        bool option2_selected) {
        return SaveSettings(quality, progressive, folder, option2_selected);
      }) {}

Control* Form1::FindControl(std::string_view name) const {
  for (Control* control : controls_) {
    if (control->name() == name) return control;
  }
  return nullptr;
}

void Form1::PropertyChanged(Control& control, ControlProperty property) {
  view_.PropertyChanged(*this, control, property);
  // Option buttons in one container form a group: selecting one deselects
  // the others.
  if (control.kind() == ControlKind::kOptionButton && property == ControlProperty::kValue &&
      control.value() == 1) {
    for (Control* other : controls_) {
      if (other != &control && other->kind() == ControlKind::kOptionButton &&
          other->layout().parent == control.layout().parent) {
        other->SetValue(0);
      }
    }
  }
}

void Form1::Check1_Click() {
  if (Check1.value() == 1) {
    Progressive = -1;
  } else if (Check1.value() == 0) {
    Progressive = 0;
  }
}

void Form1::Slider1_Change() {
  const int position = Slider1.position();
  if (position < 0 || position > 255) throw StepFailure("slider position does not fit a byte");
  Quality = static_cast<uint8_t>(position);
  Label6.SetCaption(DecimalText(Quality));
}

void Form1::Option1_Click() {
  Command2.SetEnabled(true);
  Text1.SetEnabled(true);
  Text1.SetBackColor(kWhite);
  Option1.SetValue(1);
  if (Text1.text().empty()) Command2_Click();
}

void Form1::Option2_Click() {
  Command2.SetEnabled(false);
  Text1.SetEnabled(false);
  Text1.SetBackColor(kButtonFaceColour);
  Option2.SetValue(1);
}

void Form1::Text1_Click() {
  if (Text1.enabled() && Text1.text().empty()) Command2_Click();
}

void Form1::Command2_Click() {
  const std::optional<std::u16string> chosen = view_.ChooseFolder(*this, kFolderDialogTitle);
  if (chosen.has_value()) {
    // A path ends at its first NUL character; an empty one is no path.
    const std::u16string path = chosen->substr(0, chosen->find(u'\0'));
    if (!path.empty()) Text1.SetText(path);
  }
  SetFocus(Command3);
}

void Form1::Command3_Click() {
  if (Option1.value() == 1 && Text1.text().empty()) {
    view_.ShowMessage(kFolderMissingText, kAppTitle, MessageIcon::kError);
    SetFocus(Command2);
    return;
  }
  if (!save_settings_(Quality, Progressive, Text1.text(), Option2.value() == 1)) {
    view_.ShowMessage(kSaveFailedText, kAppTitle, MessageIcon::kError);
    return;
  }
  EndProgram();
}

void Form1::Command1_Click() { EndProgram(); }

void Form1::SetFocus(Control& control) {
  if (!shown_) throw StepFailure("the window is not shown");
  if (!control.enabled()) throw StepFailure("a disabled control cannot take the focus");
  focused_ = &control;
  view_.FocusMoved(*this, control);
}

void Form1::EndProgram() {
  ended_ = true;
  shown_ = false;
  view_.EndProgram(*this);
}

void ShowStoredSettings(Form1& form, const StoredSettings& stored) {
  RunStep([&] { form.Text1.SetText(stored.Folder); });
  RunStep([&] {
    if (stored.Set == u"Y") {
      form.Option1_Click();
    } else {
      form.Option2_Click();
    }
  });
  RunStep([&] { form.Slider1.SetPosition(form.Quality); });
  RunStep([&] { form.Label6.SetCaption(DecimalText(form.Quality)); });
  RunStep([&] { form.Check1.SetValue(form.Progressive == -1 ? 1 : 0); });
}

}  // namespace morvane
