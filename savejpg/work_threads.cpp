#include "work_threads.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace savejpg {

void RunJobs(unsigned threads, size_t jobs, const std::function<void(size_t job)>& job) {
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex failure_mutex;
  std::exception_ptr failure;
  const auto work = [&] {
    for (size_t i = next++; i < jobs && !failed.load(std::memory_order_relaxed); i = next++) {
      try {
        job(i);
      } catch (...) {
        const std::lock_guard lock(failure_mutex);
        if (!failure) failure = std::current_exception();
        failed = true;
      }
    }
  };
  std::vector<std::thread> helpers;
  const size_t wanted = threads > 1 ? std::min<size_t>(threads - 1, jobs > 0 ? jobs - 1 : 0) : 0;
  try {
    helpers.reserve(wanted);
    for (size_t i = 0; i < wanted; ++i) helpers.emplace_back(work);
  } catch (const std::system_error&) {  // fewer threads: the jobs still run
  } catch (const std::bad_alloc&) {
  }
  work();
  for (std::thread& helper : helpers) helper.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace savejpg
