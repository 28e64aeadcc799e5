// File access by name on POSIX systems: paths are UTF-8 bytes as they are.
#include <cerrno>

#include "system_file.h"

namespace savejpg {

std::filesystem::path PathFromSystemText(const char* text) {
  return std::filesystem::path(text);  // bytes as they are, UTF-8 or not
}

std::FILE* OpenRegularFile(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return nullptr;
  return std::fopen(path.c_str(), "rb");
}

std::FILE* CreateNewFile(const std::filesystem::path& path) {
  return std::fopen(path.c_str(), "wbx");  // "x": fails when it exists
}

bool RenameOver(const std::filesystem::path& from, const std::filesystem::path& to) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status old = fs::status(to, ec);
  if (!ec && fs::is_regular_file(old)) {
    fs::permissions(from, old.permissions() & fs::perms::all, ec);
    if (ec) return false;
  }
  fs::rename(from, to, ec);
  return !ec;
}

}  // namespace savejpg
