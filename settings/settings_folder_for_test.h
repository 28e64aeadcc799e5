// The folder that holds the settings file in the tests of settings/, and
// the settings as a freshly created window object loads them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/platform.h"
#include "settings/settings.h"

namespace morvane {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder holding the settings
// file, removed afterwards.
class SettingsFolder {
 public:
  SettingsFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = fs::temp_directory_path() /
              (std::string("morvane-settings-") + info->test_suite_name() + "-" + info->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  ~SettingsFolder() { fs::remove_all(folder_); }
  SettingsFolder(const SettingsFolder&) = delete;
  SettingsFolder& operator=(const SettingsFolder&) = delete;

  std::u16string File() const { return FromSystemText((folder_ / "Morvane.ini").string()); }
  void Write(const std::string& bytes) const {
    std::ofstream(folder_ / "Morvane.ini", std::ios::binary) << bytes;
  }
  std::string Read() const {
    std::ifstream in(folder_ / "Morvane.ini", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  size_t EntryCount() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder_), {}));
  }
  const fs::path& folder() const { return folder_; }

 private:
  fs::path folder_;
};

inline std::string Blanks(size_t count) { return std::string(count, ' '); }

// The state of a freshly created window object: quality 0, not progressive.
struct Loaded {
  uint8_t quality = 0;
  int16_t progressive = 0;
  StoredSettings stored;
};

inline Loaded LoadFrom(const SettingsFolder& folder) {
  Loaded loaded;
  loaded.stored = LoadSettingsFrom(folder.File(), loaded.quality, loaded.progressive);
  return loaded;
}

}  // namespace morvane
