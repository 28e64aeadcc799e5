#include "ui/qt/qt_toolkit.h"

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

#include "ui/layout.h"
#include "ui/qt/morvane_16.xpm"
#include "ui/qt/morvane_32.xpm"

namespace morvane {
namespace {

QString ToQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QString ToQString(const char16_t* text, size_t length) {
  return QString::fromUtf16(text, static_cast<qsizetype>(length));
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

Form1Window::Form1Window(const MorvaneWindowActions& actions)
    : actions_(actions), widgets_(kForm1Controls.size(), nullptr) {
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
  for (size_t row = 0; row < kForm1Controls.size(); ++row) {
    const ControlLayout* parent = FindControlLayout(kForm1Controls[row].parent);
    const int control = static_cast<int>(row);
    widgets_[row] = MakeWidget(
        control,
        parent == nullptr ? this : WidgetOf(static_cast<int>(parent - &kForm1Controls[0])));
  }
  // Controls of the window that lie on a frame (Text1 on Frame2) are drawn
  // above it.
  for (size_t row = 0; row < kForm1Controls.size(); ++row) {
    const ControlLayout& layout = kForm1Controls[row];
    if (layout.parent.empty() && layout.kind != ControlKind::kFrame) widgets_[row]->raise();
  }
  for (size_t row = 0; row < kForm1Controls.size(); ++row) ConnectActions(static_cast<int>(row));
  SetUpTabOrder();
}

Form1Window::~Form1Window() {
  // No action is told while the widgets go.
  for (QWidget* widget : widgets_) {
    widget->removeEventFilter(this);
    widget->blockSignals(true);
  }
}

QWidget* Form1Window::WidgetOf(int control) const {
  return control >= 0 && static_cast<size_t>(control) < widgets_.size()
             ? widgets_[static_cast<size_t>(control)]
             : nullptr;
}

QWidget* Form1Window::MakeWidget(int control, QWidget* parent) {
  const ControlLayout& row = kForm1Controls[static_cast<size_t>(control)];
  const QString caption = ToQString(row.caption);
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
      slider->setRange(kSlider1.min, kSlider1.max);
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
  return widget;
}

// Each widget's own signal tells its kind of action; the text box's click
// comes through eventFilter, Esc through reject, the close box through
// closeEvent.
void Form1Window::ConnectActions(int control) {
  QWidget* widget = WidgetOf(control);
  const MorvaneWindowActions& a = actions_;
  switch (kForm1Controls[static_cast<size_t>(control)].kind) {
    case ControlKind::kCheckBox: {
      auto* box = static_cast<QCheckBox*>(widget);
      connect(box, &QCheckBox::clicked, this, [a, box, control] {
        const Qt::CheckState state = box->checkState();
        a.check_clicked(a.context, control,
                        state == Qt::Checked            ? 1
                        : state == Qt::PartiallyChecked ? 2
                                                        : 0);
      });
      break;
    }
    case ControlKind::kSlider:
      connect(static_cast<QSlider*>(widget), &QSlider::valueChanged, this,
              [a, control](int position) { a.slider_moved(a.context, control, position); });
      break;
    case ControlKind::kOptionButton:
      // A selection by mouse or by arrow keys.
      connect(static_cast<QRadioButton*>(widget), &QRadioButton::toggled, this,
              [a, control](bool checked) {
                if (checked) a.option_selected(a.context, control);
              });
      break;
    case ControlKind::kTextBox:
      connect(static_cast<QLineEdit*>(widget), &QLineEdit::textEdited, this,
              [a, control](const QString& text) {
                a.text_edited(a.context, control, reinterpret_cast<const char16_t*>(text.utf16()),
                              static_cast<size_t>(text.size()));
              });
      break;
    case ControlKind::kCommandButton:
      connect(static_cast<QPushButton*>(widget), &QPushButton::clicked, this,
              [a, control] { a.clicked(a.context, control); });
      break;
    default:
      break;
  }
}

void Form1Window::SetUpTabOrder() {
  std::vector<size_t> order;
  for (size_t row = 0; row < kForm1Controls.size(); ++row)
    if (TakesFocus(kForm1Controls[row].kind)) order.push_back(row);
  std::sort(order.begin(), order.end(), [](size_t a, size_t b) {
    return kForm1Controls[a].tab_index < kForm1Controls[b].tab_index;
  });
  for (size_t i = 1; i < order.size(); ++i) setTabOrder(widgets_[order[i - 1]], widgets_[order[i]]);
}

void Form1Window::SetEnabled(int control, bool enabled) {
  if (QWidget* widget = WidgetOf(control)) widget->setEnabled(enabled);
}

void Form1Window::SetCheck(int control, int state) {
  QWidget* widget = WidgetOf(control);
  if (auto* box = qobject_cast<QCheckBox*>(widget)) {
    box->setCheckState(state == 1   ? Qt::Checked
                       : state == 2 ? Qt::PartiallyChecked
                                    : Qt::Unchecked);
  } else if (auto* option = qobject_cast<QRadioButton*>(widget)) {
    // Qt keeps one of an exclusive pair checked; deselecting goes through
    // selecting the other, which the program does next.
    if (state == 1) option->setChecked(true);
  }
}

// A click still focuses a control Tab passes over.
void Form1Window::SetTabStop(int control, bool tab_stop) {
  if (QWidget* widget = WidgetOf(control))
    widget->setFocusPolicy(tab_stop ? Qt::StrongFocus : Qt::ClickFocus);
}

void Form1Window::SetText(int control, const QString& text) {
  if (auto* edit = qobject_cast<QLineEdit*>(WidgetOf(control))) {
    if (edit->text() != text) edit->setText(text);
  }
}

void Form1Window::SetCaption(int control, const QString& caption) {
  QWidget* widget = WidgetOf(control);
  if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(caption);
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(caption);
  } else if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
    frame->setTitle(caption);
  }
}

void Form1Window::SetPosition(int control, int position) {
  if (auto* slider = qobject_cast<QSlider*>(WidgetOf(control))) slider->setValue(position);
}

void Form1Window::SetBackColour(int control, uint32_t colour) {
  QWidget* widget = WidgetOf(control);
  if (widget == nullptr) return;
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Base, ColourOf(colour, palette));
  widget->setPalette(palette);
}

