// Where the settings file lies, seen by a user whom the permission bits
// bind: a program folder that user cannot write, as one installed for every
// user is (test_support/other_user.h).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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

// bin/, the program's folder, that the other user cannot write; home/,
// which that user owns, where its config folder goes; etc/, the system's
// settings folder, that everyone reads.
class ReadOnlyProgramFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    LetEveryoneReach(temp_.path());
    fs::create_directories(bin());
    fs::create_directories(home());
    fs::create_directories(temp_ / "etc" / "Morvane");
    GiveToOtherUser(home());
  }
  // Taken away only now, so that a test can first put a file in.
  void MakeBinReadOnly() {
    fs::permissions(bin(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read |
                               fs::perms::others_exec);
  }
  void TearDown() override {
    fs::permissions(bin(), fs::perms::owner_all, fs::perm_options::add);
    // LoadSaveLoad run in this process changes them.
    for (const auto& [name, value] : saved_environment_) {
      if (value) {
        ::setenv(name, value->c_str(), 1);
      } else {
        ::unsetenv(name);
      }
    }
  }
  fs::path bin() const { return temp_ / "bin"; }
  fs::path home() const { return temp_ / "home"; }

  // In the child: what the settings of a program in bin/ do, with the config
  // folder at `config_home`, which does not exist yet, and the system-wide
  // ones under `system_home`.
  std::string LoadSaveLoad(const fs::path& config_home, const fs::path& system_home = {}) const {
    ::setenv("XDG_CONFIG_HOME", config_home.c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", system_home.c_str(), 1);
    const SettingsLocation location = LocateSettings(
        FromSystemText(bin().string()), UserSettingsFolder(),
        system_home.empty() ? std::vector<std::u16string>{} : SystemSettingsFolders());
    std::string seen =
        "file " + Narrow(location.file) + "; made by Save " + Narrow(location.user_folder);
    if (!location.defaults_file.empty()) seen += "; defaults " + Narrow(location.defaults_file);
    uint8_t quality = 0;
    int16_t progressive = 0;
    LoadSettingsFrom(location.FileToRead(), quality, progressive);
    seen += "; read " + std::to_string(quality);
    seen += fs::exists(config_home) ? "; a read made the config folder" : "";
    const bool saved = SaveSettingsAt(location, 42, -1, u"/OUT", false);
    seen += saved ? "; saved" : "; not saved";
    // Located afresh, as the next run does.
    quality = 0;
    LoadSettingsFrom(LocateSettings(FromSystemText(bin().string()), UserSettingsFolder(),
                                    SystemSettingsFolders())
                         .FileToRead(),
                     quality, progressive);
    seen += "; read " + std::to_string(quality) + "; config folder " + ModeOf(config_home);
    return seen;
  }

  TempFolder temp_;
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_environment_ = [] {
    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"}) {
      const char* value = std::getenv(name);
      saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    return saved;
  }();
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

// An installed copy (the marker beside it) never reads or writes a
// Morvane.ini beside it: a user of their own reads the system-wide defaults
// until their first Save, then their own file.
TEST_F(ReadOnlyProgramFolder, AnInstalledCopyKeepsEachUsersFileInTheirOwnFolder) {
  WriteFile(bin() / "Morvane.ini", "[Data]\nRate=60\n");
  WriteFile(bin() / "Morvane.installed", "");
  WriteFile(temp_ / "etc" / "Morvane" / "Morvane.ini", "[Data]\nRate=70\n");
  MakeBinReadOnly();
  const fs::path config = home() / "config";
  const std::string user_folder = (config / "Morvane").string();
  const std::string expected = "file " + user_folder + "/Morvane.ini; made by Save " + user_folder +
                               "; defaults " +
                               (temp_ / "etc" / "Morvane" / "Morvane.ini").string() +
                               "; read 70; saved; read 42; config folder 700";
  EXPECT_EQ(AsOtherUser(bin(), [&] { return LoadSaveLoad(config, temp_ / "etc"); }), expected);
  EXPECT_EQ(ReadText(bin() / "Morvane.ini"), "[Data]\nRate=60\n");
  EXPECT_EQ(ReadText(temp_ / "etc" / "Morvane" / "Morvane.ini"), "[Data]\nRate=70\n");
}

// Whoever may write into the program's folder (root, as the tests usually
// run) is a user like any other for an installed copy; a portable copy
// keeps the rule of the writable folder beside the same files.
TEST_F(ReadOnlyProgramFolder, AWriterOfTheFolderKeepsOwnSettingsOnlyInAnInstalledCopy) {
  WriteFile(bin() / "Morvane.ini", "[Data]\nRate=60\n");
  WriteFile(temp_ / "etc" / "Morvane" / "Morvane.ini", "[Data]\nRate=70\n");
  const fs::path config = home() / "root-config";
  const std::string beside = (bin() / "Morvane.ini").string();
  EXPECT_EQ(LoadSaveLoad(config, temp_ / "etc"),
            "file " + beside + "; made by Save ; read 60; saved; read 42; config folder missing");

  WriteFile(bin() / "Morvane.ini", "[Data]\nRate=60\n");
  WriteFile(bin() / "Morvane.installed", "");
  const std::string user_folder = (config / "Morvane").string();
  EXPECT_EQ(LoadSaveLoad(config, temp_ / "etc"),
            "file " + user_folder + "/Morvane.ini; made by Save " + user_folder + "; defaults " +
                (temp_ / "etc" / "Morvane" / "Morvane.ini").string() +
                "; read 70; saved; read 42; config folder 700");
  EXPECT_EQ(ReadText(bin() / "Morvane.ini"), "[Data]\nRate=60\n");
  // Once the user has a file, the system-wide one is not looked at.
  const SettingsLocation again =
      LocateSettings(FromSystemText(bin().string()), FromSystemText(user_folder),
                     {FromSystemText((temp_ / "etc" / "Morvane").string())});
  EXPECT_EQ(Narrow(again.FileToRead()), user_folder + "/Morvane.ini");
}

// Without a folder of the user's own, an installed copy still reads the
// system-wide settings, and Save fails rather than write beside it.
TEST_F(ReadOnlyProgramFolder, AnInstalledCopyWithoutAUserFolderSavesNowhere) {
  WriteFile(bin() / "Morvane.installed", "");
  WriteFile(temp_ / "etc" / "Morvane.ini", "[Data]\nRate=70\n");
  SettingsLocation location = LocateSettings(
      FromSystemText(bin().string()), std::nullopt,
      {FromSystemText((temp_ / "missing").string()), FromSystemText((temp_ / "etc").string())});
  EXPECT_EQ(location.file, u"");
  EXPECT_EQ(Narrow(location.FileToRead()), (temp_ / "etc" / "Morvane.ini").string());
  EXPECT_FALSE(SaveSettingsAt(location, 42, 0, u"/OUT", false));
  EXPECT_EQ(test_support::ReadText(temp_ / "etc" / "Morvane.ini"), "[Data]\nRate=70\n");
  EXPECT_EQ(temp_.Names(), (std::vector<std::string>{"bin", "etc", "home"}));
  EXPECT_EQ(std::distance(fs::directory_iterator(home()), fs::directory_iterator()), 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(bin()), fs::directory_iterator()), 1);
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
