// The toolkit's part of the desktop view on Qt Widgets (window_toolkit.h),
// behind the window module's C interface (desktop_module.h): the settings
// window made from the layout table, its widgets set as the program says and
// the user's actions told back, the modal message boxes and folder chooser,
// and the progress window of a long batch.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <memory>
#include <string_view>
#include <vector>

#include "ui/desktop_module.h"

class QApplication;
class QLabel;
class QProgressBar;
class QPushButton;

namespace morvane {

// Form1 on screen: a fixed-size dialog whose widgets stand where the layout
// table puts them, named after their controls, and which tells the user's
// actions to `actions`.
class Form1Window : public QDialog {
 public:
  explicit Form1Window(const MorvaneWindowActions& actions);
  ~Form1Window() override;

  // The widget of a row of kForm1Controls.
  QWidget* WidgetOf(int control) const;

  void SetEnabled(int control, bool enabled);
  void SetCheck(int control, int state);
  void SetTabStop(int control, bool tab_stop);
  void SetText(int control, const QString& text);
  void SetCaption(int control, const QString& caption);
  void SetPosition(int control, int position);
  void SetBackColour(int control, uint32_t colour);

  // Esc: the program presses the cancel button.
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* MakeWidget(int control, QWidget* parent);
  void ConnectActions(int control);
  void SetUpTabOrder();

  MorvaneWindowActions actions_;
  std::vector<QWidget*> widgets_;  // by row
};

// The progress of a long batch: the count of encoder calls returned on a
// bar and as text ("12 / 200"), and キャンセル, which asks the batch to start
// no more calls. Esc and the close button do the same; the window stays
// until its toolkit closes it.
class BatchProgressWindow : public QDialog {
 public:
  explicit BatchProgressWindow(const MorvaneBatchProgress& progress);

  // Shows the count the batch has reached.
  void Update();

  void reject() override;

 private:
  MorvaneBatchProgress progress_;
  QProgressBar* bar_;
  QLabel* count_;
  QPushButton* cancel_;
};

class QtToolkit;

// Fills `table` with a new toolkit on the running QApplication, or on
// `application`, which it then owns. Gives the toolkit (whose window the
// widget tests look at); table.destroy deletes it.
QtToolkit& OpenQtToolkit(MorvaneToolkit& table, std::unique_ptr<QApplication> application);

// The toolkit's window, or nullptr before it is made.
Form1Window* WindowOf(const QtToolkit& toolkit);

// Loads Qt's Japanese texts (qtbase_ja) into the running application, so
// that the folder chooser and the message boxes read "キャンセル", not
// "Cancel". Without the translation file Qt keeps its English texts.
void InstallJapaneseQtTexts();

// The program's icon: a framed landscape with a "J", 32 x 32 and 16 x 16.
QIcon MorvaneIcon();

}  // namespace morvane
