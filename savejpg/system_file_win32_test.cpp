// SavetoJPEG on Windows: paths in the ANSI code page reach files of any name
// the code page holds, and an existing JPEG is replaced whole.
#include <gtest/gtest.h>
#include <windows.h>

#include "savejpg.h"
#include "system_memory.h"
#include "test_support/bitmap.h"
#include "test_support/files.h"
#include "test_support/jpeg.h"

namespace savejpg_test {
namespace {

namespace fs = std::filesystem;
using namespace morvane::test_support;

// `wide` in the ANSI code page, as the program hands paths over.
std::string Ansi(const std::wstring& wide) {
  const int length =
      ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, narrow.data(), length, nullptr, nullptr);
  narrow.pop_back();
  return narrow;
}

TEST(SaveJpgOnWindows, ReachesJapaneseNamesThroughTheAnsiCodePage) {
  if (::GetACP() != 932) GTEST_SKIP() << "needs code page 932, has " << ::GetACP();
  TempFolder dir;
  const fs::path folder = dir.path() / L"変換 表";  // 表 ends in byte 0x5C, as "\" does
  fs::create_directories(folder);
  WriteFile(folder / L"写真.bmp", SmallBitmap());
  std::string source = Ansi((folder / L"写真.bmp").native());
  std::string dest = Ansi((folder / L"写真.jpg").native());
  ASSERT_EQ(SavetoJPEG(source.data(), dest.data(), 85, 0), SAVEJPG_OK);
  EXPECT_EQ(DecodeJpeg(ReadFile(folder / L"写真.jpg")).width, 9);
}

TEST(SaveJpgOnWindows, ReplacesAnExistingJpegAndLeavesNoTemporary) {
  TempFolder dir;
  WriteFile(dir / "in.bmp", SmallBitmap());
  WriteFile(dir / "out.jpg", {1, 2, 3});
  std::string source = (dir / "in.bmp").string(), dest = (dir / "out.jpg").string();
  ASSERT_EQ(SavetoJPEG(source.data(), dest.data(), 85, -1), SAVEJPG_OK);
  EXPECT_EQ(DecodeJpeg(ReadFile(dir / "out.jpg")).height, 7);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.bmp", "out.jpg"}));
}

TEST(SaveJpgOnWindows, AReplacedJpegKeepsItsAttributesEvenWhenReadOnly) {
  TempFolder dir;
  WriteFile(dir / "in.bmp", SmallBitmap());
  WriteFile(dir / "out.jpg", {1, 2, 3});
  const DWORD set = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
  ASSERT_TRUE(::SetFileAttributesW((dir / "out.jpg").c_str(), set));
  std::string source = (dir / "in.bmp").string(), dest = (dir / "out.jpg").string();
  EXPECT_EQ(SavetoJPEG(source.data(), dest.data(), 85, 0), SAVEJPG_OK);
  EXPECT_EQ(::GetFileAttributesW((dir / "out.jpg").c_str()) & set, set);
  EXPECT_EQ(DecodeJpeg(ReadFile(dir / "out.jpg")).width, 9);
  ::SetFileAttributesW((dir / "out.jpg").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.bmp", "out.jpg"}));
}

TEST(SaveJpgOnWindows, RefusesADeviceAtOnce) {
  TempFolder dir;
  std::string device = "NUL", console = "CONIN$", jpeg = (dir / "out.jpg").string();
  EXPECT_EQ(SavetoJPEG(device.data(), jpeg.data(), 85, 0), SAVEJPG_ERR_OPEN_SOURCE);
  EXPECT_EQ(SavetoJPEG(console.data(), jpeg.data(), 85, 0), SAVEJPG_ERR_OPEN_SOURCE);
  EXPECT_TRUE(dir.Names().empty());
}

TEST(SaveJpgOnWindows, KnowsTheMemoryItMayTake) {
  // The memory limit of the encoder is half of it; without a figure there
  // would be no limit at all.
  EXPECT_GT(savejpg::MemoryAvailable(), uint64_t{64} << 20);
}

}  // namespace
}  // namespace savejpg_test
