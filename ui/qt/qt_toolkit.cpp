#include "ui/qt/qt_view.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <QTranslator>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <vector>

#include "core/resume_next.h"
#include "ui/qt/morvane_16.xpm"
#include "ui/qt/morvane_32.xpm"

namespace morvane {
namespace {

QString ToQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QRect PixelsOf(const ControlLayout& row) {
  return QRect(row.left / kTwipsPerPixel, row.top / kTwipsPerPixel, row.width / kTwipsPerPixel,
               row.height / kTwipsPerPixel);
}

// 0x00BBGGRR, or a system colour number with the top bit set; the button
// face is the palette's button colour.
QColor ColourOf(uint32_t value, const QPalette& palette) {
  if ((value & kSystemColourFlag) != 0) {
    switch (value & 0xFF) {
      case 5:  // COLOR_WINDOW
        return palette.color(QPalette::Base);
      case 8:  // COLOR_WINDOWTEXT
        return palette.color(QPalette::Text);
      default:  // COLOR_BTNFACE and the rest
        return palette.color(QPalette::Button);
    }
  }
  return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

// The first of `families` that is installed, else the last one.
QFont FontFrom(const auto& families, double points) {
  QFont font;
  QStringList family_list;
  for (std::u16string_view family : families) family_list << ToQString(family);
  font.setFamilies(family_list);
  const QStringList installed = QFontDatabase::families();
  for (const QString& family : family_list) {
    if (installed.contains(family)) {
      font.setFamily(family);
      break;
    }
  }
  font.setPointSizeF(points);
  return font;
}

// The window's user-interface font: MS UI Gothic where it exists, else an
// installed Japanese sans font. 9 points is the size Windows uses; the
// Linux fallbacks are wider, so they get a little less to keep every
// caption inside its twips box.
QFont WindowFont() {
  static constexpr std::u16string_view kFamilies[] = {u"MS UI Gothic", u"VL PGothic", u"VL Gothic"};
  QFont font = FontFrom(kFamilies, 9.0);
  if (font.family() != QStringLiteral("MS UI Gothic")) font.setPointSizeF(8.0);
  return font;
}

QFont CreditFont() {
  QFont font = FontFrom(kCreditFontFamilies, kCreditFontPoints);
  font.setWeight(QFont::Weight(kCreditFontWeight));
  font.setItalic(kCreditFontItalic);
  return font;
}

bool TakesFocus(ControlKind kind) {
  return kind != ControlKind::kLabel && kind != ControlKind::kFrame;
}

}  // namespace

QIcon MorvaneIcon() {
  QIcon icon;
  icon.addPixmap(QPixmap(morvane_32_xpm));
  icon.addPixmap(QPixmap(morvane_16_xpm));
  return icon;
}

// ---------------------------------------------------------------------------
// Form1Window

Form1Window::Form1Window(Form1& form) : form_(form) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(ToQString(kForm1Window.caption));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(MorvaneIcon());
  setFont(WindowFont());
  setFixedSize(kForm1Window.client_width / kTwipsPerPixel,
               kForm1Window.client_height / kTwipsPerPixel);
  setSizeGripEnabled(false);

