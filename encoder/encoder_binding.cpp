#include "encoder/encoder_binding.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "core/step_failure.h"
#include "platform/conventions.h"
#include "platform/platform.h"

namespace morvane {
namespace {

// SavetoJPEG: paths in the system's narrow text.
using NarrowEntry = int16_t (*)(char*, char*, uint8_t, int16_t);
// SavetoJPEGW: paths in UTF-16, wchar_t being 16 bits where it is exported.
using Utf16Entry = int16_t (*)(const char16_t*, const char16_t*, uint8_t, int16_t);
// SaveJPGUseThreads: the threads the later calls made on the calling thread
// may use. A library without it codes each picture on one thread.
using UseThreadsEntry = void (*)(uint16_t);

// What the program calls in the library.
struct EntryPoints {
  void* convert = nullptr;  // NarrowEntry or Utf16Entry
  UseThreadsEntry use_threads = nullptr;
};

// The entry points this system's program calls, found once however many
// threads call at the same time. A load that fails leaves nothing behind,
// so the next call tries again. Not std::call_once: with mingw-w64's
// posix-thread runtime a call_once whose function threw blocks every later
// call, and a batch of two or more names would wait for ever on a missing
// library.
EntryPoints FoundEntryPoints() {
  static std::mutex mutex;
  static EntryPoints entries;
  const std::lock_guard lock(mutex);
  if (entries.convert != nullptr) return entries;
  void* library = OpenLibraryInProgramFolder(kEncoderLibraryFileName);
  if (library == nullptr) throw StepFailure("cannot open the encoder library");
  const char* name = kEncoderTakesUtf16Paths ? "SavetoJPEGW" : "SavetoJPEG";
  void* symbol = FindEntryPoint(library, name);
  if (symbol == nullptr) throw StepFailure(std::string("the encoder library lacks ") + name);
  entries.use_threads =
      reinterpret_cast<UseThreadsEntry>(FindEntryPoint(library, "SaveJPGUseThreads"));
  entries.convert = symbol;
  return entries;
}

template <class Unit>
std::vector<Unit> TerminatedBuffer(std::basic_string_view<Unit> text) {
  std::vector<Unit> buffer(text.begin(), text.end());
  buffer.push_back(Unit{0});
  return buffer;
}

// The buffer's text before its first NUL. The library may have overwritten
// the final NUL: it is put back, so the read stays in bounds.
template <class Unit>
std::basic_string_view<Unit> TextOfBuffer(std::vector<Unit>& buffer) {
  buffer.back() = Unit{0};
  return std::basic_string_view<Unit>(buffer.data());
}

int16_t CallWithSystemText(void* entry, std::u16string& source, std::u16string& dest,
                           uint8_t quality, int16_t progressive) {
  std::vector<char> source_buffer = TerminatedBuffer<char>(ToSystemText(source));
  std::vector<char> dest_buffer = TerminatedBuffer<char>(ToSystemText(dest));
  const int16_t result = reinterpret_cast<NarrowEntry>(entry)(
      source_buffer.data(), dest_buffer.data(), quality, progressive);
  source = FromSystemText(TextOfBuffer(source_buffer));
  dest = FromSystemText(TextOfBuffer(dest_buffer));
  return result;
}

// The same contract with UTF-16 buffers: what the library writes into them,
// within their length, comes back.
int16_t CallWithUtf16(void* entry, std::u16string& source, std::u16string& dest, uint8_t quality,
                      int16_t progressive) {
  std::vector<char16_t> source_buffer = TerminatedBuffer<char16_t>(source);
  std::vector<char16_t> dest_buffer = TerminatedBuffer<char16_t>(dest);
  const int16_t result = reinterpret_cast<Utf16Entry>(entry)(
      source_buffer.data(), dest_buffer.data(), quality, progressive);
  source = TextOfBuffer(source_buffer);
  dest = TextOfBuffer(dest_buffer);
  return result;
}

}  // namespace

int16_t SavetoJPEG(std::u16string& source, std::u16string& dest, uint8_t quality,
                   int16_t progressive, unsigned threads) {
  const EntryPoints entries = FoundEntryPoints();
  // Set on this thread for the call below: the library keeps it per thread.
  if (entries.use_threads != nullptr) {
    entries.use_threads(static_cast<uint16_t>(std::clamp(threads, 1u, 64u)));
  }
  void* entry = entries.convert;
  return kEncoderTakesUtf16Paths ? CallWithUtf16(entry, source, dest, quality, progressive)
                                 : CallWithSystemText(entry, source, dest, quality, progressive);
}

}  // namespace morvane
