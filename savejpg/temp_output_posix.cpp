// TempOutput for POSIX systems. The file is made with O_TMPFILE where the
// file system has it: it has no name while the JPEG is written. Once
// complete it is linked in under a temporary name and renamed over the
// destination. Where O_TMPFILE is missing the file is named from the start.
//
// Every temporary name is known to a handler of the stop signals (SIGINT,
// SIGTERM, SIGHUP) that removes the names still there and then ends the
// program by the signal. The handler is in place before the first file is
// made. A name is made only between two marks that the handler waits for:
// a stop taken by any thread either comes before the name exists, and no
// name is made after it, or finds the name among those it removes.
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <random>
#include <string>

#include "savejpg.h"
#include "temp_output.h"

namespace savejpg {

namespace fs = std::filesystem;

// One temporary name a stop removes. The handler reads entries without
// locks: an entry goes free -> filling -> live -> free, and the handler takes
// a live one for good (taken) before it reads its name, so a name is never
// rewritten while it is read. The name is held in the entry itself: the
// conversions' heaps get no small block that lives on after them.
struct NameEntry {
  enum State : int { kFree, kFilling, kLive, kTaken };
  std::atomic<int> state{kFree};
  char path[PATH_MAX];  // the system takes no longer path
};

namespace {

static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The entries, in blocks that are added as more names exist at once and are
// never freed, so the handler may walk them at any moment. The first one
// is set when the library is loaded, without code: 128 KiB of zero pages of
// which a conversion touches one.
struct EntryBlock {
  static constexpr int kEntries = 32;
  NameEntry entries[kEntries];
  std::atomic<EntryBlock*> next{nullptr};
};
static_assert(std::atomic<EntryBlock*>::is_always_lock_free);
constinit EntryBlock g_first_block{};

// Set by the first stop the handler takes: no name is made after it.
constinit std::atomic<bool> g_stopping{false};
// Set once that stop has removed every name.
constinit std::atomic<bool> g_names_removed{false};
// Threads between the two marks around making a name.
constinit std::atomic<int> g_names_being_made{0};

void RemoveLiveNames() {
  for (EntryBlock* block = &g_first_block; block != nullptr; block = block->next.load()) {
    for (NameEntry& entry : block->entries) {
      int live = NameEntry::kLive;
      if (entry.state.compare_exchange_strong(live, NameEntry::kTaken)) unlink(entry.path);
    }
  }
}

// The program ends by the signal, as it would have without the handler:
// the signal, blocked while its handler runs, is delivered with its default
// action once the handler returns.
void EndBySignal(int signal) {
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  sigaction(signal, &default_action, nullptr);
  raise(signal);
}

extern "C" void RemoveTempFilesAndStop(int signal) {
  if (!g_stopping.exchange(true)) {
    // Names being made are made and marked live in a few system calls; the
    // threads making them take no stop signal meanwhile.
    while (g_names_being_made.load() != 0) poll(nullptr, 0, 1);
    RemoveLiveNames();
    g_names_removed.store(true);
  } else {
    // A stop on another thread is removing the names: end the program only
    // once they are gone.
    while (!g_names_removed.load()) poll(nullptr, 0, 1);
  }
  EndBySignal(signal);
}

// Only where the action is the default one: a program that ignores or
// handles a signal itself keeps its choice. Asked before each file, so a
// handler that the program put back to the default is put in place again.
void InstallStopHandlersWhereDefault() {
  if (g_stopping.load()) return;  // the program is ending by the signal's default action
  for (const int signal : kStopSignals) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) != 0) continue;
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = RemoveTempFilesAndStop;
    sigemptyset(&action.sa_mask);
    for (const int other : kStopSignals) sigaddset(&action.sa_mask, other);
    sigaction(signal, &action, nullptr);
  }
}

// Claims a free entry, adding a block when every entry is in use.
NameEntry* ClaimEntry() {
  EntryBlock* last = &g_first_block;
  for (EntryBlock* block = last; block != nullptr; block = block->next.load()) {
    for (NameEntry& entry : block->entries) {
      int free = NameEntry::kFree;
      if (entry.state.compare_exchange_strong(free, NameEntry::kFilling)) return &entry;
    }
    last = block;
  }
  // Pages of their own, outside the heaps the conversions use.
  void* pages =
      mmap(nullptr, sizeof(EntryBlock), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pages == MAP_FAILED) return nullptr;
  auto* added = new (pages) EntryBlock;
  added->entries[0].state.store(NameEntry::kFilling);
  EntryBlock* expected = nullptr;
  while (!last->next.compare_exchange_weak(expected, added)) {
    if (expected != nullptr) {
      last = expected;
      expected = nullptr;
    }
  }
  return &added->entries[0];
}

// Puts `path` into an entry that is filling. False when it is too long for
// the system to take.
bool FillEntry(NameEntry& entry, const fs::path& path) {
  const std::string& text = path.native();
  if (text.size() >= sizeof entry.path) return false;
  std::memcpy(entry.path, text.c_str(), text.size() + 1);
  return true;
}

// An entry whose name is gone or was never made goes free again. One that a
// stop has taken stays taken: the handler may still be reading it, and the
// program is ending.
void ReleaseEntry(NameEntry*& entry) {
  if (entry == nullptr) return;
  int state = entry->state.load();
  while (state != NameEntry::kTaken &&
         !entry->state.compare_exchange_weak(state, NameEntry::kFree)) {
  }
  entry = nullptr;
}

