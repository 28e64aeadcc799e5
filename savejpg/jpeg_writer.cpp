#include "jpeg_writer.h"

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <new>
#include <optional>

#include "huffman_recoder.h"
#include "savejpg.h"
#include "work_threads.h"

// libjpeg's own procedure for fitted Huffman tables: exported by every
// libjpeg since 6b, declared only in its internal jchuff.h.
extern "C" void jpeg_gen_optimal_table(j_compress_ptr cinfo, JHUFF_TBL* htbl, long freq[]);

namespace savejpg {
namespace {

constexpr size_t kOutputBuffer = 64 * 1024;
// What the recoding of any picture may keep, however few its coefficients:
// less than libjpeg and the program take in any case.
constexpr uint64_t kSmallestAllowance = 256 * 1024;

[[noreturn]] void ThrowOnError(j_common_ptr cinfo) {
  char message[JMSG_LENGTH_MAX] = {};
  (*cinfo->err->format_message)(cinfo, message);
  const int code = cinfo->err->msg_code;
  throw JpegFailure(code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE
                        ? SAVEJPG_ERR_OUT_OF_MEMORY
                        : SAVEJPG_ERR_ENCODER,
                    message);
}
void IgnoreMessage(j_common_ptr, int) {}
void IgnoreOutput(j_common_ptr) {}

// Destination manager handing libjpeg's output to a sink in large pieces.
struct Destination {
  jpeg_destination_mgr mgr;  // first, so a jpeg_destination_mgr* is a Destination*
  JpegSink* sink;
  std::vector<uint8_t> buffer;

  explicit Destination(JpegSink& to) : mgr{}, sink(&to), buffer(kOutputBuffer) {
    mgr.init_destination = Init;
    mgr.empty_output_buffer = Empty;
    mgr.term_destination = Term;
  }
  // Bytes libjpeg has written that the sink has not had yet.
  size_t Waiting() const { return buffer.size() - mgr.free_in_buffer; }

  static Destination& Of(j_compress_ptr cinfo) {
    return *reinterpret_cast<Destination*>(cinfo->dest);
  }
  static void Init(j_compress_ptr cinfo) {
    Destination& d = Of(cinfo);
    d.mgr.next_output_byte = d.buffer.data();
    d.mgr.free_in_buffer = d.buffer.size();
  }
  static boolean Empty(j_compress_ptr cinfo) {
    Destination& d = Of(cinfo);
    d.sink->Write(d.buffer.data(), d.buffer.size());  // libjpeg ignores free_in_buffer here
    Init(cinfo);
    return TRUE;
  }
  static void Term(j_compress_ptr cinfo) {
    Destination& d = Of(cinfo);
    d.sink->Write(d.buffer.data(), d.Waiting());
  }
};

class Compressor {
 public:
  Compressor() {
    cinfo.err = jpeg_std_error(&err_);
    err_.error_exit = ThrowOnError;
    err_.emit_message = IgnoreMessage;
    err_.output_message = IgnoreOutput;
    jpeg_create_compress(&cinfo);
  }
  ~Compressor() { jpeg_destroy_compress(&cinfo); }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  jpeg_compress_struct cinfo{};

