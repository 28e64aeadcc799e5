// The platform interfaces on Windows, through the Win32 API. Texts cross into
// the system as UTF-16 (the wide API) except where the program's rules ask
// for the ANSI code page: ToSystemText and FromSystemText.
#include <io.h>
#include <windows.h>
// After windows.h, which they need.
#include <knownfolders.h>
#include <psapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include "core/resume_next.h"
#include "platform/command_line_win32.h"
#include "platform/conventions.h"
#include "platform/platform.h"

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
  const int length = ::WideCharToMultiByte(CP_ACP, 0, wide, size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide, size, narrow.data(), length, nullptr, nullptr);
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

std::u16string LookUpEntry(std::u16string_view path) {
  const std::wstring wide = Wide(path);
  if (wide.empty()) return {};
  // Without the "\\?\" form the system takes no longer path; it would
  // report such a path as not found.
  if (wide.size() >= MAX_PATH) FailLookUp(path, ERROR_FILENAME_EXCED_RANGE);
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

uint64_t PhysicalMemoryBytes() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

uint64_t MemoryAvailableToProcess() {
  uint64_t least = PhysicalMemoryBytes();
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  const uint64_t committed =
      ::K32GetProcessMemoryInfo(::GetCurrentProcess(),
                                reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                sizeof counters)
          ? counters.PrivateUsage
          : 0;
  // The job this process is in, if any; its limits count committed memory.
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION job{};
  if (::QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &job, sizeof job,
                                  nullptr)) {
    const DWORD flags = job.BasicLimitInformation.LimitFlags;
    for (const auto& [flag, limit] :
         {std::pair{JOB_OBJECT_LIMIT_PROCESS_MEMORY, job.ProcessMemoryLimit},
          std::pair{JOB_OBJECT_LIMIT_JOB_MEMORY, job.JobMemoryLimit}}) {
      if ((flags & flag) == 0) continue;
      const uint64_t left = limit > committed ? limit - committed : 1;
      least = least == 0 ? left : std::min<uint64_t>(least, left);
    }
  }
  return least;
}

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

std::u16string CommandLineText(int, const char* const*) {
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

std::string ReadFileStart(std::u16string_view path, size_t count) {
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
  std::string start(count, '\0');
  DWORD got = 0;
  if (!::ReadFile(file.get(), start.data(), static_cast<DWORD>(count), &got, nullptr)) return {};
  start.resize(got);
  return start;
}

bool ReplaceFileAtomically(std::u16string_view path, std::string_view bytes) {
  try {
    const std::wstring target = Wide(path);
    const std::u16string folder = FolderOf(path);
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
        return false;
      }
      bool ok = WriteAll(file.get(), bytes) && ::FlushFileBuffers(file.get());
      ok = file.Close() && ok;
      ok = ok && ::MoveFileExW(temp.c_str(), target.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
      if (!ok) ::DeleteFileW(temp.c_str());
      return ok;
    }
    return false;
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

bool DisplayNamed() { return true; }  // Windows always has its desktop

}  // namespace morvane
