// How far a batch's encoder calls have come, shared between the threads
// that make the calls and the thread that shows the progress, and the
// user's request to stop the batch.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace morvane {

class BatchProgress {
 public:
  using Clock = std::chrono::steady_clock;

  // A batch of `total` encoder calls, starting now.
  explicit BatchProgress(size_t total) : total_(total) {}
  BatchProgress(const BatchProgress&) = delete;
  BatchProgress& operator=(const BatchProgress&) = delete;

  // The encoder calls the batch is to make.
  size_t total() const { return total_; }
  // The calls that have returned, converted or not.
  size_t done() const { return done_.load(); }
  Clock::time_point started() const { return started_; }
  // No call runs any more and none will start.
  bool finished() const { return finished_.load(); }

  // Any thread: start no more calls. The calls running finish (the encoder
  // never leaves a partial JPEG); those never started are not converted.
  void RequestCancel() { cancel_requested_.store(true); }
  bool cancel_requested() const { return cancel_requested_.load(); }

  // Waits until the batch has finished or `deadline` has come; gives
  // finished().
  bool WaitUntil(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return finished_changed_.wait_until(lock, deadline, [this] { return finished(); });
  }
  void Wait() {
    std::unique_lock lock(mutex_);
    finished_changed_.wait(lock, [this] { return finished(); });
  }

  // For the batch driver: one more call has returned; then, once, every call
  // has returned or been given up.
  void CallReturned() { ++done_; }
  void Finish() {
    {
      const std::lock_guard lock(mutex_);
      finished_.store(true);
    }
    finished_changed_.notify_all();
  }

 private:
  const size_t total_;
  const Clock::time_point started_ = Clock::now();
  std::atomic<size_t> done_{0};
  std::atomic<bool> cancel_requested_{false};
  std::atomic<bool> finished_{false};
  std::mutex mutex_;
  std::condition_variable finished_changed_;
};

}  // namespace morvane
