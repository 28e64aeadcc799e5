// Jobs of one conversion run side by side on a few threads.
#pragma once

#include <cstddef>
#include <functional>

namespace savejpg {

// Runs job(0) to job(jobs - 1), each once, on the calling thread and up to
// threads - 1 threads started for them, which take the next job left as
// they finish one. Where the system gives fewer threads, the jobs run on
// those it gives, at least on the calling one. The first exception a job
// throws stops the jobs not yet begun and is thrown again once every
// thread has ended; the jobs under way finish first.
void RunJobs(unsigned threads, size_t jobs, const std::function<void(size_t job)>& job);

}  // namespace savejpg
