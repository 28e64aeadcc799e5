// The settings file where the system's narrow text is the ANSI code page
// 932 of a Japanese Windows: short fields are cut between its characters.
#include <gtest/gtest.h>
#include <windows.h>

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

}  // namespace
}  // namespace morvane
