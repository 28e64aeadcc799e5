// SavetoJPEG end to end: bitmaps written as JPEG files and read back with
// libjpeg, the JPEG settings that follow from the bitmap and the arguments,
// and the file handling around the conversion.
#include "savejpg.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bmp_reader.h"
#include "jpeg_file.h"
#include "jpeg_writer.h"
#include "source_file.h"
#include "system_memory.h"
#include "temp_output.h"
#include "test_support/bitmap.h"
#include "test_support/files.h"
#include "test_support/jpeg.h"

namespace savejpg_test {
namespace {

namespace fs = std::filesystem;
using namespace morvane::test_support;

constexpr int W = 61, H = 47;  // not a multiple of the 16-pixel MCU

// Converts `bmp` (written to in.bmp) to out.jpg; returns the result value.
int16_t Convert(const TempFolder& dir, const std::vector<uint8_t>& bmp, int quality,
                int16_t progressive, const std::string& out_name = "out.jpg") {
  WriteFile(dir / "in.bmp", bmp);
  std::string src = (dir / "in.bmp").string(), dst = (dir / out_name).string();
  return SavetoJPEG(src.data(), dst.data(), static_cast<uint8_t>(quality), progressive);
}

DecodedJpeg ConvertAndRead(const std::vector<uint8_t>& bmp, int quality = 95,
                           int16_t progressive = 0) {
  TempFolder dir;
  const int16_t r = Convert(dir, bmp, quality, progressive);
  if (r != SAVEJPG_OK) throw std::runtime_error("SavetoJPEG returned " + std::to_string(r));
  return DecodeJpeg(ReadFile(dir / "out.jpg"));
}

BmpFields Smooth24() {
  BmpFields s;
  s.width = W;
  s.height = H;
  s.pixels = StoreRows(W, H, 24, false, [](int x, int y) { return Packed(Smooth(x, y)); });
  return s;
}

struct Kind {
  const char* name;
  std::function<BmpFields()> bitmap;
  std::function<Colour(int, int)> expected;
  int components;
};

// A smooth 64-entry palette so palette images stay smooth too.
Colour PaletteColour(uint32_t i) {
  return {uint8_t(i * 4), uint8_t(255 - i * 3), uint8_t(100 + i)};
}
uint32_t PaletteIndex(int x, int y) { return uint32_t(x + y) / 2 % 64; }
BmpFields Palette(int bpp, uint32_t compression = 0, int w = W, int h = H) {
  BmpFields s;
  s.width = w;
  s.height = h;
  s.bit_count = static_cast<uint16_t>(bpp);
  s.compression = compression;
  for (uint32_t i = 0; i < 64; ++i) s.palette.push_back(PaletteColour(i));
  s.colors_used = 64;
  s.pixels = StoreRows(w, h, 8, false, [](int x, int y) { return PaletteIndex(x, y); });
  return s;
}
// The same indexes as RLE8: a run per two equal pixels, odd leftovers absolute.
BmpFields PaletteRle8(int w = W, int h = H) {
  BmpFields s = Palette(8, 1, w, h);
  s.pixels.clear();
  for (int row = 0; row < h; ++row) {
    const int y = h - 1 - row;
    int x = 0;
    s.pixels.insert(s.pixels.end(), {0, 3});  // absolute run of 3, padded
    for (; x < 3; ++x) s.pixels.push_back(uint8_t(PaletteIndex(x, y)));
    s.pixels.push_back(0);
    while (x < w) {
      int n = 1;
      while (x + n < w && PaletteIndex(x + n, y) == PaletteIndex(x, y)) ++n;
      s.pixels.insert(s.pixels.end(), {uint8_t(n), uint8_t(PaletteIndex(x, y))});
      x += n;
    }
    s.pixels.insert(s.pixels.end(), {0, 0});
  }
  s.pixels.insert(s.pixels.end(), {0, 1});
  return s;
}

// clang-format off
const Kind kKinds[] = {
    {"24-bit", Smooth24, Smooth, 3},
    {"24-bit top-down", [] { BmpFields s = Smooth24(); s.height = -H;
       s.pixels = StoreRows(W, H, 24, true, [](int x, int y) { return Packed(Smooth(x, y)); }); return s; }, Smooth, 3},
    {"32-bit", [] { BmpFields s = Smooth24(); s.bit_count = 32;
       s.pixels = StoreRows(W, H, 32, false, [](int x, int y) { return Packed(Smooth(x, y)); }); return s; }, Smooth, 3},
    {"32-bit bitfields RGBX", [] { BmpFields s = Smooth24(); s.bit_count = 32; s.compression = 3;
       s.masks = {0xFF, 0xFF00, 0xFF0000};
       s.pixels = StoreRows(W, H, 32, false, [](int x, int y) { const Colour c = Smooth(x, y); return c.r | c.g << 8 | c.b << 16; });
       return s; }, Smooth, 3},
    {"16-bit 5-6-5", [] { BmpFields s = Smooth24(); s.bit_count = 16; s.compression = 3; s.masks = {0xF800, 0x7E0, 0x1F};
       s.pixels = StoreRows(W, H, 16, false, [](int x, int y) { const Colour c = Smooth(x, y);
         return uint32_t(c.r >> 3 << 11 | c.g >> 2 << 5 | c.b >> 3); }); return s; }, Smooth, 3},
    {"16-bit 5-5-5", [] { BmpFields s = Smooth24(); s.bit_count = 16;
       s.pixels = StoreRows(W, H, 16, false, [](int x, int y) { const Colour c = Smooth(x, y);
         return uint32_t(c.r >> 3 << 10 | c.g >> 3 << 5 | c.b >> 3); }); return s; }, Smooth, 3},
    {"8-bit palette", [] { return Palette(8); }, [](int x, int y) { return PaletteColour(PaletteIndex(x, y)); }, 3},
    {"RLE8", [] { return PaletteRle8(); }, [](int x, int y) { return PaletteColour(PaletteIndex(x, y)); }, 3},
    {"4-bit grey palette", [] { BmpFields s = Palette(4); s.palette.resize(16); s.colors_used = 0;
       for (int i = 0; i < 16; ++i) s.palette[i] = {uint8_t(i * 17), uint8_t(i * 17), uint8_t(i * 17)};
       s.pixels = StoreRows(W, H, 4, false, [](int x, int y) { return uint32_t(x + y) / 8 % 16; }); return s; },
     [](int x, int y) { const uint8_t v = uint8_t(uint32_t(x + y) / 8 % 16 * 17); return Colour{v, v, v}; }, 1},
};
// clang-format on

TEST(SaveJpg, EveryKindOfBitmapComesBackCloseToItsPixels) {
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.name);
    const DecodedJpeg jpeg = ConvertAndRead(BuildBmp(k.bitmap()));
    ASSERT_EQ(jpeg.width, W);
    ASSERT_EQ(jpeg.height, H);
    EXPECT_EQ(jpeg.components, k.components);
    EXPECT_GT(Psnr(jpeg, W, H, k.expected), 30.0);
    // Upside down would be far off.
    EXPECT_LT(Psnr(jpeg, W, H, [&](int x, int y) { return k.expected(x, H - 1 - y); }), 25.0);
  }
}

