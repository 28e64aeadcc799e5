// The recoder against libjpeg, byte for byte: every JPEG it makes must be
// the one libjpeg makes of the same coefficients with fitted tables
// (optimize_coding) or with the same progressive script. Pictures come
// through the program's own path (pixels, WriteJpeg) and, to reach every
// case of the coding, as chosen coefficients through libjpeg's transcoding
// path. Damaged input is refused by the check named for it.
#include "huffman_recoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <numbers>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "jpeg_writer.h"
#include "savejpg.h"
#include "test_support/bitmap.h"
#include "test_support/jpeg.h"
#include "test_support/libjpeg_coefficients.h"

namespace savejpg_test {
namespace {

using savejpg::JpegOptions;
using savejpg::ProgressiveScan;
using savejpg::RecodeError;
using savejpg::RowFormat;
using namespace morvane::test_support;
using Block = std::array<int16_t, 64>;
using Bytes = std::vector<uint8_t>;

// "" when equal, else where the bytes first differ (the bytes themselves
// would be too many to print).
std::string Difference(const Bytes& got, const Bytes& expected) {
  if (got == expected) return "";
  size_t at = 0;
  while (at < got.size() && at < expected.size() && got[at] == expected[at]) ++at;
  return "sizes " + std::to_string(got.size()) + " and " + std::to_string(expected.size()) +
         ", first difference at byte " + std::to_string(at);
}

// ---------------------------------------------------------------------------
// Through the program's path: pixels to WriteJpeg.

struct Picture {
  uint32_t width, height;
  RowFormat format;
  Bytes pixels;  // top row first, no padding
};

template <typename Pixel>
Picture Make(uint32_t width, uint32_t height, RowFormat format, Pixel pixel) {
  Picture p{width, height, format, {}};
  const size_t bytes = savejpg::BytesPerPixel(format);
  p.pixels.resize(size_t{width} * height * bytes);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      for (size_t c = 0; c < bytes; ++c)
        p.pixels[(size_t{y} * width + x) * bytes + c] = pixel(x, y, c);
  return p;
}

Bytes Write(const Picture& p, JpegOptions options, bool libjpeg_fits) {
  options.libjpeg_fits_tables = libjpeg_fits;
  const size_t stride = size_t{p.width} * savejpg::BytesPerPixel(p.format);
  savejpg::MemorySink sink;
  savejpg::WriteJpeg(
      p.width, p.height, p.format, [&](uint32_t top) { return p.pixels.data() + top * stride; },
      options, sink);
  return sink.bytes;
}

uint8_t SmoothChannel(uint32_t x, uint32_t y, size_t c) {
  const Colour colour = Smooth(static_cast<int>(x), static_cast<int>(y));
  return c == 0 ? colour.b : c == 1 ? colour.g : colour.r;
}

TEST(HuffmanRecoder, GivesLibjpegsOwnFittedTablesByteForByte) {
  std::mt19937 random(7);
  const auto noise = [&](uint32_t, uint32_t, size_t) { return static_cast<uint8_t>(random()); };
  // Thin lines far apart: blocks with a few coefficients after long runs of
  // zeros (16-zero codes) and many blocks that end at once.
  const auto lines = [](uint32_t x, uint32_t y, size_t) {
    return static_cast<uint8_t>((x % 29 == 3 || y % 37 == 5) ? 250 : 20);
  };
  const auto flat = [](uint32_t, uint32_t, size_t) { return uint8_t{128}; };
  // Stripes that are the highest horizontal frequency of the 8x8 transform:
  // blocks whose one coefficient comes after 27 zeros (a 16-zero code).
  const auto stripes = [](uint32_t x, uint32_t, size_t) {
    return static_cast<uint8_t>(
        128 + std::lround(100 * std::cos((2 * (x % 8) + 1) * 7 * std::numbers::pi / 16)));
  };

  struct Case {
    const char* name;
    Picture picture;
    int quality;
  };
  const std::vector<Case> cases = {
      {"smooth colour, 4:2:0", Make(61, 47, RowFormat::Bgr, SmoothChannel), 85},
      {"smooth colour, 4:4:4", Make(61, 47, RowFormat::Bgr, SmoothChannel), 95},
      // More than the writer's 64 KiB buffer, stuffed bytes everywhere.
      {"noise, every coefficient large", Make(267, 135, RowFormat::Bgrx, noise), 100},
      {"noise, grey", Make(45, 50, RowFormat::Grey, noise), 100},
      {"lines, grey", Make(200, 120, RowFormat::Grey, lines), 75},
      {"lines, colour", Make(200, 120, RowFormat::Rgb, lines), 50},
      {"stripes, grey", Make(48, 40, RowFormat::Grey, stripes), 80},
      {"flat at the lowest quality", Make(40, 24, RowFormat::Bgr, flat), 1},
      {"one pixel", Make(1, 1, RowFormat::Bgr, SmoothChannel), 85},
      // More empty blocks in a row than one end-of-band run may count.
      {"flat, 33124 blocks", Make(1456, 1456, RowFormat::Grey, flat), 85},
  };
  for (const Case& c : cases) {
    for (const bool progressive : {false, true}) {
      JpegOptions options;
      options.quality = c.quality;
      options.progressive = progressive;
      const Bytes recoded = Write(c.picture, options, false);
      EXPECT_EQ(Difference(recoded, Write(c.picture, options, true)), "")
          << c.name << (progressive ? ", progressive" : "");
      const DecodedJpeg decoded = DecodeJpeg(recoded);
      EXPECT_EQ(decoded.width, static_cast<int>(c.picture.width)) << c.name;
      EXPECT_EQ(decoded.progressive, progressive) << c.name;
    }
  }

  // The markers before the scan come through: density, and a profile long
  // enough for two APP2 markers.
  JpegOptions marked;
  marked.x_dpi = 300;
  marked.y_dpi = 72;
  Bytes profile(70000);
  for (size_t i = 0; i < profile.size(); ++i) profile[i] = static_cast<uint8_t>(i * 7 + i / 256);
  marked.icc_profile = profile;
  const Picture picture = Make(61, 47, RowFormat::Bgr, SmoothChannel);
  for (const bool progressive : {false, true}) {
    marked.progressive = progressive;
    const Bytes recoded = Write(picture, marked, false);
    EXPECT_EQ(Difference(recoded, Write(picture, marked, true)), "");
    EXPECT_EQ(DecodeJpeg(recoded).icc, profile);
  }
}

// Every quality, both modes, every row format, seeded random sizes and
// contents: each JPEG as libjpeg writes it.
TEST(HuffmanRecoder, WritesWhatLibjpegWritesAtEveryQuality) {
  std::mt19937 random(19);
  const RowFormat formats[] = {RowFormat::Grey, RowFormat::Rgb, RowFormat::Bgr, RowFormat::Bgrx,
                               RowFormat::Rgbx};
  for (int quality = 1; quality <= 100; ++quality) {
    const uint32_t width = 1 + random() % 70, height = 1 + random() % 50;
    const RowFormat format = formats[random() % 5];
    // Smooth, noisy, or smooth with noise of a random strength.
    const uint32_t noise = random() % 3 == 0 ? 0 : 1 + random() % 255;
    const Picture picture = Make(width, height, format, [&](uint32_t x, uint32_t y, size_t c) {
      return static_cast<uint8_t>(SmoothChannel(x * 5, y * 3, c) + (noise ? random() % noise : 0));
    });
    for (const bool progressive : {false, true}) {
      JpegOptions options;
      options.quality = quality;
      options.progressive = progressive;
      EXPECT_EQ(Difference(Write(picture, options, false), Write(picture, options, true)), "")
          << "quality " << quality << ", " << width << " x " << height << ", format "
          << static_cast<int>(format) << (progressive ? ", progressive" : "");
    }
  }
}

// ---------------------------------------------------------------------------
// Through chosen coefficients: libjpeg's transcoding path.

Bytes RecodeFitted(const Bytes& jpeg) {
  savejpg::MemorySink sink;
  savejpg::RecodeWithFittedTables(jpeg, LibjpegFittedTable, sink);
  return sink.bytes;
}

Bytes RecodeProgressive(const Bytes& jpeg, std::span<const ProgressiveScan> script) {
  savejpg::MemorySink sink;
  savejpg::RecodeAsProgressive(Bytes(jpeg), script, LibjpegFittedTable, sink);
  return sink.bytes;
}

const char* NameOf(LibjpegCoding coding) {
  switch (coding) {
    case LibjpegCoding::kQuickTables:
      return "from quick tables";
    case LibjpegCoding::kStandardTables:
      return "from the standard tables";
    case LibjpegCoding::kFittedTables:
      return "from fitted tables";
    case LibjpegCoding::kProgressive:
      break;
  }
  return "?";
}

// The recoder's baseline with fitted tables and its progressive JPEG for
// each script, from the baseline JPEG with each kind of table, against
// libjpeg's.
void ExpectAsLibjpeg(const CoefficientPicture& picture,
                     const std::vector<std::vector<ProgressiveScan>>& scripts,
                     const std::string& name) {
  const Bytes fitted = WriteWithLibjpeg(picture, LibjpegCoding::kFittedTables);
  std::vector<Bytes> progressive;
  for (const std::vector<ProgressiveScan>& script : scripts)
    progressive.push_back(WriteWithLibjpeg(picture, LibjpegCoding::kProgressive, script));
  for (const LibjpegCoding input : {LibjpegCoding::kQuickTables, LibjpegCoding::kStandardTables,
                                    LibjpegCoding::kFittedTables}) {
    const Bytes jpeg =
        input == LibjpegCoding::kFittedTables ? fitted : WriteWithLibjpeg(picture, input);
    EXPECT_EQ(Difference(RecodeFitted(jpeg), fitted), "") << name << ", " << NameOf(input);
    for (size_t i = 0; i < scripts.size(); ++i) {
      EXPECT_EQ(Difference(RecodeProgressive(jpeg, scripts[i]), progressive[i]), "")
          << name << ", " << NameOf(input) << ", script " << i;
    }
  }
}

// A component with these sampling factors and table numbers.
CoefficientPicture::Component Sampled(int h, int v, int dc_table, int ac_table) {
  CoefficientPicture::Component component;
  component.h = h;
  component.v = v;
  component.dc_table = dc_table;
  component.ac_table = ac_table;
  return component;
}

CoefficientPicture Sized(uint32_t width, uint32_t height,
                         std::vector<CoefficientPicture::Component> components) {
  CoefficientPicture picture;
  picture.width = width;
  picture.height = height;
  picture.components = std::move(components);
  picture.SizeBlocks();
  return picture;
}

// Blocks that reach every case of the coding, in this order:
// - one AC coefficient after every run of zeros from 0 to 62, and a pair
//   with every run between them, at magnitudes that show first in each
//   successive approximation (1, 2-3, 4-7, 8 and more) and the largest;
// - for refinement scans, a coefficient that shows after every run of
//   zeros with coefficients shown before among them, and followed by some;
// - a DC that alternates between its extremes (every DC size);
// - runs of empty blocks of every length class of an end-of-band run, the
//   longest past 0x7FFF, each ended by a block that shows in every scan;
// - dense blocks that pile correction bits past libjpeg's limit, and up to
//   it exactly.
std::vector<Block> BlocksForEveryCase(std::mt19937& random, bool long_runs) {
  std::vector<Block> blocks;
  const auto dc = [&] { return static_cast<int16_t>(static_cast<int>(random() % 2048) - 1024); };
  for (const int16_t magnitude : {1, -1, 2, -3, 5, -7, 8, -100, 1023, -1023}) {
    for (int run = 0; run <= 62; ++run) {
      Block one{dc()};
      one[static_cast<size_t>(1 + run)] = magnitude;
      blocks.push_back(one);
      if (run == 62) continue;
      Block pair{dc()};
      pair[1] = static_cast<int16_t>(-magnitude);
      pair[static_cast<size_t>(2 + run)] = magnitude;
      blocks.push_back(pair);
    }
  }
  for (int round = 0; round < 4; ++round) {
    for (int run = 0; run <= 62; ++run) {
      Block block{dc()};
      const int shown_before = static_cast<int>(random() % static_cast<uint32_t>(63 - run));
      const size_t newly = static_cast<size_t>(1 + run + shown_before);
      for (int i = 0; i < shown_before; ++i) block[1 + random() % (newly - 1)] = 12;
      block[newly] = round % 2 == 0 ? 1 : -3;  // first shown by Al = 0, or by Al = 1
      for (size_t k = newly + 1; k < 64; ++k)
        if (random() % (1 + round) == 0) block[k] = static_cast<int16_t>(k % 3 == 0 ? -9 : 6);
      blocks.push_back(block);
    }
  }
  for (int i = 0; i < 64; ++i) blocks.push_back(Block{static_cast<int16_t>(i % 2 ? 1023 : -1024)});
  const Block shows_everywhere = [] {
    Block b{};
    b[1] = 8, b[2] = 1, b[3] = -2, b[40] = 1, b[62] = 8, b[63] = -3;
    return b;
  }();
  blocks.push_back(shows_everywhere);
  // The block that ends a run of empty blocks is empty after its first
  // coefficients too and joins the run: runs of 3 << n less 1 blocks give
  // end-of-band runs of 1.5 << n, inside each length class.
  for (int n = 0; n <= (long_runs ? 12 : 9); ++n) {
    blocks.insert(blocks.end(), (3u << n) - 1, Block{dc()});
    blocks.push_back(shows_everywhere);
  }
  if (long_runs) blocks.insert(blocks.end(), 40000, Block{dc()});  // past 0x7FFF
  blocks.push_back(shows_everywhere);
  for (int i = 0; i < 80; ++i) {
    Block block{dc()};
    for (size_t k = 1; k < 64; ++k) {
      const int16_t size = static_cast<int16_t>(i < 40 ? 4 + random() % 60 : 2 + random() % 2);
      block[k] = random() % 2 ? size : static_cast<int16_t>(-size);
    }
    blocks.push_back(block);
  }
  // Correction bits that reach libjpeg's limit exactly, 937 after a block
  // (still kept with the end-of-band run), in both refinements: a block
  // that ends the runs there (a coefficient first shown by Al = 1 and one
  // by Al = 0 at the end), then 14 blocks of 63 coefficients shown before
  // and one of 55.
  Block ends_runs{dc()};
  ends_runs[62] = 2, ends_runs[63] = 1;
  blocks.push_back(ends_runs);
  for (int i = 0; i < 15; ++i) {
    Block block{dc()};
    for (size_t k = 1; k < (i < 14 ? 64u : 56u); ++k)
      block[k] = static_cast<int16_t>(random() % 2 ? 4 + random() % 4 : -4 - random() % 4);
    blocks.push_back(block);
  }
  blocks.push_back(blocks[blocks.size() - 2]);
  return blocks;
}

// Lays `blocks` into the component row by row, then fills the rest at
// random.
void Lay(CoefficientPicture::Component& component, const std::vector<Block>& blocks,
         std::mt19937& random) {
  for (size_t i = 0; i < component.blocks.size(); ++i) {
    Block& block = component.blocks[i];
    if (i < blocks.size()) {
      block = blocks[i];
    } else {
      block = Block{static_cast<int16_t>(static_cast<int>(random() % 2048) - 1024)};
      if (random() % 4 == 0) block[1 + random() % 63] = static_cast<int16_t>(random() % 200 - 100);
    }
  }
}

// The kind of each scan in a progressive JPEG and the symbols its Huffman
// tables hold: a fitted table holds exactly the symbols the scan codes.
std::map<std::string, std::set<int>> SymbolsByScanKind(const Bytes& jpeg) {
  std::map<std::string, std::set<int>> kinds;
  std::set<int> symbols;
  size_t at = 2;
  while (at + 4 <= jpeg.size()) {
    const uint8_t marker = jpeg[at + 1];
    const size_t length = size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
    const size_t body = at + 4, end = at + 2 + length;
    if (marker == 0xC4) {
      for (size_t t = body; t < end;) {
        size_t count = 0;
        for (size_t i = 1; i <= 16; ++i) count += jpeg[t + i];
        for (size_t i = 0; i < count; ++i) symbols.insert(jpeg[t + 17 + i]);
        t += 17 + count;
      }
    }
    at = end;
    if (marker != 0xDA) continue;
    const size_t ns = jpeg[body];
    const int ss = jpeg[body + 1 + 2 * ns], ah = jpeg[body + 3 + 2 * ns] >> 4;
    kinds[std::string(ss == 0 ? "DC" : "AC") + (ah == 0 ? " first" : " refinement")].insert(
        symbols.begin(), symbols.end());
    symbols.clear();
    // Past the scan's bytes to the next marker.
    while (at + 1 < jpeg.size() && !(jpeg[at] == 0xFF && jpeg[at + 1] != 0)) ++at;
  }
  return kinds;
}

// What the structured pictures must make libjpeg code in libjpeg's script,
// so that they test every case: every DC size (up to 10 bits after the
// shift by 1) in DC first scans; in AC scans, every run of 0 to 15 zeros
// before a coefficient, 16 zeros (ZRL) and an end-of-band run of every
// length class up to `longest_eob` (EOB0-EOB14).
void ExpectEverySymbol(const Bytes& progressive, int longest_eob, const std::string& name) {
  const std::map<std::string, std::set<int>> kinds = SymbolsByScanKind(progressive);
  ASSERT_EQ(kinds.size(), 4u) << name;
  EXPECT_TRUE(kinds.at("DC refinement").empty()) << name;  // raw bits only
  for (int size = 0; size <= 10; ++size)
    EXPECT_TRUE(kinds.at("DC first").count(size)) << name << ", DC size " << size;
  for (const char* kind : {"AC first", "AC refinement"}) {
    const std::set<int>& symbols = kinds.at(kind);
    for (int run = 0; run < 16; ++run)
      EXPECT_TRUE(symbols.count(run << 4 | 1)) << name << ", " << kind << ", run " << run;
    for (int eob = 0; eob <= longest_eob; ++eob)
      EXPECT_TRUE(symbols.count(eob << 4)) << name << ", " << kind << ", EOB" << eob;
    EXPECT_TRUE(symbols.count(0xF0)) << name << ", " << kind << ", ZRL";
  }
}

TEST(HuffmanRecoder, CodesEveryRunAndEveryPileOfCorrectionBitsAsLibjpeg) {
  std::mt19937 random(1);
  // Grey, more than 0x7FFF blocks: the longest end-of-band runs.
  CoefficientPicture grey = Sized(1020, 4400, {{}});
  Lay(grey.components[0], BlocksForEveryCase(random, true), random);
  const std::vector<ProgressiveScan> grey_script = LibjpegSimpleProgression(1);
  ExpectEverySymbol(WriteWithLibjpeg(grey, LibjpegCoding::kProgressive, grey_script), 14, "grey");
  ExpectAsLibjpeg(grey, {grey_script}, "grey");

  // Colour at 4:2:0 and 4:4:4, sizes that are no whole MCU.
  for (const int luma : {2, 1}) {
    CoefficientPicture colour = Sized(
        600 + 3, 600 + 5, {Sampled(luma, luma, 0, 0), Sampled(1, 1, 1, 1), Sampled(1, 1, 1, 1)});
    for (CoefficientPicture::Component& component : colour.components)
      Lay(component, BlocksForEveryCase(random, false), random);
    const std::vector<ProgressiveScan> script = LibjpegSimpleProgression(3);
    const std::string name = luma == 2 ? "4:2:0" : "4:4:4";
    ExpectEverySymbol(WriteWithLibjpeg(colour, LibjpegCoding::kProgressive, script), 10, name);
    ExpectAsLibjpeg(colour, {script}, name);
  }
}

// Seeded random pictures: 1, 3 or 4 components, every sampling an MCU of up
// to 10 blocks allows, any table numbers, random scripts besides libjpeg's.
TEST(HuffmanRecoder, CodesRandomCoefficientsAndScriptsAsLibjpeg) {
  std::mt19937 random(2024);
  const Choose choose = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  for (int round = 0; round < 40; ++round) {
    const int components = round % 3 == 0 ? 1 : round % 3 == 1 ? 3 : 4;
    std::vector<CoefficientPicture::Component> sampling(static_cast<size_t>(components));
    int blocks_in_mcu = 0;
    for (CoefficientPicture::Component& c : sampling) {
      c.h = 1 + static_cast<int>(choose(4));
      c.v = 1 + static_cast<int>(choose(4));
      if (blocks_in_mcu + c.h * c.v + (components - 1) > 10) c.h = c.v = 1;
      blocks_in_mcu += c.h * c.v;
      c.dc_table = static_cast<int>(choose(4));
      c.ac_table = static_cast<int>(choose(4));
    }
    CoefficientPicture picture =
        Sized(1 + choose(round < 5 ? 500 : 120), 1 + choose(120), sampling);
    FillRandomly(picture, choose);
    std::vector<std::vector<ProgressiveScan>> scripts = {LibjpegSimpleProgression(components)};
    for (int i = 0; i < 3; ++i) scripts.push_back(RandomScript(components, choose));
    ExpectAsLibjpeg(picture, scripts, "round " + std::to_string(round));
  }
}

// The recoder's arrays start at a size that the quick tables' codes bound;
// codes of 1 or 2 bits make more symbols and coefficients from fewer bytes.
TEST(HuffmanRecoder, GrowsItsArraysForShortCodes) {
  std::mt19937 random(5);
  CoefficientPicture picture = Sized(4000, 2000, {{}});
  for (Block& block : picture.components[0].blocks) {
    block = Block{};
    if (random() % 64 == 0) block[1] = 1;
  }
  // A fitted table codes DC 0 and EOB in 1 bit each; progressive scans
  // then hold more coefficients than the bytes they came from.
  ExpectAsLibjpeg(picture, {LibjpegSimpleProgression(1)}, "mostly empty blocks");
  for (Block& block : picture.components[0].blocks)
    for (size_t k = 1; k < 64; ++k) block[k] = random() % 2 ? 1 : -1;
  ExpectAsLibjpeg(Sized(400, 200, {{}}), {LibjpegSimpleProgression(1)}, "every coefficient 1");
}

// ---------------------------------------------------------------------------
// Refusals: each by its own check.

// Which check refused `jpeg`, or nothing when it was recoded.
std::optional<RecodeError> RefusalOf(const Bytes& jpeg, bool progressive = false) {
  savejpg::MemorySink sink;
  try {
    if (progressive) {
      savejpg::RecodeAsProgressive(Bytes(jpeg), LibjpegSimpleProgression(1), LibjpegFittedTable,
                                   sink);
    } else {
      savejpg::RecodeWithFittedTables(jpeg, LibjpegFittedTable, sink);
    }
  } catch (const savejpg::RecodeFailure& failure) {
    EXPECT_EQ(failure.code(), SAVEJPG_ERR_ENCODER);
    return failure.error();
  }
  return std::nullopt;
}

std::string Named(std::optional<RecodeError> error) {
  return error ? savejpg::ToString(*error) : "accepted";
}

// Where the scan's bytes start: after the SOS segment.
size_t ScanStart(const Bytes& jpeg) {
  size_t at = 2;
  while (jpeg[at + 1] != 0xDA) at += 2 + (size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]);
  return at + 2 + (size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]);
}

