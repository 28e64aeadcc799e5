// How this system writes paths and names its libraries: the separator of
// path components, the drive part that starts a path, making a relative
// path absolute, the file names of the encoder library and of the program,
// how names arrive on its command line, and how its programs are asked for
// their usage. Each system
// defines them in its own conventions_*.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace morvane {

// The separator of path components: "/" on POSIX systems, "\" on Windows.
// Any other character, "/" on Windows included, is part of a name.
extern const char16_t kPathSeparator;

// The length of the drive part at the start of `path`, which the long form
// of a path keeps as it is: on Windows everything before and including the
// first ":" ("C:" gives 2), or 0 when the path holds no ":"; always 0 on
// POSIX systems, where paths have no drive part.
size_t DrivePartLength(std::u16string_view path);

// `path` when it is absolute (or empty), otherwise `path` taken against the
// current folder. On POSIX systems the current folder, a "/" and the path;
// on Windows what GetFullPathNameW makes of it. Throws StepFailure when the
// current folder cannot be read or the path cannot be made absolute.
std::u16string MakeAbsolute(std::u16string_view path);

// The file name of the encoder library that lies in the program's folder:
// libSaveJPG.so on POSIX systems, SaveJPG.DLL on Windows.
extern const std::u16string_view kEncoderLibraryFileName;

// The file name of the window module that lies in the program's folder and
// is opened when something must be shown on a display: libmorvane-qt.so on
// POSIX systems; empty on Windows, where the window is part of the program.
extern const std::u16string_view kDesktopModuleFileName;

// The program's file name as its users type it: "morvane" on POSIX
// systems, "Morvane.exe" on Windows.
extern const std::u16string_view kProgramFileName;

// How this system hands names to the program, as the usage tells it: lines
// in Japanese and in English, each indented by two blanks and ending in LF.
extern const std::u16string_view kHowNamesArrive;

// The switch that asks this system's programs for their usage besides
// "--help": "/?" on Windows; empty on POSIX systems, where "/?" is a path.
extern const std::u16string_view kSystemHelpSwitch;

}  // namespace morvane