TEST(SaveJpg, RleAndTopDownGiveTheSameJpegAsTheirPlainTwins) {
  TempFolder dir;
  ASSERT_EQ(Convert(dir, BuildBmp(Palette(8)), 80, 0, "plain.jpg"), SAVEJPG_OK);
  ASSERT_EQ(Convert(dir, BuildBmp(PaletteRle8()), 80, 0, "rle.jpg"), SAVEJPG_OK);
  EXPECT_EQ(ReadFile(dir / "plain.jpg"), ReadFile(dir / "rle.jpg"));
  ASSERT_EQ(Convert(dir, BuildBmp(kKinds[0].bitmap()), 80, -1, "up.jpg"), SAVEJPG_OK);
  ASSERT_EQ(Convert(dir, BuildBmp(kKinds[1].bitmap()), 80, -1, "down.jpg"), SAVEJPG_OK);
  EXPECT_EQ(ReadFile(dir / "up.jpg"), ReadFile(dir / "down.jpg"));
}

TEST(SaveJpg, OddWidthRle8CodedWithItsRowPaddingConverts) {
  // As ImageMagick writes a 5 x 2 palette image: each row coded as its 8
  // stored bytes, 3 of them padding.
  BmpFields s;
  s.width = 5;
  s.height = 2;
  s.bit_count = 8;
  s.compression = 1;                                    // RLE8
  s.palette = {{255, 0, 0}, {0, 128, 0}, {0, 0, 255}};  // red, green, blue
  s.palette.resize(256);                                // the rest black
  s.colors_used = 256;
  s.pixels = {2, 1, 2, 0, 1, 2, 3, 0,        // bottom: G G R R B, 3 pad
              0, 0,                          // end of line
              1, 0, 2, 2, 1, 0, 1, 1, 3, 0,  // top: R B B R G, 3 pad
              0, 0, 0, 1};                   // end of line, end of bitmap
  const Colour r{255, 0, 0}, g{0, 128, 0}, b{0, 0, 255};
  const Colour expected[2][5] = {{r, b, b, r, g}, {g, g, r, r, b}};
  const DecodedJpeg jpeg = ConvertAndRead(BuildBmp(s), 100);
  ASSERT_EQ(std::pair(jpeg.width, jpeg.height), std::pair(5, 2));
  EXPECT_GT(Psnr(jpeg, 5, 2, [&](int x, int y) { return expected[y][x]; }), 30.0);
}

