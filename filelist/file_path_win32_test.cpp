// FPath and FileName with Windows' paths: "\" separators, the drive part,
// short 8.3 names, on a real file system (Windows or Wine).
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/resume_next.h"
#include "filelist/file_path.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

std::u16string Text(const fs::path& path) {
  const std::wstring& wide = path.native();
  return std::u16string(wide.begin(), wide.end());
}

// A fresh folder for one test, known by its long form with the drive part.
class TempFolder {
 public:
  TempFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = fs::temp_directory_path() /
            (std::string("morvane-fpath-") + info->test_suite_name() + "-" + info->name());
    fs::remove_all(path_);
    fs::create_directories(path_);
    long_form_ = FPath(Text(path_));
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  void AddFile(const fs::path& relative) const {
    fs::create_directories((path_ / relative).parent_path());
    std::ofstream(path_ / relative) << "x";
  }
  const fs::path& path() const { return path_; }
  const std::u16string& LongForm() const { return long_form_; }

 private:
  fs::path path_;
  std::u16string long_form_;
};

std::u16string ShortPath(const fs::path& path) {
  wchar_t buffer[MAX_PATH];
  const DWORD length = ::GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
  return std::u16string(buffer, buffer + length);
}

TEST(FPathOnWindows, KeepsTheDrivePartAndGivesStoredNames) {
  TempFolder temp;
  temp.AddFile("pics/a.BMP");
  const std::u16string base = temp.LongForm();
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
  EXPECT_EQ(FPath(short_form), temp.LongForm() + u"\\Program Files Test\\Picture 1.bmp");
}

TEST(FPathOnWindows, TakesRelativeNamesAgainstTheCurrentFolder) {
  TempFolder temp;
  temp.AddFile("Pics/a.BMP");
  const fs::path saved = fs::current_path();
  fs::current_path(temp.path());
  const std::u16string relative = FPath(u"PICS\\A.BMP");
  const std::u16string with_slash = FPath(u"PICS/A.BMP");
  const std::u16string missing = FPath(u"B.BMP");
  fs::current_path(saved);
  EXPECT_EQ(relative, temp.LongForm() + u"\\Pics\\a.BMP");
  EXPECT_EQ(with_slash, temp.LongForm() + u"\\Pics\\a.BMP");
  EXPECT_EQ(missing, u"");
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
