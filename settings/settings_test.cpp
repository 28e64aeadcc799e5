#include "settings/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/conventions.h"
#include "platform/platform.h"
#include "settings/settings_folder_for_test.h"
#include "test_support/files.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

// The expected files are laid out one line of the file per line here.
// clang-format off
TEST(SaveSettings, WritesTheFourFieldsInOrderAsBlankPaddedLines) {
  SettingsFolder folder;
  ASSERT_TRUE(SaveSettingsTo(folder.File(), 85, 0, u"/OUT", false));
  EXPECT_EQ(folder.Read(), "[Data]\r\n"
                           "Rate=85" + Blanks(48) + "\r\n"
                           "Prg=False\r\n"
                           "Folder=/OUT" + Blanks(46) + "\r\n"
                           "Set=Y \r\n");
  ASSERT_TRUE(SaveSettingsTo(folder.File(), 100, -1, u"", true));
  EXPECT_EQ(folder.Read(), "[Data]\r\n"
                           "Rate=100" + Blanks(47) + "\r\n"
                           "Prg=True \r\n"
                           "Folder=" + Blanks(50) + "\r\n"
                           "Set=N \r\n");
}

TEST(SaveSettings, KeepsOtherLinesAndTheFilesLineEnds) {
  SettingsFolder folder;
  folder.Write("; written by hand\n[other]\nRate=1\n\n[data]\nset=N\nPrg = True\n; end\n");
  ASSERT_TRUE(SaveSettingsTo(folder.File(), 7, 0, u"/x", false));
  EXPECT_EQ(folder.Read(), "; written by hand\n[other]\nRate=1\n\n[data]\nset=Y \n"
                           "Prg =False\n; end\nRate=7" + Blanks(49) + "\n"
                           "Folder=/x" + Blanks(48) + "\n");

  folder.Write("[Data]\r\nFolder=/old\r\n\r\n[Tail]\r\nk=v");
  ASSERT_TRUE(SaveSettingsTo(folder.File(), 7, 0, u"/new", true));
  EXPECT_EQ(folder.Read(), "[Data]\r\nFolder=/new" + Blanks(46) + "\r\n"
                           "Rate=7" + Blanks(49) + "\r\nPrg=False\r\nSet=N \r\n"
                           "\r\n[Tail]\r\nk=v");
}

TEST(SaveSettings, KeepsTheBytesOfShiftJisLines) {
  SettingsFolder folder;
  // Shift-JIS comment, section and value (設定, 出力, 値), CR LF.
  folder.Write("; \x90\xDD\x92\xE8\r\n[\x8F\x6F\x97\xCD]\r\nkey=\x92\x6C\r\n[Data]\r\nRate=1\r\n");
  ASSERT_TRUE(SaveSettingsTo(folder.File(), 85, 0, u"/OUT", false));
  EXPECT_EQ(folder.Read(), "; \x90\xDD\x92\xE8\r\n[\x8F\x6F\x97\xCD]\r\nkey=\x92\x6C\r\n"
                           "[Data]\r\nRate=85" + Blanks(48) + "\r\n"
                           "Prg=False\r\n"
                           "Folder=/OUT" + Blanks(46) + "\r\n"
                           "Set=Y \r\n");
}

TEST(SaveSettings, KeepsAUtf8FileWithItsMarkByteForByte) {
  SettingsFolder folder;
  // As Notepad saves it: the mark, CR LF, Japanese and other text in UTF-8,
  // and a byte that is no UTF-8 at all.
  const std::string head = "\xEF\xBB\xBF; 設定ファイル\r\n[他]\r\n値=ü €\r\n[Data]\r\n";
  folder.Write(head + "Rate=95\r\n; \xFF kept\r\nPrg=True\r\n");
  EXPECT_EQ(LoadFrom(folder).quality, 95);

  // A folder that every system's code page may not hold, but UTF-8 does.
  ASSERT_TRUE(SaveSettingsTo(folder.File(), 70, 0, u"/出力ö", true));
  EXPECT_EQ(folder.Read(), head + "Rate=70" + Blanks(48) + "\r\n"
                           "; \xFF kept\r\n"
                           "Prg=False\r\n"
                           "Folder=/出力ö" + Blanks(46) + "\r\n"
                           "Set=N \r\n");
  EXPECT_EQ(LoadFrom(folder).stored.Folder, u"/出力ö");
}
// clang-format on

