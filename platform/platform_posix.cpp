// The platform interfaces on Linux and other POSIX systems.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__GLIBC__)  // known once a C library header is in
#include <malloc.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/step_failure.h"
#include "core/text.h"
#include "platform/platform.h"

namespace morvane {
namespace {

// `name` in `folder`; in the current folder when `folder` is empty.
std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  std::string path = folder;
  EndWithSeparator(path, '/');
  return path + name;
}

[[noreturn]] void FailLookUp(const std::string& path, int error) {
  throw StepFailure("cannot look up " + path + ": error " + std::to_string(error));
}

// A folder by its identity, whatever path leads to it.
struct FolderId {
  dev_t device;
  ino_t inode;
  bool operator==(const FolderId&) const = default;
};

struct FolderIdHash {
  size_t operator()(const FolderId& id) const {
    return std::hash<uint64_t>()(static_cast<uint64_t>(id.inode) * 0x9E3779B97F4A7C15ull ^
                                 static_cast<uint64_t>(id.device));
  }
};

// Paths up to this many bytes are kept whole in the memo; a deeper path is
// taken up from the path looked up just before it, which is how the
// prefixes of one path come. So the memo grows with the depth, not with its
// square.
constexpr size_t kKeptPathBytes = 512;

// What LookUpEntry remembers while a LookUpMemo lives on its thread.
struct Memo {
  // A folder -> each of its entries' names in ASCII lower case, with the
  // first name in name order that has that form.
  std::unordered_map<FolderId, std::unordered_map<std::string, std::string>, FolderIdHash> listings;
  // An absolute path as given, up to the end of one of its components and
  // at most kKeptPathBytes long -> the same path as stored.
  std::unordered_map<std::string, std::string> resolved;
  // The path resolved last that was not a start of the one before it, as
  // given and as stored, with where each of its components ends in each:
  // every start of it is answered from it, and a path that goes on from it
  // lengthens it.
  std::string deep_given;
  std::string deep_stored;
  std::vector<size_t> given_ends;
  std::vector<size_t> stored_ends;
  // The folder last looked into, held open, so that the next component of a
  // deep path is found from it rather than by walking the whole path again.
  std::string open_folder;
  int open_folder_fd = -1;
  // The path last looked up, as given and in the system's text: the
  // prefixes of a deep path are converted one component at a time.
  std::u16string last_path;
  std::string last_system_path;

  Memo() = default;
  Memo(const Memo&) = delete;
  Memo& operator=(const Memo&) = delete;
  ~Memo() {
    if (open_folder_fd >= 0) ::close(open_folder_fd);
  }
};

thread_local Memo* current_memo = nullptr;

std::string AsciiLowerCase(std::string_view name) {
  std::string lower(name);
  for (char& ch : lower) ch = AsciiLower(ch);
  return lower;
}

// Calls `take` with each entry's name in `folder` (the current folder when
// empty). Returns false when `folder` does not exist or is not a folder;
// throws when it cannot be read.
// With `folder_fd`, an open descriptor of `folder`, it is read from that.
template <class Take>
bool ForEachEntry(const std::string& folder, Take&& take, int folder_fd = -1) {
  DIR* dir = nullptr;
  if (folder_fd >= 0) {
    const int fd = ::openat(folder_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 && (dir = ::fdopendir(fd)) == nullptr) ::close(fd);
  } else {
    dir = ::opendir(folder.empty() ? "." : folder.c_str());
  }
  if (dir == nullptr) {
    if (errno == ENOENT || errno == ENOTDIR) return false;
    FailLookUp(folder, errno);
  }
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) take(std::string_view(entry->d_name));
  const int read_error = errno;
  ::closedir(dir);
  if (read_error != 0) FailLookUp(folder, read_error);
  return true;
}

