#include "run_program.h"

#include <commctrl.h>

#include <cstddef>

namespace morvane_test {
namespace {

constexpr UINT kSendTimeoutMs = 5000;
constexpr int kMessageBoxText = 0xFFFF;

struct WindowSearch {
  DWORD process_id;
  const std::wstring* caption;
  HWND found = nullptr;
};

BOOL CALLBACK NoteWindowWithCaption(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<WindowSearch*>(data);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner != search->process_id || !::IsWindowVisible(window) ||
      TextOf(window) != *search->caption) {
    return TRUE;
  }
  search->found = window;
  return FALSE;
}

LRESULT Send(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  ::SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
  return static_cast<LRESULT>(result);
}

}  // namespace

RunningProgram::RunningProgram(const std::wstring& program, const std::wstring& command_line,
                               const std::wstring& folder, HANDLE error_output) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (error_output != nullptr) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdError = error_output;
  }
  std::wstring line = command_line;  // CreateProcessW may write into it
  if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, error_output != nullptr, 0,
                        nullptr, folder.c_str(), &startup, &process_)) {
    start_error_ = ::GetLastError();
    process_ = {};
  }
}

RunningProgram::~RunningProgram() {
  if (!started()) return;
  if (running()) {
    ::TerminateProcess(process_.hProcess, 255);
    ::WaitForSingleObject(process_.hProcess, 5000);
  }
  ::CloseHandle(process_.hThread);
  ::CloseHandle(process_.hProcess);
}

bool RunningProgram::running() const {
  return started() && ::WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

HWND RunningProgram::WaitForWindow(const std::wstring& caption, unsigned long time_limit_ms) const {
  WindowSearch search{process_.dwProcessId, &caption};
  WaitUntil(
      [&] {
        ::EnumWindows(&NoteWindowWithCaption, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr || !running();
      },
      time_limit_ms);
  return search.found;
}

HWND RunningProgram::NewMessageBox() const {
  HWND window = nullptr;
  while ((window = ::FindWindowExW(nullptr, window, L"#32770", nullptr)) != nullptr) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != process_.dwProcessId || !::IsWindowVisible(window) ||
        ::GetDlgItem(window, kMessageBoxText) == nullptr) {
      continue;
    }
    bool seen = false;
    for (HWND old : answered_) seen = seen || old == window;
    if (!seen) return window;
  }
  return nullptr;
}

std::optional<MessageBoxSeen> RunningProgram::AnswerMessageBox(unsigned long time_limit_ms) {
  HWND box = nullptr;
  WaitUntil([&] { return (box = NewMessageBox()) != nullptr || !running(); }, time_limit_ms);
  if (box == nullptr) return std::nullopt;
  const MessageBoxSeen seen{TextOf(box), TextOf(::GetDlgItem(box, kMessageBoxText))};
  boxes_.push_back(seen);
  answered_.push_back(box);
  ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  return seen;
}

ProgramRun RunningProgram::WaitForEnd(unsigned long time_limit_ms) {
  ProgramRun run;
  if (!started()) {
    run.exit_code = start_error_;
    return run;
  }
  const size_t first_box = boxes_.size();
  const ULONGLONG deadline = ::GetTickCount64() + time_limit_ms;
  while (::WaitForSingleObject(process_.hProcess, 20) == WAIT_TIMEOUT &&
         ::GetTickCount64() <= deadline) {
    if (NewMessageBox() != nullptr) AnswerMessageBox(0);
  }
  DWORD code = 0;
  if (!running() && ::GetExitCodeProcess(process_.hProcess, &code)) {
    run.ended = true;
    run.exit_code = code;
  } else {
    ::TerminateProcess(process_.hProcess, 255);
    ::WaitForSingleObject(process_.hProcess, 5000);
  }
  run.boxes.assign(boxes_.begin() + static_cast<std::ptrdiff_t>(first_box), boxes_.end());
  return run;
}

HWND RunningProgram::Focus() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!::GetGUIThreadInfo(process_.dwThreadId, &info)) return nullptr;
  return info.hwndFocus;
}

ProgramRun RunProgram(const std::wstring& program, const std::wstring& command_line,
                      const std::wstring& folder, unsigned long time_limit_ms,
                      HANDLE error_output) {
  RunningProgram running(program, command_line, folder, error_output);
  return running.WaitForEnd(time_limit_ms);
}

std::wstring TextOf(HWND control) {
  // WM_GETTEXT, not GetWindowTextW: for another process's window that reads
  // only a caption, never an edit control's text.
  wchar_t buffer[4096] = {};
  Send(control, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

LRESULT CheckOf(HWND button) { return Send(button, BM_GETCHECK, 0, 0); }

LRESULT PositionOf(HWND slider) { return Send(slider, TBM_GETPOS, 0, 0); }

void Click(HWND button) { ::PostMessageW(button, BM_CLICK, 0, 0); }

void PressKey(HWND control, WPARAM key) {
  ::PostMessageW(control, WM_KEYDOWN, key, 1);
  ::PostMessageW(control, WM_KEYUP, key, 0xC0000001);
}

void SetText(HWND edit, const std::wstring& text) {
  Send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

}  // namespace morvane_test
