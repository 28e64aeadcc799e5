// Files and folders for tests: a temporary folder of the test's own, the
// current folder changed for a scope, whole files read and written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::test_support {

// `path` written with "/" between its components, as this system writes it.
std::u16string Native(std::u16string_view path);

// `path` as the program's UTF-16 text: on Windows the wide path as it is,
// whatever the code page can hold; elsewhere its bytes as the program reads
// them.
std::u16string PathText(const std::filesystem::path& path);

// A fresh folder under the system's temporary folder, its name unique to the
// process, the running test and the instance, removed with everything in it
// at the end of the scope. Its path is the folder's long form, so
// expectations can be built on it.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& relative) const {
    return path_ / relative;
  }
  // The path as the program's UTF-16 text.
  std::u16string Text() const;
  // Creates the file (and its folders) at `relative` below this folder.
  void AddFile(const std::filesystem::path& relative, std::string_view content = "x") const;
  // The names in the folder, sorted.
  std::vector<std::string> Names() const;

 private:
  std::filesystem::path path_;
};

// Changes the current folder of the process, which programs it starts
// inherit, and restores it at the end of the scope.
class CurrentFolderChange {
 public:
  explicit CurrentFolderChange(const std::filesystem::path& folder);
  ~CurrentFolderChange();
  CurrentFolderChange(const CurrentFolderChange&) = delete;
  CurrentFolderChange& operator=(const CurrentFolderChange&) = delete;

 private:
  std::filesystem::path saved_;
};

// The whole file; empty when it cannot be read.
std::vector<uint8_t> ReadFile(const std::filesystem::path& path);
std::string ReadText(const std::filesystem::path& path);
// Creates or replaces the file with exactly these bytes.
void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
void WriteFile(const std::filesystem::path& path, std::string_view bytes);

}  // namespace morvane::test_support
