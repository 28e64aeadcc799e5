#include "ui/win32/win32_view.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <exception>
#include <vector>

#include "core/resume_next.h"
#include "ui/desktop_view.h"

namespace morvane {
namespace {

// The icon resource of the program, when it has one.
constexpr int kIconResourceId = 1;  // IDI_MORVANE
constexpr int kFirstPlainControlId = 100;
constexpr int kScreenDpi = 96;

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

std::u16string FromWide(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

// The dots per inch of `window`: its own where the system says, else the
// screen's.
int DpiOf(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto get_dpi_for_window =
      reinterpret_cast<GetDpiForWindowFunction>(reinterpret_cast<void*>(
          ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (get_dpi_for_window != nullptr && window != nullptr) {
    if (const UINT dpi = get_dpi_for_window(window); dpi != 0) return static_cast<int>(dpi);
  }
  HDC screen = ::GetDC(nullptr);
  const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : kScreenDpi;
  if (screen != nullptr) ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kScreenDpi;
}

// Where a control stands in the window's client area: a control inside a
// frame is measured from the frame's corner, and the frame from the
// window's.
RECT ClientRectOf(const ControlLayout& row, int dpi) {
  int left = row.left;
  int top = row.top;
  if (const ControlLayout* frame = FindControlLayout(row.parent)) {
    left += frame->left;
    top += frame->top;
  }
  const int x = PixelsFromTwips(left, dpi);
  const int y = PixelsFromTwips(top, dpi);
  return RECT{x, y, x + PixelsFromTwips(row.width, dpi), y + PixelsFromTwips(row.height, dpi)};
}

const wchar_t* WindowClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::kTextBox:
      return WC_EDITW;
    case ControlKind::kSlider:
      return TRACKBAR_CLASSW;
    case ControlKind::kLabel:
      return WC_STATICW;
    default:
      return WC_BUTTONW;
  }
}

bool TakesFocus(ControlKind kind) {
  return kind != ControlKind::kLabel && kind != ControlKind::kFrame;
}

DWORD StyleOf(const ControlLayout& row) {
  DWORD style = WS_CHILD | WS_VISIBLE;
  if (TakesFocus(row.kind)) style |= WS_TABSTOP;
  switch (row.kind) {
    case ControlKind::kTextBox:
      return style | WS_BORDER | ES_AUTOHSCROLL | ES_LEFT;
    case ControlKind::kFrame:
      // Drawn below the controls that lie on it.
      return (style | BS_GROUPBOX | WS_CLIPSIBLINGS) & ~WS_TABSTOP;
    case ControlKind::kCommandButton:
      return style | (row.role == ButtonRole::kDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    case ControlKind::kOptionButton:
      return style | BS_AUTORADIOBUTTON;
    case ControlKind::kCheckBox:
      return style | BS_AUTOCHECKBOX;
    case ControlKind::kSlider:
      return style | TBS_HORZ | TBS_NOTICKS;
    case ControlKind::kLabel:
      // The quality number stands centred over its box.
      return style | (row.name == "Label6" ? SS_CENTER : SS_LEFT);
  }
  return style;
}

// Z-order is the order of creation, and the dialog manager's Tab follows
// it: the controls by tab index, the frames last so that they lie below
// everything drawn on them.
std::vector<const Control*> InCreationOrder(const Form1& form) {
  std::vector<const Control*> order(form.controls().begin(), form.controls().end());
  std::stable_sort(order.begin(), order.end(), [](const Control* a, const Control* b) {
    const bool a_frame = a->kind() == ControlKind::kFrame;
    const bool b_frame = b->kind() == ControlKind::kFrame;
    if (a_frame != b_frame) return b_frame;
    return a->layout().tab_index < b->layout().tab_index;
  });
  return order;
}

// Every control starts a group of its own for the arrow keys, except an
// option button that follows another of the same container.
bool StartsGroup(const Control* previous, const Control& control) {
  return !(previous != nullptr && control.kind() == ControlKind::kOptionButton &&
           previous->kind() == ControlKind::kOptionButton &&
           previous->layout().parent == control.layout().parent);
}

COLORREF ColourOf(uint32_t value) {
  if ((value & kSystemColourFlag) != 0) return ::GetSysColor(static_cast<int>(value & 0xFF));
  return static_cast<COLORREF>(value & 0x00FFFFFF);
}

// How wide a caption may be in its control: the box less what the control
// draws beside its text. A push button's text may reach its edges.
int RoomForCaption(const ControlLayout& row, int dpi) {
  const int width = PixelsFromTwips(row.width, dpi);
  switch (row.kind) {
    case ControlKind::kOptionButton:
    case ControlKind::kCheckBox:
      return width - ::GetSystemMetrics(SM_CXMENUCHECK) - PixelsFromTwips(60, dpi);
    case ControlKind::kFrame:
      return width - PixelsFromTwips(240, dpi);
    default:
      return width;
  }
}

// The caption as drawn: "&" marks the access key and is not shown.
std::wstring DrawnCaption(std::u16string_view caption) {
  std::wstring drawn;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == u'&' && i + 1 < caption.size()) ++i;
    drawn.push_back(static_cast<wchar_t>(caption[i]));
  }
  return drawn;
}

// Whether every caption drawn in `font` fits its control.
bool CaptionsFit(HFONT font, int dpi) {
  HDC screen = ::GetDC(nullptr);
  HGDIOBJ previous = ::SelectObject(screen, font);
  bool fit = true;
  for (const ControlLayout& row : kForm1Controls) {
    if (row.credit_font || row.caption.empty()) continue;
    const std::wstring caption = DrawnCaption(row.caption);
    SIZE extent{};
    ::GetTextExtentPoint32W(screen, caption.c_str(), static_cast<int>(caption.size()), &extent);
    if (extent.cx > RoomForCaption(row, dpi)) fit = false;
  }
  ::SelectObject(screen, previous);
  ::ReleaseDC(nullptr, screen);
  return fit;
}

// The default user-interface font of the system. Where it is wider than the
// font the layout was drawn for, so that a caption would be cut, the same
// face a pixel smaller each time until every caption fits (8 pixels at 96
// dpi at the least).
HFONT MakeWindowFont(int dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  LOGFONTW font{};
  if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    font = metrics.lfMessageFont;
  } else {
    ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
  }
  const int smallest = PixelsFromTwips(120, dpi);
  for (;;) {
    HFONT made = ::CreateFontIndirectW(&font);
    if (CaptionsFit(made, dpi) || std::abs(font.lfHeight) <= smallest) return made;
    ::DeleteObject(made);
    font.lfHeight += font.lfHeight < 0 ? 1 : -1;
  }
}

int CALLBACK NoteFamilyFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool FamilyInstalled(std::u16string_view family) {
  LOGFONTW wanted{};
  wanted.lfCharSet = DEFAULT_CHARSET;
  const std::wstring name = Wide(family);
  name.copy(wanted.lfFaceName, LF_FACESIZE - 1);
  bool found = false;
  HDC screen = ::GetDC(nullptr);
  ::EnumFontFamiliesExW(screen, &wanted, &NoteFamilyFound, reinterpret_cast<LPARAM>(&found), 0);
  ::ReleaseDC(nullptr, screen);
  return found;
}

// The credit lines' font: the first of its families that is installed.
HFONT MakeCreditFont(int dpi) {
  LOGFONTW font{};
  font.lfHeight = -MulDiv(static_cast<int>(kCreditFontPoints * 100 + 0.5), dpi, 72 * 100);
  font.lfWeight = kCreditFontWeight;
  font.lfItalic = kCreditFontItalic ? TRUE : FALSE;
  font.lfCharSet = SHIFTJIS_CHARSET;
  std::u16string_view family = kCreditFontFamilies.front();
  for (std::u16string_view candidate : kCreditFontFamilies) {
    if (FamilyInstalled(candidate)) {
      family = candidate;
      break;
    }
  }
  Wide(family).copy(font.lfFaceName, LF_FACESIZE - 1);
  return ::CreateFontIndirectW(&font);
}

// The program's own icon at `size` pixels, or the system's application icon.
HICON ProgramIcon(int size) {
  HANDLE icon = ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kIconResourceId),
                             IMAGE_ICON, size, size, LR_DEFAULTCOLOR | LR_SHARED);
  if (icon == nullptr) icon = ::LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  return static_cast<HICON>(icon);
}

