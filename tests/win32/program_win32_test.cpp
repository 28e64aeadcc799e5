// Morvane.exe end to end on Windows (or Wine): a batch started with an exact
// command line, its message box read and answered, its exit status and the
// files it leaves. The texts are the ones the Linux program prints
// (tests/program_test.cpp), with Windows' line breaks.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "run_program.h"

namespace morvane_test {
namespace {

namespace fs = std::filesystem;

const std::wstring kTitle = L"変換完了";
const std::wstring kFailed = L"変換に失敗しました。";

std::wstring Summary(int count, const fs::path& folder, int quality) {
  return std::to_wstring(count) + L"個のファイルを変換しました。\r\nフォルダ：" + folder.native() +
         L"\r\n画質：" + std::to_wstring(quality);
}

// A bottom-up 24-bit bitmap of a smooth picture.
std::string Bitmap(int width, int height) {
  const int stride = (width * 3 + 3) / 4 * 4;
  const uint32_t pixels = static_cast<uint32_t>(stride * height);
  std::string bytes;
  auto put = [&bytes](uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes += static_cast<char>(value >> (8 * i));
  };
  bytes += "BM";
  put(54 + pixels, 4), put(0, 4), put(54, 4);
  put(40, 4), put(static_cast<uint32_t>(width), 4), put(static_cast<uint32_t>(height), 4);
  put(1, 2), put(24, 2), put(0, 4), put(pixels, 4), put(2835, 4), put(2835, 4), put(0, 4),
      put(0, 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) put(static_cast<uint32_t>(x * 4 + (y * 5 << 8) + 0x400000), 3);
    bytes.append(static_cast<size_t>(stride - width * 3), '\0');
  }
  return bytes;
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool IsJpeg(const std::string& bytes) {
  return bytes.size() > 100 && bytes.compare(0, 2, "\xFF\xD8") == 0 &&
         bytes.compare(bytes.size() - 2, 2, "\xFF\xD9") == 0;
}

bool IsProgressive(const std::string& bytes) { return bytes.find("\xFF\xC2") != std::string::npos; }

std::vector<std::wstring> Names(const fs::path& folder) {
  std::vector<std::wstring> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().native());
  std::sort(names.begin(), names.end());
  return names;
}

// `text` in the ANSI code page, as the program reads its settings file.
std::string Ansi(const std::wstring& text) {
  const int length = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                        length, nullptr, nullptr);
  return narrow;
}

fs::path TestBinaryFolder() {
  wchar_t buffer[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return fs::path(std::wstring(buffer, length)).parent_path();
}

// A folder of its own for each test: bin\ holds a copy of the program and
// its encoder (so a settings file can lie beside it), pictures go elsewhere.
class ProgramOnWindows : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    root_ = fs::temp_directory_path() / (std::string("morvane-e2e-") + info->name());
    fs::remove_all(root_);
    fs::create_directories(bin());
    for (const char* file : {"Morvane.exe", "SaveJPG.DLL"})
      fs::copy_file(TestBinaryFolder() / file, bin() / file);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  fs::path bin() const { return root_ / "bin"; }
  fs::path Folder(const std::wstring& name) const {
    fs::create_directories(root_ / name);
    return root_ / name;
  }
  // The program started with `arguments` after its quoted name.
  ProgramRun Run(const std::wstring& arguments) const {
    const std::wstring program = (bin() / "Morvane.exe").native();
    return RunProgram(program, L"\"" + program + L"\" " + arguments, root_.native());
  }

  fs::path root_;
};

TEST_F(ProgramOnWindows, LongNamesWithBlanksInAnyLetterCaseConvertBesideTheirSources) {
  const fs::path pics = Folder(L"My Pictures");
  WriteBytes(pics / "Photo One.bmp", Bitmap(64, 48));
  WriteBytes(pics / "second.BMP", Bitmap(17, 5));

  const ProgramRun run =
      Run((pics / L"PHOTO ONE.BMP").native() + L" " + (pics / L"Second.BMP").native());

  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].title, kTitle);
  EXPECT_EQ(run.boxes[0].text, Summary(2, pics, 85));
  // The JPEGs take the names the files have on disk.
  EXPECT_EQ(Names(pics), (std::vector<std::wstring>{L"Photo One.bmp", L"Photo One.jpg",
                                                    L"second.BMP", L"second.jpg"}));
  EXPECT_TRUE(IsJpeg(ReadBytes(pics / "Photo One.jpg")));
  EXPECT_FALSE(IsProgressive(ReadBytes(pics / "Photo One.jpg")));
  EXPECT_EQ(Names(bin()), (std::vector<std::wstring>{L"Morvane.exe", L"SaveJPG.DLL"}));
}

