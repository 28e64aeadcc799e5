// The program's memory, run as a user runs it, on noise (the content whose
// first coding is larger than its coefficients) and on a photograph: within
// the estimate a batch reckons with, within the address space cjpeg
// converts the same bitmap in (as `prlimit --as` would limit both), and its
// peak at most cjpeg's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/memory_estimate.h"
#include "test_support/bitmap.h"
#include "test_support/files.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

using morvane::test_support::BmpFields;
using morvane::test_support::BuildBmp;
using morvane::test_support::Colour;
using morvane::test_support::TempFolder;
using morvane::test_support::WriteFile;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

// Noise, in 24 or 32 bits, or in 8 bits with a palette of 256 colours.
std::vector<uint8_t> Noise(int width, int height, int bit_count) {
  std::mt19937 random(static_cast<unsigned>(width + bit_count));
  BmpFields fields;
  fields.width = width;
  fields.height = height;
  fields.bit_count = static_cast<uint16_t>(bit_count);
  for (int i = 0; bit_count == 8 && i < 256; ++i)
    fields.palette.push_back(
        {static_cast<uint8_t>(i), static_cast<uint8_t>(random()), static_cast<uint8_t>(255 - i)});
  fields.pixels = morvane::test_support::StoreRows(width, height, bit_count, false,
                                                   [&](int, int) { return random(); });
  return BuildBmp(fields);
}

// A photograph: smooth colour with a little grain.
std::vector<uint8_t> Photograph(int width, int height) {
  std::mt19937 random(5);
  BmpFields fields;
  fields.width = width;
  fields.height = height;
  fields.pixels = morvane::test_support::StoreRows(width, height, 24, false, [&](int x, int y) {
    const Colour c = morvane::test_support::Smooth(x, y);
    return morvane::test_support::Packed(c) ^ (random() & 0x070707);
  });
  return BuildBmp(fields);
}

// Noise as RLE8 absolute runs: its coded pixels are kept whole.
std::vector<uint8_t> NoiseRle8(int width, int height) {
  std::mt19937 random(3);
  BmpFields fields;
  fields.width = width;
  fields.height = height;
  fields.bit_count = 8;
  fields.compression = 1;
  for (int i = 0; i < 256; ++i) fields.palette.push_back({static_cast<uint8_t>(i), 9, 200});
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; x += 200) {
      const int run = std::min(200, width - x);
      fields.pixels.insert(fields.pixels.end(), {0, static_cast<uint8_t>(run)});
      for (int i = 0; i < run + run % 2; ++i)
        fields.pixels.push_back(static_cast<uint8_t>(random()));
    }
    fields.pixels.insert(fields.pixels.end(), {0, 0});
  }
  fields.pixels.insert(fields.pixels.end(), {0, 1});
  return BuildBmp(fields);
}

struct Ran {
  int status = -1;
  uint64_t peak_bytes = 0;  // the largest resident set
};

// Runs `args` with no display, its address space limited to
// `address_space` bytes (0: no limit), its output thrown away.
Ran RunLimited(const std::vector<std::string>& args, uint64_t address_space,
               const std::vector<std::string>& extra_env = {}) {
  std::vector<std::string> env_texts;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (text.rfind("DISPLAY=", 0) == 0 || text.rfind("WAYLAND_DISPLAY=", 0) == 0) continue;
    if (text.rfind("MORVANE_WORKERS=", 0) == 0) continue;
    env_texts.push_back(text);
  }
  env_texts.insert(env_texts.end(), extra_env.begin(), extra_env.end());
  std::vector<char*> env, argv;
  for (std::string& text : env_texts) env.push_back(text.data());
  env.push_back(nullptr);
  std::vector<std::string> arg_texts = args;
  for (std::string& text : arg_texts) argv.push_back(text.data());
  argv.push_back(nullptr);

  const pid_t child = ::fork();
  if (child == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    const rlimit limit{address_space, address_space};
    if (address_space != 0 && ::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(125);
    ::execve(argv[0], argv.data(), env.data());
    ::_exit(127);
  }
  Ran ran;
  int status = 0;
  rusage usage{};
  if (child > 0 && ::wait4(child, &status, 0, &usage) == child) {
    ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    ran.peak_bytes = static_cast<uint64_t>(usage.ru_maxrss) * 1024;
  }
  return ran;
}

