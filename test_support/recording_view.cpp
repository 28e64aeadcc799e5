#include "test_support/recording_view.h"

namespace morvane::test_support {

void RecordingView::ShowMessage(std::u16string_view text, std::u16string_view title,
                                MessageIcon icon) {
  messages.push_back({std::u16string(text), std::u16string(title), icon});
}

std::optional<std::u16string> RecordingView::ChooseFolder(Form1& form, std::u16string_view title) {
  if (no_display) return View::ChooseFolder(form, title);
  chooser_titles.emplace_back(title);
  if (folder_answers.empty()) return std::nullopt;
  std::optional<std::u16string> answer = folder_answers.front();
  folder_answers.pop_front();
  return answer;
}

void RecordingView::PropertyChanged(Form1&, const Control& control, ControlProperty property) {
  changes.push_back(std::string(control.name()) + "." + NameOf(property));
}

void RecordingView::FocusMoved(Form1&, const Control& control) {
  focus_moves.emplace_back(control.name());
}

std::string RecordingView::NameOf(ControlProperty property) {
  switch (property) {
    case ControlProperty::kEnabled:
      return "Enabled";
    case ControlProperty::kBackColor:
      return "BackColor";
    case ControlProperty::kText:
      return "Text";
    case ControlProperty::kCaption:
      return "Caption";
    case ControlProperty::kValue:
      return "Value";
    case ControlProperty::kPosition:
      return "Position";
  }
  return "?";
}

}  // namespace morvane::test_support
