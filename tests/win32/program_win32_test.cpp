// Morvane.exe end to end on Windows (or Wine): a batch started with an exact
// command line, its message box read and answered, its exit status and the
// files it leaves. The texts are the ones the Linux program prints
// (tests/program_test.cpp), with Windows' line breaks.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they need.
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "program_folder.h"
#include "run_program.h"
#include "test_support/bitmap.h"
#include "test_support/files.h"
#include "test_support/jpeg.h"
#include "test_support/windows_paths.h"

namespace morvane_test {
namespace {

using morvane::test_support::DecodeJpeg;
using morvane::test_support::ReadFile;
using morvane::test_support::ReadText;
using morvane::test_support::WriteFile;

const std::wstring kTitle = L"変換完了";
const std::wstring kFailed = L"変換に失敗しました。";

std::wstring Summary(int count, const fs::path& folder, int quality) {
  return std::to_wstring(count) + L"個のファイルを変換しました。\r\nフォルダ：" + folder.native() +
         L"\r\n画質：" + std::to_wstring(quality);
}

std::vector<uint8_t> Bitmap(int width, int height) {
  return morvane::test_support::Bitmap24({width, height, &morvane::test_support::Smooth});
}

bool IsJpeg(const std::string& bytes) {
  return bytes.size() > 100 && bytes.compare(0, 2, "\xFF\xD8") == 0 &&
         bytes.compare(bytes.size() - 2, 2, "\xFF\xD9") == 0;
}

bool IsProgressive(const std::string& bytes) { return bytes.find("\xFF\xC2") != std::string::npos; }

std::vector<std::wstring> Names(const fs::path& folder) {
  std::vector<std::wstring> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().native());
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(ProgramOnWindows, LongNamesWithBlanksInAnyLetterCaseConvertBesideTheirSources) {
  const fs::path pics = Folder(L"My Pictures");
  WriteFile(pics / "Photo One.bmp", Bitmap(64, 48));
  WriteFile(pics / "second.BMP", Bitmap(17, 5));

  const ProgramRun run =
      Run((pics / L"PHOTO ONE.BMP").native() + L" " + (pics / L"Second.BMP").native());

  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].title, kTitle);
  EXPECT_EQ(run.boxes[0].text, Summary(2, pics, 85));
  // The JPEGs take the names the files have on disk.
  EXPECT_EQ(Names(pics), (std::vector<std::wstring>{L"Photo One.bmp", L"Photo One.jpg",
                                                    L"second.BMP", L"second.jpg"}));
  EXPECT_TRUE(IsJpeg(ReadText(pics / "Photo One.jpg")));
  EXPECT_FALSE(IsProgressive(ReadText(pics / "Photo One.jpg")));
  EXPECT_EQ(Names(bin()), (std::vector<std::wstring>{L"Morvane.exe", L"SaveJPG.DLL"}));
}

TEST_F(ProgramOnWindows, JapaneseAndShortNamesReachTheirFiles) {
  if (::GetACP() != 932) GTEST_SKIP() << "needs code page 932, has " << ::GetACP();
  // 表 ends in byte 0x5C in code page 932, as "\" does.
  const fs::path pics = Folder(L"写真 表");
  WriteFile(pics / L"表.BMP", Bitmap(9, 7));
  WriteFile(pics / L"Long Picture Name.bmp", Bitmap(8, 8));
  wchar_t short_path[MAX_PATH];
  const DWORD length =
      ::GetShortPathNameW((pics / L"Long Picture Name.bmp").c_str(), short_path, MAX_PATH);
  ASSERT_GT(length, 0u);
  const std::wstring short_name = fs::path(short_path).filename().native();
  ASSERT_NE(short_name, L"Long Picture Name.bmp");

  const ProgramRun run = Run((pics / L"表.BMP").native() + L" " + short_path);

  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].title, kTitle);
  EXPECT_EQ(run.boxes[0].text, Summary(2, pics, 85));
  EXPECT_TRUE(IsJpeg(ReadText(pics / L"表.jpg")));
  EXPECT_TRUE(IsJpeg(ReadText(pics / L"Long Picture Name.jpg")));
  EXPECT_EQ(Names(pics).size(), 4u);
}

