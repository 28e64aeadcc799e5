// File access by name on Windows: paths arrive in the ANSI code page and are
// opened through the wide API, so any name that the code page holds works.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <string>

#include "system_file.h"

namespace savejpg {

std::filesystem::path PathFromSystemText(const char* text) {
  const int length = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length <= 1) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
  wide.pop_back();  // the NUL
  return std::filesystem::path(wide);
}

std::FILE* CreateNewFile(const std::filesystem::path& path) {
  // The C runtime's fopen knows no "x" mode here: CREATE_NEW gives the same
  // promise that no existing file is ever opened.
  const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    errno = (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) ? EEXIST : EACCES;
    return nullptr;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd == -1) {
    ::CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = ::_fdopen(fd, "wb");
  if (file == nullptr) ::_close(fd);  // closes the handle too
  return file;
}

bool RenameOver(const std::filesystem::path& from, const std::filesystem::path& to) {
  return ::MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace savejpg