TEST(SaveJpg, QualityChoosesSubsamplingAndIsClamped) {
  const auto bmp = BuildBmp(Smooth24());
  const DecodedJpeg q89 = ConvertAndRead(bmp, 89);
  EXPECT_EQ(q89.h_samp, 2);  // 4:2:0
  EXPECT_EQ(q89.v_samp, 2);
  const DecodedJpeg q90 = ConvertAndRead(bmp, 90);
  EXPECT_EQ(q90.h_samp, 1);  // 4:4:4
  EXPECT_EQ(q90.v_samp, 1);

  TempFolder dir;
  for (auto [given, same] : {std::pair{0, 1}, std::pair{101, 100}, std::pair{255, 100}}) {
    ASSERT_EQ(Convert(dir, bmp, given, 0, "given.jpg"), SAVEJPG_OK);
    ASSERT_EQ(Convert(dir, bmp, same, 0, "same.jpg"), SAVEJPG_OK);
    EXPECT_EQ(ReadFile(dir / "given.jpg"), ReadFile(dir / "same.jpg")) << "quality " << given;
  }
  ASSERT_EQ(Convert(dir, bmp, 2, 0, "two.jpg"), SAVEJPG_OK);
  EXPECT_NE(ReadFile(dir / "two.jpg"), ReadFile(dir / "given.jpg"));
  EXPECT_GT(Psnr(DecodeJpeg(ReadFile(dir / "same.jpg")), W, H, Smooth), 45.0);
}

TEST(SaveJpg, ProgressiveFlagDensityAndProfileReachTheJpeg) {
  const auto bmp = BuildBmp(Smooth24());
  EXPECT_FALSE(ConvertAndRead(bmp, 85, 0).progressive);
  EXPECT_TRUE(ConvertAndRead(bmp, 85, -1).progressive);
  EXPECT_TRUE(ConvertAndRead(bmp, 85, 1).progressive);

  struct Density {
    int32_t x_ppm, y_ppm;
    int unit, x, y;
  };
  for (const Density d : {Density{3780, 3780, 1, 96, 96}, Density{11811, 3780, 1, 300, 96},
                          Density{0, 0, 0, 1, 1}, Density{-5, 3780, 0, 1, 1}}) {
    BmpFields s = Smooth24();
    s.x_ppm = d.x_ppm;
    s.y_ppm = d.y_ppm;
    const DecodedJpeg j = ConvertAndRead(BuildBmp(s));
    EXPECT_EQ(std::tuple(j.density_unit, j.x_density, j.y_density), std::tuple(d.unit, d.x, d.y))
        << d.x_ppm;
  }

  BmpFields v5 = Smooth24();
  v5.info_size = 124;
  for (size_t i = 0; i < 70000; ++i)
    v5.profile.push_back(uint8_t(i * 7 + i / 256));  // needs two APP2 markers
  const DecodedJpeg with_profile = ConvertAndRead(BuildBmp(v5), 85, -1);
  EXPECT_EQ(with_profile.icc, v5.profile);
  EXPECT_GT(Psnr(with_profile, W, H, Smooth), 30.0);
  EXPECT_TRUE(ConvertAndRead(BuildBmp(Smooth24())).icc.empty());
}