// A dialog template with no controls: the window is a dialog so that the
// dialog manager gives Tab, Enter, Esc and the access keys their meaning.
struct EmptyDialogTemplate {
  DLGTEMPLATE head;
  WORD menu = 0;
  WORD window_class = 0;
  WORD title = 0;
};

// A fixed frame, a caption with the close box only.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;

// Where the progress window puts its controls, in pixels at 96 dpi.
constexpr int kProgressMargin = 12;
constexpr int kProgressWidth = 300;  // of the count and the bar
constexpr int kProgressCountHeight = 16;
constexpr int kProgressBarHeight = 18;
constexpr int kProgressButtonWidth = 88;
constexpr int kProgressButtonHeight = 26;
constexpr int kProgressGap = 8;
constexpr int kProgressCountId = 101;
constexpr int kProgressBarId = 102;
// How often the progress window looks at the count while it waits for the
// next message.
constexpr DWORD kProgressPollMilliseconds = 50;

constexpr std::u16string_view kProgressTitle = u"変換中";
constexpr std::u16string_view kProgressCancelCaption = u"キャンセル";

// The progress window of a long batch; see Win32View::WaitForBatch.
class ProgressWindow {
 public:
  explicit ProgressWindow(BatchProgress& progress) : progress_(progress) {
    EmptyDialogTemplate blank{};
    blank.head.style = kWindowStyle;
    window_ = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), &blank.head, nullptr, &Proc,
                                           reinterpret_cast<LPARAM>(this));
    if (window_ == nullptr) return;
    ::SetWindowTextW(window_, Wide(kProgressTitle).c_str());
    ::SendMessageW(window_, WM_SETICON, ICON_BIG,
                   reinterpret_cast<LPARAM>(ProgramIcon(::GetSystemMetrics(SM_CXICON))));
    ::SendMessageW(window_, WM_SETICON, ICON_SMALL,
                   reinterpret_cast<LPARAM>(ProgramIcon(::GetSystemMetrics(SM_CXSMICON))));
    const int dpi = DpiOf(window_);
    font_ = MakeWindowFont(dpi);
    auto scaled = [dpi](int pixels) { return ::MulDiv(pixels, dpi, kScreenDpi); };
    const int left = scaled(kProgressMargin);
    const int width = scaled(kProgressWidth);
    int top = scaled(kProgressMargin);
    count_ = MakeChild(WC_STATICW, u"", WS_CHILD | WS_VISIBLE | SS_LEFT, kProgressCountId,
                       {left, top, left + width, top + scaled(kProgressCountHeight)});
    top += scaled(kProgressCountHeight + kProgressGap / 2);
    bar_ = MakeChild(PROGRESS_CLASSW, u"", WS_CHILD | WS_VISIBLE, kProgressBarId,
                     {left, top, left + width, top + scaled(kProgressBarHeight)});
    top += scaled(kProgressBarHeight + kProgressGap);
    const int button_left = left + width - scaled(kProgressButtonWidth);
    cancel_ = MakeChild(WC_BUTTONW, kProgressCancelCaption,
                        WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, IDCANCEL,
                        {button_left, top, left + width, top + scaled(kProgressButtonHeight)});
    top += scaled(kProgressButtonHeight + kProgressMargin);
    ::SendMessageW(bar_, PBM_SETRANGE32, 0, static_cast<LPARAM>(ClampedToInt(progress_.total())));
    Update();

    RECT frame{0, 0, left + width + scaled(kProgressMargin), top};
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrW(window_, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongPtrW(window_, GWL_EXSTYLE)));
    const int frame_width = frame.right - frame.left;
    const int frame_height = frame.bottom - frame.top;
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    ::SetWindowPos(window_, nullptr,
                   work.left + std::max(0L, (work.right - work.left - frame_width) / 2),
                   work.top + std::max(0L, (work.bottom - work.top - frame_height) / 2),
                   frame_width, frame_height, SWP_NOZORDER);
    ::ShowWindow(window_, SW_SHOW);
    ::SetForegroundWindow(window_);
  }

  ~ProgressWindow() {
    if (window_ != nullptr) ::DestroyWindow(window_);
    if (font_ != nullptr) ::DeleteObject(font_);
  }
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  // nullptr when the window could not be made.
  HWND handle() const { return window_; }

  // Shows the count the batch has reached.
  void Update() {
    const std::wstring count =
        std::to_wstring(progress_.done()) + L" / " + std::to_wstring(progress_.total());
    if (WindowText(count_) != count) ::SetWindowTextW(count_, count.c_str());
    ::SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(ClampedToInt(progress_.done())), 0);
    ::EnableWindow(cancel_, progress_.cancel_requested() ? FALSE : TRUE);
  }

 private:
  static int ClampedToInt(size_t count) {
    return static_cast<int>(std::min<size_t>(count, static_cast<size_t>(INT_MAX)));
  }

  HWND MakeChild(const wchar_t* window_class, std::u16string_view caption, DWORD style, int id,
                 RECT place) {
    HWND child = ::CreateWindowExW(0, window_class, Wide(caption).c_str(), style, place.left,
                                   place.top, place.right - place.left, place.bottom - place.top,
                                   window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   ::GetModuleHandleW(nullptr), nullptr);
    if (child != nullptr) ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    return child;
  }

  static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
      ::SetWindowLongPtrW(window, GWLP_USERDATA, lparam);
      return TRUE;
    }
    auto* self = reinterpret_cast<ProgressWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    // キャンセル, Esc and the close box: the calls running finish, and the
    // window stays until they have.
    if (self != nullptr && message == WM_COMMAND && LOWORD(wparam) == IDCANCEL) {
      self->progress_.RequestCancel();
      self->Update();
      return TRUE;
    }
    return FALSE;
  }

  BatchProgress& progress_;
  HWND window_ = nullptr;
  HWND count_ = nullptr;
  HWND bar_ = nullptr;
  HWND cancel_ = nullptr;
  HFONT font_ = nullptr;
};

}  // namespace

