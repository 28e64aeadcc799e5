// JPEGs that libjpeg writes from quantised coefficients chosen one by one
// (its transcoding path, jpegtran's) instead of from pixels: the pictures
// with which the recoder's tests and fuzz target reach every run of zeros,
// every size of an end-of-band run and every pile of correction bits, and
// libjpeg's own output for them, byte for byte what the recoder must give.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "savejpg/huffman_recoder.h"

namespace morvane::test_support {

// A picture as its blocks of quantised coefficients, each block in zigzag
// order (index 0 the DC). Only the blocks inside the picture are held;
// libjpeg makes the padding blocks of the MCUs itself.
struct CoefficientPicture {
  struct Component {
    int h = 1, v = 1;                           // sampling factors, 1-4
    int dc_table = 0, ac_table = 0;             // Huffman table numbers, 0-3
    uint32_t blocks_wide = 0, blocks_high = 0;  // set by SizeBlocks
    std::vector<std::array<int16_t, 64>> blocks;

    std::array<int16_t, 64>& At(uint32_t x, uint32_t y) {
      return blocks[size_t{y} * blocks_wide + x];
    }
  };
  uint32_t width = 0, height = 0;
  std::vector<Component> components;  // 1, 3 (YCbCr) or 4 (CMYK)

  // Sizes every component's blocks for the width, the height and the
  // sampling factors, all coefficients 0.
  void SizeBlocks();
};

// How libjpeg codes the picture.
enum class LibjpegCoding {
  kQuickTables,     // baseline, savejpg::QuickToReadTable's tables: the recoder's input
  kStandardTables,  // baseline, the example tables of T.81 Annex K (libjpeg's default)
  kFittedTables,    // baseline, optimize_coding
  kProgressive,     // the given script, with fitted tables
};

// The JPEG libjpeg writes. Throws std::runtime_error with libjpeg's message
// when it refuses (a coefficient out of range, a script it does not allow).
std::vector<uint8_t> WriteWithLibjpeg(const CoefficientPicture& picture, LibjpegCoding coding,
                                      std::span<const savejpg::ProgressiveScan> script = {});

// A number below n (n >= 1): a seeded generator's, or a fuzzer's bytes'.
using Choose = std::function<uint32_t(uint32_t n)>;

// Fills every block with coefficients libjpeg can code, in runs of blocks
// of one kind: empty, one coefficient, sparse, dense small, dense large,
// only magnitudes of 2 and more (which pile up correction bits), each
// magnitude of 1 to 10 bits, DC from -1024 to 1023.
void FillRandomly(CoefficientPicture& picture, const Choose& choose);

// A progressive script libjpeg accepts for `components` components: DC
// first in one interleaved scan or one scan a component, at some Al from 0
// to 3, then perhaps refinements; each component's AC coefficients cut into
// bands, each band first at Al 0 to 2 and then perhaps refined, a band
// sometimes left out; the scans after the first in any order that keeps
// each coefficient's bits in order.
std::vector<savejpg::ProgressiveScan> RandomScript(int components, const Choose& choose);

// libjpeg's jpeg_simple_progression for a picture of `components`
// components (3: YCbCr, else each component alone).
std::vector<savejpg::ProgressiveScan> LibjpegSimpleProgression(int components);

// The table libjpeg fits to symbol counts (jpeg_gen_optimal_table): the
// recoder's TableBuilder as the program gives it.
savejpg::HuffmanTable LibjpegFittedTable(std::array<int64_t, 257>& count);

}  // namespace morvane::test_support
