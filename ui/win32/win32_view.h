// The desktop view of Form1 on Windows: the settings window made of real
// Win32 child controls from the layout table, mirroring Form1's controls and
// handing the user's actions to its handlers, with the system's message
// boxes and folder chooser.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "ui/form1.h"
#include "ui/view.h"

namespace morvane {

// The control id of a child window: IDOK for the default button (Enter),
// IDCANCEL for the cancel button (Esc), 100 plus the row in kForm1Controls
// for the others; 0 for a name the table does not hold.
int ControlIdOf(std::string_view name);

// Twips to pixels at `dpi` dots per inch.
int PixelsFromTwips(int twips, int dpi);

class Win32View : public View {
 public:
  Win32View();
  ~Win32View() override;
  Win32View(const Win32View&) = delete;
  Win32View& operator=(const Win32View&) = delete;

  void ShowMessage(std::u16string_view text, std::u16string_view title, MessageIcon icon) override;
  int RunWindow(Form1& form) override;
  std::optional<std::u16string> ChooseFolder(Form1& form, std::u16string_view title) override;
  void PropertyChanged(Form1& form, const Control& control, ControlProperty property) override;
  void FocusMoved(Form1& form, const Control& control) override;
  void EndProgram(Form1& form) override;
  // Once the batch has run kBatchProgressDelay, shows a window titled
  // "変換中" with the count on a msctls_progress32 bar and in a STATIC
  // ("12 / 200"), and a キャンセル button (IDCANCEL: Esc and the close box
  // too) that asks the batch to start no more calls; pumps this thread's
  // messages until the batch has finished, then destroys the window.
  void WaitForBatch(BatchProgress& progress) override;

  // The window of `form`, made hidden the first time.
  HWND WindowFor(Form1& form);
  // Shows the window of `form` with the focus on Command3; RunWindow then
  // runs the message loop until the program ends.
  HWND ShowWindow(Form1& form);
  // The window, or nullptr before it is made.
  HWND window() const { return window_; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK Text1Proc(HWND edit, UINT message, WPARAM wparam, LPARAM lparam);

  void MakeWindow(Form1& form);
  HWND MakeChild(const Control& control, int dpi);
  void Mirror(const Control& control, ControlProperty property);
  HWND ChildOf(const Control& control) const;
  INT_PTR Command(WORD id, WORD code, HWND child);
  INT_PTR ColourOfText1(HDC dc);
  // Runs `handler` for a user action: not while mirroring, not after the end
  // of the program; a failure ends only the handler.
  template <class Handler>
  void RunHandler(Handler handler);

  Form1* form_ = nullptr;
  HWND window_ = nullptr;
  std::map<const Control*, HWND> children_;
  HFONT window_font_ = nullptr;
  HFONT credit_font_ = nullptr;
  HBRUSH text1_brush_ = nullptr;  // owned when Text1's colour is not a system one
  WNDPROC edit_proc_ = nullptr;
  bool mirroring_ = false;
  bool loop_running_ = false;
  bool com_started_ = false;
};

}  // namespace morvane
