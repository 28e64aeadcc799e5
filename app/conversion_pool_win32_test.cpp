// The batch's encoder calls on Windows: two JPEG names that NTFS takes for
// one file, though they differ beyond ASCII, run one after the other in
// name order, so the later name's JPEG is the one left, as with names that
// differ only in ASCII letter case. Wine keeps such names apart on its
// disk, so the order is checked on the calls themselves.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/conversion_pool.h"
#include "platform/platform.h"

namespace morvane {
namespace {

struct CallsSeen {
  std::mutex mutex;
  std::vector<std::u16string> started;  // the sources, in the order their calls began
  int running = 0;
  bool overlapped = false;
};

// Runs one call per JPEG path on two workers; each call lasts a while, so
// two calls of different chains run at the same time.
void RunOnTwoWorkers(const std::vector<std::u16string>& dests, CallsSeen& seen) {
  std::vector<std::u16string> sources, jpegs = dests;
  for (size_t i = 0; i < dests.size(); ++i)
    sources.push_back(u"name " + std::u16string(1, static_cast<char16_t>(u'1' + i)));
  std::vector<Conversion> conversions(dests.size());
  for (size_t i = 0; i < dests.size(); ++i) {
    conversions[i].source = &sources[i];
    conversions[i].dest = &jpegs[i];
  }
  const ConvertFunction convert = [&seen](std::u16string& source, std::u16string&, uint8_t, int16_t,
                                          unsigned) -> int16_t {
    {
      const std::lock_guard lock(seen.mutex);
      seen.started.push_back(source);
      seen.overlapped = seen.overlapped || seen.running > 0;
      ++seen.running;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::lock_guard lock(seen.mutex);
    --seen.running;
    return 0;
  };
  PoolLimits limits;
  limits.workers = 2;
  BatchProgress progress(conversions.size());
  RunConversions(PlanConversions(conversions, limits.workers), convert, 85, 0, limits, progress);
  for (const Conversion& conversion : conversions) EXPECT_TRUE(conversion.completed);
}

TEST(RunConversionsOnWindows, NamesOfOneFileBeyondAsciiRunInNameOrder) {
  const std::vector<std::vector<std::u16string>> cases = {
      {u"C:\\out\\\uFF21\uFF22\uFF23.jpg", u"D:\\other\\\uFF41\uFF42\uFF43.jpg"},  // ＡＢＣ, ａｂｃ
      {u"C:\\out\\\u00C9.jpg", u"C:\\out\\\u00E9.jpg"},                            // É, é
      {u"C:\\out\\\u03A9.JPG", u"C:\\out\\\u03C9.jpg"},                            // Ω, ω
  };
  for (const std::vector<std::u16string>& dests : cases) {
    SCOPED_TRACE(ToSystemText(dests[0]) + " / " + ToSystemText(dests[1]));
    CallsSeen seen;
    RunOnTwoWorkers(dests, seen);
    EXPECT_FALSE(seen.overlapped);
    EXPECT_EQ(seen.started, (std::vector<std::u16string>{u"name 1", u"name 2"}));
  }
}

}  // namespace
}  // namespace morvane