// An open descriptor of `folder` (absolute, as stored) kept in `memo`, or
// -1 when it cannot be opened. The child of the folder held open before is
// opened from it: a deep path is then walked once, not once per component.
int OpenFolderIn(Memo& memo, const std::string& folder) {
  if (memo.open_folder_fd >= 0 && memo.open_folder == folder) return memo.open_folder_fd;
  const size_t slash = folder.rfind('/');
  const std::string parent = slash == 0 ? "/" : folder.substr(0, slash);
  int fd = -1;
  if (memo.open_folder_fd >= 0 && slash != std::string::npos && slash + 1 < folder.size() &&
      memo.open_folder == parent) {
    fd =
        ::openat(memo.open_folder_fd, folder.c_str() + slash + 1, O_PATH | O_DIRECTORY | O_CLOEXEC);
  } else {
    fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  if (memo.open_folder_fd >= 0) ::close(memo.open_folder_fd);
  memo.open_folder_fd = fd;
  memo.open_folder = fd >= 0 ? folder : std::string();
  return fd;
}

// The entry of `folder` equal to `component` ignoring letter case that
// comes first in name order, read from the folder, or from `memo`'s listing
// of it once it has one.
std::optional<std::string> FindIgnoringCase(const std::string& folder, const std::string& component,
                                            Memo* memo) {
  if (memo == nullptr || folder.empty()) {
    std::optional<std::string> found;
    ForEachEntry(folder, [&](std::string_view name) {
      if (EqualIgnoringAsciiCase<char>(name, component) && (!found || name < *found)) {
        found = std::string(name);
      }
    });
    return found;
  }
  const int folder_fd = OpenFolderIn(*memo, folder);
  struct stat info;
  if (folder_fd < 0 || ::fstat(folder_fd, &info) != 0)
    return FindIgnoringCase(folder, component, nullptr);
  const FolderId id{info.st_dev, info.st_ino};
  auto listing = memo->listings.find(id);
  if (listing == memo->listings.end()) {
    std::unordered_map<std::string, std::string> entries;
    ForEachEntry(
        folder,
        [&](std::string_view name) {
          auto [first, added] = entries.try_emplace(AsciiLowerCase(name), name);
          if (!added && name < first->second) first->second = std::string(name);
        },
        folder_fd);
    listing = memo->listings.emplace(id, std::move(entries)).first;
  }
  const auto found = listing->second.find(AsciiLowerCase(component));
  if (found == listing->second.end()) return std::nullopt;
  return found->second;
}

// Finds `component` in `folder`: the exact name when it exists, otherwise
// the first entry (in name order) equal to it ignoring letter case.
// Gives the stored name, or nothing when no entry matches. The exact name is
// always asked of the file system; `memo`, when given, holds listings.
std::optional<std::string> FindInFolder(const std::string& folder, const std::string& component,
                                        Memo* memo) {
  if (component.size() > NAME_MAX) FailLookUp(component, ENAMETOOLONG);
  struct stat info;
  const int folder_fd = memo != nullptr && !folder.empty() ? OpenFolderIn(*memo, folder) : -1;
  const int found = folder_fd >= 0
                        ? ::fstatat(folder_fd, component.c_str(), &info, AT_SYMLINK_NOFOLLOW)
                        : ::lstat(JoinPath(folder, component).c_str(), &info);
  if (found == 0) return component;
  if (errno != ENOENT && errno != ENOTDIR) FailLookUp(JoinPath(folder, component), errno);
  return FindIgnoringCase(folder, component, memo);
}

// Where each component of `path` ends.
std::vector<size_t> ComponentEnds(const std::string& path) {
  std::vector<size_t> ends;
  for (size_t i = 1; i <= path.size(); ++i) {
    if (path[i - 1] != '/' && (i == path.size() || path[i] == '/')) ends.push_back(i);
  }
  return ends;
}

// The end of the longest start of `path`, ending at the end of one of its
// components, that is a start of `memo`'s deep path, with the stored path
// up to there; nothing when there is none.
std::optional<std::pair<size_t, std::string>> StartInDeepPath(const std::string& path,
                                                              const Memo& memo) {
  const std::string& deep = memo.deep_given;
  const size_t shorter = std::min(path.size(), deep.size());
  // Mostly one is a start of the other: compared at memcmp's speed.
  const size_t common =
      std::memcmp(path.data(), deep.data(), shorter) == 0
          ? shorter
          : static_cast<size_t>(std::mismatch(path.begin(),
                                              path.begin() + static_cast<std::ptrdiff_t>(shorter),
                                              deep.begin())
                                    .first -
                                path.begin());
  // The last component end of the deep path within the common part; a
  // component end of `path` too unless `path` goes on with more of a name.
  auto after = std::upper_bound(memo.given_ends.begin(), memo.given_ends.end(), common);
  while (after != memo.given_ends.begin()) {
    const size_t end = *(after - 1);
    if (end == path.size() || path[end] == '/') {
      const size_t index = static_cast<size_t>(after - 1 - memo.given_ends.begin());
      return std::make_pair(end, memo.deep_stored.substr(0, memo.stored_ends[index]));
    }
    --after;
  }
  return std::nullopt;
}

// The end of the longest start of `path`, ending at the end of one of its
// components, that `memo` has resolved, with the stored path; nothing when
// there is none.
std::optional<std::pair<size_t, std::string>> LongestResolvedStart(const std::string& path,
                                                                   const Memo& memo) {
  size_t last_char = path.find_last_not_of('/');
  if (path.size() > kKeptPathBytes) {
    // Only starts that end by the kept length are kept: begin at the last
    // "/" there, whatever the path holds after it.
    const size_t slash = path.rfind('/', kKeptPathBytes);
    if (slash == std::string::npos || slash == 0) return std::nullopt;
    last_char = path.find_last_not_of('/', slash);
  }
  while (last_char != std::string::npos) {
    const size_t end = last_char + 1;
    const auto found = memo.resolved.find(path.substr(0, end));
    if (found != memo.resolved.end()) return std::make_pair(end, found->second);
    const size_t slash = path.rfind('/', last_char);
    if (slash == std::string::npos || slash == 0) return std::nullopt;
    last_char = path.find_last_not_of('/', slash);
  }
  return std::nullopt;
}

// The rest of `fd`; nothing when a read fails or there are more than
// `max_bytes` bytes (a file may grow while it is read).
std::optional<std::string> ReadToEnd(int fd, size_t max_bytes) {
  std::string content;
  char chunk[65536];
  for (;;) {
    const size_t room = max_bytes - content.size();
    const size_t wanted = room < sizeof chunk ? room + 1 : sizeof chunk;
    const ssize_t got = ::read(fd, chunk, wanted);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) return content;
    content.append(chunk, static_cast<size_t>(got));
    if (content.size() > max_bytes) return std::nullopt;
  }
}

