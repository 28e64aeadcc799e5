// The platform interfaces on Windows, through the Win32 API. Texts cross into
// the system as UTF-16 (the wide API) except where the program's rules ask
// for the ANSI code page: ToSystemText and FromSystemText.
#include <io.h>
#include <windows.h>
// After windows.h, which they need.
#include <knownfolders.h>
#include <shlobj.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/resume_next.h"
#include "platform/command_line_win32.h"
#include "platform/conventions.h"
#include "platform/platform.h"
#include "savejpg/system_memory.h"

namespace morvane {
namespace {

// The text as the wide API wants it, NUL-terminated. Throws StepFailure for a
// text holding a NUL, which the API would take as its end.
std::wstring Wide(std::u16string_view text) {
  if (text.find(u'\0') != std::u16string_view::npos) throw StepFailure("NUL in a path");
  return std::wstring(text.begin(), text.end());
}

std::u16string FromWide(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

[[noreturn]] void FailLookUp(std::u16string_view path, DWORD error) {
  throw StepFailure("cannot look up " + ToSystemText(path.substr(0, 64)) + ": error " +
                    std::to_string(error));
}

// The errors of FindFirstFileW that mean "no such entry". A name the system
// calls invalid names nothing either: Wine says so of a path that runs on
// below a file, Windows of a wildcard in a folder's name. Any other error
// (a drive that is not ready, no access, a name too long) means that the
// path could not be looked up at all.
bool MeansNotFound(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_NO_MORE_FILES:
    case ERROR_DIRECTORY:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return true;
    default:
      return false;
  }
}

// No path the system takes is longer, and no file system of Windows keeps a
// longer name: such a path cannot be looked up at all.
constexpr size_t kLongestPath = 32767;
constexpr size_t kLongestName = 255;

bool HoldsTooLongName(std::u16string_view path) {
  size_t length = 0;
  for (const char16_t ch : path) {
    length = ch == u'\\' || ch == u'/' ? 0 : length + 1;
    if (length > kLongestName) return true;
  }
  return false;
}

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (valid()) ::CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  // Closes now; false when closing reported an error.
  bool Close() {
    const bool closed = ::CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

std::u16string FolderOf(std::u16string_view path) {
  const size_t separator = path.rfind(kPathSeparator);
  if (separator == std::u16string_view::npos) return u".";
  return std::u16string(path.substr(0, separator));
}

std::u16string JoinPath(std::u16string folder, std::u16string_view name) {
  if (!folder.empty() && folder.back() != kPathSeparator) folder += kPathSeparator;
  folder += name;
  return folder;
}

}  // namespace

std::u16string ArgumentsAfterProgramName(std::u16string_view whole) {
  size_t at = 0;
  if (!whole.empty() && whole.front() == u'"') {
    const size_t closing = whole.find(u'"', 1);
    at = closing == std::u16string_view::npos ? whole.size() : closing + 1;
  } else {
    while (at < whole.size() && whole[at] != u' ' && whole[at] != u'\t') ++at;
  }
  while (at < whole.size() && (whole[at] == u' ' || whole[at] == u'\t')) ++at;
  return std::u16string(whole.substr(at));
}

std::string ToSystemText(std::u16string_view text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int size = static_cast<int>(text.size());
  // A character the code page lacks becomes its default character, never a
  // look-alike ("ö" is not "o"): a name must not come out as another file's.
  // UTF-8 as the ANSI code page has no look-alikes and takes no such flag.
  const DWORD flags = ::GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int length = ::WideCharToMultiByte(CP_ACP, flags, wide, size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, flags, wide, size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

std::u16string FromSystemText(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), length);
  return FromWide(wide);
}

std::optional<std::string> ToSystemTextExactly(std::u16string_view text) {
  if (text.empty()) return std::string();
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int size = static_cast<int>(text.size());
  // Without best fit, a character the code page lacks becomes the default
  // character and says so; UTF-8 as the code page takes neither the flag nor
  // the report, and refuses an unpaired surrogate instead.
  const bool utf8 = ::GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL defaulted = FALSE;
  BOOL* report = utf8 ? nullptr : &defaulted;
  const int length = ::WideCharToMultiByte(CP_ACP, flags, wide, size, nullptr, 0, nullptr, report);
  if (length <= 0 || defaulted) return std::nullopt;
  std::string narrow(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, flags, wide, size, narrow.data(), length, nullptr, report);
  if (defaulted) return std::nullopt;
  // The promise is the way back: the narrow text must read as `text` again.
  const int back = ::MultiByteToWideChar(CP_ACP, 0, narrow.data(), length, nullptr, 0);
  std::u16string again(static_cast<size_t>(back), u'\0');
  ::MultiByteToWideChar(CP_ACP, 0, narrow.data(), length, reinterpret_cast<wchar_t*>(again.data()),
                        back);
  if (again != text) return std::nullopt;
  return narrow;
}

std::u16string LookUpEntry(std::u16string_view path) {
  const std::wstring wide = Wide(path);
  if (wide.empty()) return {};
  // A path past 260 characters is looked up as it is: the system takes it
  // where long paths are enabled, as the program's manifest asks.
  if (wide.size() > kLongestPath || HoldsTooLongName(path)) {
    FailLookUp(path, ERROR_FILENAME_EXCED_RANGE);
  }
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileW(wide.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (MeansNotFound(error)) return {};
    FailLookUp(path, error);
  }
  ::FindClose(search);
  return FromWide(found.cFileName);
}

LookUpMemo::LookUpMemo() : previous_(nullptr) {}
LookUpMemo::~LookUpMemo() = default;

// The process heap keeps what it frees for reuse already.
bool KeepFreedMemoryForReuse() { return false; }

// The encoder library's own reading of the machine and the job's limits,
// compiled into this layer too (savejpg/system_memory_win32.cpp).
uint64_t PhysicalMemoryBytes() { return savejpg::MachineMemory(); }

uint64_t MemoryAvailableToProcess() { return savejpg::MemoryAvailable(); }

uint64_t MemoryEachThreadTakes() { return 0; }

std::optional<FileIdentity> IdentityOfFile(std::u16string_view path) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) return std::nullopt;
  // No access asked for: the file's attributes are read even where its
  // content may not be, and a folder opens too.
  FileHandle file(::CreateFileW(Wide(path).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file.valid() || !::GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber,
                      (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

std::u16string CurrentFolder() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0) throw StepFailure("cannot read the current folder");
    if (length < buffer.size()) {
      buffer.resize(length);
      return FromWide(buffer);
    }
    buffer.resize(length);
  }
}

std::u16string ExecutableFolder() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) throw StepFailure("cannot find the program's folder");
    if (length < buffer.size()) {
      buffer.resize(length);
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  const size_t separator = buffer.rfind(L'\\');
  if (separator == std::wstring::npos) throw StepFailure("program path has no folder");
  // A drive's root keeps its "\" ("C:\"), as the system writes it.
  const bool root = separator > 0 && buffer[separator - 1] == L':';
  buffer.resize(root ? separator + 1 : separator);
  return FromWide(buffer);
}

