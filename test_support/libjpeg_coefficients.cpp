#include "test_support/libjpeg_coefficients.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <stdexcept>

// libjpeg's header needs size_t and FILE declared first.
// clang-format off
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
// clang-format on

// Exported by every libjpeg since 6b, declared only in its internal headers.
extern "C" void jpeg_gen_optimal_table(j_compress_ptr cinfo, JHUFF_TBL* htbl, long freq[]);
extern "C" const int jpeg_natural_order[];

namespace morvane::test_support {
namespace {

[[noreturn]] void ThrowMessage(j_common_ptr cinfo) {
  char message[JMSG_LENGTH_MAX] = {};
  (*cinfo->err->format_message)(cinfo, message);
  throw std::runtime_error(message);
}

struct Compressor {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  Compressor() {
    c.err = jpeg_std_error(&err);
    err.error_exit = ThrowMessage;
    err.emit_message = [](j_common_ptr, int) {};
    err.output_message = [](j_common_ptr) {};
    jpeg_create_compress(&c);
  }
  ~Compressor() { jpeg_destroy_compress(&c); }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;
};

uint32_t DivideUp(uint64_t a, uint64_t b) { return static_cast<uint32_t>((a + b - 1) / b); }

// Grey for one component, YCbCr for three, CMYK for four.
void SetColourSpace(jpeg_compress_struct& c, size_t components) {
  c.input_components = static_cast<int>(components);
  c.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&c);
}

void CopyTable(const savejpg::HuffmanTable& from, JHUFF_TBL& to) {
  std::copy(from.bits.begin(), from.bits.end(), to.bits);
  std::copy(from.symbols.begin(), from.symbols.end(), to.huffval);
  to.sent_table = FALSE;
}

// Every table number 0-3 of both classes: the quick ones, or the standard
// ones (tables 2 and 3 as copies of 0 and 1).
void SetTables(jpeg_compress_struct& c, LibjpegCoding coding) {
  for (int table_class = 0; table_class < 2; ++table_class) {
    JHUFF_TBL** tables = table_class == 0 ? c.dc_huff_tbl_ptrs : c.ac_huff_tbl_ptrs;
    for (int id = 0; id < 4; ++id) {
      if (tables[id] == nullptr)
        tables[id] = jpeg_alloc_huff_table(reinterpret_cast<j_common_ptr>(&c));
      if (coding == LibjpegCoding::kQuickTables) {
        CopyTable(savejpg::QuickToReadTable(table_class), *tables[id]);
      } else if (id >= 2) {
        *tables[id] = *tables[id - 2];
      }
    }
  }
}

jpeg_scan_info ToScanInfo(const savejpg::ProgressiveScan& scan) {
  jpeg_scan_info info{scan.components, {}, scan.ss, scan.se, scan.ah, scan.al};
  std::copy_n(scan.component, 4, info.component_index);
  return info;
}

savejpg::ProgressiveScan FromScanInfo(const jpeg_scan_info& info) {
  savejpg::ProgressiveScan scan{info.comps_in_scan, {}, info.Ss, info.Se, info.Ah, info.Al};
  std::copy_n(info.component_index, 4, scan.component);
  return scan;
}

void FillCoefficients(jpeg_compress_struct& c, const CoefficientPicture& picture,
                      const std::vector<jvirt_barray_ptr>& arrays) {
  for (size_t ci = 0; ci < picture.components.size(); ++ci) {
    const CoefficientPicture::Component& component = picture.components[ci];
    for (uint32_t y = 0; y < component.blocks_high; ++y) {
      JBLOCKARRAY row =
          c.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&c), arrays[ci], y, 1, TRUE);
      for (uint32_t x = 0; x < component.blocks_wide; ++x) {
        const std::array<int16_t, 64>& block =
            component.blocks[size_t{y} * component.blocks_wide + x];
        for (int k = 0; k < 64; ++k)
          row[0][x][jpeg_natural_order[k]] = block[static_cast<size_t>(k)];
      }
    }
  }
}

savejpg::ProgressiveScan Scan(int component, int ss, int se, int ah, int al) {
  savejpg::ProgressiveScan scan;
  scan.component[0] = component;
  scan.ss = ss;
  scan.se = se;
  scan.ah = ah;
  scan.al = al;
  return scan;
}

