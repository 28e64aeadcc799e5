// Helpers of the widget tests: a shown Form1 window whose Save writes a
// settings file in a temporary folder, and answers to the modal dialogs the
// window opens.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "settings/settings.h"
#include "test_support/files.h"
#include "ui/form1.h"
#include "ui/module_toolkit.h"
#include "ui/qt/qt_toolkit.h"
#include "ui/toolkit_view.h"

namespace morvane::testing {

namespace fs = std::filesystem;

// The Qt toolkit on the running QApplication, through the window module's C
// interface as the program reaches it.
struct OpenedQtToolkit {
  MorvaneToolkit table{};
  QtToolkit* qt = &OpenQtToolkit(table, nullptr);
};

// The desktop view as the program gets it from the window module, with its
// window at hand.
class QtView : private OpenedQtToolkit, public ToolkitView {
 public:
  QtView() : ToolkitView(MakeModuleToolkit(table)) {}

  // Shows the window of `form` with the focus on Command3.
  Form1Window& ShowWindow(Form1& form) {
    ToolkitView::ShowWindow(form);
    return *window();
  }
  // The window, or nullptr before it is made.
  Form1Window* window() const { return WindowOf(*qt); }
};

// Answers the next modal dialog of type `Dialog` as soon as it is up. Gives
// up after ten seconds; `answered` then stays false.
template <class Dialog>
class ModalAnswer {
 public:
  explicit ModalAnswer(std::function<void(Dialog*)> answer) : answer_(std::move(answer)) {
    clock_.start();
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(10);
  }
  bool answered() const { return answered_; }

 private:
  void Poll() {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    if (dialog != nullptr && dialog->isVisible()) {
      timer_.stop();
      answered_ = true;
      answer_(dialog);
    } else if (clock_.elapsed() > 10000) {
      timer_.stop();
    }
  }

  std::function<void(Dialog*)> answer_;
  QTimer timer_;
  QElapsedTimer clock_;
  bool answered_ = false;
};

// What a message box showed.
struct SeenMessage {
  QString text;
  QString title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  int buttons = 0;
  bool parent_is_window = false;
};

class Form1WindowTest : public ::testing::Test {
 public:
  Form1WindowTest() {
    form_.SetSettingsWriter([this](uint8_t quality, int16_t progressive, std::u16string_view folder,
                                   bool option2_selected) {
      return SaveSettingsTo(FromSystemText(settings_file_.string()), quality, progressive, folder,
                            option2_selected);
    });
  }
  // Start-up with `content` as the settings file (none when empty): load,
  // fill the window's controls, show the window.
  void StartWith(const std::string& content) {
    if (!content.empty()) test_support::WriteFile(settings_file_, content);
    const StoredSettings stored =
        LoadSettingsFrom(FromSystemText(settings_file_.string()), form_.Quality, form_.Progressive);
    ShowStoredSettings(form_, stored);
    Show();
  }

  void Show() {
    window_ = &view_.ShowWindow(form_);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_));
  }

  template <class W = QWidget>
  W* Widget(const char* name) const {
    W* widget = window_ != nullptr ? window_->findChild<W*>(QString::fromLatin1(name)) : nullptr;
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  // Clicks a radio button or check box on its indicator.
  static void ClickIndicator(QWidget* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
  }

  // Answers the next folder chooser with `folder`, or cancels it when
  // `folder` is empty; records its title, start folder and owner.
  std::unique_ptr<ModalAnswer<QFileDialog>> AnswerFolderChooser(const QString& folder) {
    return std::make_unique<ModalAnswer<QFileDialog>>([this, folder](QFileDialog* dialog) {
      chooser_title_ = dialog->windowTitle();
      chooser_start_ = dialog->directory().absolutePath();
      chooser_owner_ = dialog->parentWidget();
      if (folder.isEmpty()) {
        dialog->reject();
      } else {
        // Typed into the name box as an absolute path, the choice does not
        // wait for the dialog's file list, which fills in the background.
        auto* name_box = dialog->findChild<QLineEdit*>("fileNameEdit");
        if (name_box != nullptr) {
          name_box->setText(folder);
        } else {
          dialog->setDirectory(folder);
          dialog->selectFile(folder);
        }
        static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept is protected
      }
    });
  }

  // Answers the next message box with OK and records it in `seen`.
  std::unique_ptr<ModalAnswer<QMessageBox>> AnswerMessage(SeenMessage& seen) {
    return std::make_unique<ModalAnswer<QMessageBox>>([this, &seen](QMessageBox* box) {
      seen.text = box->text();
      seen.title = box->windowTitle();
      seen.icon = box->icon();
      seen.buttons = static_cast<int>(box->buttons().size());
      seen.parent_is_window = box->parentWidget() == window_;
      box->button(QMessageBox::Ok)->click();
    });
  }

  std::string SettingsFileContent() const { return test_support::ReadText(settings_file_); }

  QtView view_;
  Form1 form_{view_};
  Form1Window* window_ = nullptr;
  test_support::TempFolder folder_;
  fs::path settings_file_ = folder_ / "Morvane.ini";
  QString chooser_title_;
  QString chooser_start_;
  QWidget* chooser_owner_ = nullptr;
};

}  // namespace morvane::testing
