#include "huffman_recoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "savejpg.h"
#include "work_threads.h"

// The sections cited are those of ITU-T T.81 | ISO/IEC 10918-1, "Digital
// compression and coding of continuous-tone still images: requirements and
// guidelines" (https://www.w3.org/Graphics/JPEG/itu-t81.pdf). Names in
// capitals, and Ss, Se, Ah, Al, Tc, Th, are the standard's own.

namespace savejpg {

const char* ToString(RecodeError error) {
  // In the order of the enumeration.
  static constexpr const char* kMessages[] = {
      "no start of image",
      "bytes between markers",
      "a marker cut short",
      "two frames",
      "a frame that is not baseline",
      "a frame that is not 8-bit",
      "a frame header it cannot read",
      "a sampling factor out of range",
      "a table cut short",
      "a table class or number out of range",
      "a table that does not fit",
      "restart markers",
      "a scan before the frame",
      "a scan header it cannot read",
      "a scan that is not sequential",
      "a scan component it cannot place",
      "a component twice in a scan",
      "a scan naming a table not defined",
      "more than 10 blocks in an MCU",
      "more than one scan, or no end of image",
      "a scan without every component",
      "a marker inside the scan",
      "a code its table does not have",
      "a coefficient out of range",
      "a scan cut short",
      "data after the last block of the scan",
      "a scan the script cannot have",
      "a symbol its fitted table lacks",
      "a table segment too long",
      "bands that do not join",
  };
  static_assert(std::size(kMessages) == static_cast<size_t>(RecodeError::BandsDoNotJoin) + 1);
  const auto index = static_cast<size_t>(error);
  return index < std::size(kMessages) ? kMessages[index] : "an unknown fault";
}

RecodeFailure::RecodeFailure(RecodeError error)
    : JpegFailure(SAVEJPG_ERR_ENCODER,
                  std::string("recoding the Huffman tables: ") + ToString(error)),
      error_(error) {}

namespace {

[[noreturn]] void Fail(RecodeError error) { throw RecodeFailure(error); }

constexpr uint8_t kSof0 = 0xC0, kSof1 = 0xC1, kSof2 = 0xC2, kDht = 0xC4, kDqt = 0xDB, kSoi = 0xD8,
                  kEoi = 0xD9, kSos = 0xDA, kDri = 0xDD;
// The Huffman tables by slot: DC tables 0-3 (Tc = 0, Th = 0-3), then AC
// tables 0-3 (Tc = 1).
constexpr int kTableSlots = 8;
int Slot(int tc, int th) { return tc * 4 + th; }

// The AC symbols that are no coefficient (F.1.2.2.1): ZRL, 16 zeros; EOB,
// the end of the block (EOB0 in progressive scans).
constexpr uint32_t kZrl = 0xF0, kEob = 0x00;

// A symbol as the recoder keeps it until its table is fitted, in one
// uint32_t: its additional bits << 16 | how many they are (up to 14, for
// EOB14) << 12 | table slot << 8 | the symbol (SSSS for DC, RRRRSSSS for
// AC). Bits sent without a code (DC refinement and correction bits, G.1.2.1
// and G.1.2.3), in runs of up to kMaxRawBits, have the slot kRawSlot, which
// is no table's, and how many they are for their symbol; CodesOf gives that
// symbol a code of as many 0 bits, which the writer fills with the bits.
constexpr uint32_t kRawSlot = kTableSlots;
constexpr int kMaxRawBits = 16;
constexpr uint32_t kRawMask = (1u << kMaxRawBits) - 1;
constexpr uint32_t SlotBits(uint32_t slot) { return slot << 8; }
constexpr uint32_t PackedSymbol(uint32_t slot_bits, uint32_t symbol, uint32_t additional,
                                uint32_t count) {
  return additional << 16 | count << 12 | slot_bits | symbol;
}
constexpr uint32_t PackedRawBits(uint32_t bits, uint32_t count) {
  return bits << 16 | SlotBits(kRawSlot) | count;
}

uint32_t BigEndian16(std::span<const uint8_t> bytes, size_t at) {
  return uint32_t{bytes[at]} << 8 | bytes[at + 1];
}

// Annex C: the codes of a table from BITS (the count of codes of each
// length, here `bits`) and HUFFVAL (the symbols, `symbols`): HUFFSIZE and
// HUFFCODE of Figures C.1 and C.2, shortest codes first, counting up within
// one length. Fails for counts that do not fit in their lengths, or more
// than 256 symbols.
template <typename Code>
void ForEachCode(const HuffmanTable& table, Code code_for) {
  uint32_t code = 0;
  size_t index = 0;
  for (int length = 1; length <= 16; ++length) {
    for (int n = 0; n < table.bits[length]; ++n) {
      if (index >= table.symbols.size() || code >= (1u << length)) Fail(RecodeError::BadTable);
      code_for(table.symbols[index++], code++, length);
    }
    code <<= 1;
  }
}

size_t SymbolCount(const HuffmanTable& table) {
  size_t n = 0;
  for (int length = 1; length <= 16; ++length) n += table.bits[length];
  return n;
}

// The scan's bytes as bits (NEXTBIT, F.2.2.5), without the 0x00 stuffed
// after each 0xFF (F.1.2.3); any other byte after a 0xFF is a marker, which
// a scan here never holds. Bits past the end read as 0; Exhausted() says
// whether any was used.
class BitReader {
 public:
  BitReader(const uint8_t* begin, const uint8_t* end) : p_(begin), end_(end) { Fill(); }

  // At least 56 bits are ready after Fill.
  void Fill() {
    if (end_ - p_ >= 8) {
      // The next whole bytes at once when none of them is 0xFF. The bits of
      // the byte after them that come in as well are the same ones the next
      // fill puts there.
      uint64_t word;
      std::memcpy(&word, p_, sizeof word);
      if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
      if (!HasByteFF(word)) {
        acc_ |= word >> count_;
        const int bytes = (63 - count_) >> 3;
        p_ += bytes;
        count_ += bytes * 8;
        return;
      }
    }
    while (count_ <= 56) {
      acc_ |= uint64_t{NextByte()} << (56 - count_);
      count_ += 8;
    }
  }
  uint32_t Peek16() const { return static_cast<uint32_t>(acc_ >> 48); }
  void Drop(int n) {
    acc_ <<= n;
    count_ -= n;
  }
  // n from 0 to 16.
  uint32_t Take(int n) {
    const auto value = static_cast<uint32_t>(acc_ >> 1 >> (63 - n));
    Drop(n);
    return value;
  }
  uint32_t Peek24() const { return static_cast<uint32_t>(acc_ >> 40); }
  int Ready() const { return count_; }
  bool Exhausted() const { return missing_bits_ > count_; }
  // Whether all that is left is fewer than 8 bits, all 1s: the padding of
  // the last byte. (Any byte not yet read is 8 bits more.)
  bool OnlyPaddingLeft() const {
    const int64_t left = count_ - missing_bits_;
    if (p_ != end_ || left < 0 || left >= 8) return false;
    return left == 0 || acc_ >> (64 - left) == (uint64_t{1} << left) - 1;
  }

 private:
  static bool HasByteFF(uint64_t word) {
    const uint64_t inverted = ~word;
    return ((inverted - 0x0101010101010101u) & ~inverted & 0x8080808080808080u) != 0;
  }
  uint8_t NextByte() {
    if (p_ == end_) {
      missing_bits_ += 8;
      return 0;
    }
    const uint8_t byte = *p_++;
    if (byte == 0xFF) {
      if (p_ == end_ || *p_ != 0) Fail(RecodeError::MarkerInScan);
      ++p_;
    }
    return byte;
  }

  const uint8_t* p_;
  const uint8_t* end_;
  uint64_t acc_ = 0;  // the next bits from the top down
  int count_ = 0;
  int64_t missing_bits_ = 0;
};

// The scan must end with its last block: fewer bits than a byte, all 1s,
// left after it. Always inline: the reader's state then stays in registers
// in the loops that read the scan.
[[gnu::always_inline]] inline void CheckScanEnd(const BitReader& in) {
  if (in.Exhausted()) Fail(RecodeError::ScanCutShort);
  if (!in.OnlyPaddingLeft()) Fail(RecodeError::DataAfterScan);
}

// A table for reading (F.2.2.3, the DECODE procedure of Figure F.16):
// codes of up to kFastBits bits in one look-up, longer ones by length with
// MAXCODE and VALPTR - MINCODE (Figure F.15).
class DecodeTable {
 public:
  explicit DecodeTable(const HuffmanTable& table) {
    int valptr[17] = {};
    uint32_t mincode[17] = {};
    ForEachCode(table, [&](uint8_t symbol, uint32_t code, int length) {
      if (length <= kFastBits) {
        const uint32_t from = code << (kFastBits - length);
        for (uint32_t i = 0; i < (1u << (kFastBits - length)); ++i)
          fast_[from + i] = static_cast<uint16_t>(length << 8 | symbol);
      }
      if (maxcode_[length] < 0) {
        mincode[length] = code;
        valptr[length] = static_cast<int>(huffval_.size());
      }
      maxcode_[length] = static_cast<int32_t>(code);
      huffval_.push_back(symbol);
    });
    for (int length = 1; length <= 16; ++length)
      valptr_minus_mincode_[length] = valptr[length] - static_cast<int32_t>(mincode[length]);
    // A table whose codes all have one length and are their own symbols
    // (QuickToReadTable) is read without looking up.
    for (int length = 1; length <= 8; ++length) {
      if (table.bits[length] == huffval_.size() && mincode[length] == 0) {
        bool own = true;
        for (size_t i = 0; i < huffval_.size(); ++i) own = own && huffval_[i] == i;
        if (own) fixed_length_ = length, fixed_count_ = static_cast<uint32_t>(huffval_.size());
      }
    }
  }

  // Whether this is QuickToReadTable(table_class).
  bool IsQuick(int table_class) const {
    return fixed_length_ == (table_class == 0 ? 4 : 8) &&
           fixed_count_ == (table_class == 0 ? 12u : 255u);
  }

  uint8_t Read(BitReader& in) const {
    if (fixed_length_ != 0) {
      const uint32_t code = in.Take(fixed_length_);
      if (code >= fixed_count_) Fail(RecodeError::UnknownCode);
      return static_cast<uint8_t>(code);
    }
    const uint32_t look = in.Peek16();
    const uint16_t entry = fast_[look >> (16 - kFastBits)];
    if (entry != 0) {
      in.Drop(entry >> 8);
      return static_cast<uint8_t>(entry);
    }
    for (int length = kFastBits + 1; length <= 16; ++length) {
      const auto code = static_cast<int32_t>(look >> (16 - length));
      if (code <= maxcode_[length]) {
        in.Drop(length);
        return huffval_[static_cast<size_t>(valptr_minus_mincode_[length] + code)];
      }
    }
    Fail(RecodeError::UnknownCode);
  }

