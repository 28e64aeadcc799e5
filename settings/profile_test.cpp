#include "settings/profile.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace morvane {
namespace {

TEST(GetProfileString, FindsNamesIgnoringCaseAndBlanks) {
  const std::u16string content =
      u"[Other]\r\nRate=1\r\n"
      u"  [ data ]  \r\n"
      u"; Rate=2\r\n"
      u"\tRATE\t =  85  \r\n"
      u"prg=True\r\n";
  EXPECT_EQ(GetProfileString(content, u"Data", u"Rate", u"d"), u"85");
  EXPECT_EQ(GetProfileString(content, u" DATA ", u"rate", u"d"), u"85");
  EXPECT_EQ(GetProfileString(content, u"data", u"Prg", u"d"), u"True");
  EXPECT_EQ(GetProfileString(content, u"Other", u"Rate", u"d"), u"1");
}

TEST(GetProfileString, FirstSectionAndFirstEntryWin) {
  const std::u16string content =
      u"[Data]\nRate=1\nrate=2\n"
      u"[DATA]\nRate=3\nFolder=/later\n";
  EXPECT_EQ(GetProfileString(content, u"Data", u"Rate", u"d"), u"1");
  // A later section of the same name is never read.
  EXPECT_EQ(GetProfileString(content, u"Data", u"Folder", u"d"), u"d");
}

TEST(GetProfileString, MissingPiecesGiveTheDefault) {
  const std::u16string content =
      u"Rate=9\n"  // before any section
      u"[Data]\n"
      u";Prg=True\n"
      u"Folder\n"  // no "="
      u"[Other]\nSet=Y\n";
  EXPECT_EQ(GetProfileString(u"", u"Data", u"Rate", u"dflt"), u"dflt");
  EXPECT_EQ(GetProfileString(content, u"Data", u"Rate", u"dflt"), u"dflt");
  EXPECT_EQ(GetProfileString(content, u"Data", u"Prg", u"dflt"), u"dflt");
  EXPECT_EQ(GetProfileString(content, u"Data", u"Folder", u"dflt"), u"dflt");
  EXPECT_EQ(GetProfileString(content, u"Data", u"Set", u"dflt"), u"dflt");
  EXPECT_EQ(GetProfileString(content, u"Missing", u"Set", u"dflt"), u"dflt");
  EXPECT_EQ(GetProfileString(content, u"", u"Rate", u"dflt"), u"dflt");
  EXPECT_EQ(GetProfileString(u"[Data]\nRate=\n", u"Data", u"Rate", u"dflt"), u"");
}

TEST(GetProfileString, DropsOnePairOfMatchingQuotes) {
  // clang-format off
  const struct {
    std::u16string_view stored;
    std::u16string_view read;
  } cases[] = {
      {u"\"/my pics\"", u"/my pics"},   {u"'/my pics'", u"/my pics"},
      {u"  \" padded \"  ", u" padded "}, {u"\"\"x\"\"", u"\"x\""},
      {u"\"\"", u""},                    {u"\"", u"\""},
      {u"\"mixed'", u"\"mixed'"},        {u"a\"b\"", u"a\"b\""},
      {u"x = y", u"x = y"},
  };
  // clang-format on
  for (const auto& c : cases) {
    const std::u16string content = u"[Data]\r\nFolder=" + std::u16string(c.stored) + u"\r\n";
    EXPECT_EQ(GetProfileString(content, u"Data", u"Folder", u""), c.read)
        << std::string(c.stored.begin(), c.stored.end());
  }
}

TEST(GetProfileString, SectionNameEndsAtTheFirstBracketOrWithTheLine) {
  // clang-format off
  const struct {
    std::u16string_view content, section, read;
  } cases[] = {
      // What follows the first "]" is not part of the name.
      {u"[Data] ; note [x]\r\nRate=70\r\n", u"Data", u"70"},
      {u"[Data]]\nRate=71\n", u"Data", u"71"},
      {u"[ Data ]x=1]\nRate=72\n", u"Data", u"72"},
      // A "[" line without "]" is a section all the same, named by the rest
      // of the line.
      {u"[Data\r\nRate=73\r\n", u"Data", u"73"},
      {u"  [ Data \t\nRate=74\n", u"Data", u"74"},
      // ... and so it ends the section before it.
      {u"[Data]\nx=1\n[Other\nRate=75\n", u"Data", u"d"},
      {u"[Data]\nx=1\n[Other\nRate=75\n", u"other", u"75"},
      {u"[Data]\nx=1\n[\nRate=76\n", u"Data", u"d"},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(GetProfileString(c.content, c.section, u"Rate", u"d"), c.read)
        << std::string(c.content.begin(), c.content.end());
  }
}

TEST(GetProfileString, SkipsByteOrderMark) {
  EXPECT_EQ(GetProfileString(u"\uFEFF[Data]\nSet=Y\n", u"Data", u"Set", u""), u"Y");
}

TEST(SetProfileString, ReplacesValueInPlaceKeepingEveryOtherLine) {
  const std::u16string content =
      u"; kept comment\r\n"
      u"[Data]\r\n"
      u"  rate = 70 ; old\r\n"
      u"\r\n"
      u"Prg=False\r\n"
      u"[Other]\r\n"
      u"Rate=1";
  EXPECT_EQ(SetProfileString(content, u"DATA", u"Rate", u"85  "),
            u"; kept comment\r\n"
            u"[Data]\r\n"
            u"  rate =85  \r\n"
            u"\r\n"
            u"Prg=False\r\n"
            u"[Other]\r\n"
            u"Rate=1");
}

TEST(SetProfileString, AddsMissingKeyAfterLastFilledLineOfItsSection) {
  EXPECT_EQ(
      SetProfileString(u"[Data]\nRate=85\n; note\n\n\n[Other]\nx=1\n", u"Data", u"Set", u"Y "),
      u"[Data]\nRate=85\n; note\nSet=Y \n\n\n[Other]\nx=1\n");
  EXPECT_EQ(SetProfileString(u"[Data]\r\n\r\n[Other]\r\n", u"Data", u"Set", u"Y"),
            u"[Data]\r\nSet=Y\r\n\r\n[Other]\r\n");
  // A last line without its line end gets one before the new entry.
  EXPECT_EQ(SetProfileString(u"[Data]\nRate=85", u"Data", u"Set", u"Y"), u"[Data]\nRate=85\nSet=Y");
  // A CR at the very end is no line end: the entry must not join its line.
  const std::optional<std::u16string> after_cr =
      SetProfileString(u"[Data]\nRate=85\r", u"Data", u"Set", u"Y");
  EXPECT_EQ(after_cr, u"[Data]\nRate=85\r\nSet=Y");
  EXPECT_EQ(GetProfileString(after_cr.value_or(u""), u"Data", u"Set", u"?"), u"Y");
  // Only the first section of the name is written.
  EXPECT_EQ(SetProfileString(u"[Data]\n[Data]\nSet=N\n", u"Data", u"Set", u"Y"),
            u"[Data]\nSet=Y\n[Data]\nSet=N\n");
}

TEST(SetProfileString, WritesIntoSectionsAsWindowsReadsThem) {
  // The section is found, not added again at the end.
  EXPECT_EQ(SetProfileString(u"[Data] ; note [x]\r\nRate=1\r\n", u"Data", u"Set", u"Y"),
            u"[Data] ; note [x]\r\nRate=1\r\nSet=Y\r\n");
  EXPECT_EQ(SetProfileString(u"[Data\nRate=1\n", u"Data", u"Rate", u"2"), u"[Data\nRate=2\n");
  // A key is added before a "[" line without "]", which opens the next
  // section, never after it.
  EXPECT_EQ(SetProfileString(u"[Data]\nRate=1\n[Other\nx=1\n", u"Data", u"Set", u"Y"),
            u"[Data]\nRate=1\nSet=Y\n[Other\nx=1\n");
  EXPECT_EQ(SetProfileString(u"[Data]\nRate=1\n[Other\nSet=N\n", u"Data", u"Set", u"Y"),
            u"[Data]\nRate=1\nSet=Y\n[Other\nSet=N\n");
}

TEST(SetProfileString, AddsMissingSectionAtTheEndInTheFilesLineEnds) {
  EXPECT_EQ(SetProfileString(u"", u"Data", u"Rate", u"85"), u"[Data]\r\nRate=85\r\n");
  EXPECT_EQ(SetProfileString(u"\uFEFF", u"Data", u"Rate", u"85"), u"\uFEFF[Data]\r\nRate=85\r\n");
  EXPECT_EQ(SetProfileString(u"[A]\nx=1\n", u"Data", u"Rate", u"85"),
            u"[A]\nx=1\n[Data]\nRate=85\n");
  EXPECT_EQ(SetProfileString(u"[A]\r\nx=1", u"Data", u"Rate", u"85"),
            u"[A]\r\nx=1\r\n[Data]\r\nRate=85\r\n");
  // A last line ending in a bare CR keeps it as its text: "[Data\r" names
  // another section than "Data", and stays so once a line end follows it.
  for (const std::u16string_view last : {u"[Data\r", u"[A]\nx=1\r"}) {
    const std::u16string content = u"[A]\n" + std::u16string(last);
    const std::optional<std::u16string> written =
        SetProfileString(content, u"Data", u"Rate", u"85");
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(GetProfileString(*written, u"Data", u"Rate", u"-"), u"85");
    EXPECT_EQ(written->substr(0, content.size() + 2), content + u"\r\n");
  }
}

TEST(SetProfileString, RefusesWhatTheFileCannotHold) {
  // clang-format off
  const struct {
    std::u16string_view section, key, value;
  } cases[] = {
      {u"Data", u"Folder", u"/a\nb"}, {u"Data", u"Folder", u"/a\rb"}, {u"Da\nta", u"Folder", u"x"},
      {u"Data", u"Fol\nder", u"x"},   {u"", u"Folder", u"x"},         {u" \t", u"Folder", u"x"},
      {u"Data", u"", u"x"},           {u"Data", u"a=b", u"x"},        {u"Data", u"[a]", u"x"},
      {u"Data", u";a", u"x"},         {u"Da]ta", u"Folder", u"x"},    {u"Data]", u"Folder", u"x"},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(SetProfileString(u"[Data]\r\n", c.section, c.key, c.value), std::nullopt)
        << std::string(c.key.begin(), c.key.end());
  }
}

TEST(SetProfileString, WrittenValueReadsBackTrimmedAndUnquoted) {
  const std::u16string_view values[] = {u"85", u"  85  ", u"'q'", u"\"/a b\"  ", u"", u"a=b;c"};
  for (const std::u16string_view value : values) {
    for (const std::u16string_view start : {u"", u"[data]\nfolder=old\n", u"[Data]\r\nx=1"}) {
      const std::optional<std::u16string> written =
          SetProfileString(start, u"Data", u"Folder", value);
      ASSERT_TRUE(written.has_value());
      std::u16string expected(value);
      expected.erase(0, expected.find_first_not_of(u' '));
      expected.erase(expected.find_last_not_of(u' ') + 1);
      if (expected.size() >= 2 && (expected[0] == u'"' || expected[0] == u'\'') &&
          expected.back() == expected[0]) {
        expected = expected.substr(1, expected.size() - 2);
      }
      EXPECT_EQ(GetProfileString(*written, u"DATA", u"FOLDER", u"?"), expected);
    }
  }
}

}  // namespace
}  // namespace morvane
