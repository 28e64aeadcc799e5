#include "app/conversion_pool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "core/resume_next.h"
#include "filelist/file_path.h"
#include "platform/conventions.h"
#include "platform/platform.h"

namespace morvane {
namespace {

// The memory the calls running at once hold; a call waits until its share
// fits, or runs alone when nothing else is running.
class MemoryBudget {
 public:
  explicit MemoryBudget(uint64_t limit) : limit_(limit) {}

  void Take(uint64_t bytes) {
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [&] { return limit_ == 0 || in_use_ == 0 || in_use_ + bytes <= limit_; });
    in_use_ += bytes;
  }

  void Give(uint64_t bytes) {
    {
      const std::lock_guard lock(mutex_);
      in_use_ -= bytes;
    }
    freed_.notify_all();
  }

 private:
  const uint64_t limit_;
  uint64_t in_use_ = 0;
  std::mutex mutex_;
  std::condition_variable freed_;
};

// One call's share of the budget, taken while it lives.
class BudgetShare {
 public:
  BudgetShare(MemoryBudget& budget, uint64_t bytes) : budget_(budget), bytes_(bytes) {
    budget_.Take(bytes_);
  }
  ~BudgetShare() {
    try {
      budget_.Give(bytes_);
    } catch (...) {  // a lock the system refuses: nothing left to do
    }
  }
  BudgetShare(const BudgetShare&) = delete;
  BudgetShare& operator=(const BudgetShare&) = delete;

 private:
  MemoryBudget& budget_;
  const uint64_t bytes_;
};

// The JPEG's file name under the system's rule for letter case in names:
// two paths with different keys never name the same file, whatever folders
// or links lie before it and whether the file system tells letter case
// apart.
std::u16string FileKey(const std::u16string& dest) {
  std::u16string key;
  if (!RunStep([&] { key = LastComponent(dest); })) key = dest;
  return FileNameCaseKey(key);
}

// Groups of calls that run one after the other, each group in name order,
// kept as a forest over the calls' positions whose roots are the groups'
// first calls.
class CallGroups {
 public:
  explicit CallGroups(size_t count) : first_(count) {
    for (size_t i = 0; i < count; ++i) first_[i] = i;
  }
  size_t FirstOf(size_t call) {
    while (first_[call] != call) call = first_[call] = first_[first_[call]];
    return call;
  }
  void Join(size_t a, size_t b) {
    a = FirstOf(a);
    b = FirstOf(b);
    first_[std::max(a, b)] = std::min(a, b);
  }

 private:
  std::vector<size_t> first_;
};

// Calls whose JPEGs share a file name: the later name's JPEG is the one left.
void JoinSameJpegNames(const std::vector<Conversion>& conversions, CallGroups& groups) {
  std::unordered_map<std::u16string, size_t> first_of_key;
  for (size_t i = 0; i < conversions.size(); ++i) {
    const auto [found, added] = first_of_key.try_emplace(FileKey(*conversions[i].dest), i);
    groups.Join(found->second, i);
  }
}

struct IdentityHash {
  size_t operator()(const FileIdentity& identity) const {
    return std::hash<uint64_t>()(identity.file ^ (identity.volume * 0x9E3779B97F4A7C15u));
  }
};

// Calls that read or write a file another call writes: a bitmap that is
// another name's JPEG, through a link or under a second name, is read before
// or after that JPEG is put in place as one call after the other would read
// it. Files are told apart by what the system knows them by, not by name. A
// JPEG that does not exist yet is no bitmap either way: reading it fails
// before and after it is written.
void JoinSharedFiles(const std::vector<Conversion>& conversions, CallGroups& groups) {
  std::vector<std::optional<FileIdentity>> reads(conversions.size());
  std::vector<std::optional<FileIdentity>> writes(conversions.size());
  std::unordered_set<FileIdentity, IdentityHash> written;
  for (size_t i = 0; i < conversions.size(); ++i) {
    reads[i] = IdentityOfFile(*conversions[i].source);
    writes[i] = IdentityOfFile(*conversions[i].dest);
    if (writes[i]) written.insert(*writes[i]);
  }
  if (written.empty()) return;
  std::unordered_map<FileIdentity, size_t, IdentityHash> first_to_touch;
  for (size_t i = 0; i < conversions.size(); ++i) {
    for (const std::optional<FileIdentity>& file : {reads[i], writes[i]}) {
      if (!file || !written.contains(*file)) continue;
      const auto [found, added] = first_to_touch.try_emplace(*file, i);
      groups.Join(found->second, i);
    }
  }
}

// How many threads the calls use together, those making them and those each
// call codes its picture on: limits.workers. Where each further thread takes
// memory while it lives, only as many as leave the largest call what it has
// on one thread.
size_t ThreadLimit(const ConversionChains& chains, const PoolLimits& limits) {
  const size_t threads = std::max(limits.workers, 1u);
  if (threads == 1 || limits.thread_bytes == 0 || limits.memory_bytes == 0) return threads;
  uint64_t largest = 0;
  for (const std::vector<Conversion*>& chain : chains) {
    for (const Conversion* conversion : chain) {
      try {
        largest = std::max(largest, limits.memory_of ? limits.memory_of(*conversion->source) : 0);
      } catch (...) {  // a call without an estimate fails alone when it is made
      }
    }
  }
  const uint64_t spare = limits.memory_bytes > largest ? limits.memory_bytes - largest : 0;
  return std::min<uint64_t>(threads, 1 + spare / limits.thread_bytes);
}

// The threads each call may code its picture on, decided as it starts. While
// calls are left to start, each takes one: the calls side by side use the
// threads. The last one to start takes what the calls still running leave of
// `limit`: a lone bitmap codes on all of them.
class ThreadShares {
 public:
  ThreadShares(size_t limit, size_t calls) : limit_(limit), waiting_(calls) {}

