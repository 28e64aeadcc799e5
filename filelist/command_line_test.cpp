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
using Arguments = std::vector<std::u16string>;

// None of these names exist, so the file system plays no part here.
TEST(SplitCommandLine, NamesEndAtABlankAfterBmpInAnyCase) {
  EXPECT_EQ(Names(SplitCommandLine(u"/NONE/A.BMP /NONE/B.BMP")),
            (NameList{u"/NONE/A.BMP", u"/NONE/B.BMP"}));
  EXPECT_EQ(Names(SplitCommandLine(u"/N/a.bmp /N/b.Bmp /N/C.bMP")),
            (NameList{u"/N/a.bmp", u"/N/b.Bmp", u"/N/C.bMP"}));
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
  EXPECT_EQ(Names(SplitCommandLine(u"/N/a.jpg /N/b.bmp /N/c.txt /N/D.BMP /N/e.bm /N/f.bmpx")),
            (NameList{u"/N/b.bmp", u"/N/D.BMP"}));
  // Letters that only look like B, M and P are other letters.
  EXPECT_EQ(Names(SplitCommandLine(u"/N/a.\uFF22\uFF2D\uFF30 /N/b.BMP")), (NameList{u"/N/b.BMP"}));
  // Only the space character is a blank.
  EXPECT_EQ(Names(SplitCommandLine(u"/N/A.BMP\t/N/B.BMP")), (NameList{u"/N/A.BMP"}));
  EXPECT_EQ(Names(SplitCommandLine(u"/N/A.BMP\u3000/N/B.BMP /N/C.BMP")),
            (NameList{u"/N/A.BMP", u"/N/C.BMP"}));
}

TEST(SplitCommandLine, DotsBeforeTheLastExtensionLoseTextWhenUnquoted) {
  EXPECT_EQ(Names(SplitCommandLine(u"/V1.0/A.BMP")), (NameList{u"/V1.BMP"}));
  EXPECT_EQ(Names(SplitCommandLine(u"/v1.0/a.bmp")), (NameList{u"/v1.bmp"}));
  EXPECT_EQ(Names(SplitCommandLine(u"/V1.0 OLD/A.BMP")), (NameList{u"OLD/A.BMP"}));
  EXPECT_EQ(Names(SplitCommandLine(u"/X.BMP.BMP")), (NameList{u"/X.BMP"}));
  EXPECT_EQ(Names(SplitCommandLine(u"/N/A..BMP")), (NameList{u"/N/A.BMP"}));
}

// As Explorer, "Send to" and drag-and-drop pass names: in double quotes when
// they hold a blank, otherwise bare.
TEST(SplitCommandLine, QuotedNamesAreTakenWhole) {
  EXPECT_EQ(
      Names(SplitCommandLine(u"\"C:\\My Pics\\v1.0\\Holiday 1.BMP\" C:\\N\\b.bmp \"C:\\N\\x.txt\" "
                             u"\"C:\\a.b c\\D.Bmp\"")),
      (NameList{u"C:\\My Pics\\v1.0\\Holiday 1.BMP", u"C:\\N\\b.bmp", u"C:\\a.b c\\D.Bmp"}));
  // Text before the quote that ends no name is thrown away, as at the end.
  EXPECT_EQ(Names(SplitCommandLine(u"/N/README \"/N/A.BMP\" /N/x.txt \"/N/B.BMP\"")),
            (NameList{u"/N/A.BMP", u"/N/B.BMP"}));
  // The blank after the closing quote separates; a second one begins the
  // next name, as after an unquoted name.
  EXPECT_EQ(Names(SplitCommandLine(u"\"/N/A.BMP\" /N/B.BMP")),
            (NameList{u"/N/A.BMP", u"/N/B.BMP"}));
  EXPECT_EQ(Names(SplitCommandLine(u"\"/N/A.BMP\"  /N/B.BMP")),
            (NameList{u"/N/A.BMP", u" /N/B.BMP"}));
  EXPECT_EQ(Names(SplitCommandLine(u"\"/N/A.BMP\"   \"/N/B.BMP\" ")),
            (NameList{u"/N/A.BMP", u"/N/B.BMP"}));
  // A quote left open runs to the end of the text.
  EXPECT_EQ(Names(SplitCommandLine(u"/N/A.BMP \"/My Pics/B.BMP")),
            (NameList{u"/N/A.BMP", u"/My Pics/B.BMP"}));
  EXPECT_EQ(Names(SplitCommandLine(u"\"/My Pics/B.BMP /N/C")), NameList{});
  // What lies between the quotes is the whole name, blanks at its ends too.
  EXPECT_EQ(Names(SplitCommandLine(u"\"/N/A.BMP \" \"\" \" /N/B.BMP\"")), (NameList{u" /N/B.BMP"}));
}

