// Huffman tables fitted to one picture, and progressive scans, without
// libjpeg's counting passes.
//
// Fitted ("optimised") tables need the count of every symbol the picture
// codes. libjpeg finds them with a pass of its own over every coefficient of
// the whole picture, which it must keep in memory for it, and a progressive
// JPEG always has fitted tables: each of its scans is made twice, once to
// count and once to write. That counting takes about half the time of a
// conversion. The same counts come from the symbols themselves as they are
// made. So the writer has libjpeg code the picture once with tables that are
// quick to read back, and this module reads the symbols (or the coefficients)
// back, makes the baseline scan or the progressive scans from them once,
// counts their symbols, has libjpeg's own procedure build the tables from the
// counts, and writes the symbols with them. The result is byte for byte the
// JPEG libjpeg writes with optimize_coding, or with jpeg_simple_progression.
// The coding is that of ITU-T T.81: F.1.2 for the baseline scan, G.1.2 for
// progressive scans; huffman_recoder.cpp cites the section above each stage.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "jpeg_writer.h"

namespace savejpg {

// Which check refused the recoder's input (or its script, or its tables).
enum class RecodeError {
  NoStartOfImage,             // the bytes do not start with SOI
  NoMarker,                   // something other than a marker between segments
  MarkerCutShort,             // a marker segment runs past the end
  TwoFrames,                  // a second SOF
  NotBaseline,                // a frame other than SOF0 or SOF1
  NotEightBit,                // a sample precision other than 8
  BadFrameHeader,             // 0 or more than 4 components, no width or height
  BadSampling,                // a sampling factor outside 1-4
  TableCutShort,              // a DHT segment ends inside a table
  BadTableNumber,             // a table class above 1 or a table number above 3
  BadTable,                   // more codes of a length than the length has
  RestartMarkers,             // a DRI with an interval other than 0
  ScanBeforeFrame,            // SOS before SOF
  BadScanHeader,              // 0 or more than 4 components, a wrong length
  NotSequential,              // a scan other than Ss = 0, Se = 63, Ah = Al = 0
  UnknownScanComponent,       // a component the frame lacks, a table number above 3
  ComponentTwice,             // one component twice in the scan
  UndefinedTable,             // a scan naming a table no DHT defined
  McuTooLarge,                // more than 10 blocks in an MCU
  NotOneScan,                 // anything but EOI after the scan
  ScanWithoutEveryComponent,  // for progressive scans: a component not in the scan
  MarkerInScan,               // a 0xFF in the scan not followed by 0x00
  UnknownCode,                // bits that are no code of their table
  CoefficientOutOfRange,      // a DC or AC size or a run past what 8-bit samples have
  ScanCutShort,               // the scan ends before its last block
  DataAfterScan,              // bits after the last block other than the 1s padding it
  BadScript,                  // a progressive scan that libjpeg's scripts cannot have
  SymbolWithoutCode,          // a fitted table gives no code to a symbol the scan has
  TableSegmentTooLong,        // the fitted tables no longer fit their DHT segment
  BandsDoNotJoin,             // bands of other frames, tables or scans, or a band cut inside
                              // a row of MCUs
};

[[nodiscard]] const char* ToString(RecodeError error);

// Thrown by the functions below: code() is SAVEJPG_ERR_ENCODER, error()
// the check that refused.
class RecodeFailure : public JpegFailure {
 public:
  explicit RecodeFailure(RecodeError error);
  RecodeError error() const { return error_; }

