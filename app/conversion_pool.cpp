#include "app/conversion_pool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <unordered_map>

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

// The JPEG's file name under the system's rule for letter case in names:
// two paths with different keys never name the same file, whatever folders
// or links lie before it and whether the file system tells letter case
// apart.
std::u16string FileKey(const std::u16string& dest) {
  std::u16string key;
  if (!RunStep([&] { key = LastComponent(dest); })) key = dest;
  return FileNameCaseKey(key);
}

// The calls as chains, each in name order, the chains ordered by their first
// call: the calls of one chain share their JPEG's file name.
std::vector<std::vector<Conversion*>> ChainsOf(std::vector<Conversion>& conversions) {
  std::vector<std::vector<Conversion*>> chains;
  std::unordered_map<std::u16string, size_t> chain_of_key;
  for (Conversion& conversion : conversions) {
    const auto [found, added] = chain_of_key.try_emplace(FileKey(*conversion.dest), chains.size());
    if (added) chains.emplace_back();
    chains[found->second].push_back(&conversion);
  }
  return chains;
}

}  // namespace

void RunConversions(std::vector<Conversion>& conversions, const ConvertFunction& convert,
                    uint8_t quality, int16_t progressive, const PoolLimits& limits,
                    BatchProgress& progress) {
  std::vector<std::vector<Conversion*>> chains = ChainsOf(conversions);
  const size_t worker_count =
      std::clamp<size_t>(limits.workers, 1, std::max<size_t>(chains.size(), 1));
  // One worker runs every call alone: its needs are not looked up.
  const bool budgeted = worker_count > 1 && limits.memory_of;
  MemoryBudget budget(limits.memory_bytes);
  std::atomic<size_t> next_chain{0};
  auto work = [&] {
    for (size_t chain = next_chain++; chain < chains.size(); chain = next_chain++) {
      for (Conversion* conversion : chains[chain]) {
        if (progress.cancel_requested()) return;
        const uint64_t bytes = budgeted ? limits.memory_of(*conversion->source) : 0;
        budget.Take(bytes);
        // A cancel may come while the call waits for its memory.
        if (!progress.cancel_requested()) {
          conversion->started = true;
          conversion->completed = RunStep([&] {
            conversion->result =
                convert(*conversion->source, *conversion->dest, quality, progressive);
          });
          progress.CallReturned();
        }
        budget.Give(bytes);
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