// The offset of the first segment with `marker`.
size_t SegmentAt(const Bytes& jpeg, uint8_t marker) {
  size_t at = 2;
  while (jpeg[at + 1] != marker) at += 2 + (size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]);
  return at;
}

// Bits written into a scan as a JPEG holds them: 0x00 after each 0xFF, the
// last byte filled with 1s (or with `fill`).
class ScanBits {
 public:
  ScanBits& Put(uint32_t bits, int n) {
    for (int i = n - 1; i >= 0; --i) bits_.push_back(static_cast<uint8_t>(bits >> i & 1));
    return *this;
  }
  ScanBits& Append(const ScanBits& more) {
    bits_.insert(bits_.end(), more.bits_.begin(), more.bits_.end());
    return *this;
  }
  // In the quick tables: a DC size and its bits; an AC symbol (run << 4 |
  // size) and its bits.
  ScanBits& Dc(uint32_t size, uint32_t bits) {
    return Put(size, 4).Put(bits, static_cast<int>(size));
  }
  ScanBits& Ac(uint32_t run_size, uint32_t bits = 1) {
    return Put(run_size, 8).Put(bits, static_cast<int>(run_size & 15));
  }
  Bytes Done(uint8_t fill = 1) const {
    std::vector<uint8_t> bits = bits_;
    while (bits.size() % 8 != 0) bits.push_back(fill);
    Bytes bytes;
    for (size_t i = 0; i < bits.size(); i += 8) {
      uint8_t byte = 0;
      for (size_t j = 0; j < 8; ++j) byte = static_cast<uint8_t>(byte << 1 | bits[i + j]);
      bytes.push_back(byte);
      if (byte == 0xFF) bytes.push_back(0);
    }
    return bytes;
  }

