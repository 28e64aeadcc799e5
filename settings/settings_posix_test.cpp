// The settings file where the system's narrow text is UTF-8: bytes that are
// not UTF-8 are kept, and count one each.
#include <gtest/gtest.h>

#include <string>

#include "settings/settings.h"
#include "settings/settings_folder_for_test.h"

namespace morvane {
namespace {

// clang-format off
TEST(SaveSettings, KeepsTheBytesOfLatin1Lines) {
  SettingsFolder folder;
  // Latin-1 comments, LF.
  folder.Write("; caf\xE9 cr\xE8me\n[Data]\nFolder=/old\n; \xA9 2024\n");
  ASSERT_TRUE(SaveSettingsTo(folder.File(), 85, 0, u"/OUT", false));
  EXPECT_EQ(folder.Read(), "; caf\xE9 cr\xE8me\n[Data]\n"
                           "Folder=/OUT" + Blanks(46) + "\n"
                           "; \xA9 2024\n"
                           "Rate=85" + Blanks(48) + "\n"
                           "Prg=False\n"
                           "Set=Y \n");
}
// clang-format on

TEST(SaveSettings, RefusesAFolderThatWouldReadBackAsAnotherOne) {
  SettingsFolder folder;
  folder.Write("[Data]\nRate=50\n");
  // An unpaired surrogate would be written as U+FFFD; carried bytes that
  // together are UTF-8 would read back as "é".
  for (const std::u16string_view typed : {u"/a\xD800z", u"/a\xDFFF", u"/a\xDCC3\xDCA9"}) {
    EXPECT_FALSE(SaveSettingsTo(folder.File(), 85, 0, typed, false));
    EXPECT_EQ(folder.Read(), "[Data]\nRate=50\n");
    EXPECT_EQ(folder.EntryCount(), 1u);
  }
  // A Latin-1 byte as the file held it goes back as that byte.
  ASSERT_TRUE(SaveSettingsTo(folder.File(), 85, 0, u"/caf\xDCE9", false));
  EXPECT_EQ(folder.Read(), "[Data]\nRate=85" + Blanks(48) + "\nPrg=False\nFolder=/caf\xE9" +
                               Blanks(45) + "\nSet=Y \n");
  EXPECT_EQ(LoadFrom(folder).stored.Folder, u"/caf\xDCE9");
}

TEST(LoadSettings, ShortFieldsAreReadWithinTheirUtf8Bytes) {
  SettingsFolder folder;
  Loaded loaded;
  // A character that does not fit whole is left out, never half read.
  folder.Write("[Data]\nSet=\xC3\xA9\nPrg=ab\xE2\x82\xAC\nRate=" + std::string(47, '1') +
               "\xF0\x9F\x98\x80\n");
  loaded = LoadFrom(folder);
  EXPECT_EQ(loaded.stored.Set, u"");
  EXPECT_EQ(loaded.stored.Prg, u"ab");
  EXPECT_EQ(loaded.stored.Rate, std::u16string(47, u'1'));

  // A byte that is not UTF-8 counts one: Shift-JIS テスト, a Latin-1 "é".
  folder.Write("[Data]\nPrg=\x83\x65\x83\x58\x83\x67\nSet=\xE9\n");
  loaded = LoadFrom(folder);
  EXPECT_EQ(loaded.stored.Prg, u"\xDC83\x65\xDC83X");
  EXPECT_EQ(loaded.stored.Set, u"\xDCE9");
}

}  // namespace
}  // namespace morvane
