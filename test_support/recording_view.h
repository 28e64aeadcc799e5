// A View that records what Form1 asks of it: message boxes, folder
// choosers, property changes, focus moves and the end of the program. The
// folder chooser gives the answers queued in `folder_answers` (cancel when
// none is left), or fails as a view without a display does.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/form1.h"
#include "ui/view.h"

namespace morvane::test_support {

class RecordingView : public View {
 public:
  struct Message {
    std::u16string text;
    std::u16string title;
    MessageIcon icon;
  };

  void ShowMessage(std::u16string_view text, std::u16string_view title, MessageIcon icon) override;
  int RunWindow(Form1&) override { return 0; }
  std::optional<std::u16string> ChooseFolder(Form1& form, std::u16string_view title) override;
  void PropertyChanged(Form1&, const Control& control, ControlProperty property) override;
  void FocusMoved(Form1&, const Control& control) override;
  void EndProgram(Form1&) override { ++end_calls; }

  // "Enabled", "BackColor", ...
  static std::string NameOf(ControlProperty property);

  std::vector<Message> messages;
  std::vector<std::u16string> chooser_titles;
  std::deque<std::optional<std::u16string>> folder_answers;
  // The chooser cannot be shown: ChooseFolder throws StepFailure.
  bool no_display = false;
  std::vector<std::string> changes;  // "Text1.Text", ...
  std::vector<std::string> focus_moves;
  int end_calls = 0;
};

}  // namespace morvane::test_support