TEST_F(ProgramOnWindows, NameOutsideTheCodePageConvertsItsOwnFileNotALookAlike) {
  const fs::path pics = Folder(L"pics");
  // "ö" is not in code page 932 (nor in many others); its look-alike "o" is.
  WriteFile(pics / L"sch\u00F6n.BMP", Bitmap(21, 4));
  WriteFile(pics / L"schon.BMP", Bitmap(34, 4));
  WriteFile(pics / L"schon.jpg", "the user's other JPEG");

  const ProgramRun run = Run((pics / L"sch\u00F6n.BMP").native());

  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].text, Summary(1, pics, 85));
  EXPECT_EQ(DecodeJpeg(ReadFile(pics / L"sch\u00F6n.jpg")).width, 21);
  EXPECT_EQ(ReadText(pics / L"schon.jpg"), "the user's other JPEG");
  EXPECT_EQ(Names(pics).size(), 4u);
}

TEST_F(ProgramOnWindows, KoreanGreekAndEmojiNamesConvert) {
  const fs::path pics = Folder(L"\uD55C\uAD6D\uC5B4");                    // 한국어
  const std::wstring names[] = {L"\uC0AC\uC9C4",                          // 사진
                                L"\u0395\u03BB\u03BB\u03AC\u03B4\u03B1",  // Ελλάδα
                                L"\U0001F600\U0001F308"};                 // 😀🌈
  std::wstring line;
  for (const std::wstring& name : names) {
    WriteFile(pics / (name + L".BMP"), Bitmap(12, 9));
    line += (line.empty() ? L"" : L" ") + (pics / (name + L".BMP")).native();
  }

  const ProgramRun run = Run(line);

  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].text, Summary(3, pics, 85));
  for (const std::wstring& name : names) {
    EXPECT_TRUE(IsJpeg(ReadText(pics / (name + L".jpg")))) << Ansi(name);
  }
  EXPECT_EQ(Names(pics).size(), 6u);
}

TEST_F(ProgramOnWindows, MissingEncoderEndsABatchOfThreeNamesWithTheFailureMessage) {
  const fs::path pics = Folder(L"pics");
  std::wstring line;
  for (const wchar_t* name : {L"a.BMP", L"b.BMP", L"c.BMP"}) {
    WriteFile(pics / name, Bitmap(8, 8));
    line += (line.empty() ? L"" : L" ") + (pics / name).native();
  }
  fs::remove(bin() / "SaveJPG.DLL");

  const ProgramRun run = Run(line);

  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 1u);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].title, kTitle);
  EXPECT_EQ(run.boxes[0].text, kFailed);
  EXPECT_EQ(Names(pics), (std::vector<std::wstring>{L"a.BMP", L"b.BMP", L"c.BMP"}));
}

TEST_F(ProgramOnWindows, EncoderGetsUtf16PathsAndWhatItWritesIntoThemComesBack) {
  // A library that fails the narrow call and, called wide, writes
  // C:\사진\x.jpg into the JPEG path: the summary names its folder.
  fs::copy_file(TestBinaryFolder() / "RewritingEncoder.dll", bin() / "SaveJPG.DLL",
                fs::copy_options::overwrite_existing);
  const fs::path pics = Folder(L"pics");
  WriteFile(pics / "a.bmp", Bitmap(8, 8));

  const ProgramRun run = Run((pics / L"a.BMP").native());

  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].text, Summary(1, L"C:\\\uC0AC\uC9C4", 85));
}

TEST_F(ProgramOnWindows, NameOnANetworkShareConverts) {
  const morvane::test_support::NetworkFolder share;
  if (share.path().empty()) GTEST_SKIP() << share.why_not();
  const fs::path pics = fs::path(share.path()) / L"Pics";
  fs::create_directories(pics);
  WriteFile(pics / L"Photo.bmp", Bitmap(16, 8));

  // As Explorer passes a file of a share that has no drive letter.
  const ProgramRun run = Run(share.path() + L"\\PICS\\PHOTO.BMP");

  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].text, Summary(1, pics, 85));
  EXPECT_TRUE(IsJpeg(ReadText(pics / L"Photo.jpg")));
}