TEST(SaveJpg, ReplacesAnExistingJpegButNeverTheSource) {
  TempFolder dir;
  const auto bmp = BuildBmp(Smooth24());
  WriteFile(dir / "out.jpg", {1, 2, 3});
  ASSERT_EQ(Convert(dir, bmp, 85, 0), SAVEJPG_OK);
  EXPECT_EQ(DecodeJpeg(ReadFile(dir / "out.jpg")).width, W);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.bmp", "out.jpg"}));

  std::string src = (dir / "in.bmp").string();
  std::string same = src, dotted = (dir / "." / "in.bmp").string(),
              link = (dir / "link.bmp").string();
  fs::create_hard_link(src, link);
  for (std::string* dest : {&same, &dotted, &link}) {
    EXPECT_EQ(SavetoJPEG(src.data(), dest->data(), 85, 0), SAVEJPG_ERR_SAME_FILE) << *dest;
    EXPECT_EQ(ReadFile(src), bmp);
  }
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.bmp", "link.bmp", "out.jpg"}));
}

TEST(SaveJpg, BadArgumentsAndUnusablePathsLeaveNothingBehind) {
  TempFolder dir;
  WriteFile(dir / "in.bmp", BuildBmp(Smooth24()));
  std::string src = (dir / "in.bmp").string(), dst = (dir / "out.jpg").string(), empty;
  std::string missing = (dir / "missing.bmp").string(), folder = dir.path().string();
  std::string no_folder = (dir / "no" / "out.jpg").string(), into_folder = (dir / "sub").string();
  fs::create_directory(dir / "sub");
  EXPECT_EQ(SavetoJPEG(empty.data(), dst.data(), 85, 0), SAVEJPG_ERR_ARGUMENT);
  EXPECT_EQ(SavetoJPEG(src.data(), empty.data(), 85, 0), SAVEJPG_ERR_ARGUMENT);
  EXPECT_EQ(SavetoJPEG(nullptr, dst.data(), 85, 0), SAVEJPG_ERR_ARGUMENT);
  EXPECT_EQ(SavetoJPEG(missing.data(), dst.data(), 85, 0), SAVEJPG_ERR_OPEN_SOURCE);
  EXPECT_EQ(SavetoJPEG(folder.data(), dst.data(), 85, 0), SAVEJPG_ERR_OPEN_SOURCE);
  EXPECT_EQ(SavetoJPEG(src.data(), no_folder.data(), 85, 0), SAVEJPG_ERR_CREATE_OUTPUT);
  EXPECT_EQ(SavetoJPEG(src.data(), into_folder.data(), 85, 0), SAVEJPG_ERR_REPLACE_OUTPUT);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.bmp", "sub"}));
  EXPECT_TRUE(fs::is_empty(dir / "sub"));
}

TEST(SaveJpg, ABitmapCutShortWhileItIsConvertedFailsAndLeavesNothing) {
  // What `cp other.bmp in.bmp` does to a bitmap being converted: the file is
  // truncated, then written again. Here it is cut after its headers were
  // read, before its rows are.
  TempFolder dir;
  const std::vector<uint8_t> previous = {0xFF, 0xD8, 'o', 'l', 'd'};
  for (const Kind& k : {kKinds[0], kKinds[6]}) {  // 24-bit; 8-bit with every index checked
    for (const uintmax_t cut : {uintmax_t{0}, uintmax_t{2000}}) {
      SCOPED_TRACE(std::string(k.name) + ", cut to " + std::to_string(cut));
      WriteFile(dir / "in.bmp", BuildBmp(k.bitmap()));
      WriteFile(dir / "out.jpg", previous);
      savejpg::SourceFile source;
      ASSERT_TRUE(source.Open(dir / "in.bmp"));
      const auto decoded = savejpg::DecodeBmp(source);
      ASSERT_TRUE(decoded.ok());
      fs::resize_file(dir / "in.bmp", cut);
      EXPECT_EQ(savejpg::WriteJpegFile(decoded.value(), source, dir / "out.jpg", 85, 0, 0),
                SAVEJPG_BMP_PIXELS_TRUNCATED);
      EXPECT_EQ(ReadFile(dir / "out.jpg"), previous);
      EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.bmp", "out.jpg"}));
    }
  }
}

