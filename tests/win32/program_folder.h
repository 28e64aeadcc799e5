// A copy of Morvane.exe and its encoder in a folder of the test's own, so
// that a settings file can lie beside the program, and the program started
// from there with an exact command line.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "run_program.h"
#include "test_support/files.h"

namespace morvane_test {

namespace fs = std::filesystem;

// `text` in the ANSI code page, as the program reads and writes its
// settings file.
inline std::string Ansi(const std::wstring& text) {
  const int length = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                        length, nullptr, nullptr);
  return narrow;
}

// bin\ holds the copy of the program and its encoder; other folders of the
// test (pictures, output) lie beside it.
class ProgramOnWindows : public testing::Test {
 protected:
  ProgramOnWindows() {
    fs::create_directories(bin());
    for (const char* file : {"Morvane.exe", "SaveJPG.DLL"})
      fs::copy_file(TestBinaryFolder() / file, bin() / file);
  }

  fs::path bin() const { return root_ / "bin"; }
  fs::path settings_file() const { return bin() / "Morvane.ini"; }
  fs::path Folder(const std::wstring& name) const {
    fs::create_directories(root_ / name);
    return root_ / name;
  }
  std::wstring Program() const { return (bin() / "Morvane.exe").native(); }
  // The whole command line: the program's quoted name, then `arguments`.
  std::wstring CommandLine(const std::wstring& arguments) const {
    const std::wstring name = L"\"" + Program() + L"\"";
    return arguments.empty() ? name : name + L" " + arguments;
  }
  // The program run to its end with `arguments`.
  ProgramRun Run(const std::wstring& arguments) const {
    return RunProgram(Program(), CommandLine(arguments), root_.path().native());
  }

  // The folder of the test binary, where the program was built.
  static fs::path TestBinaryFolder() {
    wchar_t buffer[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return fs::path(std::wstring(buffer, length)).parent_path();
  }

  morvane::test_support::TempFolder root_;
};

}  // namespace morvane_test
