// Form1, the program's one window object: the form-level state that start-up,
// the batch and the settings window share, the window's controls as plain
// objects, and the handlers of the window's behaviour. It holds no toolkit
// object; a View shows it, mirrors its controls and calls its handlers for
// the user's actions.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings.h"
#include "ui/controls.h"
#include "ui/view.h"

namespace morvane {

// Texts the window shows.
inline constexpr std::u16string_view kAppTitle = u"Morvane";
inline constexpr std::u16string_view kFolderDialogTitle =
    u"JPEGファイルの保存場所を指定してください。";
inline constexpr std::u16string_view kFolderMissingText = u"保存場所を設定してください。";
inline constexpr std::u16string_view kSaveFailedText = u"設定を保存できませんでした。";

// Writes the settings: Quality, Progressive, the folder text and whether
// Option2 is selected. Gives false when the settings file could not be
// written.
using SettingsWriter = std::function<bool(uint8_t quality, int16_t progressive,
                                          std::u16string_view folder, bool option2_selected)>;

class Form1 : private ControlObserver {
 public:
  // The controls start as the layout table gives them; Save writes through
  // SaveSettings.
  explicit Form1(View& view);
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  View& view() { return view_; }

  // Form-level state, zeroed when the window object is created.
  uint8_t Quality = 0;      // JPEG quality handed to the encoder
  int16_t Progressive = 0;  // 0 baseline, -1 progressive
  uint8_t LastResult = 0;   // result of the latest encoder call that fits a byte
  uint64_t ConvertedCount = 0;
  // Index 0 is never used; the batch sizes them to the names it found.
  std::vector<std::u16string> SourcePaths;
  std::vector<std::u16string> OutputPaths;

  // The controls, in the order of the layout table.
  Control Text1;
  Control Frame2;
  Control Command2;
  Control Option2;
  Control Option1;
  Control Frame1;
  Control Check1;
  Control Slider1;
  Control Label2;
  Control Label1;
  Control Label3;
  Control Label4;
  Control Label5;
  Control Label6;
  Control Command1;
  Control Command3;
  Control Label9;
  Control Label8;

  // Every control, in the order of the layout table.
  const std::array<Control*, 18>& controls() const { return controls_; }
  // The control named `name`, or nullptr.
  Control* FindControl(std::string_view name) const;

  // The handlers. They have no error rule of their own: a failure inside
  // one ends it and is thrown to the caller.
  void Check1_Click();    // Progressive from the check box
  void Slider1_Change();  // Quality and Label6 from the slider
  void Option1_Click();   // the chosen-folder rule; the chooser when Text1 is empty
  void Option2_Click();   // the next-to-source rule
  void Text1_Click();     // the chooser when Text1 is enabled and empty
  void Command2_Click();  // the folder chooser, then the focus to Command3
  void Command3_Click();  // Save: check, write, end
  void Command1_Click();  // Cancel: end

  // Moves the keyboard focus to `control`. Throws StepFailure while the
  // window is not shown or when the control is disabled.
  void SetFocus(Control& control);
  // The control that has the focus, or nullptr before the first move.
  const Control* focused() const { return focused_; }

  // Whether the window is on screen; the view says so.
  bool shown() const { return shown_; }
  void SetShown(bool shown) { shown_ = shown; }

  // Ends the program: the view closes the window and no handler runs any
  // more.
  void EndProgram();
  bool ended() const { return ended_; }

  // Replaces the settings writer (SaveSettings unless replaced).
  void SetSettingsWriter(SettingsWriter writer) { save_settings_ = std::move(writer); }

 private:
  void PropertyChanged(Control& control, ControlProperty property) override;

  View& view_;
  std::array<Control*, 18> controls_;
  const Control* focused_ = nullptr;
  bool shown_ = false;
  bool ended_ = false;
  SettingsWriter save_settings_;
};

// The start-up fill: puts the stored folder text and folder rule, Quality and
// Progressive into the window's controls. Each step runs under the
// resume-next rule; never throws.
void ShowStoredSettings(Form1& form, const StoredSettings& stored);

}  // namespace morvane
