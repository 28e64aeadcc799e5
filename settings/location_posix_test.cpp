// Where the settings file lies, seen by a user whom the permission bits
// bind: a program folder that user cannot write, as one installed for every
// user is (test_support/other_user.h).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "settings/location.h"
#include "settings/settings.h"
#include "test_support/files.h"
#include "test_support/other_user.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test_support::AsOtherUser;
using test_support::GiveToOtherUser;
using test_support::LetEveryoneReach;
using test_support::ReadText;
using test_support::TempFolder;
using test_support::WriteFile;

std::string Narrow(std::u16string_view text) { return ToSystemText(text); }

std::string ModeOf(const fs::path& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return "missing";
  char octal[8];
  std::snprintf(octal, sizeof octal, "%o", info.st_mode & 0777);
  return octal;
}

// bin/, the program's folder, that the other user cannot write, and home/,
// which that user owns, where its config folder goes.
class ReadOnlyProgramFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    LetEveryoneReach(temp_.path());
    fs::create_directories(bin());
    fs::create_directories(home());
    GiveToOtherUser(home());
  }
  // Taken away only now, so that a test can first put a file in.
  void MakeBinReadOnly() {
    fs::permissions(bin(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read |
                               fs::perms::others_exec);
  }
  void TearDown() override { fs::permissions(bin(), fs::perms::owner_all, fs::perm_options::add); }
  fs::path bin() const { return temp_ / "bin"; }
  fs::path home() const { return temp_ / "home"; }

  // In the child: what the settings of a program in bin/ do, with the config
  // folder at `config_home`, which does not exist yet.
  std::string LoadSaveLoad(const fs::path& config_home) const {
    ::setenv("XDG_CONFIG_HOME", config_home.c_str(), 1);
    const SettingsLocation location =
        LocateSettings(FromSystemText(bin().string()), UserSettingsFolder());
    std::string seen =
        "file " + Narrow(location.file) + "; made by Save " + Narrow(location.user_folder);
    uint8_t quality = 0;
    int16_t progressive = 0;
    LoadSettingsFrom(location.file, quality, progressive);
    seen += "; read " + std::to_string(quality);
    seen += fs::exists(config_home) ? "; a read made the config folder" : "";
    const bool saved = SaveSettingsAt(location, 42, -1, u"/OUT", false);
    seen += saved ? "; saved" : "; not saved";
    quality = 0;
    LoadSettingsFrom(location.file, quality, progressive);
    seen += "; read " + std::to_string(quality) + "; config folder " + ModeOf(config_home);
    return seen;
  }

  TempFolder temp_;
};

TEST_F(ReadOnlyProgramFolder, KeepsTheFileInTheUsersFolderMadeWithItsParentsOnSave) {
  MakeBinReadOnly();
  const fs::path config = home() / "missing" / "config";
  const std::string user_folder = (config / "Morvane").string();
  EXPECT_EQ(AsOtherUser(bin(), [&] { return LoadSaveLoad(config); }),
            "file " + user_folder + "/Morvane.ini; made by Save " + user_folder +
                "; read 85; saved; read 42; config folder 700");
  EXPECT_EQ(ModeOf(config / "Morvane"), "700");
  EXPECT_FALSE(fs::exists(bin() / "Morvane.ini"));
}

TEST_F(ReadOnlyProgramFolder, UsesTheFileBesideItAndSaveFailsThereAsBefore) {
  WriteFile(bin() / "Morvane.ini", "[Data]\nRate=60\n");
  fs::permissions(bin() / "Morvane.ini", fs::perms::owner_read | fs::perms::owner_write |
                                             fs::perms::group_read | fs::perms::others_read);
  MakeBinReadOnly();
  const fs::path config = home() / "config";
  const std::string beside = (bin() / "Morvane.ini").string();
  EXPECT_EQ(
      AsOtherUser(bin(), [&] { return LoadSaveLoad(config); }),
      "file " + beside + "; made by Save ; read 60; not saved; read 60; config folder missing");
  EXPECT_EQ(ReadText(bin() / "Morvane.ini"), "[Data]\nRate=60\n");
}

TEST_F(ReadOnlyProgramFolder, AWritableOneKeepsTheFileBesideTheProgram) {
  // The folder the test writes in is writable to it, whoever it is.
  const SettingsLocation location =
      LocateSettings(FromSystemText(bin().string()), FromSystemText((home() / "M").string()));
  EXPECT_EQ(Narrow(location.file), (bin() / "Morvane.ini").string());
  EXPECT_EQ(location.user_folder, u"");
}

}  // namespace
}  // namespace morvane
