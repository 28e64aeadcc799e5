// The settings window on Windows, looked at from outside the view: its child
// windows as the system reports them, and the messages a user's clicks and
// keys send. Runs under Wine on a private X display.
#include "ui/win32/win32_view.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace morvane {
namespace {

struct SavedSettings {
  uint8_t quality;
  int16_t progressive;
  std::u16string folder;
  bool option2_selected;
};

std::wstring TextOf(HWND window) {
  wchar_t text[512] = {};
  ::GetWindowTextW(window, text, 512);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[128] = {};
  ::GetClassNameW(window, name, 128);
  return name;
}

RECT PlaceInParent(HWND child) {
  RECT place{};
  ::GetWindowRect(child, &place);
  ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&place), 2);
  return place;
}

COLORREF BrushColour(LRESULT brush) {
  LOGBRUSH described{};
  ::GetObjectW(reinterpret_cast<HBRUSH>(brush), sizeof described, &described);
  return described.lbColor;
}

// A dialog box of this thread other than `except` that is on screen: a
// message box or the folder chooser.
HWND OpenDialogBox(HWND except) {
  struct Search {
    HWND except;
    HWND found = nullptr;
  } search{except};
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM data) -> BOOL {
        auto* search = reinterpret_cast<Search*>(data);
        if (window == search->except || ClassOf(window) != L"#32770" ||
            !::IsWindowVisible(window)) {
          return TRUE;
        }
        search->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Answers the next dialog box that opens while a handler waits for it:
// notes what it showed and presses `button`.
class DialogAnswer {
 public:
  DialogAnswer(HWND window, int button) : window_(window), button_(button) {
    current_ = this;
    timer_ = ::SetTimer(nullptr, 0, 50, &Tick);
  }
  ~DialogAnswer() {
    ::KillTimer(nullptr, timer_);
    current_ = nullptr;
  }

  int boxes = 0;
  std::wstring title;
  std::vector<std::wstring> texts;  // of the box's child windows
  HWND owner = nullptr;
  bool error_icon = false;

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    DialogAnswer* answer = current_;
    if (answer == nullptr) return;
    HWND box = OpenDialogBox(answer->window_);
    if (box == nullptr || box == answer->answered_) return;  // once each
    answer->answered_ = box;
    ++answer->boxes;
    answer->title = TextOf(box);
    answer->owner = ::GetWindow(box, GW_OWNER);
    answer->texts.clear();
    answer->error_icon = false;
    ::EnumChildWindows(
        box,
        [](HWND child, LPARAM data) -> BOOL {
          auto* answer = reinterpret_cast<DialogAnswer*>(data);
          answer->texts.push_back(TextOf(child));
          // The message box's icon is the system's shared error icon.
          if ((::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
              reinterpret_cast<HICON>(::SendMessageW(child, STM_GETICON, 0, 0)) ==
                  ::LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_ERROR))) {
            answer->error_icon = true;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(answer));
    ::PostMessageW(box, WM_COMMAND, answer->button_, 0);
  }

  static inline DialogAnswer* current_ = nullptr;
  HWND window_;
  int button_;
  UINT_PTR timer_ = 0;
  HWND answered_ = nullptr;
};

bool Contains(const std::vector<std::wstring>& texts, std::wstring_view text) {
  for (const std::wstring& each : texts) {
    if (each == text) return true;
  }
  return false;
}

class Win32WindowTest : public ::testing::Test {
 public:
  Win32WindowTest() {
    form.SetSettingsWriter([this](uint8_t quality, int16_t progressive, std::u16string_view folder,
                                  bool option2_selected) {
      saved.push_back({quality, progressive, std::u16string(folder), option2_selected});
      return true;
    });
  }

  // Start-up as the program does it, then the window on screen.
  HWND Start(std::u16string folder, std::u16string set, uint8_t quality = 85,
             int16_t progressive = 0) {
    form.Quality = quality;
    form.Progressive = progressive;
    ShowStoredSettings(form, StoredSettings{u"", u"", std::move(folder), std::move(set)});
    return view.ShowWindow(form);
  }

  HWND Child(std::string_view name) const { return ::GetDlgItem(view.window(), ControlIdOf(name)); }

  // A key as the message loop hands it to the dialog manager.
  bool Key(HWND target, UINT message, WPARAM key) {
    MSG msg{target, message, key, 0, 0, {0, 0}};
    return ::IsDialogMessageW(view.window(), &msg) != FALSE;
  }

  Win32View view;
  Form1 form{view};
  std::vector<SavedSettings> saved;
};

// --- Layout ----------------------------------------------------------------

struct ChildCase {
  const char* name;
  const wchar_t* window_class;
  LONG button_type;  // BS_* for buttons, -1 for the others
  const wchar_t* caption;
  RECT place;  // in the window's client area, pixels at 96 dpi
};

TEST_F(Win32WindowTest, EveryControlIsAChildWindowWhereTheTableSays) {
  HWND window = view.WindowFor(form);
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  ASSERT_EQ(dpi, 96) << "the pixel positions below are for 96 dpi";
  const ChildCase cases[] = {
      {"Text1", L"Edit", -1, L"", {33, 192, 338, 211}},
      {"Frame2", L"Button", BS_GROUPBOX, L"保存場所", {8, 128, 369, 225}},
      {"Command2", L"Button", BS_PUSHBUTTON, L"...", {344, 192, 363, 211}},
      {"Option2",
       L"Button",
       BS_AUTORADIOBUTTON,
       L"変換元ファイルと同じフォルダ",
       {24, 144, 201, 169}},
      {"Option1", L"Button", BS_AUTORADIOBUTTON, L"指定したフォルダ", {24, 168, 161, 185}},
      {"Frame1", L"Button", BS_GROUPBOX, L"JPEG", {8, 8, 369, 121}},
      {"Check1", L"Button", BS_AUTOCHECKBOX, L"プログレッシブJPEG", {24, 88, 153, 105}},
      {"Slider1", L"msctls_trackbar32", -1, L"", {88, 32, 321, 57}},
      {"Label2", L"Static", -1, L"（低圧縮率）", {296, 61, 361, 78}},
      {"Label1", L"Static", -1, L"（高圧縮率）", {120, 61, 185, 78}},
      {"Label3", L"Static", -1, L"画質", {24, 40, 49, 57}},
      {"Label4", L"Static", -1, L"高画質", {256, 61, 297, 78}},
      {"Label5", L"Static", -1, L"低画質", {80, 61, 121, 78}},
      {"Label6", L"Static", -1, L"85", {56, 40, 81, 57}},
      {"Command1", L"Button", BS_PUSHBUTTON, L"ｷｬﾝｾﾙ(&C)", {288, 240, 369, 265}},
      {"Command3", L"Button", BS_DEFPUSHBUTTON, L"保存(&S)", {195, 240, 276, 265}},
      {"Label9", L"Static", -1, L"© 2026 Morvane", {48, 253, 185, 270}},
      {"Label8", L"Static", -1, L"Morvane Ver.1.26", {15, 237, 160, 254}},
  };
  for (const ChildCase& c : cases) {
    SCOPED_TRACE(c.name);
    HWND child = Child(c.name);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(::GetParent(child), window);
    EXPECT_EQ(ClassOf(child), c.window_class);
    if (c.button_type >= 0) {
      EXPECT_EQ(::GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK, c.button_type);
    }
    EXPECT_EQ(TextOf(child), c.caption);
    const RECT place = PlaceInParent(child);
    EXPECT_EQ(place.left, c.place.left);
    EXPECT_EQ(place.top, c.place.top);
    EXPECT_EQ(place.right, c.place.right);
    EXPECT_EQ(place.bottom, c.place.bottom);
  }
  // Enter and Esc reach Save and Cancel through their ids.
  EXPECT_EQ(::GetDlgCtrlID(Child("Command3")), IDOK);
  EXPECT_EQ(::GetDlgCtrlID(Child("Command1")), IDCANCEL);
}

TEST_F(Win32WindowTest, WindowHasAFixedFrameTheCloseBoxOnlyItsCaptionAndIcon) {
  HWND window = view.WindowFor(form);
  EXPECT_EQ(TextOf(window), L"Morvane <設定>");
  const LONG style = ::GetWindowLongW(window, GWL_STYLE);
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX), 0);
  RECT client{};
  ::GetClientRect(window, &client);
  EXPECT_EQ(client.right, 376);
  EXPECT_EQ(client.bottom, 272);
  EXPECT_NE(::SendMessageW(window, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_NE(::SendMessageW(window, WM_GETICON, ICON_SMALL, 0), 0);
  EXPECT_FALSE(::IsWindowVisible(window));  // until the program shows it
}

TEST_F(Win32WindowTest, CreditLinesHaveTheirItalicFontAndTheRestTheSystemFont) {
  view.WindowFor(form);
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  ASSERT_TRUE(::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
  for (const char* name : {"Label8", "Label9", "Label3", "Command3", "Frame1", "Text1"}) {
    SCOPED_TRACE(name);
    LOGFONTW font{};
    ASSERT_NE(::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(Child(name), WM_GETFONT, 0, 0)),
                           sizeof font, &font),
              0);
    if (name[0] == 'L' && (name[5] == '8' || name[5] == '9')) {
      EXPECT_TRUE(font.lfItalic);
      EXPECT_EQ(font.lfWeight, 400);
      EXPECT_EQ(font.lfHeight, -13);  // 9.75 points at 96 dpi
      EXPECT_EQ(font.lfCharSet, SHIFTJIS_CHARSET);
    } else {
      EXPECT_FALSE(font.lfItalic);
      EXPECT_STREQ(font.lfFaceName, metrics.lfMessageFont.lfFaceName);
      // Smaller only where a caption would not fit otherwise.
      EXPECT_LE(std::abs(font.lfHeight), std::abs(metrics.lfMessageFont.lfHeight));
    }
  }
}

