// The operating system as the program sees it: texts crossing into the
// system, the directory look-up, the executable's folder, the command line,
// whole-file reads and atomic replacement, the folders a user may write and
// their own settings folder, and libraries that lie in the
// program's own folder. Everything here names no OS type; the POSIX version
// lives in platform_posix.cpp, the Windows one in platform_win32.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace morvane {

// The system's narrow text is UTF-8, but a name on disk or a line of a file
// may hold any bytes (Shift-JIS names as unzip leaves them, a Latin-1
// comment). Each byte 0x80 + k that is not part of valid UTF-8 is carried as
// the one unit U+DC80 + k, so every byte string comes back unchanged through
// FromSystemText and then ToSystemText.

// UTF-16 -> the system's narrow text (UTF-8; on Windows the ANSI code page,
// where a character it lacks becomes its default character, never a
// look-alike: no best fit). A unit U+DC80-U+DCFF that is
// not the second half of a surrogate pair becomes the byte it carries; any
// other unpaired surrogate becomes U+FFFD (EF BF BD).
std::string ToSystemText(std::u16string_view text);

// The system's narrow text (UTF-8) -> UTF-16. Each byte that is not part of
// a valid UTF-8 sequence becomes one unit U+DC80-U+DCFF; an overlong form, an
// encoded surrogate (ED A0 80) or a value past U+10FFFF is not valid, nor is
// a cut sequence, so each of their bytes is carried that way.
std::u16string FromSystemText(std::string_view text);

// UTF-16 -> the system's narrow text, only when that text converts back
// (FromSystemText) to exactly `text`: nothing is substituted, best-fitted or
// dropped. Nothing when it would not: on Windows a character the ANSI code
// page lacks ("ö" or Korean on code page 932) or an unpaired surrogate; on
// Linux an unpaired surrogate outside U+DC80-U+DCFF, or carried bytes that
// together would read back as another character.
std::optional<std::string> ToSystemTextExactly(std::u16string_view text);

// UTF-8 on every system, whatever the system's narrow text is: the
// conversions that ToSystemText, FromSystemText and ToSystemTextExactly are
// on Linux, bytes that are not UTF-8 carried the same way.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);
std::optional<std::string> ToUtf8Exactly(std::u16string_view text);

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

// While one lives on a thread, LookUpEntry on that thread remembers the
// folders it has listed and the paths it has resolved, and answers again
// from them: looking up many names in one folder, or every prefix of a deep
// path, then costs about one look-up each. What it answers is what it would
// have found when it first looked, so open one only over look-ups between
// which nothing that they could name is created, removed or renamed (the
// batch's look-ups before its conversions). On Windows it changes nothing.
class LookUpMemo {
 public:
  LookUpMemo();
  ~LookUpMemo();
  LookUpMemo(const LookUpMemo&) = delete;
  LookUpMemo& operator=(const LookUpMemo&) = delete;

 private:
  void* previous_;  // the memo it hides while it lives, restored after it
};

// Bytes of physical memory, or 0 when the system does not say.
uint64_t PhysicalMemoryBytes();

// Bytes of memory this process may still take: the least of the physical
// memory, the limit of its control groups (cgroup v2 memory.max or v1
// memory.limit_in_bytes, of its own group and those above it) and of its
// resource limits (RLIMIT_AS, RLIMIT_DATA), each less what the process holds
// against it already (resident memory, address space, data); on Windows the
// least of the physical memory and its job object's limits for the process
// and for the job, less the memory the process has committed. At least 1
// where any limit is known; 0 when the system says nothing.
uint64_t MemoryAvailableToProcess();

// What each further thread of the process takes of the memory
// MemoryAvailableToProcess counts, used or not: where the address space is
// limited (RLIMIT_AS), its stack and, with glibc, the address space its
// allocator reserves for the thread's own heap; where only the data is
// limited (RLIMIT_DATA), its stack. 0 otherwise (the pages a thread touches
// are counted where it uses them), and on Windows, where a thread commits
// little of its stack.
uint64_t MemoryEachThreadTakes();

// What tells one file from another: on POSIX systems the device and the
// inode, on Windows the volume's serial number and the file's index.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t file = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of the file `path` names, links followed: two paths to one
// file (a hard link, a symbolic link, another spelling) give the same one.
// Nothing when nothing can be found there (a link to nothing included) or
// the path cannot be given to the system. Never opens the file in a way
// that waits (a FIFO) or changes it.
std::optional<FileIdentity> IdentityOfFile(std::u16string_view path);

// Has the C library keep the memory that a conversion frees for the next
// one, rather than give it back to the system and take it again page by
// page (in a batch of full-HD bitmaps, 28000 page faults against 1800, a
// seventh of the time). Returns false where the library has no such
// setting; nothing changes then.
bool KeepFreedMemoryForReuse();

// The current folder, absolute.
std::u16string CurrentFolder();

// The folder that holds the running executable, links resolved, without a
// final "/" (except for the root itself).
std::u16string ExecutableFolder();

// True when an entry named `path` exists: a file, a folder or anything
// else, a symbolic link to nothing included.
bool EntryExists(std::u16string_view path);

