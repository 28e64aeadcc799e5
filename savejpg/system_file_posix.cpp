// File access by name on POSIX systems: paths are UTF-8 bytes as they are.
#include <cerrno>

#include "system_file.h"

namespace savejpg {

std::filesystem::path PathFromSystemText(const char* text) {
  return std::filesystem::path(text);  // bytes as they are, UTF-8 or not
}

std::FILE* CreateNewFile(const std::filesystem::path& path) {
  return std::fopen(path.c_str(), "wbx");  // "x": fails when it exists
}

bool RenameOver(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::error_code ec;
  std::filesystem::rename(from, to, ec);
  return !ec;
}

}  // namespace savejpg
