// The binding to the encoder library (kEncoderLibraryFileName:
// libSaveJPG.so, SaveJPG.DLL on Windows), which lies in the program's own
// folder and is opened on the first call.
#pragma once

#include <cstdint>
#include <string>

namespace morvane {

// Has the encoder convert the bitmap `source` into the JPEG file `dest` at
// `quality`, baseline (0) or progressive (-1). Both texts are handed over as
// NUL-terminated buffers and read back after the call, so what the library
// writes into them ends up in them: UTF-16 buffers to SavetoJPEGW on
// Windows, so that every name Windows holds reaches its file and none
// becomes a look-alike in the ANSI code page; elsewhere system-text (UTF-8)
// buffers to SavetoJPEG (kEncoderTakesUtf16Paths). Gives the library's
// result: 0 when the file was written. Throws StepFailure when the library
// cannot be opened or lacks its entry point; then nothing was called, and
// the next call tries to open it again.
int16_t SavetoJPEG(std::u16string& source, std::u16string& dest, uint8_t quality,
                   int16_t progressive);

}  // namespace morvane
