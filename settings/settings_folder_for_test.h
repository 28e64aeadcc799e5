// The folder that holds the settings file in the tests of settings/, and
// the settings as a freshly created window object loads them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "settings/settings.h"
#include "test_support/files.h"

namespace morvane {

namespace fs = std::filesystem;

// The settings file in a temporary folder of the test's own.
class SettingsFolder {
 public:
  std::u16string File() const { return FromSystemText((temp_ / "Morvane.ini").string()); }
  void Write(const std::string& bytes) const {
    test_support::WriteFile(temp_ / "Morvane.ini", bytes);
  }
  std::string Read() const { return test_support::ReadText(temp_ / "Morvane.ini"); }
  size_t EntryCount() const { return temp_.Names().size(); }
  const fs::path& folder() const { return temp_.path(); }

 private:
  test_support::TempFolder temp_;
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
