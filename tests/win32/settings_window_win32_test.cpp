// The settings window of Morvane.exe end to end on Windows (or Wine): the
// program started without arguments beside a settings file, its window
// found and worked from this process as a user would, through the
// program's own message loop, and the file it leaves. Where the controls
// stand and what each handler does are tested inside the process
// (ui/win32/win32_view_test.cpp).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "program_folder.h"
#include "run_program.h"
#include "test_support/files.h"
#include "ui/win32/win32_view.h"

namespace morvane_test {
namespace {

using morvane::test_support::ReadText;
using morvane::test_support::WriteFile;

const std::wstring kCaption = L"Morvane <設定>";

// A folder path the program never looks at: it is only shown and saved.
std::wstring SomeFolder() {
  return ::GetACP() == 932 ? L"D:\\写真 出力\\表" : L"D:\\Photos Out\\JPEG";
}

// A settings file as the program writes it, in the ANSI code page.
std::string SettingsText(const std::wstring& rate, const std::wstring& prg,
                         const std::wstring& folder, const std::wstring& set) {
  return Ansi(L"[Data]\r\nRate=" + rate + L"\r\nPrg=" + prg + L"\r\nFolder=" + folder +
              L"\r\nSet=" + set + L"\r\n");
}

std::wstring Padded(std::wstring text, size_t width) {
  if (text.size() < width) text.resize(width, L' ');
  return text;
}

class SettingsWindow : public ProgramOnWindows {
 public:
  // The program started with nothing after its name, and its window.
  void Start() {
    program_.emplace(Program(), CommandLine(L""), root_.path().native());
    ASSERT_TRUE(program_->started());
    window_ = program_->WaitForWindow(kCaption);
    ASSERT_NE(window_, nullptr) << "no window came up";
  }

  HWND Child(const char* name) const { return ::GetDlgItem(window_, morvane::ControlIdOf(name)); }

  // The program's end after the user's last action: exit status 0, no box.
  void ExpectQuietEnd() {
    const ProgramRun run = program_->WaitForEnd();
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_TRUE(run.boxes.empty()) << run.boxes[0].text;
  }