int PixelsFromTwips(int twips, int dpi) { return ::MulDiv(twips, dpi, 1440); }

int ControlIdOf(std::string_view name) {
  for (size_t row = 0; row < kForm1Controls.size(); ++row) {
    const ControlLayout& layout = kForm1Controls[row];
    if (layout.name != name) continue;
    if (layout.role == ButtonRole::kDefault) return IDOK;
    if (layout.role == ButtonRole::kCancel) return IDCANCEL;
    return kFirstPlainControlId + static_cast<int>(row);
  }
  return 0;
}

Win32View::Win32View() {
  INITCOMMONCONTROLSEX classes{sizeof classes,
                               ICC_BAR_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&classes);
}

Win32View::~Win32View() {
  // The form may already be gone: no handler may run while the window goes.
  mirroring_ = true;
  if (window_ != nullptr) ::DestroyWindow(window_);
  if (window_font_ != nullptr) ::DeleteObject(window_font_);
  if (credit_font_ != nullptr) ::DeleteObject(credit_font_);
  if (text1_brush_ != nullptr) ::DeleteObject(text1_brush_);
  if (com_started_) ::CoUninitialize();
}

void Win32View::ShowMessage(std::u16string_view text, std::u16string_view title, MessageIcon icon) {
  const UINT style = MB_OK | (icon == MessageIcon::kError ? MB_ICONERROR : MB_ICONINFORMATION);
  HWND owner = window_ != nullptr && ::IsWindowVisible(window_) ? window_ : nullptr;
  ::MessageBoxW(owner, Wide(text).c_str(), Wide(title).c_str(), style);
}