// The least address space, to 256 KiB, in which `runs` succeeds, searched
// below `most`; 0 when it fails even there.
uint64_t LeastAddressSpace(const std::function<bool(uint64_t)>& runs, uint64_t most) {
  constexpr uint64_t kStep = 256 * 1024;
  if (!runs(most)) return 0;
  uint64_t fails = 0, succeeds = most;
  while (succeeds - fails > kStep) {
    const uint64_t middle = fails + (succeeds - fails) / 2;
    (runs(middle) ? succeeds : fails) = middle;
  }
  return succeeds;
}

bool HasCjpeg() { return ::access("/usr/bin/cjpeg", X_OK) == 0; }

// cjpeg as the program codes: -optimize or -progressive, the same quality,
// full colour resolution from quality 90 on.
std::vector<std::string> Cjpeg(int quality, bool progressive, const fs::path& bitmap,
                               const fs::path& jpeg) {
  std::vector<std::string> args = {"/usr/bin/cjpeg", "-quality", std::to_string(quality),
                                   progressive ? "-progressive" : "-optimize"};
  if (quality >= 90) args.insert(args.end(), {"-sample", "1x1"});
  args.insert(args.end(), {"-outfile", jpeg.string(), bitmap.string()});
  return args;
}

// The program and its encoder in a folder of their own, its settings beside
// them, the bitmaps in another folder.
class ProgramMemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer reserves more than any limit";
    fs::create_directories(folder_ / "bin");
    fs::create_directories(folder_ / "pics");
    const fs::path build = MORVANE_BUILD_DIR;
    fs::copy_file(build / "morvane", folder_ / "bin/morvane");
    fs::copy_file(build / "libSaveJPG.so", folder_ / "bin/libSaveJPG.so");
  }

  void Settings(int quality, bool progressive) {
    WriteFile(folder_ / "bin/Morvane.ini", "[Data]\r\nRate=" + std::to_string(quality) +
                                               "\r\nPrg=" + (progressive ? "True" : "False") +
                                               "\r\n");
  }
  fs::path Bitmap(const std::string& name, const std::vector<uint8_t>& bytes) {
    const fs::path path = folder_ / "pics" / name;
    WriteFile(path, bytes);
    return path;
  }
  Ran Morvane(const std::vector<fs::path>& bitmaps, uint64_t address_space,
              const std::vector<std::string>& env = {}) {
    std::vector<std::string> args = {(folder_ / "bin/morvane").string()};
    // Typed as the program's users type them, with the extension in capitals.
    for (const fs::path& bitmap : bitmaps)
      args.push_back(fs::path(bitmap).replace_extension(".BMP").string());
    return RunLimited(args, address_space, env);
  }
  // What the program takes for a small bitmap: its code, libraries and
  // stack, with the encoder loaded.
  uint64_t ProgramAddressSpace() {
    const fs::path small = Bitmap("small.bmp", Noise(8, 8, 24));
    return LeastAddressSpace([&](uint64_t limit) { return Morvane({small}, limit).status == 0; },
                             uint64_t{1} << 28);
  }

  TempFolder temp_;
  const fs::path& folder_ = temp_.path();
};

// Every kind of bitmap in both modes converts within the address space the
// program takes anyway and the estimate of the bitmap: a batch that keeps
// the sum of its calls' estimates within its budget keeps within it.
TEST_F(ProgramMemoryTest, EachConversionWithinItsEstimate) {
  const uint64_t program = ProgramAddressSpace();
  ASSERT_NE(program, 0u);
  struct Case {
    const char* name;
    std::vector<uint8_t> bitmap;
    int quality;
  };
  const Case cases[] = {
      {"noise, 4:4:4", Noise(900, 700, 24), 100},
      {"noise, 4:2:0", Noise(900, 700, 24), 85},
      {"palette noise", Noise(700, 500, 8), 95},
      {"32-bit noise", Noise(640, 480, 32), 100},
      {"RLE8 noise", NoiseRle8(600, 400), 90},
      {"wide noise", Noise(8000, 24, 24), 100},
      {"photograph, 4:2:0", Photograph(1200, 800), 85},
      {"photograph, 4:4:4", Photograph(1200, 800), 100},
  };
  for (const Case& c : cases) {
    const fs::path bitmap = Bitmap("case.bmp", c.bitmap);
    const uint64_t estimate = morvane::BitmapMemoryEstimate(morvane::test_support::PathText(bitmap),
                                                            static_cast<uint8_t>(c.quality));
    for (const bool progressive : {false, true}) {
      Settings(c.quality, progressive);
      fs::remove(folder_ / "pics/case.jpg");
      EXPECT_EQ(Morvane({bitmap}, program + estimate).status, 0)
          << c.name << (progressive ? ", progressive" : "") << ": " << estimate << " bytes";
      EXPECT_TRUE(fs::exists(folder_ / "pics/case.jpg")) << c.name;
    }
  }
}