// The bytes of a UTF-16 file holding `text`.
std::string Utf16Bytes(std::u16string_view text, bool big_endian) {
  std::string bytes;
  for (const char16_t unit : text) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    bytes += big_endian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

TEST(SettingsFile, Utf16FileIsReadAndWrittenBackInItsOwnByteOrder) {
  SettingsFolder folder;
  // clang-format off
  const struct {
    bool big_endian;
    std::u16string_view line_end;
    std::string_view start;  // the file's first bytes: mark, "; ", 設
  } cases[] = {
      {false, u"\r\n", std::string_view("\xFF\xFE;\0 \0\x2D\x8A", 8)},
      {true, u"\n", std::string_view("\xFE\xFF\0;\0 \x8A\x2D", 8)},
  };
  // clang-format on
  for (const auto& c : cases) {
    const std::u16string end(c.line_end);
    folder.Write(Utf16Bytes(u"\uFEFF; 設定" + end + u"[Data]" + end + u"Rate=95" + end +
                                u"Prg=True" + end + u"[他]" + end + u"k=v" + end,
                            c.big_endian));
    Loaded loaded = LoadFrom(folder);
    EXPECT_EQ(loaded.quality, 95);
    EXPECT_EQ(loaded.progressive, -1);

    ASSERT_TRUE(SaveSettingsTo(folder.File(), 70, 0, u"/出力", true));
    const std::string written = folder.Read();
    EXPECT_EQ(written.substr(0, 8), c.start);
    EXPECT_EQ(written, Utf16Bytes(u"\uFEFF; 設定" + end + u"[Data]" + end + u"Rate=70" +
                                      std::u16string(48, u' ') + end + u"Prg=False" + end +
                                      u"Folder=/出力" + std::u16string(47, u' ') + end + u"Set=N " +
                                      end + u"[他]" + end + u"k=v" + end,
                                  c.big_endian));
    loaded = LoadFrom(folder);
    EXPECT_EQ(loaded.quality, 70);
    EXPECT_EQ(loaded.stored.Folder, u"/出力");
  }
}

TEST(SaveSettings, FailsWithoutLeavingAnythingWhenTheFolderCannotTakeTheFile) {
  SettingsFolder folder;
  const std::u16string missing_folder = FromSystemText((folder.folder() / "no" / "x.ini").string());
  EXPECT_FALSE(SaveSettingsTo(missing_folder, 85, 0, u"/OUT", false));

  folder.Write("[Data]\r\n");
  const std::u16string file_as_folder = folder.File() + u"/Morvane.ini";
  EXPECT_FALSE(SaveSettingsTo(file_as_folder, 85, 0, u"/OUT", false));
  EXPECT_EQ(folder.EntryCount(), 1u);
  EXPECT_EQ(folder.Read(), "[Data]\r\n");
}

TEST(SettingsFile, OverOneMebibyteIsUnreadableAndNeverReplaced) {
  SettingsFolder folder;
  const std::string head = "[Data]\r\nRate=50\r\n; ";
  const std::string one_mebibyte = head + std::string(1048576 - head.size() - 2, 'x') + "\r\n";
  folder.Write(one_mebibyte);
  EXPECT_EQ(LoadFrom(folder).quality, 50);

  const std::string one_more = one_mebibyte + "x";
  folder.Write(one_more);
  const Loaded loaded = LoadFrom(folder);
  EXPECT_EQ(loaded.quality, 85);
  EXPECT_EQ(loaded.stored.Rate, u"");
  EXPECT_FALSE(SaveSettingsTo(folder.File(), 70, 0, u"/OUT", false));
  const std::string after = folder.Read();
  EXPECT_EQ(after.size(), one_more.size());
  EXPECT_TRUE(after == one_more);  // not printed: a mebibyte of text
  EXPECT_EQ(folder.EntryCount(), 1u);
}

TEST(SaveSettings, RefusesFolderWithLineBreakAndKeepsTheFile) {
  SettingsFolder folder;
  folder.Write("[Data]\r\nRate=50\r\n");
  EXPECT_FALSE(SaveSettingsTo(folder.File(), 85, 0, u"/a\nSet=Y", false));
  EXPECT_EQ(folder.Read(), "[Data]\r\nRate=50\r\n");
  EXPECT_EQ(folder.EntryCount(), 1u);
}

TEST(LoadSettings, MissingFileGivesDefaults) {
  SettingsFolder folder;
  const Loaded loaded = LoadFrom(folder);
  EXPECT_EQ(loaded.quality, 85);
  EXPECT_EQ(loaded.progressive, 0);
  EXPECT_EQ(loaded.stored.Rate, u"");
  EXPECT_EQ(loaded.stored.Prg, u"");
  EXPECT_EQ(loaded.stored.Folder, u"");
  EXPECT_EQ(loaded.stored.Set, u"");
}

TEST(LoadSettings, SavedSettingsComeBack) {
  SettingsFolder folder;
  ASSERT_TRUE(SaveSettingsTo(folder.File(), 42, -1, u"/OUT", false));
  Loaded loaded = LoadFrom(folder);
  EXPECT_EQ(loaded.quality, 42);
  EXPECT_EQ(loaded.progressive, -1);
  EXPECT_EQ(loaded.stored.Folder, u"/OUT");
  EXPECT_EQ(loaded.stored.Set, u"Y");
  EXPECT_EQ(loaded.stored.Prg, u"True");

  // A stored "False" arrives cut to "Fals", which does not convert, so the
  // flag keeps its value: false in a fresh start, true when it was true.
  ASSERT_TRUE(SaveSettingsTo(folder.File(), 42, 0, u"/OUT", true));
  loaded = LoadFrom(folder);
  EXPECT_EQ(loaded.stored.Prg, u"Fals");
  EXPECT_EQ(loaded.progressive, 0);
  EXPECT_EQ(loaded.stored.Set, u"N");
  int16_t was_true = -1;
  LoadSettingsFrom(folder.File(), loaded.quality, was_true);
  EXPECT_EQ(was_true, -1);
}

TEST(LoadSettings, FolderOfAnyLengthComesBackWhole) {
  SettingsFolder folder;
  const std::u16string long_folder = u"/" + std::u16string(119, u'f');
  const std::u16string japanese_folder =
      u"/出力/変換済みの画像/二〇二四年/とても長いフォルダの名前です";
  const std::u16string fifty_wide = u"/" + std::u16string(49, u'w');
  for (const std::u16string& written : {long_folder, japanese_folder, fifty_wide}) {
    ASSERT_TRUE(SaveSettingsTo(folder.File(), 85, 0, written, false));
    EXPECT_EQ(LoadFrom(folder).stored.Folder, written);
  }
}

TEST(LoadSettings, RateConvertsAsAByteOrFallsBackTo85) {
  SettingsFolder folder;
  // clang-format off
  const struct {
    std::string stored;
    uint8_t quality;
  } cases[] = {
      {"84.5", 84}, {"85.5", 86}, {" 85 ", 85}, {"\"70\"", 70}, {"0", 0},  {"", 85},
      {"300", 85},  {"-1", 85},   {"abc", 85},  {"1" + std::string(60, '0'), 85},
      // Only the first 49 bytes count: the rest of a long fraction is lost.
      {"84." + std::string(46, '0') + "9", 84},
  };
  // clang-format on
  for (const auto& c : cases) {
    folder.Write("[Data]\r\nRate=" + c.stored + "\r\n");
    EXPECT_EQ(LoadFrom(folder).quality, c.quality) << c.stored;
  }
}

TEST(LoadSettings, ShortFieldsAreReadWithinTheirBytes) {
  SettingsFolder folder;
  folder.Write("[Data]\nPrg=  1234567  \nSet=YES\nRate=" + std::string(60, '9') + "\n");
  Loaded loaded = LoadFrom(folder);
  EXPECT_EQ(loaded.stored.Prg, u"1234");
  EXPECT_EQ(loaded.progressive, -1);
  EXPECT_EQ(loaded.stored.Set, u"Y");
  EXPECT_EQ(loaded.stored.Rate, std::u16string(49, u'9'));
  EXPECT_EQ(loaded.quality, 85);

  // The read stops at a NUL, as the original read buffer did.
  folder.Write(std::string("[Data]\nSet=Y\0N\n", 15));
  EXPECT_EQ(LoadFrom(folder).stored.Set, u"Y");
}

TEST(LoadSettings, KeysAreFoundIgnoringCaseAndFirstOneWins) {
  SettingsFolder folder;
  folder.Write(
      "[DATA]\r\nrATE=60\r\nRate=70\r\nPRG='true'\r\nfolder=\"/q d\"\r\n"
      "[data]\r\nSet=Y\r\n");
  const Loaded loaded = LoadFrom(folder);
  EXPECT_EQ(loaded.quality, 60);
  EXPECT_EQ(loaded.progressive, -1);
  EXPECT_EQ(loaded.stored.Folder, u"/q d");
  EXPECT_EQ(loaded.stored.Set, u"");
}

TEST(SettingsFilePath, LiesInTheExecutablesFolder) {
  // The folder this test program was built into.
  EXPECT_EQ(SettingsFilePath(),
            FromSystemText((fs::canonical(MORVANE_TEST_PROGRAM_DIR) / "Morvane.ini").string()));
}

}  // namespace
}  // namespace morvane
