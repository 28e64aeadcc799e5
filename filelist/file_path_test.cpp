#include "filelist/file_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/step_failure.h"
#include "platform/platform.h"
#include "test_support/files.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

using test_support::CurrentFolderChange;
using test_support::TempFolder;

TEST(FPath, GivesEveryComponentInItsStoredLetterCase) {
  TempFolder temp;
  temp.AddFile("pics/a.BMP");
  temp.AddFile("One/Two Words/three/Picture 1.bmp");
  const std::u16string base = temp.Text();

  EXPECT_EQ(FPath(base + u"/PICS/A.BMP"), base + u"/pics/a.BMP");
  EXPECT_EQ(FPath(base + u"/pics/a.BMP"), base + u"/pics/a.BMP");
  EXPECT_EQ(FPath(base + u"/ONE/two words/THREE/picture 1.BMP"),
            base + u"/One/Two Words/three/Picture 1.bmp");
  EXPECT_EQ(FPath(base + u"/one/TWO WORDS"), base + u"/One/Two Words");
}

TEST(FPath, NamesThatAreNotFoundGiveEmptyText) {
  TempFolder temp;
  temp.AddFile("pics/a.BMP");
  const std::u16string base = temp.Text();

  EXPECT_EQ(FPath(base + u"/pics/b.BMP"), u"");
  EXPECT_EQ(FPath(base + u"/missing/a.BMP"), u"");
  EXPECT_EQ(FPath(base + u"/pics/a.BMP/deeper.BMP"), u"");
  EXPECT_EQ(FPath(u""), u"");
}

TEST(FPath, RunOfSeparatorsStandsForOne) {
  TempFolder temp;
  temp.AddFile("Pics/a.BMP");
  const std::u16string base = temp.Text();

  EXPECT_EQ(FPath(base + u"/PICS//A.BMP"), base + u"/Pics/a.BMP");
  EXPECT_EQ(FPath(u"/" + base + u"///PICS////A.BMP"), base + u"/Pics/a.BMP");
  // A folder of the same name one level down is not the one named.
  temp.AddFile("Pics/Pics/a.BMP");
  EXPECT_EQ(FPath(base + u"/PICS//A.BMP"), base + u"/Pics/a.BMP");
  // "." is a component of its own and stays in the long form.
  EXPECT_EQ(FPath(base + u"/PICS/./A.BMP"), base + u"/Pics/./a.BMP");
}

TEST(FPath, FolderNamedByDotEndsAtThatFolder) {
  TempFolder temp;
  temp.AddFile("Pics/a.BMP");
  // The look-up of the whole path gives "." here, which adds no component.
  EXPECT_EQ(FPath(temp.Text() + u"/PICS/."), temp.Text() + u"/Pics");
}

TEST(FPath, RelativeNamesAreTakenAgainstTheCurrentFolder) {
  TempFolder temp;
  temp.AddFile("Pics/a.BMP");
  temp.AddFile("b.BMP");
  CurrentFolderChange change(temp.path());

  EXPECT_EQ(FPath(u"PICS/A.BMP"), temp.Text() + u"/Pics/a.BMP");
  EXPECT_EQ(FPath(u"B.BMP"), temp.Text() + u"/b.BMP");
  EXPECT_EQ(FPath(u"C.BMP"), u"");
}

TEST(FPath, FindsNamesThatAreNotUtf8AndNeverTheirReplacedTwins) {
  TempFolder temp;
  // テスト.bmp and 日本.bmp in Shift-JIS, and twins of both whose names hold
  // U+FFFD where the Shift-JIS names hold bytes that are not UTF-8.
  temp.AddFile("pics/\x83\x65\x83\x58\x83\x67.bmp");
  temp.AddFile("pics/\xEF\xBF\xBD\x65\xEF\xBF\xBDX\xEF\xBF\xBDg.bmp");
  temp.AddFile("pics/\xEF\xBF\xBD\xEF\xBF\xBD{.bmp");
  temp.AddFile("\x8E\xCA\x90\x5E/\x93\xFA\x96\x7B.bmp");  // 写真/日本.bmp
  const std::u16string base = temp.Text();

  EXPECT_EQ(FPath(base + u"/PICS/\xDC83\x65\xDC83X\xDC83g.BMP"),
            base + u"/pics/\xDC83\x65\xDC83X\xDC83g.bmp");
  EXPECT_EQ(FPath(base + u"/pics/\xDC93\xDCFA\xDC96{.BMP"), u"");

  CurrentFolderChange change(temp.path() / "\x8E\xCA\x90\x5E");
  EXPECT_EQ(FPath(u"\xDC93\xDCFA\xDC96{.BMP"), base + u"/\xDC8E\u0290^/\xDC93\xDCFA\xDC96{.bmp");
}

TEST(FPath, PathThatCannotBeLookedUpFails) {
  const std::u16string too_long = u"/" + std::u16string(40000, u'a') + u"/A.BMP";
  EXPECT_THROW(FPath(too_long), StepFailure);
  EXPECT_THROW(FPath(std::u16string(u"/tmp/a\0b.BMP", 12)), StepFailure);
}

TEST(FileName, GivesLastComponentWithItsSeparator) {
  EXPECT_EQ(FileName(u"/pics/Picture 1.jpg"), u"/Picture 1.jpg");
  EXPECT_EQ(FileName(u"/a.jpg"), u"/a.jpg");
  EXPECT_EQ(FileName(u"/"), u"/");
  EXPECT_EQ(FileName(u"/a/b/"), u"/");
  EXPECT_EQ(FileName(u"C:\\pics/x\\y"), u"/x\\y");  // "\" and ":" are ordinary
}

TEST(FileName, FindsTheSeparatorOnlyAmongTheLast255Characters) {
  const std::u16string tail_255 = u"/" + std::u16string(254, u'n');
  EXPECT_EQ(FileName(tail_255), tail_255);
  EXPECT_EQ(FileName(u"/folder" + tail_255), tail_255);

  const std::u16string tail_256 = u"/" + std::u16string(255, u'n');
  EXPECT_THROW(FileName(tail_256), StepFailure);
  EXPECT_THROW(FileName(u"/folder" + tail_256), StepFailure);
}

TEST(FileName, FailsWithoutSeparator) {
  EXPECT_THROW(FileName(u""), StepFailure);
  EXPECT_THROW(FileName(u"Picture 1.jpg"), StepFailure);
  EXPECT_THROW(FileName(u"C:\\pics\\a.jpg"), StepFailure);
}

}  // namespace
}  // namespace morvane