  // Containers come before their contents in the table, except the window's
  // own controls, which need no container.
  for (Control* control : form_.controls()) {
    QWidget* parent = this;
    if (!control->layout().parent.empty()) {
      parent = WidgetOf(control->layout().parent);
    }
    widgets_[control] = MakeWidget(*control, parent);
  }
  // Controls of the window that lie on a frame (Text1 on Frame2) are drawn
  // above it.
  for (Control* control : form_.controls()) {
    if (control->layout().parent.empty() && control->kind() != ControlKind::kFrame) {
      WidgetOf(*control)->raise();
    }
  }
  for (Control* control : form_.controls()) ConnectActions(*control, WidgetOf(*control));
  SetUpTabOrder();
  UpdateOptionFocus();
}

Form1Window::~Form1Window() {
  // The form may already be gone: no handler may run while the widgets go.
  mirroring_ = true;
  for (auto& [control, widget] : widgets_) {
    widget->removeEventFilter(this);
    widget->blockSignals(true);
  }
}

QWidget* Form1Window::WidgetOf(const Control& control) const {
  const auto found = widgets_.find(&control);
  return found == widgets_.end() ? nullptr : found->second;
}

QWidget* Form1Window::WidgetOf(std::string_view name) const {
  const Control* control = form_.FindControl(name);
  return control == nullptr ? nullptr : WidgetOf(*control);
}

QWidget* Form1Window::MakeWidget(Control& control, QWidget* parent) {
  const ControlLayout& row = control.layout();
  const QString caption = ToQString(control.caption());
  QWidget* widget = nullptr;
  switch (row.kind) {
    case ControlKind::kTextBox: {
      auto* edit = new QLineEdit(parent);
      edit->installEventFilter(this);
      widget = edit;
      break;
    }
    case ControlKind::kFrame:
      widget = new QGroupBox(caption, parent);
      break;
    case ControlKind::kCommandButton: {
      auto* button = new QPushButton(caption, parent);
      button->setAutoDefault(true);
      button->setDefault(row.role == ButtonRole::kDefault);
      widget = button;
      break;
    }
    case ControlKind::kOptionButton:
      widget = new QRadioButton(caption, parent);
      break;
    case ControlKind::kCheckBox:
      widget = new QCheckBox(caption, parent);
      break;
    case ControlKind::kSlider: {
      auto* slider = new QSlider(Qt::Horizontal, parent);
      slider->setRange(control.min(), control.max());
      slider->setSingleStep(kSlider1.small_change);
      slider->setPageStep(kSlider1.large_change);
      slider->setTickPosition(QSlider::NoTicks);
      widget = slider;
      break;
    }
    case ControlKind::kLabel: {
      auto* label = new QLabel(caption, parent);
      // Some glyphs reach one pixel left of their origin.
      label->setIndent(1);
      if (row.name == "Label6") label->setAlignment(Qt::AlignCenter);
      widget = label;
      break;
    }
  }
  widget->setObjectName(
      QString::fromUtf8(row.name.data(), static_cast<qsizetype>(row.name.size())));
  widget->setGeometry(PixelsOf(row));
  if (row.credit_font) widget->setFont(CreditFont());
  widget->setFocusPolicy(TakesFocus(row.kind) ? Qt::StrongFocus : Qt::NoFocus);
  widgets_[&control] = widget;
  for (ControlProperty property :
       {ControlProperty::kEnabled, ControlProperty::kBackColor, ControlProperty::kText,
        ControlProperty::kValue, ControlProperty::kPosition}) {
    Mirror(control, property);
  }
  return widget;
}

template <class Handler>
void Form1Window::RunHandler(Handler handler) {
  if (mirroring_ || form_.ended()) return;
  try {
    handler();
  } catch (const std::exception&) {
    // A failure ends the handler; the window goes on.
  }
}

void Form1Window::ConnectActions(Control& control, QWidget* widget) {
  if (&control == &form_.Check1) {
    auto* box = static_cast<QCheckBox*>(widget);
    connect(box, &QCheckBox::clicked, this, [this, box] {
      RunHandler([this, box] {
        const Qt::CheckState state = box->checkState();
        form_.Check1.SetValue(state == Qt::Checked ? 1 : state == Qt::PartiallyChecked ? 2 : 0);
        form_.Check1_Click();
      });
    });
  } else if (&control == &form_.Slider1) {
    connect(static_cast<QSlider*>(widget), &QSlider::valueChanged, this, [this](int position) {
      RunHandler([this, position] {
        form_.Slider1.SetPosition(position);
        form_.Slider1_Change();
      });
    });
  } else if (&control == &form_.Option1 || &control == &form_.Option2) {
    // A user's selection, by mouse or by arrow keys, runs the handler of the
    // option that became selected.
    const bool first = &control == &form_.Option1;
    connect(static_cast<QRadioButton*>(widget), &QRadioButton::toggled, this,
            [this, first](bool checked) {
              if (!checked) return;
              RunHandler([this, first] {
                if (first) {
                  form_.Option1_Click();
                } else {
                  form_.Option2_Click();
                }
              });
            });
  } else if (&control == &form_.Text1) {
    connect(static_cast<QLineEdit*>(widget), &QLineEdit::textEdited, this,
            [this](const QString& text) {
              RunHandler([this, &text] { form_.Text1.SetText(text.toStdU16String()); });
            });
  } else if (control.kind() == ControlKind::kCommandButton) {
    auto* button = static_cast<QPushButton*>(widget);
    if (&control == &form_.Command1) {
      connect(button, &QPushButton::clicked, this,
              [this] { RunHandler([this] { form_.Command1_Click(); }); });
    } else if (&control == &form_.Command2) {
      connect(button, &QPushButton::clicked, this,
              [this] { RunHandler([this] { form_.Command2_Click(); }); });
    } else if (&control == &form_.Command3) {
      connect(button, &QPushButton::clicked, this,
              [this] { RunHandler([this] { form_.Command3_Click(); }); });
    }
  }
}

void Form1Window::SetUpTabOrder() {
  std::vector<const Control*> order;
  for (const Control* control : form_.controls()) {
    if (TakesFocus(control->kind())) order.push_back(control);
  }
  std::sort(order.begin(), order.end(), [](const Control* a, const Control* b) {
    return a->layout().tab_index < b->layout().tab_index;
  });
  for (size_t i = 1; i < order.size(); ++i) {
    setTabOrder(WidgetOf(*order[i - 1]), WidgetOf(*order[i]));
  }
}

// Tab reaches only the selected option button of the pair; a click still
// focuses the other.
void Form1Window::UpdateOptionFocus() {
  for (const Control* option : {&form_.Option1, &form_.Option2}) {
    if (QWidget* widget = WidgetOf(*option)) {
      widget->setFocusPolicy(option->value() == 1 ? Qt::StrongFocus : Qt::ClickFocus);
    }
  }
}

void Form1Window::Mirror(const Control& control, ControlProperty property) {
  QWidget* widget = WidgetOf(control);
  if (widget == nullptr) return;
  const bool was_mirroring = std::exchange(mirroring_, true);
  switch (property) {
    case ControlProperty::kEnabled:
      widget->setEnabled(control.enabled());
      break;
    case ControlProperty::kBackColor:
      if (control.kind() == ControlKind::kTextBox) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Base, ColourOf(control.back_color(), palette));
        widget->setPalette(palette);
      }
      break;
    case ControlProperty::kText:
      if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        const QString text = ToQString(control.text());
        if (edit->text() != text) edit->setText(text);
      }
      break;
    case ControlProperty::kCaption:
      if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(ToQString(control.caption()));
      } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(ToQString(control.caption()));
      } else if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
        frame->setTitle(ToQString(control.caption()));
      }
      break;
    case ControlProperty::kValue:
      if (auto* box = qobject_cast<QCheckBox*>(widget)) {
        box->setCheckState(control.value() == 1   ? Qt::Checked
                           : control.value() == 2 ? Qt::PartiallyChecked
                                                  : Qt::Unchecked);
      } else if (auto* option = qobject_cast<QRadioButton*>(widget)) {
        // Qt keeps one of an exclusive pair checked; deselecting goes
        // through selecting the other, which the form does next.
        if (control.value() == 1) option->setChecked(true);
        UpdateOptionFocus();
      }
      break;
    case ControlProperty::kPosition:
      if (auto* slider = qobject_cast<QSlider*>(widget)) slider->setValue(control.position());
      break;
  }
  mirroring_ = was_mirroring;
}