  std::vector<std::wstring> BinNames() const {
    std::vector<std::wstring> names;
    for (const auto& entry : fs::directory_iterator(bin()))
      names.push_back(entry.path().filename().native());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::optional<RunningProgram> program_;
  HWND window_ = nullptr;
};

TEST_F(SettingsWindow, ControlsShowTheSettingsFileBesideTheProgram) {
  struct Case {
    const char* what;
    std::string file;
    LRESULT position;
    bool progressive;
    bool chosen_folder;
    std::wstring folder;
  };
  const Case cases[] = {
      {"chosen folder", SettingsText(L"42", L"True ", SomeFolder(), L"Y "), 42, true, true,
       SomeFolder()},
      // The folder stays, greyed, under the next-to-source rule.
      {"next to the source", SettingsText(L"100", L"False", L"C:\\old", L"N"), 100, false, false,
       L"C:\\old"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(settings_file(), c.file);
    ASSERT_NO_FATAL_FAILURE(Start());

    EXPECT_EQ(PositionOf(Child("Slider1")), c.position);
    EXPECT_EQ(TextOf(Child("Label6")), std::to_wstring(c.position));
    EXPECT_EQ(CheckOf(Child("Check1")), c.progressive ? BST_CHECKED : BST_UNCHECKED);
    EXPECT_EQ(CheckOf(Child("Option1")), c.chosen_folder ? BST_CHECKED : BST_UNCHECKED);
    EXPECT_EQ(CheckOf(Child("Option2")), c.chosen_folder ? BST_UNCHECKED : BST_CHECKED);
    EXPECT_EQ(TextOf(Child("Text1")), c.folder);
    EXPECT_EQ(::IsWindowEnabled(Child("Text1")) != FALSE, c.chosen_folder);
    EXPECT_EQ(::IsWindowEnabled(Child("Command2")) != FALSE, c.chosen_folder);

    Click(Child("Command1"));
    ASSERT_NO_FATAL_FAILURE(ExpectQuietEnd());
  }
}

TEST_F(SettingsWindow, EnterSavesWhatTheControlsShowAndEndsTheProgram) {
  WriteFile(settings_file(), SettingsText(L"42", L"True", SomeFolder(), L"Y"));
  ASSERT_NO_FATAL_FAILURE(Start());

  PressKey(Child("Slider1"), VK_END);
  Click(Child("Check1"));
  Click(Child("Option2"));
  PressKey(Child("Option2"), VK_RETURN);

  ASSERT_NO_FATAL_FAILURE(ExpectQuietEnd());
  // Every value in its field; the folder is kept under the next-to-source
  // rule.
  EXPECT_EQ(ReadText(settings_file()),
            SettingsText(Padded(L"100", 50), L"False", Padded(SomeFolder(), 50), L"N "));
  EXPECT_EQ(BinNames(),
            (std::vector<std::wstring>{L"Morvane.exe", L"Morvane.ini", L"SaveJPG.DLL"}));
}

TEST_F(SettingsWindow, CancelEscAndTheCloseBoxLeaveTheFileAsItWas) {
  struct Case {
    const char* what;
    bool with_file;
    void (*act)(SettingsWindow& test);
  };
  const Case cases[] = {
      {"Cancel", true, [](SettingsWindow& t) { Click(t.Child("Command1")); }},
      {"Esc", true, [](SettingsWindow& t) { PressKey(t.Child("Slider1"), VK_ESCAPE); }},
      // Nor is a file made where there was none.
      {"close box", false,
       [](SettingsWindow& t) { ::PostMessageW(t.window_, WM_SYSCOMMAND, SC_CLOSE, 0); }},
  };
  const std::string file = SettingsText(L"42", L"True", SomeFolder(), L"Y");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::error_code ignored;
    fs::remove(settings_file(), ignored);
    if (c.with_file) WriteFile(settings_file(), file);
    ASSERT_NO_FATAL_FAILURE(Start());
    // A change that Save would write.
    PressKey(Child("Slider1"), VK_HOME);
    ASSERT_TRUE(WaitUntil([&] { return TextOf(Child("Label6")) == L"1"; }));

    c.act(*this);

    ASSERT_NO_FATAL_FAILURE(ExpectQuietEnd());
    EXPECT_EQ(fs::exists(settings_file()), c.with_file);
    EXPECT_EQ(ReadText(settings_file()), c.with_file ? file : "");
  }
}

TEST_F(SettingsWindow, SaveWithoutAFolderSaysSoAndKeepsTheWindowAndTheFile) {
  const std::string file = SettingsText(L"42", L"True", SomeFolder(), L"Y");
  WriteFile(settings_file(), file);
  ASSERT_NO_FATAL_FAILURE(Start());
  SetText(Child("Text1"), L"");

  Click(Child("Command3"));
  const std::optional<MessageBoxSeen> box = program_->AnswerMessageBox();
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->title, L"Morvane");
  EXPECT_EQ(box->text, L"保存場所を設定してください。");
  // Closed, it leaves the focus on "..." and the window up.
  EXPECT_TRUE(WaitUntil([&] { return program_->Focus() == Child("Command2"); }));
  EXPECT_TRUE(program_->running());
  EXPECT_TRUE(::IsWindowVisible(window_));
  EXPECT_EQ(ReadText(settings_file()), file);

