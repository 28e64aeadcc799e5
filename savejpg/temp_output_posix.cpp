// TempOutput for POSIX systems. The file is made with O_TMPFILE where the
// file system has it: it has no name while the JPEG is written, so a
// program stopped by any signal leaves nothing. Once complete it is linked
// in under a temporary name and renamed over the destination, with the stop
// signals blocked in this thread so that the short-lived name cannot be left
// behind. Where O_TMPFILE is missing the file is named from the start, and
// its name is kept in a table that a stop signal's handler empties.
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <string>

#include "savejpg.h"
#include "temp_output.h"

namespace savejpg {
namespace {

namespace fs = std::filesystem;

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Names of temporary files that a stop signal removes. The handler reads
// them without locks: a slot goes free -> filling -> live -> free, and the
// handler takes a live slot for good before reading its name, so no name is
// rewritten while it is read.
enum SlotState : int { kFree, kFilling, kLive, kTaken };
struct Slot {
  std::atomic<int> state{kFree};
  char path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free);
constexpr int kSlots = 64;  // temporary files named at once; more go unprotected
// Set when the library is loaded, without code: 256 KiB of zero pages that
// no conversion touches unless O_TMPFILE is missing.
constinit Slot g_slots[kSlots]{};

extern "C" void RemoveTempFilesAndStop(int signal) {
  const int saved_errno = errno;
  for (Slot& slot : g_slots) {
    int live = kLive;
    if (slot.state.compare_exchange_strong(live, kTaken)) unlink(slot.path);
  }
  errno = saved_errno;
  // SA_RESETHAND has put the default action back: the program ends by the
  // signal, as it would have without this handler.
  raise(signal);
}

// Only where the action is the default one: a program that ignores or
// handles a signal itself keeps its choice.
void InstallStopHandlersWhereDefault() {
  for (const int signal : kStopSignals) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) != 0) continue;
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = RemoveTempFilesAndStop;
    sigemptyset(&action.sa_mask);
    for (const int other : kStopSignals) sigaddset(&action.sa_mask, other);
    action.sa_flags = SA_RESETHAND;
    sigaction(signal, &action, nullptr);
  }
}

int RegisterName(const fs::path& path) {
  const std::string& text = path.native();
  if (text.size() >= PATH_MAX) return -1;
  InstallStopHandlersWhereDefault();
  for (int i = 0; i < kSlots; ++i) {
    int free = kFree;
    if (!g_slots[i].state.compare_exchange_strong(free, kFilling)) continue;
    std::memcpy(g_slots[i].path, text.c_str(), text.size() + 1);
    g_slots[i].state.store(kLive);
    return i;
  }
  return -1;
}

void UnregisterName(int slot) {
  int live = kLive;  // a slot a handler has taken stays taken: the program is ending
  if (slot >= 0) g_slots[slot].state.compare_exchange_strong(live, kFree);
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

}  // namespace

TempOutput::~TempOutput() {
  if (fd_ >= 0) close(fd_);
  if (!path_.empty()) unlink(path_.c_str());
  UnregisterName(slot_);
}

bool TempOutput::Create(const fs::path& dest) {
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
  TempNames names(dest);
  for (int attempt = 0; attempt < TempNames::kAttempts; ++attempt) {
    const fs::path candidate = names.Next();
    StopSignalsBlocked blocked;  // no stop between creating and registering the name
    fd_ = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      path_ = candidate;
      slot_ = RegisterName(path_);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
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

int16_t TempOutput::Replace(const fs::path& dest) {
  // A replaced JPEG keeps who may read it. File systems without permission
  // bits refuse the change; there it means nothing anyway.
  struct stat old {};
  if (stat(dest.c_str(), &old) == 0 && S_ISREG(old.st_mode)) fchmod(fd_, old.st_mode & 0777);

  StopSignalsBlocked blocked;
  if (path_.empty()) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    TempNames names(dest);
    for (int attempt = 0; attempt < TempNames::kAttempts && path_.empty(); ++attempt) {
      const fs::path candidate = names.Next();
      if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        path_ = candidate;
        slot_ = RegisterName(path_);  // for a stop that another thread receives
      } else if (errno != EEXIST) {
        return SAVEJPG_ERR_REPLACE_OUTPUT;
      }
    }
    if (path_.empty()) return SAVEJPG_ERR_REPLACE_OUTPUT;
  }
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) return SAVEJPG_ERR_WRITE_OUTPUT;
  if (rename(path_.c_str(), dest.c_str()) != 0) return SAVEJPG_ERR_REPLACE_OUTPUT;
  path_.clear();
  UnregisterName(slot_);
  slot_ = -1;
  return SAVEJPG_OK;
}

}  // namespace savejpg
