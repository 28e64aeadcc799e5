// Writing pixel rows as a JPEG with libjpeg(-turbo).
//
// libjpeg reports errors through error_exit, which here throws JpegFailure;
// libjpeg is built with unwind tables, so the exception passes its frames and
// the compressor is destroyed on the way out. Its messages are never printed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "row_format.h"

namespace savejpg {

// Thrown for every failure while writing; code is a SaveJpgResult value.
class JpegFailure : public std::runtime_error {
 public:
  JpegFailure(int16_t code, const std::string& what) : std::runtime_error(what), code_(code) {}
  int16_t code() const { return code_; }

 private:
  int16_t code_;
};

// Where the compressed bytes go. Write throws JpegFailure when it cannot.
class JpegSink {
 public:
  virtual ~JpegSink() = default;
  virtual void Write(const uint8_t* data, size_t size) = 0;
};

class MemorySink final : public JpegSink {
 public:
  void Write(const uint8_t* data, size_t size) override {
    bytes.insert(bytes.end(), data, data + size);
  }
  std::vector<uint8_t> bytes;
};

struct JpegOptions {
  int quality = 85;  // clamped to 1..100
  bool progressive = false;
  uint16_t x_dpi = 0;  // 0 in either: no density, aspect ratio 1:1
  uint16_t y_dpi = 0;
  std::span<const uint8_t> icc_profile;  // written as APP2 markers if not empty
  uint64_t memory_limit = 0;             // bytes libjpeg may allocate; 0: no limit
  // Bytes the first coding and its recoding (below) may keep at once; 0:
  // what libjpeg's own way keeps, max(CoefficientBytes(...), 256 KiB).
  uint64_t recoding_limit = 0;
  // true has libjpeg count the symbols for its fitted Huffman tables itself,
  // in a pass over the whole picture's coefficients before each scan, and
  // make the progressive scans. false codes the picture once into memory
  // and makes the JPEG from that (huffman_recoder.h), about a quarter to a
  // third faster, unless that would keep more than recoding_limit (noise
  // at a high quality): then libjpeg's way is taken. The JPEG is the same.
  bool libjpeg_fits_tables = false;
  // Threads the picture may be coded on at once, the calling one included
  // (at most kMostThreads); 1: on the calling thread alone. A picture too
  // small to gain from it is coded on one whatever this says.
  unsigned threads = 1;
  // A picture of fewer pixels (1024 x 768) is coded on one thread; bands
  // hold at least this many rows of MCUs. Below them the threads cost a
  // conversion more than they give (bench/threads.py, bench/README.md).
  uint64_t least_pixels_to_cut = 1024 * 768;
  uint32_t least_mcu_rows_in_band = 8;
};

constexpr unsigned kMostThreads = 64;

// Returns row `top` (0 = top of the picture), at least width *
// BytesPerPixel(format) bytes, valid until the next call.
using RowFunction = std::function<const uint8_t*(uint32_t top)>;

// Makes a RowFunction for one thread: those it makes may run side by side,
// each handing out any row.
using RowFunctionMaker = std::function<RowFunction()>;

// Writes the picture as a JPEG to `sink`, on up to options.threads threads
// (each with a RowFunction of its own from `rows`) where it is large
// enough: cut into bands of whole rows of MCUs, each coded first on a
// thread, then recoded as one (huffman_recoder.h); the JPEG is the same on
// any number of threads. It keeps at most what libjpeg's
// own way keeps, CoefficientBytes(...), or what the recoding may keep,
// whichever is more, besides libjpeg's few rows and buffers of 64 KiB. A
// picture whose coefficients take more than options.memory_limit is
// refused with SAVEJPG_ERR_OUT_OF_MEMORY before a row is read.
void WriteJpeg(uint32_t width, uint32_t height, RowFormat format, const RowFunctionMaker& rows,
               const JpegOptions& options, JpegSink& sink);
// The same on the calling thread alone, whatever options.threads says.
void WriteJpeg(uint32_t width, uint32_t height, RowFormat format, const RowFunction& rows,
               const JpegOptions& options, JpegSink& sink);

// The bytes of the picture's coefficients, as libjpeg keeps them for fitted
// tables: 128 for each 8x8 block of every component, in whole MCUs, with
// the sampling `quality` gives.
uint64_t CoefficientBytes(uint32_t width, uint32_t height, RowFormat format, int quality);

// Pixels per metre to dots per inch, rounded; 0 when absent or out of range.
uint16_t DotsPerInch(int32_t pixels_per_metre);

}  // namespace savejpg