void Form1Window::reject() {
  // Closing by any other way than a button ends the program unsaved.
  if (!form_.ended()) form_.EndProgram();
}

void Form1Window::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    for (const Control* control : form_.controls()) {
      if (control->layout().role == ButtonRole::kCancel && control->enabled()) {
        static_cast<QPushButton*>(WidgetOf(*control))->click();
        return;
      }
    }
  }
  QDialog::keyPressEvent(event);
}

void Form1Window::closeEvent(QCloseEvent* event) {
  event->accept();
  if (!form_.ended()) form_.EndProgram();
}

bool Form1Window::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
      watched == WidgetOf(form_.Text1) && form_.Text1.enabled()) {
    RunHandler([this] { form_.Text1_Click(); });
  }
  return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// BatchProgressWindow

namespace {

constexpr std::u16string_view kProgressTitle = u"変換中";
constexpr std::u16string_view kCancelCaption = u"キャンセル";
// How often the window looks at the count, and whether the batch is over.
constexpr int kProgressPollMilliseconds = 50;

QString CountText(size_t done, size_t total) {
  return QStringLiteral("%1 / %2").arg(done).arg(total);
}

}  // namespace

BatchProgressWindow::BatchProgressWindow(BatchProgress& progress)
    : progress_(progress),
      bar_(new QProgressBar(this)),
      count_(new QLabel(this)),
      cancel_(new QPushButton(ToQString(kCancelCaption), this)) {
  setObjectName(QStringLiteral("BatchProgress"));
  setWindowTitle(ToQString(kProgressTitle));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(MorvaneIcon());
  setFont(WindowFont());
  bar_->setObjectName(QStringLiteral("ProgressBar"));
  bar_->setTextVisible(false);
  bar_->setMinimumWidth(280);
  count_->setObjectName(QStringLiteral("Count"));
  cancel_->setObjectName(QStringLiteral("Cancel"));
  cancel_->setAutoDefault(false);
  connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cancel_);
  auto* column = new QVBoxLayout(this);
  column->addWidget(count_);
  column->addWidget(bar_);
  column->addLayout(buttons);
  column->setSizeConstraint(QLayout::SetFixedSize);
  Update();
}