CommandLine ProcessCommandLine(int, const char* const*) {
  // The C runtime's argv has lost the quotes and the exact blanks, and went
  // through the ANSI code page: the program reads the line as Windows keeps it.
  const wchar_t* whole = ::GetCommandLineW();
  return ArgumentsAfterProgramName(whole == nullptr ? u"" : FromWide(whole));
}

bool EntryExists(std::u16string_view path) {
  try {
    return ::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  } catch (const StepFailure&) {
    return false;
  }
}

bool FolderWritable(std::u16string_view folder) {
  try {
    const DWORD attributes = ::GetFileAttributesW(Wide(folder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return false;
    }
    // Only creating a file tells: the folder's access rules, the user's
    // rights and a write-protected volume all decide. The probe goes when
    // its handle closes.
    const DWORD seed = ::GetTickCount() ^ (::GetCurrentProcessId() << 16);
    for (DWORD attempt = 0; attempt < 64; ++attempt) {
      const std::u16string name =
          u".morvane-probe-" + FromSystemText(std::to_string(seed + attempt)) + u".tmp";
      FileHandle probe(::CreateFileW(
          Wide(JoinPath(std::u16string(folder), name)).c_str(), GENERIC_WRITE, 0, nullptr,
          CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
      if (probe.valid()) return true;
      if (::GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
  } catch (const std::exception&) {
    return false;
  }
}

bool CreateFolderWithParents(std::u16string_view folder) {
  try {
    const std::u16string path(folder);
    if (path.empty()) return false;
    // Each parent in turn, then the folder itself. A drive ("C:") or a
    // network share ("\\server") cannot be made and is already there when
    // the folder can be; what failed shows in the last check.
    for (size_t separator = path.find(kPathSeparator, 1); separator != std::u16string::npos;
         separator = path.find(kPathSeparator, separator + 1)) {
      ::CreateDirectoryW(Wide(path.substr(0, separator)).c_str(), nullptr);
    }
    const std::wstring wide = Wide(path);
    ::CreateDirectoryW(wide.c_str(), nullptr);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  } catch (const std::exception&) {
    return false;
  }
}

std::optional<std::u16string> UserConfigFolder() {
  PWSTR known = nullptr;
  std::u16string folder;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &known))) {
    folder = FromWide(known);
  }
  ::CoTaskMemFree(known);
  if (folder.empty()) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
      const DWORD length =
          ::GetEnvironmentVariableW(L"APPDATA", buffer.data(), static_cast<DWORD>(buffer.size()));
      if (length < buffer.size()) {
        buffer.resize(length);
        break;
      }
      buffer.resize(length);  // the size needed, its NUL included
    }
    folder = FromWide(buffer);
  }
  while (folder.size() > 3 && folder.back() == kPathSeparator) folder.pop_back();
  if (folder.empty()) return std::nullopt;
  return folder;
}