 private:
  std::vector<uint8_t> bits_;
};

// A grey picture of `wide` x `high` blocks, as libjpeg writes it with the
// quick tables: its markers up to the scan, and its scan.
struct GreyJpeg {
  Bytes head, scan;
  explicit GreyJpeg(uint32_t wide = 2, uint32_t high = 1,
                    LibjpegCoding coding = LibjpegCoding::kQuickTables) {
    CoefficientPicture picture = Sized(8 * wide, 8 * high, {{}});
    picture.components[0].blocks[0][5] = 3;
    const Bytes jpeg = WriteWithLibjpeg(picture, coding);
    head.assign(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(ScanStart(jpeg)));
    scan.assign(jpeg.begin() + static_cast<std::ptrdiff_t>(ScanStart(jpeg)), jpeg.end() - 2);
  }
  Bytes With(const Bytes& other_scan) const {
    Bytes jpeg = head;
    jpeg.insert(jpeg.end(), other_scan.begin(), other_scan.end());
    jpeg.insert(jpeg.end(), {0xFF, 0xD9});
    return jpeg;
  }
  Bytes Whole() const { return With(scan); }
};

// A scan whose every bit is 1, so that every byte is 0xFF and stuffed:
// 320000 blocks, each a DC difference of 11 bits of 1s and EOB, with tables
// that give both symbols the 1-bit code 1. The writer's buffer fills at
// every even place, and never past its end.
TEST(HuffmanRecoder, StuffsEveryByteOfAScanOfOnes) {
  constexpr uint32_t kWide = 8000, kHigh = 40;
  ScanBits blocks;
  for (uint32_t i = 0; i < kWide * kHigh; ++i) blocks.Dc(11, 0x7FF).Ac(0x00);
  const Bytes jpeg = GreyJpeg(kWide, kHigh).With(blocks.Done());
  // Code 0 for a symbol the scan lacks, code 1 for the one it has.
  const auto ones = [](std::array<int64_t, 257>& count) {
    savejpg::HuffmanTable table;
    table.bits[1] = 2;
    table.symbols[1] = static_cast<uint8_t>(count[0] > 0 ? 0 : 11);
    table.symbols[0] = static_cast<uint8_t>(table.symbols[1] == 0 ? 1 : 0);
    return table;
  };
  savejpg::MemorySink sink;
  savejpg::RecodeWithFittedTables(jpeg, ones, sink);
  const Bytes& out = sink.bytes;
  Bytes expected;
  for (uint32_t i = 0; i < kWide * kHigh * 13 / 8; ++i) expected.insert(expected.end(), {0xFF, 0});
  expected.insert(expected.end(), {0xFF, 0xD9});
  ASSERT_GT(out.size(), expected.size());
  EXPECT_EQ(Difference(Bytes(out.end() - static_cast<std::ptrdiff_t>(expected.size()), out.end()),
                       expected),
            "");
  EXPECT_EQ(ScanStart(out), out.size() - expected.size());
}

