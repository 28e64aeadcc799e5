// Paths that a system may or may not reach, for the tests of names on a
// network share without a drive letter and of paths past 260 characters.
#pragma once

#include <filesystem>
#include <string>

#include "test_support/files.h"

namespace morvane::test_support {

// True under Wine, which takes long paths everywhere, and on Windows when
// the system has long paths enabled for long-path aware programs
// (LongPathsEnabled), as Morvane.exe declares itself.
bool LongPathsEnabled();

// True when this process may use paths past 260 characters without "\\?\":
// under Wine, or on Windows when the system enables them for this process
// (RtlAreLongPathsEnabled; test binaries do not declare themselves long-path
// aware).
bool ThisProcessTakesLongPaths();

// A folder reached by a network path ("\\server\share\..."), as Explorer
// hands over files of a share without a drive letter. Under Wine the share
// is a folder of the prefix, dosdevices\unc\server\share, which Wine takes
// for \\server\share; on Windows it is a temporary folder reached through
// its drive's administrative share (\\localhost\C$\...), which needs the
// rights to it.
class NetworkFolder {
 public:
  NetworkFolder();
  ~NetworkFolder();
  NetworkFolder(const NetworkFolder&) = delete;
  NetworkFolder& operator=(const NetworkFolder&) = delete;

  // The folder's network path without a final "\", or empty when no share
  // can be reached here; then why_not() says why.
  const std::wstring& path() const { return path_; }
  const std::string& why_not() const { return why_not_; }
  // The "\\server\share" part of path().
  const std::wstring& share() const { return share_; }

 private:
  void MakeWineShare();
  void UseAdministrativeShare();

  std::wstring path_;
  std::wstring share_;
  std::string why_not_;
  std::filesystem::path wine_server_;  // the server's folder in the prefix, removed at the end
  TempFolder local_;
};

}  // namespace morvane::test_support