// The folder part of `path`: "." when it has none, "/" for the root.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file that a write through `path` is meant for: `path` itself, or the
// end of its chain of symbolic links, which need not exist yet. Replacing
// the link itself would cut it from the file it names. Nothing when a link
// cannot be read or the chain is longer than the system follows.
std::optional<std::string> EndOfLinks(std::string path) {
  constexpr int kMaxLinks = 40;
  for (int links = 0; links <= kMaxLinks; ++links) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    std::vector<char> buffer(PATH_MAX);
    const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) return std::nullopt;
    std::string next(buffer.data(), static_cast<size_t>(length));
    // A relative link is taken from the folder that holds the link.
    path = next.front() == '/' ? std::move(next) : JoinPath(FolderOf(path), next);
  }
  return std::nullopt;
}

// `path` as the system takes it; nothing when it holds a NUL, which the
// system would take as its end.
std::optional<std::string> SystemPath(std::u16string_view path) {
  std::string narrow = ToSystemText(path);
  if (narrow.find('\0') != std::string::npos) return std::nullopt;
  return narrow;
}

// `text` when it is an absolute path, otherwise nothing.
std::optional<std::string> Absolute(const char* text) {
  if (text == nullptr || text[0] != '/') return std::nullopt;
  return std::string(text);
}

