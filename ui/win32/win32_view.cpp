#include "ui/win32/win32_view.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

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
// everything drawn on them. Rows of kForm1Controls.
std::vector<int> InCreationOrder() {
  std::vector<int> order;
  for (size_t row = 0; row < kForm1Controls.size(); ++row) order.push_back(static_cast<int>(row));
  std::stable_sort(order.begin(), order.end(), [](int a, int b) {
    const ControlLayout& first = kForm1Controls[static_cast<size_t>(a)];
    const ControlLayout& second = kForm1Controls[static_cast<size_t>(b)];
    const bool a_frame = first.kind == ControlKind::kFrame;
    const bool b_frame = second.kind == ControlKind::kFrame;
    if (a_frame != b_frame) return b_frame;
    return first.tab_index < second.tab_index;
  });
  return order;
}

// Every control starts a group of its own for the arrow keys, except an
// option button that follows another of the same container.
bool StartsGroup(const ControlLayout* previous, const ControlLayout& row) {
  return !(previous != nullptr && row.kind == ControlKind::kOptionButton &&
           previous->kind == ControlKind::kOptionButton && previous->parent == row.parent);
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

// The progress window of a long batch; see Win32View.
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

// The toolkit's part of the desktop view on Win32: real child controls of a
// dialog window, made from the layout table.
class Win32Toolkit final : public WindowToolkit {
 public:
  Win32Toolkit() {
    INITCOMMONCONTROLSEX classes{sizeof classes,
                                 ICC_BAR_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&classes);
  }
  ~Win32Toolkit() override {
    actions_ = nullptr;  // no action is told while the window goes
    if (window_ != nullptr) ::DestroyWindow(window_);
    if (window_font_ != nullptr) ::DeleteObject(window_font_);
    if (credit_font_ != nullptr) ::DeleteObject(credit_font_);
    if (text_box_brush_ != nullptr) ::DeleteObject(text_box_brush_);
    if (com_started_) ::CoUninitialize();
  }
  Win32Toolkit(const Win32Toolkit&) = delete;
  Win32Toolkit& operator=(const Win32Toolkit&) = delete;

  void ShowMessage(std::u16string_view text, std::u16string_view title, MessageIcon icon) override;
  bool MakeWindow(WindowActions& actions) override;
  void ShowWindow() override {
    ::ShowWindow(window_, SW_SHOW);
    ::SetForegroundWindow(window_);
  }
  void HideWindow() override {
    if (window_ != nullptr) ::ShowWindow(window_, SW_HIDE);
  }
  void RunEventLoop() override;
  void QuitEventLoop() override {
    if (loop_running_) ::PostQuitMessage(0);
  }
  std::optional<std::u16string> ChooseFolder(std::u16string_view title) override;
  void SetEnabled(int control, bool enabled) override {
    ::EnableWindow(ChildOf(control), enabled ? TRUE : FALSE);
  }
  void SetCheck(int control, int state) override {
    const WPARAM check = state == 1 ? BST_CHECKED : state == 2 ? BST_INDETERMINATE : BST_UNCHECKED;
    ::SendMessageW(ChildOf(control), BM_SETCHECK, check, 0);
  }
  void SetTabStop(int control, bool tab_stop) override {
    HWND child = ChildOf(control);
    LONG_PTR style = ::GetWindowLongPtrW(child, GWL_STYLE) & ~LONG_PTR{WS_TABSTOP};
    if (tab_stop) style |= WS_TABSTOP;
    ::SetWindowLongPtrW(child, GWL_STYLE, style);
  }
  void SetText(int control, std::u16string_view text) override {
    HWND child = ChildOf(control);
    if (FromWide(WindowText(child)) != text) ::SetWindowTextW(child, Wide(text).c_str());
  }
  void SetCaption(int control, std::u16string_view caption) override {
    ::SetWindowTextW(ChildOf(control), Wide(caption).c_str());
  }
  void SetPosition(int control, int position) override {
    ::SendMessageW(ChildOf(control), TBM_SETPOS, TRUE, position);
  }
  void SetBackColour(int control, uint32_t colour) override {
    back_colours_[static_cast<size_t>(control)] = colour;
    ::InvalidateRect(ChildOf(control), nullptr, TRUE);
  }
  // Through the dialog manager, so that the default button follows.
  void Focus(int control) override {
    if (HWND child = ChildOf(control))
      ::SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(child), TRUE);
  }
  void ShowProgressUntilFinished(BatchProgress& progress) override;

  HWND window() const { return window_; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK TextBoxProc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam);

  void PlaceWindow(int dpi);
  HWND MakeChild(int control, int dpi);
  HWND ChildOf(int control) const {
    return control >= 0 && static_cast<size_t>(control) < children_.size()
               ? children_[static_cast<size_t>(control)]
               : nullptr;
  }
  int RowOf(HWND child) const {
    const auto found = std::find(children_.begin(), children_.end(), child);
    return child != nullptr && found != children_.end()
               ? static_cast<int>(found - children_.begin())
               : -1;
  }
  INT_PTR Command(WORD id, WORD code, HWND child);
  INT_PTR ColourOfTextBox(HDC dc, int control);

  WindowActions* actions_ = nullptr;
  HWND window_ = nullptr;
  std::vector<HWND> children_ = std::vector<HWND>(kForm1Controls.size(), nullptr);
  std::vector<uint32_t> back_colours_ = std::vector<uint32_t>(kForm1Controls.size(), kWhite);
  HFONT window_font_ = nullptr;
  HFONT credit_font_ = nullptr;
  HBRUSH text_box_brush_ = nullptr;  // owned when the colour is not a system one
  WNDPROC edit_proc_ = nullptr;
  bool loop_running_ = false;
  bool com_started_ = false;
};

