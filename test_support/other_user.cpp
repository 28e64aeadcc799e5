#include "test_support/other_user.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace morvane::test_support {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    done += static_cast<size_t>(put);
  }
}

// The child's side: what it found, or what went wrong.
std::string ChildResult(const fs::path& read_only_folder,
                        const std::function<std::string()>& body) {
  if (std::string failed = BecomeOtherUser(); !failed.empty()) return "child: " + failed;
  const fs::path probe = read_only_folder / "probe-by-test";
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd >= 0) {
    ::close(fd);
    ::unlink(probe.c_str());
    return "child: could create a file in " + read_only_folder.string() + " as uid " +
           std::to_string(::geteuid()) + ": that folder is not read-only to it";
  }
  if (errno != EACCES)
    return "child: probing " + read_only_folder.string() + ": " + std::strerror(errno);
  try {
    return body();
  } catch (const std::exception& error) {
    return std::string("child: ") + error.what();
  }
}

}  // namespace

std::string BecomeOtherUser() {
  if (::geteuid() != 0) return {};
  if (::setgroups(0, nullptr) != 0) return std::string("setgroups: ") + std::strerror(errno);
  if (::setgid(kNobody) != 0) return std::string("setgid: ") + std::strerror(errno);
  if (::setuid(kNobody) != 0) return std::string("setuid: ") + std::strerror(errno);
  if (::geteuid() != kNobody) return "still uid " + std::to_string(::geteuid());
  return {};
}

void GiveToOtherUser(const fs::path& path) {
  if (::geteuid() == 0 && ::chown(path.c_str(), kNobody, kNobody) != 0) {
    throw fs::filesystem_error("chown", path, std::error_code(errno, std::generic_category()));
  }
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
}

void LetEveryoneReach(const fs::path& path) {
  for (fs::path at = path; !at.empty() && at != at.root_path(); at = at.parent_path()) {
    struct stat info;
    if (::stat(at.c_str(), &info) != 0 || info.st_uid != ::geteuid()) continue;
    ::chmod(at.c_str(), (info.st_mode & 07777) | S_IXUSR | S_IXGRP | S_IXOTH);
  }
}

std::string AsOtherUser(const fs::path& read_only_folder,
                        const std::function<std::string()>& body) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return "child: no pipe";
  const pid_t pid = ::fork();
  if (pid < 0) return "child: no fork";
  if (pid == 0) {
    ::close(pipe_fds[0]);
    WriteAll(pipe_fds[1], ChildResult(read_only_folder, body));
    // No exit handlers: they belong to the parent's test program.
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  std::string result;
  char chunk[4096];
  ssize_t got;
  while ((got = ::read(pipe_fds[0], chunk, sizeof chunk)) != 0) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    result.append(chunk, static_cast<size_t>(got));
  }
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child: ended abnormally";
  return result;
}

}  // namespace morvane::test_support
