#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/resume_next.h"
#include "platform/platform.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() {
    path_ = fs::temp_directory_path() /
            ("morvane-platform-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempFolder() { fs::remove_all(path_); }
  std::u16string Text() const { return FromSystemText(path_.string()); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

TEST(SystemText, RoundTripsJapaneseAndReplacesBrokenSequences) {
  const std::u16string text = u"変換完了 \U0001F600 a";
  EXPECT_EQ(FromSystemText(ToSystemText(text)), text);
  EXPECT_EQ(FromSystemText("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(FromSystemText("\xE3\x81"), u"\uFFFD\uFFFD");  // cut sequence
  EXPECT_EQ(FromSystemText("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong "/"
  EXPECT_EQ(ToSystemText(std::u16string(1, char16_t{0xD800})), "\xEF\xBF\xBD");
}

TEST(LookUpEntry, GivesStoredNameMatchingEachComponentIgnoringCase) {
  TempFolder temp;
  fs::create_directories(temp.path() / "Pics" / "Sub Dir");
  std::ofstream(temp.path() / "Pics" / "Sub Dir" / "photo.bmp") << "x";
  const std::u16string base = temp.Text();
  EXPECT_EQ(LookUpEntry(base + u"/PICS/sub dir/PHOTO.BMP"), u"photo.bmp");
  EXPECT_EQ(LookUpEntry(base + u"/pics/SUB DIR"), u"Sub Dir");
  EXPECT_EQ(LookUpEntry(base + u"/Pics/Sub Dir/photo.bmp"), u"photo.bmp");
  EXPECT_EQ(LookUpEntry(base + u"/Pics/missing.bmp"), u"");
  EXPECT_EQ(LookUpEntry(base + u"/Pics/Sub Dir/photo.bmp/x"), u"");
  EXPECT_EQ(LookUpEntry(u""), u"");
  EXPECT_EQ(LookUpEntry(u"/"), u"/");
}

TEST(LookUpEntry, PrefersExactNameOverOtherCase) {
  TempFolder temp;
  std::ofstream(temp.path() / "a.BMP") << "x";
  std::ofstream(temp.path() / "A.bmp") << "x";
  EXPECT_EQ(LookUpEntry(temp.Text() + u"/A.bmp"), u"A.bmp");
  EXPECT_EQ(LookUpEntry(temp.Text() + u"/a.BMP"), u"a.BMP");
  EXPECT_EQ(LookUpEntry(temp.Text() + u"/A.BMP"), u"A.bmp");  // first in name order
}

TEST(LookUpEntry, FailsOnPathsThatCannotBeLookedUp) {
  EXPECT_THROW(LookUpEntry(std::u16string(u"/tmp/a\0b", 8)), StepFailure);
  EXPECT_THROW(LookUpEntry(u"/tmp/" + std::u16string(300, u'a')), StepFailure);
}

TEST(ReplaceFileAtomically, WritesWholeFileAndLeavesNoTemporary) {
  TempFolder temp;
  const std::u16string target = temp.Text() + u"/Morvane.ini";
  ASSERT_TRUE(ReplaceFileAtomically(target, "first"));
  ASSERT_TRUE(ReplaceFileAtomically(target, "second"));
  EXPECT_EQ(ReadWholeFile(target), "second");
  EXPECT_EQ(std::distance(fs::directory_iterator(temp.path()), fs::directory_iterator()), 1);
  EXPECT_FALSE(ReplaceFileAtomically(temp.Text() + u"/no/such/folder/x.ini", "x"));
  EXPECT_FALSE(ReadWholeFile(temp.Text() + u"/missing.ini").has_value());
}

TEST(CommandLineText, JoinsArgumentsWithOneBlank) {
  const char* argv[] = {"morvane", "/a b/x.BMP", "", "/c.BMP"};
  EXPECT_EQ(CommandLineText(4, argv), u"/a b/x.BMP  /c.BMP");
  EXPECT_EQ(CommandLineText(1, argv), u"");
}

}  // namespace
}  // namespace morvane
