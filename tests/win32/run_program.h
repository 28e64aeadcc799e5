// Starts a window program with an exact command line and works it from
// outside, as a user would: its windows found, its controls read, clicked
// and typed into, its message boxes read and answered with OK, its end
// waited for. For the end-to-end tests of Morvane.exe on Windows (or Wine).
// Every wait polls against a time limit.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace morvane_test {

// How long a test waits for something the program is about to do.
inline constexpr unsigned long kWaitMs = 20000;

struct MessageBoxSeen {
  std::wstring title;
  std::wstring text;
};

struct ProgramRun {
  bool ended = false;  // false: still running after the time limit, then stopped
  unsigned long exit_code = 0;
  std::vector<MessageBoxSeen> boxes;  // in the order they came up
};

// The program, started in `folder` with `command_line` as the whole line it
// reads (GetCommandLineW), with `error_output` (an inheritable handle) as
// its standard error when one is given, otherwise none. Stopped when the
// object goes, if still running.
class RunningProgram {
 public:
  RunningProgram(const std::wstring& program, const std::wstring& command_line,
                 const std::wstring& folder, HANDLE error_output = nullptr);
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  bool started() const { return process_.hProcess != nullptr; }
  bool running() const;
  // The program's visible top-level window with this caption, or nullptr
  // when none comes in time.
  HWND WaitForWindow(const std::wstring& caption, unsigned long time_limit_ms = kWaitMs) const;
  // The next message box of the program (a dialog with a text control,
  // 0xFFFF), read and closed with OK; nothing when none comes in time.
  std::optional<MessageBoxSeen> AnswerMessageBox(unsigned long time_limit_ms = kWaitMs);
  // Waits for the end, answering every message box meanwhile. Stops the
  // program when it outlives the time limit. `boxes` holds the boxes
  // answered while it waited.
  ProgramRun WaitForEnd(unsigned long time_limit_ms = kWaitMs);
  // The control that has the keyboard focus in the program, or nullptr.
  HWND Focus() const;

 private:
  HWND NewMessageBox() const;

  PROCESS_INFORMATION process_{};
  unsigned long start_error_ = 0;
  std::vector<HWND> answered_;
  std::vector<MessageBoxSeen> boxes_;
};

// Runs the program to its end, answering its message boxes (RunningProgram).
ProgramRun RunProgram(const std::wstring& program, const std::wstring& command_line,
                      const std::wstring& folder, unsigned long time_limit_ms = 30000,
                      HANDLE error_output = nullptr);

// Controls of another process, read with sent messages that give up after
// a while rather than hang the test.
std::wstring TextOf(HWND control);
// BST_CHECKED, BST_UNCHECKED or BST_INDETERMINATE of a button.
LRESULT CheckOf(HWND button);
// A track bar's position.
LRESULT PositionOf(HWND slider);

// Input through the program's own message loop (posted, so that a handler
// that opens a box does not hold up the test): a click on a button, a key
// pressed and released on a control.
void Click(HWND button);
void PressKey(HWND control, WPARAM key);
// The text of an edit control replaced, as typing would (the edit tells its
// parent of the change).
void SetText(HWND edit, const std::wstring& text);

// Polls `condition` until it holds or the time limit passes; whether it held.
template <class Condition>
bool WaitUntil(Condition condition, unsigned long time_limit_ms = kWaitMs) {
  const ULONGLONG deadline = ::GetTickCount64() + time_limit_ms;
  for (;;) {
    if (condition()) return true;
    if (::GetTickCount64() > deadline) return false;
    ::Sleep(10);
  }
}

}  // namespace morvane_test