 private:
  static constexpr int kFastBits = 9;
  uint16_t fast_[1 << kFastBits] = {};  // length << 8 | symbol; 0: longer
  int32_t maxcode_[17] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
  int32_t valptr_minus_mincode_[17] = {};
  std::vector<uint8_t> huffval_;
  int fixed_length_ = 0;
  uint32_t fixed_count_ = 0;
};

constexpr size_t kBitWriterBuffer = 64 * 1024;

// A scan's bits into bytes, handed to the sink in large pieces: a 0x00
// after each 0xFF (byte stuffing, F.1.2.3), the last byte filled with 1
// bits (B.1.1.5).
class BitWriter {
 public:
  explicit BitWriter(JpegSink& sink) : sink_(sink), buffer_(kBuffer), out_(buffer_.data()) {}

  // A piece of a scan coded apart: its bytes, the first of them holding
  // `phase` 0 bits where the bits before the piece go, then its bits; and
  // the bits after its last whole byte.
  struct Piece {
    std::vector<uint8_t> bytes;
    uint64_t tail = 0;
    int phase = 0, tail_bits = 0;
  };
  // A writer of a piece that begins `phase` bits (0-7) into its first byte.
  BitWriter(JpegSink& sink, int phase) : BitWriter(sink) { count_ = phase; }
  // The bits after the last whole byte, which Finish would pad; the whole
  // bytes are handed to the sink.
  void FinishPiece(Piece& piece) {
    Drain();
    Flush();
    piece.tail = acc_ & ((uint64_t{1} << count_) - 1);
    piece.tail_bits = count_;
  }
  // Puts a piece's bits after those written so far; its phase must be the
  // count of bits waiting for their byte. A byte made of bits from both
  // sides is stuffed here (the piece's own first byte never needs it: it
  // starts with a 0 bit, or it is whole).
  void PutPiece(const Piece& piece) {
    Drain();
    if (count_ != piece.phase) Fail(RecodeError::BandsDoNotJoin);
    if (piece.bytes.empty()) {
      acc_ = acc_ << (piece.tail_bits - count_) | piece.tail;
    } else {
      std::span<const uint8_t> bytes = piece.bytes;
      if (count_ != 0) {
        Emit(static_cast<uint8_t>(acc_ << (8 - count_) | bytes[0]));
        bytes = bytes.subspan(1);
      }
      Append(bytes);
      acc_ = piece.tail;
    }
    count_ = piece.tail_bits;
  }

  // Each symbol's code from `codes` (code << 5 | length, by slot << 8 |
  // symbol), then its additional bits.
  void PutSymbols(std::span<const uint32_t> symbols, const std::vector<uint32_t>& codes) {
    // The state in locals, which the compiler keeps in registers.
    uint64_t acc = acc_;
    int count = count_;
    uint8_t* out = out_;
    uint8_t* const limit = buffer_.data() + buffer_.size() - 16;
    const uint32_t* const code_of = codes.data();  // not read again after each byte stored
    for (const uint32_t s : symbols) {
      const uint32_t code = code_of[s & 0xFFF];
      const int bits = static_cast<int>(s >> 12 & 15), length = static_cast<int>(code & 31);
      if (length == 0) Fail(RecodeError::SymbolWithoutCode);
      acc = acc << (length + bits) | (code >> 5) << bits | s >> 16;
      count += length + bits;
      if (count < 32) continue;
      if (out > limit) {
        out_ = out;
        Flush();
        out = out_;
      }
      const auto word = static_cast<uint32_t>(acc >> (count - 32));
      const uint32_t inverted = ~word;
      if (((inverted - 0x01010101u) & ~inverted & 0x80808080u) == 0) {
        out[0] = static_cast<uint8_t>(word >> 24);
        out[1] = static_cast<uint8_t>(word >> 16);
        out[2] = static_cast<uint8_t>(word >> 8);
        out[3] = static_cast<uint8_t>(word);
        out += 4;
        count -= 32;
      } else {
        while (count >= 8) {
          count -= 8;
          const auto byte = static_cast<uint8_t>(acc >> count);
          *out++ = byte;
          if (byte == 0xFF) *out++ = 0;
        }
      }
    }
    acc_ = acc;
    count_ = count;
    out_ = out;
  }
  void Finish() {
    Drain();
    if (count_ > 0) Emit(static_cast<uint8_t>(acc_ << (8 - count_) | 0xFFu >> count_));
    count_ = 0;
    Flush();
  }
  void Append(std::span<const uint8_t> bytes) {
    Flush();
    sink_.Write(bytes.data(), bytes.size());
  }

 private:
  static constexpr size_t kBuffer = kBitWriterBuffer;

  // The whole bytes waiting (fewer than 32 bits: PutSymbols leaves no more).
  void Drain() {
    if (buffer_.data() + buffer_.size() - out_ < 16) Flush();
    while (count_ >= 8) {
      count_ -= 8;
      Emit(static_cast<uint8_t>(acc_ >> count_));
    }
  }
  void Emit(uint8_t byte) {
    *out_++ = byte;
    if (byte == 0xFF) *out_++ = 0;
  }
  void Flush() {
    sink_.Write(buffer_.data(), static_cast<size_t>(out_ - buffer_.data()));
    out_ = buffer_.data();
  }

  JpegSink& sink_;
  std::vector<uint8_t> buffer_;
  uint8_t* out_;
  uint64_t acc_ = 0;  // the last count_ bits are waiting
  int count_ = 0;
};

// A component of the frame (B.2.2): Ci, Hi, Vi; and the tables Tdj, Taj
// its scan names for it (B.2.3).
struct FrameComponent {
  int id, h, v;
  int dc_table = 0, ac_table = 0;
};

// A block of the MCU: its tables' slots, its component (index in the frame).
struct Block {
  int dc, ac;
  int component;
};

// What the markers say (B.2.1): where each segment is, the tables, the
// frame's components and the scan's blocks in the order it codes them
// (A.2.2: a component alone block by block, A.2.3: several MCU by MCU).
struct Layout {
  struct Segment {
    size_t start, end;  // from the 0xFF to the end of the segment
    uint8_t marker;
  };
  std::vector<Segment> before_scan;  // after SOI, up to and with SOS
  std::optional<HuffmanTable> tables[kTableSlots];
  std::vector<FrameComponent> frame;
  uint32_t width = 0, height = 0;
  std::vector<Block> mcu;            // the blocks of one MCU, in order
  std::vector<int> scan_components;  // indices in the frame, in the scan's order
  uint64_t mcus_wide = 0, mcus_high = 0, mcus = 0;
  size_t scan_start = 0, scan_end = 0;
};

// The frame header (B.2.2, after its length): P, Y, X, Nf, then Ci, Hi Vi,
// Tqi for each component.
void ReadFrame(std::span<const uint8_t> s, Layout& layout) {
  if (s.size() < 6 || s[0] != 8) Fail(RecodeError::NotEightBit);
  layout.height = BigEndian16(s, 1);
  layout.width = BigEndian16(s, 3);
  const size_t n = s[5];
  if (n < 1 || n > 4 || s.size() != 6 + 3 * n || layout.width == 0 || layout.height == 0)
    Fail(RecodeError::BadFrameHeader);
  for (size_t i = 0; i < n; ++i) {
    const int h = s[6 + 3 * i + 1] >> 4, v = s[6 + 3 * i + 1] & 15;
    if (h < 1 || h > 4 || v < 1 || v > 4) Fail(RecodeError::BadSampling);
    layout.frame.push_back({s[6 + 3 * i], h, v});
  }
}

// Calls table(Tc, Th, table) for each table of one DHT segment's body
// (B.2.4.2): Tc Th, the 16 counts Li of BITS, the symbols Vij of HUFFVAL.
template <typename Table>
void ReadTables(std::span<const uint8_t> s, Table table) {
  size_t at = 0;
  while (at < s.size()) {
    if (s.size() - at < 17) Fail(RecodeError::TableCutShort);
    const int tc = s[at] >> 4, th = s[at] & 15;
    if (tc > 1 || th > 3) Fail(RecodeError::BadTableNumber);
    HuffmanTable t;
    for (int length = 1; length <= 16; ++length) t.bits[length] = s[at + length];
    const size_t n = SymbolCount(t);
    if (n > 256 || s.size() - at - 17 < n) Fail(RecodeError::TableCutShort);
    for (size_t i = 0; i < n; ++i) t.symbols[i] = s[at + 17 + i];
    table(tc, th, t);
    at += 17 + n;
  }
}

uint64_t DivideUp(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

// Hmax and Vmax (A.1.1).
struct MaxSampling {
  int h = 1, v = 1;
  explicit MaxSampling(const Layout& layout) {
    for (const FrameComponent& c : layout.frame) {
      h = std::max(h, c.h);
      v = std::max(v, c.v);
    }
  }
};

// The scan header (B.2.3, after its length): Ns, then Csj and Tdj Taj for
// each component, then Ss, Se, Ah Al; and the MCUs it makes (A.2).
void ReadScanHeader(std::span<const uint8_t> s, Layout& layout) {
  if (layout.frame.empty()) Fail(RecodeError::ScanBeforeFrame);
  if (s.empty()) Fail(RecodeError::BadScanHeader);
  const size_t n = s[0];
  if (n < 1 || n > 4 || s.size() != 4 + 2 * n) Fail(RecodeError::BadScanHeader);
  if (s[1 + 2 * n] != 0 || s[2 + 2 * n] != 63 || s[3 + 2 * n] != 0)
    Fail(RecodeError::NotSequential);
  const MaxSampling max(layout);
  // Several components are coded MCU by MCU of Hmax x Vmax blocks' pixels,
  // one alone block by block of its own (A.2.2, A.2.3).
  layout.mcus_wide = DivideUp(layout.width, 8u * max.h);
  layout.mcus_high = DivideUp(layout.height, 8u * max.v);
  for (size_t i = 0; i < n; ++i) {
    FrameComponent* component = nullptr;
    int index = 0;
    for (size_t c = 0; c < layout.frame.size(); ++c)
      if (layout.frame[c].id == s[1 + 2 * i])
        component = &layout.frame[c], index = static_cast<int>(c);
    const int dc = s[2 + 2 * i] >> 4, ac = s[2 + 2 * i] & 15;
    if (component == nullptr || dc > 3 || ac > 3) Fail(RecodeError::UnknownScanComponent);
    for (const int other : layout.scan_components)
      if (other == index) Fail(RecodeError::ComponentTwice);
    layout.scan_components.push_back(index);
    component->dc_table = dc;
    component->ac_table = ac;
    if (!layout.tables[Slot(0, dc)] || !layout.tables[Slot(1, ac)])
      Fail(RecodeError::UndefinedTable);
    const int blocks = n == 1 ? 1 : component->h * component->v;
    for (int b = 0; b < blocks; ++b) layout.mcu.push_back({Slot(0, dc), Slot(1, ac), index});
    if (n == 1) {
      layout.mcus_wide = DivideUp(DivideUp(uint64_t{layout.width} * component->h, max.h), 8);
      layout.mcus_high = DivideUp(DivideUp(uint64_t{layout.height} * component->v, max.v), 8);
    }
  }
  if (layout.mcu.size() > 10) Fail(RecodeError::McuTooLarge);
  layout.mcus = layout.mcus_wide * layout.mcus_high;
}

// The markers from SOI up to the scan (B.2.1, Table B.1 for the codes): a
// baseline or extended sequential Huffman frame (SOF0, SOF1), no restart
// interval, one scan, then EOI.
Layout ReadLayout(std::span<const uint8_t> jpeg) {
  Layout layout;
  if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != kSoi) Fail(RecodeError::NoStartOfImage);
  size_t at = 2;
  for (;;) {
    if (jpeg.size() - at < 4) Fail(RecodeError::MarkerCutShort);
    if (jpeg[at] != 0xFF) Fail(RecodeError::NoMarker);
    const uint8_t marker = jpeg[at + 1];
    const size_t length = BigEndian16(jpeg, at + 2);
    if (length < 2 || jpeg.size() - at - 2 < length) Fail(RecodeError::MarkerCutShort);
    const std::span<const uint8_t> body = jpeg.subspan(at + 4, length - 2);
    layout.before_scan.push_back({at, at + 2 + length, marker});
    at += 2 + length;
    if (marker == kSof0 || marker == kSof1) {
      if (!layout.frame.empty()) Fail(RecodeError::TwoFrames);
      ReadFrame(body, layout);
    } else if (marker >= 0xC2 && marker <= 0xCF && marker != kDht && marker != 0xC8 &&
               marker != 0xCC) {
      Fail(RecodeError::NotBaseline);
    } else if (marker == kDht) {
      ReadTables(body,
                 [&](int tc, int th, const HuffmanTable& t) { layout.tables[Slot(tc, th)] = t; });
    } else if (marker == kDri) {
      if (body.size() != 2 || BigEndian16(body, 0) != 0) Fail(RecodeError::RestartMarkers);
    } else if (marker == kSos) {
      ReadScanHeader(body, layout);
      break;
    }
  }
  if (jpeg.size() - at < 2 || jpeg[jpeg.size() - 2] != 0xFF || jpeg[jpeg.size() - 1] != kEoi)
    Fail(RecodeError::NotOneScan);
  layout.scan_start = at;
  layout.scan_end = jpeg.size() - 2;
  return layout;
}

[[noreturn]] void OutOfMemory() {
  throw JpegFailure(SAVEJPG_ERR_OUT_OF_MEMORY,
                    "recoding the Huffman tables: more memory than it may take");
}

// An array filled through a pointer, with room made before each block
// rather than checked for each value; its memory is taken as it is written.
// It grows while what it holds, while growing too, stays within `limit`
// values; past that it hands what it holds to the function given to
// SpillTo and starts again at its beginning, or without one fails as out of
// memory.
template <typename T>
class GrowingArray {
 public:
  GrowingArray(size_t capacity, size_t limit)
      : data_(new T[capacity]), capacity_(capacity), limit_(limit) {}
  // Room for `n` more after `end`; returns where `end` now is.
  T* RoomFor(T* end, size_t n) {
    size_ = static_cast<size_t>(end - data_.get());
    if (capacity_ - size_ < n) [[unlikely]]
      MakeRoom(n);
    return data_.get() + size_;
  }
  T* Begin() { return data_.get(); }
  void End(T* end) { size_ = static_cast<size_t>(end - data_.get()); }
  const T* Data() const { return data_.get(); }
  std::span<const T> All() const { return {data_.get(), size_}; }
  size_t Capacity() const { return capacity_; }
  // From now on a full array is handed to `spill`; Spilled() says whether
  // it was since.
  void SpillTo(std::function<void(std::span<const T>)> spill) {
    spill_ = std::move(spill);
    spilled_ = false;
  }
  bool Spilled() const { return spilled_; }

