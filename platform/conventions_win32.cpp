// Paths and library names on Windows.
#include <windows.h>

#include <string>

#include "core/resume_next.h"
#include "platform/conventions.h"

namespace morvane {
namespace {

bool IsSlash(char16_t ch) { return ch == u'\\' || ch == u'/'; }

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
const std::u16string_view kHowNamesArrive =
    u"  \"\" で囲んだ名前は空白やピリオドを含めてそのまま使います。\n"
    u"  A name in double quotes is taken whole, blanks and dots included.\n";
const std::u16string_view kSystemHelpSwitch = u"/?";

size_t DrivePartLength(std::u16string_view path) {
  const size_t colon = path.find(u':');
  return colon == std::u16string_view::npos ? 0 : colon + 1;
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
