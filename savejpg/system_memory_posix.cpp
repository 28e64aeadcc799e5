// MemoryAvailable on POSIX systems: the physical memory, the limits of the
// process's control groups (Linux) and its resource limits, each less what
// the process holds already. The program that loads the library keeps a
// copy of these rules in its own system layer
// (platform/process_memory_posix.cpp); the library needs nothing of it, and
// process_memory_test.cpp holds both to the same results.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "system_memory.h"

namespace savejpg {
namespace {

constexpr uint64_t kNoLimit = UINT64_MAX;

// A file of /proc, whole; empty when it cannot be read.
std::string ReadSystemFile(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string text;
  char buffer[4096];
  ssize_t got = 0;
  while (text.size() < (4u << 20) && (got = read(fd, buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  return text;
}

// A small file of /proc or /sys, read into `buffer`; empty when it cannot
// be read or fills the buffer (it may be longer). It takes no memory from
// the heap: a conversion's heap keeps no small block from it among its large
// ones.
template <size_t kSize>
std::string_view ReadSmallFile(const char* path, char (&buffer)[kSize]) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  const ssize_t got = read(fd, buffer, kSize);
  close(fd);
  return got > 0 && size_t(got) < kSize ? std::string_view(buffer, size_t(got))
                                        : std::string_view();
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (size_t start = 0;;) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

bool Holds(std::string_view list, std::string_view item) {
  const std::vector<std::string_view> items = Split(list, ',');
  return std::find(items.begin(), items.end(), item) != items.end();
}

// A path as mountinfo writes it: a blank, a tab, a line end or a backslash
// as a backslash and three octal digits.
std::string Unescaped(std::string_view field) {
  std::string text;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() &&
        field.substr(i + 1, 3).find_first_not_of("01234567") == std::string_view::npos) {
      text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                (field[i + 3] - '0'));
      i += 3;
    } else {
      text += field[i];
    }
  }
  return text;
}

// A limit as a control file writes it: bytes in decimal, or "max".
uint64_t LimitOf(std::string_view text) {
  uint64_t value = 0;
  size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const auto digit = static_cast<uint64_t>(text[i] - '0');
    if (value > (kNoLimit - digit) / 10) return kNoLimit;
    value = value * 10 + digit;
  }
  return i == 0 ? kNoLimit : value;
}

struct MemoryMount {
  bool unified = false;  // cgroup v2; otherwise v1's memory hierarchy
  std::string root;      // the group mounted there
  std::string point;     // where
};

// The mounts of cgroup v2 and of v1's memory controller in a mountinfo text:
// "ID PARENT MAJ:MIN ROOT POINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPER".
std::vector<MemoryMount> MemoryMounts(std::string_view mountinfo) {
  std::vector<MemoryMount> mounts;
  for (const std::string_view line : Split(mountinfo, '\n')) {
    const std::vector<std::string_view> fields = Split(line, ' ');
    const auto dash = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 5 || fields.end() - dash < 4) continue;
    const std::string_view type = dash[1];
    const bool unified = type == "cgroup2";
    if (!unified && !(type == "cgroup" && Holds(dash[3], "memory"))) continue;
    mounts.push_back({unified, Unescaped(fields[3]), Unescaped(fields[4])});
  }
  return mounts;
}

// Adds to `files` the control file `file` of the folder of `group` below
// `mount` and of each folder above it up to the mount.
void AddFilesUpFrom(const MemoryMount& mount, std::string_view group, const char* file,
                    std::vector<std::string>& files) {
  const std::string_view root = mount.root == "/" ? std::string_view() : mount.root;
  if (group.substr(0, root.size()) != root ||
      (group.size() > root.size() && group[root.size()] != '/')) {
    return;  // the group lies outside what is mounted there
  }
  std::string folder = mount.point + std::string(group.substr(root.size()));
  while (folder.size() > mount.point.size() && folder.back() == '/') folder.pop_back();
  for (;;) {
    files.push_back(folder + "/" + file);
    if (folder.size() <= mount.point.size()) return;
    folder.erase(folder.rfind('/'));
  }
}

