// The desktop view of Form1 on Qt Widgets: the settings window made from the
// layout table, mirroring Form1's controls and handing the user's actions to
// its handlers, and the modal message boxes and folder chooser.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ui/form1.h"
#include "ui/view.h"

class QApplication;
class QEventLoop;
class QLabel;
class QProgressBar;
class QPushButton;

namespace morvane {

// Form1 on screen: a fixed-size dialog whose widgets stand where the layout
// table puts them, named after their controls.
class Form1Window : public QDialog {
 public:
  explicit Form1Window(Form1& form);
  ~Form1Window() override;

  // The widget of `control` (or of the control named `name`); nullptr for
  // an unknown name.
  QWidget* WidgetOf(const Control& control) const;
  QWidget* WidgetOf(std::string_view name) const;

  // Puts one property of `control` onto its widget; runs no handler.
  void Mirror(const Control& control, ControlProperty property);

  void reject() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* MakeWidget(Control& control, QWidget* parent);
  void ConnectActions(Control& control, QWidget* widget);
  void SetUpTabOrder();
  void UpdateOptionFocus();
  // Runs `handler` for a user action: not after the end of the program, and
  // a failure ends only the handler.
  template <class Handler>
  void RunHandler(Handler handler);

  Form1& form_;
  std::map<const Control*, QWidget*> widgets_;
  bool mirroring_ = false;
};

// The progress of a long batch: the count of encoder calls returned on a
// bar and as text ("12 / 200"), and キャンセル, which asks the batch to start
// no more calls. Esc and the close button do the same; the window stays
// until its view closes it.
class BatchProgressWindow : public QDialog {
 public:
  explicit BatchProgressWindow(BatchProgress& progress);

  // Shows the count the batch has reached.
  void Update();

  void reject() override;

 private:
  BatchProgress& progress_;
  QProgressBar* bar_;
  QLabel* count_;
  QPushButton* cancel_;
};

class QtView : public View {
 public:
  // Uses the running QApplication; owns `application` when one is given.
  explicit QtView(std::unique_ptr<QApplication> application = nullptr);
  ~QtView() override;

  void ShowMessage(std::u16string_view text, std::u16string_view title, MessageIcon icon) override;
  int RunWindow(Form1& form) override;
  std::optional<std::u16string> ChooseFolder(Form1& form, std::u16string_view title) override;
  void PropertyChanged(Form1& form, const Control& control, ControlProperty property) override;
  void FocusMoved(Form1& form, const Control& control) override;
  void EndProgram(Form1& form) override;
  // Shows a BatchProgressWindow once the batch has run kBatchProgressDelay
  // and runs the event loop until the batch has finished.
  void WaitForBatch(BatchProgress& progress) override;

  // The window of `form`, made hidden the first time.
  Form1Window& WindowFor(Form1& form);
  // Shows the window of `form` with the focus on Command3; RunWindow then
  // runs the event loop until the program ends.
  Form1Window& ShowWindow(Form1& form);
  // The window, or nullptr before it is made.
  Form1Window* window() const { return window_.get(); }

 private:
  std::unique_ptr<QApplication> application_;
  std::unique_ptr<Form1Window> window_;
  QEventLoop* loop_ = nullptr;
};

// Loads Qt's Japanese texts (qtbase_ja) into the running application, so
// that the folder chooser and the message boxes read "キャンセル", not
// "Cancel". Without the translation file Qt keeps its English texts.
void InstallJapaneseQtTexts();

// The program's icon: a framed landscape with a "J", 32 x 32 and 16 x 16.
QIcon MorvaneIcon();

}  // namespace morvane
