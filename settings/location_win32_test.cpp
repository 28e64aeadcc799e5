// Where the settings file lies on Windows (or Wine): a probe file decides
// whether the program's folder can be written, and the user's own folder is
// made with its parents on the first Save.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "settings/location.h"
#include "settings/settings.h"
#include "test_support/files.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test_support::PathText;
using test_support::TempFolder;

TEST(LocateSettings, AWritableProgramFolderKeepsTheFileBesideIt) {
  TempFolder program;
  const std::u16string user = PathText(program.path() / "user" / "Morvane");
  const SettingsLocation location = LocateSettings(PathText(program.path()), user);
  EXPECT_EQ(location.file, PathText(program.path() / "Morvane.ini"));
  EXPECT_EQ(location.user_folder, u"");
  // The probe that told is gone.
  EXPECT_TRUE(program.Names().empty());
}

TEST(LocateSettings, AFolderNoOneCanWriteSendsTheFileToTheUsersFolderMadeOnSave) {
  // Under Wine, Z:\sys is Linux's /sys, where not even root creates a file.
  // A real Windows has no such folder: there the rule is seen end to end.
  const std::u16string read_only = u"Z:\\sys";
  if (::GetFileAttributesW(L"Z:\\sys") == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "no Z:\\sys: not under Wine";
  }
  TempFolder home;
  const std::u16string user = PathText(home.path() / "Roaming" / "Morvane");
  const SettingsLocation location = LocateSettings(read_only, user);
  EXPECT_EQ(location.file, user + u"\\Morvane.ini");
  EXPECT_EQ(location.user_folder, user);

  uint8_t quality = 0;
  int16_t progressive = 0;
  LoadSettingsFrom(location.file, quality, progressive);
  EXPECT_EQ(quality, 85);
  EXPECT_TRUE(home.Names().empty());  // reading makes nothing
  ASSERT_TRUE(SaveSettingsAt(location, 42, 0, u"C:\\OUT", false));
  quality = 0;
  LoadSettingsFrom(location.file, quality, progressive);
  EXPECT_EQ(quality, 42);
}

}  // namespace
}  // namespace morvane
