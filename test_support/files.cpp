#include "test_support/files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>
#include <type_traits>

#include "platform/conventions.h"
#include "platform/platform.h"

namespace morvane::test_support {

std::u16string Native(std::u16string_view path) {
  std::u16string native(path);
  for (char16_t& ch : native) {
    if (ch == u'/') ch = kPathSeparator;
  }
  return native;
}

namespace fs = std::filesystem;

std::u16string PathText(const fs::path& path) {
  if constexpr (std::is_same_v<fs::path::value_type, wchar_t>) {
    const auto& wide = path.native();
    return std::u16string(wide.begin(), wide.end());
  } else {
    return FromSystemText(path.string());
  }
}

TempFolder::TempFolder() {
  // ctest runs every test in a process of its own, in parallel: the process
  // number keeps them apart, the counter keeps apart folders of one test.
  static int counter = 0;
  std::string name = "morvane-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
  if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info()) {
    name += std::string("-") + info->test_suite_name() + "-" + info->name();
    // Parameterised tests have "/" in their names.
    std::replace(name.begin(), name.end(), '/', '_');
  }
  path_ = fs::temp_directory_path() / name;
  fs::remove_all(path_);
  fs::create_directories(path_);
  path_ = fs::canonical(path_);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::u16string TempFolder::Text() const { return PathText(path_); }

void TempFolder::AddFile(const fs::path& relative, std::string_view content) const {
  fs::create_directories((path_ / relative).parent_path());
  WriteFile(path_ / relative, content);
}

std::vector<std::string> TempFolder::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(path_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

CurrentFolderChange::CurrentFolderChange(const fs::path& folder) : saved_(fs::current_path()) {
  fs::current_path(folder);
}

CurrentFolderChange::~CurrentFolderChange() {
  std::error_code ignored;
  fs::current_path(saved_, ignored);
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace morvane::test_support