 private:
  RecodeError error_;
};

// A Huffman table as a JPEG stores it (T.81 B.2.4.2, Annex C): BITS, bits[n]
// codes of n bits (bits[0] is unused), then HUFFVAL, the symbols in the order
// of their codes.
struct HuffmanTable {
  std::array<uint8_t, 17> bits{};
  std::array<uint8_t, 256> symbols{};
};

// Builds the table for the counts of symbols 0..255 (count[256] is libjpeg's
// working space).
using TableBuilder = std::function<HuffmanTable(std::array<int64_t, 257>& count)>;

// Tables for the first coding that this module reads fastest: codes of one
// length that are their own symbols (4 bits for DC, class 0; 8 for AC).
HuffmanTable QuickToReadTable(int table_class);

// What RecodeWithFittedTables (progressive false) or RecodeAsProgressive
// (true) keep at most besides their input, for a first coding of `bytes`
// bytes and `blocks` 8x8 blocks made with QuickToReadTable's tables: the
// least memory_limit they work within.
uint64_t RecodingMemory(uint64_t bytes, uint64_t blocks, bool progressive);

// Writes `jpeg` again to `sink` with every Huffman table used by its scan
// built by `build` from the counts of that table's symbols: the markers
// before the scan are copied, the tables' own markers rewritten, the scan
// coded again. `jpeg` must be a baseline JPEG of one scan without restart
// markers, as libjpeg writes it: 8-bit samples, the scan's last block
// followed only by the 1 bits that fill its last byte, then EOI. Anything
// else throws RecodeFailure naming the check that refused it, as do bytes
// that do not decode and a table from `build` that lacks a symbol the scan
// has. What was written to `sink` before a failure is not a JPEG. What it
// keeps besides `jpeg` stays within `memory_limit` bytes; when it would
// need more, it throws JpegFailure(SAVEJPG_ERR_OUT_OF_MEMORY) before
// writing anything.
void RecodeWithFittedTables(std::span<const uint8_t> jpeg, const TableBuilder& build,
                            JpegSink& sink, uint64_t memory_limit = UINT64_MAX);

// A picture coded as bands, top first, each band a JPEG of its own that
// RecodeWithFittedTables takes: the same width, frame, quantisation and
// Huffman tables and scan in each, and every band but the last as high as
// whole rows of MCUs. Each band's DC differences start again from 0, as in
// any JPEG. Recoded, they make the one JPEG of the whole picture, byte for
// byte the one its coding in one piece gives: the first band's markers
// with the whole height, the DC differences joined at the band edges.
// Bands that do not fit together throw RecodeFailure(BandsDoNotJoin).
// `threads` (the calling one included) read the bands and code their
// symbols side by side.
void RecodeWithFittedTables(std::span<const std::span<const uint8_t>> bands,
                            const TableBuilder& build, JpegSink& sink, uint64_t memory_limit,
                            unsigned threads);

// One scan of a progressive JPEG (T.81 G.1.1.1): its components (indices in
// the frame), its band of coefficients (spectral selection: zigzag places Ss
// to Se) and their bits (successive approximation: Ah, the point transform
// of the scan before, 0 for a first scan; Al, this scan's).
struct ProgressiveScan {
  int components = 1;
  int component[4] = {};
  int ss = 0, se = 0, ah = 0, al = 0;
};

// Writes `jpeg`, as RecodeWithFittedTables takes it, as a progressive JPEG
// of `scans` with the same coefficients, each scan with tables built by
// `build` from the counts of its own symbols: the JPEG libjpeg writes for
// that script. The baseline scan must hold every component. The script
// must be one libjpeg accepts, with AC scans of Al up to 2: each scan of
// different components of the frame, DC scans (Ss = Se = 0) of up to 4,
// AC scans (1 <= Ss <= Se <= 63) of one; each coefficient first in a scan
// with Ah = 0, then refined by scans with Ah = the Al before and Al = Ah - 1.
// Anything else throws RecodeFailure(BadScript) before anything is written;
// other failures as RecodeWithFittedTables. What it keeps besides `jpeg`
// stays within `memory_limit` bytes (when it would need more, it throws
// JpegFailure(SAVEJPG_ERR_OUT_OF_MEMORY) before writing anything); once it
// has read `jpeg` it frees it and keeps the symbols of a scan in what is
// left of both. A scan whose symbols do not fit there is made twice, once
// to count them and once to write them.
void RecodeAsProgressive(std::vector<uint8_t>&& jpeg, std::span<const ProgressiveScan> scans,
                         const TableBuilder& build, JpegSink& sink,
                         uint64_t memory_limit = UINT64_MAX);

// The same for a picture coded as bands, as the banded
// RecodeWithFittedTables takes them. `threads` read the bands and make the
// scans side by side where the memory allows; the JPEG is the same.
void RecodeAsProgressive(std::vector<std::vector<uint8_t>>&& bands,
                         std::span<const ProgressiveScan> scans, const TableBuilder& build,
                         JpegSink& sink, uint64_t memory_limit, unsigned threads);

}  // namespace savejpg