 private:
  [[gnu::noinline]] void MakeRoom(size_t n) {
    if (spill_ && capacity_ >= n) {
      spill_(All());
      spilled_ = true;
      size_ = 0;
      return;
    }
    // The old array is held until it is copied.
    if (capacity_ > limit_ || size_ + n > limit_ - capacity_) OutOfMemory();
    capacity_ = std::min(std::max(capacity_ * 2, size_ + n), limit_ - capacity_);
    std::unique_ptr<T[]> bigger(new T[capacity_]);
    std::copy(data_.get(), data_.get() + size_, bigger.get());
    data_ = std::move(bigger);
  }

  std::unique_ptr<T[]> data_;
  size_t capacity_, limit_, size_ = 0;
  std::function<void(std::span<const T>)> spill_;
  bool spilled_ = false;
};

// With QuickToReadTable's tables each block's DC takes 4 bits or more and
// each AC symbol 8 bits or more, with at least one extra bit for a value
// that is not 0. So a scan of `bytes` bytes and `blocks` blocks codes at
// most bytes + blocks / 2 symbols and 8 * bytes / 9 AC values not 0; the
// arrays for them have room for one block more.
uint64_t SymbolRoom(uint64_t bytes, uint64_t blocks) { return bytes + blocks / 2 + 64; }
uint64_t ValueRoom(uint64_t bytes) { return bytes * 8 / 9 + 64; }

// What a Plane keeps for each block, and the fewest symbols a progressive
// scan is made with (more are written as they come: see RecodeAsProgressive).
constexpr uint64_t kPlaneBytesPerBlock = sizeof(int16_t) + 5 * sizeof(uint64_t);
constexpr uint64_t kSmallestSymbolRoom = 1024;
// The fewest symbols each thread keeps when progressive scans are made side
// by side; with less, a scan that does not fit is made twice on one thread.
constexpr uint64_t kLeastSymbolsSideBySide = 64 * 1024;

// A scan's symbols in order, as PackedSymbol makes them.
using Symbols = GrowingArray<uint32_t>;

// EXTEND (F.2.2.1, Figure F.12): the value of `ssss` (0 to 15) additional
// bits, without a branch (signs come mixed): the top additional bit is 0
// for a negative value, and with SSSS = 0 there are none and the value is 0.
int32_t Extend(uint32_t additional, uint32_t ssss) {
  const int32_t negative = static_cast<int32_t>((additional << 1) >> ssss) - 1;  // 0 or -1
  return static_cast<int32_t>(additional) + (negative & (1 - (1 << ssss)));
}

// Reads one block's symbols of a sequential scan (F.2.2.1 and F.2.2.2,
// the decoding of what F.1.2.1 and F.1.2.2 code): on_dc(SSSS, its
// additional bits) for the DC difference, then on_ac(RRRRSSSS, SSSS, its
// additional bits, k) for each AC symbol up to EOB or the 63rd coefficient,
// k the zigzag place of the coefficient (of the last of the 16 zeros of a
// ZRL). 8-bit samples bound SSSS to 11 (DC) and 10 (AC). kQuick: both
// tables are QuickToReadTable's, whose codes are read with their
// additional bits in one look.
template <bool kQuick, typename OnDc, typename OnAc>
void ReadBlockSymbols(BitReader& in, const DecodeTable& dc, const DecodeTable& ac, OnDc on_dc,
                      OnAc on_ac) {
  if (in.Ready() < 32) in.Fill();
  const uint32_t dc_ssss = kQuick ? in.Take(4) : dc.Read(in);
  if (dc_ssss > 11) Fail(RecodeError::CoefficientOutOfRange);
  on_dc(dc_ssss, in.Take(static_cast<int>(dc_ssss)));
  for (int k = 1; k < 64;) {
    if (in.Ready() < 32) in.Fill();
    uint32_t rrrrssss, ssss, additional;
    if constexpr (kQuick) {
      const uint32_t look = in.Peek24();
      rrrrssss = look >> 16;
      ssss = rrrrssss & 15;
      additional = (look & 0xFFFF) >> (16 - ssss);
      in.Drop(static_cast<int>(8 + ssss));
    } else {
      rrrrssss = ac.Read(in);
      ssss = rrrrssss & 15;
      additional = in.Take(static_cast<int>(ssss));
    }
    if (rrrrssss == kEob) {
      on_ac(kEob, 0u, 0u, k);
      break;
    }
    k += static_cast<int>(rrrrssss >> 4);
    if (k > 63 || ssss > 10 || (ssss == 0 && rrrrssss != kZrl))
      Fail(RecodeError::CoefficientOutOfRange);
    on_ac(rrrrssss, ssss, additional, k);
    ++k;
  }
}

// Whether every table the scan uses is QuickToReadTable's.
bool AllQuick(const Layout& layout, const std::optional<DecodeTable> (&tables)[kTableSlots]) {
  bool quick = true;
  for (const Block& block : layout.mcu)
    quick = quick && tables[block.dc]->IsQuick(0) && tables[block.ac]->IsQuick(1);
  return quick;
}

// What reading a scan gives: its symbols, their counts by table slot, and
// for each component where its first DC symbol lies among the symbols, its
// first DC and its last (DIFF + PRED, F.2.1.3.1, PRED starting from 0).
struct ScanSymbols {
  explicit ScanSymbols(Symbols&& all) : symbols(std::move(all)) {}
  Symbols symbols;
  std::vector<std::array<int64_t, 257>> counts = std::vector<std::array<int64_t, 257>>(kTableSlots);
  uint64_t first_dc_at[4] = {};
  int64_t first_dc[4] = {}, last_dc[4] = {};
  bool has_dc[4] = {};
};

template <bool kQuick>
ScanSymbols ReadScan(std::span<const uint8_t> jpeg, const Layout& layout,
                     const std::optional<DecodeTable> (&tables)[kTableSlots],
                     uint64_t memory_limit) {
  const uint64_t room = SymbolRoom(jpeg.size(), layout.mcus * layout.mcu.size());
  if (room > memory_limit / sizeof(uint32_t)) OutOfMemory();
  ScanSymbols read(Symbols(room, memory_limit / sizeof(uint32_t)));
  struct Tables {
    const DecodeTable *dc, *ac;
    uint32_t dc_slot_bits, ac_slot_bits;
    int64_t *dc_count, *ac_count;
    size_t component;
  };
  std::vector<Tables> mcu;
  for (const Block& block : layout.mcu)
    mcu.push_back(
        {&*tables[block.dc], &*tables[block.ac], SlotBits(static_cast<uint32_t>(block.dc)),
         SlotBits(static_cast<uint32_t>(block.ac)),
         read.counts[static_cast<size_t>(block.dc)].data(),
         read.counts[static_cast<size_t>(block.ac)].data(), static_cast<size_t>(block.component)});
  Symbols& symbols = read.symbols;
  uint32_t* out = symbols.Begin();
  BitReader in(jpeg.data() + layout.scan_start, jpeg.data() + layout.scan_end);
  int64_t* const pred = read.last_dc;
  for (uint64_t m = 0; m < layout.mcus; ++m) {
    for (const Tables& block : mcu) {
      out = symbols.RoomFor(out, 64);
      ReadBlockSymbols<kQuick>(
          in, *block.dc, *block.ac,
          [&](uint32_t ssss, uint32_t additional) {
            pred[block.component] += Extend(additional, ssss);
            if (!read.has_dc[block.component]) [[unlikely]] {
              read.has_dc[block.component] = true;
              read.first_dc_at[block.component] = static_cast<uint64_t>(out - symbols.Begin());
              read.first_dc[block.component] = pred[block.component];
            }
            *out++ = PackedSymbol(block.dc_slot_bits, ssss, additional, ssss);
            ++block.dc_count[ssss];
          },
          [&](uint32_t rrrrssss, uint32_t ssss, uint32_t additional, int) {
            *out++ = PackedSymbol(block.ac_slot_bits, rrrrssss, additional, ssss);
            ++block.ac_count[rrrrssss];
          });
    }
  }
  symbols.End(out);
  CheckScanEnd(in);
  return read;
}

ScanSymbols ReadScan(std::span<const uint8_t> jpeg, const Layout& layout,
                     const std::optional<DecodeTable> (&tables)[kTableSlots],
                     uint64_t memory_limit) {
  return AllQuick(layout, tables) ? ReadScan<true>(jpeg, layout, tables, memory_limit)
                                  : ReadScan<false>(jpeg, layout, tables, memory_limit);
}

// One table as a DHT segment holds it (B.2.4.2): Tc Th, BITS, HUFFVAL.
void AppendTableBody(std::vector<uint8_t>& out, int tc, int th, const HuffmanTable& t) {
  out.push_back(static_cast<uint8_t>(tc << 4 | th));
  out.insert(out.end(), t.bits.begin() + 1, t.bits.end());
  out.insert(out.end(), t.symbols.begin(),
             t.symbols.begin() + static_cast<std::ptrdiff_t>(SymbolCount(t)));
}

// A DHT segment again, from its body, with each table that has a fitted
// one replaced by it.
void WriteTables(std::span<const uint8_t> body,
                 const std::optional<HuffmanTable> (&fitted)[kTableSlots], BitWriter& out) {
  std::vector<uint8_t> segment = {0xFF, kDht, 0, 0};
  ReadTables(body, [&](int tc, int th, const HuffmanTable& original) {
    AppendTableBody(segment, tc, th, fitted[Slot(tc, th)] ? *fitted[Slot(tc, th)] : original);
  });
  const size_t length = segment.size() - 2;
  if (length > 0xFFFF) Fail(RecodeError::TableSegmentTooLong);
  segment[2] = static_cast<uint8_t>(length >> 8);
  segment[3] = static_cast<uint8_t>(length);
  out.Append(segment);
}

// One block's quantised coefficients: its DC, and, for each point transform
// Al from 0 to 3 (G.1.1.1.2), which of its AC coefficients are not 0 once
// their magnitude is shifted right by Al (bit k for zigzag place k);
// `values` holds those not 0, in zigzag order.
struct CodedBlock {
  int16_t dc;
  const uint64_t* nonzero;
  const int16_t* values;
};

// The blocks of one component, for every block the sequential scan coded
// (A.2.3: interleaved MCUs padded to whole blocks). Most AC coefficients are 0, so only the
// others are kept, in one array for all the planes.
struct Plane {
  Plane(uint64_t wide, uint64_t high, uint64_t real_wide, uint64_t real_high)
      : blocks_wide(wide),
        blocks_high(high),
        real_wide(real_wide),
        real_high(real_high),
        dc(new int16_t[wide * high]),
        nonzero(new uint64_t[wide * high * 4]),
        first_value(new uint64_t[wide * high]),
        values_of_row(high) {}
  uint64_t blocks_wide, blocks_high;  // coded, with the padding
  uint64_t real_wide, real_high;      // of the picture alone
  // Not cleared: reading the scan fills every block, each band's on the
  // thread that reads it, which takes the memory's pages as it writes.
  std::unique_ptr<int16_t[]> dc;
  std::unique_ptr<uint64_t[]> nonzero;
  std::unique_ptr<uint64_t[]> first_value;  // where the block's values start in its row's array
  // The array holding the values of each row of blocks: each band of the
  // picture has one.
  std::vector<const int16_t*> values_of_row;