TEST(HuffmanRecoderRefuses, EachDamageByItsOwnCheck) {
  const GreyJpeg grey;
  const Bytes good = grey.Whole();
  ASSERT_EQ(RefusalOf(good), std::nullopt);
  const size_t sof = SegmentAt(good, 0xC0), dht = SegmentAt(good, 0xC4),
               sos = SegmentAt(good, 0xDA);
  const auto changed = [&](size_t at, std::initializer_list<uint8_t> bytes) {
    Bytes jpeg = good;
    std::copy(bytes.begin(), bytes.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(at));
    return jpeg;
  };
  const auto inserted = [&](size_t at, std::initializer_list<uint8_t> bytes) {
    Bytes jpeg = good;
    jpeg.insert(jpeg.begin() + static_cast<std::ptrdiff_t>(at), bytes);
    return jpeg;
  };
  const auto without = [&](size_t at) {
    Bytes jpeg = good;
    const size_t length = size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
    jpeg.erase(jpeg.begin() + static_cast<std::ptrdiff_t>(at),
               jpeg.begin() + static_cast<std::ptrdiff_t>(at + 2 + length));
    return jpeg;
  };
  const Bytes colour = WriteWithLibjpeg(
      Sized(16, 16, {Sampled(2, 2, 0, 0), Sampled(1, 1, 1, 1), Sampled(1, 1, 1, 1)}),
      LibjpegCoding::kQuickTables);
  const size_t colour_sof = SegmentAt(colour, 0xC0), colour_sos = SegmentAt(colour, 0xDA);
  const auto colour_changed = [&](size_t at, std::initializer_list<uint8_t> bytes) {
    Bytes jpeg = colour;
    std::copy(bytes.begin(), bytes.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(at));
    return jpeg;
  };
  // A DHT segment of one AC table 1, placed before the scan.
  const auto with_table = [&](std::initializer_list<uint8_t> body) {
    Bytes segment = {0xFF, 0xC4, 0, static_cast<uint8_t>(2 + body.size())};
    segment.insert(segment.end(), body);
    Bytes jpeg = good;
    jpeg.insert(jpeg.begin() + static_cast<std::ptrdiff_t>(sos), segment.begin(), segment.end());
    return jpeg;
  };
  // A block of grey's scan (grey has 2), in the quick tables.
  const auto scan = [&](const ScanBits& bits) { return grey.With(ScanBits(bits).Done()); };
  const ScanBits empty_block = ScanBits().Dc(0, 0).Ac(0x00);
  const GreyJpeg standard(2, 1, LibjpegCoding::kStandardTables);
  Bytes marker_in_scan = ScanBits(empty_block).Done();
  marker_in_scan.insert(marker_in_scan.end(), {0xFF, 0x01});
  // Each of 17 blocks 2047 above the one before.
  ScanBits dc_climbing;
  for (int i = 0; i < 17; ++i) dc_climbing.Dc(11, 2047).Ac(0x00);
  // The colour picture's scan made of its first component alone (2 x 2
  // empty blocks).
  const Bytes luma_only = [&] {
    Bytes jpeg(colour.begin(), colour.begin() + static_cast<std::ptrdiff_t>(colour_sos));
    jpeg.insert(jpeg.end(), {0xFF, 0xDA, 0, 8, 1, colour[colour_sos + 5], 0x00, 0, 63, 0});
    const Bytes blocks =
        ScanBits(empty_block).Append(empty_block).Append(empty_block).Append(empty_block).Done();
    jpeg.insert(jpeg.end(), blocks.begin(), blocks.end());
    jpeg.insert(jpeg.end(), {0xFF, 0xD9});
    return jpeg;
  }();

  struct Case {
    const char* name;
    Bytes jpeg;
    RecodeError error;
    bool progressive = false;
  };
  const std::vector<Case> cases = {
      {"nothing", {}, RecodeError::NoStartOfImage},
      {"no SOI", changed(1, {0xD9}), RecodeError::NoStartOfImage},
      {"a byte between segments", inserted(2, {0x00}), RecodeError::NoMarker},
      {"a segment longer than the file", changed(dht + 2, {0xFF, 0xF0}),
       RecodeError::MarkerCutShort},
      {"a segment length of 1", changed(dht + 2, {0, 1}), RecodeError::MarkerCutShort},
      {"only SOI", {0xFF, 0xD8, 0xFF, 0xD9}, RecodeError::MarkerCutShort},
      {"12-bit samples", changed(sof + 4, {12}), RecodeError::NotEightBit},
      {"no components", changed(sof + 9, {0}), RecodeError::BadFrameHeader},
      {"no width", changed(sof + 7, {0, 0}), RecodeError::BadFrameHeader},
      {"no height", changed(sof + 5, {0, 0}), RecodeError::BadFrameHeader},
      {"sampling 0", changed(sof + 11, {0x01}), RecodeError::BadSampling},
      {"sampling 5", changed(sof + 11, {0x51}), RecodeError::BadSampling},
      {"a second frame", inserted(dht, {0xFF, 0xC0, 0, 2}), RecodeError::TwoFrames},
      {"progressive", changed(sof + 1, {0xC2}), RecodeError::NotBaseline},
      {"lossless", changed(sof + 1, {0xC3}), RecodeError::NotBaseline},
      {"arithmetic", changed(sof + 1, {0xC9}), RecodeError::NotBaseline},
      {"table class 2", changed(dht + 4, {0x20}), RecodeError::BadTableNumber},
      {"table number 4", changed(dht + 4, {0x04}), RecodeError::BadTableNumber},
      {"a table without its counts", with_table({0x11, 1, 0}), RecodeError::TableCutShort},
      {"a table without its symbols",
       with_table({0x11, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}),
       RecodeError::TableCutShort},
      {"3 codes of 1 bit",
       with_table({0x11, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3}),
       RecodeError::BadTable},
      {"restart markers", inserted(sos, {0xFF, 0xDD, 0, 4, 0, 1}), RecodeError::RestartMarkers},
      {"a restart segment too long", inserted(sos, {0xFF, 0xDD, 0, 5, 0, 0, 0}),
       RecodeError::RestartMarkers},
      {"a scan before the frame", without(sof), RecodeError::ScanBeforeFrame},
      {"a scan of no components", changed(sos + 4, {0}), RecodeError::BadScanHeader},
      {"a scan of 5 components", changed(sos + 4, {5}), RecodeError::BadScanHeader},
      {"a scan header too long", changed(sos + 2, {0, 9}), RecodeError::BadScanHeader},
      {"Ss 1", changed(sos + 7, {1}), RecodeError::NotSequential},
      {"Se 62", changed(sos + 8, {62}), RecodeError::NotSequential},
      {"Ah Al 0x10", changed(sos + 9, {0x10}), RecodeError::NotSequential},
      {"Ah Al 0x01", changed(sos + 9, {0x01}), RecodeError::NotSequential},
      {"a component the frame lacks", changed(sos + 5, {9}), RecodeError::UnknownScanComponent},
      {"DC table 4", changed(sos + 6, {0x40}), RecodeError::UnknownScanComponent},
      {"AC table 2, not defined", changed(sos + 6, {0x02}), RecodeError::UndefinedTable},
      {"DC table 1, not defined", changed(sos + 6, {0x10}), RecodeError::UndefinedTable},
      {"a component twice", colour_changed(colour_sos + 7, {colour[colour_sos + 5]}),
       RecodeError::ComponentTwice},
      {"11 blocks in an MCU", colour_changed(colour_sof + 11, {0x33}), RecodeError::McuTooLarge},
      {"a byte after EOI", inserted(good.size(), {0}), RecodeError::NotOneScan},
      {"no EOI", Bytes(good.begin(), good.end() - 1), RecodeError::NotOneScan},
      {"a marker in the scan", grey.With(marker_in_scan), RecodeError::MarkerInScan},
      {"a DC size of 12", scan(ScanBits(empty_block).Dc(12, 0).Ac(0x00)),
       RecodeError::CoefficientOutOfRange},
      {"an AC size of 11", scan(ScanBits(empty_block).Dc(0, 0).Ac(0x0B, 0).Ac(0x00)),
       RecodeError::CoefficientOutOfRange},
      {"a size 0 that is neither EOB nor ZRL", scan(ScanBits(empty_block).Dc(0, 0).Ac(0x10)),
       RecodeError::CoefficientOutOfRange},
      {"a run past the block",
       scan(ScanBits(empty_block).Dc(0, 0).Ac(0xF0).Ac(0xF0).Ac(0xF0).Ac(0xF0)),
       RecodeError::CoefficientOutOfRange},
      {"the scan cut short", scan(ScanBits(empty_block).Dc(0, 0).Put(0, 7)),
       RecodeError::ScanCutShort},
      {"the scan missing", grey.With({}), RecodeError::ScanCutShort},
      {"a byte after the last block", scan(ScanBits(empty_block).Append(empty_block).Put(0xAB, 8)),
       RecodeError::DataAfterScan},
      {"a third block", scan(ScanBits(empty_block).Append(empty_block).Append(empty_block)),
       RecodeError::DataAfterScan},
      {"a whole byte of 1s after the last block",
       scan(ScanBits(empty_block).Append(empty_block).Put(0xFF, 8)), RecodeError::DataAfterScan},
      {"padding of 0s", grey.With(ScanBits().Dc(1, 1).Ac(0x00).Dc(1, 0).Ac(0x00).Done(0)),
       RecodeError::DataAfterScan},
      {"a scan header of one component, too long", colour_changed(colour_sos + 4, {1}),
       RecodeError::BadScanHeader},
      {"a code no table has", standard.With(ScanBits().Put(0xFFFF, 16).Done()),
       RecodeError::UnknownCode},
      {"a component not in the scan, progressive", luma_only,
       RecodeError::ScanWithoutEveryComponent, true},
      {"a DC past 16 bits, progressive", GreyJpeg(17).With(dc_climbing.Done()),
       RecodeError::CoefficientOutOfRange, true},
  };
  // Recoded as they are where nothing else needs the values.
  EXPECT_EQ(RefusalOf(luma_only), std::nullopt);
  EXPECT_EQ(RefusalOf(GreyJpeg(17).With(dc_climbing.Done())), std::nullopt);
  for (const Case& c : cases) {
    EXPECT_EQ(Named(RefusalOf(c.jpeg, c.progressive)), savejpg::ToString(c.error)) << c.name;
  }
}