// The control files holding the memory limits of the groups named in
// `cgroups` and of those above them: v2's memory.max, v1's
// memory.limit_in_bytes.
std::vector<std::string> LimitFiles(std::string_view cgroups, std::string_view mountinfo) {
  const std::vector<MemoryMount> mounts = MemoryMounts(mountinfo);
  std::vector<std::string> files;
  // "ID:CONTROLLERS:GROUP"; v2's line is "0::GROUP".
  for (const std::string_view line : Split(cgroups, '\n')) {
    const size_t first = line.find(':');
    const size_t second = line.find(':', first == std::string_view::npos ? first : first + 1);
    if (second == std::string_view::npos) continue;
    const std::string_view controllers = line.substr(first + 1, second - first - 1);
    const bool unified = line.substr(0, first) == "0" && controllers.empty();
    if (!unified && !Holds(controllers, "memory")) continue;
    for (const MemoryMount& mount : mounts) {
      if (mount.unified != unified) continue;
      AddFilesUpFrom(mount, line.substr(second + 1),
                     unified ? "memory.max" : "memory.limit_in_bytes", files);
    }
  }
  return files;
}

uint64_t LeastLimitIn(const std::vector<std::string>& files) {
  uint64_t least = kNoLimit;
  char buffer[64];
  for (const std::string& file : files) {
    least = std::min(least, LimitOf(ReadSmallFile(file.c_str(), buffer)));
  }
  return least;
}

// The least limit of the process's control groups. Which groups those are is
// looked up again only when /proc/self/cgroup says something new (the
// process moved): the list of mounts is costly to read.
uint64_t LeastLimitOfThisProcesssGroups() {
  static std::mutex mutex;
  static std::string known_groups;
  static std::vector<std::string> limit_files;
  char buffer[8192];
  std::string_view groups = ReadSmallFile("/proc/self/cgroup", buffer);
  std::string long_text;
  if (groups.empty()) {
    long_text = ReadSystemFile("/proc/self/cgroup");
    groups = long_text;
  }
  const std::lock_guard lock(mutex);
  if (groups != known_groups) {
    limit_files = LimitFiles(groups, ReadSystemFile("/proc/self/mountinfo"));
    known_groups = groups;
  }
  return LeastLimitIn(limit_files);
}

struct ProcessUse {
  uint64_t address_space = 0;
  uint64_t resident = 0;
  uint64_t data = 0;  // its data and stack
};

// From /proc/self/statm: "SIZE RESIDENT SHARED TEXT LIB DATA DT" in pages.
ProcessUse UseOfThisProcess() {
  char buffer[256];
  std::string_view statm = ReadSmallFile("/proc/self/statm", buffer);
  const long page = sysconf(_SC_PAGE_SIZE);
  uint64_t pages[6] = {};
  for (uint64_t& field : pages) {
    const size_t end = statm.find(' ');
    if (end == std::string_view::npos || page <= 0) return {};
    field = LimitOf(statm.substr(0, end));
    if (field == kNoLimit) return {};
    statm.remove_prefix(end + 1);
  }
  const auto size = static_cast<uint64_t>(page);
  return {pages[0] * size, pages[1] * size, pages[5] * size};
}

uint64_t PhysicalMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return kNoLimit;
  const uint64_t count = static_cast<uint64_t>(pages), size = static_cast<uint64_t>(page_size);
  return count > kNoLimit / size ? kNoLimit : count * size;
}

uint64_t Less(uint64_t limit, uint64_t used) {
  if (limit == kNoLimit) return kNoLimit;
  return limit > used ? limit - used : 0;
}

uint64_t ResourceLimit(int resource) {
  struct rlimit limit {};
  if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kNoLimit;
  return static_cast<uint64_t>(limit.rlim_cur);
}

}  // namespace

uint64_t CgroupMemoryLimit(std::string_view cgroups, std::string_view mountinfo) {
  return LeastLimitIn(LimitFiles(cgroups, mountinfo));
}

uint64_t MachineMemory() {
  const uint64_t machine = PhysicalMemory();
  return machine == kNoLimit ? 0 : machine;
}

uint64_t MemoryAvailable() {
  const ProcessUse use = UseOfThisProcess();
  const uint64_t least = std::min({Less(PhysicalMemory(), use.resident),
                                   Less(LeastLimitOfThisProcesssGroups(), use.resident),
                                   Less(ResourceLimit(RLIMIT_AS), use.address_space),
                                   Less(ResourceLimit(RLIMIT_DATA), use.data)});
  if (least == kNoLimit) return 0;
  return std::max<uint64_t>(least, 1);  // nothing left is still a limit
}

}  // namespace savejpg
