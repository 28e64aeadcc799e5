#include "filelist/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "test_support/files.h"

namespace morvane {
namespace {

using test_support::Native;
using test_support::TempFolder;

// The names found, in order, without the unused slot 0.
std::vector<std::u16string> Names(const FileList& list) {
  EXPECT_GE(list.ScannedNames.size(), static_cast<size_t>(list.FileCount) + 1);
  EXPECT_GE(list.NameTails.size(), static_cast<size_t>(list.FileCount) + 1);
  return std::vector<std::u16string>(list.ScannedNames.begin() + 1,
                                     list.ScannedNames.begin() + 1 + list.FileCount);
}

using NameList = std::vector<std::u16string>;

// None of these names exist, so the file system plays no part here.
TEST(SplitCommandLine, NamesEndAtABlankAfterUpperCaseBmp) {
  EXPECT_EQ(Names(SplitCommandLine(u"/NONE/A.BMP /NONE/B.BMP")),
            (NameList{u"/NONE/A.BMP", u"/NONE/B.BMP"}));
  EXPECT_EQ(Names(SplitCommandLine(u"/MY PICTURES/A.BMP")), (NameList{u"/MY PICTURES/A.BMP"}));
  EXPECT_EQ(Names(SplitCommandLine(u"/NONE/A.BMP ")), (NameList{u"/NONE/A.BMP"}));
  // The second blank opens the next name.
  EXPECT_EQ(Names(SplitCommandLine(u"/NONE/A.BMP  /NONE/B.BMP")),
            (NameList{u"/NONE/A.BMP", u" /NONE/B.BMP"}));
  // A word without "." does not end a name.
  EXPECT_EQ(Names(SplitCommandLine(u"/NONE/README /NONE/A.BMP")),
            (NameList{u"/NONE/README /NONE/A.BMP"}));
  // ":" and "\" are ordinary characters.
  EXPECT_EQ(Names(SplitCommandLine(u"C:\\A.BMP")), (NameList{u"C:\\A.BMP"}));
}

TEST(SplitCommandLine, OtherExtensionsAreThrownAwayWithoutGap) {
  EXPECT_EQ(Names(SplitCommandLine(u"/N/a.bmp /N/b.Bmp /N/c.jpg /N/D.BMP /N/e.txt")),
            (NameList{u"/N/D.BMP"}));
  // The closing quote is part of the extension; the opening one was part of
  // the name thrown away.
  EXPECT_EQ(Names(SplitCommandLine(u"\"/MY PICTURES/A.BMP\" /N/B.BMP")), (NameList{u"/N/B.BMP"}));
  // Only the space character is a blank.
  EXPECT_EQ(Names(SplitCommandLine(u"/N/A.BMP\t/N/B.BMP")), (NameList{u"/N/A.BMP"}));
  EXPECT_EQ(Names(SplitCommandLine(u"/N/A.BMP\u3000/N/B.BMP /N/C.BMP")),
            (NameList{u"/N/A.BMP", u"/N/C.BMP"}));
}

TEST(SplitCommandLine, DotsBeforeTheLastExtensionLoseText) {
  EXPECT_EQ(Names(SplitCommandLine(u"/V1.0/A.BMP")), (NameList{u"/V1.BMP"}));
  EXPECT_EQ(Names(SplitCommandLine(u"/V1.0 OLD/A.BMP")), (NameList{u"OLD/A.BMP"}));
  EXPECT_EQ(Names(SplitCommandLine(u"/X.BMP.BMP")), (NameList{u"/X.BMP"}));
  EXPECT_EQ(Names(SplitCommandLine(u"/N/A..BMP")), (NameList{u"/N/A.BMP"}));
}

TEST(SplitCommandLine, TextWithoutCompleteNameCountsNothing) {
  for (const std::u16string_view text : {u"", u" ", u"/N/README", u"/N/A.BMP.", u".", u".BM"}) {
    const FileList list = SplitCommandLine(text);
    EXPECT_EQ(list.FileCount, 0) << text.size();
    EXPECT_GE(list.ScannedNames.size(), 1u);
    EXPECT_GE(list.NameTails.size(), 1u);
  }
  // Ending in the middle of a name keeps the names before it.
  const FileList list = SplitCommandLine(u"/N/A.BMP /N/B");
  EXPECT_EQ(Names(list), (NameList{u"/N/A.BMP"}));
  EXPECT_EQ(SplitCommandLine(u".BMP").FileCount, 1);
}

TEST(SplitCommandLine, TailsComeFromTheLongFormAndStayEmptyWhenNotFound) {
  TempFolder temp;
  temp.AddFile("My Pics/Picture 1.BMP");
  const std::u16string base = temp.Text();

  const FileList list =
      SplitCommandLine(base + Native(u"/MY PICS/PICTURE 1.BMP ") + base +
                       Native(u"/My Pics/missing.BMP ") + base + Native(u"/my pics/picture 1.BMP"));
  ASSERT_EQ(list.FileCount, 3);
  EXPECT_EQ(list.ScannedNames[1], base + Native(u"/MY PICS/PICTURE 1.BMP"));
  EXPECT_EQ(list.NameTails[1], Native(u"/Picture 1.BMP"));
  EXPECT_EQ(list.ScannedNames[2], base + Native(u"/My Pics/missing.BMP"));
  EXPECT_EQ(list.NameTails[2], u"");
  EXPECT_EQ(list.ScannedNames[3], base + Native(u"/my pics/picture 1.BMP"));
  EXPECT_EQ(list.NameTails[3], Native(u"/Picture 1.BMP"));
}

TEST(SplitCommandLine, HoldsEveryNameWithItsOwnTail) {
  TempFolder temp;
  std::u16string command_line;
  for (int i = 1; i <= 300; ++i) {
    const std::string name = "p" + std::to_string(i) + ".BMP";
    temp.AddFile(name);
    command_line += temp.Text() + Native(u"/") + FromSystemText(name) + u" ";
  }
  const FileList list = SplitCommandLine(command_line);
  ASSERT_EQ(list.FileCount, 300);
  EXPECT_EQ(list.ScannedNames[300], temp.Text() + Native(u"/p300.BMP"));
  for (int i = 1; i <= 300; ++i) {
    EXPECT_EQ(list.NameTails[i], Native(u"/p") + FromSystemText(std::to_string(i)) + u".BMP") << i;
  }
}

}  // namespace
}  // namespace morvane
