// File access by name on Windows, always through the wide API: a path that
// SavetoJPEG takes in the ANSI code page reaches any name the code page
// holds, one that SavetoJPEGW takes in UTF-16 any name at all.
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

namespace {

// The open handle as a C stream in binary mode; the handle is closed when
// that fails.
std::FILE* StreamOf(HANDLE handle, int flags, const char* mode) {
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
  if (fd == -1) {
    ::CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = ::_fdopen(fd, mode);
  if (file == nullptr) ::_close(fd);  // closes the handle too
  return file;
}

// What a replaced file passes on to the file put in its place.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

}  // namespace

std::FILE* OpenRegularFile(const std::filesystem::path& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return nullptr;
  // Opening a device or a pipe never waits; its type refuses it before any
  // read could.
  const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    return nullptr;
  }
  return StreamOf(handle, _O_RDONLY, "rb");
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
  return StreamOf(handle, _O_WRONLY, "wb");
}

bool RenameOver(const std::filesystem::path& from, const std::filesystem::path& to) {
  const DWORD old = ::GetFileAttributesW(to.c_str());
  const bool replaces = old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_DIRECTORY) == 0;
  const DWORD kept = replaces ? old & kKeptAttributes : 0;
  if (kept != 0 && !::SetFileAttributesW(from.c_str(), kept)) return false;
  // The system refuses to replace a read-only file: its attribute is lifted
  // for the move, and put back if the move fails.
  const bool lifted = (kept & FILE_ATTRIBUTE_READONLY) != 0 &&
                      ::SetFileAttributesW(to.c_str(), old & ~FILE_ATTRIBUTE_READONLY);
  if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  if (lifted) ::SetFileAttributesW(to.c_str(), old);
  if (kept != 0) ::SetFileAttributesW(from.c_str(), FILE_ATTRIBUTE_NORMAL);  // removable again
  return false;
}

}  // namespace savejpg