void BatchProgressWindow::Update() {
  const size_t total = progress_.total();
  const size_t done = progress_.done();
  // The bar's range is an int; a count past it is shown on a scale.
  const int scale_max = total > 1000000 ? 1000000 : static_cast<int>(total);
  bar_->setRange(0, std::max(scale_max, 1));
  bar_->setValue(total == 0 ? 0 : static_cast<int>(done * static_cast<size_t>(scale_max) / total));
  count_->setText(CountText(done, total));
  cancel_->setEnabled(!progress_.cancel_requested());
}

void BatchProgressWindow::reject() {
  // The calls running finish; the view closes the window when they have.
  progress_.RequestCancel();
  Update();
}

// ---------------------------------------------------------------------------
// QtView

void InstallJapaneseQtTexts() {
  // Qt's own dialogs speak the program's language, whatever the session's.
  // Installed once per application; the translator lives as long as it.
  static QCoreApplication* installed_for = nullptr;
  QCoreApplication* application = QCoreApplication::instance();
  if (application == nullptr || installed_for == application) return;
  auto* translator = new QTranslator(application);
  if (translator->load(QStringLiteral("qtbase_ja"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(translator);
    installed_for = application;
  } else {
    delete translator;
  }
}

QtView::QtView(std::unique_ptr<QApplication> application) : application_(std::move(application)) {
  QApplication::setWindowIcon(MorvaneIcon());
  InstallJapaneseQtTexts();
}

QtView::~QtView() = default;

void QtView::ShowMessage(std::u16string_view text, std::u16string_view title, MessageIcon icon) {
  QString shown = ToQString(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QWidget* parent = window_ != nullptr && window_->isVisible() ? window_.get() : nullptr;
  QMessageBox box(icon == MessageIcon::kError ? QMessageBox::Critical : QMessageBox::Information,
                  ToQString(title), shown, QMessageBox::Ok, parent);
  box.exec();
}

int QtView::RunWindow(Form1& form) {
  ShowWindow(form);
  if (form.ended()) return 0;
  QEventLoop loop;
  loop_ = &loop;
  loop.exec();
  loop_ = nullptr;
  return 0;
}

std::optional<std::u16string> QtView::ChooseFolder(Form1& form, std::u16string_view title) {
  const QString folder =
      QFileDialog::getExistingDirectory(&WindowFor(form), ToQString(title), QStringLiteral("/"));
  if (folder.isEmpty()) return std::nullopt;
  return folder.toStdU16String();
}

void QtView::PropertyChanged(Form1&, const Control& control, ControlProperty property) {
  if (window_ != nullptr) window_->Mirror(control, property);
}

void QtView::FocusMoved(Form1&, const Control& control) {
  if (window_ == nullptr) return;
  if (QWidget* widget = window_->WidgetOf(control)) widget->setFocus(Qt::OtherFocusReason);
}

void QtView::EndProgram(Form1&) {
  if (window_ != nullptr) window_->hide();
  if (loop_ != nullptr) loop_->exit(0);
}

void QtView::WaitForBatch(BatchProgress& progress) {
  if (progress.WaitUntil(progress.started() + kBatchProgressDelay)) return;
  BatchProgressWindow window(progress);
  window.show();
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (progress.finished()) {
      loop.quit();
    } else {
      window.Update();
    }
  });
  poll.start(kProgressPollMilliseconds);
  loop.exec();
  window.hide();
}

Form1Window& QtView::WindowFor(Form1& form) {
  if (window_ == nullptr) window_ = std::make_unique<Form1Window>(form);
  return *window_;
}

Form1Window& QtView::ShowWindow(Form1& form) {
  Form1Window& window = WindowFor(form);
  if (form.ended()) return window;
  window.show();
  window.activateWindow();
  form.SetShown(true);
  RunStep([&] { form.SetFocus(form.Command3); });
  return window;
}

}  // namespace morvane
