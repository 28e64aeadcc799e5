// The operating system as the program sees it: texts crossing into the
// system, the directory look-up, the executable's folder, the command line,
// whole-file reads and atomic replacement, and libraries that lie in the
// program's own folder. Everything here names no OS type; the POSIX version
// lives in platform_posix.cpp, the Windows one in platform_win32.cpp.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace morvane {

// UTF-16 -> the system's narrow text (UTF-8; the ANSI code page on
// Windows, where a character it lacks becomes its default character).
// Unpaired surrogates become U+FFFD.
std::string ToSystemText(std::u16string_view text);

// The system's narrow text (UTF-8; the ANSI code page on Windows) ->
// UTF-16. Invalid sequences become U+FFFD.
std::u16string FromSystemText(std::string_view text);

// The directory look-up. `path` names a file or a folder, "/" separating
// components. Every component is matched the way Windows matches it: an
// exact name first, otherwise the first entry of that folder whose name is
// equal ignoring letter case. Gives the last component's name as the file
// system keeps it, or the empty text when nothing matches. The root "/"
// gives "/". Throws StepFailure when the path cannot be looked up at all
// (an embedded NUL, a name too long, an I/O error).
// On Windows: FindFirstFileW on the path, "\" separating components, with
// the system's own matching (letter case ignored, short 8.3 names, wildcards)
// and the entry's long name as the result.
std::u16string LookUpEntry(std::u16string_view path);

// The current folder, absolute.
std::u16string CurrentFolder();

// The folder that holds the running executable, links resolved, without a
// final "/" (except for the root itself).
std::u16string ExecutableFolder();

// The arguments after the program's own name, joined by one blank each. On
// Windows `argc` and `argv` are not used: the text after the program's name
// in GetCommandLineW, as ArgumentsAfterProgramName gives it.
std::u16string CommandLineText(int argc, const char* const* argv);

// The whole content of a file, or nothing when it cannot be read.
std::optional<std::string> ReadWholeFile(std::u16string_view path);

// Writes `bytes` to a temporary file in the folder of `path` and renames it
// over `path`. Returns false (and leaves `path` as it was) on any failure.
[[nodiscard]] bool ReplaceFileAtomically(std::u16string_view path, std::string_view bytes);

// A library in the executable's folder, opened by its file name with its
// full path (never a search path). Returns nullptr when it cannot be opened.
void* OpenLibraryInProgramFolder(std::u16string_view file_name);

// An entry point of a library opened above; nullptr when it lacks it.
void* FindEntryPoint(void* library, const char* name);

// True when the environment names a graphical display (X11 or Wayland).
// Whether a window can really be shown is decided by the window module.
bool DisplayNamed();

}  // namespace morvane