int Win32View::RunWindow(Form1& form) {
  ShowWindow(form);
  if (form.ended()) return 0;
  loop_running_ = true;
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (window_ != nullptr && ::IsDialogMessageW(window_, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  loop_running_ = false;
  return 0;
}

std::optional<std::u16string> Win32View::ChooseFolder(Form1& form, std::u16string_view title) {
  if (!com_started_) {
    com_started_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  }
  HWND owner = WindowFor(form);
  LPITEMIDLIST drives = nullptr;
  if (FAILED(::SHGetSpecialFolderLocation(owner, CSIDL_DRIVES, &drives))) drives = nullptr;
  const std::wstring wide_title = Wide(title);
  BROWSEINFOW request{};
  request.hwndOwner = owner;
  request.pidlRoot = drives;
  request.pszDisplayName = nullptr;
  request.lpszTitle = wide_title.c_str();
  request.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN;
  LPITEMIDLIST chosen = ::SHBrowseForFolderW(&request);
  // Room for the longest path the shell writes, all NUL before the call.
  std::wstring path(MAX_PATH + 1, L'\0');
  if (chosen != nullptr) ::SHGetPathFromIDListW(chosen, path.data());
  if (chosen != nullptr) ::CoTaskMemFree(chosen);
  if (drives != nullptr) ::CoTaskMemFree(drives);
  if (chosen == nullptr) return std::nullopt;
  path.resize(path.find(L'\0'));
  return FromWide(path);
}

void Win32View::PropertyChanged(Form1&, const Control& control, ControlProperty property) {
  if (window_ != nullptr) Mirror(control, property);
}

void Win32View::FocusMoved(Form1&, const Control& control) {
  if (HWND child = ChildOf(control)) {
    // Through the dialog manager, so that the default button follows.
    ::SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(child), TRUE);
  }
}

void Win32View::EndProgram(Form1&) {
  if (window_ != nullptr) ::ShowWindow(window_, SW_HIDE);
  if (loop_running_) ::PostQuitMessage(0);
}

void Win32View::WaitForBatch(BatchProgress& progress) {
  if (progress.WaitUntil(progress.started() + kBatchProgressDelay)) return;
  ProgressWindow window(progress);
  if (window.handle() == nullptr) {
    progress.Wait();
    return;
  }
  std::optional<WPARAM> quit;  // a quit request is kept for the loop after this one
  while (!progress.finished()) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, kProgressPollMilliseconds, QS_ALLINPUT);
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quit = message.wParam;
      } else if (!::IsDialogMessageW(window.handle(), &message)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
      }
    }
    window.Update();
  }
  if (quit) ::PostQuitMessage(static_cast<int>(*quit));
}

