// MappedFile for POSIX systems: mmap, read-only.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "mapped_file.h"

namespace savejpg {

MappedFile::~MappedFile() {
  if (mapping_ != nullptr) munmap(mapping_, size_);
}

bool MappedFile::Open(const std::filesystem::path& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
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

}  // namespace savejpg
