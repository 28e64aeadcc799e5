// A batch on the desktop view: the load handler with a slow encoder of the
// test's own, the progress window driven for real on Qt's offscreen
// platform, then the summary message box.
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/load_handler.h"
#include "ui/qt/widget_test_support.h"

namespace morvane::testing {
namespace {

// Notes every progress window that is shown, and when.
class ProgressWindowWatch : public QObject {
 public:
  ProgressWindowWatch() {
    clock_.start();
    qApp->installEventFilter(this);
  }
  ~ProgressWindowWatch() override { qApp->removeEventFilter(this); }

  int shown_count = 0;
  qint64 first_shown_ms = -1;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && watched->objectName() == "BatchProgress") {
      if (shown_count++ == 0) first_shown_ms = clock_.elapsed();
    }
    return false;
  }

 private:
  QElapsedTimer clock_;
};

BatchProgressWindow* ShownProgressWindow() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* window = dynamic_cast<BatchProgressWindow*>(widget);
    if (window != nullptr && window->isVisible()) return window;
  }
  return nullptr;
}

// A batch of `names` bitmaps beside their sources, run by the load handler
// on the Qt view, two calls at a time, each taking `call_time`.
class DesktopBatch {
 public:
  DesktopBatch(int names, std::chrono::milliseconds call_time) {
    for (int i = 1; i <= names; ++i) {
      const std::string name = "p" + std::to_string(i);
      folder_.AddFile(name + ".bmp", "BM");
      command_line_ += folder_.Text() + u"/" + FromSystemText(name) + u".BMP ";
    }
    command_line_.pop_back();
    parts_.load_settings = [](uint8_t& quality, int16_t&) {
      quality = 85;
      return StoredSettings{};
    };
    parts_.workers = 2;
    parts_.convert = [this, call_time](std::u16string&, std::u16string& dest, uint8_t, int16_t,
                                       unsigned) -> int16_t {
      ++started;
      std::this_thread::sleep_for(call_time);
      test_support::WriteFile(ToSystemText(dest), "JPEG");
      ++returned;
      return 0;
    };
  }

  StartUpOutcome Run() { return RunLoadHandler(form, command_line_, parts_); }

  size_t JpegCount() const {
    size_t count = 0;
    for (const std::string& name : folder_.Names()) count += name.ends_with(".jpg") ? 1 : 0;
    return count;
  }
  QString Folder() const { return QString::fromStdU16String(folder_.Text()); }

  QtView view;
  Form1 form{view};
  std::atomic<int> started{0};
  std::atomic<int> returned{0};

 private:
  test_support::TempFolder folder_;
  std::u16string command_line_;
  StartUpParts parts_;
};

TEST(BatchProgressWindow, ShowsTheCountAfterASecondAndCancelStartsNoMoreCalls) {
  DesktopBatch batch(12, std::chrono::milliseconds(400));
  ProgressWindowWatch watch;
  // Cancel as soon as the window shows two calls done.
  QString title;
  QString count_text;
  int bar_value = -1;
  int bar_maximum = -1;
  int started_at_cancel = -1;
  bool cancel_disabled = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    BatchProgressWindow* window = ShownProgressWindow();
    if (window == nullptr || started_at_cancel >= 0) return;
    window->Update();
    auto* bar = window->findChild<QProgressBar*>("ProgressBar");
    auto* cancel = window->findChild<QPushButton*>("Cancel");
    if (bar == nullptr || cancel == nullptr || bar->value() < 2) return;
    title = window->windowTitle();
    count_text = window->findChild<QLabel*>("Count")->text();
    bar_value = bar->value();
    bar_maximum = bar->maximum();
    EXPECT_EQ(cancel->text(), "キャンセル");
    QTest::mouseClick(cancel, Qt::LeftButton);
    started_at_cancel = batch.started;
    cancel_disabled = !cancel->isEnabled();
  });
  poll.start(10);
  SeenMessage seen;
  int returned_at_summary = -1;
  bool progress_gone_at_summary = false;
  ModalAnswer<QMessageBox> summary([&](QMessageBox* box) {
    seen.text = box->text();
    seen.icon = box->icon();
    returned_at_summary = batch.returned;
    progress_gone_at_summary = ShownProgressWindow() == nullptr;
    box->button(QMessageBox::Ok)->click();
  });

  const StartUpOutcome outcome = batch.Run();

  EXPECT_EQ(watch.shown_count, 1);
  EXPECT_GE(watch.first_shown_ms, 900);
  EXPECT_EQ(title, "変換中");
  EXPECT_EQ(bar_maximum, 12);
  EXPECT_EQ(count_text, QString("%1 / 12").arg(bar_value));
  EXPECT_TRUE(cancel_disabled);
  // The calls running when キャンセル was clicked finished (one of the two
  // workers may have been just starting one); no more started.
  ASSERT_GE(started_at_cancel, 2);
  const int started = batch.started;
  EXPECT_LE(started, started_at_cancel + 2);
  EXPECT_LT(started, 12);
  EXPECT_EQ(returned_at_summary, started);
  EXPECT_EQ(batch.JpegCount(), static_cast<size_t>(started));
  ASSERT_TRUE(summary.answered());
  EXPECT_TRUE(progress_gone_at_summary);
  EXPECT_EQ(seen.text.toStdString(),
            QString("%1個のファイルを変換しました。\nフォルダ：%2\n画質：85")
                .arg(started)
                .arg(batch.Folder())
                .toStdString());
  EXPECT_EQ(seen.icon, QMessageBox::Information);
  EXPECT_EQ(outcome, StartUpOutcome::kSomeConverted);
  // A batch never makes the settings window.
  EXPECT_EQ(batch.view.window(), nullptr);
}

TEST(BatchProgressWindow, ShortBatchShowsOnlyItsSummary) {
  DesktopBatch batch(3, std::chrono::milliseconds(20));
  ProgressWindowWatch watch;
  SeenMessage seen;
  ModalAnswer<QMessageBox> summary([&](QMessageBox* box) {
    seen.text = box->text();
    box->button(QMessageBox::Ok)->click();
  });
  EXPECT_EQ(batch.Run(), StartUpOutcome::kAllConverted);
  EXPECT_EQ(watch.shown_count, 0);
  EXPECT_TRUE(seen.text.startsWith("3個のファイルを変換しました。")) << seen.text.toStdString();
  EXPECT_EQ(batch.JpegCount(), 3u);
}

}  // namespace
}  // namespace morvane::testing