HWND Win32View::WindowFor(Form1& form) {
  if (window_ == nullptr) MakeWindow(form);
  return window_;
}

HWND Win32View::ShowWindow(Form1& form) {
  HWND window = WindowFor(form);
  if (form.ended()) return window;
  ::ShowWindow(window, SW_SHOW);
  ::SetForegroundWindow(window);
  form.SetShown(true);
  RunStep([&] { form.SetFocus(form.Command3); });
  return window;
}

void Win32View::MakeWindow(Form1& form) {
  form_ = &form;
  EmptyDialogTemplate blank{};
  blank.head.style = kWindowStyle;
  window_ = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), &blank.head, nullptr,
                                         &DialogProc, reinterpret_cast<LPARAM>(this));
  if (window_ == nullptr) throw StepFailure("the settings window cannot be made");
  ::SetWindowTextW(window_, Wide(kForm1Window.caption).c_str());
  ::SendMessageW(window_, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(ProgramIcon(::GetSystemMetrics(SM_CXICON))));
  ::SendMessageW(window_, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(ProgramIcon(::GetSystemMetrics(SM_CXSMICON))));

  const int dpi = DpiOf(window_);
  RECT frame{0, 0, PixelsFromTwips(kForm1Window.client_width, dpi),
             PixelsFromTwips(kForm1Window.client_height, dpi)};
  ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrW(window_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(::GetWindowLongPtrW(window_, GWL_EXSTYLE)));
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  ::SetWindowPos(window_, nullptr, work.left + std::max(0L, (work.right - work.left - width) / 2),
                 work.top + std::max(0L, (work.bottom - work.top - height) / 2), width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);

  window_font_ = MakeWindowFont(dpi);
  credit_font_ = MakeCreditFont(dpi);
  const Control* previous = nullptr;
  for (const Control* control : InCreationOrder(form)) {
    HWND child = MakeChild(*control, dpi);
    if (StartsGroup(previous, *control)) {
      ::SetWindowLongPtrW(child, GWL_STYLE, ::GetWindowLongPtrW(child, GWL_STYLE) | WS_GROUP);
    }
    previous = control;
  }
  ::SendMessageW(window_, DM_SETDEFID, IDOK, 0);
}

