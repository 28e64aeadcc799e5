// The memory a process may still take, as the program's system layer
// (MemoryAvailableToProcess) and the encoder library's own copy
// (savejpg::MemoryAvailable) each find it: the same rules, checked on both.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/cgroup_memory.h"
#include "platform/platform.h"
#include "savejpg.h"
#include "system_memory.h"
#include "test_support/bitmap.h"
#include "test_support/files.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test_support::ReadText;
using test_support::TempFolder;
using test_support::WriteFile;

constexpr uint64_t kMiB = uint64_t{1} << 20;

// The figures `measure` gives in a child process, so that the limits it
// sets end with it; empty when the child failed.
std::vector<uint64_t> FiguresFromChild(const std::function<std::vector<uint64_t>()>& measure) {
  int ends[2];
  if (::pipe(ends) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ends[0]);
    std::string text;
    for (const uint64_t figure : measure()) text += std::to_string(figure) + " ";
    const bool written = ::write(ends[1], text.data(), text.size()) == ssize_t(text.size());
    ::_exit(written ? 0 : 1);
  }
  ::close(ends[1]);
  std::string text;
  char buffer[256];
  ssize_t got = 0;
  while ((got = ::read(ends[0], buffer, sizeof buffer)) > 0) text.append(buffer, size_t(got));
  ::close(ends[0]);
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    return {};
  }
  std::vector<uint64_t> figures;
  std::istringstream in(text);
  for (uint64_t figure = 0; in >> figure;) figures.push_back(figure);
  return figures;
}

// Field `index` of /proc/self/statm, in bytes.
uint64_t ProcessUse(int index) {
  std::istringstream statm(ReadText("/proc/self/statm"));
  uint64_t pages = 0;
  for (int i = 0; i <= index; ++i) statm >> pages;
  return pages * static_cast<uint64_t>(::sysconf(_SC_PAGE_SIZE));
}

TEST(MemoryAvailableToProcess, IsWithinTheAddressSpaceAndDataLimitsLessWhatIsUsed) {
  for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    const std::vector<uint64_t> figures = FiguresFromChild([resource]() -> std::vector<uint64_t> {
      // 512 MiB past what the process holds against the limit already.
      const uint64_t used = ProcessUse(resource == RLIMIT_AS ? 0 : 5);
      struct rlimit limit {};
      ::getrlimit(resource, &limit);
      limit.rlim_cur = used + 512 * kMiB;
      if (::setrlimit(resource, &limit) != 0) return {};
      return {MemoryAvailableToProcess(), savejpg::MemoryAvailable()};
    });
    ASSERT_EQ(figures.size(), 2u) << "resource " << resource;
    for (const uint64_t figure : figures) {
      EXPECT_LE(figure, 512 * kMiB) << "resource " << resource;
      EXPECT_GT(figure, 448 * kMiB) << "resource " << resource;
    }
  }
  // Without such limits: the machine's memory, less a little.
  EXPECT_LE(MemoryAvailableToProcess(), PhysicalMemoryBytes());
  EXPECT_GT(MemoryAvailableToProcess(), PhysicalMemoryBytes() / 2);
}

// A thread takes address space while it lives, idle or not: its stack and
// its allocator's heap. Under an address-space limit MemoryEachThreadTakes
// counts at least what the process grows by when one more thread allocates.
TEST(MemoryEachThreadTakes, IsWhatAThreadTakesOfALimitedAddressSpace) {
  struct rlimit unlimited {};
  if (::getrlimit(RLIMIT_AS, &unlimited) == 0 && unlimited.rlim_cur == RLIM_INFINITY &&
      ::getrlimit(RLIMIT_DATA, &unlimited) == 0 && unlimited.rlim_cur == RLIM_INFINITY) {
    EXPECT_EQ(MemoryEachThreadTakes(), 0u);
  }
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's threads take address space of their own";
#endif
  const std::vector<uint64_t> figures = FiguresFromChild([]() -> std::vector<uint64_t> {
    struct rlimit limit {};
    ::getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = ProcessUse(0) + 1024 * kMiB;
    if (::setrlimit(RLIMIT_AS, &limit) != 0) return {};
    const uint64_t before = ProcessUse(0);
    std::atomic<bool> measured{false};
    std::atomic<uint64_t> during{0};
    std::thread thread([&] {
      void* block = std::malloc(100);
      during = ProcessUse(0);
      while (!measured) std::this_thread::yield();
      std::free(block);
    });
    while (during == 0) std::this_thread::yield();
    measured = true;
    thread.join();
    return {MemoryEachThreadTakes(), during - before};
  });
  ASSERT_EQ(figures.size(), 2u);
  EXPECT_GE(figures[0], figures[1]);
  EXPECT_LE(figures[0], figures[1] + 16 * kMiB);  // not much more either
}

