// How this system writes paths and names its libraries: the separator of
// path components, the drive part that starts a path, making a relative
// path absolute, when two file names name one file, the file names of the
// encoder library and of the program, the text its encoder takes paths in,
// and how its programs are asked for their usage. Each system defines them in its own
// conventions_*.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace morvane {

// The separator of path components: "/" on POSIX systems, "\" on Windows.
// Any other character, "/" on Windows included, is part of a name.
extern const char16_t kPathSeparator;

// The length of the drive part at the start of `path`, which the long form
// of a path keeps as it is; always 0 on POSIX systems, where paths have no
// drive part. On Windows:
// - a network path "\\server\share\..." gives its server and share,
//   "\\server\share" (the whole path when nothing follows the share);
// - "\\?\UNC\server\share\..." (or "\\.\UNC\...") the same with its prefix;
// - any other path everything before and including its first ":" ("C:"
//   gives 2, "\\?\C:" 6), or 0 when it holds no ":".
size_t DrivePartLength(std::u16string_view path);

// `path` when it is absolute (or empty), otherwise `path` taken against the
// current folder. On POSIX systems the current folder, a "/" and the path;
// on Windows what GetFullPathNameW makes of it. Throws StepFailure when the
// current folder cannot be read or the path cannot be made absolute.
std::u16string MakeAbsolute(std::u16string_view path);

// A key for the file name `name` under this system's rule for letter case
// in names: two names that one folder takes for one file have the same key.
// On POSIX systems ASCII letters in lower case (most of their file systems
// tell letter case apart; the key errs towards one file). On Windows the
// file system's own upper case of every character (LCMapStringEx without
// linguistic casing, the rule of NTFS and of CompareStringOrdinal ignoring
// case): "ＡＢＣ" and "ａｂｃ", "É" and "é" share a key, "schön" and
// "schon" do not. Never fails: a text the system cannot map gets its ASCII
// letters in upper case.
std::u16string FileNameCaseKey(std::u16string_view name);

// The file name of the encoder library that lies in the program's folder:
// libSaveJPG.so on POSIX systems, SaveJPG.DLL on Windows.
extern const std::u16string_view kEncoderLibraryFileName;

// True when the program hands the encoder its paths in UTF-16, through the
// entry point SavetoJPEGW (on Windows, whose narrow text, the ANSI code
// page, cannot hold every name); false when in the system's narrow text
// through SavetoJPEG (UTF-8 on POSIX systems).
extern const bool kEncoderTakesUtf16Paths;

// The file name of the window module that lies in the program's folder and
// is opened when something must be shown on a display: libmorvane-qt.so on
// POSIX systems; empty on Windows, where the window is part of the program.
extern const std::u16string_view kDesktopModuleFileName;

// The program's file name as its users type it: "morvane" on POSIX
// systems, "Morvane.exe" on Windows.
extern const std::u16string_view kProgramFileName;

// The switch that asks this system's programs for their usage besides
// "--help": "/?" on Windows; empty on POSIX systems, where "/?" is a path.
extern const std::u16string_view kSystemHelpSwitch;

}  // namespace morvane