HWND Win32View::MakeChild(const Control& control, int dpi) {
  const ControlLayout& row = control.layout();
  const RECT place = ClientRectOf(row, dpi);
  const std::wstring caption =
      row.kind == ControlKind::kTextBox ? std::wstring() : Wide(control.caption());
  HWND child =
      ::CreateWindowExW(0, WindowClassOf(row.kind), caption.c_str(), StyleOf(row), place.left,
                        place.top, place.right - place.left, place.bottom - place.top, window_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlIdOf(row.name))),
                        ::GetModuleHandleW(nullptr), nullptr);
  if (child == nullptr) throw StepFailure("a control of the settings window cannot be made");
  children_[&control] = child;
  ::SendMessageW(child, WM_SETFONT,
                 reinterpret_cast<WPARAM>(row.credit_font ? credit_font_ : window_font_), FALSE);
  if (row.kind == ControlKind::kSlider) {
    ::SendMessageW(child, TBM_SETRANGEMIN, FALSE, control.min());
    ::SendMessageW(child, TBM_SETRANGEMAX, FALSE, control.max());
    ::SendMessageW(child, TBM_SETLINESIZE, 0, kSlider1.small_change);
    ::SendMessageW(child, TBM_SETPAGESIZE, 0, kSlider1.large_change);
  } else if (row.kind == ControlKind::kTextBox) {
    // Clicks reach Form1 through the edit's own window procedure.
    ::SetWindowLongPtrW(child, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    edit_proc_ = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Text1Proc)));
  }
  for (ControlProperty property :
       {ControlProperty::kEnabled, ControlProperty::kBackColor, ControlProperty::kText,
        ControlProperty::kValue, ControlProperty::kPosition}) {
    Mirror(control, property);
  }
  return child;
}

HWND Win32View::ChildOf(const Control& control) const {
  const auto found = children_.find(&control);
  return found == children_.end() ? nullptr : found->second;
}

void Win32View::Mirror(const Control& control, ControlProperty property) {
  HWND child = ChildOf(control);
  if (child == nullptr) return;
  const bool was_mirroring = std::exchange(mirroring_, true);
  switch (property) {
    case ControlProperty::kEnabled:
      ::EnableWindow(child, control.enabled() ? TRUE : FALSE);
      break;
    case ControlProperty::kBackColor:
      if (control.kind() == ControlKind::kTextBox) ::InvalidateRect(child, nullptr, TRUE);
      break;
    case ControlProperty::kText:
      if (control.kind() == ControlKind::kTextBox &&
          FromWide(WindowText(child)) != control.text()) {
        ::SetWindowTextW(child, Wide(control.text()).c_str());
      }
      break;
    case ControlProperty::kCaption:
      if (control.kind() != ControlKind::kTextBox && control.kind() != ControlKind::kSlider) {
        ::SetWindowTextW(child, Wide(control.caption()).c_str());
      }
      break;
    case ControlProperty::kValue:
      if (control.kind() == ControlKind::kCheckBox ||
          control.kind() == ControlKind::kOptionButton) {
        const WPARAM state = control.value() == 1   ? BST_CHECKED
                             : control.value() == 2 ? BST_INDETERMINATE
                                                    : BST_UNCHECKED;
        ::SendMessageW(child, BM_SETCHECK, state, 0);
      }
      if (control.kind() == ControlKind::kOptionButton) {
        // Tab reaches only the selected option button of a group.
        LONG_PTR style = ::GetWindowLongPtrW(child, GWL_STYLE) & ~LONG_PTR{WS_TABSTOP};
        if (control.value() == 1) style |= WS_TABSTOP;
        ::SetWindowLongPtrW(child, GWL_STYLE, style);
      }
      break;
    case ControlProperty::kPosition:
      if (control.kind() == ControlKind::kSlider) {
        ::SendMessageW(child, TBM_SETPOS, TRUE, control.position());
      }
      break;
  }
  mirroring_ = was_mirroring;
}

template <class Handler>
void Win32View::RunHandler(Handler handler) {
  if (mirroring_ || form_ == nullptr || form_->ended()) return;
  try {
    handler();
  } catch (...) {
    // Any failure ends the handler; the window goes on.
  }
}

