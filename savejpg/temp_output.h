// The JPEG's temporary file in the destination's folder. It is removed again
// unless it is put in the destination's place, also when the program is
// stopped meanwhile by SIGINT, SIGTERM or SIGHUP. Safe with conversions on
// several threads at once. Which implementation is built is chosen in
// CMakeLists.txt.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "jpeg_writer.h"

namespace savejpg {

struct NameEntry;

class TempOutput final : public JpegSink {
 public:
  TempOutput() = default;
  ~TempOutput() override;  // removes the file unless Replace succeeded
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;

  // Creates the file in dest's folder. Where the file system allows it, the
  // file has no name until Replace, so a stopped program leaves nothing;
  // elsewhere it is created as CreateNamed does. False when no file can be
  // created there.
  [[nodiscard]] bool Create(const std::filesystem::path& dest);

  // Creates a file under a new temporary name beside dest. The name is
  // removed by a stop signal whose action is the default one (the program
  // ends): such signals get a handler, before the first file is made, that
  // removes every temporary file still named, on any thread and however
  // many there are, then ends the program by the same signal.
  [[nodiscard]] bool CreateNamed(const std::filesystem::path& dest);

  // Throws JpegFailure(SAVEJPG_ERR_WRITE_OUTPUT) when the bytes cannot be
  // written.
  void Write(const uint8_t* data, size_t size) override;

  // Gives the file the permission bits of the file at dest, if there is one,
  // and puts it in dest's place. Returns SAVEJPG_OK, SAVEJPG_ERR_WRITE_OUTPUT
  // (closing failed) or SAVEJPG_ERR_REPLACE_OUTPUT.
  [[nodiscard]] int16_t Replace(const std::filesystem::path& dest);

 private:
  [[maybe_unused]] int fd_ = -1;                 // where the system has descriptors
  [[maybe_unused]] std::FILE* file_ = nullptr;   // elsewhere
  std::filesystem::path path_;                   // the file's name while it has one
  [[maybe_unused]] NameEntry* entry_ = nullptr;  // its entry among the names a stop removes

  bool LinkUnnamed(const std::filesystem::path& dest);
};

}  // namespace savejpg
