// Form1's controls, start-up fill and handlers on their own, without a
// toolkit: a small recording view stands in for the screen.
#include "ui/form1.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/step_failure.h"
#include "platform/platform.h"
#include "settings/settings.h"
#include "test_support/files.h"
#include "test_support/recording_view.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

using test_support::RecordingView;

std::u16string U16(const fs::path& path) { return FromSystemText(path.string()); }

// A form whose Save writes the settings file in a temporary folder.
struct FormFixture : ::testing::Test {
  FormFixture() {
    form.SetSettingsWriter([this](uint8_t quality, int16_t progressive, std::u16string_view folder,
                                  bool option2_selected) {
      return SaveSettingsTo(U16(settings_file), quality, progressive, folder, option2_selected);
    });
  }

  // The specified-folder rule with `folder` in Text1, as a user leaves it.
  void ChooseFolderRule(std::u16string_view folder) {
    form.Text1.SetText(folder);
    form.Option1_Click();
  }

  RecordingView view;
  Form1 form{view};
  test_support::TempFolder folder;
  fs::path settings_file = folder.path() / "Morvane.ini";
};

// --- The controls ---------------------------------------------------------

TEST(Form1Controls, StartAsTheLayoutLeavesThem) {
  RecordingView view;
  Form1 form(view);
  EXPECT_EQ(form.Option2.value(), 1);
  EXPECT_EQ(form.Option1.value(), 0);
  EXPECT_FALSE(form.Text1.enabled());
  EXPECT_FALSE(form.Command2.enabled());
  EXPECT_EQ(form.Text1.back_color(), kButtonFaceColour);
  EXPECT_EQ(form.Check1.value(), 0);
  EXPECT_EQ(form.Slider1.position(), 85);
  EXPECT_EQ(form.Label6.caption(), u"85");
  EXPECT_EQ(form.Command3.caption(), u"保存(&S)");
  EXPECT_FALSE(form.shown());
  EXPECT_EQ(form.controls().size(), kForm1Controls.size());
  for (size_t i = 0; i < kForm1Controls.size(); ++i) {
    EXPECT_EQ(form.controls()[i]->name(), kForm1Controls[i].name);
    EXPECT_EQ(form.FindControl(kForm1Controls[i].name), form.controls()[i]);
  }
  EXPECT_EQ(form.FindControl("Form1"), nullptr);
}

TEST(Form1Controls, SliderRefusesPositionsOutsideOneToHundred) {
  RecordingView view;
  Form1 form(view);
  for (int refused : {0, -1, 101, 200, 255}) {
    EXPECT_THROW(form.Slider1.SetPosition(refused), StepFailure) << refused;
    EXPECT_EQ(form.Slider1.position(), 85);
  }
  form.Slider1.SetPosition(1);
  EXPECT_EQ(form.Slider1.position(), 1);
  form.Slider1.SetPosition(100);
  EXPECT_EQ(form.Slider1.position(), 100);
  EXPECT_THROW(form.Label6.SetPosition(5), StepFailure);
}

TEST(Form1Controls, ValuesAreCheckedByKind) {
  RecordingView view;
  Form1 form(view);
  for (int value : {0, 1, 2}) {
    form.Check1.SetValue(value);
    EXPECT_EQ(form.Check1.value(), value);
  }
  EXPECT_THROW(form.Check1.SetValue(3), StepFailure);
  EXPECT_THROW(form.Check1.SetValue(-1), StepFailure);
  EXPECT_EQ(form.Check1.value(), 2);
  EXPECT_THROW(form.Option1.SetValue(2), StepFailure);
  EXPECT_THROW(form.Command3.SetValue(1), StepFailure);
}

TEST(Form1Controls, SelectingAnOptionDeselectsTheOtherAndEveryChangeReachesTheView) {
  RecordingView view;
  Form1 form(view);
  form.Option1.SetValue(1);
  EXPECT_EQ(form.Option1.value(), 1);
  EXPECT_EQ(form.Option2.value(), 0);
  form.Text1.SetText(u"/out");
  form.Text1.SetText(u"/out");  // no change, nothing to report
  form.Label6.SetCaption(u"7");
  EXPECT_EQ(view.changes, (std::vector<std::string>{"Option1.Value", "Option2.Value", "Text1.Text",
                                                    "Label6.Caption"}));
}

