// The settings file where the system's narrow text is the ANSI code page
// 932 of a Japanese Windows: short fields are cut between its characters,
// lines it cannot read back keep their bytes, and a folder it cannot hold is
// never written.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "settings/settings.h"
#include "settings/settings_folder_for_test.h"

namespace morvane {
namespace {

TEST(LoadSettings, ShortFieldsAreReadWithinTheirShiftJisBytes) {
  if (::GetACP() != 932) GTEST_SKIP() << "needs code page 932, has " << ::GetACP();
  SettingsFolder folder;
  // A character that does not fit whole is left out, never half read:
  // テ, テス, ト take two bytes each, the half-width ﾃ one.
  folder.Write("[Data]\nSet=\x83\x65\nPrg=ab\x83\x65\x83\x58\nRate=" + std::string(48, '1') +
               "\x83\x67\n");
  Loaded loaded = LoadFrom(folder);
  EXPECT_EQ(loaded.stored.Set, u"");
  EXPECT_EQ(loaded.stored.Prg, u"ab\u30C6");
  EXPECT_EQ(loaded.stored.Rate, std::u16string(48, u'1'));

  folder.Write("[Data]\nSet=\xC3\xC3\n");
  EXPECT_EQ(LoadFrom(folder).stored.Set, u"\uFF83");
}

// clang-format off
TEST(SaveSettings, KeepsShiftJisLinesTheCodePageCannotReadBack) {
  if (::GetACP() != 932) GTEST_SKIP() << "needs code page 932, has " << ::GetACP();
  SettingsFolder folder;
  // A stray lead byte before CR LF; the NEC and the IBM form of one
  // character (纊), which reads back as the IBM one; a stray lead byte on
  // the last line, which has no line end, and after which the keys are
  // added.
  folder.Write("; \x82\r\n; \xED\x40 \xFA\x5C\r\n[Data]\r\nRate=1\r\n; end \x82");
  ASSERT_TRUE(SaveSettingsTo(folder.File(), 85, 0, u"D:\\出力", false));
  EXPECT_EQ(folder.Read(), "; \x82\r\n; \xED\x40 \xFA\x5C\r\n[Data]\r\n"
                           "Rate=85" + Blanks(48) + "\r\n"
                           "; end \x82\r\n"
                           "Prg=False\r\n"
                           "Folder=D:\\\x8F\x6F\x97\xCD" + Blanks(45) + "\r\n"
                           "Set=Y ");
}
// clang-format on

TEST(SaveSettings, RefusesAFolderTheCodePageCannotHold) {
  if (::GetACP() != 932) GTEST_SKIP() << "needs code page 932, has " << ::GetACP();
  SettingsFolder folder;
  const fs::path file = folder.folder() / "Morvane.ini";
  // Best fit would write "schon" and "¥" as the separator "\"; Korean and an
  // unpaired surrogate have nothing to become but "?".
  for (const std::u16string_view typed :
       {u"D:\\sch\u00f6n", u"D:\\\uC0AC\uC9C4", u"D:\\\u00A5", u"D:\\a\xD800"}) {
    fs::remove(file);
    EXPECT_FALSE(SaveSettingsTo(folder.File(), 85, 0, typed, false));
    EXPECT_EQ(folder.EntryCount(), 0u);
    folder.Write("[Data]\r\nRate=50\r\n");
    EXPECT_FALSE(SaveSettingsTo(folder.File(), 85, 0, typed, false));
    EXPECT_EQ(folder.Read(), "[Data]\r\nRate=50\r\n");
    EXPECT_EQ(folder.EntryCount(), 1u);
  }
  // A file in UTF-8 holds them.
  folder.Write("\xEF\xBB\xBF[Data]\r\n");
  ASSERT_TRUE(SaveSettingsTo(folder.File(), 85, 0, u"D:\\\uC0AC\uC9C4 sch\u00f6n", false));
  EXPECT_EQ(LoadFrom(folder).stored.Folder, u"D:\\\uC0AC\uC9C4 sch\u00f6n");
}

}  // namespace
}  // namespace morvane
