// A fresh folder under the system's temporary folder for one test, named
// after the test and removed afterwards, for the tests of filelist/.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/conventions.h"
#include "platform/platform.h"

namespace morvane {

// `path` written with "/" between its components, as this system writes it.
inline std::u16string Native(std::u16string_view path) {
  std::u16string native(path);
  for (char16_t& ch : native) {
    if (ch == u'/') ch = kPathSeparator;
  }
  return native;
}

class TempFolder {
 public:
  TempFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            (std::string("morvane-filelist-") + info->test_suite_name() + "-" + info->name());
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
    // The long form of the folder itself, so expectations can be built on it.
    path_ = std::filesystem::canonical(path_);
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::u16string Text() const { return FromSystemText(path_.string()); }
  // Creates the file (and its folders) at `relative` below this folder.
  void AddFile(const std::filesystem::path& relative) const {
    std::filesystem::create_directories((path_ / relative).parent_path());
    std::ofstream(path_ / relative) << "x";
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace morvane