  uint64_t Index(uint64_t x, uint64_t y) const { return y * blocks_wide + x; }
  CodedBlock At(uint64_t x, uint64_t y) const {
    const uint64_t i = Index(x, y);
    return {dc[i], nonzero.get() + i * 4, values_of_row[y] + first_value[i]};
  }
};

// Reads one block's coefficients: the DC into `dc` (DIFF + PRED, F.2.1.3.1,
// PRED the DC before in the component), the values not 0 to `values`, and
// the masks of those not 0 for each point transform.
template <bool kQuick>
void ReadBlock(BitReader& in, const DecodeTable& dc_table, const DecodeTable& ac_table,
               int64_t& pred, int16_t& dc, int16_t*& values, uint64_t* nonzero) {
  uint64_t masks[4] = {};
  ReadBlockSymbols<kQuick>(
      in, dc_table, ac_table,
      [&](uint32_t ssss, uint32_t additional) {
        pred += Extend(additional, ssss);
        if (pred < INT16_MIN || pred > INT16_MAX) Fail(RecodeError::CoefficientOutOfRange);
        dc = static_cast<int16_t>(pred);
      },
      [&](uint32_t, uint32_t ssss, uint32_t additional, int k) {
        if (ssss == 0) return;  // ZRL or EOB
        *values++ = static_cast<int16_t>(Extend(additional, ssss));
        // SSSS (1 to 10 here) is the bit width of the magnitude: it is at
        // least 2^j when SSSS > j, that is when (SSSS + 15 - j) >> 4 is 1.
        // Sums, not comparisons, which the compiler made branches of; sizes
        // come mixed.
        const uint64_t bit = uint64_t{1} << k;
        masks[0] |= bit;
        masks[1] |= bit * ((ssss + 14) >> 4);
        masks[2] |= bit * ((ssss + 13) >> 4);
        masks[3] |= bit * ((ssss + 12) >> 4);
      });
  std::copy(masks, masks + 4, nonzero);
}

// The planes of the picture's components, for every block its sequential
// scan codes.
std::vector<Plane> PlanesFor(const Layout& layout) {
  const MaxSampling max(layout);
  if (layout.scan_components.size() != layout.frame.size())
    Fail(RecodeError::ScanWithoutEveryComponent);
  const bool interleaved = layout.frame.size() > 1;
  std::vector<Plane> planes;
  for (const FrameComponent& c : layout.frame) {
    const uint64_t real_wide = DivideUp(DivideUp(uint64_t{layout.width} * c.h, max.h), 8);
    const uint64_t real_high = DivideUp(DivideUp(uint64_t{layout.height} * c.v, max.v), 8);
    planes.emplace_back(interleaved ? layout.mcus_wide * static_cast<uint64_t>(c.h) : real_wide,
                        interleaved ? layout.mcus_high * static_cast<uint64_t>(c.v) : real_high,
                        real_wide, real_high);
  }
  return planes;
}

// Reads the coefficients of one band of the picture (`band`, its own
// layout), whose MCUs start at row `first_row` of the picture's, into
// `planes`, its values not 0 into `values`. Compiled apart from
// RecodeAsProgressive: inlined there, its loop came out with a fifth more
// instructions.
template <bool kQuick>
[[gnu::noinline]] void ReadBandCoefficients(std::span<const uint8_t> jpeg, const Layout& band,
                                            uint64_t first_row,
                                            const std::optional<DecodeTable> (&tables)[kTableSlots],
                                            std::vector<Plane>& planes,
                                            GrowingArray<int16_t>& values) {
  const bool interleaved = band.frame.size() > 1;
  int16_t* value_end = values.Begin();
  int64_t pred[4] = {};  // wide enough for any sum of differences
  BitReader in(jpeg.data() + band.scan_start, jpeg.data() + band.scan_end);
  for (uint64_t m = 0; m < band.mcus; ++m) {
    const uint64_t mx = m % band.mcus_wide, my = first_row + m / band.mcus_wide;
    size_t b = 0;
    for (const int index : band.scan_components) {
      const FrameComponent& c = band.frame[static_cast<size_t>(index)];
      const int blocks_h = interleaved ? c.h : 1, blocks_v = interleaved ? c.v : 1;
      for (int v = 0; v < blocks_v; ++v) {
        for (int h = 0; h < blocks_h; ++h, ++b) {
          const Block& block = band.mcu[b];
          Plane& plane = planes[static_cast<size_t>(index)];
          const uint64_t i =
              plane.Index(mx * static_cast<uint64_t>(blocks_h) + static_cast<uint64_t>(h),
                          my * static_cast<uint64_t>(blocks_v) + static_cast<uint64_t>(v));
          value_end = values.RoomFor(value_end, 63);
          plane.first_value[i] = static_cast<uint64_t>(value_end - values.Begin());
          ReadBlock<kQuick>(in, *tables[block.dc], *tables[block.ac], pred[index], plane.dc[i],
                            value_end, plane.nonzero.get() + i * 4);
        }
      }
    }
  }
  values.End(value_end);
  CheckScanEnd(in);
}

// Reads a band as above; its rows of blocks then find their values in
// `values`.
void ReadBandCoefficients(std::span<const uint8_t> jpeg, const Layout& band, uint64_t first_row,
                          const std::optional<DecodeTable> (&tables)[kTableSlots],
                          std::vector<Plane>& planes, GrowingArray<int16_t>& values) {
  if (AllQuick(band, tables))
    ReadBandCoefficients<true>(jpeg, band, first_row, tables, planes, values);
  else
    ReadBandCoefficients<false>(jpeg, band, first_row, tables, planes, values);
  const bool interleaved = band.frame.size() > 1;
  for (size_t index = 0; index < planes.size(); ++index) {
    const uint64_t v = interleaved ? static_cast<uint64_t>(band.frame[index].v) : 1;
    Plane& plane = planes[index];
    const uint64_t end = std::min(plane.blocks_high, (first_row + band.mcus_high) * v);
    for (uint64_t row = first_row * v; row < end; ++row) plane.values_of_row[row] = values.Data();
  }
}

// Bits in order, the first at the top of the first word: the correction
// bits BE kept with EOBRUN (G.1.2.3).
class CorrectionBits {
 public:
  // `n` bits (0 to 63), the first at bit n - 1 of `bits`.
  void Append(uint64_t bits, int n) {
    if (n == 0) return;
    const size_t word = count_ / 64;
    const int used = static_cast<int>(count_ % 64), free = 64 - used;
    if (used == 0) words_[word] = 0;
    if (n <= free) {
      words_[word] |= bits << (free - n);
    } else {
      words_[word] |= bits >> (n - free);
      words_[word + 1] = bits << (64 - (n - free));
    }
    count_ += static_cast<size_t>(n);
  }
  size_t Count() const { return count_; }
  // Calls run(bits, n) for each kMaxRawBits bits in order, then the rest.
  template <typename Run>
  void ForEachRun(Run run) const {
    for (size_t i = 0; i < count_; i += kMaxRawBits) {
      const int n = static_cast<int>(std::min<size_t>(kMaxRawBits, count_ - i));
      run(BitsAt(i, n), n);
    }
  }
  void Clear() { count_ = 0; }