  // For a call that starts now; End() when it returns.
  unsigned Start() {
    const std::lock_guard lock(mutex_);
    if (waiting_ > 0) --waiting_;
    ++running_;
    if (waiting_ > 0 || running_ >= limit_) return 1;
    return static_cast<unsigned>(limit_ - running_ + 1);
  }
  void End() {
    const std::lock_guard lock(mutex_);
    --running_;
  }

 private:
  const size_t limit_;
  size_t waiting_;  // calls not yet started
  size_t running_ = 0;
  std::mutex mutex_;
};

}  // namespace

ConversionChains PlanConversions(std::vector<Conversion>& conversions, unsigned workers) {
  const bool side_by_side = workers > 1 && conversions.size() > 1;
  CallGroups groups(conversions.size());
  if (side_by_side) {
    JoinSameJpegNames(conversions, groups);
    JoinSharedFiles(conversions, groups);
  } else {
    for (size_t i = 1; i < conversions.size(); ++i) groups.Join(0, i);
  }
  ConversionChains chains;
  std::vector<size_t> chain_of_first(conversions.size());
  for (size_t i = 0; i < conversions.size(); ++i) {
    const size_t first = groups.FirstOf(i);
    if (first == i) {
      chain_of_first[i] = chains.size();
      chains.emplace_back();
    }
    chains[chain_of_first[first]].push_back(&conversions[i]);
  }
  return chains;
}

void RunConversions(const ConversionChains& chains, const ConvertFunction& convert, uint8_t quality,
                    int16_t progressive, const PoolLimits& limits, BatchProgress& progress) {
  const size_t thread_limit = ThreadLimit(chains, limits);
  const size_t worker_count = std::min(thread_limit, std::max<size_t>(chains.size(), 1));
  // One worker runs every call alone: its needs are not looked up.
  const bool budgeted = worker_count > 1 && limits.memory_of;
  // What the calls may take once every thread they may use has had its
  // share (0: no bound).
  MemoryBudget budget(
      limits.memory_bytes == 0
          ? 0
          : std::max<uint64_t>(limits.memory_bytes - (thread_limit - 1) * limits.thread_bytes, 1));
  size_t call_count = 0;
  for (const std::vector<Conversion*>& chain : chains) call_count += chain.size();
  ThreadShares shares(thread_limit, call_count);
  std::atomic<size_t> next_chain{0};
  // Whatever fails around a call fails that call alone, which then counts as
  // not completed: a worker thread never ends the program.
  auto make_call = [&](Conversion& conversion) {
    try {
      const BudgetShare share(budget, budgeted ? limits.memory_of(*conversion.source) : 0);
      // A cancel may come while the call waits for its memory.
      if (progress.cancel_requested()) return;
      conversion.started = true;
      const unsigned threads = shares.Start();
      conversion.completed = RunStep([&] {
        conversion.result =
            convert(*conversion.source, *conversion.dest, quality, progressive, threads);
      });
      shares.End();
    } catch (...) {
      conversion.completed = false;
    }
    progress.CallReturned();
  };
  auto work = [&] {
    for (size_t chain = next_chain++; chain < chains.size(); chain = next_chain++) {
      for (Conversion* conversion : chains[chain]) {
        if (progress.cancel_requested()) return;
        make_call(*conversion);
      }
    }
  };
  std::vector<std::thread> workers;
  for (size_t i = 1; i < worker_count; ++i) {
    // Without another thread the calls still run, on fewer workers.
    if (!RunStep([&] { workers.emplace_back(work); })) break;
  }
  work();
  for (std::thread& worker : workers) worker.join();
  progress.Finish();
}

}  // namespace morvane