TEST(Form1Controls, FocusMovesOnlyInAShownWindowAndToAnEnabledControl) {
  RecordingView view;
  Form1 form(view);
  EXPECT_THROW(form.SetFocus(form.Command3), StepFailure);
  EXPECT_EQ(form.focused(), nullptr);
  form.SetShown(true);
  EXPECT_THROW(form.SetFocus(form.Command2), StepFailure);  // disabled
  form.SetFocus(form.Command3);
  EXPECT_EQ(form.focused(), &form.Command3);
  EXPECT_EQ(view.focus_moves, std::vector<std::string>{"Command3"});
}

// --- The start-up fill ----------------------------------------------------

struct FillCase {
  const char* what;
  StoredSettings stored;
  uint8_t quality;
  int16_t progressive;
  bool chosen_folder_rule;
  int slider;
  std::u16string label6;
  int check1;
};

TEST(ShowStoredSettings, FillsTheControlsFromTheStoredSettings) {
  const FillCase cases[] = {
      {"next to source", {u"85", u"Fals", u"/out", u"N"}, 85, 0, false, 85, u"85", 0},
      {"chosen folder", {u"40", u"True", u"/out", u"Y"}, 40, -1, true, 40, u"40", 1},
      {"lower-case y is not Y", {u"", u"", u"/out", u"y"}, 85, 0, false, 85, u"85", 0},
      {"empty Set", {u"", u"", u"", u""}, 85, 0, false, 85, u"85", 0},
      {"quality at the low end", {u"1", u"", u"/x", u"Y"}, 1, 0, true, 1, u"1", 0},
      {"quality at the high end", {u"100", u"", u"", u"N"}, 100, 0, false, 100, u"100", 0},
      // The slider refuses these; it keeps its position, the label shows
      // Quality all the same.
      {"quality 0", {u"0", u"", u"/x", u"N"}, 0, 0, false, 85, u"0", 0},
      {"quality 200", {u"200", u"", u"/x", u"N"}, 200, 0, false, 85, u"200", 0},
      // Only -1 is true.
      {"progressive 1", {u"85", u"1", u"/x", u"N"}, 85, 1, false, 85, u"85", 0},
  };
  for (const FillCase& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingView view;
    Form1 form(view);
    form.Quality = c.quality;
    form.Progressive = c.progressive;
    ShowStoredSettings(form, c.stored);
    EXPECT_EQ(form.Text1.text(), c.stored.Folder);
    EXPECT_EQ(form.Option1.value(), c.chosen_folder_rule ? 1 : 0);
    EXPECT_EQ(form.Option2.value(), c.chosen_folder_rule ? 0 : 1);
    EXPECT_EQ(form.Text1.enabled(), c.chosen_folder_rule);
    EXPECT_EQ(form.Command2.enabled(), c.chosen_folder_rule);
    EXPECT_EQ(form.Text1.back_color(), c.chosen_folder_rule ? kWhite : kButtonFaceColour);
    EXPECT_EQ(form.Slider1.position(), c.slider);
    EXPECT_EQ(form.Label6.caption(), c.label6);
    EXPECT_EQ(form.Check1.value(), c.check1);
    // The fill sets the controls; Quality and Progressive stay as loaded.
    EXPECT_EQ(form.Quality, c.quality);
    EXPECT_EQ(form.Progressive, c.progressive);
    EXPECT_TRUE(view.chooser_titles.empty());
  }
}

TEST(ShowStoredSettings, ChosenFolderRuleWithoutFolderOpensTheChooserAndItsFocusMoveFails) {
  RecordingView view;
  view.folder_answers = {u"/picked"};
  Form1 form(view);
  form.Quality = 70;
  form.Progressive = -1;
  ShowStoredSettings(form, {u"70", u"True", u"", u"Y"});
  ASSERT_EQ(view.chooser_titles.size(), 1u);
  EXPECT_EQ(view.chooser_titles[0], kFolderDialogTitle);
  // The chosen folder arrives; the focus cannot move in a window not shown,
  // which ends the handlers; the later steps run all the same.
  EXPECT_EQ(form.Text1.text(), u"/picked");
  EXPECT_EQ(form.Option1.value(), 1);
  EXPECT_TRUE(view.focus_moves.empty());
  EXPECT_EQ(form.Slider1.position(), 70);
  EXPECT_EQ(form.Label6.caption(), u"70");
  EXPECT_EQ(form.Check1.value(), 1);
}

