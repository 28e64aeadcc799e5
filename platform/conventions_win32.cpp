// Paths and library names on Windows.
#include <windows.h>

#include <string>

#include "core/resume_next.h"
#include "core/text.h"
#include "platform/conventions.h"

namespace morvane {
namespace {

bool IsSlash(char16_t ch) { return ch == u'\\' || ch == u'/'; }

// Where the component that starts at `from` ends: at the next "\" or at the
// end of the path.
size_t ComponentEnd(std::u16string_view path, size_t from) {
  const size_t separator = path.find(u'\\', from);
  return separator == std::u16string_view::npos ? path.size() : separator;
}

// The end of "server\share" when the server's name starts at `server`.
size_t ShareEnd(std::u16string_view path, size_t server) {
  const size_t server_end = ComponentEnd(path, server);
  return server_end == path.size() ? server_end : ComponentEnd(path, server_end + 1);
}

// "\\?\" or "\\.\" starts a path handed to the system as it is: a drive
// ("\\?\C:\..."), a network path ("\\?\UNC\server\share\...") or a device.
bool IsDevicePath(std::u16string_view path) {
  return path.size() >= 4 && path.substr(0, 2) == u"\\\\" && (path[2] == u'?' || path[2] == u'.') &&
         path[3] == u'\\';
}

char16_t AsciiUpper(char16_t ch) {
  return ch >= u'a' && ch <= u'z' ? static_cast<char16_t>(ch - u'a' + u'A') : ch;
}

// Absolute as Windows has it: "C:\..." or a network path "\\server\...".
// A path rooted without its drive ("\PICS") counts as well: it already names
// one place on the current drive, so it is not a relative name.
bool IsAbsolute(std::u16string_view path) {
  if (!path.empty() && IsSlash(path.front())) return true;
  return path.size() >= 3 && path[1] == u':' && IsSlash(path[2]);
}

}  // namespace

const char16_t kPathSeparator = u'\\';

const std::u16string_view kEncoderLibraryFileName = u"SaveJPG.DLL";
const std::u16string_view kDesktopModuleFileName = u"";
const std::u16string_view kProgramFileName = u"Morvane.exe";
const std::u16string_view kSystemHelpSwitch = u"/?";
const bool kEncoderTakesUtf16Paths = true;

size_t DrivePartLength(std::u16string_view path) {
  if (IsDevicePath(path)) {
    constexpr std::u16string_view kNetwork = u"UNC\\";
    const std::u16string_view rest = path.substr(4);
    if (rest.size() >= kNetwork.size() &&
        EqualIgnoringAsciiCase(rest.substr(0, kNetwork.size()), kNetwork)) {
      return ShareEnd(path, 4 + kNetwork.size());
    }
  } else if (path.substr(0, 2) == u"\\\\") {
    return ShareEnd(path, 2);
  }
  const size_t colon = path.find(u':');
  return colon == std::u16string_view::npos ? 0 : colon + 1;
}

std::u16string FileNameCaseKey(std::u16string_view name) {
  std::u16string key(name);
  if (name.empty()) return key;
  // Without LCMAP_LINGUISTIC_CASING the upper case is the file system's,
  // one unit for one unit, the same on every locale.
  const auto* in = reinterpret_cast<const wchar_t*>(name.data());
  auto* out = reinterpret_cast<wchar_t*>(key.data());
  const int size = name.size() < 0x7FFFFFFF ? static_cast<int>(name.size()) : 0;
  if (size > 0 && ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, in, size, out, size,
                                  nullptr, nullptr, 0) == size) {
    return key;
  }
  key = name;
  for (char16_t& ch : key) ch = AsciiUpper(ch);
  return key;
}

std::u16string MakeAbsolute(std::u16string_view path) {
  if (path.empty() || IsAbsolute(path)) return std::u16string(path);
  if (path.find(u'\0') != std::u16string_view::npos) throw StepFailure("NUL in a path");
  const std::wstring relative(path.begin(), path.end());
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetFullPathNameW(relative.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) throw StepFailure("cannot make a path absolute");
    if (length < full.size()) {
      full.resize(length);
      return std::u16string(full.begin(), full.end());
    }
    full.resize(length);  // the size needed, its NUL included
  }
}

}  // namespace morvane