// A bitmap large enough to be cut into bands is the same JPEG on any
// number of threads, each band's rows read by a reader of its own: rows
// stored bottom up or top down, RLE rows decoded from where each band
// starts. A bitmap cut short under the bands' feet fails as on one thread.
TEST(SaveJpg, ALargeBitmapIsTheSameJpegOnAnyNumberOfThreads) {
  constexpr int kWide = 1024, kHigh = 768;  // large enough to be cut
  const auto smooth = [](int x, int y) { return Packed(Smooth(x, y)); };
  BmpFields bottom_up, top_down;
  bottom_up.width = top_down.width = kWide;
  bottom_up.height = kHigh;
  top_down.height = -kHigh;
  bottom_up.pixels = StoreRows(kWide, kHigh, 24, false, smooth);
  top_down.pixels = StoreRows(kWide, kHigh, 24, true, smooth);
  const struct {
    const char* name;
    BmpFields bitmap;
  } kinds[] = {
      {"24-bit", bottom_up}, {"24-bit top-down", top_down}, {"RLE8", PaletteRle8(kWide, kHigh)}};
  TempFolder dir;
  for (const auto& kind : kinds) {
    for (const int16_t progressive : {0, -1}) {
      SCOPED_TRACE(std::string(kind.name) + (progressive ? ", progressive" : ""));
      SaveJPGUseThreads(1);
      ASSERT_EQ(Convert(dir, BuildBmp(kind.bitmap), 85, progressive, "one.jpg"), SAVEJPG_OK);
      SaveJPGUseThreads(3);
      ASSERT_EQ(Convert(dir, BuildBmp(kind.bitmap), 85, progressive, "three.jpg"), SAVEJPG_OK);
      EXPECT_EQ(ReadFile(dir / "three.jpg"), ReadFile(dir / "one.jpg"));
    }
  }
  for (const uintmax_t cut : {uintmax_t{4000}, uintmax_t{500000}}) {
    SCOPED_TRACE("cut to " + std::to_string(cut));
    WriteFile(dir / "in.bmp", BuildBmp(bottom_up));
    savejpg::SourceFile source;
    ASSERT_TRUE(source.Open(dir / "in.bmp"));
    const auto decoded = savejpg::DecodeBmp(source);
    ASSERT_TRUE(decoded.ok());
    fs::resize_file(dir / "in.bmp", cut);
    EXPECT_EQ(savejpg::WriteJpegFile(decoded.value(), source, dir / "cut.jpg", 85, 0, 0),
              SAVEJPG_BMP_PIXELS_TRUNCATED);
    EXPECT_FALSE(fs::exists(dir / "cut.jpg"));
  }
  SaveJPGUseThreads(1);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.bmp", "one.jpg", "three.jpg"}));
}

// libjpeg keeps the coefficients of the whole image, 128 bytes per 8 x 8
// block of each component: 6 bytes a pixel in full-resolution colour. How
// much of that it may take follows the machine, not the size of the file.
constexpr uint64_t kGigabyteAndMore = 1'077'336'000;  // 13400 x 13400: 1675^2 blocks x 3
constexpr uint64_t kLargestImage = 25'743'556'608;    // 65500 x 65500: 8188^2 blocks x 3

// Colour 0 everywhere, in 2 bytes of RLE8.
BmpFields EmptyRle8(int32_t side) {
  BmpFields s = Palette(8, 1);
  s.width = s.height = side;
  s.pixels = {0, 1};
  return s;
}

