// Splitting of the command line into the bitmap names to convert, with the
// tail (last component of the long form) of each name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// The names found on a command line. Index 0 of both tables is never used;
// the names sit at indices 1 to FileCount, and both tables hold at least
// FileCount + 1 entries.
struct FileList {
  // The names as they stood on the command line, each ending in ".BMP".
  std::vector<std::u16string> ScannedNames;
  // For each name, the last component of FPath(name) with its "/", however
  // long; empty when that failed (for example because the name does not
  // exist).
  std::vector<std::u16string> NameTails;
  int64_t FileCount = 0;
};

// Cuts `command_line` into names in one left-to-right pass without quoting:
// a "." opens an extension, a blank inside an extension ends the name, which
// is kept when its extension is exactly ".BMP" and thrown away otherwise; a
// blank anywhere else belongs to the name. Text between a name's first "."
// and the "." of its final ".BMP" is lost. Every name kept is looked up in
// the file system as soon as it is complete, to record its tail.
// Result: the names, their tails and their count. Never throws: a step that
// fails (a look-up that cannot be made) is abandoned and leaves its tail
// empty.
FileList SplitCommandLine(std::u16string_view command_line);

}  // namespace morvane