  // With a folder typed in, the same button saves.
  SetText(Child("Text1"), L"E:\\later");
  Click(Child("Command3"));
  ASSERT_NO_FATAL_FAILURE(ExpectQuietEnd());
  EXPECT_EQ(ReadText(settings_file()),
            SettingsText(Padded(L"42", 50), L"True ", Padded(L"E:\\later", 50), L"Y "));
}

TEST_F(SettingsWindow, SaveWhileAnotherProgramHoldsTheFileSaysItFailedAndKeepsTheWindow) {
  const std::string file = SettingsText(L"42", L"True", SomeFolder(), L"Y");
  WriteFile(settings_file(), file);
  ASSERT_NO_FATAL_FAILURE(Start());
  PressKey(Child("Slider1"), VK_HOME);
  // Opened for itself alone, as an editor may keep it.
  HANDLE held = ::CreateFileW(settings_file().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);

  Click(Child("Command3"));
  const std::optional<MessageBoxSeen> box = program_->AnswerMessageBox();
  // The window takes input again once the box is gone.
  const bool back =
      WaitUntil([&] { return ::IsWindowEnabled(window_) != FALSE || !program_->running(); });
  ::CloseHandle(held);
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->title, L"Morvane");
  EXPECT_EQ(box->text, L"設定を保存できませんでした。");
  EXPECT_TRUE(back);
  ASSERT_TRUE(program_->running());
  EXPECT_TRUE(::IsWindowVisible(window_));
  EXPECT_EQ(ReadText(settings_file()), file);
  EXPECT_EQ(BinNames(),
            (std::vector<std::wstring>{L"Morvane.exe", L"Morvane.ini", L"SaveJPG.DLL"}));

  // Once the file is free, Save writes it.
  Click(Child("Command3"));
  ASSERT_NO_FATAL_FAILURE(ExpectQuietEnd());
  EXPECT_EQ(ReadText(settings_file()),
            SettingsText(Padded(L"1", 50), L"True ", Padded(SomeFolder(), 50), L"Y "));
}

TEST_F(SettingsWindow, SaveKeepsAUtf8FileWithItsMarkAndWritesOnlyTheKeyLines) {
  // As Notepad saves it: the mark, CR LF, text in UTF-8 that the ANSI code
  // page does not hold ("ö", "ü").
  const std::string head = "\xEF\xBB\xBF; 設定ファイル ö\r\n[Data]\r\n";
  const std::string tail = "; 終わり ü\r\n";
  WriteFile(settings_file(), head + "Rate=42\r\nPrg=True\r\nFolder=D:\\写真 ö\r\nSet=Y\r\n" + tail);
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(TextOf(Child("Text1")), L"D:\\写真 ö");

  PressKey(Child("Slider1"), VK_END);
  ASSERT_TRUE(WaitUntil([&] { return TextOf(Child("Label6")) == L"100"; }));
  Click(Child("Command3"));

  ASSERT_NO_FATAL_FAILURE(ExpectQuietEnd());
  EXPECT_EQ(ReadText(settings_file()), head + "Rate=100" + std::string(47, ' ') +
                                           "\r\nPrg=True \r\nFolder=D:\\写真 ö" +
                                           std::string(43, ' ') + "\r\nSet=Y \r\n" + tail);
}

TEST_F(SettingsWindow, SaveOfAFolderTheCodePageCannotHoldSaysItFailedAndKeepsTheWindow) {
  const std::string file = SettingsText(L"42", L"True", SomeFolder(), L"Y");
  WriteFile(settings_file(), file);
  ASSERT_NO_FATAL_FAILURE(Start());
  // Korean is in no code page that also holds "ö"; written as the code page
  // would best fit it, the batch would put its files into another folder.
  SetText(Child("Text1"), L"D:\\사진 schön");

  Click(Child("Command3"));
  const std::optional<MessageBoxSeen> box = program_->AnswerMessageBox();
  const bool back =
      WaitUntil([&] { return ::IsWindowEnabled(window_) != FALSE || !program_->running(); });
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->title, L"Morvane");
  EXPECT_EQ(box->text, L"設定を保存できませんでした。");
  EXPECT_TRUE(back);
  ASSERT_TRUE(program_->running());
  EXPECT_TRUE(::IsWindowVisible(window_));
  EXPECT_EQ(ReadText(settings_file()), file);
  EXPECT_EQ(BinNames(),
            (std::vector<std::wstring>{L"Morvane.exe", L"Morvane.ini", L"SaveJPG.DLL"}));

  // A folder it can hold saves.
  SetText(Child("Text1"), L"E:\\later");
  Click(Child("Command3"));
  ASSERT_NO_FATAL_FAILURE(ExpectQuietEnd());
  EXPECT_EQ(ReadText(settings_file()),
            SettingsText(Padded(L"42", 50), L"True ", Padded(L"E:\\later", 50), L"Y "));
}

}  // namespace
}  // namespace morvane_test
