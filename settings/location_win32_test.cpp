// Where the settings file lies on Windows (or Wine): a probe file decides
// whether the program's folder can be written, and the user's own folder is
// made with its parents on the first Save.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

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

// The installer puts the marker beside the program: then even a folder the
// user may write (an install for the current user; an administrator in
// C:\Program Files) keeps no settings, and the user's own file is read, or
// the system-wide one until it exists.
TEST(LocateSettings, AnInstalledCopyKeepsTheSettingsInTheUsersFolderOnly) {
  TempFolder temp;
  temp.AddFile("program/Morvane.ini", "[Data]\r\nRate=60\r\n");
  temp.AddFile("program/Morvane.installed", "");
  temp.AddFile("ProgramData/Morvane/Morvane.ini", "[Data]\r\nRate=70\r\n");
  const std::u16string program = PathText(temp / "program");
  const std::u16string user = PathText(temp / "Roaming" / "Morvane");
  const std::vector<std::u16string> system = {PathText(temp / "ProgramData" / "Morvane")};
  SettingsLocation location = LocateSettings(program, user, system);
  EXPECT_EQ(location.file, user + u"\\Morvane.ini");
  EXPECT_EQ(location.user_folder, user);
  EXPECT_EQ(location.FileToRead(), system[0] + u"\\Morvane.ini");

  uint8_t quality = 0;
  int16_t progressive = 0;
  LoadSettingsFrom(location.FileToRead(), quality, progressive);
  EXPECT_EQ(quality, 70);
  ASSERT_TRUE(SaveSettingsAt(location, 42, 0, u"C:\\OUT", false));
  location = LocateSettings(program, user, system);
  EXPECT_EQ(location.FileToRead(), user + u"\\Morvane.ini");
  LoadSettingsFrom(location.FileToRead(), quality, progressive);
  EXPECT_EQ(quality, 42);
  EXPECT_EQ(test_support::ReadText(temp / "program" / "Morvane.ini"), "[Data]\r\nRate=60\r\n");
  EXPECT_EQ(test_support::ReadText(temp / "ProgramData" / "Morvane" / "Morvane.ini"),
            "[Data]\r\nRate=70\r\n");

  // Without the marker the same folder is a portable copy's.
  fs::remove(temp / "program" / "Morvane.installed");
  location = LocateSettings(program, user, system);
  EXPECT_EQ(location.file, program + u"\\Morvane.ini");
  EXPECT_EQ(location.FileToRead(), location.file);
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
