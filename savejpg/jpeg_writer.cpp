#include "jpeg_writer.h"

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <climits>
#include <cstdio>

#include "huffman_recoder.h"
#include "savejpg.h"

// libjpeg's own procedure for fitted Huffman tables: exported by every
// libjpeg since 6b, declared only in its internal jchuff.h.
extern "C" void jpeg_gen_optimal_table(j_compress_ptr cinfo, JHUFF_TBL* htbl, long freq[]);

namespace savejpg {
namespace {

constexpr size_t kOutputBuffer = 64 * 1024;

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

// Destination manager collecting output in one big buffer for the sink.
struct Destination {
  jpeg_destination_mgr mgr;  // first, so a jpeg_destination_mgr* is a Destination*
  JpegSink* sink;
  std::vector<uint8_t> buffer;

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
    d.sink->Write(d.buffer.data(), d.buffer.size() - d.mgr.free_in_buffer);
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

// What libjpeg's fitted tables would keep of the picture: the coefficients of
// every component, in whole MCUs.
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

}  // namespace

uint16_t DotsPerInch(int32_t pixels_per_metre) {
  if (pixels_per_metre <= 0) return 0;
  // 1 inch = 0.0254 m; rounded to nearest in integers.
  const int64_t dpi = (int64_t{pixels_per_metre} * 254 + 5000) / 10000;
  return dpi > 65535 ? 0 : static_cast<uint16_t>(dpi);
}

void WriteJpeg(uint32_t width, uint32_t height, RowFormat format, const RowFunction& rows,
               const JpegOptions& options, JpegSink& sink) {
  Compressor c;
  jpeg_compress_struct& cinfo = c.cinfo;

  Destination dest{};
  dest.sink = &sink;
  dest.buffer.resize(kOutputBuffer);
  dest.mgr.init_destination = Destination::Init;
  dest.mgr.empty_output_buffer = Destination::Empty;
  dest.mgr.term_destination = Destination::Term;
  cinfo.dest = &dest.mgr;
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
  // Pictures are coded first as baseline with tables quick to read back,
  // then again, as baseline or progressive, with tables fitted to their
  // symbols (huffman_recoder.h).
  const bool recode = !options.libjpeg_fits_tables;
  MemorySink first_coding;
  if (recode) {
    // libjpeg would refuse a picture whose coefficients need more than the
    // limit before reading a row; so does this way, which keeps only those
    // that are not 0.
    if (options.memory_limit != 0 && CoefficientBytes(cinfo) > options.memory_limit)
      throw JpegFailure(SAVEJPG_ERR_OUT_OF_MEMORY, "the picture needs more memory than allowed");
    // Address space for the first coding; the system gives the pages as it
    // is written.
    first_coding.bytes.reserve(std::min<uint64_t>(uint64_t{width} * height / 2, 64 << 20) + 4096);
    dest.sink = &first_coding;
    UseQuickToReadTables(cinfo);
  }
  cinfo.optimize_coding = recode ? FALSE : TRUE;
  if (options.progressive && !recode) jpeg_simple_progression(&cinfo);
  if (options.x_dpi != 0 && options.y_dpi != 0) {
    cinfo.density_unit = 1;  // dots per inch
    cinfo.X_density = options.x_dpi;
    cinfo.Y_density = options.y_dpi;
  }

  jpeg_start_compress(&cinfo, TRUE);
  if (!options.icc_profile.empty())
    jpeg_write_icc_profile(&cinfo, options.icc_profile.data(),
                           static_cast<unsigned int>(options.icc_profile.size()));
  for (uint32_t y = 0; y < height; ++y) {
    // libjpeg only reads input rows; its API just lacks const.
    JSAMPROW row = const_cast<JSAMPLE*>(rows(y));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  if (recode) {
    const TableBuilder fit = [&cinfo](std::array<int64_t, 257>& count) {
      return FittedTable(&cinfo, count);
    };
    if (options.progressive)
      RecodeAsProgressive(first_coding.bytes, ProgressionOf(format), fit, sink);
    else
      RecodeWithFittedTables(first_coding.bytes, fit, sink);
  }
}

}  // namespace savejpg
