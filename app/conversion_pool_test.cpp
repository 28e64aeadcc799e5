#include "app/conversion_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/text.h"
#include "platform/platform.h"
#include "test_support/files.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test_support::ReadText;
using test_support::TempFolder;
using test_support::WriteFile;

// The calls of a batch over real files in a temporary folder, made by an
// encoder that behaves as the real one does towards the files: it reads the
// source (a "bitmap" starts with "BM"), takes its time, then puts a new file
// in the JPEG's place by renaming. It notes when each call began and ended.
class PoolTest : public ::testing::Test {
 protected:
  struct Span {
    int began = -1;
    int ended = -1;
  };

  // Adds a call converting `source` to `dest`, names relative to the folder.
  void AddCall(const std::string& source, const std::string& dest) {
    sources_.push_back(PathText(source));
    dests_.push_back(PathText(dest));
  }

  void RunAll(unsigned workers) {
    conversions_.clear();
    for (size_t i = 0; i < sources_.size(); ++i) {
      conversions_.push_back({&sources_[i], &dests_[i]});
    }
    PoolLimits limits = limits_;
    limits.workers = workers;
    limits.memory_of = memory_of_;
    BatchProgress progress(conversions_.size());
    RunConversions(PlanConversions(conversions_, workers), convert_, 85, 0, limits, progress);
    EXPECT_TRUE(progress.finished());
    EXPECT_EQ(progress.done(), conversions_.size());
  }

  std::u16string PathText(const std::string& relative) const {
    return FromSystemText((temp_ / relative).string());
  }
  std::string Name(const std::u16string& path) const {
    return fs::path(ToSystemText(path)).filename().string();
  }

  int16_t Convert(const std::u16string& source, const std::u16string& dest, unsigned threads = 1) {
    spans_[Name(source)].began = ++clock_;
    {
      const std::lock_guard lock(threads_mutex_);
      threads_.insert(std::this_thread::get_id());
      given_[Name(source)] = threads;
      running_threads_ += threads;
      most_threads_ = std::max(most_threads_, running_threads_);
    }
    const std::string bytes = ReadText(ToSystemText(source));
    // Long enough for any other worker to start what it may start.
    std::this_thread::sleep_for(std::chrono::milliseconds(bytes.size() > 4 ? 60 : 1));
    const std::string temp = ToSystemText(dest) + ".tmp";
    if (bytes.rfind("BM", 0) == 0) {
      WriteFile(temp, "JPEG of " + bytes);
      fs::rename(temp, ToSystemText(dest));
    }
    spans_[Name(source)].ended = ++clock_;
    {
      const std::lock_guard lock(threads_mutex_);
      running_threads_ -= threads;
    }
    return bytes.rfind("BM", 0) == 0 ? 0 : 5;
  }

  TempFolder temp_;
  std::vector<std::u16string> sources_;
  std::vector<std::u16string> dests_;
  std::vector<Conversion> conversions_;
  std::map<std::string, Span> spans_;  // by the source's name, filled before the calls run
  std::atomic<int> clock_{0};
  std::mutex threads_mutex_;
  std::set<std::thread::id> threads_;      // those that made a call
  std::map<std::string, unsigned> given_;  // the threads each call was given, by source name
  unsigned running_threads_ = 0;           // those of the calls running now
  unsigned most_threads_ = 0;              // the most running_threads_ was
  PoolLimits limits_;  // what RunAll gives the pool besides its workers and estimates
  std::function<uint64_t(const std::u16string&)> memory_of_;
  ConvertFunction convert_ = [this](std::u16string& source, std::u16string& dest, uint8_t, int16_t,
                                    unsigned threads) { return Convert(source, dest, threads); };
};

// b.BMP, c.BMP and d.bmp are another name's JPEG (a.jpg, e.jpg) through a
// link or a second name: each is read as one call after the other reads
// it, before or after that JPEG is replaced. x.BMP shares nothing and runs
// beside them.
TEST_F(PoolTest, ACallRunsAfterAnEarlierCallThatWritesOrReadsAFileItReadsOrWrites) {
  WriteFile(temp_ / "a.BMP", "BM picture a");
  WriteFile(temp_ / "a.jpg", "BM an old bitmap under a JPEG's name");
  fs::create_symlink("a.jpg", temp_ / "b.BMP");
  fs::create_hard_link(temp_ / "a.jpg", temp_ / "c.BMP");
  WriteFile(temp_ / "e.jpg", "BM old e");
  fs::create_symlink("e.jpg", temp_ / "d.BMP");
  WriteFile(temp_ / "e.BMP", "BM picture e");
  WriteFile(temp_ / "x.BMP", "BM picture x");
  for (const char* name : {"a", "b", "c", "d", "e", "x"}) {
    spans_[std::string(name) + ".BMP"];
    AddCall(std::string(name) + ".BMP", std::string(name) + ".jpg");
  }
  RunAll(4);

  for (const char* later : {"b.BMP", "c.BMP"}) {
    EXPECT_GT(spans_[later].began, spans_["a.BMP"].ended) << later << " began before a.BMP ended";
  }
  EXPECT_GT(spans_["e.BMP"].began, spans_["d.BMP"].ended) << "e.jpg replaced before d.BMP ended";
  EXPECT_LT(spans_["x.BMP"].began, spans_["a.BMP"].ended) << "x.BMP waited for nothing";
  // b.BMP read the new a.jpg, which is no bitmap; c.BMP, another name of
  // the old file, still holds the old bitmap; d.BMP read the old e.jpg.
  EXPECT_EQ(conversions_[1].result, 5);
  EXPECT_EQ(ReadText(temp_ / "c.jpg"), "JPEG of BM an old bitmap under a JPEG's name");
  EXPECT_EQ(ReadText(temp_ / "d.jpg"), "JPEG of BM old e");
  EXPECT_EQ(ReadText(temp_ / "e.jpg"), "JPEG of BM picture e");
}