// A magnitude of exactly `bits` bits (1 to 10), with a random sign.
int16_t Coefficient(int bits, const Choose& choose) {
  const uint32_t low = 1u << (bits - 1);
  const auto magnitude = static_cast<int16_t>(low + choose(low));
  return choose(2) == 0 ? magnitude : static_cast<int16_t>(-magnitude);
}

// One block of the kind `kind` (see FillRandomly).
void FillBlock(std::array<int16_t, 64>& block, uint32_t kind, const Choose& choose) {
  block.fill(0);
  block[0] = static_cast<int16_t>(static_cast<int>(choose(2048)) - 1024);
  switch (kind) {
    case 0:  // empty
      break;
    case 1:  // one coefficient
      block[1 + choose(63)] = Coefficient(1 + static_cast<int>(choose(10)), choose);
      break;
    case 2:  // sparse
      for (size_t k = 1; k < 64; ++k)
        if (choose(8) == 0) block[k] = Coefficient(1 + static_cast<int>(choose(10)), choose);
      break;
    case 3:  // dense, small
      for (size_t k = 1; k < 64; ++k)
        block[k] = Coefficient(1 + static_cast<int>(choose(2)), choose);
      break;
    case 4:  // dense, any size
      for (size_t k = 1; k < 64; ++k)
        block[k] = Coefficient(1 + static_cast<int>(choose(10)), choose);
      break;
    default:  // magnitudes of 2 and more from some place on
      for (size_t k = 1 + choose(63); k < 64; ++k)
        block[k] = Coefficient(2 + static_cast<int>(choose(9)), choose);
      break;
  }
}

}  // namespace

void FillRandomly(CoefficientPicture& picture, const Choose& choose) {
  static constexpr uint32_t kRunLengths[] = {1, 3, 17, 300, 40000};
  for (CoefficientPicture::Component& component : picture.components) {
    uint32_t kind = 0, left = 0;
    for (std::array<int16_t, 64>& block : component.blocks) {
      if (left == 0) {
        kind = choose(6);
        left = 1 + choose(kRunLengths[choose(5)]);
      }
      --left;
      FillBlock(block, kind, choose);
    }
  }
}

std::vector<savejpg::ProgressiveScan> RandomScript(int components, const Choose& choose) {
  std::vector<savejpg::ProgressiveScan> script;
  // The scans after the first ones, in order for each component (AC) and
  // for the DC refinements (the last list).
  std::vector<std::vector<savejpg::ProgressiveScan>> later(static_cast<size_t>(components) + 1);
  const bool together = choose(2) == 0;
  const int dc_al = static_cast<int>(choose(4));
  const int dc_last = static_cast<int>(choose(static_cast<uint32_t>(dc_al) + 1));
  for (int al = dc_al; al >= dc_last; --al) {
    for (int c = 0; c < components; ++c) {
      const int ah = al == dc_al ? 0 : al + 1;
      std::vector<savejpg::ProgressiveScan>& into = al == dc_al ? script : later.back();
      if (together && c > 0) {
        into.back().component[into.back().components++] = c;
      } else {
        into.push_back(Scan(c, 0, 0, ah, al));
      }
    }
  }
  for (int c = 0; c < components; ++c) {
    for (int ss = 1; ss <= 63;) {
      const int se = ss + static_cast<int>(choose(static_cast<uint32_t>(64 - ss)));
      const int first_al = static_cast<int>(choose(3));
      const int last_al = static_cast<int>(choose(static_cast<uint32_t>(first_al) + 1));
      if (choose(8) != 0) {
        for (int al = first_al; al >= last_al; --al)
          later[static_cast<size_t>(c)].push_back(Scan(c, ss, se, al == first_al ? 0 : al + 1, al));
      }
      ss = se + 1;
    }
  }
  for (;;) {
    std::vector<size_t> waiting;
    for (size_t i = 0; i < later.size(); ++i)
      if (!later[i].empty()) waiting.push_back(i);
    if (waiting.empty()) return script;
    std::vector<savejpg::ProgressiveScan>& from =
        later[waiting[choose(static_cast<uint32_t>(waiting.size()))]];
    script.push_back(from.front());
    from.erase(from.begin());
  }
}