// True when this user can create files in the folder `folder`, as the system
// decides it for this process. On POSIX systems access(2) for writing and
// searching, with the effective user and groups (root may write anywhere
// but on a read-only file system); on Windows a probe file created there
// and deleted again, as the access rules of the folder decide (its read-only
// attribute means nothing for a folder).
bool FolderWritable(std::u16string_view folder);

// Creates the folder `folder` and each of its missing parents, as
// "mkdir -p" does (on POSIX systems with mode 0700, private to this user).
// True when `folder` is a folder afterwards, whether or not it was created.
[[nodiscard]] bool CreateFolderWithParents(std::u16string_view folder);

// The folder under which this user's programs keep their settings, without
// a final separator; nothing when the system names none. On POSIX systems
// $XDG_CONFIG_HOME when it is set, non-empty and absolute, otherwise
// "$HOME/.config" (HOME from the environment when it is absolute, otherwise
// from the password database). On Windows the roaming application-data
// folder (SHGetKnownFolderPath), otherwise %APPDATA% when it is set.
std::optional<std::u16string> UserConfigFolder();

// The folders under which the system keeps its programs' settings for every
// user, the one that counts most first, without a final separator. On POSIX
// systems each absolute folder of $XDG_CONFIG_DIRS (":" between them), or
// "/etc/xdg" when it names none; on Windows the common application-data
// folder (C:\ProgramData), when the system names it.
std::vector<std::u16string> SystemConfigFolders();

// The command line as the system hands it over, after the program's own
// name. On Windows one text, which the program cuts into names itself; on
// POSIX systems the list of arguments, each of them one whole name.
using CommandLine = std::variant<std::u16string, std::vector<std::u16string>>;

// This process's command line. On POSIX systems the arguments after the
// program's name; on Windows `argc` and `argv` are not used: the text after
// the program's name in GetCommandLineW, as ArgumentsAfterProgramName gives
// it.
CommandLine ProcessCommandLine(int argc, const char* const* argv);

// The command line as one text: the text itself, or the arguments joined by
// one blank each. Empty when there is no argument or a single empty one.
inline std::u16string CommandLineText(const CommandLine& command_line) {
  if (const auto* text = std::get_if<std::u16string>(&command_line)) return *text;
  const auto& arguments = std::get<std::vector<std::u16string>>(command_line);
  std::u16string joined;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) joined.push_back(u' ');
    joined += arguments[i];
  }
  return joined;
}

// What ReadWholeFile found under a path.
enum class FileRead { kRead, kMissing, kUnreadable };

struct FileContent {
  FileRead status = FileRead::kMissing;
  std::string bytes;  // the whole file when read, otherwise empty
};

// The whole content of the file at `path`, links followed. kMissing when
// nothing exists under that name (a link to nothing included); kUnreadable
// when it cannot be opened or read, is not a regular file (a folder, a FIFO,
// a device) or holds more than `max_bytes` bytes. Returns at once for a FIFO
// or a device, and never reads more than `max_bytes` + 1 bytes.
FileContent ReadWholeFile(std::u16string_view path, size_t max_bytes);

struct FileStart {
  std::string bytes;  // the first bytes of the file
  uint64_t size = 0;  // of the whole file
};

// The first `count` bytes of the regular file at `path` (fewer when it is
// shorter) and its size, or nothing when it cannot be read or is not a
// regular file. Returns at once for a FIFO or a device, as ReadWholeFile
// does.
FileStart ReadFileStart(std::u16string_view path, size_t count);

// Writes `bytes` to a temporary file in the folder of `path` and renames it
// over `path`. When `path` is a symbolic link (or a chain of them), the file
// it names is the one replaced, in its own folder, and the link is kept; a
// link to a file that does not exist yet creates that file when its folder
// exists. The permission bits of a file replaced are kept; a new file gets
// 0644. On Windows the file replaced keeps its identity (ReplaceFileW): its
// access rules where the file system has them and this user may set them,
// its creation time and short name, and its hidden, system, archive and
// not-indexed attributes; a file with the read-only attribute is not
// replaced. Returns false (and leaves `path` and the file it names as they
// were) on any failure.
[[nodiscard]] bool ReplaceFileAtomically(std::u16string_view path, std::string_view bytes);

// A library in the executable's folder, opened by its file name with its
// full path (never a search path). Returns nullptr when it cannot be opened.
void* OpenLibraryInProgramFolder(std::u16string_view file_name);

// An entry point of a library opened above; nullptr when it lacks it.
void* FindEntryPoint(void* library, const char* name);

// True when standard error goes to a terminal (a console on Windows), not
// to a file, a pipe or nowhere.
bool StandardErrorIsTerminal();

// Writes `text` (lines ending in LF) to standard error, when the process
// has one. On POSIX systems through the C library's stderr, in the
// system's narrow text. On Windows, where a program of the window system
// has a standard error only when its starter handed one down (a
// redirection, a pipe), nothing otherwise: on a console in UTF-16, to a
// file or a pipe in the ANSI code page, lines ending in CR LF.
void WriteToStandardError(std::u16string_view text);

// True when the environment names a graphical display (X11 or Wayland).
// Whether a window can really be shown is decided by the window module.
bool DisplayNamed();

}  // namespace morvane
