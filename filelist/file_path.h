// Path helpers of the batch conversion: the long form of a path as the file
// system keeps it (`FPath`) and the last component of a path (`FileName`).
// Paths separate their components with the system's separator
// (kPathSeparator: "/" on POSIX systems, "\" on Windows); positions and
// lengths count 16-bit units.
#pragma once

#include <string>
#include <string_view>

namespace morvane {

// The long form of `path`: its drive part ("C:" on Windows) as it is, then
// every component replaced by the name the file system keeps for it (long
// name, stored letter case). Several separators in a row separate two
// components as one does, and stand as one in the long form. A relative
// path is first made absolute against the current folder; an empty path
// names nothing.
// Result: the long form, or the empty text when the path, or the long form
// built from it, is not found.
// Failures: throws StepFailure when a look-up cannot be made (see
// LookUpEntry) or a separator lies past position 32767.
std::u16string FPath(std::u16string_view path);

// The last component of `path` with the separator in front of it:
// "/Picture 1.jpg" for "/pics/Picture 1.jpg" ("\Picture 1.jpg" for
// "C:\pics\Picture 1.jpg" on Windows), the separator alone for a path ending
// in one.
// Failures: throws StepFailure when no separator lies among the last 255
// characters (the empty text and texts without a separator included).
std::u16string FileName(std::u16string_view path);

// The last component of `path` with the separator in front of it, as
// FileName gives it but however far from the end that separator stands.
// Failures: throws StepFailure when the path holds no separator (the empty
// text included).
std::u16string LastComponent(std::u16string_view path);

// `path` without its blanks at either end, cut to the length the untrimmed
// path has minus 4: its extension goes, whatever its letter case.
// Failures: throws StepFailure for a path shorter than 4 characters.
std::u16string WithoutExtension(std::u16string_view path);

}  // namespace morvane