TEST_F(ProgramOnWindows, NameLongerThan260CharactersConverts) {
  if (!morvane::test_support::LongPathsEnabled())
    GTEST_SKIP() << "the system does not allow long paths";
  const fs::path pics = Folder(L"pics") / std::wstring(120, L'a') / std::wstring(120, L'b');
  const std::wstring bitmap = (pics / L"Long.BMP").native();
  ASSERT_GT(bitmap.size(), 260u);
  // Made through "\\?\", which needs no long-path support of this program.
  ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + pics.parent_path().native()).c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + pics.native()).c_str(), nullptr));
  WriteFile(L"\\\\?\\" + bitmap, Bitmap(8, 8));

  const ProgramRun run = Run(bitmap);

  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].text, Summary(1, pics, 85));
  EXPECT_TRUE(IsJpeg(ReadText(L"\\\\?\\" + (pics / L"Long.jpg").native())));
  // The C runtime lists no folder this long, so the test folder's removal
  // would not reach these.
  for (const wchar_t* file : {L"Long.BMP", L"Long.jpg"})
    ::DeleteFileW((L"\\\\?\\" + (pics / file).native()).c_str());
  ::RemoveDirectoryW((L"\\\\?\\" + pics.native()).c_str());
  ::RemoveDirectoryW((L"\\\\?\\" + pics.parent_path().native()).c_str());
}

TEST_F(ProgramOnWindows, ChosenFolderAndQualityComeFromTheSettingsBesideTheProgram) {
  const fs::path pics = Folder(L"pics");
  const fs::path out = Folder(L"Chosen Out");
  WriteFile(pics / "a.bmp", Bitmap(40, 40));
  WriteFile(bin() / "Morvane.ini",
            Ansi(L"[Data]\r\nRate=95\r\nPrg=True \r\nFolder=" + out.native() + L"\r\nSet=Y\r\n"));

  const ProgramRun run = Run((pics / L"a.BMP").native());

  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].text, Summary(1, out, 95));
  EXPECT_TRUE(IsProgressive(ReadText(out / "a.jpg")));
  EXPECT_EQ(Names(pics), (std::vector<std::wstring>{L"a.bmp"}));

  // Without Set=Y the folder is not used: the JPEG lands beside its source.
  WriteFile(bin() / "Morvane.ini", Ansi(L"[Data]\r\nFolder=" + out.native() + L"\r\nSet=N\r\n"));
  const ProgramRun beside = Run((pics / L"a.BMP").native());
  ASSERT_EQ(beside.boxes.size(), 1u);
  EXPECT_EQ(beside.boxes[0].text, Summary(1, pics, 85));
  EXPECT_TRUE(IsJpeg(ReadText(pics / "a.jpg")));
}

// A drop as Explorer builds the line: long names in their stored letter
// case, in double quotes when they hold a blank, a text file among them.
TEST_F(ProgramOnWindows, DroppedNamesConvertQuotedWithBlanksAndDotsInAnyLetterCase) {
  const fs::path pics = Folder(L"My Pictures v1.0");
  WriteFile(pics / "Holiday 1.bmp", Bitmap(64, 48));
  WriteFile(pics / "Scan.BMP", Bitmap(17, 5));
  WriteFile(pics / "notes.txt", "a note");
  const fs::path plain = Folder(L"plain");
  WriteFile(plain / "x.bmp", Bitmap(8, 8));

  const ProgramRun run =
      Run(L"\"" + (pics / L"Holiday 1.bmp").native() + L"\" \"" + (pics / L"Scan.BMP").native() +
          L"\" \"" + (pics / L"notes.txt").native() + L"\" " + (plain / L"x.bmp").native());

  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].title, kTitle);
  EXPECT_EQ(run.boxes[0].text, Summary(3, pics, 85));
  EXPECT_EQ(Names(pics), (std::vector<std::wstring>{L"Holiday 1.bmp", L"Holiday 1.jpg", L"Scan.BMP",
                                                    L"Scan.jpg", L"notes.txt"}));
  EXPECT_TRUE(IsJpeg(ReadText(pics / "Holiday 1.jpg")));
  EXPECT_TRUE(IsJpeg(ReadText(plain / "x.jpg")));
}