// Bytes after a scan's last block are refused wherever they begin: pictures
// whose last block ends with a long code (the standard tables' 16 bits for
// a 10-bit coefficient at place 63) over every alignment of the scan's
// bits, each followed by a few bytes more.
TEST(HuffmanRecoderRefuses, BytesAfterTheLastBlockWhereverTheyBegin) {
  std::mt19937 random(11);
  const Bytes extra = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11};
  int refused = 0;
  for (int round = 0; round < 600; ++round) {
    CoefficientPicture picture = Sized(16, 8, {Sampled(1, 1, 0, 0)});
    for (Block& block : picture.components[0].blocks) {
      block[0] = static_cast<int16_t>(static_cast<int>(random() % 2048) - 1024);
      for (size_t k = 1 + random() % 63; k < 63; k += 1 + random() % 8)
        block[k] = static_cast<int16_t>(static_cast<int>(random() % 64) - 32);
      block[63] = static_cast<int16_t>(random() % 2 ? 700 : -700);
    }
    Bytes jpeg = WriteWithLibjpeg(picture, LibjpegCoding::kStandardTables);
    ASSERT_EQ(RefusalOf(jpeg), std::nullopt);
    jpeg.insert(jpeg.end() - 2, extra.begin(),
                extra.begin() + static_cast<std::ptrdiff_t>(1 + random() % extra.size()));
    refused += RefusalOf(jpeg) == RecodeError::DataAfterScan;
  }
  EXPECT_EQ(refused, 600);
}

