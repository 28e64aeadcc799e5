// FPath and FileName with Windows' paths: "\" separators, the drive part,
// short 8.3 names, on a real file system (Windows or Wine).
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "core/resume_next.h"
#include "filelist/file_path.h"
#include "test_support/files.h"
#include "test_support/windows_paths.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test_support::PathText;
using test_support::TempFolder;

// The folder's long form with its drive part, as FPath gives it.
std::u16string LongForm(const TempFolder& temp) { return FPath(PathText(temp.path())); }

std::u16string ShortPath(const fs::path& path) {
  wchar_t buffer[MAX_PATH];
  const DWORD length = ::GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
  return std::u16string(buffer, buffer + length);
}

TEST(FPathOnWindows, KeepsTheDrivePartAndGivesStoredNames) {
  TempFolder temp;
  temp.AddFile("pics/a.BMP");
  const std::u16string base = LongForm(temp);
  ASSERT_EQ(base.substr(1, 2), u":\\");
  EXPECT_EQ(FPath(base + u"\\PICS\\A.BMP"), base + u"\\pics\\a.BMP");
  EXPECT_EQ(FPath(base + u"\\pics\\\\A.BMP"), base + u"\\pics\\a.BMP");
  EXPECT_EQ(FPath(base + u"\\pics\\b.BMP"), u"");
  EXPECT_EQ(FPath(base.substr(0, 2) + u"\\"), u"");  // the root has no name of its own
}

TEST(FPathOnWindows, ExpandsShortNames) {
  TempFolder temp;
  temp.AddFile("Program Files Test/Picture 1.bmp");
  const std::u16string short_form = ShortPath(temp.path() / "Program Files Test" / "Picture 1.bmp");
  ASSERT_EQ(short_form.find(u"Picture 1"), std::u16string::npos);
  EXPECT_EQ(FPath(short_form), LongForm(temp) + u"\\Program Files Test\\Picture 1.bmp");
}

TEST(FPathOnWindows, TakesRelativeNamesAgainstTheCurrentFolder) {
  TempFolder temp;
  temp.AddFile("Pics/a.BMP");
  std::u16string relative, with_slash, missing;
  {
    const test_support::CurrentFolderChange inside(temp.path());
    relative = FPath(u"PICS\\A.BMP");
    with_slash = FPath(u"PICS/A.BMP");
    missing = FPath(u"B.BMP");
  }
  EXPECT_EQ(relative, LongForm(temp) + u"\\Pics\\a.BMP");
  EXPECT_EQ(with_slash, LongForm(temp) + u"\\Pics\\a.BMP");
  EXPECT_EQ(missing, u"");
}

TEST(FPathOnWindows, KeepsANetworkShareAsTheDrivePart) {
  const test_support::NetworkFolder share;
  if (share.path().empty()) GTEST_SKIP() << share.why_not();
  const fs::path pics = fs::path(share.path()) / L"Pics";
  fs::create_directories(pics);
  test_support::WriteFile(pics / L"a.BMP", "x");
  const std::u16string folder = PathText(share.path());
  EXPECT_EQ(FPath(folder + u"\\PICS\\A.BMP"), folder + u"\\Pics\\a.BMP");
  EXPECT_EQ(FPath(folder + u"\\Pics\\\\a.BMP"), folder + u"\\Pics\\a.BMP");
  EXPECT_EQ(FPath(folder + u"\\Pics\\b.BMP"), u"");
}

TEST(FPathOnWindows, TakesPathsLongerThan260Characters) {
  if (!test_support::ThisProcessTakesLongPaths())
    GTEST_SKIP() << "this process takes no long paths";
  TempFolder temp;
  const fs::path deep =
      temp.path() / std::wstring(100, L'a') / std::wstring(100, L'b') / L"Pictures";
  fs::create_directories(deep);
  test_support::WriteFile(deep / L"Long Name.bmp", "x");
  const std::u16string expected = PathText(deep / L"Long Name.bmp");
  ASSERT_GT(expected.size(), 260u);
  std::u16string upper = expected;
  for (char16_t& ch : upper) {
    if (ch >= u'a' && ch <= u'z') ch = static_cast<char16_t>(ch - u'a' + u'A');
  }
  EXPECT_EQ(FPath(upper), expected);
  // The C runtime lists no folder this long, so the temporary folder's
  // removal would not reach these.
  for (fs::path made = deep / L"Long Name.bmp"; made != temp.path(); made = made.parent_path())
    fs::remove(made);
}

TEST(FPathOnWindows, PathThatCannotBeLookedUpFails) {
  EXPECT_THROW(FPath(u"C:\\" + std::u16string(300, u'a') + u"\\A.BMP"), StepFailure);
  EXPECT_THROW(FPath(std::u16string(u"C:\\a\0b.BMP", 11)), StepFailure);
}

TEST(FileNameOnWindows, GivesLastComponentWithItsBackslash) {
  EXPECT_EQ(FileName(u"C:\\PICS\\Picture 1.jpg"), u"\\Picture 1.jpg");
  EXPECT_EQ(FileName(u"C:\\"), u"\\");
  EXPECT_EQ(FileName(u"C:\\A\\B\\"), u"\\");
  EXPECT_EQ(FileName(u"C:\\pics\\x/y"), u"\\x/y");  // "/" is part of a name
  EXPECT_THROW(FileName(u"C:/pics/a.jpg"), StepFailure);
  EXPECT_THROW(FileName(u"\\" + std::u16string(255, u'n')), StepFailure);
  EXPECT_EQ(FileName(u"C:\\" + std::u16string(254, u'n')), u"\\" + std::u16string(254, u'n'));
}

}  // namespace
}  // namespace morvane