void Win32Toolkit::ShowMessage(std::u16string_view text, std::u16string_view title,
                               MessageIcon icon) {
  const UINT style = MB_OK | (icon == MessageIcon::kError ? MB_ICONERROR : MB_ICONINFORMATION);
  HWND owner = window_ != nullptr && ::IsWindowVisible(window_) ? window_ : nullptr;
  ::MessageBoxW(owner, Wide(text).c_str(), Wide(title).c_str(), style);
}

void Win32Toolkit::RunEventLoop() {
  loop_running_ = true;
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (window_ != nullptr && ::IsDialogMessageW(window_, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  loop_running_ = false;
}

std::optional<std::u16string> Win32Toolkit::ChooseFolder(std::u16string_view title) {
  if (!com_started_) {
    com_started_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  }
  LPITEMIDLIST drives = nullptr;
  if (FAILED(::SHGetSpecialFolderLocation(window_, CSIDL_DRIVES, &drives))) drives = nullptr;
  const std::wstring wide_title = Wide(title);
  BROWSEINFOW request{};
  request.hwndOwner = window_;
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

void Win32Toolkit::ShowProgressUntilFinished(BatchProgress& progress) {
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

bool Win32Toolkit::MakeWindow(WindowActions& actions) {
  EmptyDialogTemplate blank{};
  blank.head.style = kWindowStyle;
  window_ = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), &blank.head, nullptr,
                                         &DialogProc, reinterpret_cast<LPARAM>(this));
  if (window_ == nullptr) return false;
  ::SetWindowTextW(window_, Wide(kForm1Window.caption).c_str());
  ::SendMessageW(window_, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(ProgramIcon(::GetSystemMetrics(SM_CXICON))));
  ::SendMessageW(window_, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(ProgramIcon(::GetSystemMetrics(SM_CXSMICON))));
  const int dpi = DpiOf(window_);
  PlaceWindow(dpi);
  window_font_ = MakeWindowFont(dpi);
  credit_font_ = MakeCreditFont(dpi);
  const ControlLayout* previous = nullptr;
  for (const int control : InCreationOrder()) {
    HWND child = MakeChild(control, dpi);
    if (child == nullptr) return false;
    const ControlLayout& row = kForm1Controls[static_cast<size_t>(control)];
    if (StartsGroup(previous, row)) {
      ::SetWindowLongPtrW(child, GWL_STYLE, ::GetWindowLongPtrW(child, GWL_STYLE) | WS_GROUP);
    }
    previous = &row;
  }
  ::SendMessageW(window_, DM_SETDEFID, IDOK, 0);
  actions_ = &actions;
  return true;
}

// The client area the layout asks for, centred in the work area.
void Win32Toolkit::PlaceWindow(int dpi) {
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
}

HWND Win32Toolkit::MakeChild(int control, int dpi) {
  const ControlLayout& row = kForm1Controls[static_cast<size_t>(control)];
  const RECT place = ClientRectOf(row, dpi);
  HWND child = ::CreateWindowExW(
      0, WindowClassOf(row.kind), Wide(row.caption).c_str(), StyleOf(row), place.left, place.top,
      place.right - place.left, place.bottom - place.top, window_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlIdOf(row.name))),
      ::GetModuleHandleW(nullptr), nullptr);
  if (child == nullptr) return nullptr;
  children_[static_cast<size_t>(control)] = child;
  ::SendMessageW(child, WM_SETFONT,
                 reinterpret_cast<WPARAM>(row.credit_font ? credit_font_ : window_font_), FALSE);
  if (row.kind == ControlKind::kSlider) {
    ::SendMessageW(child, TBM_SETRANGEMIN, FALSE, kSlider1.min);
    ::SendMessageW(child, TBM_SETRANGEMAX, FALSE, kSlider1.max);
    ::SendMessageW(child, TBM_SETLINESIZE, 0, kSlider1.small_change);
    ::SendMessageW(child, TBM_SETPAGESIZE, 0, kSlider1.large_change);
  } else if (row.kind == ControlKind::kTextBox) {
    // Clicks come through the edit's own window procedure.
    ::SetWindowLongPtrW(child, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    edit_proc_ = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TextBoxProc)));
  }
  return child;
}