// Every cut of a JPEG, ended again with EOI, is refused: inside a marker
// segment as a marker cut short (unless the EOI added stands in for the
// segment's last bytes), inside the scan as a scan cut short or, where the
// bits left end in a part of a code, as the coefficient it makes, or where
// the cut leaves a 0xFF at the scan's end, as a marker in the scan. Every
// byte of the scan made 0xFF (when no 0x00 follows) is a marker in the scan.
TEST(HuffmanRecoderRefuses, EveryCutAndEveryMarkerInTheScan) {
  std::mt19937 random(3);
  CoefficientPicture picture =
      Sized(40, 24, {Sampled(2, 1, 0, 0), Sampled(1, 1, 1, 1), Sampled(1, 1, 1, 1)});
  FillRandomly(picture, [&](uint32_t n) { return static_cast<uint32_t>(random() % n); });
  const Bytes jpeg = WriteWithLibjpeg(picture, LibjpegCoding::kQuickTables);
  const size_t scan_start = ScanStart(jpeg);
  // Where each marker segment ends.
  std::set<size_t> segment_ends;
  for (size_t at = 2; at < scan_start; at += 2 + (size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]))
    segment_ends.insert(at + 2 + (size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]));
  const std::string cut_short = savejpg::ToString(RecodeError::MarkerCutShort);
  const std::set<std::string> scan_cut = {savejpg::ToString(RecodeError::ScanCutShort),
                                          savejpg::ToString(RecodeError::CoefficientOutOfRange)};
  for (const bool progressive : {false, true}) {
    for (size_t cut = 0; cut + 2 < jpeg.size(); ++cut) {
      Bytes damaged(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(cut));
      damaged.insert(damaged.end(), {0xFF, 0xD9});
      const std::string refusal = Named(RefusalOf(damaged, progressive));
      const std::string where =
          "cut at " + std::to_string(cut) + " of " + std::to_string(jpeg.size());
      if (cut < 2) {
        EXPECT_EQ(refusal, savejpg::ToString(RecodeError::NoStartOfImage)) << where;
      } else if (cut < scan_start) {
        const size_t end = *segment_ends.upper_bound(cut);
        if (end - cut > 2) {
          EXPECT_EQ(refusal, cut_short) << where;
        } else {
          EXPECT_NE(refusal, "accepted") << where;
        }
      } else if (jpeg[cut - 1] == 0xFF) {
        EXPECT_EQ(refusal, savejpg::ToString(RecodeError::MarkerInScan)) << where;
      } else {
        EXPECT_TRUE(scan_cut.count(refusal)) << where << ": " << refusal;
      }
    }
    for (size_t at = scan_start; at + 3 < jpeg.size(); ++at) {
      if (jpeg[at] == 0xFF || jpeg[at + 1] == 0x00) continue;
      Bytes damaged = jpeg;
      damaged[at] = 0xFF;
      EXPECT_EQ(Named(RefusalOf(damaged, progressive)),
                savejpg::ToString(RecodeError::MarkerInScan))
          << "0xFF at " << at;
    }
  }
}