 private:
  // `n` bits from bit `i` on, `i` a multiple of kMaxRawBits: inside one word.
  uint32_t BitsAt(size_t i, int n) const {
    static_assert(64 % kMaxRawBits == 0);
    const uint64_t word = words_[i / 64];
    return static_cast<uint32_t>(word >> (64 - static_cast<int>(i % 64) - n)) & ((1u << n) - 1);
  }

  std::array<uint64_t, 18> words_{};  // room for 1000 + 63 bits and one word more
  size_t count_ = 0;
};

// The symbols of one progressive scan (G.1.2) as libjpeg makes them
// (jcphuff.c), in the same order and with the same EOBRUN lengths, so that
// tables fitted to their counts come out as libjpeg's. Each block is coded
// after the point transform of its scan (G.1.1.1.2): a DC divided by 2^Al
// with an arithmetic shift, an AC coefficient's magnitude shifted right by
// Al, its sign kept.
class ProgressiveScanCoder {
 public:
  explicit ProgressiveScanCoder(Symbols& symbols) : symbols_(symbols), out_(symbols.Begin()) {}
  std::array<int64_t, 257>& Counts(int slot) { return counts_[static_cast<size_t>(slot)]; }

  // G.1.2.1, first scan: DIFF = DC / 2^Al - PRED, PRED the last DC of the
  // component in this scan, coded as in baseline (F.1.2.1): SSSS, then
  // SSSS additional bits.
  void DcFirst(const CodedBlock& block, int component, int slot, int al) {
    Room();
    const int32_t value = block.dc >> al;
    const int32_t diff = value - pred_[component];
    pred_[component] = value;
    // The width of 0 without a branch (a difference of 0 comes as often as
    // not): that of 1, less 1.
    const auto magnitude = static_cast<uint32_t>(std::abs(diff));
    const int ssss = std::bit_width(magnitude | 1) - (magnitude == 0 ? 1 : 0);
    if (ssss > 11) Fail(RecodeError::CoefficientOutOfRange);
    Symbol(slot, static_cast<uint32_t>(ssss), AdditionalBits(diff, ssss), ssss);
  }

  // G.1.2.1, refinement: bit Al of each DC, without a code.
  void DcRefine(const CodedBlock& block, int al) {
    Room();
    dc_bits_ = dc_bits_ << 1 | (static_cast<uint32_t>(block.dc >> al) & 1);
    if (++dc_count_ == kMaxRawBits) {
      Raw(dc_bits_, dc_count_);
      dc_bits_ = 0;
      dc_count_ = 0;
    }
  }

  // G.1.2.2, first scan of the band Ss..Se (`band`, bit k for zigzag place
  // k): each coefficient not 0 after the shift by Al as RRRRSSSS (R zeros
  // before it, ZRL for each 16 of them) and SSSS additional bits; the zeros
  // after the last one end the block, which counts in EOBRUN, coded as EOBn
  // when a block with a coefficient follows or EOBRUN reaches 0x7FFF.
  void AcFirst(const CodedBlock& block, int slot, uint64_t band, int se, int al) {
    Room();
    ac_slot_ = slot;
    const uint64_t nonzero = block.nonzero[al] & band;
    if (nonzero == 0) {
      if (++eobrun_ == kMaxEobrun) EmitEobrun();
      return;
    }
    if (eobrun_ > 0) EmitEobrun();
    const int last = 63 - std::countl_zero(nonzero);
    // The state in locals: stores of symbols could change members.
    uint32_t* out = out_;
    int64_t* const counts = counts_[static_cast<size_t>(slot)].data();
    const uint32_t slot_bits = SlotBits(static_cast<uint32_t>(slot));
    const int16_t* value = FirstValue(block, band);
    int next = std::countr_zero(band);  // after the last coefficient coded
    const uint64_t coded = block.nonzero[0] & band & (~uint64_t{0} >> (63 - last));
    for (uint64_t left = coded; left != 0; left &= left - 1, ++value) {
      const int k = std::countr_zero(left);
      if ((nonzero >> k & 1) == 0) continue;
      int r = k - next;
      for (; r > 15; r -= 16) out = PutSymbol(out, counts, slot_bits, kZrl, 0, 0);
      const int magnitude = std::abs(*value) >> al;
      const int ssss = std::bit_width(static_cast<uint32_t>(magnitude));
      const int32_t sign = *value >> 15;  // -1 for a negative value, else 0
      out = PutSymbol(out, counts, slot_bits, static_cast<uint32_t>(r << 4 | ssss),
                      AdditionalBits((magnitude ^ sign) - sign, ssss), ssss);
      next = k + 1;
    }
    out_ = out;
    if (last < se && ++eobrun_ == kMaxEobrun) EmitEobrun();
  }

  // G.1.2.3, refinement of the band from Ah = Al + 1 to Al: a coefficient
  // first not 0 at Al is coded as RRRRSSSS with SSSS = 1 and its sign as
  // the one additional bit; R counts only the zeros before it, for a
  // coefficient not 0 before (its history) sends bit Al of its magnitude as
  // a correction bit instead. The correction bits met since the last symbol
  // (BR) follow the next symbol (a ZRL or a coefficient); those after the
  // block's last new coefficient (BE) wait with EOBRUN for its EOBn.
  void AcRefine(const CodedBlock& block, int slot, uint64_t band, int al) {
    Room();
    ac_slot_ = slot;
    const uint64_t nonzero = block.nonzero[al] & band;
    const uint64_t first_nonzero = nonzero & ~block.nonzero[al + 1];
    const int16_t* value = FirstValue(block, band);
    if (first_nonzero != 0) {
      // Symbols follow: the blocks before end first.
      EmitEobrun();
      const int last_new = 63 - std::countl_zero(first_nonzero);
      value = RefineUpToLastNew(block, slot, band & (~uint64_t{0} >> (63 - last_new)), nonzero,
                                first_nonzero, al, value);
      band &= ~uint64_t{0} << last_new << 1;
    }
    if (band == 0) return;
    // Past the last new coefficient (if any), only correction bits: the
    // block ends there.
    uint64_t br_bits = 0;
    int br = 0;
    for (uint64_t left = block.nonzero[0] & band; left != 0; left &= left - 1, ++value) {
      const uint64_t in = nonzero >> std::countr_zero(left) & 1;
      br_bits = br_bits << in | (in & (static_cast<uint64_t>(std::abs(*value)) >> al));
      br += static_cast<int>(in);
    }
    ++eobrun_;
    be_.Append(br_bits, br);
    // libjpeg's limit: room for one more block's correction bits.
    if (eobrun_ == kMaxEobrun || be_.Count() > kMaxCorrectionBits - 64 + 1) EmitEobrun();
  }

  void Finish() {
    Room();
    if (dc_count_ > 0) Raw(dc_bits_, dc_count_);
    EmitEobrun();
    symbols_.End(out_);
  }

 private:
  static constexpr int kMaxEobrun = 0x7FFF;           // EOB14 with 14 bits, G.1.2.2
  static constexpr size_t kMaxCorrectionBits = 1000;  // libjpeg's MAX_CORR_BITS

  // Room for one more block's symbols: 63 codes, an EOBn and up to
  // 1000 + 63 correction bits in runs of kMaxRawBits.
  void Room() { out_ = symbols_.RoomFor(out_, 256); }
  // The first of the block's values (those not 0) that lies in `band`.
  static const int16_t* FirstValue(const CodedBlock& block, uint64_t band) {
    const uint64_t first = band & (0 - band);
    // Most bands start at 1, below which no value lies: no count to make
    // (a call without a popcount instruction).
    const uint64_t before = block.nonzero[0] & (first - 1);
    return before == 0 ? block.values : block.values + std::popcount(before);
  }
  // The SSSS additional bits of `value` (F.1.2.1.1): the value itself, or
  // for a negative one, its ones' complement.
  // Without a branch (signs come mixed): value >> 31 is -1 for a negative
  // value, else 0.
  static uint32_t AdditionalBits(int32_t value, int ssss) {
    return static_cast<uint32_t>(value + (value >> 31)) & ((1u << ssss) - 1);
  }
  void Symbol(int slot, uint32_t symbol, uint32_t additional, int count) {
    ++counts_[static_cast<size_t>(slot)][symbol];
    *out_++ = PackedSymbol(SlotBits(static_cast<uint32_t>(slot)), symbol, additional,
                           static_cast<uint32_t>(count));
  }
  void Raw(uint32_t bits, int count) {
    *out_++ = PackedRawBits(bits, static_cast<uint32_t>(count));
  }
  static uint32_t* PutSymbol(uint32_t* out, int64_t* counts, uint32_t slot_bits, uint32_t symbol,
                             uint32_t additional, int count) {
    ++counts[symbol];
    *out = PackedSymbol(slot_bits, symbol, additional, static_cast<uint32_t>(count));
    return out + 1;
  }
  // `count` bits (up to 63), the first at the top, in runs of up to
  // kMaxRawBits; then none are left.
  static uint32_t* PutCorrectionBits(uint32_t* out, uint64_t& bits, int& count) {
    for (; count > kMaxRawBits; count -= kMaxRawBits)
      *out++ = PackedRawBits(static_cast<uint32_t>(bits >> (count - kMaxRawBits)) & kRawMask,
                             kMaxRawBits);
    if (count > 0)
      *out++ = PackedRawBits(static_cast<uint32_t>(bits) & ((1u << count) - 1),
                             static_cast<uint32_t>(count));
    bits = 0;
    count = 0;
    return out;
  }
  // AcRefine's symbols for the coefficients of `head`, which ends with a
  // new one (so no correction bits are left); returns the value after it.
  const int16_t* RefineUpToLastNew(const CodedBlock& block, int slot, uint64_t head,
                                   uint64_t nonzero, uint64_t first_nonzero, int al,
                                   const int16_t* value) {
    uint32_t* out = out_;
    int64_t* const counts = counts_[static_cast<size_t>(slot)].data();
    const uint32_t slot_bits = SlotBits(static_cast<uint32_t>(slot));
    uint64_t br_bits = 0;  // the BR correction bits, the first at the top
    int br = 0, r = 0, next = std::countr_zero(head);
    for (uint64_t left = block.nonzero[0] & head; left != 0; left &= left - 1, ++value) {
      const int k = std::countr_zero(left);
      if ((nonzero >> k & 1) == 0) continue;
      r += k - next;
      next = k + 1;
      // A ZRL only where a new coefficient still follows, as here.
      for (; r > 15; r -= 16) {
        out = PutSymbol(out, counts, slot_bits, kZrl, 0, 0);
        out = PutCorrectionBits(out, br_bits, br);
      }
      // New or with a history, without a branch (the two come mixed): the
      // symbol and a run of BR bits are written in any case, and kept (the
      // end moved past them) only for a new one.
      const auto is_new = static_cast<uint32_t>(first_nonzero >> k & 1);
      const auto symbol = static_cast<uint32_t>(r << 4 | 1);
      if (is_new != 0 && br > kMaxRawBits) [[unlikely]] {
        out = PutSymbol(out, counts, slot_bits, symbol, *value < 0 ? 0u : 1u, 1);
        out = PutCorrectionBits(out, br_bits, br);
        r = 0;
        continue;
      }
      counts[symbol] += is_new;
      out[0] = PackedSymbol(slot_bits, symbol, *value < 0 ? 0u : 1u, 1);
      out[is_new] = PackedRawBits(static_cast<uint32_t>(br_bits & ((uint64_t{1} << br) - 1)),
                                  static_cast<uint32_t>(br));
      out += is_new + (is_new & (br != 0 ? 1u : 0u));
      const uint64_t keep = uint64_t{is_new} - 1;  // all 1s for a history
      const uint64_t bit = (static_cast<uint64_t>(std::abs(*value)) >> al) & 1;
      br_bits = (br_bits << 1 | bit) & keep;
      br = (br + 1) & static_cast<int>(keep);
      r &= static_cast<int>(keep);
    }
    out_ = out;
    return value;
  }
  // EOBn (G.1.2.2, Table G.1): n = the bits of EOBRUN less 1, the symbol
  // n << 4 with the n low bits of EOBRUN; then the BE correction bits.
  void EmitEobrun() {
    if (eobrun_ == 0) return;
    const int n = std::bit_width(static_cast<uint32_t>(eobrun_)) - 1;
    Symbol(ac_slot_, static_cast<uint32_t>(n << 4),
           static_cast<uint32_t>(eobrun_) & ((1u << n) - 1), n);
    eobrun_ = 0;
    be_.ForEachRun([&](uint32_t run, int count) { Raw(run, count); });
    be_.Clear();
  }

