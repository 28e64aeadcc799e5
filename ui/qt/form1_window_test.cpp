// The settings window driven for real on Qt's offscreen platform: mouse,
// keyboard, the folder chooser and the message boxes, with Save writing a
// real settings file.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <fstream>

#include "ui/qt/widget_test_support.h"

namespace morvane::testing {
namespace {

const QString kFolderDialogTitleText = QStringLiteral("JPEGファイルの保存場所を指定してください。");

std::string Blanks(int count) { return std::string(static_cast<size_t>(count), ' '); }

// --- Start-up fill ----------------------------------------------------------

struct StartCase {
  const char* what;
  std::string file;
  int slider;
  QString label6;
  bool checked;
  bool chosen_folder_rule;
  QString text1;
};

using StartUpFill = Form1WindowTest;

TEST(StartUpFillFromFiles, ShowsWhatTheSettingsFileHolds) {
  const StartCase cases[] = {
      {"no settings file", "", 85, "85", false, false, ""},
      {"chosen folder, progressive",
       "[Data]\r\nRate=40\r\nPrg=True\r\nFolder=/srv/jpeg\r\nSet=Y\r\n", 40, "40", true, true,
       "/srv/jpeg"},
      {"next to source keeps the folder text", "[Data]\nRate=100\nPrg=False\nFolder=/old\nSet=N\n",
       100, "100", false, false, "/old"},
      {"quality the slider refuses", "[Data]\nRate=200\nSet=N\n", 85, "200", false, false, ""},
      {"quality 0", "[Data]\nRate=0\n", 85, "0", false, false, ""},
      {"quality that does not convert reads as none", "[Data]\nRate=300\n", 85, "85", false, false,
       ""},
  };
  for (const StartCase& c : cases) {
    SCOPED_TRACE(c.what);
    struct Run : Form1WindowTest {
      void TestBody() override {}
    } run;
    run.StartWith(c.file);
    EXPECT_EQ(run.Widget<QSlider>("Slider1")->value(), c.slider);
    EXPECT_EQ(run.Widget<QLabel>("Label6")->text(), c.label6);
    EXPECT_EQ(run.Widget<QCheckBox>("Check1")->isChecked(), c.checked);
    EXPECT_EQ(run.Widget<QRadioButton>("Option1")->isChecked(), c.chosen_folder_rule);
    EXPECT_EQ(run.Widget<QRadioButton>("Option2")->isChecked(), !c.chosen_folder_rule);
    auto* text1 = run.Widget<QLineEdit>("Text1");
    EXPECT_EQ(text1->text(), c.text1);
    EXPECT_EQ(text1->isEnabled(), c.chosen_folder_rule);
    EXPECT_EQ(run.Widget("Command2")->isEnabled(), c.chosen_folder_rule);
    const QPalette palette = text1->palette();
    EXPECT_EQ(palette.color(QPalette::Base),
              c.chosen_folder_rule ? QColor(Qt::white) : palette.color(QPalette::Button));
    EXPECT_EQ(run.window_->focusWidget(), run.Widget("Command3"));
  }
}

TEST_F(StartUpFill, ChosenFolderRuleWithoutFolderOpensTheChooserBeforeTheWindow) {
  bool window_shown_while_choosing = true;
  auto chooser = std::make_unique<ModalAnswer<QFileDialog>>([&](QFileDialog* dialog) {
    window_shown_while_choosing = view_.window()->isVisible();
    chooser_title_ = dialog->windowTitle();
    chooser_start_ = dialog->directory().absolutePath();
    chooser_owner_ = dialog->parentWidget();
    dialog->setDirectory(QString::fromStdString(folder_.path().string()));
    dialog->selectFile(QString::fromStdString(folder_.path().string()));
    static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept is protected
  });
  StartWith("[Data]\nRate=30\nPrg=True\nFolder=\nSet=Y\n");
  ASSERT_TRUE(chooser->answered());
  EXPECT_FALSE(window_shown_while_choosing);
  EXPECT_EQ(chooser_title_, kFolderDialogTitleText);
  EXPECT_EQ(chooser_start_, QStringLiteral("/"));
  EXPECT_EQ(chooser_owner_, window_);
  // The folder arrives; the steps after the failed focus move still ran.
  EXPECT_EQ(Widget<QLineEdit>("Text1")->text(), QString::fromStdString(folder_.path().string()));
  EXPECT_EQ(Widget<QSlider>("Slider1")->value(), 30);
  EXPECT_EQ(Widget<QLabel>("Label6")->text(), "30");
  EXPECT_TRUE(Widget<QCheckBox>("Check1")->isChecked());
}

// --- Controls ---------------------------------------------------------------

using Controls = Form1WindowTest;

TEST_F(Controls, Check1FollowsClicksAndTheSpaceKey) {
  StartWith("");
  auto* check = Widget<QCheckBox>("Check1");
  ClickIndicator(check);
  EXPECT_EQ(form_.Progressive, -1);
  EXPECT_EQ(form_.Check1.value(), 1);
  check->setFocus();
  QTest::keyClick(check, Qt::Key_Space);
  EXPECT_EQ(form_.Progressive, 0);
  EXPECT_EQ(form_.Check1.value(), 0);
}

TEST_F(Controls, SliderKeysReachBothEndsAndMoveByItsSteps) {
  StartWith("");
  auto* slider = Widget<QSlider>("Slider1");
  auto* label6 = Widget<QLabel>("Label6");
  slider->setFocus();
  struct Step {
    Qt::Key key;
    int quality;
    const char* label6;
  };
  for (const Step& step :
       {Step{Qt::Key_Home, 1, "1"}, Step{Qt::Key_Left, 1, "1"}, Step{Qt::Key_PageUp, 6, "6"},
        Step{Qt::Key_Right, 7, "7"}, Step{Qt::Key_End, 100, "100"}, Step{Qt::Key_Right, 100, "100"},
        Step{Qt::Key_PageDown, 95, "95"}}) {
    QTest::keyClick(slider, step.key);
    EXPECT_EQ(slider->value(), step.quality);
    EXPECT_EQ(form_.Quality, step.quality);
    EXPECT_EQ(label6->text(), step.label6);
  }
  EXPECT_EQ(slider->minimum(), 1);
  EXPECT_EQ(slider->maximum(), 100);
  EXPECT_EQ(slider->tickPosition(), QSlider::NoTicks);
}

TEST_F(Controls, Option1WithAFolderOpensNoChooserAndOption2KeepsTheFolder) {
  StartWith("[Data]\nFolder=/srv/out\nSet=N\n");
  ClickIndicator(Widget("Option1"));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(form_.Option1.value(), 1);
  EXPECT_TRUE(Widget("Text1")->isEnabled());
  EXPECT_TRUE(Widget("Command2")->isEnabled());
  ClickIndicator(Widget("Option2"));
  EXPECT_EQ(form_.Option2.value(), 1);
  EXPECT_FALSE(Widget("Text1")->isEnabled());
  EXPECT_EQ(Widget<QLineEdit>("Text1")->text(), "/srv/out");
}

TEST_F(Controls, Option1WithoutFolderOpensTheChooserAndCancelLeavesText1Empty) {
  StartWith("");
  auto chooser = AnswerFolderChooser("");
  ClickIndicator(Widget("Option1"));
  ASSERT_TRUE(chooser->answered());
  EXPECT_EQ(chooser_title_, kFolderDialogTitleText);
  EXPECT_EQ(Widget<QLineEdit>("Text1")->text(), "");
  EXPECT_TRUE(Widget<QRadioButton>("Option1")->isChecked());
  EXPECT_EQ(window_->focusWidget(), Widget("Command3"));
}

TEST_F(Controls, Text1ClickOpensTheChooserOnlyWhenEnabledAndEmpty) {
  StartWith("[Data]\nFolder=\nSet=N\n");
  auto* text1 = Widget<QLineEdit>("Text1");
  QTest::mouseClick(text1, Qt::LeftButton);  // disabled: nothing
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

  form_.Text1.SetText(u"/srv/a");
  form_.Option1_Click();
  QTest::mouseClick(text1, Qt::LeftButton);  // holds a folder: nothing
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

  text1->clear();
  form_.Text1.SetText(u"");
  const QString chosen = QString::fromStdString(folder_.path().string());
  auto chooser = AnswerFolderChooser(chosen);
  QTest::mouseClick(text1, Qt::LeftButton);
  ASSERT_TRUE(chooser->answered());
  EXPECT_EQ(text1->text(), chosen);
  EXPECT_EQ(form_.Text1.text(), chosen.toStdU16String());
  EXPECT_EQ(window_->focusWidget(), Widget("Command3"));
}

TEST_F(Controls, TypingIntoText1ChangesTheFolder) {
  StartWith("[Data]\nFolder=/a\nSet=Y\n");
  auto* text1 = Widget<QLineEdit>("Text1");
  text1->setFocus();
  text1->end(false);
  QTest::keyClicks(text1, "/b");
  EXPECT_EQ(form_.Text1.text(), u"/a/b");
}

TEST_F(Controls, Command2ChooserIsOwnedByTheWindowStartsAtTheRootAndCancelKeepsText1) {
  StartWith("[Data]\nFolder=/kept\nSet=Y\n");
  auto chooser = AnswerFolderChooser("");
  QTest::mouseClick(Widget("Command2"), Qt::LeftButton);
  ASSERT_TRUE(chooser->answered());
  EXPECT_EQ(chooser_title_, kFolderDialogTitleText);
  EXPECT_EQ(chooser_start_, "/");
  EXPECT_EQ(chooser_owner_, window_);
  EXPECT_EQ(Widget<QLineEdit>("Text1")->text(), "/kept");
  EXPECT_EQ(window_->focusWidget(), Widget("Command3"));

  const QString chosen = QString::fromStdString(folder_.path().string());
  chooser = AnswerFolderChooser(chosen);
  QTest::mouseClick(Widget("Command2"), Qt::LeftButton);
  ASSERT_TRUE(chooser->answered());
  EXPECT_EQ(Widget<QLineEdit>("Text1")->text(), chosen);
}

// --- Save and Cancel ----------------------------------------------------------

using SaveAndCancel = Form1WindowTest;

TEST_F(SaveAndCancel, SaveWithoutFolderAsksForOneThenSavesOnceChosen) {
  StartWith("");
  {
    auto chooser = AnswerFolderChooser("");
    ClickIndicator(Widget("Option1"));
  }
  SeenMessage seen;
  auto message = AnswerMessage(seen);
  QTest::mouseClick(Widget("Command3"), Qt::LeftButton);
  ASSERT_TRUE(message->answered());
  EXPECT_EQ(seen.text, "保存場所を設定してください。");
  EXPECT_EQ(seen.title, "Morvane");
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
  EXPECT_EQ(seen.buttons, 1);
  EXPECT_TRUE(seen.parent_is_window);
  EXPECT_EQ(window_->focusWidget(), Widget("Command2"));
  EXPECT_TRUE(window_->isVisible());
  EXPECT_FALSE(fs::exists(settings_file_));

  auto chooser = AnswerFolderChooser("/");
  QTest::mouseClick(Widget("Command2"), Qt::LeftButton);
  ASSERT_TRUE(chooser->answered());
  QTest::keyClick(window_->focusWidget(), Qt::Key_Return);
  EXPECT_TRUE(form_.ended());
  EXPECT_FALSE(window_->isVisible());
  EXPECT_EQ(SettingsFileContent(), "[Data]\r\nRate=85" + Blanks(48) + "\r\nPrg=False\r\nFolder=/" +
                                       Blanks(49) + "\r\nSet=Y \r\n");
}

TEST_F(SaveAndCancel, SaveThatCannotWriteSaysSoAndTheWindowStays) {
  // Under a regular file no settings file can be made, even by root.
  std::ofstream(folder_ / "plain-file") << "x";
  settings_file_ = folder_ / "plain-file" / "Morvane.ini";
  StartWith("");
  SeenMessage seen;
  auto message = AnswerMessage(seen);
  QTest::mouseClick(Widget("Command3"), Qt::LeftButton);
  ASSERT_TRUE(message->answered());
  EXPECT_EQ(seen.text, "設定を保存できませんでした。");
  EXPECT_EQ(seen.title, "Morvane");
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
  EXPECT_FALSE(form_.ended());
  EXPECT_TRUE(window_->isVisible());
}

TEST_F(SaveAndCancel, EnterOnAnyControlButAButtonSaves) {
  StartWith("[Data]\nRate=20\nPrg=True\nFolder=/srv/x\nSet=N\n");
  Widget("Check1")->setFocus();
  QTest::keyClick(Widget("Check1"), Qt::Key_Return);
  EXPECT_TRUE(form_.ended());
  EXPECT_EQ(SettingsFileContent(), "[Data]\nRate=20" + Blanks(48) + "\nPrg=True \nFolder=/srv/x" +
                                       Blanks(44) + "\nSet=N \n");
}

TEST_F(SaveAndCancel, AltSSaves) {
  StartWith("");
  QTest::keyClick(window_, Qt::Key_S, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return form_.ended(); }));
  EXPECT_TRUE(fs::exists(settings_file_));
}