// The least address space cjpeg converts noise in is enough for the
// program: at quality 95 progressive, as 4:4:4, and at quality 85 in
// baseline, as 4:2:0.
TEST_F(ProgramMemoryTest, ConvertsNoiseWithinTheAddressSpaceCjpegNeeds) {
  if (!HasCjpeg()) GTEST_SKIP() << "needs cjpeg (libjpeg-turbo-progs)";
  const fs::path bitmap = Bitmap("noise.bmp", Noise(1200, 900, 24));
  for (const auto& [quality, progressive] : {std::pair{95, true}, std::pair{85, false}}) {
    const std::vector<std::string> cjpeg =
        Cjpeg(quality, progressive, bitmap, folder_ / "cjpeg.jpg");
    const uint64_t cjpegs = LeastAddressSpace(
        [&](uint64_t limit) { return RunLimited(cjpeg, limit).status == 0; }, uint64_t{1} << 28);
    ASSERT_NE(cjpegs, 0u);
    Settings(quality, progressive);
    EXPECT_EQ(Morvane({bitmap}, cjpegs).status, 0)
        << quality << (progressive ? " progressive" : "") << ", cjpeg's " << cjpegs << " bytes";
  }
}

// Two noise bitmaps under the least address space in which one worker
// converts both, one after the other: side by side the batch converts both
// too, since a call that does not fit beside another runs alone.
TEST_F(ProgramMemoryTest, ABatchConvertsUnderALimitWhatOneWorkerConverts) {
  const fs::path first = Bitmap("first.bmp", Noise(1200, 900, 24));
  const fs::path second = Bitmap("second.bmp", Noise(1200, 900, 24));
  Settings(100, true);
  const uint64_t one_workers = LeastAddressSpace(
      [&](uint64_t limit) {
        return Morvane({first, second}, limit, {"MORVANE_WORKERS=1"}).status == 0;
      },
      uint64_t{1} << 28);
  ASSERT_NE(one_workers, 0u);
  for (const char* workers : {"MORVANE_WORKERS=2", "MORVANE_WORKERS=16"}) {
    const Ran run = Morvane({first, second}, one_workers, {workers});
    EXPECT_EQ(run.status, 0) << workers << " within " << one_workers << " bytes";
  }
}

// Noise at the highest quality in both modes, and as a palette bitmap: the
// program's largest resident set is no larger than cjpeg's.
TEST_F(ProgramMemoryTest, PeakAtMostCjpegsOnNoise) {
  if (!HasCjpeg()) GTEST_SKIP() << "needs cjpeg (libjpeg-turbo-progs)";
  const fs::path colour = Bitmap("colour.bmp", Noise(1600, 1200, 24));
  const fs::path palette = Bitmap("palette.bmp", Noise(1600, 1200, 8));
  for (const fs::path& bitmap : {colour, palette}) {
    for (const bool progressive : {false, true}) {
      Settings(100, progressive);
      const Ran morvane = Morvane({bitmap}, 0);
      const Ran cjpeg = RunLimited(Cjpeg(100, progressive, bitmap, folder_ / "cjpeg.jpg"), 0);
      ASSERT_EQ(morvane.status, 0);
      ASSERT_EQ(cjpeg.status, 0);
      EXPECT_LE(morvane.peak_bytes, cjpeg.peak_bytes)
          << bitmap.filename() << (progressive ? ", progressive" : "");
    }
  }
}

}  // namespace
