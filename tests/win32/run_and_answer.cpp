// Runs a window program to its end for a script, answering its message
// boxes with OK (run_program.cpp), and ends with the program's exit status.
// tools/check-windows-packages.sh runs the installed Morvane.exe with it.
//
//   run_and_answer PROGRAM COMMAND_LINE FOLDER
//       CreateProcessW: COMMAND_LINE is the whole line the program reads
//   run_and_answer --shortcut LINK PARAMETERS
//       what the shortcut names, with PARAMETERS after its own arguments,
//       as Explorer starts a shortcut of "Send to" with the files sent
//
// Each message box is printed on standard output, in UTF-8: its title, a
// tab and its text (line breaks as " / "). Status 124: the program still
// ran after 60 seconds and was stopped; 125: it could not be started.
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <windows.h>

#include <string>

#include "run_program.h"

namespace {

constexpr unsigned long kTimeLimitMs = 60000;

void Print(const std::wstring& text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

std::wstring OneLine(std::wstring text) {
  for (size_t at = 0; (at = text.find(L"\r\n", at)) != std::wstring::npos;) {
    text.replace(at, 2, L" / ");
  }
  return text;
}

// Starts what the shortcut `link` names, in its working folder, with the
// shortcut's own arguments and then `parameters`: what Explorer does with
// the files sent to a shortcut of "Send to".
morvane_test::ProgramRun StartShortcut(const wchar_t* link, const std::wstring& parameters) {
  morvane_test::ProgramRun failed;
  failed.exit_code = ERROR_FILE_NOT_FOUND;
  IShellLinkW* shortcut = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&shortcut)))) {
    return failed;
  }
  IPersistFile* file = nullptr;
  wchar_t target[MAX_PATH] = {}, arguments[1024] = {}, folder[MAX_PATH] = {};
  const bool read =
      SUCCEEDED(shortcut->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
      SUCCEEDED(file->Load(link, STGM_READ)) &&
      SUCCEEDED(shortcut->GetPath(target, MAX_PATH, nullptr, 0)) &&
      SUCCEEDED(shortcut->GetArguments(arguments, 1024)) &&
      SUCCEEDED(shortcut->GetWorkingDirectory(folder, MAX_PATH));
  if (file != nullptr) file->Release();
  shortcut->Release();
  if (!read || target[0] == L'\0') return failed;
  std::wstring line = L"\"" + std::wstring(target) + L"\"";
  if (arguments[0] != L'\0') line += L" " + std::wstring(arguments);
  line += L" " + parameters;
  return morvane_test::RunProgram(target, line, folder, kTimeLimitMs);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool shortcut = argc == 4 && std::wstring(argv[1]) == L"--shortcut";
  if (argc != 4) {
    Print(
        L"usage: run_and_answer PROGRAM COMMAND_LINE FOLDER\n"
        L"       run_and_answer --shortcut LINK PARAMETERS\n");
    return 2;
  }
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const morvane_test::ProgramRun run =
      shortcut ? StartShortcut(argv[2], argv[3])
               : morvane_test::RunProgram(argv[1], argv[2], argv[3], kTimeLimitMs);
  for (const auto& box : run.boxes) Print(box.title + L"\t" + OneLine(box.text) + L"\n");
  if (!run.ended && run.boxes.empty() && run.exit_code != 0) {
    Print(L"run_and_answer: could not start it, error " + std::to_wstring(run.exit_code) + L"\n");
    return 125;
  }
  if (!run.ended) {
    Print(L"run_and_answer: still running after 60 s, stopped\n");
    return 124;
  }
  return static_cast<int>(run.exit_code);
}