 private:
  jpeg_error_mgr err_{};
};

J_COLOR_SPACE ColourSpace(RowFormat format) {
  switch (format) {
    case RowFormat::Grey:
      return JCS_GRAYSCALE;
    case RowFormat::Rgb:
      return JCS_EXT_RGB;
    case RowFormat::Bgr:
      return JCS_EXT_BGR;
    case RowFormat::Bgrx:
      return JCS_EXT_BGRX;
    case RowFormat::Rgbx:
      return JCS_EXT_RGBX;
  }
  return JCS_UNKNOWN;
}

// What libjpeg keeps of the picture for its fitted tables or progressive
// scans: the coefficients of every component, in whole MCUs.
uint64_t CoefficientBytes(const jpeg_compress_struct& cinfo) {
  const auto up = [](uint64_t a, uint64_t b) { return (a + b - 1) / b; };
  uint64_t h_max = 1, v_max = 1;
  for (int i = 0; i < cinfo.num_components; ++i) {
    h_max = std::max<uint64_t>(h_max, static_cast<uint64_t>(cinfo.comp_info[i].h_samp_factor));
    v_max = std::max<uint64_t>(v_max, static_cast<uint64_t>(cinfo.comp_info[i].v_samp_factor));
  }
  uint64_t bytes = 0;
  for (int i = 0; i < cinfo.num_components; ++i) {
    const auto h = static_cast<uint64_t>(cinfo.comp_info[i].h_samp_factor);
    const auto v = static_cast<uint64_t>(cinfo.comp_info[i].v_samp_factor);
    const uint64_t wide = up(up(up(cinfo.image_width * h, h_max), DCTSIZE), h) * h;
    const uint64_t high = up(up(up(cinfo.image_height * v, v_max), DCTSIZE), v) * v;
    bytes += wide * high * sizeof(JBLOCK);
  }
  return bytes;
}

HuffmanTable FittedTable(j_compress_ptr cinfo, std::array<int64_t, 257>& count) {
  long freq[257];
  for (size_t i = 0; i < count.size(); ++i)
    freq[i] = static_cast<long>(std::min<int64_t>(count[i], LONG_MAX));
  JHUFF_TBL table{};
  jpeg_gen_optimal_table(cinfo, &table, freq);
  HuffmanTable fitted;
  std::copy(std::begin(table.bits), std::end(table.bits), fitted.bits.begin());
  std::copy(std::begin(table.huffval), std::end(table.huffval), fitted.symbols.begin());
  return fitted;
}

void UseQuickToReadTables(jpeg_compress_struct& cinfo) {
  for (int table_class = 0; table_class < 2; ++table_class) {
    const HuffmanTable quick = QuickToReadTable(table_class);
    for (int id = 0; id < 2; ++id) {
      JHUFF_TBL*& table =
          table_class == 0 ? cinfo.dc_huff_tbl_ptrs[id] : cinfo.ac_huff_tbl_ptrs[id];
      if (table == nullptr) table = jpeg_alloc_huff_table(reinterpret_cast<j_common_ptr>(&cinfo));
      std::copy(quick.bits.begin(), quick.bits.end(), table->bits);
      std::copy(quick.symbols.begin(), quick.symbols.end(), table->huffval);
      table->sent_table = FALSE;
    }
  }
}

// libjpeg's own progression for pictures of `format`.
std::vector<ProgressiveScan> ProgressionOf(RowFormat format) {
  Compressor c;
  c.cinfo.input_components = static_cast<int>(BytesPerPixel(format));
  c.cinfo.in_color_space = ColourSpace(format);
  jpeg_set_defaults(&c.cinfo);
  jpeg_simple_progression(&c.cinfo);
  std::vector<ProgressiveScan> scans;
  for (int i = 0; i < c.cinfo.num_scans; ++i) {
    const jpeg_scan_info& info = c.cinfo.scan_info[i];
    ProgressiveScan scan;
    scan.components = info.comps_in_scan;
    std::copy(info.component_index, info.component_index + 4, scan.component);
    scan.ss = info.Ss;
    scan.se = info.Se;
    scan.ah = info.Ah;
    scan.al = info.Al;
    scans.push_back(scan);
  }
  return scans;
}

// Sets `cinfo` up for the picture: its size and colours, the quality and
// sampling, the density, and the most libjpeg may allocate.
void SetUp(jpeg_compress_struct& cinfo, uint32_t width, uint32_t height, RowFormat format,
           const JpegOptions& options) {
  if (options.memory_limit != 0) {
    // Past the limit libjpeg would need a backing store, which it does not
    // have: it stops with an error instead of allocating.
    cinfo.mem->max_memory_to_use =
        static_cast<long>(std::min<uint64_t>(options.memory_limit, LONG_MAX));
  }
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = static_cast<int>(BytesPerPixel(format));
  cinfo.in_color_space = ColourSpace(format);
  jpeg_set_defaults(&cinfo);
  cinfo.dct_method = JDCT_ISLOW;
  const int quality = std::clamp(options.quality, 1, 100);
  jpeg_set_quality(&cinfo, quality, TRUE);
  if (cinfo.num_components == 3) {
    // 4:2:0 below quality 90, full colour resolution from 90 on.
    const int luma = quality < 90 ? 2 : 1;
    cinfo.comp_info[0].h_samp_factor = luma;
    cinfo.comp_info[0].v_samp_factor = luma;
    for (int i = 1; i < 3; ++i) {
      cinfo.comp_info[i].h_samp_factor = 1;
      cinfo.comp_info[i].v_samp_factor = 1;
    }
  }
  if (options.x_dpi != 0 && options.y_dpi != 0) {
    cinfo.density_unit = 1;  // dots per inch
    cinfo.X_density = options.x_dpi;
    cinfo.Y_density = options.y_dpi;
  }
}

// Codes the picture's rows into the destination of `cinfo`, as set up, the
// profile before them; calls after_row(rows given so far) after each row.
template <typename AfterRow>
void CompressRows(jpeg_compress_struct& cinfo, const RowFunction& rows,
                  std::span<const uint8_t> icc_profile, AfterRow after_row) {
  jpeg_start_compress(&cinfo, TRUE);
  if (!icc_profile.empty())
    jpeg_write_icc_profile(&cinfo, icc_profile.data(),
                           static_cast<unsigned int>(icc_profile.size()));
  for (uint32_t y = 0; y < cinfo.image_height; ++y) {
    // libjpeg only reads input rows; its API just lacks const.
    JSAMPROW row = const_cast<JSAMPLE*>(rows(y));
    jpeg_write_scanlines(&cinfo, &row, 1);
    after_row(y + 1);
  }
  jpeg_finish_compress(&cinfo);
}

// libjpeg's own way: it keeps the coefficients of the whole picture and
// makes each scan twice, once to count its symbols for the fitted tables
// and once to write them.
void WriteWithLibjpegsTables(uint32_t width, uint32_t height, RowFormat format,
                             const RowFunction& rows, const JpegOptions& options, JpegSink& sink) {
  Compressor c;
  Destination dest(sink);
  c.cinfo.dest = &dest.mgr;
  SetUp(c.cinfo, width, height, format, options);
  c.cinfo.optimize_coding = TRUE;
  if (options.progressive) jpeg_simple_progression(&c.cinfo);
  CompressRows(c.cinfo, rows, options.icc_profile, [](uint32_t) {});
}

// Thrown while the picture is coded first when its recoding would keep
// more than libjpeg's own way.
struct RecodingTooLarge {};

// The bytes of the first coding of all the picture's bands and the rows
// coded so far, kept up to `limit` bytes: one more throws RecodingTooLarge.
struct FirstCodingSoFar {
  FirstCodingSoFar(uint64_t limit, uint64_t height) : limit(limit), height(height) {}
  const uint64_t limit, height;
  std::atomic<uint64_t> bytes{0}, rows{0};
};

// One band's first coding, kept in memory within the picture's limit.
class FirstCoding final : public JpegSink {
 public:
  FirstCoding(FirstCodingSoFar& so_far, uint64_t expected) : so_far_(so_far) {
    bytes.reserve(std::min(so_far.limit, expected));
  }
  void Write(const uint8_t* data, size_t size) override {
    const uint64_t before = so_far_.bytes.fetch_add(size);
    if (size > so_far_.limit || before > so_far_.limit - size) throw RecodingTooLarge{};
    if (size > bytes.capacity() - bytes.size())
      bytes.reserve(
          std::min<uint64_t>(so_far_.limit, std::max(bytes.capacity() * 2, bytes.size() + size)));
    bytes.insert(bytes.end(), data, data + size);
  }
  std::vector<uint8_t> bytes;

