#include "filelist/file_path.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include "core/step_failure.h"
#include "core/text.h"
#include "platform/conventions.h"
#include "platform/platform.h"

namespace morvane {
namespace {

// The search position of the long-form walk is a 16-bit signed number, so a
// separator further along cannot be reached.
constexpr size_t kLastSearchablePosition = 32767;

// The longest tail FileName counts through: its counter is an unsigned byte
// that runs from 1 to 255.
constexpr size_t kLongestTail = 255;

// The look-up of the whole path, unless it names the folder itself (".");
// then nothing is appended for it.
void AppendLastComponent(std::u16string_view path, std::u16string& long_form) {
  if (LookUpEntry(path) == u".") return;
  long_form += kPathSeparator;
  long_form += LookUpEntry(path);
}

}  // namespace

std::u16string FPath(std::u16string_view path_as_given) {
  // A relative name is taken against the current folder, so that a file
  // named on the command line without its folder is found where the user
  // sees it.
  const std::u16string path = MakeAbsolute(path_as_given);
  if (LookUpEntry(path).empty()) return {};

  // The long form starts as the drive part ("C:", or empty where paths have
  // none), and the search skips the separator that follows it: the root's
  // own separator is not the end of a folder's name.
  const size_t drive_length = DrivePartLength(path);
  std::u16string long_form = path.substr(0, drive_length);
  size_t search_index = drive_length + 1;
  for (;;) {
    const size_t separator = path.find(kPathSeparator, search_index);
    if (separator == std::u16string::npos) break;
    if (separator + 1 > kLastSearchablePosition) {
      throw StepFailure("separator past the reach of the path walk");
    }
    // A run of separators ends one component: the prefix before a second
    // separator would look up the folder before it once more.
    if (path[separator - 1] != kPathSeparator) {
      long_form += kPathSeparator;
      long_form += LookUpEntry(std::u16string_view(path).substr(0, separator));
    }
    search_index = separator + 1;
  }
  AppendLastComponent(path, long_form);

  if (LookUpEntry(long_form).empty()) return {};
  return long_form;
}

std::u16string FileName(std::u16string_view path) {
  const size_t reach = path.size() < kLongestTail ? path.size() : kLongestTail;
  return LastComponent(path.substr(path.size() - reach));
}

std::u16string LastComponent(std::u16string_view path) {
  const size_t separator = path.rfind(kPathSeparator);
  if (separator == std::u16string_view::npos) throw StepFailure("no separator in the path");
  return std::u16string(path.substr(separator));
}

std::u16string WithoutExtension(std::u16string_view path) {
  constexpr size_t kExtensionLength = 4;
  if (path.size() < kExtensionLength) throw StepFailure("path too short for an extension");
  const size_t keep = path.size() - kExtensionLength;
  const std::u16string trimmed = TrimBlanks(path);
  return trimmed.substr(0, std::min(keep, trimmed.size()));
}

}  // namespace morvane
