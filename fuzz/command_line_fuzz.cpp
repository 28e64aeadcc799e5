// Fuzz target for the command line. The bytes are the command line twice
// over: as one text, as Windows hands it over, and cut at each NUL byte into
// a list of arguments, as POSIX systems hand it over. Splits each into names
// and expands every name to its long form, looking them up in a small fixed
// tree that is made once and then only read.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/text.h"
#include "filelist/command_line.h"
#include "filelist/file_path.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

// Command lines longer than this say nothing new and make every run slow.
constexpr size_t kLongestCommandLine = 4096;

void Check(bool holds) {
  if (!holds) std::abort();
}

// A tree with folders and names in several letter cases, blanks and dots,
// made the first time; the seeds name it. Runs side by side make the same
// tree. (The current folder stays as it is: libFuzzer's folders may be
// relative to it.)
void MakeLookUpTree() {
  static const bool made = [] {
    const fs::path root = "/tmp/morvane-command-line-fuzz";
    for (const char* folder : {"Pics", "pics", "My Pictures", "V1.0", "Pics/Deep/Er"}) {
      fs::create_directories(root / folder);
    }
    for (const char* file :
         {"A.BMP", "Pics/a.bmp", "Pics/B.BMP", "My Pictures/Cat.BMP", "V1.0/A.BMP",
          "Pics/Deep/Er/X.BMP", "Pics/caf\xe9.BMP", "Pics/\x83\x7d\x83\x8b.BMP", "README"}) {
      std::ofstream(root / file) << "BM";
    }
    return true;
  }();
  (void)made;
}

bool StartsWithSeparator(std::u16string_view text) { return !text.empty() && text[0] == u'/'; }

bool EndsWithBitmapExtension(std::u16string_view name) {
  return name.size() >= 4 && morvane::EqualIgnoringAsciiCase(name.substr(name.size() - 4), u".BMP");
}

// The names of `list` and their long forms hold together.
void CheckFileList(const morvane::FileList& list) {
  Check(list.FileCount >= 0);
  const auto count = static_cast<size_t>(list.FileCount);
  Check(list.ScannedNames.size() > count && list.NameTails.size() > count);

  for (size_t n = 1; n <= count; ++n) {
    const std::u16string& name = list.ScannedNames[n];
    Check(name.empty() || EndsWithBitmapExtension(name));
    Check(list.NameTails[n].empty() || StartsWithSeparator(list.NameTails[n]));
    std::u16string long_form;
    try {
      long_form = morvane::FPath(name);
    } catch (const std::exception&) {
      continue;  // a path that cannot be looked up at all fails its step
    }
    if (long_form.empty()) continue;
    // The long form is absolute, and it is its own long form.
    Check(StartsWithSeparator(long_form));
    Check(morvane::FPath(long_form) == long_form);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kLongestCommandLine) return 0;
  MakeLookUpTree();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  CheckFileList(morvane::SplitCommandLine(morvane::FromSystemText(bytes)));

  // Each argument is a name as it stands: the names are the arguments that
  // end in ".BMP", in their order.
  std::vector<std::u16string> arguments;
  for (size_t start = 0; start <= size;) {
    const size_t end = std::min(bytes.find('\0', start), size);
    arguments.push_back(morvane::FromSystemText(bytes.substr(start, end - start)));
    start = end + 1;
  }
  const morvane::FileList list = morvane::SplitCommandLine(arguments);
  CheckFileList(list);
  std::vector<std::u16string> expected{std::u16string()};
  for (const std::u16string& argument : arguments) {
    if (EndsWithBitmapExtension(argument)) expected.push_back(argument);
  }
  Check(std::vector<std::u16string>(list.ScannedNames.begin(),
                                    list.ScannedNames.begin() + list.FileCount + 1) == expected);
  return 0;
}