TEST(SaveJpg, ABitmapNeedingMoreThanAGigabyteConverts) {
  if (savejpg::MemoryAvailable() / 2 < kGigabyteAndMore + (64 << 20))
    GTEST_SKIP() << "this machine cannot hold the image";
  TempFolder dir;
  ASSERT_EQ(Convert(dir, BuildBmp(EmptyRle8(13400)), 95, 0), SAVEJPG_OK);
  EXPECT_EQ(JpegSize(ReadFile(dir / "out.jpg")), std::pair(13400, 13400));
}

TEST(SaveJpg, TinyRleClaimingAHugeImageStopsBeforeAllocatingIt) {
  // The error comes from libjpeg after the temporary file was made: it goes,
  // and the previous JPEG stays.
  if (savejpg::MemoryAvailable() / 2 >= kLargestImage)
    GTEST_SKIP() << "this machine could hold the image";
  TempFolder dir;
  WriteFile(dir / "out.jpg", {0xFF, 0xD8, 0xFF, 0xD9});
  EXPECT_EQ(Convert(dir, BuildBmp(EmptyRle8(65500)), 95, 0), SAVEJPG_ERR_OUT_OF_MEMORY);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.bmp", "out.jpg"}));
  EXPECT_EQ(ReadFile(dir / "out.jpg"), (std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xD9}));
  // Within the limit the same kind of file is written.
  EXPECT_EQ(Convert(dir, BuildBmp(EmptyRle8(3000)), 95, 0), SAVEJPG_OK);
}

// Errors raised inside libjpeg, and by the output while libjpeg is
// compressing, come back as exceptions through libjpeg's frames.
class FailingSink : public savejpg::JpegSink {
 public:
  explicit FailingSink(size_t limit) : limit_(limit) {}
  void Write(const uint8_t*, size_t size) override {
    written_ += size;
    if (written_ > limit_) throw savejpg::JpegFailure(SAVEJPG_ERR_WRITE_OUTPUT, "disk full");
  }

 private:
  size_t limit_, written_ = 0;
};

TEST(JpegWriter, ErrorsInsideLibjpegBecomeExceptions) {
  // Noise at quality 100 is larger than the writer's buffer, so the sink
  // fails in the middle of compressing, called from libjpeg.
  std::vector<uint8_t> noise(1024 * 3);
  std::mt19937 random(1);
  for (auto& b : noise) b = static_cast<uint8_t>(random());
  const savejpg::RowFunction rows = [&](uint32_t) { return noise.data(); };
  savejpg::JpegOptions options;
  options.quality = 100;
  for (const bool progressive : {false, true}) {
    options.progressive = progressive;
    FailingSink full(1000);
    try {
      savejpg::WriteJpeg(1024, 1024, savejpg::RowFormat::Rgb, rows, options, full);
      ADD_FAILURE() << "no error";
    } catch (const savejpg::JpegFailure& e) {
      EXPECT_EQ(e.code(), SAVEJPG_ERR_WRITE_OUTPUT);
    }
  }
  savejpg::MemorySink sink;
  try {
    savejpg::WriteJpeg(0, 16, savejpg::RowFormat::Rgb, rows, options,
                       sink);  // libjpeg: empty image
    ADD_FAILURE() << "no error";
  } catch (const savejpg::JpegFailure& e) {
    EXPECT_EQ(e.code(), SAVEJPG_ERR_ENCODER);
    EXPECT_NE(std::string(e.what()), "");
  }
  // The next image is written as usual.
  savejpg::WriteJpeg(8, 8, savejpg::RowFormat::Rgb, rows, options, sink);
  EXPECT_EQ(DecodeJpeg(sink.bytes).width, 8);
}

TEST(JpegWriter, DotsPerInchRoundsToNearest) {
  EXPECT_EQ(savejpg::DotsPerInch(3780), 96);
  EXPECT_EQ(savejpg::DotsPerInch(11811), 300);
  EXPECT_EQ(savejpg::DotsPerInch(2834), 72);
  EXPECT_EQ(savejpg::DotsPerInch(0), 0);
  EXPECT_EQ(savejpg::DotsPerInch(-3780), 0);
  EXPECT_EQ(savejpg::DotsPerInch(INT32_MAX), 0);  // past 65535 dpi
}

}  // namespace
}  // namespace savejpg_test
