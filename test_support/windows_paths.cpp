#include "test_support/windows_paths.h"

#include <windows.h>

#include <cstdlib>
#include <system_error>

namespace morvane::test_support {
namespace {

namespace fs = std::filesystem;

// Wine's own export: a Unix path as a Windows one. Absent on Windows.
using DosFileName = wchar_t*(__cdecl*)(const char*);

DosFileName WineDosFileName() {
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return nullptr;
  void* found = reinterpret_cast<void*>(::GetProcAddress(kernel, "wine_get_dos_file_name"));
  return reinterpret_cast<DosFileName>(found);
}

bool UnderWine() { return WineDosFileName() != nullptr; }

}  // namespace

bool LongPathsEnabled() {
  if (UnderWine()) return true;
  DWORD enabled = 0;
  DWORD size = sizeof enabled;
  return ::RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\FileSystem",
                        L"LongPathsEnabled", RRF_RT_REG_DWORD, nullptr, &enabled,
                        &size) == ERROR_SUCCESS &&
         enabled == 1;
}

bool ThisProcessTakesLongPaths() {
  if (UnderWine()) return true;
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return false;
  using AreEnabled = BOOLEAN(WINAPI*)();
  void* found = reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlAreLongPathsEnabled"));
  return found != nullptr && reinterpret_cast<AreEnabled>(found)() != 0;
}

NetworkFolder::NetworkFolder() {
  if (UnderWine()) {
    MakeWineShare();
  } else {
    UseAdministrativeShare();
  }
  if (path_.empty()) return;
  if (!::CreateDirectoryW(path_.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    why_not_ = "cannot make a folder on the share: error " + std::to_string(::GetLastError());
    path_.clear();
  }
}

NetworkFolder::~NetworkFolder() {
  std::error_code ignored;
  if (!wine_server_.empty()) fs::remove_all(wine_server_, ignored);
}

void NetworkFolder::MakeWineShare() {
  const char* prefix = std::getenv("WINEPREFIX");
  const char* home = std::getenv("HOME");
  const std::string unix_prefix = prefix != nullptr && *prefix != '\0' ? prefix
                                  : home != nullptr ? std::string(home) + "/.wine"
                                                    : "";
  wchar_t* dos = unix_prefix.empty() ? nullptr : WineDosFileName()(unix_prefix.c_str());
  if (dos == nullptr) {
    why_not_ = "no Wine prefix to hold a share";
    return;
  }
  const fs::path dosdevices = fs::path(dos) / L"dosdevices";
  ::HeapFree(::GetProcessHeap(), 0, dos);
  const std::wstring server = L"morvane-test-" + std::to_wstring(::GetCurrentProcessId());
  wine_server_ = dosdevices / L"unc" / server;
  std::error_code error;
  fs::create_directories(wine_server_ / L"share", error);
  if (error) {
    why_not_ = "cannot make the share in the Wine prefix: " + error.message();
    return;
  }
  share_ = L"\\\\" + server + L"\\share";
  path_ = share_ + L"\\folder";
}

void NetworkFolder::UseAdministrativeShare() {
  const std::wstring local = local_.path().native();
  if (local.size() < 3 || local[1] != L':') {
    why_not_ = "the temporary folder has no drive letter";
    return;
  }
  share_ = std::wstring(L"\\\\localhost\\") + local[0] + L"$";
  if (::GetFileAttributesW((share_ + L"\\").c_str()) == INVALID_FILE_ATTRIBUTES) {
    why_not_ =
        "the administrative share is not reachable: error " + std::to_string(::GetLastError());
    share_.clear();
    return;
  }
  path_ = share_ + local.substr(2) + L"\\folder";
}

}  // namespace morvane::test_support