// Control groups as /proc and /sys show them, with their control files in
// a temporary folder that stands for the mounts.
TEST(CgroupMemoryLimit, IsTheLeastLimitOfTheProcesssGroupsAndThoseAboveThem) {
  TempFolder temp;
  const std::string base = temp.path().string();
  temp.AddFile("v2/a/memory.max", "1073741824\n");
  temp.AddFile("v2/a/b/memory.max", "max\n");
  temp.AddFile("v2/a/b/c/memory.max", "2147483648\n");
  temp.AddFile("v2/other/memory.max", "4096\n");
  temp.AddFile("v1 mem/memory.limit_in_bytes", "9223372036854771712\n");
  temp.AddFile("v1 mem/y/memory.limit_in_bytes", "536870912\n");
  const std::string v2_mount =
      "30 25 0:26 / " + base + "/v2 rw,nosuid shared:4 - cgroup2 cgroup2 rw";
  // Mounted with a group of its own as the root, as in a container.
  const std::string v1_mount =
      "35 25 0:32 /docker/x " + base + "/v1\\040mem rw,relatime shared:9 - cgroup cgroup rw,memory";
  const std::string cpu_mount = "32 25 0:29 / " + base + "/v1\\040mem rw - cgroup cgroup rw,cpu";
  const struct {
    const char* what;
    std::string cgroups, mountinfo;
    uint64_t limit;
  } cases[] = {
      {"v2, a group above sets the least", "0::/a/b/c\n", v2_mount + "\n", 1073741824},
      {"v2, the group itself", "0::/other\n", v2_mount + "\n" + cpu_mount + "\n", 4096},
      {"v2 at its mount", "0::/\n", v2_mount + "\n", UINT64_MAX},
      {"v1 below a mount root, blank escaped", "5:memory:/docker/x/y\n4:cpu:/docker/x\n",
       v1_mount + "\n", 536870912},
      {"v1 outside the mount root", "5:memory:/docker/xy\n", v1_mount + "\n", UINT64_MAX},
      {"no memory controller on the line", "4:cpu,cpuacct:/y\n", cpu_mount + "\n", UINT64_MAX},
      {"both, the least of them", "5:cpu,memory:/docker/x/y\n0::/a/b\n", v1_mount + "\n" + v2_mount,
       536870912},
      {"nothing", "", "", UINT64_MAX},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CgroupMemoryLimit(c.cgroups, c.mountinfo), c.limit) << c.what;
    EXPECT_EQ(savejpg::CgroupMemoryLimit(c.cgroups, c.mountinfo), c.limit) << c.what;
  }
}

// A memory control group of its own below the test's, with `limit` bytes;
// removed at the end of the scope. Empty where this process may not make one.
class MemoryGroup {
 public:
  explicit MemoryGroup(uint64_t limit) {
    std::istringstream lines(ReadText("/proc/self/cgroup"));
    for (std::string line; std::getline(lines, line);) {
      const size_t first = line.find(':'), second = line.find(':', first + 1);
      const std::string controllers = line.substr(first + 1, second - first - 1);
      const bool v1 = controllers == "memory";
      if (!v1 && !(line.rfind("0::", 0) == 0)) continue;
      const fs::path folder = fs::path(v1 ? "/sys/fs/cgroup/memory" : "/sys/fs/cgroup") /
                              line.substr(second + 1).substr(1) /
                              ("morvane-test-" + std::to_string(::getpid()));
      std::error_code error;
      if (!fs::create_directory(folder, error)) continue;
      std::ofstream(folder / (v1 ? "memory.limit_in_bytes" : "memory.max")) << limit;
      std::ofstream(folder / "memory.swappiness") << 0;  // v1: no swap, where there is some
      folder_ = folder;
      if (ReadText(folder / (v1 ? "memory.limit_in_bytes" : "memory.max")) ==
          std::to_string(limit) + "\n") {
        return;
      }
      Remove();
    }
  }
  ~MemoryGroup() { Remove(); }
  bool made() const { return !folder_.empty(); }
  // Moves the calling process into the group.
  bool Enter() const { return bool(std::ofstream(folder_ / "cgroup.procs") << ::getpid()); }

 private:
  void Remove() {
    if (!folder_.empty()) ::rmdir(folder_.c_str());
    folder_.clear();
  }
  fs::path folder_;
};

// A process in a control group with a limit far below the machine's memory:
// both find the limit, and the encoder refuses a picture whose coefficients
// need more than it at once, rather than take memory until the system ends
// the process (and with it the whole batch).
TEST(MemoryAvailableToProcess, IsWithinTheLimitOfTheProcesssControlGroup) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's own memory would be charged to the group";
#endif
  const MemoryGroup group(128 * kMiB);
  if (!group.made()) GTEST_SKIP() << "no memory control group can be made here";
  TempFolder temp;
  // Noise: 5000 x 5000 pixels whose coefficients are hardly ever 0, 150 MB of
  // them at full colour resolution, more than the group allows.
  uint32_t state = 17;
  auto noise = [&state] {
    state = state * 1664525 + 1013904223;
    return static_cast<uint8_t>(state >> 24);
  };
  WriteFile(temp / "noise.bmp",
            test_support::Bitmap24({5000, 5000, [&](int, int) {
                                      return test_support::Colour{noise(), noise(), noise()};
                                    }}));
  std::string source = (temp / "noise.bmp").string(), dest = (temp / "noise.jpg").string();
  const std::vector<uint64_t> figures = FiguresFromChild([&]() -> std::vector<uint64_t> {
    if (!group.Enter()) return {};
    const auto result = static_cast<uint64_t>(SavetoJPEG(source.data(), dest.data(), 100, 0));
    return {MemoryAvailableToProcess(), savejpg::MemoryAvailable(), result};
  });
  ASSERT_EQ(figures.size(), 3u) << "the child ended early";
  for (const uint64_t figure : {figures[0], figures[1]}) {
    EXPECT_LE(figure, 128 * kMiB);
    EXPECT_GT(figure, 64 * kMiB);
  }
  EXPECT_EQ(figures[2], uint64_t{SAVEJPG_ERR_OUT_OF_MEMORY});
  EXPECT_EQ(temp.Names(), std::vector<std::string>{"noise.bmp"});
}

}  // namespace
}  // namespace morvane
