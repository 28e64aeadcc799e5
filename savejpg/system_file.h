// The encoder's access to files by name, where the systems differ: how a
// path handed to SavetoJPEG is read, creating the temporary JPEG file, and
// putting it in the destination's place.
#pragma once

#include <cstdio>
#include <filesystem>

namespace savejpg {

// The path named by `text`, a NUL-terminated path in the system's narrow
// encoding: UTF-8 on POSIX systems, the ANSI code page on Windows (so every
// name the code page holds is reached through the wide file API).
std::filesystem::path PathFromSystemText(const char* text);

// Opens `path` for reading in binary mode when it names a regular file,
// links followed. Result: the open file, or nullptr when it is missing,
// cannot be read or is something else (a folder, a device, a pipe), which is
// refused at once, never waited for.
std::FILE* OpenRegularFile(const std::filesystem::path& path);

// Creates `path` as a new, empty file open for writing in binary mode.
// Result: the open file, or nullptr when it cannot be created; errno is then
// EEXIST when something of that name already exists.
std::FILE* CreateNewFile(const std::filesystem::path& path);

// Renames the file `from` to `to`, replacing a file that `to` names. The
// new file keeps what was set on the one it replaces: its permission bits on
// POSIX systems; on Windows its read-only, hidden, system and not-indexed
// attributes (a read-only file is replaced, as on POSIX systems). Result:
// false when that fails; nothing changed then, and `from` can be removed.
[[nodiscard]] bool RenameOver(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace savejpg