void CoefficientPicture::SizeBlocks() {
  int max_h = 1, max_v = 1;
  for (const Component& c : components) {
    max_h = std::max(max_h, c.h);
    max_v = std::max(max_v, c.v);
  }
  for (Component& c : components) {
    c.blocks_wide =
        DivideUp(uint64_t{width} * static_cast<uint64_t>(c.h), 8u * static_cast<unsigned>(max_h));
    c.blocks_high =
        DivideUp(uint64_t{height} * static_cast<uint64_t>(c.v), 8u * static_cast<unsigned>(max_v));
    c.blocks.assign(size_t{c.blocks_wide} * c.blocks_high, {});
  }
}

std::vector<uint8_t> WriteWithLibjpeg(const CoefficientPicture& picture, LibjpegCoding coding,
                                      std::span<const savejpg::ProgressiveScan> script) {
  // libjpeg's output buffer, freed after the compressor is gone.
  struct Buffer {
    unsigned char* bytes = nullptr;
    unsigned long size = 0;
    ~Buffer() { std::free(bytes); }
  } buffer;
  Compressor compressor;
  jpeg_compress_struct& c = compressor.c;
  jpeg_mem_dest(&c, &buffer.bytes, &buffer.size);
  c.image_width = picture.width;
  c.image_height = picture.height;
  SetColourSpace(c, picture.components.size());
  for (size_t ci = 0; ci < picture.components.size(); ++ci) {
    const CoefficientPicture::Component& from = picture.components[ci];
    jpeg_component_info& to = c.comp_info[ci];
    to.h_samp_factor = from.h;
    to.v_samp_factor = from.v;
    to.dc_tbl_no = from.dc_table;
    to.ac_tbl_no = from.ac_table;
  }
  SetTables(c, coding);
  c.optimize_coding = coding == LibjpegCoding::kFittedTables ? TRUE : FALSE;
  std::vector<jpeg_scan_info> scans(script.size());
  std::transform(script.begin(), script.end(), scans.begin(), ToScanInfo);
  if (coding == LibjpegCoding::kProgressive) {
    c.scan_info = scans.data();
    c.num_scans = static_cast<int>(scans.size());
  }
  std::vector<jvirt_barray_ptr> arrays;
  for (const CoefficientPicture::Component& component : picture.components) {
    const auto up = [](uint32_t n, int factor) {
      return DivideUp(n, static_cast<unsigned>(factor)) * static_cast<uint32_t>(factor);
    };
    arrays.push_back(c.mem->request_virt_barray(reinterpret_cast<j_common_ptr>(&c), JPOOL_IMAGE,
                                                TRUE, up(component.blocks_wide, component.h),
                                                up(component.blocks_high, component.v),
                                                static_cast<JDIMENSION>(component.v)));
  }
  jpeg_write_coefficients(&c, arrays.data());
  FillCoefficients(c, picture, arrays);
  jpeg_finish_compress(&c);
  return std::vector<uint8_t>(buffer.bytes, buffer.bytes + buffer.size);
}

std::vector<savejpg::ProgressiveScan> LibjpegSimpleProgression(int components) {
  Compressor compressor;
  SetColourSpace(compressor.c, static_cast<size_t>(components));
  jpeg_simple_progression(&compressor.c);
  const std::span<const jpeg_scan_info> scans(compressor.c.scan_info,
                                              static_cast<size_t>(compressor.c.num_scans));
  std::vector<savejpg::ProgressiveScan> script(scans.size());
  std::transform(scans.begin(), scans.end(), script.begin(), FromScanInfo);
  return script;
}

savejpg::HuffmanTable LibjpegFittedTable(std::array<int64_t, 257>& count) {
  std::array<long, 257> freq{};
  std::transform(count.begin(), count.end(), freq.begin(),
                 [](int64_t n) { return static_cast<long>(std::min<int64_t>(n, LONG_MAX)); });
  JHUFF_TBL table{};
  Compressor compressor;
  jpeg_gen_optimal_table(&compressor.c, &table, freq.data());
  savejpg::HuffmanTable fitted;
  std::copy_n(table.bits, fitted.bits.size(), fitted.bits.begin());
  std::copy_n(table.huffval, fitted.symbols.size(), fitted.symbols.begin());
  return fitted;
}

}  // namespace morvane::test_support
