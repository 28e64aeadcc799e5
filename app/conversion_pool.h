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
  unsigned workers = 1;       // at most this many calls at once (at least one)
  uint64_t memory_bytes = 0;  // the calls running at once need no more; 0: no bound
  // What one call needs while it converts `source`.
  std::function<uint64_t(const std::u16string& source)> memory_of;
};

// Makes every call of `conversions`, in name order for any two whose JPEG
// paths end in the same file name (letter case ignored), so that the later
// name's JPEG is the one left; any others side by side. A call needing more
// than the whole bound runs alone. Fills in `completed` and `result`.
// Counts each call in `progress` as it returns; once `progress` is asked
// to cancel, starts no more calls (those left stay not completed). Returns,
// after finishing `progress`, when no call runs any more.
void RunConversions(std::vector<Conversion>& conversions, const ConvertFunction& convert,
                    uint8_t quality, int16_t progressive, const PoolLimits& limits,
                    BatchProgress& progress);

}  // namespace morvane
