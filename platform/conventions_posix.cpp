// Paths and library names on Linux and other POSIX systems.
#include "core/text.h"
#include "platform/conventions.h"
#include "platform/platform.h"

namespace morvane {

const char16_t kPathSeparator = u'/';

const std::u16string_view kEncoderLibraryFileName = u"libSaveJPG.so";
const std::u16string_view kDesktopModuleFileName = u"libmorvane-qt.so";
const std::u16string_view kProgramFileName = u"morvane";
const std::u16string_view kSystemHelpSwitch = u"";
const bool kEncoderTakesUtf16Paths = false;

size_t DrivePartLength(std::u16string_view) { return 0; }

std::u16string FileNameCaseKey(std::u16string_view name) {
  std::u16string key(name);
  for (char16_t& ch : key) ch = AsciiLower(ch);
  return key;
}

std::u16string MakeAbsolute(std::u16string_view path) {
  if (path.empty() || path.front() == kPathSeparator) return std::u16string(path);
  std::u16string absolute = CurrentFolder();
  if (absolute.empty() || absolute.back() != kPathSeparator) absolute += kPathSeparator;
  absolute += path;
  return absolute;
}

}  // namespace morvane
