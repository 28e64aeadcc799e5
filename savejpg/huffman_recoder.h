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
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "jpeg_writer.h"

namespace savejpg {

// A Huffman table as a JPEG stores it: bits[n] codes of n bits (bits[0] is
// unused), then the symbols in the order of their codes.
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
// markers, as libjpeg writes it; anything else throws
// JpegFailure(SAVEJPG_ERR_ENCODER), as do bytes that do not decode. What it
// keeps besides `jpeg` stays within `memory_limit` bytes; when it would
// need more, it throws JpegFailure(SAVEJPG_ERR_OUT_OF_MEMORY) before
// writing anything.
void RecodeWithFittedTables(std::span<const uint8_t> jpeg, const TableBuilder& build,
                            JpegSink& sink, uint64_t memory_limit = UINT64_MAX);

// One scan of a progressive JPEG: its components (indices in the frame),
// its band of coefficients and their bits (successive approximation).
struct ProgressiveScan {
  int components = 1;
  int component[4] = {};
  int ss = 0, se = 0, ah = 0, al = 0;
};

// Writes `jpeg`, as RecodeWithFittedTables takes it, as a progressive JPEG
// of `scans` with the same coefficients, each scan with tables built by
// `build` from the counts of its own symbols: the JPEG libjpeg writes for
// that script. What it keeps besides `jpeg` stays within `memory_limit`
// bytes (when it would need more, it throws
// JpegFailure(SAVEJPG_ERR_OUT_OF_MEMORY) before writing anything); once it
// has read `jpeg` it frees it and keeps the symbols of a scan in what is
// left of both. A scan whose symbols do not fit there is made twice, once
// to count them and once to write them.
void RecodeAsProgressive(std::vector<uint8_t>&& jpeg, std::span<const ProgressiveScan> scans,
                         const TableBuilder& build, JpegSink& sink,
                         uint64_t memory_limit = UINT64_MAX);

}  // namespace savejpg
