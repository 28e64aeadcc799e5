#include "huffman_recoder.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "savejpg.h"

namespace savejpg {

const char* ToString(RecodeError error) {
  switch (error) {
    case RecodeError::NoStartOfImage:
      return "no start of image";
    case RecodeError::NoMarker:
      return "bytes between markers";
    case RecodeError::MarkerCutShort:
      return "a marker cut short";
    case RecodeError::TwoFrames:
      return "two frames";
    case RecodeError::NotBaseline:
      return "a frame that is not baseline";
    case RecodeError::NotEightBit:
      return "a frame that is not 8-bit";
    case RecodeError::BadFrameHeader:
      return "a frame header it cannot read";
    case RecodeError::BadSampling:
      return "a sampling factor out of range";
    case RecodeError::TableCutShort:
      return "a table cut short";
    case RecodeError::BadTableNumber:
      return "a table class or number out of range";
    case RecodeError::BadTable:
      return "a table that does not fit";
    case RecodeError::RestartMarkers:
      return "restart markers";
    case RecodeError::ScanBeforeFrame:
      return "a scan before the frame";
    case RecodeError::BadScanHeader:
      return "a scan header it cannot read";
    case RecodeError::NotSequential:
      return "a scan that is not sequential";
    case RecodeError::UnknownScanComponent:
      return "a scan component it cannot place";
    case RecodeError::ComponentTwice:
      return "a component twice in a scan";
    case RecodeError::UndefinedTable:
      return "a scan naming a table not defined";
    case RecodeError::McuTooLarge:
      return "more than 10 blocks in an MCU";
    case RecodeError::NotOneScan:
      return "more than one scan, or no end of image";
    case RecodeError::ScanWithoutEveryComponent:
      return "a scan without every component";
    case RecodeError::MarkerInScan:
      return "a marker inside the scan";
    case RecodeError::UnknownCode:
      return "a code its table does not have";
    case RecodeError::CoefficientOutOfRange:
      return "a coefficient out of range";
    case RecodeError::ScanCutShort:
      return "a scan cut short";
    case RecodeError::DataAfterScan:
      return "data after the last block of the scan";
    case RecodeError::BadScript:
      return "a scan the script cannot have";
    case RecodeError::SymbolWithoutCode:
      return "a symbol its fitted table lacks";
    case RecodeError::TableSegmentTooLong:
      return "a table segment too long";
  }
  return "an unknown fault";
}

RecodeFailure::RecodeFailure(RecodeError error)
    : JpegFailure(SAVEJPG_ERR_ENCODER,
                  std::string("recoding the Huffman tables: ") + ToString(error)),
      error_(error) {}

namespace {

[[noreturn]] void Fail(RecodeError error) { throw RecodeFailure(error); }

constexpr uint8_t kSof0 = 0xC0, kSof1 = 0xC1, kDht = 0xC4, kSoi = 0xD8, kEoi = 0xD9, kSos = 0xDA,
                  kDri = 0xDD;
constexpr int kTableSlots = 8;  // DC tables 0-3, then AC tables 0-3
// The index of a run of raw bits among the symbols (AC table 3, symbol 255,
// which no scan here codes): bits without a Huffman code.
constexpr uint32_t kRawBits = 0x7FF;

int Slot(int table_class, int id) { return table_class * 4 + id; }

uint32_t BigEndian16(std::span<const uint8_t> bytes, size_t at) {
  return uint32_t{bytes[at]} << 8 | bytes[at + 1];
}

// The codes of a table, in the order JPEG assigns them: shortest first,
// counting up within one length. Fails for counts that do not fit in their
// lengths, or more than 256 symbols.
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

// The scan's bytes as bits, without the 0x00 stuffed after each 0xFF. Bits
// past the end read as 0; Exhausted() says whether any was used.
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
  // the last byte.
  bool OnlyPaddingLeft() {
    Fill();
    const int64_t left = count_ - missing_bits_;
    if (left < 0 || left >= 8) return false;
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
// left after it.
void CheckScanEnd(BitReader& in) {
  if (in.Exhausted()) Fail(RecodeError::ScanCutShort);
  if (!in.OnlyPaddingLeft()) Fail(RecodeError::DataAfterScan);
}

// A table for reading: codes of up to kFastBits bits in one look-up, longer
// ones by length.
class DecodeTable {
 public:
  explicit DecodeTable(const HuffmanTable& table) {
    int first_index[17] = {};
    uint32_t first_code[17] = {};
    ForEachCode(table, [&](uint8_t symbol, uint32_t code, int length) {
      if (length <= kFastBits) {
        const uint32_t from = code << (kFastBits - length);
        for (uint32_t i = 0; i < (1u << (kFastBits - length)); ++i)
          fast_[from + i] = static_cast<uint16_t>(length << 8 | symbol);
      }
      if (max_code_[length] < 0) {
        first_code[length] = code;
        first_index[length] = static_cast<int>(symbols_.size());
      }
      max_code_[length] = static_cast<int32_t>(code);
      symbols_.push_back(symbol);
    });
    for (int length = 1; length <= 16; ++length)
      offset_[length] = first_index[length] - static_cast<int32_t>(first_code[length]);
    // A table whose codes all have one length and are their own symbols
    // (QuickToReadTable) is read without looking up.
    for (int length = 1; length <= 8; ++length) {
      if (table.bits[length] == symbols_.size() && first_code[length] == 0) {
        bool own = true;
        for (size_t i = 0; i < symbols_.size(); ++i) own = own && symbols_[i] == i;
        if (own) fixed_length_ = length, fixed_count_ = static_cast<uint32_t>(symbols_.size());
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
      if (code <= max_code_[length]) {
        in.Drop(length);
        return symbols_[static_cast<size_t>(offset_[length] + code)];
      }
    }
    Fail(RecodeError::UnknownCode);
  }

 private:
  static constexpr int kFastBits = 9;
  uint16_t fast_[1 << kFastBits] = {};  // length << 8 | symbol; 0: longer
  int32_t max_code_[17] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
  int32_t offset_[17] = {};
  std::vector<uint8_t> symbols_;
  int fixed_length_ = 0;
  uint32_t fixed_count_ = 0;
};

// Bits into bytes with a 0x00 after each 0xFF, the last byte filled with 1
// bits, handed to the sink in large pieces.
class BitWriter {
 public:
  explicit BitWriter(JpegSink& sink) : sink_(sink), buffer_(kBuffer), out_(buffer_.data()) {}

  // Each symbol's code from `codes` (code << 5 | length, by slot << 8 |
  // symbol), then its extra bits.
  void PutSymbols(std::span<const uint32_t> symbols, const std::vector<uint32_t>& codes) {
    // The state in locals, which the compiler keeps in registers.
    uint64_t acc = acc_;
    int count = count_;
    uint8_t* out = out_;
    uint8_t* const limit = buffer_.data() + buffer_.size() - 16;
    for (const uint32_t s : symbols) {
      const uint32_t code = codes[s & 0x7FF];
      const int bits = static_cast<int>(s >> 11 & 31), length = static_cast<int>(code & 31);
      if (length == 0 && (s & 0x7FF) != kRawBits) Fail(RecodeError::SymbolWithoutCode);
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
  static constexpr size_t kBuffer = 64 * 1024;

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

struct FrameComponent {
  int id, h, v;
  int dc_table = 0, ac_table = 0;  // as the scan names them
};

struct Block {
  int dc, ac;     // table slots
  int component;  // index in the frame
};

// What the markers say: where each one is, the tables, the picture's
// components and the scan's blocks.
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

// Calls table(class, id, table) for each table of one DHT segment's body.
template <typename Table>
void ReadTables(std::span<const uint8_t> s, Table table) {
  size_t at = 0;
  while (at < s.size()) {
    if (s.size() - at < 17) Fail(RecodeError::TableCutShort);
    const int table_class = s[at] >> 4, id = s[at] & 15;
    if (table_class > 1 || id > 3) Fail(RecodeError::BadTableNumber);
    HuffmanTable t;
    for (int length = 1; length <= 16; ++length) t.bits[length] = s[at + length];
    const size_t n = SymbolCount(t);
    if (n > 256 || s.size() - at - 17 < n) Fail(RecodeError::TableCutShort);
    for (size_t i = 0; i < n; ++i) t.symbols[i] = s[at + 17 + i];
    table(table_class, id, t);
    at += 17 + n;
  }
}

uint64_t DivideUp(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

struct MaxSampling {
  int h = 1, v = 1;
  explicit MaxSampling(const Layout& layout) {
    for (const FrameComponent& c : layout.frame) {
      h = std::max(h, c.h);
      v = std::max(v, c.v);
    }
  }
};

void ReadScanHeader(std::span<const uint8_t> s, Layout& layout) {
  if (layout.frame.empty()) Fail(RecodeError::ScanBeforeFrame);
  if (s.empty()) Fail(RecodeError::BadScanHeader);
  const size_t n = s[0];
  if (n < 1 || n > 4 || s.size() != 4 + 2 * n) Fail(RecodeError::BadScanHeader);
  if (s[1 + 2 * n] != 0 || s[2 + 2 * n] != 63 || s[3 + 2 * n] != 0)
    Fail(RecodeError::NotSequential);
  const MaxSampling max(layout);
  // Several components are coded MCU by MCU, one alone block by block.
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
      ReadTables(body, [&](int table_class, int id, const HuffmanTable& t) {
        layout.tables[Slot(table_class, id)] = t;
      });
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

// An array filled through a pointer, with room made before each block
// rather than checked for each value; its memory is taken as it is written.
template <typename T>
class GrowingArray {
 public:
  explicit GrowingArray(size_t capacity) : data_(new T[capacity]), capacity_(capacity) {}
  // Room for `n` more after `end`; returns where `end` now is.
  T* RoomFor(T* end, size_t n) {
    size_ = static_cast<size_t>(end - data_.get());
    if (capacity_ - size_ < n) {
      capacity_ = std::max(capacity_ * 2, size_ + n);
      std::unique_ptr<T[]> bigger(new T[capacity_]);
      std::copy(data_.get(), data_.get() + size_, bigger.get());
      data_ = std::move(bigger);
    }
    return data_.get() + size_;
  }
  T* Begin() { return data_.get(); }
  void End(T* end) { size_ = static_cast<size_t>(end - data_.get()); }
  const T* Data() const { return data_.get(); }
  std::span<const T> All() const { return {data_.get(), size_}; }

 private:
  std::unique_ptr<T[]> data_;
  size_t capacity_, size_ = 0;
};

// The scan's symbols in order, each with its table slot and extra bits:
// extra bits << 16 | their length << 11 | slot << 8 | symbol.
using Symbols = GrowingArray<uint32_t>;

// Reads one block's Huffman symbols: on_dc(size, extra bits), then
// on_ac(run/size, size, extra bits, k) for each AC symbol up to the end of
// the block, k the zigzag place of its coefficient (of the last of the 16
// zeros of 0xF0). kQuick: both tables are QuickToReadTable's, whose codes
// are read with their extra bits in one look.
template <bool kQuick, typename OnDc, typename OnAc>
void ReadBlockSymbols(BitReader& in, const DecodeTable& dc, const DecodeTable& ac, OnDc on_dc,
                      OnAc on_ac) {
  if (in.Ready() < 32) in.Fill();
  const uint32_t size = kQuick ? in.Take(4) : dc.Read(in);
  if (size > 11) Fail(RecodeError::CoefficientOutOfRange);
  on_dc(size, in.Take(static_cast<int>(size)));
  for (int k = 1; k < 64;) {
    if (in.Ready() < 32) in.Fill();
    uint32_t run_size, bits, extra;
    if constexpr (kQuick) {
      const uint32_t look = in.Peek24();
      run_size = look >> 16;
      bits = run_size & 15;
      extra = (look & 0xFFFF) >> (16 - bits);
      in.Drop(static_cast<int>(8 + bits));
    } else {
      run_size = ac.Read(in);
      bits = run_size & 15;
      extra = in.Take(static_cast<int>(bits));
    }
    // A run of zeros and a coefficient, or 16 zeros (0xF0), or the end of
    // the block (0x00).
    if (run_size == 0) {
      on_ac(0u, 0u, 0u, k);
      break;
    }
    k += static_cast<int>(run_size >> 4);
    if (k > 63 || bits > 10 || (bits == 0 && run_size != 0xF0))
      Fail(RecodeError::CoefficientOutOfRange);
    on_ac(run_size, bits, extra, k);
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

template <bool kQuick>
Symbols ReadScan(std::span<const uint8_t> jpeg, const Layout& layout,
                 const std::optional<DecodeTable> (&tables)[kTableSlots],
                 std::vector<std::array<int64_t, 257>>& counts) {
  struct Tables {
    const DecodeTable *dc, *ac;
    uint32_t dc_slot, ac_slot;  // shifted into place
    int64_t *dc_count, *ac_count;
  };
  std::vector<Tables> mcu;
  for (const Block& block : layout.mcu)
    mcu.push_back({&*tables[block.dc], &*tables[block.ac], static_cast<uint32_t>(block.dc) << 8,
                   static_cast<uint32_t>(block.ac) << 8,
                   counts[static_cast<size_t>(block.dc)].data(),
                   counts[static_cast<size_t>(block.ac)].data()});
  // Every symbol takes 4 bits or more in the quick tables.
  Symbols symbols(jpeg.size() * 2 + 64);
  uint32_t* out = symbols.Begin();
  BitReader in(jpeg.data() + layout.scan_start, jpeg.data() + layout.scan_end);
  for (uint64_t m = 0; m < layout.mcus; ++m) {
    for (const Tables& block : mcu) {
      out = symbols.RoomFor(out, 64);
      ReadBlockSymbols<kQuick>(
          in, *block.dc, *block.ac,
          [&](uint32_t size, uint32_t extra) {
            *out++ = extra << 16 | size << 11 | block.dc_slot | size;
            ++block.dc_count[size];
          },
          [&](uint32_t run_size, uint32_t bits, uint32_t extra, int) {
            *out++ = extra << 16 | bits << 11 | block.ac_slot | run_size;
            ++block.ac_count[run_size];
          });
    }
  }
  symbols.End(out);
  CheckScanEnd(in);
  return symbols;
}

Symbols ReadScan(std::span<const uint8_t> jpeg, const Layout& layout,
                 const std::optional<DecodeTable> (&tables)[kTableSlots],
                 std::vector<std::array<int64_t, 257>>& counts) {
  return AllQuick(layout, tables) ? ReadScan<true>(jpeg, layout, tables, counts)
                                  : ReadScan<false>(jpeg, layout, tables, counts);
}

// One table as a DHT segment holds it: class and number, the counts of
// each length, the symbols.
void AppendTableBody(std::vector<uint8_t>& out, int table_class, int id, const HuffmanTable& t) {
  out.push_back(static_cast<uint8_t>(table_class << 4 | id));
  out.insert(out.end(), t.bits.begin() + 1, t.bits.end());
  out.insert(out.end(), t.symbols.begin(),
             t.symbols.begin() + static_cast<std::ptrdiff_t>(SymbolCount(t)));
}

void WriteTables(std::span<const uint8_t> body,
                 const std::optional<HuffmanTable> (&fitted)[kTableSlots], BitWriter& out) {
  std::vector<uint8_t> segment = {0xFF, kDht, 0, 0};
  ReadTables(body, [&](int table_class, int id, const HuffmanTable& original) {
    const HuffmanTable& t =
        fitted[Slot(table_class, id)] ? *fitted[Slot(table_class, id)] : original;
    AppendTableBody(segment, table_class, id, t);
  });
  const size_t length = segment.size() - 2;
  if (length > 0xFFFF) Fail(RecodeError::TableSegmentTooLong);
  segment[2] = static_cast<uint8_t>(length >> 8);
  segment[3] = static_cast<uint8_t>(length);
  out.Append(segment);
}

// One block's quantised coefficients: its DC, and, for each shift a from 0
// to 3, which of its AC coefficients are not 0 once shifted right by a (bit k
// for zigzag position k); `values` holds those not 0, in zigzag order.
struct CodedBlock {
  int16_t dc;
  const uint64_t* nonzero;
  const int16_t* values;
};

// The blocks of one component, for every block the sequential scan coded
// (MCUs padded to whole blocks). Most AC coefficients are 0, so only the
// others are kept, in one array for all the planes.
struct Plane {
  Plane(uint64_t wide, uint64_t high, uint64_t real_wide, uint64_t real_high)
      : blocks_wide(wide),
        blocks_high(high),
        real_wide(real_wide),
        real_high(real_high),
        dc(wide * high),
        nonzero(wide * high * 4),
        first_value(wide * high) {}
  uint64_t blocks_wide, blocks_high;  // coded, with the padding
  uint64_t real_wide, real_high;      // of the picture alone
  std::vector<int16_t> dc;
  std::vector<uint64_t> nonzero;
  std::vector<uint64_t> first_value;  // where the block's values start

  uint64_t Index(uint64_t x, uint64_t y) const { return y * blocks_wide + x; }
  CodedBlock At(uint64_t x, uint64_t y, const int16_t* values) const {
    const uint64_t i = Index(x, y);
    return {dc[i], nonzero.data() + i * 4, values + first_value[i]};
  }
};

int32_t ExtendSign(uint32_t bits, int length) {
  if (length == 0) return 0;
  const auto value = static_cast<int32_t>(bits);
  return value < (1 << (length - 1)) ? value - (1 << length) + 1 : value;
}

// Reads one block's coefficients: the DC into `dc` (a difference from
// `last_dc`), the values not 0 to `values`, and the masks of those not 0 for
// each shift.
template <bool kQuick>
void ReadBlock(BitReader& in, const DecodeTable& dc_table, const DecodeTable& ac_table,
               int64_t& last_dc, int16_t& dc, int16_t*& values, uint64_t* nonzero) {
  uint64_t masks[4] = {};
  ReadBlockSymbols<kQuick>(
      in, dc_table, ac_table,
      [&](uint32_t size, uint32_t extra) {
        last_dc += ExtendSign(extra, static_cast<int>(size));
        if (last_dc < INT16_MIN || last_dc > INT16_MAX) Fail(RecodeError::CoefficientOutOfRange);
        dc = static_cast<int16_t>(last_dc);
      },
      [&](uint32_t, uint32_t bits, uint32_t extra, int k) {
        if (bits == 0) return;
        const int32_t value = ExtendSign(extra, static_cast<int>(bits));
        *values++ = static_cast<int16_t>(value);
        const auto magnitude = static_cast<uint32_t>(std::abs(value));
        const uint64_t bit = uint64_t{1} << k;
        masks[0] |= bit;
        masks[1] |= magnitude >= 2 ? bit : 0;
        masks[2] |= magnitude >= 4 ? bit : 0;
        masks[3] |= magnitude >= 8 ? bit : 0;
      });
  std::copy(masks, masks + 4, nonzero);
}

template <bool kQuick>
std::vector<Plane> ReadCoefficients(std::span<const uint8_t> jpeg, const Layout& layout,
                                    const std::optional<DecodeTable> (&tables)[kTableSlots],
                                    GrowingArray<int16_t>& values) {
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
  int16_t* value_end = values.Begin();
  int64_t last_dc[4] = {};  // wide enough for any sum of differences
  BitReader in(jpeg.data() + layout.scan_start, jpeg.data() + layout.scan_end);
  for (uint64_t m = 0; m < layout.mcus; ++m) {
    const uint64_t mx = m % layout.mcus_wide, my = m / layout.mcus_wide;
    size_t b = 0;
    for (const int index : layout.scan_components) {
      const FrameComponent& c = layout.frame[static_cast<size_t>(index)];
      const int blocks_h = interleaved ? c.h : 1, blocks_v = interleaved ? c.v : 1;
      for (int v = 0; v < blocks_v; ++v) {
        for (int h = 0; h < blocks_h; ++h, ++b) {
          const Block& block = layout.mcu[b];
          Plane& plane = planes[static_cast<size_t>(index)];
          const uint64_t i =
              plane.Index(mx * static_cast<uint64_t>(blocks_h) + static_cast<uint64_t>(h),
                          my * static_cast<uint64_t>(blocks_v) + static_cast<uint64_t>(v));
          value_end = values.RoomFor(value_end, 63);
          plane.first_value[i] = static_cast<uint64_t>(value_end - values.Begin());
          ReadBlock<kQuick>(in, *tables[block.dc], *tables[block.ac], last_dc[index], plane.dc[i],
                            value_end, plane.nonzero.data() + i * 4);
        }
      }
    }
  }
  values.End(value_end);
  CheckScanEnd(in);
  return planes;
}

std::vector<Plane> ReadCoefficients(std::span<const uint8_t> jpeg, const Layout& layout,
                                    const std::optional<DecodeTable> (&tables)[kTableSlots],
                                    GrowingArray<int16_t>& values) {
  return AllQuick(layout, tables) ? ReadCoefficients<true>(jpeg, layout, tables, values)
                                  : ReadCoefficients<false>(jpeg, layout, tables, values);
}

// Bits in order, the first at the top of the first word.
class BitQueue {
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
  // Calls run(bits, n) for each 16 bits in order, then the rest.
  template <typename Run>
  void ForEachRun(Run run) const {
    for (size_t i = 0; i < count_; i += 16) {
      const int n = static_cast<int>(std::min<size_t>(16, count_ - i));
      const uint64_t word = words_[i / 64];
      run(static_cast<uint32_t>(word >> (64 - static_cast<int>(i % 64) - n)) & ((1u << n) - 1), n);
    }
  }
  void Clear() { count_ = 0; }

 private:
  std::array<uint64_t, 18> words_{};  // room for 1000 + 63 bits and one word more
  size_t count_ = 0;
};

// One progressive scan's symbols as libjpeg makes them (jcphuff.c), in the
// same order and with the same runs of end-of-band codes, so that tables
// fitted to their counts come out as libjpeg's.
class ProgressiveScanCoder {
 public:
  explicit ProgressiveScanCoder(Symbols& symbols) : symbols_(symbols), out_(symbols.Begin()) {}
  std::array<int64_t, 257>& Counts(int slot) { return counts_[static_cast<size_t>(slot)]; }

  void DcFirst(const CodedBlock& block, int component, int slot, int al) {
    Room();
    const int32_t value = block.dc >> al;
    const int32_t difference = value - last_dc_[component];
    last_dc_[component] = value;
    const int bits = std::bit_width(static_cast<uint32_t>(std::abs(difference)));
    if (bits > 11) Fail(RecodeError::CoefficientOutOfRange);
    Symbol(slot, static_cast<uint32_t>(bits), Extra(difference, bits), bits);
  }

  void DcRefine(const CodedBlock& block, int al) {
    Room();
    dc_bits_ = dc_bits_ << 1 | (static_cast<uint32_t>(block.dc >> al) & 1);
    if (++dc_count_ == 16) {
      Raw(dc_bits_, 16);
      dc_bits_ = 0;
      dc_count_ = 0;
    }
  }

  void AcFirst(const CodedBlock& block, int slot, uint64_t band, int se, int al) {
    Room();
    ac_slot_ = slot;
    const uint64_t shown = block.nonzero[al] & band;
    if (shown != 0 && eob_run_ > 0) EmitEobRun();
    const int16_t* value = FirstValue(block, band);
    int next = std::countr_zero(band);  // after the last coefficient coded
    for (uint64_t left = block.nonzero[0] & band; left != 0; left &= left - 1, ++value) {
      const int k = std::countr_zero(left);
      if ((shown >> k & 1) == 0) continue;
      int run = k - next;
      for (; run > 15; run -= 16) Symbol(slot, 0xF0, 0, 0);
      const int magnitude = std::abs(*value) >> al;
      const int bits = std::bit_width(static_cast<uint32_t>(magnitude));
      Symbol(slot, static_cast<uint32_t>(run << 4 | bits),
             Extra(*value < 0 ? -magnitude : magnitude, bits), bits);
      next = k + 1;
    }
    if (next <= se && ++eob_run_ == 0x7FFF) EmitEobRun();
  }

  void AcRefine(const CodedBlock& block, int slot, uint64_t band, int se, int al) {
    Room();
    ac_slot_ = slot;
    const uint64_t shown = block.nonzero[al] & band;
    const uint64_t newly = shown & ~block.nonzero[al + 1];  // 1 after the shift
    const int end_of_new = newly != 0 ? 63 - std::countl_zero(newly) : -1;
    const int16_t* value = FirstValue(block, band);
    uint64_t corrections = 0;  // one more bit of each coefficient not 0 before
    int correction_count = 0, run = 0, next = std::countr_zero(band);
    for (uint64_t left = block.nonzero[0] & band; left != 0; left &= left - 1, ++value) {
      const int k = std::countr_zero(left);
      if ((shown >> k & 1) == 0) continue;
      run += k - next;
      next = k + 1;
      while (run > 15 && k <= end_of_new) {
        EmitEobRun();
        Symbol(slot, 0xF0, 0, 0);
        run -= 16;
        EmitCorrections(corrections, correction_count);
      }
      if ((newly >> k & 1) == 0) {
        corrections = corrections << 1 | ((static_cast<uint64_t>(std::abs(*value)) >> al) & 1);
        ++correction_count;
        continue;
      }
      EmitEobRun();
      Symbol(slot, static_cast<uint32_t>(run << 4 | 1), *value < 0 ? 0u : 1u, 1);
      EmitCorrections(corrections, correction_count);
      run = 0;
    }
    run += se + 1 - next;
    if (run > 0 || correction_count > 0) {
      ++eob_run_;
      band_bits_.Append(corrections, correction_count);
      if (eob_run_ == 0x7FFF || band_bits_.Count() > kMaxBandBits - 64 + 1) EmitEobRun();
    }
  }

  void Finish() {
    Room();
    if (dc_count_ > 0) Raw(dc_bits_, dc_count_);
    EmitEobRun();
    symbols_.End(out_);
  }

 private:
  static constexpr size_t kMaxBandBits = 1000;  // libjpeg's MAX_CORR_BITS

  // Room for one more block's symbols: 63 codes, a run of end-of-band codes
  // and up to 1063 correction bits.
  void Room() { out_ = symbols_.RoomFor(out_, 256); }
  // The first of the block's values (those not 0) that lies in `band`.
  static const int16_t* FirstValue(const CodedBlock& block, uint64_t band) {
    const uint64_t first = band & (0 - band);
    return block.values + std::popcount(block.nonzero[0] & (first - 1));
  }
  static uint32_t Extra(int32_t value, int bits) {
    return static_cast<uint32_t>(value < 0 ? value - 1 : value) & ((1u << bits) - 1);
  }
  void Symbol(int slot, uint32_t symbol, uint32_t extra, int bits) {
    ++counts_[static_cast<size_t>(slot)][symbol];
    *out_++ =
        extra << 16 | static_cast<uint32_t>(bits) << 11 | static_cast<uint32_t>(slot) << 8 | symbol;
  }
  void Raw(uint32_t bits, int length) {
    *out_++ = bits << 16 | static_cast<uint32_t>(length) << 11 | kRawBits;
  }
  // `count` bits (up to 63), the first at the top, in runs of up to 16.
  void EmitCorrections(uint64_t& bits, int& count) {
    for (; count > 16; count -= 16) Raw(static_cast<uint32_t>(bits >> (count - 16)) & 0xFFFF, 16);
    if (count > 0) Raw(static_cast<uint32_t>(bits) & ((1u << count) - 1), count);
    bits = 0;
    count = 0;
  }
  void EmitEobRun() {
    if (eob_run_ == 0) return;
    const int bits = std::bit_width(static_cast<uint32_t>(eob_run_)) - 1;
    Symbol(ac_slot_, static_cast<uint32_t>(bits << 4),
           static_cast<uint32_t>(eob_run_) & ((1u << bits) - 1), bits);
    eob_run_ = 0;
    band_bits_.ForEachRun([&](uint32_t run, int n) { Raw(run, n); });
    band_bits_.Clear();
  }

  Symbols& symbols_;
  uint32_t* out_;
  std::array<std::array<int64_t, 257>, kTableSlots> counts_{};
  int32_t last_dc_[4] = {};
  uint32_t dc_bits_ = 0;  // DC refinement bits not yet in a raw run
  int dc_count_ = 0;
  int eob_run_ = 0;
  int ac_slot_ = 0;
  BitQueue band_bits_;  // correction bits waiting for the end-of-band run
};

// Calls code(component, block) for each block of `scan` in its order: one
// component's blocks of the picture row by row, or several components' MCU
// by MCU with the padding blocks.
template <typename Code>
void ForEachBlock(const ProgressiveScan& scan, const Layout& layout,
                  const std::vector<Plane>& planes, const int16_t* values, Code code) {
  if (scan.components == 1) {
    const Plane& plane = planes[static_cast<size_t>(scan.component[0])];
    for (uint64_t y = 0; y < plane.real_high; ++y)
      for (uint64_t x = 0; x < plane.real_wide; ++x)
        code(scan.component[0], plane.At(x, y, values));
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
            code(index,
                 plane.At(mx * static_cast<uint64_t>(c.h) + static_cast<uint64_t>(h),
                          my * static_cast<uint64_t>(c.v) + static_cast<uint64_t>(v), values));
      }
    }
  }
}

// Codes each symbol with its table's code (by slot << 8 | symbol; raw bits
// as they are).
std::vector<uint32_t> CodesOf(const std::optional<HuffmanTable> (&fitted)[kTableSlots]) {
  std::vector<uint32_t> codes(kTableSlots * 256);
  for (int slot = 0; slot < kTableSlots; ++slot) {
    if (!fitted[slot]) continue;
    ForEachCode(*fitted[slot], [&](uint8_t symbol, uint32_t code, int length) {
      codes[static_cast<size_t>(slot) << 8 | symbol] = code << 5 | static_cast<uint32_t>(length);
    });
  }
  return codes;
}

// A DHT segment of one table.
void AppendTable(std::vector<uint8_t>& out, int table_class, int id, const HuffmanTable& t) {
  const size_t length = 2 + 1 + 16 + SymbolCount(t);
  out.insert(out.end(),
             {0xFF, kDht, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
  AppendTableBody(out, table_class, id, t);
}

void ReadyDecodeTables(const Layout& layout, std::optional<DecodeTable> (&decode)[kTableSlots]) {
  for (int slot = 0; slot < kTableSlots; ++slot)
    if (layout.tables[slot]) decode[slot].emplace(*layout.tables[slot]);
}

// The checks libjpeg makes of a script (jcmaster.c, validate_script), and
// the recoder's own limit: AC scans with Al up to 2. Each scan's components
// are different ones of the frame; a first scan of a coefficient comes
// before its refinements, and each refinement has Ah = Al + 1 with Ah the Al
// of the scan before it.
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

}  // namespace

HuffmanTable QuickToReadTable(int table_class) {
  HuffmanTable table;
  const int length = table_class == 0 ? 4 : 8;
  const int count = table_class == 0 ? 12 : 255;  // DC sizes 0-11; every AC byte but 0xFF
  table.bits[static_cast<size_t>(length)] = static_cast<uint8_t>(count);
  for (int i = 0; i < count; ++i) table.symbols[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  return table;
}

void RecodeWithFittedTables(std::span<const uint8_t> jpeg, const TableBuilder& build,
                            JpegSink& sink) {
  const Layout layout = ReadLayout(jpeg);
  std::optional<DecodeTable> decode[kTableSlots];
  ReadyDecodeTables(layout, decode);

  std::vector<std::array<int64_t, 257>> counts(kTableSlots);
  const Symbols symbols = ReadScan(jpeg, layout, decode, counts);

  // A table fitted to each used table's counts.
  bool used[kTableSlots] = {};
  for (const Block& block : layout.mcu) used[block.dc] = used[block.ac] = true;
  std::optional<HuffmanTable> fitted[kTableSlots];
  for (int slot = 0; slot < kTableSlots; ++slot)
    if (used[slot]) fitted[slot] = build(counts[static_cast<size_t>(slot)]);

  // The markers as they were, with the fitted tables; then the symbols again.
  BitWriter out(sink);
  out.Append(jpeg.first(2));
  for (const Layout::Segment& segment : layout.before_scan) {
    const std::span<const uint8_t> bytes = jpeg.subspan(segment.start, segment.end - segment.start);
    if (segment.marker == kDht)
      WriteTables(bytes.subspan(4), fitted, out);
    else
      out.Append(bytes);
  }
  out.PutSymbols(symbols.All(), CodesOf(fitted));
  out.Finish();
  out.Append(jpeg.last(2));
}

void RecodeAsProgressive(std::span<const uint8_t> jpeg, std::span<const ProgressiveScan> scans,
                         const TableBuilder& build, JpegSink& sink) {
  const Layout layout = ReadLayout(jpeg);
  CheckScript(scans, layout.frame.size());
  std::optional<DecodeTable> decode[kTableSlots];
  ReadyDecodeTables(layout, decode);
  // A value takes 4 bits or more in the quick tables.
  GrowingArray<int16_t> values(jpeg.size() * 2 + 64);
  const std::vector<Plane> planes = ReadCoefficients(jpeg, layout, decode, values);

  // The markers as they were up to the frame, which becomes progressive;
  // the sequential scan's tables and header go.
  BitWriter out(sink);
  out.Append(jpeg.first(2));
  for (const Layout::Segment& segment : layout.before_scan) {
    if (segment.marker == kDht || segment.marker == kSos) continue;
    std::vector<uint8_t> bytes(jpeg.begin() + static_cast<std::ptrdiff_t>(segment.start),
                               jpeg.begin() + static_cast<std::ptrdiff_t>(segment.end));
    if (segment.marker == kSof0 || segment.marker == kSof1) bytes[1] = 0xC2;
    out.Append(bytes);
  }

  Symbols symbols(jpeg.size() + 256);
  for (const ProgressiveScan& scan : scans) {
    ProgressiveScanCoder coder(symbols);
    const bool dc = scan.ss == 0, first = scan.ah == 0;
    const uint64_t band = (~uint64_t{0} >> (63 - scan.se)) & (~uint64_t{0} << scan.ss);
    const auto frame = [&](int index) -> const FrameComponent& {
      return layout.frame[static_cast<size_t>(index)];
    };
    if (dc && first) {
      ForEachBlock(scan, layout, planes, values.Data(), [&](int index, const CodedBlock& block) {
        coder.DcFirst(block, index, Slot(0, frame(index).dc_table), scan.al);
      });
    } else if (dc) {
      ForEachBlock(scan, layout, planes, values.Data(),
                   [&](int, const CodedBlock& block) { coder.DcRefine(block, scan.al); });
    } else if (first) {
      ForEachBlock(scan, layout, planes, values.Data(), [&](int index, const CodedBlock& block) {
        coder.AcFirst(block, Slot(1, frame(index).ac_table), band, scan.se, scan.al);
      });
    } else {
      ForEachBlock(scan, layout, planes, values.Data(), [&](int index, const CodedBlock& block) {
        coder.AcRefine(block, Slot(1, frame(index).ac_table), band, scan.se, scan.al);
      });
    }
    coder.Finish();

    // Tables fitted to this scan, each written once before it, then the
    // scan's header and its symbols.
    std::optional<HuffmanTable> fitted[kTableSlots];
    std::vector<uint8_t> header;
    for (int i = 0; i < scan.components; ++i) {
      const FrameComponent& c = layout.frame[static_cast<size_t>(scan.component[i])];
      const std::pair<int, int> wanted[2] = {{0, dc && first ? c.dc_table : -1},
                                             {1, scan.se != 0 ? c.ac_table : -1}};
      for (const auto& [table_class, id] : wanted) {
        if (id < 0 || fitted[Slot(table_class, id)]) continue;
        fitted[Slot(table_class, id)] = build(coder.Counts(Slot(table_class, id)));
        AppendTable(header, table_class, id, *fitted[Slot(table_class, id)]);
      }
    }
    const size_t length = 2 + 1 + 2 * static_cast<size_t>(scan.components) + 3;
    header.insert(header.end(), {0xFF, kSos, 0, static_cast<uint8_t>(length),
                                 static_cast<uint8_t>(scan.components)});
    for (int i = 0; i < scan.components; ++i) {
      const FrameComponent& c = layout.frame[static_cast<size_t>(scan.component[i])];
      const int td = dc && first ? c.dc_table : 0, ta = scan.se != 0 ? c.ac_table : 0;
      header.insert(header.end(), {static_cast<uint8_t>(c.id), static_cast<uint8_t>(td << 4 | ta)});
    }
    header.insert(header.end(), {static_cast<uint8_t>(scan.ss), static_cast<uint8_t>(scan.se),
                                 static_cast<uint8_t>(scan.ah << 4 | scan.al)});
    out.Append(header);
    out.PutSymbols(symbols.All(), CodesOf(fitted));
    out.Finish();
  }
  out.Append(jpeg.last(2));
}

}  // namespace savejpg