TEST(ShowStoredSettings, ChooserThatCannotBeShownEndsOnlyThatStep) {
  // The console view: no display, so the chooser fails.
  const std::unique_ptr<View> console = MakeConsoleView();
  Form1 form(*console);
  form.Quality = 60;
  ShowStoredSettings(form, {u"60", u"", u"", u"Y"});
  EXPECT_EQ(form.Text1.text(), u"");
  EXPECT_EQ(form.Option1.value(), 1);
  EXPECT_TRUE(form.Text1.enabled());
  EXPECT_EQ(form.Slider1.position(), 60);
  EXPECT_EQ(form.Label6.caption(), u"60");
}

// --- The handlers ---------------------------------------------------------

TEST_F(FormFixture, Check1SetsProgressiveFromItsValueAndGrayedKeepsIt) {
  form.Check1.SetValue(1);
  form.Check1_Click();
  EXPECT_EQ(form.Progressive, -1);
  form.Check1.SetValue(2);
  form.Check1_Click();
  EXPECT_EQ(form.Progressive, -1);
  form.Check1.SetValue(0);
  form.Check1_Click();
  EXPECT_EQ(form.Progressive, 0);
  form.Check1.SetValue(2);
  form.Check1_Click();
  EXPECT_EQ(form.Progressive, 0);
}

TEST_F(FormFixture, Slider1SetsQualityAndLabel6AtBothEnds) {
  const struct {
    int position;
    std::u16string_view caption;
  } cases[] = {{1, u"1"}, {100, u"100"}, {57, u"57"}};
  for (const auto& c : cases) {
    form.Slider1.SetPosition(c.position);
    form.Slider1_Change();
    EXPECT_EQ(form.Quality, c.position);
    EXPECT_EQ(form.Label6.caption(), c.caption);
  }
}

TEST_F(FormFixture, OptionHandlersSwitchTheFolderRuleAndKeepTheFolderText) {
  form.Text1.SetText(u"/out");
  view.changes.clear();
  form.Option1_Click();
  EXPECT_EQ(view.changes,
            (std::vector<std::string>{"Command2.Enabled", "Text1.Enabled", "Text1.BackColor",
                                      "Option1.Value", "Option2.Value"}));
  EXPECT_TRUE(view.chooser_titles.empty());  // a folder is there: no chooser
  form.Option2_Click();
  EXPECT_EQ(form.Option2.value(), 1);
  EXPECT_EQ(form.Option1.value(), 0);
  EXPECT_FALSE(form.Text1.enabled());
  EXPECT_FALSE(form.Command2.enabled());
  EXPECT_EQ(form.Text1.back_color(), kButtonFaceColour);
  EXPECT_EQ(form.Text1.text(), u"/out");
  EXPECT_TRUE(view.chooser_titles.empty());
}

TEST_F(FormFixture, Option1WithoutFolderOpensTheChooserAndFocusesSave) {
  form.SetShown(true);
  view.folder_answers = {u"/chosen"};
  form.Option1_Click();
  EXPECT_EQ(view.chooser_titles.size(), 1u);
  EXPECT_EQ(form.Text1.text(), u"/chosen");
  EXPECT_EQ(form.focused(), &form.Command3);
}

TEST_F(FormFixture, CancelledOrEmptyChooserKeepsText1AndFocusesSave) {
  form.SetShown(true);
  ChooseFolderRule(u"/kept");
  view.folder_answers = {std::nullopt, u"", std::u16string(u"\0/x", 3)};
  for (int i = 0; i < 3; ++i) {
    form.Command2_Click();
    EXPECT_EQ(form.Text1.text(), u"/kept");
    EXPECT_EQ(form.focused(), &form.Command3);
  }
  // A path ends at its first NUL.
  view.folder_answers = {std::u16string(u"/a\0b", 4)};
  form.Command2_Click();
  EXPECT_EQ(form.Text1.text(), u"/a");
}

TEST_F(FormFixture, Text1ClickOpensTheChooserOnlyWhenEnabledAndEmpty) {
  form.SetShown(true);
  form.Text1_Click();  // disabled
  EXPECT_TRUE(view.chooser_titles.empty());
  ChooseFolderRule(u"/set");
  form.Text1_Click();  // holds a folder
  EXPECT_TRUE(view.chooser_titles.empty());
  form.Text1.SetText(u"");
  view.folder_answers = {u"/new"};
  form.Text1_Click();
  EXPECT_EQ(view.chooser_titles.size(), 1u);
  EXPECT_EQ(form.Text1.text(), u"/new");
}