// Bands join into one picture only when they are bands of one: the same
// width, frame, tables and scan, each band but the last as high as whole
// rows of MCUs, all together no higher than a frame can say.
TEST(HuffmanRecoderRefuses, BandsThatDoNotJoin) {
  const std::vector<CoefficientPicture::Component> grey = {{}};
  const std::vector<CoefficientPicture::Component> colour = {
      Sampled(2, 2, 0, 0), Sampled(1, 1, 1, 1), Sampled(1, 1, 1, 1)};
  const auto band = [](uint32_t width, uint32_t height,
                       const std::vector<CoefficientPicture::Component>& components) {
    return WriteWithLibjpeg(Sized(width, height, components), LibjpegCoding::kQuickTables);
  };
  const Bytes grey8 = band(16, 8, grey), grey16 = band(16, 16, grey);
  Bytes other_quantisation = grey16;
  other_quantisation[SegmentAt(grey16, 0xDB) + 6] ^= 1;
  const Bytes tall = band(8, 40000, grey);
  struct Case {
    const char* name;
    std::vector<Bytes> bands;
    std::optional<RecodeError> error;
  };
  const std::vector<Case> cases = {
      {"a band cut inside a row of blocks",
       {band(16, 12, grey), grey8},
       RecodeError::BandsDoNotJoin},
      {"a band cut inside a row of 4:2:0 MCUs",
       {band(16, 8, colour), band(16, 16, colour)},
       RecodeError::BandsDoNotJoin},
      {"other widths", {grey8, band(8, 8, grey)}, RecodeError::BandsDoNotJoin},
      {"grey and colour", {grey16, band(16, 16, colour)}, RecodeError::BandsDoNotJoin},
      {"other quantisation", {grey8, other_quantisation}, RecodeError::BandsDoNotJoin},
      {"higher than a frame can say", {tall, tall}, RecodeError::BandsDoNotJoin},
      {"no band", {}, RecodeError::NoStartOfImage},
  };
  for (const bool progressive : {false, true}) {
    for (const Case& c : cases) {
      std::optional<RecodeError> refusal;
      savejpg::MemorySink sink;
      try {
        if (progressive) {
          savejpg::RecodeAsProgressive(std::vector<Bytes>(c.bands), LibjpegSimpleProgression(1),
                                       LibjpegFittedTable, sink, UINT64_MAX, 2);
        } else {
          const std::vector<std::span<const uint8_t>> spans(c.bands.begin(), c.bands.end());
          savejpg::RecodeWithFittedTables(spans, LibjpegFittedTable, sink, UINT64_MAX, 2);
        }
      } catch (const savejpg::RecodeFailure& failure) {
        refusal = failure.error();
      }
      EXPECT_EQ(Named(refusal), Named(c.error)) << c.name << (progressive ? ", progressive" : "");
    }
  }
}