// Esc and the access keys come from the dialog manager, which names the
// control by its id.
INT_PTR Win32Toolkit::Command(WORD id, WORD code, HWND child) {
  if (child == nullptr) child = ::GetDlgItem(window_, id);
  const int control = RowOf(child);
  if (control < 0) return FALSE;
  switch (kForm1Controls[static_cast<size_t>(control)].kind) {
    case ControlKind::kTextBox:
      if (code == EN_CHANGE) actions_->TextEdited(control, FromWide(WindowText(child)));
      return TRUE;
    case ControlKind::kCheckBox: {
      if (code != BN_CLICKED) return FALSE;
      const LRESULT state = ::SendMessageW(child, BM_GETCHECK, 0, 0);
      actions_->CheckClicked(control, state == BST_CHECKED         ? 1
                                      : state == BST_INDETERMINATE ? 2
                                                                   : 0);
      return TRUE;
    }
    case ControlKind::kOptionButton:
      if (code != BN_CLICKED) return FALSE;
      if (::SendMessageW(child, BM_GETCHECK, 0, 0) == BST_CHECKED)
        actions_->OptionSelected(control);
      return TRUE;
    default:
      if (code != BN_CLICKED) return FALSE;
      actions_->Clicked(control);
      return TRUE;
  }
}

INT_PTR Win32Toolkit::ColourOfTextBox(HDC dc, int control) {
  const uint32_t colour = back_colours_[static_cast<size_t>(control)];
  ::SetBkColor(dc, ColourOf(colour));
  ::SetTextColor(
      dc, ::GetSysColor(::IsWindowEnabled(ChildOf(control)) ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
  if ((colour & kSystemColourFlag) != 0) {
    return reinterpret_cast<INT_PTR>(::GetSysColorBrush(static_cast<int>(colour & 0xFF)));
  }
  LOGBRUSH current{};
  if (text_box_brush_ == nullptr || ::GetObjectW(text_box_brush_, sizeof current, &current) == 0 ||
      current.lbColor != ColourOf(colour)) {
    if (text_box_brush_ != nullptr) ::DeleteObject(text_box_brush_);
    text_box_brush_ = ::CreateSolidBrush(ColourOf(colour));
  }
  return reinterpret_cast<INT_PTR>(text_box_brush_);
}

INT_PTR CALLBACK Win32Toolkit::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(window, DWLP_USER, lparam);
    return FALSE;  // the view puts the focus itself
  }
  auto* self = reinterpret_cast<Win32Toolkit*>(::GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr || self->actions_ == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND:
      return self->Command(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam));
    case WM_HSCROLL: {
      const int control = self->RowOf(reinterpret_cast<HWND>(lparam));
      if (control < 0) return FALSE;
      self->actions_->SliderMoved(control, static_cast<int>(::SendMessageW(
                                               reinterpret_cast<HWND>(lparam), TBM_GETPOS, 0, 0)));
      return TRUE;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
      const int control = self->RowOf(reinterpret_cast<HWND>(lparam));
      if (control < 0 || kForm1Controls[static_cast<size_t>(control)].kind != ControlKind::kTextBox)
        return FALSE;
      return self->ColourOfTextBox(reinterpret_cast<HDC>(wparam), control);
    }
    case WM_CLOSE:
      self->actions_->CloseRequested();
      return TRUE;
    default:
      return FALSE;
  }
}

// A click is the button's release over the box; a disabled box gets none.
LRESULT CALLBACK Win32Toolkit::TextBoxProc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<Win32Toolkit*>(::GetWindowLongPtrW(edit, GWLP_USERDATA));
  const LRESULT result = ::CallWindowProcW(self->edit_proc_, edit, message, wparam, lparam);
  if (message == WM_LBUTTONUP && self->actions_ != nullptr)
    self->actions_->Clicked(self->RowOf(edit));
  return result;
}

Win32View::Win32View() : ToolkitView(std::make_unique<Win32Toolkit>()) {}

HWND Win32View::WindowFor(Form1& form) {
  MakeWindow(form);
  return window();
}

HWND Win32View::ShowWindow(Form1& form) {
  ToolkitView::ShowWindow(form);
  return window();
}

HWND Win32View::window() const { return static_cast<const Win32Toolkit&>(toolkit()).window(); }

std::unique_ptr<View> LoadDesktopView() { return std::make_unique<Win32View>(); }

}  // namespace morvane