TEST_F(FormFixture, SaveWithChosenFolderRuleAndNoFolderAsksForOneAndWritesNothing) {
  form.SetShown(true);
  ChooseFolderRule(u"");  // the chooser was cancelled
  form.Command3_Click();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, u"保存場所を設定してください。");
  EXPECT_EQ(view.messages[0].title, u"Morvane");
  EXPECT_EQ(view.messages[0].icon, MessageIcon::kError);
  EXPECT_EQ(form.focused(), &form.Command2);
  EXPECT_FALSE(form.ended());
  EXPECT_FALSE(fs::exists(settings_file));

  // Once a folder is there, Save goes through.
  form.Text1.SetText(u"/out");
  form.Command3_Click();
  EXPECT_TRUE(form.ended());
  EXPECT_EQ(view.end_calls, 1);
  EXPECT_TRUE(fs::exists(settings_file));
}

TEST_F(FormFixture, SaveWritesTheSettingsAndEndsTheProgram) {
  struct SaveCase {
    const char* what;
    bool chosen_folder_rule;
    std::u16string folder;
    uint8_t quality;
    int16_t progressive;
    std::u16string set;
  };
  const SaveCase cases[] = {
      {"next to source, no folder", false, u"", 85, 0, u"N"},
      {"next to source keeps the folder", false, u"/kept", 1, -1, u"N"},
      {"chosen folder that does not exist", true, u"/no/such/folder", 100, 0, u"Y"},
      {"blanks are not empty", true, u"  ", 50, -1, u"Y"},
  };
  for (const SaveCase& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(settings_file);
    RecordingView case_view;
    Form1 case_form(case_view);
    case_form.SetSettingsWriter([this](uint8_t q, int16_t p, std::u16string_view f, bool o) {
      return SaveSettingsTo(U16(settings_file), q, p, f, o);
    });
    case_form.Text1.SetText(c.folder);
    if (c.chosen_folder_rule) case_form.Option1_Click();
    case_form.Quality = c.quality;
    case_form.Progressive = c.progressive;
    case_form.Command3_Click();
    EXPECT_TRUE(case_view.messages.empty());
    EXPECT_TRUE(case_form.ended());
    uint8_t quality = 0;
    int16_t progressive = 0;
    const StoredSettings saved = LoadSettingsFrom(U16(settings_file), quality, progressive);
    EXPECT_EQ(quality, c.quality);
    EXPECT_EQ(progressive, c.progressive);
    EXPECT_EQ(saved.Folder, c.folder == u"  " ? u"" : c.folder);  // blanks around a value drop
    EXPECT_EQ(saved.Set, c.set);
  }
}

TEST_F(FormFixture, SaveThatCannotWriteSaysSoAndKeepsTheWindow) {
  // A settings file whose folder is a regular file cannot be written, even
  // by root.
  const fs::path blocker = folder.path() / "not-a-folder";
  test_support::WriteFile(blocker, "x");
  settings_file = blocker / "Morvane.ini";
  form.SetShown(true);
  form.Command3_Click();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, u"設定を保存できませんでした。");
  EXPECT_EQ(view.messages[0].title, u"Morvane");
  EXPECT_EQ(view.messages[0].icon, MessageIcon::kError);
  EXPECT_FALSE(form.ended());
  EXPECT_EQ(view.end_calls, 0);
}

TEST_F(FormFixture, CancelEndsAtOnceAndWritesNothing) {
  form.Slider1.SetPosition(10);
  form.Slider1_Change();
  form.Command1_Click();
  EXPECT_TRUE(form.ended());
  EXPECT_EQ(view.end_calls, 1);
  EXPECT_FALSE(fs::exists(settings_file));
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(FormFixture, FolderChooserThatCannotBeShownFailsTheHandler) {
  const std::unique_ptr<View> console = MakeConsoleView();
  Form1 headless(*console);
  headless.SetShown(true);
  headless.Text1.SetText(u"/old");
  EXPECT_THROW(headless.Command2_Click(), StepFailure);
  EXPECT_EQ(headless.Text1.text(), u"/old");
  EXPECT_EQ(headless.focused(), nullptr);
}

}  // namespace
}  // namespace morvane