// Scripts libjpeg refuses are refused before anything is written, and so
// are AC scans of more than two shifts, which the recoder does not make.
TEST(HuffmanRecoderRefuses, ScriptsLibjpegRefuses) {
  const CoefficientPicture picture =
      Sized(16, 16, {Sampled(1, 1, 0, 0), Sampled(1, 1, 1, 1), Sampled(1, 1, 1, 1)});
  const Bytes jpeg = WriteWithLibjpeg(picture, LibjpegCoding::kQuickTables);
  const auto scan = [](std::initializer_list<int> components, int ss, int se, int ah, int al) {
    ProgressiveScan s;
    s.components = static_cast<int>(components.size());
    std::copy(components.begin(), components.end(), s.component);
    s.ss = ss, s.se = se, s.ah = ah, s.al = al;
    return s;
  };
  const ProgressiveScan dc = scan({0, 1, 2}, 0, 0, 0, 1);
  struct Case {
    const char* name;
    std::vector<ProgressiveScan> script;
    bool libjpeg_refuses = true;
  };
  const std::vector<Case> cases = {
      {"no components", {scan({}, 0, 0, 0, 0)}},
      {"5 components", {scan({0, 1, 2, 0, 1}, 0, 0, 0, 0)}},
      {"a component the frame lacks", {scan({0, 1, 3}, 0, 0, 0, 0)}},
      {"a component twice", {scan({0, 1, 1}, 0, 0, 0, 0)}},
      {"Ss after Se", {dc, scan({0}, 5, 4, 0, 0)}},
      {"Se past 63", {dc, scan({0}, 1, 64, 0, 0)}},
      {"DC and AC in one scan", {scan({0}, 0, 5, 0, 0)}},
      {"AC of two components", {dc, scan({0, 1}, 1, 63, 0, 0)}},
      {"Al past 10", {scan({0, 1, 2}, 0, 0, 0, 11)}},
      {"a refinement with Ah = Al + 2", {dc, scan({0}, 1, 63, 0, 2), scan({0}, 1, 63, 2, 0)}},
      {"a refinement before the first scan", {dc, scan({0}, 1, 63, 1, 0)}},
      {"a refinement of another Al", {dc, scan({0}, 1, 63, 0, 2), scan({0}, 1, 63, 1, 0)}},
      {"a first scan twice", {dc, scan({0}, 1, 63, 0, 0), scan({0}, 5, 10, 0, 0)}},
      {"a DC first scan twice", {dc, scan({1}, 0, 0, 0, 0)}},
      {"AC with Al 3", {dc, scan({0}, 1, 63, 0, 3)}, false},
  };
  for (const Case& c : cases) {
    savejpg::MemorySink sink;
    try {
      savejpg::RecodeAsProgressive(Bytes(jpeg), c.script, LibjpegFittedTable, sink);
      ADD_FAILURE() << c.name << ": recoded";
    } catch (const savejpg::RecodeFailure& failure) {
      EXPECT_EQ(Named(failure.error()), savejpg::ToString(RecodeError::BadScript)) << c.name;
    }
    EXPECT_TRUE(sink.bytes.empty()) << c.name;
    bool refused = false;
    try {
      WriteWithLibjpeg(picture, LibjpegCoding::kProgressive, c.script);
    } catch (const std::runtime_error&) {
      refused = true;
    }
    EXPECT_EQ(refused, c.libjpeg_refuses) << c.name;
  }
}

// Faults of the table builder rather than of the input.
TEST(HuffmanRecoderRefuses, TablesThatDoNotServe) {
  const Bytes jpeg = GreyJpeg(4).Whole();
  // A table that lacks the symbols the scan has.
  const auto one_symbol = [](std::array<int64_t, 257>&) {
    savejpg::HuffmanTable table;
    table.bits[1] = 1;
    table.symbols[0] = 0x3F;
    return table;
  };
  // More codes of one length than it has.
  const auto too_many = [](std::array<int64_t, 257>&) {
    savejpg::HuffmanTable table;
    table.bits[1] = 3;
    return table;
  };
  // Every symbol but 0xFF: 272 bytes a table.
  const auto full = [](std::array<int64_t, 257>&) { return savejpg::QuickToReadTable(1); };
  // One DHT segment defining AC table 0 241 times, each but the last with
  // one symbol: once full, 241 tables no longer fit one segment.
  const Bytes redefined = [&] {
    const size_t dht = SegmentAt(jpeg, 0xC4);
    Bytes body;
    for (int i = 0; i < 240; ++i) {
      body.insert(body.end(), {0x10, 1});
      body.insert(body.end(), 15, 0);
      body.push_back(0);
    }
    const savejpg::HuffmanTable quick = savejpg::QuickToReadTable(1);
    body.push_back(0x10);
    body.insert(body.end(), quick.bits.begin() + 1, quick.bits.end());
    body.insert(body.end(), quick.symbols.begin(), quick.symbols.begin() + 255);
    Bytes out(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(dht));
    out.insert(out.end(), {0xFF, 0xC4, static_cast<uint8_t>((body.size() + 2) >> 8),
                           static_cast<uint8_t>(body.size() + 2)});
    out.insert(out.end(), body.begin(), body.end());
    out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(dht), jpeg.end());
    return out;
  }();
  struct Case {
    const char* name;
    const Bytes& jpeg;
    savejpg::TableBuilder build;
    RecodeError error;
  };
  const Case cases[] = {
      {"a symbol without a code", jpeg, one_symbol, RecodeError::SymbolWithoutCode},
      {"too many codes of 1 bit", jpeg, too_many, RecodeError::BadTable},
      {"tables too long for their segment", redefined, full, RecodeError::TableSegmentTooLong},
  };
  for (const Case& c : cases) {
    for (const bool progressive : {false, true}) {
      if (progressive && c.error == RecodeError::TableSegmentTooLong) continue;
      savejpg::MemorySink sink;
      std::optional<RecodeError> refused;
      try {
        if (progressive) {
          savejpg::RecodeAsProgressive(Bytes(c.jpeg), LibjpegSimpleProgression(1), c.build, sink);
        } else {
          savejpg::RecodeWithFittedTables(c.jpeg, c.build, sink);
        }
      } catch (const savejpg::RecodeFailure& failure) {
        refused = failure.error();
      }
      EXPECT_EQ(Named(refused), savejpg::ToString(c.error)) << c.name;
    }
  }
  EXPECT_EQ(RefusalOf(redefined), std::nullopt);
}

}  // namespace
}  // namespace savejpg_test