// Into the chosen folder under the long name, from a quoted name whose
// folder holds a dot: v1.0\My Pic.bmp, never v1.bmp, which the same name
// unquoted would reach.
TEST_F(ProgramOnWindows, ChosenFolderTakesQuotedNamesWhole) {
  const fs::path pics = Folder(L"v1.0");
  const fs::path out = Folder(L"Chosen Out");
  WriteFile(pics / "My Pic.bmp", Bitmap(40, 40));
  WriteFile(root_.path() / "v1.bmp", Bitmap(8, 8));
  WriteFile(bin() / "Morvane.ini", Ansi(L"[Data]\r\nFolder=" + out.native() + L"\r\nSet=Y\r\n"));

  const ProgramRun run = Run(L"\"" + (pics / L"MY PIC.BMP").native() + L"\"");

  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].text, Summary(1, out, 85));
  EXPECT_EQ(Names(out), (std::vector<std::wstring>{L"My Pic.jpg"}));
  EXPECT_TRUE(IsJpeg(ReadText(out / "My Pic.jpg")));

  // A quote left open runs to the end of the line.
  fs::remove(out / "My Pic.jpg");
  const ProgramRun open_quote = Run(L"\"" + (pics / L"my pic.bmp").native());
  ASSERT_EQ(open_quote.boxes.size(), 1u);
  EXPECT_EQ(open_quote.boxes[0].text, Summary(1, out, 85));
  EXPECT_EQ(Names(out), (std::vector<std::wstring>{L"My Pic.jpg"}));
}

TEST_F(ProgramOnWindows, ExitStatusSaysWhetherAllSomeOrNoneConverted) {
  const fs::path pics = Folder(L"pics");
  WriteFile(pics / "good.bmp", Bitmap(8, 8));
  WriteFile(pics / "bad.bmp", "BM this is not a bitmap");
  WriteFile(pics / "bad.jpg", "the user's earlier JPEG");

  const ProgramRun none = Run((pics / L"bad.BMP").native());
  ASSERT_TRUE(none.ended);
  EXPECT_EQ(none.exit_code, 1u);
  ASSERT_EQ(none.boxes.size(), 1u);
  EXPECT_EQ(none.boxes[0].title, kTitle);
  EXPECT_EQ(none.boxes[0].text, kFailed);
  EXPECT_EQ(ReadText(pics / "bad.jpg"), "the user's earlier JPEG");
  EXPECT_EQ(Names(pics).size(), 3u);

  const ProgramRun some =
      Run((pics / L"bad.BMP").native() + L" " + (pics / L"good.BMP").native() + L" missing.BMP");
  ASSERT_TRUE(some.ended);
  EXPECT_EQ(some.exit_code, 2u);
  ASSERT_EQ(some.boxes.size(), 1u);
  EXPECT_EQ(some.boxes[0].text, Summary(1, pics, 85));
  EXPECT_TRUE(IsJpeg(ReadText(pics / "good.jpg")));
  EXPECT_EQ(ReadText(pics / "bad.jpg"), "the user's earlier JPEG");
}