INT_PTR Win32View::Command(WORD id, WORD code, HWND child) {
  Form1& form = *form_;
  // Esc and the access keys come from the dialog manager, which names the
  // control by its id; a disabled button is not pressed.
  if (child == nullptr) child = ::GetDlgItem(window_, id);
  const Control* control = nullptr;
  for (const auto& [candidate, window] : children_) {
    if (window == child) control = candidate;
  }
  if (control == nullptr || !control->enabled()) return FALSE;
  if (control == &form.Text1) {
    if (code == EN_CHANGE) {
      RunHandler([&] { form.Text1.SetText(FromWide(WindowText(child))); });
    }
    return TRUE;
  }
  if (code != BN_CLICKED) return FALSE;
  if (control == &form.Check1) {
    RunHandler([&] {
      const LRESULT state = ::SendMessageW(child, BM_GETCHECK, 0, 0);
      form.Check1.SetValue(state == BST_CHECKED ? 1 : state == BST_INDETERMINATE ? 2 : 0);
      form.Check1_Click();
    });
  } else if (control == &form.Option1 || control == &form.Option2) {
    // Only a selection runs the handler of the option that became selected.
    if (control->value() == 1 || ::SendMessageW(child, BM_GETCHECK, 0, 0) != BST_CHECKED) {
      return TRUE;
    }
    RunHandler([&] {
      if (control == &form.Option1) {
        form.Option1_Click();
      } else {
        form.Option2_Click();
      }
    });
  } else if (control == &form.Command1) {
    RunHandler([&] { form.Command1_Click(); });
  } else if (control == &form.Command2) {
    RunHandler([&] { form.Command2_Click(); });
  } else if (control == &form.Command3) {
    RunHandler([&] { form.Command3_Click(); });
  }
  return TRUE;
}

INT_PTR Win32View::ColourOfText1(HDC dc) {
  const uint32_t colour = form_->Text1.back_color();
  ::SetBkColor(dc, ColourOf(colour));
  ::SetTextColor(dc, ::GetSysColor(form_->Text1.enabled() ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
  if ((colour & kSystemColourFlag) != 0) {
    return reinterpret_cast<INT_PTR>(::GetSysColorBrush(static_cast<int>(colour & 0xFF)));
  }
  LOGBRUSH current{};
  if (text1_brush_ == nullptr || ::GetObjectW(text1_brush_, sizeof current, &current) == 0 ||
      current.lbColor != ColourOf(colour)) {
    if (text1_brush_ != nullptr) ::DeleteObject(text1_brush_);
    text1_brush_ = ::CreateSolidBrush(ColourOf(colour));
  }
  return reinterpret_cast<INT_PTR>(text1_brush_);
}

INT_PTR CALLBACK Win32View::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(window, DWLP_USER, lparam);
    return FALSE;  // the view puts the focus itself
  }
  auto* view = reinterpret_cast<Win32View*>(::GetWindowLongPtrW(window, DWLP_USER));
  if (view == nullptr || view->form_ == nullptr) return FALSE;
  Form1& form = *view->form_;
  switch (message) {
    case WM_COMMAND:
      return view->Command(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam));
    case WM_HSCROLL: {
      HWND slider = view->ChildOf(form.Slider1);
      if (slider == nullptr || reinterpret_cast<HWND>(lparam) != slider) return FALSE;
      const int position = static_cast<int>(::SendMessageW(slider, TBM_GETPOS, 0, 0));
      if (position != form.Slider1.position()) {
        view->RunHandler([&] {
          form.Slider1.SetPosition(position);
          form.Slider1_Change();
        });
      }
      return TRUE;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lparam) == view->ChildOf(form.Text1)) {
        return view->ColourOfText1(reinterpret_cast<HDC>(wparam));
      }
      return FALSE;
    case WM_CLOSE:
      // The close box ends the program unsaved.
      if (!form.ended() && !view->mirroring_) form.EndProgram();
      return TRUE;
    default:
      return FALSE;
  }
}

LRESULT CALLBACK Win32View::Text1Proc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* view = reinterpret_cast<Win32View*>(::GetWindowLongPtrW(edit, GWLP_USERDATA));
  const LRESULT result = ::CallWindowProcW(view->edit_proc_, edit, message, wparam, lparam);
  // A click is the button's release over the box; a disabled box gets none.
  if (message == WM_LBUTTONUP && view->form_ != nullptr && view->form_->Text1.enabled()) {
    view->RunHandler([view] { view->form_->Text1_Click(); });
  }
  return result;
}

std::unique_ptr<View> LoadDesktopView() { return std::make_unique<Win32View>(); }

}  // namespace morvane