std::vector<std::u16string> SystemConfigFolders() {
  PWSTR known = nullptr;
  std::u16string folder;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &known))) {
    folder = FromWide(known);
  }
  ::CoTaskMemFree(known);
  while (folder.size() > 3 && folder.back() == kPathSeparator) folder.pop_back();
  if (folder.empty()) return {};
  return {folder};
}

FileContent ReadWholeFile(std::u16string_view path, size_t max_bytes) {
  std::wstring wide;
  try {
    wide = Wide(path);
  } catch (const StepFailure&) {
    return {FileRead::kUnreadable, {}};
  }
  // A folder is refused before it is opened; a device or a pipe is opened
  // (that never waits) and refused by its type before anything is read.
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return {FileRead::kUnreadable, {}};
  }
  FileHandle file(::CreateFileW(wide.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    const DWORD error = ::GetLastError();
    const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return {missing ? FileRead::kMissing : FileRead::kUnreadable, {}};
  }
  LARGE_INTEGER size;
  if (::GetFileType(file.get()) != FILE_TYPE_DISK || !::GetFileSizeEx(file.get(), &size) ||
      static_cast<uint64_t>(size.QuadPart) > max_bytes) {
    return {FileRead::kUnreadable, {}};
  }

  std::string content;
  char chunk[65536];
  for (;;) {
    // The file may have grown since its size was read: one byte past the
    // limit is enough to know.
    const size_t left = max_bytes - content.size();
    const DWORD want = static_cast<DWORD>(left < sizeof chunk ? left + 1 : sizeof chunk);
    DWORD got = 0;
    if (!::ReadFile(file.get(), chunk, want, &got, nullptr)) return {FileRead::kUnreadable, {}};
    if (got == 0) break;
    content.append(chunk, got);
    if (content.size() > max_bytes) return {FileRead::kUnreadable, {}};
  }
  return {FileRead::kRead, std::move(content)};
}