// Whatever fails around one call (its memory estimate, the encoder with any
// kind of exception) fails that call alone; the other calls are made and the
// program goes on.
TEST_F(PoolTest, AFailureAroundOneCallFailsThatCallAlone) {
  for (const char* name : {"p1", "estimate", "bad_alloc", "other", "p2", "p3"}) {
    WriteFile(temp_ / (std::string(name) + ".BMP"), "BM");
    spans_[std::string(name) + ".BMP"];
    AddCall(std::string(name) + ".BMP", std::string(name) + ".jpg");
  }
  memory_of_ = [this](const std::u16string& source) -> uint64_t {
    if (Name(source) == "estimate.BMP") throw std::bad_alloc();
    return 1;
  };
  convert_ = [this](std::u16string& source, std::u16string& dest, uint8_t, int16_t,
                    unsigned) -> int16_t {
    if (Name(source) == "bad_alloc.BMP") throw std::bad_alloc();
    if (Name(source) == "other.BMP") throw 42;
    return Convert(source, dest);
  };
  for (const unsigned workers : {1u, 3u}) {
    RunAll(workers);
    for (size_t i = 0; i < conversions_.size(); ++i) {
      // One worker makes every call alone, without an estimate.
      const bool fails = (i == 1 && workers > 1) || i == 2 || i == 3;
      EXPECT_EQ(conversions_[i].completed, !fails) << i << ", " << workers << " workers";
      if (!fails) {
        EXPECT_EQ(conversions_[i].result, 0) << i << ", " << workers << " workers";
      }
    }
  }
}

// Where each thread takes memory of its own while it lives (its stack and
// heap under an address-space limit), no more threads are started than leave
// the largest call what it has on one: 200 bytes, 30 a thread, a call of 150
// leaves room for one more thread, not eight.
TEST_F(PoolTest, ThreadsTakingMemoryLeaveTheLargestCallWhatItHasAlone) {
  for (int i = 1; i <= 12; ++i) {
    const std::string name = (i == 5 ? "big" : "p" + std::to_string(i)) + std::string(".BMP");
    WriteFile(temp_ / name, "BM picture");
    spans_[name];
    AddCall(name, name.substr(0, name.size() - 4) + ".jpg");
  }
  memory_of_ = [this](const std::u16string& source) -> uint64_t {
    return Name(source) == "big.BMP" ? 150 : 10;
  };
  limits_.memory_bytes = 200;
  limits_.thread_bytes = 30;
  RunAll(8);
  EXPECT_LE(threads_.size(), 2u);
  EXPECT_LE(most_threads_, 2u) << "the calls' own threads count too";
  for (const Conversion& conversion : conversions_) EXPECT_TRUE(conversion.completed);
}

// A lone bitmap codes on every thread the program may use: MORVANE_WORKERS,
// or fewer where each thread takes memory the call then lacks (200 bytes, 30
// a thread, a call of 150: two threads).
TEST_F(PoolTest, ALoneCallCodesOnEveryThreadThereIsRoomFor) {
  WriteFile(temp_ / "a.BMP", "BM picture");
  AddCall("a.BMP", "a.jpg");
  for (const unsigned workers : {1u, 4u}) {
    RunAll(workers);
    EXPECT_EQ(given_["a.BMP"], workers);
  }
  memory_of_ = [](const std::u16string&) -> uint64_t { return 150; };
  limits_.memory_bytes = 200;
  limits_.thread_bytes = 30;
  RunAll(4);
  EXPECT_EQ(given_["a.BMP"], 2u);
}

// Calls side by side never use more threads together than the workers: a
// call that starts while others are left to start codes on one thread; only
// the last to start may take what the calls still running leave.
TEST_F(PoolTest, CallsSideBySideUseNoMoreThreadsTogetherThanTheWorkers) {
  for (int i = 1; i <= 6; ++i) {
    const std::string name = "p" + std::to_string(i);
    WriteFile(temp_ / (name + ".BMP"), "BM picture " + name);
    spans_[name + ".BMP"];
    AddCall(name + ".BMP", name + ".jpg");
  }
  for (const unsigned workers : {1u, 2u}) {
    most_threads_ = 0;
    RunAll(workers);
    EXPECT_LE(most_threads_, workers) << workers << " workers";
    std::string last;
    for (const auto& [name, span] : spans_) {
      if (last.empty() || span.began > spans_[last].began) last = name;
    }
    for (const auto& [name, threads] : given_) {
      const unsigned expected = name == last ? given_[last] : 1;
      EXPECT_EQ(threads, expected) << name << ", " << workers << " workers";
    }
  }
}

}  // namespace
}  // namespace morvane
