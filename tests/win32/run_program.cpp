#include "run_program.h"

#include <windows.h>

namespace morvane_test {
namespace {

// The first message box (dialog class #32770) that `process_id` shows and
// that was not answered yet, or nullptr.
HWND FindMessageBox(DWORD process_id, const std::vector<HWND>& answered) {
  HWND window = nullptr;
  while ((window = ::FindWindowExW(nullptr, window, L"#32770", nullptr)) != nullptr) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != process_id || !::IsWindowVisible(window)) continue;
    bool seen = false;
    for (HWND old : answered) seen = seen || old == window;
    if (!seen) return window;
  }
  return nullptr;
}

std::wstring TextOf(HWND window) {
  wchar_t buffer[4096] = {};
  ::GetWindowTextW(window, buffer, 4096);
  return buffer;
}

}  // namespace

ProgramRun RunProgram(const std::wstring& program, const std::wstring& command_line,
                      const std::wstring& folder, unsigned long time_limit_ms) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring line = command_line;  // CreateProcessW may write into it
  if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &process)) {
    ProgramRun run;
    run.exit_code = ::GetLastError();
    return run;
  }
  ::CloseHandle(process.hThread);
  return WatchProgram(process.hProcess, process.dwProcessId, time_limit_ms);
}

ProgramRun WatchProgram(void* process, unsigned long process_id, unsigned long time_limit_ms) {
  ProgramRun run;
  std::vector<HWND> answered;
  const ULONGLONG deadline = ::GetTickCount64() + time_limit_ms;
  while (::WaitForSingleObject(process, 20) == WAIT_TIMEOUT) {
    if (::GetTickCount64() > deadline) break;
    const HWND box = FindMessageBox(process_id, answered);
    if (box == nullptr) continue;
    wchar_t text[4096] = {};
    ::GetDlgItemTextW(box, 0xFFFF, text, 4096);
    run.boxes.push_back({TextOf(box), text});
    answered.push_back(box);
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
  DWORD code = 0;
  if (::WaitForSingleObject(process, 0) == WAIT_OBJECT_0 && ::GetExitCodeProcess(process, &code)) {
    run.ended = true;
    run.exit_code = code;
  } else {
    ::TerminateProcess(process, 255);
    ::WaitForSingleObject(process, 5000);
  }
  ::CloseHandle(process);
  return run;
}

}  // namespace morvane_test
