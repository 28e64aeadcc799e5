// SourceFile for POSIX systems: pread on a descriptor.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "source_file.h"

namespace savejpg {

SourceFile::~SourceFile() {
  if (fd_ >= 0) close(fd_);
}

bool SourceFile::Open(const std::filesystem::path& path) {
  // Without O_NONBLOCK, opening a FIFO waits for a writer that may never
  // come. On a regular file the flag changes nothing.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
    close(fd);
    return false;
  }
  fd_ = fd;
  size_ = static_cast<uint64_t>(st.st_size);
  return true;
}

bool SourceFile::Read(uint64_t offset, std::span<uint8_t> out) {
  if (offset > size_ || out.size() > size_ - offset) return false;
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n =
        pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // a read error, or the file now ends earlier
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace savejpg