TEST_F(SaveAndCancel, EscAltCAndTheCloseButtonEndWithoutWriting) {
  const std::string before = "[Data]\nRate=10\n";
  enum class Way { kEsc, kAltC, kClose, kCancelClick };
  for (Way way : {Way::kEsc, Way::kAltC, Way::kClose, Way::kCancelClick}) {
    SCOPED_TRACE(static_cast<int>(way));
    struct Run : Form1WindowTest {
      void TestBody() override {}
    } run;
    std::ofstream(run.settings_file_) << before;
    run.StartWith("");
    switch (way) {
      case Way::kEsc:
        QTest::keyClick(run.window_->focusWidget(), Qt::Key_Escape);
        break;
      case Way::kAltC:
        QTest::keyClick(run.window_, Qt::Key_C, Qt::AltModifier);
        break;
      case Way::kClose:
        run.window_->close();
        break;
      case Way::kCancelClick:
        QTest::mouseClick(run.Widget("Command1"), Qt::LeftButton);
        break;
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return run.form_.ended(); }));
    EXPECT_FALSE(run.window_->isVisible());
    EXPECT_EQ(run.SettingsFileContent(), before);
  }
}

TEST_F(SaveAndCancel, NoHandlerRunsAfterTheEnd) {
  StartWith("");
  QTest::mouseClick(Widget("Command1"), Qt::LeftButton);
  ASSERT_TRUE(form_.ended());
  Widget<QPushButton>("Command3")->click();
  EXPECT_FALSE(fs::exists(settings_file_));
}

