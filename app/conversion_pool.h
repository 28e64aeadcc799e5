// The encoder calls of a batch, run side by side on worker threads once
// every name has its paths, with the results one after the other would give.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/load_handler.h"
#include "core/batch_progress.h"

namespace morvane {

// One encoder call. `source` and `dest` are the batch's own slots: the call
// may rewrite them, as it would one after the other.
struct Conversion {
  std::u16string* source = nullptr;
  std::u16string* dest = nullptr;
  bool started = false;    // the call was made; false when a cancel came first
  bool completed = false;  // the call returned; false when it threw or was not made
  int16_t result = 0;      // what it returned
};

struct PoolLimits {
  // At most this many threads in all (at least one): the threads making
  // calls side by side and those each call codes its picture on.
  unsigned workers = 1;
  uint64_t memory_bytes = 0;  // the calls running at once need no more; 0: no bound
  // What each thread started besides the one the calls are made on takes of
  // memory_bytes while it lives, making a call or not, a call's own threads
  // too (where the address space is limited, its stack and its allocator's
  // heap); 0: nothing.
  uint64_t thread_bytes = 0;
  // What one call needs while it converts `source`.
  std::function<uint64_t(const std::u16string& source)> memory_of;
};

// The order the calls of a batch keep: chains of calls, each made in name
// order, the chains side by side and started in the order of their first
// calls. Calls share a chain when their JPEG paths end in the same file name
// (letter case ignored), so that the later name's JPEG is the one left, and
// when one reads or writes a file that another writes (the same file by its
// identity, through a link or under another name), so that it finds that
// file as one call after the other would. With one worker every call is in
// one chain, in name order.
using ConversionChains = std::vector<std::vector<Conversion*>>;

// Plans `conversions` for `workers` threads, looking up the files' identities
// where more than one. Made before the calls, on the thread that starts the
// batch: the heap of a thread that makes calls then holds no small block of
// the plan among the calls' large ones. Throws std::bad_alloc when memory
// runs out.
ConversionChains PlanConversions(std::vector<Conversion>& conversions, unsigned workers);

// Makes every call of `chains` on up to limits.workers threads, each chain's
// calls one after the other, and tells each call as it starts how many
// threads it may code its picture on: 1 while calls are left to start; the
// last call to start, what the calls still running leave of the threads
// (a lone call, all of them). A call needing more than the whole bound runs
// alone. Where threads take memory of their own, no more threads in all are
// allowed than leave the largest call the memory it has on one thread, so a
// batch converts what one worker converts. Fills in `completed` and `result`; whatever fails around
// a call (its memory estimate, the encoder) fails that call alone, which counts as not completed.
// Counts each call in `progress` as it returns; once `progress` is asked to cancel, starts no more
// calls (those left stay not completed). Returns, after finishing `progress`, when no call runs any
// more.
void RunConversions(const ConversionChains& chains, const ConvertFunction& convert, uint8_t quality,
                    int16_t progressive, const PoolLimits& limits, BatchProgress& progress);

}  // namespace morvane