TEST_F(ProgramOnWindows, JapaneseAndShortNamesReachTheirFiles) {
  if (::GetACP() != 932) GTEST_SKIP() << "needs code page 932, has " << ::GetACP();
  // 表 ends in byte 0x5C in code page 932, as "\" does.
  const fs::path pics = Folder(L"写真 表");
  WriteBytes(pics / L"表.BMP", Bitmap(9, 7));
  WriteBytes(pics / L"Long Picture Name.bmp", Bitmap(8, 8));
  wchar_t short_path[MAX_PATH];
  const DWORD length =
      ::GetShortPathNameW((pics / L"Long Picture Name.bmp").c_str(), short_path, MAX_PATH);
  ASSERT_GT(length, 0u);
  const std::wstring short_name = fs::path(short_path).filename().native();
  ASSERT_NE(short_name, L"Long Picture Name.bmp");

  const ProgramRun run = Run((pics / L"表.BMP").native() + L" " + short_path);

  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].title, kTitle);
  EXPECT_EQ(run.boxes[0].text, Summary(2, pics, 85));
  EXPECT_TRUE(IsJpeg(ReadBytes(pics / L"表.jpg")));
  EXPECT_TRUE(IsJpeg(ReadBytes(pics / L"Long Picture Name.jpg")));
  EXPECT_EQ(Names(pics).size(), 4u);
}

TEST_F(ProgramOnWindows, ChosenFolderAndQualityComeFromTheSettingsBesideTheProgram) {
  const fs::path pics = Folder(L"pics");
  const fs::path out = Folder(L"Chosen Out");
  WriteBytes(pics / "a.bmp", Bitmap(40, 40));
  WriteBytes(bin() / "Morvane.ini",
             Ansi(L"[Data]\r\nRate=95\r\nPrg=True \r\nFolder=" + out.native() + L"\r\nSet=Y\r\n"));

  const ProgramRun run = Run((pics / L"a.BMP").native());

  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].text, Summary(1, out, 95));
  EXPECT_TRUE(IsProgressive(ReadBytes(out / "a.jpg")));
  EXPECT_EQ(Names(pics), (std::vector<std::wstring>{L"a.bmp"}));

  // Without Set=Y the folder is not used: the JPEG lands beside its source.
  WriteBytes(bin() / "Morvane.ini", Ansi(L"[Data]\r\nFolder=" + out.native() + L"\r\nSet=N\r\n"));
  const ProgramRun beside = Run((pics / L"a.BMP").native());
  ASSERT_EQ(beside.boxes.size(), 1u);
  EXPECT_EQ(beside.boxes[0].text, Summary(1, pics, 85));
  EXPECT_TRUE(IsJpeg(ReadBytes(pics / "a.jpg")));
}

TEST_F(ProgramOnWindows, ExitStatusSaysWhetherAllSomeOrNoneConverted) {
  const fs::path pics = Folder(L"pics");
  WriteBytes(pics / "good.bmp", Bitmap(8, 8));
  WriteBytes(pics / "bad.bmp", "BM this is not a bitmap");
  WriteBytes(pics / "bad.jpg", "the user's earlier JPEG");

  const ProgramRun none = Run((pics / L"bad.BMP").native());
  ASSERT_TRUE(none.ended);
  EXPECT_EQ(none.exit_code, 1u);
  ASSERT_EQ(none.boxes.size(), 1u);
  EXPECT_EQ(none.boxes[0].title, kTitle);
  EXPECT_EQ(none.boxes[0].text, kFailed);
  EXPECT_EQ(ReadBytes(pics / "bad.jpg"), "the user's earlier JPEG");
  EXPECT_EQ(Names(pics).size(), 3u);

  const ProgramRun some =
      Run((pics / L"bad.BMP").native() + L" " + (pics / L"good.BMP").native() + L" missing.BMP");
  ASSERT_TRUE(some.ended);
  EXPECT_EQ(some.exit_code, 2u);
  ASSERT_EQ(some.boxes.size(), 1u);
  EXPECT_EQ(some.boxes[0].text, Summary(1, pics, 85));
  EXPECT_TRUE(IsJpeg(ReadBytes(pics / "good.jpg")));
  EXPECT_EQ(ReadBytes(pics / "bad.jpg"), "the user's earlier JPEG");
}

TEST_F(ProgramOnWindows, HelpOrVersionAloneIsAnsweredInAMessageBox) {
  const std::wstring version = L"Morvane " MORVANE_WIDE_VERSION;
  for (const wchar_t* help : {L"/?", L"--help"}) {
    const ProgramRun run = Run(help);
    ASSERT_TRUE(run.ended) << help;
    EXPECT_EQ(run.exit_code, 0u) << help;
    ASSERT_EQ(run.boxes.size(), 1u) << help;
    EXPECT_EQ(run.boxes[0].title, L"Morvane");
    EXPECT_EQ(run.boxes[0].text.rfind(version + L"\r\n", 0), 0u) << help;
    EXPECT_NE(run.boxes[0].text.find(L"\r\n  " + (bin() / L"Morvane.ini").native() + L"\r\n"),
              std::wstring::npos)
        << help;
  }
  const ProgramRun run = Run(L"--version");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].title, L"Morvane");
  EXPECT_EQ(run.boxes[0].text, version);

  // With anything more on the line it is a batch, as before.
  const ProgramRun batch = Run(L"/? x.BMP");
  ASSERT_TRUE(batch.ended);
  EXPECT_EQ(batch.exit_code, 1u);
  ASSERT_EQ(batch.boxes.size(), 1u);
  EXPECT_EQ(batch.boxes[0].title, kTitle);
  EXPECT_EQ(batch.boxes[0].text, kFailed);
  EXPECT_EQ(Names(bin()), (std::vector<std::wstring>{L"Morvane.exe", L"SaveJPG.DLL"}));
}

}  // namespace
}  // namespace morvane_test