FileStart ReadFileStart(std::u16string_view path, size_t count) {
  std::wstring wide;
  try {
    wide = Wide(path);
  } catch (const StepFailure&) {
    return {};
  }
  FileHandle file(::CreateFileW(wide.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid() || ::GetFileType(file.get()) != FILE_TYPE_DISK) return {};
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) return {};
  FileStart start{std::string(count, '\0'), static_cast<uint64_t>(size.QuadPart)};
  DWORD got = 0;
  if (!::ReadFile(file.get(), start.bytes.data(), static_cast<DWORD>(count), &got, nullptr))
    return {};
  start.bytes.resize(got);
  return start;
}

namespace {

// Links followed before a chain is taken for a loop.
constexpr int kMaxLinks = 32;

// A link's target read from its own data: the reparse point of the entry
// `link` itself, a symbolic link's substitute name, made absolute against
// the link's folder when it is relative. Nothing when `link` is not a
// symbolic link or its data cannot be read.
std::optional<std::wstring> SymbolicLinkTarget(const std::wstring& link) {
  FileHandle file(::CreateFileW(
      link.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) return std::nullopt;
  std::string data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE, '\0');
  DWORD got = 0;
  if (!::DeviceIoControl(file.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                         static_cast<DWORD>(data.size()), &got, nullptr)) {
    return std::nullopt;
  }
  // The symbolic link's data: its tag, then after 8 bytes the offset and
  // length in bytes of the substitute name, and after 16 its flags; the
  // names start at byte 20.
  constexpr size_t kNames = 20;
  if (got < kNames) return std::nullopt;
  auto read16 = [&](size_t at) {
    return static_cast<uint8_t>(data[at]) | static_cast<uint8_t>(data[at + 1]) << 8;
  };
  const uint32_t tag = static_cast<uint32_t>(read16(0)) | static_cast<uint32_t>(read16(2)) << 16;
  if (tag != IO_REPARSE_TAG_SYMLINK) return std::nullopt;
  const size_t offset = read16(8);
  const size_t length = read16(10);
  const bool relative = (read16(16) & SYMLINK_FLAG_RELATIVE) != 0;
  if (length % 2 != 0 || kNames + offset + length > got) return std::nullopt;
  std::wstring target(length / 2, L'\0');
  std::memcpy(target.data(), data.data() + kNames + offset, length);
  if (relative) {
    const size_t separator = link.rfind(L'\\');
    target = (separator == std::wstring::npos ? L"" : link.substr(0, separator + 1)) + target;
  } else if (target.rfind(L"\\??\\UNC\\", 0) == 0) {
    target.replace(0, 8, L"\\\\");  // the NT form of \\server\share
  } else if (target.rfind(L"\\??\\", 0) == 0) {
    target.erase(0, 4);  // the NT form of C:\...
  }
  return target;
}

// The file that writing to `path` writes, through its chain of symbolic
// links: an existing file as the system resolves its final path; a link
// whose file is missing, the path its chain ends in. `path` itself when it is
// no link or cannot be opened. Nothing for a chain that does not end.
std::optional<std::wstring> EndOfLinks(std::wstring path) {
  for (int link = 0; link <= kMaxLinks; ++link) {
    FileHandle file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (file.valid()) {
      std::wstring final_path(MAX_PATH, L'\0');
      DWORD length = ::GetFinalPathNameByHandleW(file.get(), final_path.data(),
                                                 static_cast<DWORD>(final_path.size()), 0);
      if (length >= final_path.size()) {
        final_path.resize(length);
        length = ::GetFinalPathNameByHandleW(file.get(), final_path.data(), length, 0);
      }
      if (length == 0 || length >= final_path.size()) return path;
      final_path.resize(length);
      return final_path;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return path;
    std::optional<std::wstring> target = SymbolicLinkTarget(path);
    if (!target) return path;
    path = std::move(*target);
  }
  return std::nullopt;
}

// The attributes a replaced file keeps: Explorer's "hidden", the system
// and archive flags, and indexing left out.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// A new file in `folder` holding `bytes`, flushed and closed, with
// `attributes`; its path, or nothing.
std::optional<std::wstring> WriteTemporaryFile(const std::u16string& folder, std::string_view bytes,
                                               DWORD attributes) {
  // A new name in the same folder, so that the move is a rename on one
  // volume; CREATE_NEW never opens a file that is already there.
  const DWORD seed = ::GetTickCount() ^ (::GetCurrentProcessId() << 16);
  for (DWORD attempt = 0; attempt < 64; ++attempt) {
    const std::u16string name =
        u".morvane-" + FromSystemText(std::to_string(seed + attempt)) + u".tmp";
    const std::wstring temp = Wide(JoinPath(folder, name));
    FileHandle file(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      if (::GetLastError() == ERROR_FILE_EXISTS) continue;
      return std::nullopt;
    }
    bool ok = WriteAll(file.get(), bytes) && ::FlushFileBuffers(file.get());
    ok = file.Close() && ok;
    ok = ok && (attributes == 0 || ::SetFileAttributesW(temp.c_str(), attributes));
    if (ok) return temp;
    ::DeleteFileW(temp.c_str());
    return std::nullopt;
  }
  return std::nullopt;
}

// Puts `temp` in the place of the existing file `target`, which keeps its
// identity as the system knows it: creation time, short name, access rules
// (where the file system has them and this user may set them) and
// attributes. False, with `target` as it was, when it cannot be.
bool ReplaceExistingFile(const std::wstring& target, const std::wstring& temp) {
  // ReplaceFileW opens the file this way; a file that another program holds
  // for itself is refused here, before anything is renamed (Wine would
  // leave a stray "rf*.tmp" behind otherwise).
  FileHandle check(::CreateFileW(target.c_str(), GENERIC_READ | DELETE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!check.valid()) return false;
  check.Close();
  if (::ReplaceFileW(target.c_str(), temp.c_str(), nullptr,
                     REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr,
                     nullptr)) {
    return true;
  }
  const DWORD error = ::GetLastError();
  // The old file is gone from its name already: the new one must take it,
  // or stay where it is rather than be lost.
  if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
    return ::MoveFileExW(temp.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }
  ::DeleteFileW(temp.c_str());
  return false;
}

}  // namespace

bool ReplaceFileAtomically(std::u16string_view path, std::string_view bytes) {
  try {
    const std::optional<std::wstring> found = EndOfLinks(Wide(path));
    if (!found) return false;
    const std::wstring& target = *found;
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    // A folder is no file to replace, and a read-only file says it is not
    // to be written.
    if (exists && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
      return false;
    }
    const std::optional<std::wstring> temp = WriteTemporaryFile(
        FolderOf(FromWide(target)), bytes, exists ? attributes & kKeptAttributes : 0);
    if (!temp) return false;
    if (exists) return ReplaceExistingFile(target, *temp);
    const bool moved = ::MoveFileExW(temp->c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
    if (!moved) ::DeleteFileW(temp->c_str());
    return moved;
  } catch (const std::exception&) {
    return false;
  }
}

void* OpenLibraryInProgramFolder(std::u16string_view file_name) {
  try {
    const std::wstring full = Wide(JoinPath(ExecutableFolder(), file_name));
    return reinterpret_cast<void*>(::LoadLibraryW(full.c_str()));
  } catch (const StepFailure&) {
    return nullptr;
  }
}

void* FindEntryPoint(void* library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

bool StandardErrorIsTerminal() {
  // A program of the window system has no console of its own; standard
  // error is a console only when one was handed down to it.
  return _isatty(_fileno(stderr)) != 0;
}

void WriteToStandardError(std::u16string_view text) {
  const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  std::u16string lines;
  for (const char16_t unit : text) {
    if (unit == u'\n') lines += u'\r';
    lines += unit;
  }
  DWORD mode = 0;
  DWORD written = 0;
  if (::GetConsoleMode(handle, &mode)) {
    const std::wstring wide(lines.begin(), lines.end());
    ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  const std::string bytes = ToSystemText(lines);
  // A pipe may take part of it at a time.
  for (size_t done = 0; done < bytes.size(); done += written) {
    if (!::WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written,
                     nullptr) ||
        written == 0) {
      return;
    }
  }
}

bool DisplayNamed() { return true; }  // Windows always has its desktop

}  // namespace morvane
