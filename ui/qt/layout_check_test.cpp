// The window as built checked against the layout table: geometry in twips,
// containers, captions, initial state, fonts, the keyboard order, and that
// every caption fits its box.
#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <algorithm>
#include <vector>

#include "ui/qt/widget_test_support.h"

namespace morvane::testing {
namespace {

QString ToQ(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QString CaptionOf(QWidget* widget) {
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  if (auto* frame = qobject_cast<QGroupBox*>(widget)) return frame->title();
  return QString();
}

// The widgets the Tab key visits, in order, starting at `first`.
std::vector<QString> TabOrderFrom(QWidget* first) {
  std::vector<QString> order;
  QWidget* widget = first;
  do {
    if ((widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && widget->isEnabled() &&
        widget->isVisible()) {
      order.push_back(widget->objectName());
    }
    widget = widget->nextInFocusChain();
  } while (widget != first && order.size() < 40);
  return order;
}

using WindowLayoutCheck = Form1WindowTest;

TEST_F(WindowLayoutCheck, EveryControlStandsWhereTheTableSays) {
  Show();
  ASSERT_EQ(window_->devicePixelRatioF(), 1.0);
  for (const ControlLayout& row : kForm1Controls) {
    SCOPED_TRACE(std::string(row.name));
    QWidget* widget = Widget(std::string(row.name).c_str());
    ASSERT_NE(widget, nullptr);
    const QRect geometry = widget->geometry();
    EXPECT_EQ(geometry.x() * kTwipsPerPixel, row.left);
    EXPECT_EQ(geometry.y() * kTwipsPerPixel, row.top);
    EXPECT_EQ(geometry.width() * kTwipsPerPixel, row.width);
    EXPECT_EQ(geometry.height() * kTwipsPerPixel, row.height);
    const QString parent = row.parent.empty()
                               ? QStringLiteral("Form1")
                               : QString::fromLatin1(row.parent.data(), row.parent.size());
    EXPECT_EQ(widget->parentWidget()->objectName(), parent);
    EXPECT_EQ(CaptionOf(widget), ToQ(row.caption));
    EXPECT_EQ(widget->isEnabled(), row.enabled);
    EXPECT_TRUE(widget->isVisible());
  }
}

TEST_F(WindowLayoutCheck, WindowIsFixedWithCloseButtonOnlyCaptionAndIcon) {
  Show();
  EXPECT_EQ(window_->windowTitle(), "Morvane <設定>");
  EXPECT_EQ(window_->size(), QSize(376, 272));
  EXPECT_EQ(window_->minimumSize(), window_->maximumSize());
  const Qt::WindowFlags flags = window_->windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  const QList<QSize> sizes = window_->windowIcon().availableSizes();
  EXPECT_TRUE(sizes.contains(QSize(16, 16)));
  EXPECT_TRUE(sizes.contains(QSize(32, 32)));
  EXPECT_TRUE(Widget<QPushButton>("Command3")->isDefault());
  EXPECT_FALSE(Widget<QPushButton>("Command1")->isDefault());
  auto* slider = Widget<QSlider>("Slider1");
  EXPECT_EQ(slider->singleStep(), 1);
  EXPECT_EQ(slider->pageStep(), 5);
  EXPECT_EQ(slider->orientation(), Qt::Horizontal);
}

TEST_F(WindowLayoutCheck, Text1LiesAboveFrame2) {
  Show();
  QWidget* text1 = Widget("Text1");
  const QPoint centre = text1->geometry().center();
  QWidget* hit = window_->childAt(centre);
  ASSERT_NE(hit, nullptr);
  EXPECT_TRUE(hit == text1 || text1->isAncestorOf(hit));
}

TEST_F(WindowLayoutCheck, CreditLinesUseTheirOwnItalicFont) {
  Show();
  for (const char* name : {"Label8", "Label9"}) {
    SCOPED_TRACE(name);
    const QFont font = Widget(name)->font();
    EXPECT_TRUE(font.italic());
    EXPECT_DOUBLE_EQ(font.pointSizeF(), 9.75);
    EXPECT_EQ(font.weight(), QFont::Normal);
    const QStringList allowed = {"ＭＳ Ｐゴシック", "VL PGothic", "VL Gothic"};
    EXPECT_TRUE(allowed.contains(QFontInfo(font).family()))
        << QFontInfo(font).family().toStdString();
  }
  EXPECT_FALSE(Widget("Label6")->font().italic());
}

// The ink of every caption lies inside its box: full-width parentheses may
// stick out with their empty side bearings, never with a visible stroke.
TEST_F(WindowLayoutCheck, EveryCaptionFitsItsBox) {
  Show();
  for (const ControlLayout& row : kForm1Controls) {
    if (row.caption.empty()) continue;
    SCOPED_TRACE(std::string(row.name));
    QWidget* widget = Widget(std::string(row.name).c_str());
    const QFontMetrics metrics(widget->font());
    QString shown = ToQ(row.caption);
    shown.remove('&');
    QRect ink = metrics.boundingRect(shown);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
      if (label->alignment() & Qt::AlignLeft) ink.translate(label->indent(), 0);
    }
    int room = widget->width();
    switch (row.kind) {
      case ControlKind::kOptionButton:
        room -= widget->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, widget) +
                widget->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, widget);
        break;
      case ControlKind::kCheckBox:
        room -= widget->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, widget) +
                widget->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, widget);
        break;
      case ControlKind::kCommandButton:
        room -= 2 * widget->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, widget);
        break;
      default:
        break;
    }
    // A label's text starts at its left edge; the other kinds indent it.
    if (row.kind == ControlKind::kLabel) {
      EXPECT_GE(ink.left(), 0);
    }
    EXPECT_LT(ink.right(), room);
    EXPECT_LE(metrics.height(), widget->height());
  }
}

TEST_F(WindowLayoutCheck, TabVisitsTheControlsInOrderSkippingDisabledOnes) {
  StartWith("");
  EXPECT_EQ(window_->focusWidget(), Widget("Command3"));
  const std::vector<QString> next_to_source = {"Command3", "Command1", "Check1", "Slider1",
                                               "Option2"};
  EXPECT_EQ(TabOrderFrom(Widget("Command3")), next_to_source);

  form_.Text1.SetText(u"/srv");
  form_.Option1_Click();
  const std::vector<QString> chosen_folder = {"Command3", "Command1", "Check1", "Slider1",
                                              "Option1",  "Command2", "Text1"};
  EXPECT_EQ(TabOrderFrom(Widget("Command3")), chosen_folder);

  // The Tab key itself walks the same way and comes round again.
  Widget("Command3")->setFocus();
  for (size_t i = 1; i <= chosen_folder.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), chosen_folder[i % chosen_folder.size()]);
  }
}

}  // namespace
}  // namespace morvane::testing
