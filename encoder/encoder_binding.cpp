#include "encoder/encoder_binding.h"

#include <mutex>
#include <vector>

#include "core/step_failure.h"
#include "platform/conventions.h"
#include "platform/platform.h"

namespace morvane {
namespace {

using SavetoJpegEntry = int16_t (*)(char*, char*, uint8_t, int16_t);

// The entry point, found once however many threads call at the same time.
// A load that throws leaves the flag unset, so a library that could not be
// opened is tried again on the next call, as a failed load leaves nothing
// behind.
SavetoJpegEntry EntryPoint() {
  static std::once_flag loaded;
  static SavetoJpegEntry entry = nullptr;
  std::call_once(loaded, [] {
    void* library = OpenLibraryInProgramFolder(kEncoderLibraryFileName);
    if (library == nullptr) throw StepFailure("cannot open the encoder library");
    void* symbol = FindEntryPoint(library, "SavetoJPEG");
    if (symbol == nullptr) throw StepFailure("the encoder library lacks SavetoJPEG");
    entry = reinterpret_cast<SavetoJpegEntry>(symbol);
  });
  return entry;
}

std::vector<char> TerminatedBuffer(const std::u16string& text) {
  const std::string narrow = ToSystemText(text);
  std::vector<char> buffer(narrow.begin(), narrow.end());
  buffer.push_back('\0');
  return buffer;
}

// The buffer's text before its first NUL; the buffer always ends in one.
std::u16string TextOfBuffer(const std::vector<char>& buffer) {
  return FromSystemText(std::string_view(buffer.data()));
}

}  // namespace

int16_t SavetoJPEG(std::u16string& source, std::u16string& dest, uint8_t quality,
                   int16_t progressive) {
  const SavetoJpegEntry entry = EntryPoint();
  std::vector<char> source_buffer = TerminatedBuffer(source);
  std::vector<char> dest_buffer = TerminatedBuffer(dest);
  const int16_t result = entry(source_buffer.data(), dest_buffer.data(), quality, progressive);
  // The library may have overwritten the final NUL; keep the read in bounds.
  source_buffer.back() = '\0';
  dest_buffer.back() = '\0';
  source = TextOfBuffer(source_buffer);
  dest = TextOfBuffer(dest_buffer);
  return result;
}

}  // namespace morvane