// Quotes joined to other text would cut a name into pieces, and a piece
// (\A.BMP out of "C:\My Pics"\A.BMP) may name another file: none is taken.
TEST(SplitCommandLine, QuotedNameJoinedToOtherTextIsThrownAwayWithIt) {
  for (const std::u16string_view joined :
       {u"C:\\Pics\\\"A.BMP\"", u"\"C:\\My Pics\"\\A.BMP", u"/N/A.BMP\"/N/B.BMP\"",
        u"\"/N/A.BMP\"\"/N/B.BMP\"", u"\"/N/A.BMP\"\t/N/B.BMP", u"\"/N/A.BMP\"x.BMP /N/c.txt"}) {
    EXPECT_EQ(Names(SplitCommandLine(std::u16string(joined))), NameList{})
        << std::string(joined.begin(), joined.end());
  }
  // The names around stay.
  EXPECT_EQ(Names(SplitCommandLine(u"/N/A.BMP \"/My Pics\"/B.BMP /N/C.BMP \"/N/D.BMP\"")),
            (NameList{u"/N/A.BMP", u"/N/C.BMP", u"/N/D.BMP"}));
}

TEST(SplitCommandLine, TextWithoutCompleteNameCountsNothing) {
  for (const std::u16string_view text :
       {u"", u" ", u"/N/README", u"/N/A.BMP.", u".", u".BM", u"\"", u"\"\"", u"\" \""}) {
    const FileList list = SplitCommandLine(std::u16string(text));
    EXPECT_EQ(list.FileCount, 0) << text.size();
    EXPECT_GE(list.ScannedNames.size(), 1u);
    EXPECT_GE(list.NameTails.size(), 1u);
  }
  // Ending in the middle of a name keeps the names before it.
  const FileList list = SplitCommandLine(u"/N/A.BMP /N/B");
  EXPECT_EQ(Names(list), (NameList{u"/N/A.BMP"}));
  EXPECT_EQ(SplitCommandLine(u".BMP").FileCount, 1);
}

// A list of arguments, as POSIX systems pass them: each argument is a name
// as it stands, blanks, dots and quotes included.
TEST(SplitCommandLine, EachArgumentIsOneWholeName) {
  EXPECT_EQ(
      Names(SplitCommandLine(Arguments{
          u"/home/john.smith/v1.0/A.BMP", u"/N/My Pic.bmp", u"/N/c.txt", u"", u"/N/\"q\".Bmp",
          u"/N/A.BMP.jpg", u" /N/lead.BMP", u"/N/trail.BMP ", u"/N/caf\xDCE9.bmp", u"/N/x.BMP.BMP",
          u"/N/two  blanks.BMP", u"\"/N/quoted.BMP\"", u"/N/\"say\" it.BMP"})),
      (NameList{u"/home/john.smith/v1.0/A.BMP", u"/N/My Pic.bmp", u"/N/\"q\".Bmp", u" /N/lead.BMP",
                u"/N/caf\xDCE9.bmp", u"/N/x.BMP.BMP", u"/N/two  blanks.BMP",
                u"/N/\"say\" it.BMP"}));
  for (const Arguments& none : {Arguments{}, Arguments{u""}, Arguments{u"", u""},
                                Arguments{u"/N/a.txt", u".BM", u"/N/A.BMP."}}) {
    const FileList list = SplitCommandLine(none);
    EXPECT_EQ(list.FileCount, 0) << none.size();
    EXPECT_GE(list.ScannedNames.size(), 1u);
    EXPECT_GE(list.NameTails.size(), 1u);
  }
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

// A whole name reaches its own file through folders with dots; the same
// name unquoted loses its text after the first "." and reaches another file.
TEST(SplitCommandLine, WholeNamesReachTheirOwnFileThroughDottedFolders) {
  TempFolder temp;
  temp.AddFile("v1.0/My Pic.bmp");
  temp.AddFile("v1.0/A.bmp");
  temp.AddFile("v1.bmp");
  const std::u16string base = temp.Text();
  const std::u16string whole = base + Native(u"/V1.0/my pic.BMP");

  const FileList quoted = SplitCommandLine(u"\"" + whole + u"\" " + base + Native(u"/v1.0/A.BMP"));
  ASSERT_EQ(quoted.FileCount, 2);
  EXPECT_EQ(quoted.ScannedNames[1], whole);
  EXPECT_EQ(quoted.NameTails[1], Native(u"/My Pic.bmp"));
  EXPECT_EQ(quoted.ScannedNames[2], base + Native(u"/v1.BMP"));
  EXPECT_EQ(quoted.NameTails[2], Native(u"/v1.bmp"));

  const FileList arguments =
      SplitCommandLine(Arguments{whole, base + Native(u"/v1.0/MISSING.bmp")});
  ASSERT_EQ(arguments.FileCount, 2);
  EXPECT_EQ(arguments.ScannedNames[1], whole);
  EXPECT_EQ(arguments.NameTails[1], Native(u"/My Pic.bmp"));
  EXPECT_EQ(arguments.NameTails[2], u"");
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