TEST_F(Win32WindowTest, EveryCaptionFitsItsControlInItsFont) {
  view.WindowFor(form);
  for (const ControlLayout& row : kForm1Controls) {
    SCOPED_TRACE(std::string(row.name));
    HWND child = Child(row.name);
    std::wstring caption = TextOf(child);
    if (caption.empty()) continue;
    if (const size_t mark = caption.find(L'&'); mark != std::wstring::npos) caption.erase(mark, 1);
    HDC dc = ::GetDC(child);
    HGDIOBJ previous =
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(child, WM_GETFONT, 0, 0)));
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
    ::SelectObject(dc, previous);
    ::ReleaseDC(child, dc);
    RECT box{};
    ::GetClientRect(child, &box);
    int room = box.right;
    if (row.kind == ControlKind::kOptionButton || row.kind == ControlKind::kCheckBox) {
      room -= ::GetSystemMetrics(SM_CXMENUCHECK);
    }
    EXPECT_LE(extent.cx, room);
    EXPECT_LE(extent.cy, box.bottom);
  }
}

// --- Slider ----------------------------------------------------------------

TEST_F(Win32WindowTest, SliderRunsFrom1To100InStepsOf1And5AndItsMovesReachForm1) {
  Start(u"", u"N", 60);
  HWND slider = Child("Slider1");
  EXPECT_EQ(::SendMessageW(slider, TBM_GETRANGEMIN, 0, 0), 1);
  EXPECT_EQ(::SendMessageW(slider, TBM_GETRANGEMAX, 0, 0), 100);
  EXPECT_EQ(::SendMessageW(slider, TBM_GETLINESIZE, 0, 0), 1);
  EXPECT_EQ(::SendMessageW(slider, TBM_GETPAGESIZE, 0, 0), 5);
  EXPECT_NE(::GetWindowLongW(slider, GWL_STYLE) & TBS_NOTICKS, 0);
  EXPECT_EQ(::SendMessageW(slider, TBM_GETPOS, 0, 0), 60);
  EXPECT_EQ(TextOf(Child("Label6")), L"60");

  // A move as the user makes it: the track bar moves, then tells its parent.
  struct Move {
    int to;
    int quality;
  };
  for (const Move move : {Move{42, 42}, Move{0, 1}, Move{200, 100}}) {
    SCOPED_TRACE(move.to);
    ::SendMessageW(slider, TBM_SETPOS, TRUE, move.to);
    ::SendMessageW(view.window(), WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, move.to),
                   reinterpret_cast<LPARAM>(slider));
    EXPECT_EQ(form.Quality, move.quality);
    EXPECT_EQ(TextOf(Child("Label6")), std::to_wstring(move.quality));
  }
  // The arrow keys move it by one.
  ::SetFocus(slider);
  ::SendMessageW(slider, WM_KEYDOWN, VK_LEFT, 0);
  EXPECT_EQ(form.Quality, 99);
}