void Form1Window::reject() { actions_.cancel_key_pressed(actions_.context); }

void Form1Window::closeEvent(QCloseEvent* event) {
  event->accept();
  actions_.close_requested(actions_.context);
}

bool Form1Window::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    for (size_t row = 0; row < widgets_.size(); ++row)
      if (widgets_[row] == watched) actions_.clicked(actions_.context, static_cast<int>(row));
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

BatchProgressWindow::BatchProgressWindow(const MorvaneBatchProgress& progress)
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
  const size_t total = progress_.total(progress_.context);
  const size_t done = progress_.done(progress_.context);
  // The bar's range is an int; a count past it is shown on a scale.
  const int scale_max = total > 1000000 ? 1000000 : static_cast<int>(total);
  bar_->setRange(0, std::max(scale_max, 1));
  bar_->setValue(total == 0 ? 0 : static_cast<int>(done * static_cast<size_t>(scale_max) / total));
  count_->setText(CountText(done, total));
  cancel_->setEnabled(progress_.cancel_requested(progress_.context) == 0);
}

void BatchProgressWindow::reject() {
  // The calls running finish; the view closes the window when they have.
  progress_.request_cancel(progress_.context);
  Update();
}

// ---------------------------------------------------------------------------
// The toolkit

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

// ---------------------------------------------------------------------------
// QtToolkit

class QtToolkit {
 public:
  explicit QtToolkit(std::unique_ptr<QApplication> application)
      : application_(std::move(application)) {
    QApplication::setWindowIcon(MorvaneIcon());
    InstallJapaneseQtTexts();
  }

  void ShowMessage(const QString& text, const QString& title, bool error) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QWidget* parent = window_ != nullptr && window_->isVisible() ? window_.get() : nullptr;
    QMessageBox box(error ? QMessageBox::Critical : QMessageBox::Information, title, shown,
                    QMessageBox::Ok, parent);
    box.exec();
  }
  void MakeWindow(const MorvaneWindowActions& actions) {
    window_ = std::make_unique<Form1Window>(actions);
  }
  void ShowWindow() {
    window_->show();
    window_->activateWindow();
  }
  void HideWindow() {
    if (window_ != nullptr) window_->hide();
  }
  void RunEventLoop() {
    QEventLoop loop;
    loop_ = &loop;
    loop.exec();
    loop_ = nullptr;
  }
  void QuitEventLoop() {
    if (loop_ != nullptr) loop_->exit(0);
  }
  QString ChooseFolder(const QString& title) {
    return QFileDialog::getExistingDirectory(window_.get(), title, QStringLiteral("/"));
  }
  void Focus(int control) {
    if (QWidget* widget = window_->WidgetOf(control)) widget->setFocus(Qt::OtherFocusReason);
  }
  void ShowProgressUntilFinished(const MorvaneBatchProgress& progress);

  Form1Window* window() const { return window_.get(); }

 private:
  std::unique_ptr<QApplication> application_;
  std::unique_ptr<Form1Window> window_;
  QEventLoop* loop_ = nullptr;
};