// Blocks the stop signals in this thread for its lifetime; one that comes
// meanwhile is delivered when they are unblocked.
class StopSignalsBlocked {
 public:
  StopSignalsBlocked() {
    sigset_t stop;
    sigemptyset(&stop);
    for (const int signal : kStopSignals) sigaddset(&stop, signal);
    pthread_sigmask(SIG_BLOCK, &stop, &previous_);
  }
  ~StopSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  StopSignalsBlocked(const StopSignalsBlocked&) = delete;
  StopSignalsBlocked& operator=(const StopSignalsBlocked&) = delete;

 private:
  sigset_t previous_;
};

// Makes a name with `make` (one system call, true when it made the name)
// and marks `entry`, already holding that name, live; a stop handler waits
// until both are done. Nothing here may take a lock or allocate: the
// handler may have interrupted a thread holding one, and it waits for this.
// Once a stop has begun no name is made (errno EINTR).
template <class Make>
bool MakeKnownName(NameEntry& entry, Make make) {
  const StopSignalsBlocked blocked;
  g_names_being_made.fetch_add(1);
  bool made = false;
  if (g_stopping.load()) {
    errno = EINTR;
  } else {
    made = make();
    if (made) entry.state.store(NameEntry::kLive);
  }
  g_names_being_made.fetch_sub(1);
  return made;
}

unsigned RandomSeed() {
  try {
    return std::random_device{}();
  } catch (...) {  // no entropy source: the clock will do for a file name
    return static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
  }
}

// Names beside the destination, after it unless that name is so long that
// the suffix could pass the system's name limit.
class TempNames {
 public:
  explicit TempNames(const fs::path& dest) : dest_(dest), random_(RandomSeed()) {}
  fs::path Next() {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random_()));
    fs::path name = dest_;
    if (dest_.filename().native().size() > 200) name.replace_filename("savejpg");
    name += suffix;
    return name;
  }
  static constexpr int kAttempts = 32;

 private:
  const fs::path& dest_;
  std::mt19937 random_;
};

fs::path FolderOf(const fs::path& dest) {
  const fs::path folder = dest.parent_path();
  return folder.empty() ? fs::path(".") : folder;
}

// Claims an entry among the names a stop removes and makes a free
// temporary name beside `dest` with `make` (one system call on the
// candidate, true when it made the name): `entry` and `path` then hold it.
// False, with the entry given back, when no name can be made.
template <class Make>
bool NameBeside(const fs::path& dest, NameEntry*& entry, fs::path& path, Make make) {
  entry = ClaimEntry();
  if (entry == nullptr) return false;
  TempNames names(dest);
  for (int attempt = 0; attempt < TempNames::kAttempts; ++attempt) {
    const fs::path candidate = names.Next();
    if (!FillEntry(*entry, candidate)) break;
    if (MakeKnownName(*entry, [&] { return make(candidate); })) {
      path = candidate;
      return true;
    }
    if (errno != EEXIST) break;
  }
  ReleaseEntry(entry);
  return false;
}

}  // namespace

TempOutput::~TempOutput() {
  if (fd_ >= 0) close(fd_);
  if (!path_.empty()) unlink(path_.c_str());
  ReleaseEntry(entry_);
}

bool TempOutput::Create(const fs::path& dest) {
  InstallStopHandlersWhereDefault();
  // Linking the file in later goes through /proc/self/fd.
  if (access("/proc/self/fd", X_OK) == 0) {
    fd_ = open(FolderOf(dest).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ >= 0) return true;
    // Kernels and file systems without O_TMPFILE say so in one of these.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
  }
  return CreateNamed(dest);
}

bool TempOutput::CreateNamed(const fs::path& dest) {
  InstallStopHandlersWhereDefault();
  return NameBeside(dest, entry_, path_, [&](const fs::path& candidate) {
    fd_ = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return fd_ >= 0;
  });
}

void TempOutput::Write(const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw JpegFailure(SAVEJPG_ERR_WRITE_OUTPUT, "cannot write the JPEG file");
    data += n;
    size -= static_cast<size_t>(n);
  }
}

// Gives the unnamed file a temporary name beside dest. False when none can
// be made.
bool TempOutput::LinkUnnamed(const fs::path& dest) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  return NameBeside(dest, entry_, path_, [&](const fs::path& candidate) {
    return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0;
  });
}

int16_t TempOutput::Replace(const fs::path& dest) {
  // A replaced JPEG keeps who may read it. File systems without permission
  // bits refuse the change; there it means nothing anyway.
  struct stat old {};
  if (stat(dest.c_str(), &old) == 0 && S_ISREG(old.st_mode)) fchmod(fd_, old.st_mode & 0777);

  if (path_.empty() && !LinkUnnamed(dest)) return SAVEJPG_ERR_REPLACE_OUTPUT;
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) return SAVEJPG_ERR_WRITE_OUTPUT;
  if (rename(path_.c_str(), dest.c_str()) != 0) return SAVEJPG_ERR_REPLACE_OUTPUT;
  path_.clear();
  ReleaseEntry(entry_);
  return SAVEJPG_OK;
}

}  // namespace savejpg
