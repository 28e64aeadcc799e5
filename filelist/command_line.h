// Splitting of the command line into the bitmap names to convert, with the
// tail (last component of the long form) of each name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace morvane {

// The names found on a command line. Index 0 of both tables is never used;
// the names sit at indices 1 to FileCount, and both tables hold at least
// FileCount + 1 entries.
struct FileList {
  // The names as they stood on the command line, each ending in ".BMP" in
  // any letter case.
  std::vector<std::u16string> ScannedNames;
  // For each name, the last component of FPath(name) with its "/", however
  // long; empty when that failed (for example because the name does not
  // exist).
  std::vector<std::u16string> NameTails;
  int64_t FileCount = 0;
};

// Cuts `command_line` into the names of the bitmaps to convert. ".BMP" is
// matched ignoring the letter case of its ASCII letters; names with any
// other extension are thrown away and leave no gap in the numbering.
//
// A list of arguments (POSIX systems): each argument is one whole name,
// taken when it ends in ".BMP".
//
// One text (Windows), in one left-to-right pass:
// - A double quote opens a quoted name, which runs to the next double quote
//   (or to the end of the text when none follows). The text between is one
//   whole name, blanks and dots kept, taken when it ends in ".BMP"; the
//   quotes are part of no name. The closing quote and one blank after it
//   end the name; a second blank begins the next name, as between unquoted
//   names.
// - A quoted name must stand apart: when a quote is joined to other text (a
//   character other than a blank right before the opening quote or right
//   after the closing one), the quoted name and the unquoted name it is
//   joined to are thrown away, so that no piece of a name is taken for a
//   name of its own.
// - Unquoted text: a "." opens an extension, a blank inside an extension
//   ends the name, which is kept when its extension is ".BMP" and thrown
//   away otherwise; a blank anywhere else belongs to the name, so a second
//   blank between names begins the next one. Text between a name's first
//   "." and the "." of its final ".BMP" is lost (V1.0\A.BMP gives V1.BMP).
//   An opening quote ends the unquoted name being gathered, which has then
//   no complete ".BMP" and is thrown away.
// Only the space character is a blank.
//
// Every name kept is looked up in the file system as soon as it is
// complete, to record its tail. Result: the names, their tails and their
// count. Never throws: a step that fails (a look-up that cannot be made) is
// abandoned and leaves its tail empty.
FileList SplitCommandLine(const CommandLine& command_line);

}  // namespace morvane