// This user's home folder: $HOME, or the password database's entry for the
// effective user when HOME is not an absolute path.
std::optional<std::string> HomeFolder() {
  if (std::optional<std::string> home = Absolute(std::getenv("HOME"))) return home;
  const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
  passwd entry;
  passwd* found = nullptr;
  while (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
         buffer.size() < (1u << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  return found == nullptr ? std::nullopt : Absolute(found->pw_dir);
}

}  // namespace

// On Linux the system's narrow text is UTF-8.
std::string ToSystemText(std::u16string_view text) { return ToUtf8(text); }
std::u16string FromSystemText(std::string_view text) { return FromUtf8(text); }
std::optional<std::string> ToSystemTextExactly(std::u16string_view text) {
  return ToUtf8Exactly(text);
}

LookUpMemo::LookUpMemo() : previous_(current_memo) { current_memo = new Memo; }

LookUpMemo::~LookUpMemo() {
  delete current_memo;
  current_memo = static_cast<Memo*>(previous_);
}

bool KeepFreedMemoryForReuse() {
#if defined(__GLIBC__)
  // Blocks up to 32 MiB (the most glibc takes here) come from its heaps and
  // go back to them; their tops are given back to the system only past
  // 128 MiB. Fixed values also stop glibc from moving the thresholds itself.
  return ::mallopt(M_MMAP_THRESHOLD, 32 << 20) == 1 && ::mallopt(M_TRIM_THRESHOLD, 128 << 20) == 1;
#else
  return false;
#endif
}

std::optional<FileIdentity> IdentityOfFile(std::u16string_view path) {
  const std::string narrow = ToSystemText(path);
  struct stat info;
  if (narrow.empty() || narrow.find('\0') != std::string::npos ||
      ::stat(narrow.c_str(), &info) != 0) {
    return std::nullopt;
  }
  return FileIdentity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

// `path` in the system's text; the part that the path looked up before
// shares with it up to a "/" is taken from `memo` rather than converted
// again, and `memo` keeps this one.
std::string SystemTextOfPath(std::u16string_view path, Memo* memo) {
  if (memo == nullptr) return ToSystemText(path);
  const std::u16string_view last = memo->last_path;
  std::string narrow;
  if (path.size() > last.size() && path[last.size()] == u'/' &&
      std::memcmp(path.data(), last.data(), last.size() * sizeof(char16_t)) == 0) {
    narrow = memo->last_system_path + ToSystemText(path.substr(last.size()));
  } else {
    narrow = ToSystemText(path);
  }
  memo->last_path = path;
  memo->last_system_path = narrow;
  return narrow;
}

std::u16string LookUpEntry(std::u16string_view path) {
  const bool maybe_absolute = !path.empty() && path.front() == u'/';
  const std::string narrow = SystemTextOfPath(path, maybe_absolute ? current_memo : nullptr);
  if (narrow.find('\0') != std::string::npos) FailLookUp("(NUL in path)", EINVAL);
  if (narrow.size() >= PATH_MAX) FailLookUp(narrow.substr(0, 64), ENAMETOOLONG);
  if (narrow.empty()) return {};

  // A relative path depends on the current folder, which may change: only
  // absolute ones are remembered.
  const bool absolute = narrow.front() == '/';
  Memo* const memo = absolute ? current_memo : nullptr;
  std::string folder = absolute ? "/" : "";
  bool any_component = false;
  size_t start = 0;
  // Whether the components resolved here lengthen the memo's deep path.
  bool lengthens_deep_path = false;
  if (memo != nullptr) {
    auto from_deep = StartInDeepPath(narrow, *memo);
    auto from_kept = LongestResolvedStart(narrow, *memo);
    if (from_kept && (!from_deep || from_kept->first > from_deep->first)) from_deep = from_kept;
    if (from_deep) {
      start = from_deep->first;
      folder = std::move(from_deep->second);
      any_component = true;
      lengthens_deep_path = start == memo->deep_given.size() && !memo->deep_given.empty() &&
                            std::memcmp(narrow.data(), memo->deep_given.data(), start) == 0;
    }
  }
  bool resolved_any = false;
  while (start <= narrow.size()) {
    size_t end = narrow.find('/', start);
    if (end == std::string::npos) end = narrow.size();
    const std::string component = narrow.substr(start, end - start);
    start = end + 1;
    if (component.empty()) continue;
    const std::optional<std::string> stored = FindInFolder(folder, component, memo);
    if (!stored) return {};
    folder = JoinPath(folder, *stored);
    any_component = true;
    resolved_any = true;
    if (memo != nullptr) {
      if (end <= kKeptPathBytes) memo->resolved.emplace(narrow.substr(0, end), folder);
      if (lengthens_deep_path) {
        memo->deep_given.append(narrow, memo->deep_given.size(), end - memo->deep_given.size());
        memo->given_ends.push_back(end);
        memo->deep_stored.append(folder, memo->deep_stored.size());
        memo->stored_ends.push_back(folder.size());
      }
    }
  }
  // A path resolved here that goes elsewhere becomes the deep path.
  if (memo != nullptr && resolved_any && !lengthens_deep_path) {
    memo->deep_given = narrow.substr(0, narrow.find_last_not_of('/') + 1);
    memo->deep_stored = folder;
    memo->given_ends = ComponentEnds(memo->deep_given);
    memo->stored_ends = ComponentEnds(memo->deep_stored);
  }
  if (!any_component) return folder == "/" ? u"/" : u"";
  return FromSystemText(std::string_view(folder).substr(folder.rfind('/') + 1));
}

std::u16string CurrentFolder() {
  std::vector<char> buffer(PATH_MAX);
  if (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    throw StepFailure("cannot read the current folder");
  }
  return FromSystemText(buffer.data());
}

std::u16string ExecutableFolder() {
  // Asked for the settings file and again for the encoder: the link is read
  // once. A failed read throws and is tried again the next time.
  static const std::u16string folder = [] {
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), PATH_MAX);
    if (length <= 0) throw StepFailure("cannot find the program's folder");
    std::string path(buffer.data(), static_cast<size_t>(length));
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) throw StepFailure("program path has no folder");
    path.resize(slash == 0 ? 1 : slash);
    return FromSystemText(path);
  }();
  return folder;
}