  Symbols& symbols_;
  uint32_t* out_;
  std::array<std::array<int64_t, 257>, kTableSlots> counts_{};
  int32_t pred_[4] = {};  // the last DC of each component, after the point transform
  uint32_t dc_bits_ = 0;  // DC refinement bits not yet in a raw run
  int dc_count_ = 0;
  int eobrun_ = 0;  // EOBRUN: blocks ended, not yet coded
  int ac_slot_ = 0;
  CorrectionBits be_;  // BE: the correction bits of the blocks in EOBRUN
};

// Calls code(component, block) for each block of `scan` in its order (A.2):
// one component's blocks of the picture row by row (A.2.2), or several
// components' MCU by MCU with the padding blocks (A.2.3).
template <typename Code>
void ForEachBlock(const ProgressiveScan& scan, const Layout& layout,
                  const std::vector<Plane>& planes, Code code) {
  if (scan.components == 1) {
    const Plane& plane = planes[static_cast<size_t>(scan.component[0])];
    for (uint64_t y = 0; y < plane.real_high; ++y)
      for (uint64_t x = 0; x < plane.real_wide; ++x) code(scan.component[0], plane.At(x, y));
    return;
  }
  for (uint64_t my = 0; my < layout.mcus_high; ++my) {
    for (uint64_t mx = 0; mx < layout.mcus_wide; ++mx) {
      for (int i = 0; i < scan.components; ++i) {
        const int index = scan.component[i];
        const FrameComponent& c = layout.frame[static_cast<size_t>(index)];
        const Plane& plane = planes[static_cast<size_t>(index)];
        for (int v = 0; v < c.v; ++v)
          for (int h = 0; h < c.h; ++h)
            code(index, plane.At(mx * static_cast<uint64_t>(c.h) + static_cast<uint64_t>(h),
                                 my * static_cast<uint64_t>(c.v) + static_cast<uint64_t>(v)));
      }
    }
  }
}

// The code of each symbol of the fitted tables (Annex C), as code << 5 |
// its length, by slot << 8 | symbol; for kRawSlot, a code of 0s as long as
// the run of raw bits, which the writer leaves out.
std::vector<uint32_t> CodesOf(const std::optional<HuffmanTable> (&fitted)[kTableSlots]) {
  std::vector<uint32_t> codes((kTableSlots + 1) * 256);
  for (uint32_t count = 1; count <= kMaxRawBits; ++count) codes[SlotBits(kRawSlot) | count] = count;
  for (int slot = 0; slot < kTableSlots; ++slot) {
    if (!fitted[slot]) continue;
    ForEachCode(*fitted[slot], [&](uint8_t symbol, uint32_t code, int length) {
      codes[static_cast<size_t>(slot) << 8 | symbol] = code << 5 | static_cast<uint32_t>(length);
    });
  }
  return codes;
}

// A DHT segment of one table.
void AppendTable(std::vector<uint8_t>& out, int tc, int th, const HuffmanTable& t) {
  const size_t length = 2 + 1 + 16 + SymbolCount(t);
  out.insert(out.end(),
             {0xFF, kDht, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
  AppendTableBody(out, tc, th, t);
}

void ReadyDecodeTables(const Layout& layout, std::optional<DecodeTable> (&decode)[kTableSlots]) {
  for (int slot = 0; slot < kTableSlots; ++slot)
    if (layout.tables[slot]) decode[slot].emplace(*layout.tables[slot]);
}

// The checks libjpeg makes of a script (jcmaster.c, validate_script, after
// G.1.1.1), and the recoder's own limit: AC scans with Al up to 2. Each
// scan's components are different ones of the frame; a DC scan has Ss = Se
// = 0, an AC scan 1 <= Ss <= Se <= 63 and one component; a first scan of a
// coefficient (Ah = 0) comes before its refinements, and each refinement has
// Ah = Al + 1 with Ah the Al of the scan before it.
void CheckScript(std::span<const ProgressiveScan> scans, size_t frame_components) {
  // The Al of the last scan of each coefficient of each component; -1: none.
  std::vector<std::array<int, 64>> last_al(frame_components);
  for (std::array<int, 64>& coefficients : last_al) coefficients.fill(-1);
  for (const ProgressiveScan& scan : scans) {
    if (scan.components < 1 || scan.components > 4 || scan.ss < 0 || scan.se > 63 ||
        scan.ss > scan.se || (scan.ss == 0) != (scan.se == 0) ||
        (scan.ss != 0 && (scan.components != 1 || scan.al > 2)) || scan.al < 0 || scan.al > 10 ||
        scan.ah < 0 || scan.ah > 10 || (scan.ah != 0 && scan.ah != scan.al + 1))
      Fail(RecodeError::BadScript);
    for (int i = 0; i < scan.components; ++i) {
      const int index = scan.component[i];
      if (index < 0 || static_cast<size_t>(index) >= frame_components ||
          std::count(scan.component, scan.component + i, index) != 0)
        Fail(RecodeError::BadScript);
      for (int k = scan.ss; k <= scan.se; ++k) {
        int& last = last_al[static_cast<size_t>(index)][static_cast<size_t>(k)];
        if (last != (scan.ah == 0 ? -1 : scan.ah)) Fail(RecodeError::BadScript);
        last = scan.al;
      }
    }
  }
}

// Writes the picture's height into a copy of its SOF segment (B.2.2: Y,
// after the marker, Lf and P): a band's frame says its own.
void SetFrameHeight(std::vector<uint8_t>& sof, uint32_t height) {
  if (sof.size() < 7) Fail(RecodeError::BadFrameHeader);
  sof[5] = static_cast<uint8_t>(height >> 8);
  sof[6] = static_cast<uint8_t>(height);
}

// The markers as they were, from after SOI up to the frame, which becomes
// progressive (SOF2, B.1.1.3); the sequential scan's tables and header go.
void CopyMarkersAsProgressive(std::span<const uint8_t> jpeg, const Layout& layout, BitWriter& out) {
  for (const Layout::Segment& segment : layout.before_scan) {
    if (segment.marker == kDht || segment.marker == kSos) continue;
    std::vector<uint8_t> bytes(jpeg.begin() + static_cast<std::ptrdiff_t>(segment.start),
                               jpeg.begin() + static_cast<std::ptrdiff_t>(segment.end));
    if (segment.marker == kSof0 || segment.marker == kSof1) {
      bytes[1] = kSof2;
      SetFrameHeight(bytes, layout.height);
    }
    out.Append(bytes);
  }
}

// Codes every block of `scan` as its kind of scan does (G.1.2.1-G.1.2.3).
void CodeScan(const ProgressiveScan& scan, const Layout& layout, const std::vector<Plane>& planes,
              ProgressiveScanCoder& coder) {
  const bool dc = scan.ss == 0, first = scan.ah == 0;
  // Spectral selection (G.1.1.1.1): bit k for each zigzag place k from Ss to Se.
  const uint64_t band = (~uint64_t{0} >> (63 - scan.se)) & (~uint64_t{0} << scan.ss);
  const auto frame = [&](int index) -> const FrameComponent& {
    return layout.frame[static_cast<size_t>(index)];
  };
  if (dc && first) {
    ForEachBlock(scan, layout, planes, [&](int index, const CodedBlock& block) {
      coder.DcFirst(block, index, Slot(0, frame(index).dc_table), scan.al);
    });
  } else if (dc) {
    ForEachBlock(scan, layout, planes,
                 [&](int, const CodedBlock& block) { coder.DcRefine(block, scan.al); });
  } else if (first) {
    ForEachBlock(scan, layout, planes, [&](int index, const CodedBlock& block) {
      coder.AcFirst(block, Slot(1, frame(index).ac_table), band, scan.se, scan.al);
    });
  } else {
    ForEachBlock(scan, layout, planes, [&](int index, const CodedBlock& block) {
      coder.AcRefine(block, Slot(1, frame(index).ac_table), band, scan.al);
    });
  }
  coder.Finish();
}

// What goes before a progressive scan's symbols: a DHT segment for each
// table it uses, fitted to its own counts by `build` (into `fitted`), then
// its header (B.2.3). Only a DC first scan uses a DC table, only an AC scan
// an AC table; the other numbers are written as 0.
std::vector<uint8_t> TablesAndScanHeader(const ProgressiveScan& scan, const Layout& layout,
                                         const TableBuilder& build, ProgressiveScanCoder& coder,
                                         std::optional<HuffmanTable> (&fitted)[kTableSlots]) {
  const bool dc_first = scan.ss == 0 && scan.ah == 0, ac = scan.ss != 0;
  std::vector<uint8_t> header;
  for (int i = 0; i < scan.components; ++i) {
    const FrameComponent& c = layout.frame[static_cast<size_t>(scan.component[i])];
    const std::pair<int, int> wanted[2] = {{0, dc_first ? c.dc_table : -1},
                                           {1, ac ? c.ac_table : -1}};
    for (const auto& [tc, th] : wanted) {
      if (th < 0 || fitted[Slot(tc, th)]) continue;
      fitted[Slot(tc, th)] = build(coder.Counts(Slot(tc, th)));
      AppendTable(header, tc, th, *fitted[Slot(tc, th)]);
    }
  }
  const size_t length = 2 + 1 + 2 * static_cast<size_t>(scan.components) + 3;
  header.insert(header.end(), {0xFF, kSos, 0, static_cast<uint8_t>(length),
                               static_cast<uint8_t>(scan.components)});
  for (int i = 0; i < scan.components; ++i) {
    const FrameComponent& c = layout.frame[static_cast<size_t>(scan.component[i])];
    const int td = dc_first ? c.dc_table : 0, ta = ac ? c.ac_table : 0;
    header.insert(header.end(), {static_cast<uint8_t>(c.id), static_cast<uint8_t>(td << 4 | ta)});
  }
  header.insert(header.end(), {static_cast<uint8_t>(scan.ss), static_cast<uint8_t>(scan.se),
                               static_cast<uint8_t>(scan.ah << 4 | scan.al)});
  return header;
}

// Writes one progressive scan: its symbols are made once, counted, and
// written with the tables fitted to the counts; those that did not all fit
// in `symbols` are made again and written as they come (libjpeg makes every
// scan twice).
void WriteScan(const ProgressiveScan& scan, const Layout& layout, const std::vector<Plane>& planes,
               const TableBuilder& build, Symbols& symbols, BitWriter& out) {
  std::optional<HuffmanTable> fitted[kTableSlots];
  std::vector<uint32_t> codes;
  symbols.SpillTo([](std::span<const uint32_t>) {});
  for (bool counting = true;; counting = false) {
    ProgressiveScanCoder coder(symbols);
    CodeScan(scan, layout, planes, coder);
    if (!counting) break;
    out.Append(TablesAndScanHeader(scan, layout, build, coder, fitted));
    codes = CodesOf(fitted);
    if (!symbols.Spilled()) break;
    symbols.SpillTo([&](std::span<const uint32_t> some) { out.PutSymbols(some, codes); });
  }
  out.PutSymbols(symbols.All(), codes);
  out.Finish();
}

// The DQT and DHT segments of a coding, one after the other.
std::vector<uint8_t> TableSegments(std::span<const uint8_t> jpeg, const Layout& layout) {
  std::vector<uint8_t> bytes;
  for (const Layout::Segment& segment : layout.before_scan)
    if (segment.marker == kDqt || segment.marker == kDht)
      bytes.insert(bytes.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(segment.start),
                   jpeg.begin() + static_cast<std::ptrdiff_t>(segment.end));
  return bytes;
}

bool SameFrameAndScan(const Layout& a, const Layout& b) {
  if (a.width != b.width || a.frame.size() != b.frame.size() || a.mcu.size() != b.mcu.size() ||
      a.scan_components != b.scan_components || a.mcus_wide != b.mcus_wide)
    return false;
  for (size_t i = 0; i < a.frame.size(); ++i) {
    const FrameComponent &x = a.frame[i], &y = b.frame[i];
    if (x.id != y.id || x.h != y.h || x.v != y.v || x.dc_table != y.dc_table ||
        x.ac_table != y.ac_table)
      return false;
  }
  return true;
}

// The layout of the whole picture from those of its bands, top first,
// which must share the frame, the tables and the scan, and each but the
// last hold whole rows of MCUs: band 0's markers, the height and the MCUs
// of all.
Layout JoinedLayout(std::span<const std::span<const uint8_t>> jpegs,
                    const std::vector<Layout>& bands) {
  Layout joined = bands.front();
  const MaxSampling max(joined);
  const std::vector<uint8_t> tables = TableSegments(jpegs.front(), joined);
  uint64_t height = 0, mcus_high = 0;
  for (size_t k = 0; k < bands.size(); ++k) {
    const Layout& band = bands[k];
    if (!SameFrameAndScan(band, joined) || TableSegments(jpegs[k], band) != tables ||
        (k + 1 < bands.size() && band.height % (8u * static_cast<uint32_t>(max.v)) != 0))
      Fail(RecodeError::BandsDoNotJoin);
    height += band.height;
    mcus_high += band.mcus_high;
  }
  if (height > 0xFFFF) Fail(RecodeError::BandsDoNotJoin);
  joined.height = static_cast<uint32_t>(height);
  joined.mcus_high = mcus_high;
  joined.mcus = joined.mcus_wide * mcus_high;
  return joined;
}

std::vector<Layout> LayoutsOf(std::span<const std::span<const uint8_t>> jpegs) {
  if (jpegs.empty()) Fail(RecodeError::NoStartOfImage);
  std::vector<Layout> layouts;
  for (const std::span<const uint8_t> jpeg : jpegs) layouts.push_back(ReadLayout(jpeg));
  return layouts;
}

// The first row of MCUs of each band in the picture's.
std::vector<uint64_t> FirstRows(const std::vector<Layout>& bands) {
  std::vector<uint64_t> rows;
  uint64_t row = 0;
  for (const Layout& band : bands) {
    rows.push_back(row);
    row += band.mcus_high;
  }
  return rows;
}

// The DC difference of `diff` as a DC symbol of `slot_bits` (F.1.2.1:
// SSSS, the size of the difference, then its additional bits, the low bits
// of DIFF - 1 when DIFF is negative).
uint32_t DcSymbol(uint32_t slot_bits, int64_t diff) {
  const uint64_t magnitude = static_cast<uint64_t>(diff < 0 ? -diff : diff);
  const auto ssss = static_cast<uint32_t>(std::bit_width(magnitude));
  if (ssss > 11) Fail(RecodeError::CoefficientOutOfRange);
  const auto additional =
      static_cast<uint32_t>((diff < 0 ? diff - 1 : diff) & ((int64_t{1} << ssss) - 1));
  return PackedSymbol(slot_bits, ssss, additional, ssss);
}

// Each band's DC differences started from 0; from the second band on, the
// first of each component becomes its difference from the last DC of the
// band before, as in the picture coded in one piece.
void JoinDcAtBandEdges(std::vector<ScanSymbols>& bands) {
  for (size_t k = 1; k < bands.size(); ++k) {
    ScanSymbols& band = bands[k];
    for (size_t c = 0; c < 4; ++c) {
      if (!band.has_dc[c]) continue;
      uint32_t& symbol = band.symbols.Begin()[band.first_dc_at[c]];
      const uint32_t slot = symbol >> 8 & 15;
      --band.counts[slot][symbol & 0xFF];
      symbol = DcSymbol(SlotBits(slot), band.first_dc[c] - bands[k - 1].last_dc[c]);
      ++band.counts[slot][symbol & 0xFF];
    }
  }
}

// How many bits the symbols counted in `counts` take with `codes`: each
// code and its additional bits (SSSS of them, the low bits of the symbol).
uint64_t BitsOf(const std::vector<std::array<int64_t, 257>>& counts,
                const std::vector<uint32_t>& codes) {
  uint64_t bits = 0;
  for (uint32_t slot = 0; slot < kTableSlots; ++slot)
    for (uint32_t symbol = 0; symbol < 256; ++symbol)
      bits += static_cast<uint64_t>(counts[slot][symbol]) *
              ((codes[SlotBits(slot) | symbol] & 31) + (symbol & 15));
  return bits;
}

// Codes each band's symbols into a piece of its own, side by side, each
// piece starting where the bits of the bands before it end.
std::vector<BitWriter::Piece> CodePieces(const std::vector<ScanSymbols>& bands,
                                         const std::vector<uint32_t>& codes, unsigned threads) {
  std::vector<BitWriter::Piece> pieces(bands.size());
  std::vector<uint64_t> bytes(bands.size());
  uint64_t bits = 0;
  for (size_t k = 0; k < bands.size(); ++k) {
    pieces[k].phase = static_cast<int>(bits % 8);
    const uint64_t band_bits = BitsOf(bands[k].counts, codes);
    bits += band_bits;
    bytes[k] = band_bits / 8 + 1;
  }
  RunJobs(threads, bands.size(), [&](size_t k) {
    MemorySink sink;
    // The piece's bytes and the 0s stuffed after some 0xFF bytes: the pages
    // are taken once, and the bytes never copied to a larger array.
    sink.bytes.reserve(bytes[k] + bytes[k] / 64 + kBitWriterBuffer);
    BitWriter writer(sink, pieces[k].phase);
    writer.PutSymbols(bands[k].symbols.All(), codes);
    writer.FinishPiece(pieces[k]);
    pieces[k].bytes = std::move(sink.bytes);
  });
  return pieces;
}

// Reads each band's symbols, side by side, each band's arrays within its
// share of `memory_limit` by its bytes.
std::vector<ScanSymbols> ReadBands(std::span<const std::span<const uint8_t>> jpegs,
                                   const std::vector<Layout>& layouts,
                                   const std::optional<DecodeTable> (&decode)[kTableSlots],
                                   uint64_t memory_limit, unsigned threads) {
  uint64_t total = 0;
  for (const std::span<const uint8_t> jpeg : jpegs) total += jpeg.size();
  std::vector<std::optional<ScanSymbols>> read(jpegs.size());
  RunJobs(threads, jpegs.size(), [&](size_t k) {
    const uint64_t share =
        jpegs.size() == 1 ? memory_limit
                          : static_cast<uint64_t>(static_cast<long double>(memory_limit) *
                                                  jpegs[k].size() / std::max<uint64_t>(total, 1));
    read[k].emplace(ReadScan(jpegs[k], layouts[k], decode, share));
  });
  std::vector<ScanSymbols> bands;
  for (std::optional<ScanSymbols>& band : read) bands.push_back(std::move(*band));
  return bands;
}

// Reads each band's coefficients into `planes`, side by side, each band's
// values not 0 into an array of its own within its share of `limit` values
// by its bytes.
std::vector<GrowingArray<int16_t>> ReadBandValues(
    std::span<const std::span<const uint8_t>> jpegs, const std::vector<Layout>& layouts,
    const std::optional<DecodeTable> (&decode)[kTableSlots], std::vector<Plane>& planes,
    uint64_t limit, unsigned threads) {
  uint64_t total = 0;
  for (const std::span<const uint8_t> jpeg : jpegs) total += jpeg.size();
  std::vector<GrowingArray<int16_t>> values;
  for (const std::span<const uint8_t> jpeg : jpegs) {
    const uint64_t share = jpegs.size() == 1
                               ? limit
                               : static_cast<uint64_t>(static_cast<long double>(limit) *
                                                       jpeg.size() / std::max<uint64_t>(total, 1));
    values.emplace_back(ValueRoom(jpeg.size()), share);
  }
  const std::vector<uint64_t> first_rows = FirstRows(layouts);
  RunJobs(threads, jpegs.size(), [&](size_t k) {
    ReadBandCoefficients(jpegs[k], layouts[k], first_rows[k], decode, planes, values[k]);
  });
  return values;
}

// SOI and the markers up to the first scan of the progressive JPEG.
std::vector<uint8_t> ProgressiveMarkers(std::span<const uint8_t> jpeg, const Layout& layout) {
  MemorySink head;
  BitWriter out(head);
  out.Append(jpeg.first(2));
  CopyMarkersAsProgressive(jpeg, layout, out);
  return std::move(head.bytes);
}

// The scans in the order they are best begun side by side: the longest
// first, so that the short ones fill in at the end. How long a scan takes
// goes with its blocks and the coefficients it codes of each, a
// refinement's twice.
std::vector<size_t> LongestScansFirst(std::span<const ProgressiveScan> scans,
                                      const std::vector<Plane>& planes) {
  std::vector<uint64_t> work;
  for (const ProgressiveScan& scan : scans) {
    uint64_t blocks = 0;
    for (int i = 0; i < scan.components; ++i) {
      const Plane& plane = planes[static_cast<size_t>(scan.component[i])];
      blocks += plane.real_wide * plane.real_high;
    }
    const auto coefficients = static_cast<uint64_t>(scan.se - scan.ss + 1);
    work.push_back(blocks * coefficients * (scan.ah != 0 ? 2 : 1));
  }
  std::vector<size_t> order(scans.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return work[a] > work[b]; });
  return order;
}

// Bytes as the writer hands them over, in pieces of up to its buffer's
// size, never copied into a larger array.
class Chunks final : public JpegSink {
 public:
  void Write(const uint8_t* data, size_t size) override { chunks_.emplace_back(data, data + size); }
  void WriteTo(JpegSink& sink) const {
    for (const std::vector<uint8_t>& chunk : chunks_) sink.Write(chunk.data(), chunk.size());
  }

 private:
  std::vector<std::vector<uint8_t>> chunks_;
};

// Makes the scans side by side, each into bytes of its own, each thread
// with an array of `symbol_room` symbols.
std::vector<Chunks> CodeScansSideBySide(std::span<const ProgressiveScan> scans,
                                        const Layout& layout, const std::vector<Plane>& planes,
                                        const TableBuilder& build, uint64_t symbol_room,
                                        unsigned threads) {
  std::mutex mutex;
  std::vector<std::unique_ptr<Symbols>> arrays;  // those no scan is using
  std::vector<Chunks> pieces(scans.size());
  const std::vector<size_t> order = LongestScansFirst(scans, planes);
  RunJobs(threads, scans.size(), [&](size_t job) {
    const size_t i = order[job];
    std::unique_ptr<Symbols> symbols;
    {
      const std::lock_guard lock(mutex);
      if (!arrays.empty()) {
        symbols = std::move(arrays.back());
        arrays.pop_back();
      }
    }
    if (!symbols) symbols = std::make_unique<Symbols>(symbol_room, 0);
    BitWriter out(pieces[i]);
    WriteScan(scans[i], layout, planes, build, *symbols, out);
    const std::lock_guard lock(mutex);
    arrays.push_back(std::move(symbols));
  });
  return pieces;
}

}  // namespace

HuffmanTable QuickToReadTable(int table_class) {
  HuffmanTable table;
  const int length = table_class == 0 ? 4 : 8;
  const int count = table_class == 0 ? 12 : 255;  // DC sizes 0-11; every AC byte but 0xFF
  table.bits[static_cast<size_t>(length)] = static_cast<uint8_t>(count);
  for (int i = 0; i < count; ++i) table.symbols[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  return table;
}

uint64_t RecodingMemory(uint64_t bytes, uint64_t blocks, bool progressive) {
  if (!progressive) return SymbolRoom(bytes, blocks) * sizeof(uint32_t);
  return ValueRoom(bytes) * sizeof(int16_t) + blocks * kPlaneBytesPerBlock +
         kSmallestSymbolRoom * sizeof(uint32_t);
}

void RecodeWithFittedTables(std::span<const uint8_t> jpeg, const TableBuilder& build,
                            JpegSink& sink, uint64_t memory_limit) {
  const std::span<const uint8_t> bands[] = {jpeg};
  RecodeWithFittedTables(bands, build, sink, memory_limit, 1);
}

void RecodeWithFittedTables(std::span<const std::span<const uint8_t>> jpegs,
                            const TableBuilder& build, JpegSink& sink, uint64_t memory_limit,
                            unsigned threads) {
  const std::vector<Layout> layouts = LayoutsOf(jpegs);
  const Layout layout = JoinedLayout(jpegs, layouts);
  std::optional<DecodeTable> decode[kTableSlots];
  ReadyDecodeTables(layout, decode);
  std::vector<ScanSymbols> bands = ReadBands(jpegs, layouts, decode, memory_limit, threads);
  JoinDcAtBandEdges(bands);

  // A table fitted to each used table's counts.
  std::vector<std::array<int64_t, 257>> counts(kTableSlots);
  uint64_t kept = 0;
  for (const ScanSymbols& band : bands) {
    for (size_t slot = 0; slot < kTableSlots; ++slot)
      for (size_t symbol = 0; symbol < 257; ++symbol)
        counts[slot][symbol] += band.counts[slot][symbol];
    kept += band.symbols.Capacity() * sizeof(uint32_t);
  }
  bool used[kTableSlots] = {};
  for (const Block& block : layout.mcu) used[block.dc] = used[block.ac] = true;
  std::optional<HuffmanTable> fitted[kTableSlots];
  for (int slot = 0; slot < kTableSlots; ++slot)
    if (used[slot]) fitted[slot] = build(counts[static_cast<size_t>(slot)]);
  const std::vector<uint32_t> codes = CodesOf(fitted);

  // The bands' symbols coded side by side take the scan's bytes once more
  // (twice as many at the most, each byte 0xFF and stuffed).
  const uint64_t scan_bytes = BitsOf(counts, codes) / 8 + 1;
  const bool side_by_side = threads > 1 && bands.size() > 1 && kept <= memory_limit &&
                            memory_limit - kept >= 2 * scan_bytes + threads * (128 << 10);
  std::vector<BitWriter::Piece> pieces;
  if (side_by_side) pieces = CodePieces(bands, codes, threads);

  // The markers as they were, with the fitted tables and the whole height;
  // then the symbols again (F.1.2).
  const std::span<const uint8_t> first = jpegs.front();
  BitWriter out(sink);
  out.Append(first.first(2));
  for (const Layout::Segment& segment : layout.before_scan) {
    const std::span<const uint8_t> bytes =
        first.subspan(segment.start, segment.end - segment.start);
    if (segment.marker == kDht) {
      WriteTables(bytes.subspan(4), fitted, out);
    } else if (segment.marker == kSof0 || segment.marker == kSof1) {
      std::vector<uint8_t> frame(bytes.begin(), bytes.end());
      SetFrameHeight(frame, layout.height);
      out.Append(frame);
    } else {
      out.Append(bytes);
    }
  }
  if (side_by_side) {
    for (const BitWriter::Piece& piece : pieces) out.PutPiece(piece);
  } else {
    for (const ScanSymbols& band : bands) out.PutSymbols(band.symbols.All(), codes);
  }
  out.Finish();
  out.Append(jpegs.back().last(2));
}

void RecodeAsProgressive(std::vector<uint8_t>&& first_coding,
                         std::span<const ProgressiveScan> scans, const TableBuilder& build,
                         JpegSink& sink, uint64_t memory_limit) {
  std::vector<std::vector<uint8_t>> bands;
  bands.push_back(std::move(first_coding));
  RecodeAsProgressive(std::move(bands), scans, build, sink, memory_limit, 1);
}

void RecodeAsProgressive(std::vector<std::vector<uint8_t>>&& first_codings,
                         std::span<const ProgressiveScan> scans, const TableBuilder& build,
                         JpegSink& sink, uint64_t memory_limit, unsigned threads) {
  std::vector<std::vector<uint8_t>> owned = std::move(first_codings);
  const std::vector<std::span<const uint8_t>> jpegs(owned.begin(), owned.end());
  const std::vector<Layout> layouts = LayoutsOf(jpegs);
  const Layout layout = JoinedLayout(jpegs, layouts);
  CheckScript(scans, layout.frame.size());
  std::optional<DecodeTable> decode[kTableSlots];
  ReadyDecodeTables(layout, decode);
  uint64_t bytes = 0, held = 0;
  for (const std::vector<uint8_t>& jpeg : owned) bytes += jpeg.size(), held += jpeg.capacity();
  const uint64_t plane_bytes = layout.mcus * layout.mcu.size() * kPlaneBytesPerBlock;
  if (RecodingMemory(bytes, layout.mcus * layout.mcu.size(), true) > memory_limit) OutOfMemory();
  std::vector<Plane> planes = PlanesFor(layout);
  std::vector<GrowingArray<int16_t>> values = ReadBandValues(
      jpegs, layouts, decode, planes,
      (memory_limit - plane_bytes - kSmallestSymbolRoom * sizeof(uint32_t)) / sizeof(int16_t),
      threads);
  uint64_t value_bytes = 0;
  for (const GrowingArray<int16_t>& band : values) value_bytes += band.Capacity() * sizeof(int16_t);

  const std::vector<uint8_t> head = ProgressiveMarkers(jpegs.front(), layout);
  // The first codings are read: their memory goes to the scans' symbols.
  const uint64_t left = memory_limit - std::min(memory_limit, plane_bytes + value_bytes);
  const uint64_t room = left > UINT64_MAX - held ? UINT64_MAX : left + held;
  owned = std::vector<std::vector<uint8_t>>();
  const uint64_t symbol_room = bytes + 256;
  // Side by side, the scans' bytes wait for those before them (fewer than
  // the first coding's, whose codes are longer), and each thread keeps the
  // symbols of a scan in what is left.
  const uint64_t thread_room =
      room > bytes ? std::min(symbol_room, (room - bytes) / threads / sizeof(uint32_t)) : 0;
  if (threads > 1 && scans.size() > 1 &&
      thread_room >= std::min(symbol_room, kLeastSymbolsSideBySide)) {
    const std::vector<Chunks> pieces =
        CodeScansSideBySide(scans, layout, planes, build, thread_room, threads);
    sink.Write(head.data(), head.size());
    for (const Chunks& piece : pieces) piece.WriteTo(sink);
  } else {
    BitWriter out(sink);
    out.Append(head);
    Symbols symbols(std::min<uint64_t>(room / sizeof(uint32_t), symbol_room), 0);
    for (const ProgressiveScan& scan : scans) WriteScan(scan, layout, planes, build, symbols, out);
  }
  const uint8_t end[] = {0xFF, kEoi};
  sink.Write(end, sizeof end);
}

}  // namespace savejpg