TEST_F(ProgramOnWindows, HelpOrVersionAloneIsAnsweredInAMessageBox) {
  const std::wstring version = L"Morvane " MORVANE_WIDE_VERSION;
  for (const wchar_t* help : {L"/?", L"--help"}) {
    const ProgramRun run = Run(help);
    ASSERT_TRUE(run.ended) << help;
    EXPECT_EQ(run.exit_code, 0u) << help;
    ASSERT_EQ(run.boxes.size(), 1u) << help;
    EXPECT_EQ(run.boxes[0].title, L"Morvane");
    EXPECT_EQ(run.boxes[0].text.rfind(L"Usage: Morvane.exe [FILE.BMP]...\r\n"
                                      L"  or:  Morvane.exe --help | /? | --version\r\n"
                                      L"\r\n" +
                                          version + L"\r\n",
                                      0),
              0u)
        << help;
    EXPECT_NE(run.boxes[0].text.find(L"\r\n  " + (bin() / L"Morvane.ini").native() +
                                     L"\r\n  ポータブルなコピー: "),
              std::wstring::npos)
        << help;
    EXPECT_NE(run.boxes[0].text.find(L"\r\n詳しくは / See README.txt."), std::wstring::npos);
  }
  const ProgramRun run = Run(L"--version");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].title, L"Morvane");
  EXPECT_EQ(run.boxes[0].text, version);

  // With anything more on the line it is a batch, as before.
  const ProgramRun batch = Run(L"/? x.BMP");
  ASSERT_TRUE(batch.ended);
  EXPECT_EQ(batch.exit_code, 1u);
  ASSERT_EQ(batch.boxes.size(), 1u);
  EXPECT_EQ(batch.boxes[0].title, kTitle);
  EXPECT_EQ(batch.boxes[0].text, kFailed);
  EXPECT_EQ(Names(bin()), (std::vector<std::wstring>{L"Morvane.exe", L"SaveJPG.DLL"}));
}

// Installed (the installer puts Morvane.installed beside it), even a
// program in a folder its user may write keeps no settings there: the
// usage names the user's own file in %APPDATA%, which a batch reads.
TEST_F(ProgramOnWindows, AnInstalledCopyNamesTheUsersOwnSettingsFile) {
  WriteFile(bin() / "Morvane.installed", "");
  WriteFile(bin() / "Morvane.ini", "[Data]\r\nRate=60\r\n");
  PWSTR appdata = nullptr;
  ASSERT_TRUE(SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &appdata)));
  const fs::path own = fs::path(appdata) / L"Morvane" / L"Morvane.ini";
  ::CoTaskMemFree(appdata);

  const ProgramRun run = Run(L"/?");
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_NE(run.boxes[0].text.find(L"\r\n  " + own.native() + L"\r\n"), std::wstring::npos)
      << run.boxes[0].text;
  EXPECT_NE(run.boxes[0].text.find(L"\r\n  インストールされたコピー: "), std::wstring::npos);
  if (fs::exists(own)) return;  // someone's own settings: the quality is theirs
  const fs::path pics = Folder(L"pics");
  WriteFile(pics / "a.bmp", Bitmap(8, 8));
  const ProgramRun batch = Run((pics / L"a.BMP").native());
  ASSERT_EQ(batch.boxes.size(), 1u);
  EXPECT_EQ(batch.boxes[0].text, Summary(1, pics, 85));
  EXPECT_FALSE(fs::exists(own));
}

// Standard error exists for a program of the window system only when its
// starter hands one down: then each name not converted is named there, in
// the ANSI code page with CR LF, and the message box is the usual one.
TEST_F(ProgramOnWindows, NamesNotConvertedGoToAStandardErrorHandedDown) {
  const fs::path pics = Folder(L"pics");
  WriteFile(pics / "notes.bmp", "These are my notes, not a picture at all.");
  WriteFile(pics / "good.bmp", Bitmap(8, 8));
  const fs::path errors = root_ / "errors.txt";
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  const HANDLE file = ::CreateFileW(errors.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  const std::wstring missing = (pics / L"missing.BMP").native();
  const std::wstring notes = (pics / L"notes.BMP").native();
  const ProgramRun run = RunProgram(
      Program(), CommandLine(missing + L" " + notes + L" " + (pics / L"good.BMP").native()),
      root_.path().native(), 30000, file);
  ::CloseHandle(file);

  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 2u);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].text, Summary(1, L"", 85));
  EXPECT_EQ(ReadText(errors),
            Ansi(L"Morvane.exe: " + missing + L": 見つかりません / not found\r\n" +
                 L"Morvane.exe: " + notes + L": ビットマップではありません / not a bitmap\r\n"));
}

}  // namespace
}  // namespace morvane_test