 private:
  FirstCodingSoFar& so_far_;
};

// The longest first coding that leaves room for its recoding within
// `allowance`, with the first coding's own room as large.
uint64_t LongestFirstCoding(uint64_t allowance, uint64_t blocks, bool progressive) {
  const auto fits = [&](uint64_t bytes) {
    const uint64_t recoding = RecodingMemory(bytes, blocks, progressive);
    return recoding <= allowance && bytes <= allowance - recoding;
  };
  uint64_t low = 0, high = allowance;
  if (!fits(low)) return 0;
  while (low < high) {
    const uint64_t middle = low + (high - low + 1) / 2;
    if (fits(middle))
      low = middle;
    else
      high = middle - 1;
  }
  return low;
}

// Rows of the picture coded as a JPEG of their own.
struct Band {
  uint32_t top = 0, rows = 0;
};

// Bands a thread gets: a few, so that a thread that finishes first takes
// those left.
constexpr uint64_t kBandsPerThread = 2;

// The bands the picture `cinfo` is set up for is cut into: whole rows of
// MCUs each (a band's own edge is then none of the picture's, so its blocks
// are the picture's), the last with the rest.
std::vector<Band> BandsOf(const jpeg_compress_struct& cinfo, const JpegOptions& options) {
  int v_max = 1;
  for (int i = 0; i < cinfo.num_components; ++i)
    v_max = std::max(v_max, cinfo.comp_info[i].v_samp_factor);
  const uint64_t mcu_height = 8 * static_cast<uint64_t>(v_max);
  const uint64_t mcu_rows = (uint64_t{cinfo.image_height} + mcu_height - 1) / mcu_height;
  const uint64_t pixels = uint64_t{cinfo.image_width} * cinfo.image_height;
  const uint64_t count =
      std::min<uint64_t>(uint64_t{options.threads} * kBandsPerThread,
                         mcu_rows / std::max<uint64_t>(options.least_mcu_rows_in_band, 1));
  if (options.threads <= 1 || pixels < options.least_pixels_to_cut || count <= 1)
    return {Band{0, cinfo.image_height}};
  std::vector<Band> bands;
  for (uint64_t k = 0; k < count; ++k) {
    const uint64_t top = k * mcu_rows / count * mcu_height;
    const uint64_t bottom =
        k + 1 == count ? cinfo.image_height : (k + 1) * mcu_rows / count * mcu_height;
    bands.push_back({static_cast<uint32_t>(top), static_cast<uint32_t>(bottom - top)});
  }
  return bands;
}

// Codes `band` of the picture as a baseline JPEG of its own with tables
// quick to read back; only the first band carries the profile. Throws
// RecodingTooLarge as soon as the bytes of all bands pass what leaves room
// for the recoding, or, once a sixteenth of the picture's rows is coded,
// the bytes so far, scaled to the whole picture, would.
std::vector<uint8_t> CodeBand(uint32_t width, RowFormat format, const RowFunction& rows,
                              const JpegOptions& options, const Band& band,
                              FirstCodingSoFar& so_far) {
  Compressor c;
  SetUp(c.cinfo, width, band.rows, format, options);
  const uint64_t pixels = uint64_t{width} * band.rows;
  // Address space for a photograph's first coding; the system gives the
  // pages as it is written.
  FirstCoding first(so_far, std::min<uint64_t>(pixels / 2, 64 << 20) + 4096);
  Destination dest(first);
  c.cinfo.dest = &dest.mgr;
  UseQuickToReadTables(c.cinfo);
  const RowFunction band_rows = [&](uint32_t y) { return rows(band.top + y); };
  CompressRows(c.cinfo, band_rows, band.top == 0 ? options.icc_profile : std::span<const uint8_t>(),
               [&](uint32_t) {
                 const uint64_t done = ++so_far.rows;
                 const uint64_t coded = so_far.bytes + dest.Waiting();
                 if (done * 16 >= so_far.height && coded * so_far.height > so_far.limit * done)
                   throw RecodingTooLarge{};
               });
  return std::move(first.bytes);
}

// Codes the picture once into memory, band by band side by side, as
// baseline with tables quick to read back. nullopt when the recoding with
// it would keep more than `allowance`.
std::optional<std::vector<std::vector<uint8_t>>> CodeFirst(const jpeg_compress_struct& picture,
                                                           RowFormat format,
                                                           const RowFunctionMaker& rows,
                                                           const JpegOptions& options,
                                                           uint64_t allowance) {
  const uint64_t blocks = CoefficientBytes(picture) / sizeof(JBLOCK);
  FirstCodingSoFar so_far(LongestFirstCoding(allowance, blocks, options.progressive),
                          picture.image_height);
  const std::vector<Band> bands = BandsOf(picture, options);
  std::vector<std::vector<uint8_t>> codings(bands.size());
  try {
    RunJobs(options.threads, bands.size(), [&](size_t k) {
      codings[k] = CodeBand(picture.image_width, format, rows(), options, bands[k], so_far);
    });
  } catch (const RecodingTooLarge&) {
    return std::nullopt;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  return codings;
}

// Passes bytes on to a sink, counting them.
class CountingSink final : public JpegSink {
 public:
  explicit CountingSink(JpegSink& sink) : sink_(sink) {}
  void Write(const uint8_t* data, size_t size) override {
    written_ += size;
    sink_.Write(data, size);
  }
  uint64_t Written() const { return written_; }

 private:
  JpegSink& sink_;
  uint64_t written_ = 0;
};

// The picture coded first with tables quick to read back, then again with
// tables fitted to its symbols, baseline or progressive (huffman_recoder.h),
// keeping no more than `allowance`. False, with nothing written, when that
// would take more.
bool WriteRecoded(uint32_t width, uint32_t height, RowFormat format, const RowFunctionMaker& rows,
                  const JpegOptions& options, uint64_t allowance, JpegSink& sink) {
  Compressor c;
  SetUp(c.cinfo, width, height, format, options);
  std::optional<std::vector<std::vector<uint8_t>>> first =
      CodeFirst(c.cinfo, format, rows, options, allowance);
  if (!first) return false;
  const TableBuilder fit = [&c](std::array<int64_t, 257>& count) {
    return FittedTable(&c.cinfo, count);
  };
  CountingSink counted(sink);
  uint64_t held = 0;
  for (const std::vector<uint8_t>& band : *first) held += band.capacity();
  const uint64_t left = allowance - std::min<uint64_t>(allowance, held);
  // A picture too small to be cut is recoded on one thread too.
  const unsigned threads = first->size() > 1 ? options.threads : 1;
  try {
    if (options.progressive) {
      RecodeAsProgressive(std::move(*first), ProgressionOf(format), fit, counted, left, threads);
    } else {
      const std::vector<std::span<const uint8_t>> bands(first->begin(), first->end());
      RecodeWithFittedTables(bands, fit, counted, left, threads);
    }
  } catch (const JpegFailure& failure) {
    if (failure.code() != SAVEJPG_ERR_OUT_OF_MEMORY || counted.Written() != 0) throw;
    return false;
  } catch (const std::bad_alloc&) {
    if (counted.Written() != 0) throw;
    return false;
  }
  return true;
}

}  // namespace

uint16_t DotsPerInch(int32_t pixels_per_metre) {
  if (pixels_per_metre <= 0) return 0;
  // 1 inch = 0.0254 m; rounded to nearest in integers.
  const int64_t dpi = (int64_t{pixels_per_metre} * 254 + 5000) / 10000;
  return dpi > 65535 ? 0 : static_cast<uint16_t>(dpi);
}

uint64_t CoefficientBytes(uint32_t width, uint32_t height, RowFormat format, int quality) {
  Compressor c;
  JpegOptions options;
  options.quality = quality;
  SetUp(c.cinfo, width, height, format, options);
  return CoefficientBytes(c.cinfo);
}

void WriteJpeg(uint32_t width, uint32_t height, RowFormat format, const RowFunctionMaker& rows,
               const JpegOptions& options, JpegSink& sink) {
  // Either way keeps at most the whole picture's coefficients (and a few
  // rows); a picture whose coefficients need more than the limit is refused
  // before a row is read.
  const uint64_t coefficients = CoefficientBytes(width, height, format, options.quality);
  if (options.memory_limit != 0 && coefficients > options.memory_limit)
    throw JpegFailure(SAVEJPG_ERR_OUT_OF_MEMORY, "the picture needs more memory than allowed");
  const uint64_t allowance = options.recoding_limit != 0
                                 ? options.recoding_limit
                                 : std::max(coefficients, kSmallestAllowance);
  JpegOptions clamped = options;
  clamped.threads = std::clamp(options.threads, 1u, kMostThreads);
  if (!options.libjpeg_fits_tables &&
      WriteRecoded(width, height, format, rows, clamped, allowance, sink))
    return;
  WriteWithLibjpegsTables(width, height, format, rows(), options, sink);
}

void WriteJpeg(uint32_t width, uint32_t height, RowFormat format, const RowFunction& rows,
               const JpegOptions& options, JpegSink& sink) {
  JpegOptions one_thread = options;
  one_thread.threads = 1;
  WriteJpeg(width, height, format, RowFunctionMaker([&rows] { return rows; }), one_thread, sink);
}

}  // namespace savejpg