// --- Folder rules ----------------------------------------------------------

TEST_F(Win32WindowTest, StoredChosenFolderRuleEnablesText1OnWhiteAndOption2GreysIt) {
  HWND window = Start(u"C:\\jpeg", u"Y");
  HWND text1 = Child("Text1");
  EXPECT_TRUE(::IsWindowEnabled(text1));
  EXPECT_TRUE(::IsWindowEnabled(Child("Command2")));
  EXPECT_EQ(TextOf(text1), L"C:\\jpeg");
  EXPECT_EQ(::SendMessageW(Child("Option1"), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(::SendMessageW(Child("Option2"), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  HDC dc = ::GetDC(text1);
  EXPECT_EQ(BrushColour(::SendMessageW(window, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                                       reinterpret_cast<LPARAM>(text1))),
            RGB(255, 255, 255));
  // Any back colour of Text1 reaches its window (white is also the default).
  form.Text1.SetBackColor(0x0080FFFF);
  EXPECT_EQ(BrushColour(::SendMessageW(window, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                                       reinterpret_cast<LPARAM>(text1))),
            RGB(255, 255, 128));

  ::SendMessageW(Child("Option2"), BM_CLICK, 0, 0);
  EXPECT_FALSE(::IsWindowEnabled(text1));
  EXPECT_FALSE(::IsWindowEnabled(Child("Command2")));
  EXPECT_EQ(TextOf(text1), L"C:\\jpeg");
  EXPECT_EQ(::SendMessageW(Child("Option1"), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  // A disabled edit asks for the colours of a static control.
  EXPECT_EQ(BrushColour(::SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                       reinterpret_cast<LPARAM>(text1))),
            ::GetSysColor(COLOR_BTNFACE));
  ::ReleaseDC(text1, dc);

  ::SendMessageW(Child("Check1"), BM_CLICK, 0, 0);
  EXPECT_EQ(form.Progressive, -1);
}

TEST_F(Win32WindowTest, TabVisitsTheControlsByTabIndexSkippingDisabledOnes) {
  struct Case {
    const char* what;
    std::u16string folder;
    std::u16string set;
    std::vector<const char*> order;
  };
  const Case cases[] = {
      {"next to the source", u"", u"N", {"Command3", "Command1", "Check1", "Slider1", "Option2"}},
      {"chosen folder",
       u"C:\\jpeg",
       u"Y",
       {"Command3", "Command1", "Check1", "Slider1", "Option1", "Command2", "Text1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Win32View view;
    Form1 form(view);
    form.Quality = 85;
    ShowStoredSettings(form, StoredSettings{u"", u"", c.folder, c.set});
    HWND window = view.ShowWindow(form);
    HWND at = ::GetFocus();
    EXPECT_EQ(at, ::GetDlgItem(window, ControlIdOf("Command3")));
    std::vector<int> visited;
    for (size_t i = 0; i < c.order.size() + 1; ++i) {
      visited.push_back(::GetDlgCtrlID(at));
      at = ::GetNextDlgTabItem(window, at, FALSE);
    }
    std::vector<int> expected;
    for (const char* name : c.order) expected.push_back(ControlIdOf(name));
    expected.push_back(ControlIdOf("Command3"));  // round again
    EXPECT_EQ(visited, expected);
  }
}

// --- Save and Cancel -------------------------------------------------------

TEST_F(Win32WindowTest, SaveWritesTheSettingsAndEndsTheProgram) {
  HWND window = Start(u"C:\\jpeg", u"Y", 70, -1);
  ::SendMessageW(Child("Command3"), BM_CLICK, 0, 0);
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0].quality, 70);
  EXPECT_EQ(saved[0].progressive, -1);
  EXPECT_EQ(saved[0].folder, u"C:\\jpeg");
  EXPECT_FALSE(saved[0].option2_selected);
  EXPECT_TRUE(form.ended());
  EXPECT_FALSE(::IsWindowVisible(window));
}

TEST_F(Win32WindowTest, CancelEscAndTheCloseBoxWriteNothing) {
  struct Case {
    const char* what;
    void (*act)(Win32WindowTest& test);
  };
  const Case cases[] = {
      {"Cancel", [](Win32WindowTest& t) { ::SendMessageW(t.Child("Command1"), BM_CLICK, 0, 0); }},
      {"Esc", [](Win32WindowTest& t) { t.Key(t.Child("Check1"), WM_KEYDOWN, VK_ESCAPE); }},
      {"Alt+C", [](Win32WindowTest& t) { t.Key(t.Child("Check1"), WM_SYSCHAR, 'c'); }},
      {"close box",
       [](Win32WindowTest& t) { ::SendMessageW(t.view.window(), WM_SYSCOMMAND, SC_CLOSE, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    struct Run : Win32WindowTest {
      void TestBody() override {}
    } run;
    HWND window = run.Start(u"C:\\jpeg", u"Y");
    c.act(run);
    EXPECT_TRUE(run.form.ended());
    EXPECT_TRUE(run.saved.empty());
    EXPECT_FALSE(::IsWindowVisible(window));
  }
}

TEST_F(Win32WindowTest, EnterAndAltSPressSave) {
  struct Case {
    const char* what;
    const char* focus;
    UINT message;
    WPARAM key;
  };
  const Case cases[] = {
      {"Enter on the check box", "Check1", WM_KEYDOWN, VK_RETURN},
      {"Enter in Text1", "Text1", WM_KEYDOWN, VK_RETURN},
      {"Alt+S", "Slider1", WM_SYSCHAR, 's'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    struct Run : Win32WindowTest {
      void TestBody() override {}
    } run;
    run.Start(u"C:\\jpeg", u"Y");
    ::SetFocus(run.Child(c.focus));
    run.Key(run.Child(c.focus), c.message, c.key);
    EXPECT_EQ(run.saved.size(), 1u);
    EXPECT_TRUE(run.form.ended());
  }
}

TEST_F(Win32WindowTest, SaveWithoutFolderAsksForOneAndWritesNothing) {
  HWND window = Start(u"C:\\jpeg", u"Y");
  // The user empties the folder text.
  ::SetWindowTextW(Child("Text1"), L"");
  ASSERT_EQ(form.Text1.text(), u"");
  {
    DialogAnswer answer(window, IDOK);
    ::SendMessageW(Child("Command3"), BM_CLICK, 0, 0);
    EXPECT_EQ(answer.boxes, 1);
    EXPECT_EQ(answer.title, L"Morvane");
    EXPECT_TRUE(Contains(answer.texts, L"保存場所を設定してください。"));
    EXPECT_TRUE(answer.error_icon);
    EXPECT_EQ(answer.owner, window);
  }
  EXPECT_TRUE(saved.empty());
  EXPECT_FALSE(form.ended());
  EXPECT_TRUE(::IsWindowVisible(window));
  EXPECT_EQ(::GetFocus(), Child("Command2"));

  ::SetWindowTextW(Child("Text1"), L"D:\\out");
  ::SendMessageW(Child("Command3"), BM_CLICK, 0, 0);
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0].folder, u"D:\\out");
}

// --- Folder chooser --------------------------------------------------------

TEST_F(Win32WindowTest, ChooserIsTheShellsOwnedByTheWindowAndCancelKeepsText1) {
  HWND window = Start(u"", u"N");
  {
    DialogAnswer answer(window, IDCANCEL);
    ::SendMessageW(Child("Option1"), BM_CLICK, 0, 0);  // Text1 is empty: the chooser opens
    EXPECT_EQ(answer.boxes, 1);
    EXPECT_TRUE(Contains(answer.texts, L"JPEGファイルの保存場所を指定してください。"));
    EXPECT_EQ(answer.owner, window);
  }
  EXPECT_EQ(form.Text1.text(), u"");
  EXPECT_TRUE(::IsWindowEnabled(Child("Text1")));
  EXPECT_EQ(::GetFocus(), Child("Command3"));

  struct Click {
    const wchar_t* text;
    int boxes;
  };
  for (const Click click : {Click{L"", 1}, Click{L"C:\\jpeg", 0}}) {
    SCOPED_TRACE(click.boxes);
    ::SetWindowTextW(Child("Text1"), click.text);
    DialogAnswer answer(window, IDCANCEL);
    ::SendMessageW(Child("Text1"), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    ::SendMessageW(Child("Text1"), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(answer.boxes, click.boxes);
  }
}

TEST_F(Win32WindowTest, RunWindowReturnsZeroOnceTheProgramEnds) {
  ShowStoredSettings(form, StoredSettings{u"", u"", u"", u"N"});
  form.Quality = 85;
  // Cancel, pressed once the message loop runs.
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) {
    HWND window = OpenDialogBox(nullptr);
    if (window != nullptr) ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
  });
  EXPECT_EQ(view.RunWindow(form), 0);
  ::KillTimer(nullptr, timer);
  EXPECT_TRUE(form.ended());
  EXPECT_TRUE(saved.empty());
}

// --- Progress of a long batch -------------------------------------------------

// The visible window of this thread titled `title`.
HWND VisibleWindowTitled(const wchar_t* title) {
  struct Search {
    const wchar_t* title;
    HWND found = nullptr;
  } search{title};
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM data) -> BOOL {
        auto* search = reinterpret_cast<Search*>(data);
        if (!::IsWindowVisible(window) || TextOf(window) != search->title) return TRUE;
        search->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND ChildOfClass(HWND window, const wchar_t* window_class) {
  return ::FindWindowExW(window, nullptr, window_class, nullptr);
}

// What the progress window showed when a thread timer of the waiting loop
// looked at it: after two calls had returned, it clicks キャンセル.
struct ProgressSeen {
  static inline ProgressSeen* current = nullptr;
  BatchProgress* progress = nullptr;
  std::chrono::steady_clock::time_point first_seen{};
  HWND window = nullptr;
  std::wstring count_text;
  size_t done_at_click = 0;
  LRESULT bar_position = -1;
  LRESULT bar_maximum = -1;
  std::wstring button_text;
  bool button_disabled_after_click = false;
  LOGFONTW font{};

  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    ProgressSeen* seen = current;
    HWND window = VisibleWindowTitled(L"変換中");
    if (seen == nullptr || window == nullptr || seen->window != nullptr) return;
    if (seen->first_seen == std::chrono::steady_clock::time_point{}) {
      seen->first_seen = std::chrono::steady_clock::now();
    }
    if (seen->progress->done() < 2) return;
    HWND bar = ChildOfClass(window, PROGRESS_CLASSW);
    HWND count = ChildOfClass(window, WC_STATICW);
    HWND button = ChildOfClass(window, WC_BUTTONW);
    if (bar == nullptr || count == nullptr || button == nullptr) return;
    seen->window = window;
    // The window shows the count as of its last look; the click is made
    // after reading it.
    seen->count_text = TextOf(count);
    seen->bar_position = ::SendMessageW(bar, PBM_GETPOS, 0, 0);
    seen->bar_maximum = ::SendMessageW(bar, PBM_GETRANGE, FALSE, 0);
    seen->button_text = TextOf(button);
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(count, WM_GETFONT, 0, 0)),
                 sizeof seen->font, &seen->font);
    seen->done_at_click = seen->progress->done();
    ::SendMessageW(button, BM_CLICK, 0, 0);
    seen->button_disabled_after_click = !::IsWindowEnabled(button);
  }
};

// A batch of `total` calls on another thread, each taking `call_time`,
// that starts no call once cancelled.
std::thread FakeBatch(BatchProgress& progress, std::chrono::milliseconds call_time) {
  return std::thread([&progress, call_time] {
    for (size_t i = 0; i < progress.total() && !progress.cancel_requested(); ++i) {
      std::this_thread::sleep_for(call_time);
      progress.CallReturned();
    }
    progress.Finish();
  });
}

TEST_F(Win32WindowTest, LongBatchShowsItsProgressAfterASecondAndCancelStopsIt) {
  BatchProgress progress(20);
  ProgressSeen seen;
  seen.progress = &progress;
  ProgressSeen::current = &seen;
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, &ProgressSeen::Tick);
  std::thread batch = FakeBatch(progress, std::chrono::milliseconds(150));
  view.WaitForBatch(progress);
  batch.join();
  ::KillTimer(nullptr, timer);
  ProgressSeen::current = nullptr;

  ASSERT_NE(seen.window, nullptr);
  EXPECT_GE(seen.first_seen - progress.started(), std::chrono::milliseconds(900));
  EXPECT_FALSE(::IsWindow(seen.window));  // gone when the wait returns
  EXPECT_EQ(seen.count_text, std::to_wstring(seen.bar_position) + L" / 20");
  EXPECT_GE(seen.bar_position, 2);
  EXPECT_EQ(seen.bar_maximum, 20);
  EXPECT_EQ(seen.button_text, L"キャンセル");
  EXPECT_TRUE(seen.button_disabled_after_click);
  EXPECT_TRUE(progress.cancel_requested());
  // The call running at the click finished; no other started.
  EXPECT_LE(progress.done(), seen.done_at_click + 1);
  // The settings window's font.
  HFONT settings_font = reinterpret_cast<HFONT>(
      ::SendMessageW(::GetDlgItem(view.WindowFor(form), ControlIdOf("Label3")), WM_GETFONT, 0, 0));
  LOGFONTW expected{};
  ::GetObjectW(settings_font, sizeof expected, &expected);
  EXPECT_STREQ(seen.font.lfFaceName, expected.lfFaceName);
  EXPECT_EQ(seen.font.lfHeight, expected.lfHeight);
}

TEST_F(Win32WindowTest, ShortBatchShowsNoProgressWindow) {
  BatchProgress progress(3);
  bool seen = false;
  static bool* seen_now = nullptr;
  seen_now = &seen;
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) {
    if (VisibleWindowTitled(L"変換中") != nullptr) *seen_now = true;
  });
  std::thread batch = FakeBatch(progress, std::chrono::milliseconds(50));
  view.WaitForBatch(progress);
  batch.join();
  ::KillTimer(nullptr, timer);
  EXPECT_TRUE(progress.finished());
  EXPECT_FALSE(seen);
  EXPECT_EQ(VisibleWindowTitled(L"変換中"), nullptr);
}

}  // namespace
}  // namespace morvane
