// MappedFile for POSIX systems: mmap, read-only.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "mapped_file.h"

namespace savejpg {

MappedFile::~MappedFile() {
  if (mapping_ != nullptr) munmap(mapping_, size_);
}

bool MappedFile::Open(const std::filesystem::path& path) {
  // Without O_NONBLOCK, opening a FIFO waits for a writer that may never
  // come; anything but a regular file is refused below anyway.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0;
  if (ok && st.st_size > 0) {
    void* p = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) {
      ok = false;
    } else {
      mapping_ = p;
      size_ = static_cast<size_t>(st.st_size);
      data_ = static_cast<const uint8_t*>(p);
    }
  }
  close(fd);
  return ok;
}

void MappedFile::Release(uint64_t offset, uint64_t length) {
  if (mapping_ == nullptr || offset >= size_) return;
  const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  const uint64_t end = std::min<uint64_t>(offset + length, size_) / page * page;
  const uint64_t start = (offset + page - 1) / page * page;
  if (start < end)  // whole pages only; they are read from the file again if touched
    madvise(static_cast<uint8_t*>(mapping_) + start, end - start, MADV_DONTNEED);
}

}  // namespace savejpg