TEST_F(SaveAndCancel, RunWindowReturnsZeroWhenTheProgramEnds) {
  QTimer::singleShot(0, [this] {
    QTest::mouseClick(view_.window()->findChild<QWidget*>("Command1"), Qt::LeftButton);
  });
  EXPECT_EQ(view_.RunWindow(form_), 0);
  EXPECT_TRUE(form_.ended());
}

// --- Message boxes of the batch -------------------------------------------------

TEST(DesktopMessages, ShowTextTitleIconAndOneButtonWithLineBreaks) {
  QtView view;
  SeenMessage seen;
  ModalAnswer<QMessageBox> answer([&seen](QMessageBox* box) {
    seen.text = box->text();
    seen.title = box->windowTitle();
    seen.icon = box->icon();
    seen.buttons = static_cast<int>(box->buttons().size());
    box->button(QMessageBox::Ok)->click();
  });
  view.ShowMessage(u"3個のファイルを変換しました。\r\nフォルダ：/pics\r\n画質：85", u"変換完了",
                   MessageIcon::kInformation);
  ASSERT_TRUE(answer.answered());
  EXPECT_EQ(seen.text, "3個のファイルを変換しました。\nフォルダ：/pics\n画質：85");
  EXPECT_EQ(seen.title, "変換完了");
  EXPECT_EQ(seen.icon, QMessageBox::Information);
  EXPECT_EQ(seen.buttons, 1);

  ModalAnswer<QMessageBox> failure([&seen](QMessageBox* box) {
    seen.icon = box->icon();
    box->button(QMessageBox::Ok)->click();
  });
  view.ShowMessage(u"変換に失敗しました。", u"変換完了", MessageIcon::kError);
  ASSERT_TRUE(failure.answered());
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
}

// Qt's own dialogs speak Japanese too, whatever the session's language.
TEST(DesktopMessages, FolderChooserUsesQtsJapaneseTexts) {
  QtView view;
  Form1 form{view};
  QStringList chooser_texts;
  ModalAnswer<QFileDialog> chooser([&chooser_texts](QFileDialog* dialog) {
    for (const QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
      chooser_texts << button->text();
    }
    for (const QLabel* label : dialog->findChildren<QLabel*>()) chooser_texts << label->text();
    dialog->reject();
  });
  EXPECT_EQ(view.ChooseFolder(form, u"JPEGファイルの保存場所を指定してください。"), std::nullopt);
  ASSERT_TRUE(chooser.answered());
  EXPECT_TRUE(chooser_texts.contains(QStringLiteral("キャンセル")))
      << chooser_texts.join('|').toStdString();
  EXPECT_FALSE(chooser_texts.contains(QStringLiteral("Cancel")));
  EXPECT_FALSE(chooser_texts.contains(QStringLiteral("Look in:")));
}

}  // namespace
}  // namespace morvane::testing