CommandLine ProcessCommandLine(int argc, const char* const* argv) {
  std::vector<std::u16string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(FromSystemText(argv[i]));
  return arguments;
}

bool EntryExists(std::u16string_view path) {
  const std::optional<std::string> narrow = SystemPath(path);
  struct stat info;
  return narrow && ::lstat(narrow->c_str(), &info) == 0;
}

bool FolderWritable(std::u16string_view folder) {
  const std::optional<std::string> narrow = SystemPath(folder);
  struct stat info;
  return narrow && ::stat(narrow->c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
         ::faccessat(AT_FDCWD, narrow->c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

bool CreateFolderWithParents(std::u16string_view folder) {
  const std::optional<std::string> narrow = SystemPath(folder);
  if (!narrow || narrow->empty()) return false;
  // Each parent in turn, then the folder itself; one that is already there
  // (or cannot be made) shows in the last check.
  for (size_t slash = narrow->find('/', 1); slash != std::string::npos;
       slash = narrow->find('/', slash + 1)) {
    ::mkdir(narrow->substr(0, slash).c_str(), 0700);
  }
  ::mkdir(narrow->c_str(), 0700);
  struct stat info;
  return ::stat(narrow->c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<std::u16string> UserConfigFolder() {
  std::optional<std::string> folder = Absolute(std::getenv("XDG_CONFIG_HOME"));
  if (!folder) {
    folder = HomeFolder();
    if (!folder) return std::nullopt;
    EndWithSeparator(*folder, '/');
    *folder += ".config";
  }
  while (folder->size() > 1 && folder->back() == '/') folder->pop_back();
  return FromSystemText(*folder);
}

std::vector<std::u16string> SystemConfigFolders() {
  std::vector<std::u16string> folders;
  const char* listed = std::getenv("XDG_CONFIG_DIRS");
  const std::string_view list = listed == nullptr ? "" : listed;
  for (size_t start = 0; start <= list.size();) {
    size_t end = list.find(':', start);
    if (end == std::string_view::npos) end = list.size();
    std::string folder(list.substr(start, end - start));
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    // A relative folder would depend on where the program was started.
    if (!folder.empty() && folder.front() == '/') folders.push_back(FromSystemText(folder));
    start = end + 1;
  }
  if (folders.empty()) folders.push_back(u"/etc/xdg");
  return folders;
}

FileContent ReadWholeFile(std::u16string_view path, size_t max_bytes) {
  const std::string narrow = ToSystemText(path);
  if (narrow.find('\0') != std::string::npos) return {FileRead::kUnreadable, {}};
  // Without O_NONBLOCK, opening a FIFO waits for a writer.
  const int fd = ::open(narrow.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {errno == ENOENT ? FileRead::kMissing : FileRead::kUnreadable, {}};
  FileContent content{FileRead::kUnreadable, {}};
  struct stat info;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
      static_cast<uintmax_t>(info.st_size) <= max_bytes) {
    if (std::optional<std::string> bytes = ReadToEnd(fd, max_bytes)) {
      content = {FileRead::kRead, std::move(*bytes)};
    }
  }
  ::close(fd);
  return content;
}

FileStart ReadFileStart(std::u16string_view path, size_t count) {
  const std::string narrow = ToSystemText(path);
  if (narrow.find('\0') != std::string::npos) return {};
  const int fd = ::open(narrow.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {};
  FileStart start;
  struct stat info;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    start.bytes.resize(count);
    const ssize_t got = ::pread(fd, start.bytes.data(), count, 0);
    start.bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    start.size = static_cast<uint64_t>(info.st_size);
  }
  ::close(fd);
  return start;
}

bool ReplaceFileAtomically(std::u16string_view path, std::string_view bytes) {
  const std::optional<std::string> found = EndOfLinks(ToSystemText(path));
  if (!found) return false;
  const std::string& target = *found;
  std::string temp = JoinPath(FolderOf(target), ".morvane-XXXXXX");
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;

  mode_t mode = 0644;
  struct stat existing;
  if (::stat(target.c_str(), &existing) == 0) mode = existing.st_mode & 07777;
  bool ok = ::fchmod(fd, mode) == 0;
  size_t written = 0;
  while (ok && written < bytes.size()) {
    const ssize_t put = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      ok = false;
    } else {
      written += static_cast<size_t>(put);
    }
  }
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

void* OpenLibraryInProgramFolder(std::u16string_view file_name) {
  std::u16string folder;
  try {
    folder = ExecutableFolder();
  } catch (const StepFailure&) {
    return nullptr;
  }
  const std::string full = JoinPath(ToSystemText(folder), ToSystemText(file_name));
  return ::dlopen(full.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindEntryPoint(void* library, const char* name) {
  return library == nullptr ? nullptr : ::dlsym(library, name);
}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void WriteToStandardError(std::u16string_view text) {
  const std::string bytes = ToSystemText(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  std::fflush(stderr);
}

bool DisplayNamed() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return true;
  }
  return false;
}

}  // namespace morvane
