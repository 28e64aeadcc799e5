// SavetoJPEG on Windows: paths in the ANSI code page reach files of any name
// the code page holds, SavetoJPEGW's UTF-16 paths any name at all, and an
// existing JPEG is replaced whole.
#include <gtest/gtest.h>
#include <windows.h>

#include "savejpg.h"
#include "system_memory.h"
#include "test_support/bitmap.h"
#include "test_support/files.h"
#include "test_support/jpeg.h"
#include "test_support/windows_paths.h"

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

// `path` as the NUL-terminated UTF-16 text SavetoJPEGW takes.
std::wstring Wide(const fs::path& path) { return path.native(); }

std::vector<uint8_t> BitmapOfWidth(int width) { return Bitmap24({width, 5, &Smooth}); }

TEST(SaveJpgOnWindows, WideEntryReachesNamesNoCodePageHolds) {
  TempFolder dir;
  const fs::path folder =
      dir.path() / L"\uD55C\uAD6D\uC5B4 \u0395\u03BB\u03BB\u03AC\u03B4\u03B1";  // 한국어 Ελλάδα
  fs::create_directories(folder);
  const wchar_t* names[] = {L"\uC0AC\uC9C4",
                            L"\u03A6\u03C9\u03C4\u03BF\u03B3\u03C1\u03B1\u03C6\u03AF\u03B1",
                            L"\U0001F600 smile", L"sch\u00F6n"};  // 사진, Φωτογραφία
  int width = 10;
  for (const wchar_t* name : names) {
    SCOPED_TRACE(Ansi(name));
    const fs::path bitmap = folder / (std::wstring(name) + L".bmp");
    WriteFile(bitmap, BitmapOfWidth(++width));
    const std::wstring source = Wide(bitmap);
    const std::wstring dest = Wide(folder / (std::wstring(name) + L".jpg"));
    ASSERT_EQ(SavetoJPEGW(source.c_str(), dest.c_str(), 85, 0), SAVEJPG_OK);
    EXPECT_EQ(DecodeJpeg(ReadFile(dest)).width, width);
  }
}

TEST(SaveJpgOnWindows, WideEntryConvertsTheFileNamedNotALookAlike) {
  TempFolder dir;
  WriteFile(dir / L"sch\u00F6n.BMP", BitmapOfWidth(11));
  WriteFile(dir / L"schon.BMP", BitmapOfWidth(12));
  WriteFile(dir / L"schon.jpg", {1, 2, 3});
  const std::wstring source = Wide(dir / L"sch\u00F6n.BMP");
  const std::wstring dest = Wide(dir / L"sch\u00F6n.jpg");
  ASSERT_EQ(SavetoJPEGW(source.c_str(), dest.c_str(), 85, -1), SAVEJPG_OK);
  EXPECT_EQ(DecodeJpeg(ReadFile(dir / L"sch\u00F6n.jpg")).width, 11);
  EXPECT_EQ(ReadFile(dir / L"schon.jpg"), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(SaveJpgOnWindows, WideEntryGivesTheSameResultsForBadArguments) {
  TempFolder dir;
  WriteFile(dir / "in.bmp", SmallBitmap());
  WriteFile(dir / "bad.bmp", {'B', 'M', 1});
  const std::wstring source = Wide(dir / "in.bmp"), dest = Wide(dir / "out.jpg");
  EXPECT_EQ(SavetoJPEGW(nullptr, dest.c_str(), 85, 0), SAVEJPG_ERR_ARGUMENT);
  EXPECT_EQ(SavetoJPEGW(source.c_str(), nullptr, 85, 0), SAVEJPG_ERR_ARGUMENT);
  EXPECT_EQ(SavetoJPEGW(L"", dest.c_str(), 85, 0), SAVEJPG_ERR_ARGUMENT);
  EXPECT_EQ(SavetoJPEGW(source.c_str(), L"", 85, 0), SAVEJPG_ERR_ARGUMENT);
  EXPECT_EQ(SavetoJPEGW(Wide(dir / "missing.bmp").c_str(), dest.c_str(), 85, 0),
            SAVEJPG_ERR_OPEN_SOURCE);
  EXPECT_EQ(SavetoJPEGW(source.c_str(), source.c_str(), 85, 0), SAVEJPG_ERR_SAME_FILE);
  EXPECT_EQ(SavetoJPEGW(Wide(dir / "bad.bmp").c_str(), dest.c_str(), 85, 0), SAVEJPG_BMP_TRUNCATED);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"bad.bmp", "in.bmp"}));
}

TEST(SaveJpgOnWindows, ReachesPathsLongerThan260Characters) {
  if (!ThisProcessTakesLongPaths()) GTEST_SKIP() << "this process takes no long paths";
  TempFolder dir;
  const fs::path deep = dir.path() / std::wstring(120, L'd') / std::wstring(120, L'e');
  fs::create_directories(deep);
  WriteFile(deep / L"in.bmp", SmallBitmap());
  WriteFile(deep / L"out.jpg", {1, 2, 3});
  const std::wstring source = Wide(deep / L"in.bmp"), dest = Wide(deep / L"out.jpg");
  ASSERT_GT(dest.size(), 260u);
  ASSERT_EQ(SavetoJPEGW(source.c_str(), dest.c_str(), 85, 0), SAVEJPG_OK);
  EXPECT_EQ(DecodeJpeg(ReadFile(deep / L"out.jpg")).width, 9);
  // The C runtime lists no folder this long: the system does.
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileW((deep / L"*").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  do {
    if (found.cFileName[0] != L'.') names.push_back(found.cFileName);
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  EXPECT_EQ(names.size(), 2u);
  for (const fs::path& made : {deep / L"out.jpg", deep / L"in.bmp", deep, deep.parent_path()})
    fs::remove(made);
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