void QtToolkit::ShowProgressUntilFinished(const MorvaneBatchProgress& progress) {
  BatchProgressWindow window(progress);
  window.show();
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (progress.finished(progress.context) != 0) {
      loop.quit();
    } else {
      window.Update();
    }
  });
  poll.start(kProgressPollMilliseconds);
  loop.exec();
  window.hide();
}

namespace {

QtToolkit& Self(void* self) { return *static_cast<QtToolkit*>(self); }

// Runs `body`; whatever it throws must not pass into the program.
template <class Body>
void Caught(Body body) {
  try {
    body();
  } catch (...) {
    // The call is given up.
  }
}

// Runs `body` and gives what it gives, or `failed` when it throws.
template <class Body>
int CaughtOr(int failed, Body body) {
  try {
    return body();
  } catch (...) {
    return failed;
  }
}

// The window's setters, for a window already made.
template <class Set>
void OnWindow(void* self, Set set) {
  Caught([&] {
    if (Form1Window* window = Self(self).window()) set(*window);
  });
}

const MorvaneToolkit kQtToolkit = {
    nullptr,
    [](void* self) { delete &Self(self); },
    [](void* self, const char16_t* text, size_t text_length, const char16_t* title,
       size_t title_length, int error) {
      Caught([&] {
        Self(self).ShowMessage(ToQString(text, text_length), ToQString(title, title_length),
                               error != 0);
      });
    },
    [](void* self, const MorvaneWindowActions* actions) {
      return CaughtOr(0, [&] {
        Self(self).MakeWindow(*actions);
        return 1;
      });
    },
    [](void* self) { OnWindow(self, [&](Form1Window&) { Self(self).ShowWindow(); }); },
    [](void* self) { Caught([&] { Self(self).HideWindow(); }); },
    [](void* self) { Caught([&] { Self(self).RunEventLoop(); }); },
    [](void* self) { Caught([&] { Self(self).QuitEventLoop(); }); },
    [](void* self, const char16_t* title, size_t title_length, MorvaneTextReceiver receive,
       void* context) {
      return CaughtOr(-1, [&] {
        const QString folder = Self(self).ChooseFolder(ToQString(title, title_length));
        if (folder.isEmpty()) return 0;
        receive(context, reinterpret_cast<const char16_t*>(folder.utf16()),
                static_cast<size_t>(folder.size()));
        return 1;
      });
    },
    [](void* self, int control, int enabled) {
      OnWindow(self, [&](Form1Window& w) { w.SetEnabled(control, enabled != 0); });
    },
    [](void* self, int control, int state) {
      OnWindow(self, [&](Form1Window& w) { w.SetCheck(control, state); });
    },
    [](void* self, int control, int tab_stop) {
      OnWindow(self, [&](Form1Window& w) { w.SetTabStop(control, tab_stop != 0); });
    },
    [](void* self, int control, const char16_t* text, size_t length) {
      OnWindow(self, [&](Form1Window& w) { w.SetText(control, ToQString(text, length)); });
    },
    [](void* self, int control, const char16_t* text, size_t length) {
      OnWindow(self, [&](Form1Window& w) { w.SetCaption(control, ToQString(text, length)); });
    },
    [](void* self, int control, int position) {
      OnWindow(self, [&](Form1Window& w) { w.SetPosition(control, position); });
    },
    [](void* self, int control, uint32_t colour) {
      OnWindow(self, [&](Form1Window& w) { w.SetBackColour(control, colour); });
    },
    [](void* self, int control) {
      OnWindow(self, [&](Form1Window&) { Self(self).Focus(control); });
    },
    [](void* self, const MorvaneBatchProgress* progress) {
      Caught([&] { Self(self).ShowProgressUntilFinished(*progress); });
    },
};

}  // namespace

QtToolkit& OpenQtToolkit(MorvaneToolkit& table, std::unique_ptr<QApplication> application) {
  auto* toolkit = new QtToolkit(std::move(application));
  table = kQtToolkit;
  table.self = toolkit;
  return *toolkit;
}

Form1Window* WindowOf(const QtToolkit& toolkit) { return toolkit.window(); }

}  // namespace morvane
