// Starts a window program with an exact command line, answers its message
// boxes with OK and reports what they said and how the program ended. For
// the end-to-end tests of Morvane.exe on Windows (or Wine).
#pragma once

#include <string>
#include <vector>

namespace morvane_test {

struct MessageBoxSeen {
  std::wstring title;
  std::wstring text;
};

struct ProgramRun {
  bool ended = false;  // false: still running after the time limit, then stopped
  unsigned long exit_code = 0;
  std::vector<MessageBoxSeen> boxes;  // in the order they came up
};

// Runs `program` with `command_line` as the whole line the program reads
// (GetCommandLineW), in `folder`. Each message box of that process is read
// (GetDlgItemTextW of its text control, 0xFFFF) and closed with OK.
ProgramRun RunProgram(const std::wstring& program, const std::wstring& command_line,
                      const std::wstring& folder, unsigned long time_limit_ms = 30000);

// The same for a process started otherwise (by ShellExecuteExW, say), given
// its handle, which is closed afterwards, and its id.
ProgramRun WatchProgram(void* process, unsigned long process_id,
                        unsigned long time_limit_ms = 30000);

}  // namespace morvane_test
