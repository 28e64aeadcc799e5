// The binding to the encoder library (kEncoderLibraryFileName:
// libSaveJPG.so, SaveJPG.DLL on Windows), which lies in the program's own
// folder and is opened on the first call.
#pragma once

#include <cstdint>
#include <string>

namespace morvane {

// What the library's result says, as its header (savejpg.h, SaveJpgResult)
// gives the values: 0 when the JPEG was written, 1 to 9 a failure of the
// call or of the files, from 100 on the reason why the bitmap was refused.
enum class EncoderResult : int16_t {
  kConverted = 0,
  kBadArgument = 1,          // a path is empty
  kSameFile = 2,             // the JPEG's path names the bitmap itself
  kCannotOpenSource = 3,     // missing, unreadable or not a file
  kCannotCreateOutput = 4,   // no temporary file in the JPEG's folder
  kCannotWriteOutput = 5,    // writing or closing the temporary file failed
  kCannotReplaceOutput = 6,  // renaming it to the JPEG's path failed
  kJpegLibraryFailed = 7,
  kOutOfMemory = 8,  // the picture needs more than half the machine's memory
  kInternal = 9,
  kTruncatedHeaders = 100,
  kNotABitmap = 101,  // does not start with "BM"
  kUnknownHeaderSize = 102,
  kBadPlanes = 103,
  kBadDimensions = 104,
  kTooLarge = 105,  // a side above 65500 pixels
  kBadBitCount = 106,
  kUnknownCompression = 107,
  kUnsupportedCompression = 108,  // embedded JPEG or PNG, OS/2 Huffman, RLE24
  kCompressionMismatch = 109,
  kTopDownRle = 110,
  kBadMasks = 111,
  kBadPaletteSize = 112,
  kPaletteTruncated = 113,
  kBadPixelOffset = 114,
  kPixelsTruncated = 115,
  kBadPaletteIndex = 116,
  kRlePastRow = 117,
  kRlePastImage = 118,
  kRleTruncated = 119,
  kBadProfile = 120,
};

// Has the encoder convert the bitmap `source` into the JPEG file `dest` at
// `quality`, baseline (0) or progressive (-1). Both texts are handed over as
// NUL-terminated buffers and read back after the call, so what the library
// writes into them ends up in them: UTF-16 buffers to SavetoJPEGW on
// Windows, so that every name Windows holds reaches its file and none
// becomes a look-alike in the ANSI code page; elsewhere system-text (UTF-8)
// buffers to SavetoJPEG (kEncoderTakesUtf16Paths). The picture may be coded
// on up to `threads` threads (taken as 1 to 64), told to the library on the
// calling thread just before (SaveJPGUseThreads; a library without it codes
// on one). Gives the library's result: 0 when the file was written. Throws
// StepFailure when the library cannot be opened or lacks its entry point;
// then nothing was called, and the next call tries to open it again.
int16_t SavetoJPEG(std::u16string& source, std::u16string& dest, uint8_t quality,
                   int16_t progressive, unsigned threads);

}  // namespace morvane
