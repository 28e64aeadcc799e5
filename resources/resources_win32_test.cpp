// The resources of Morvane.exe and SaveJPG.DLL as Windows reads them: the
// version in the Japanese block, the program's icon and manifest, and the
// program's subsystem (a window program, no console).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace morvane {
namespace {

std::wstring BesideTests(const wchar_t* name) {
  const std::u16string folder = ExecutableFolder();
  return std::wstring(folder.begin(), folder.end()) + L"\\" + name;
}

class VersionInfo {
 public:
  explicit VersionInfo(const std::wstring& file) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) return;
    data_.resize(size);
    if (!::GetFileVersionInfoW(file.c_str(), 0, size, data_.data())) data_.clear();
  }
  bool found() const { return !data_.empty(); }

  std::wstring Text(const std::wstring& key) const {
    void* value = nullptr;
    UINT length = 0;
    std::wstring query = L"\\StringFileInfo\\041104B0\\" + key;
    auto* data = const_cast<char*>(data_.data());
    if (!::VerQueryValueW(data, query.c_str(), &value, &length) || length == 0) return L"(none)";
    return std::wstring(static_cast<const wchar_t*>(value));
  }

  std::vector<WORD> Translation() const {
    void* value = nullptr;
    UINT length = 0;
    auto* data = const_cast<char*>(data_.data());
    if (!::VerQueryValueW(data, L"\\VarFileInfo\\Translation", &value, &length)) return {};
    const auto* words = static_cast<const WORD*>(value);
    return std::vector<WORD>(words, words + length / sizeof(WORD));
  }

  // The fixed part's file and product versions, as four numbers each.
  std::vector<DWORD> Numbers() const {
    void* value = nullptr;
    UINT length = 0;
    auto* data = const_cast<char*>(data_.data());
    if (!::VerQueryValueW(data, L"\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO))
      return {};
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    return {fixed->dwFileVersionMS, fixed->dwFileVersionLS, fixed->dwProductVersionMS,
            fixed->dwProductVersionLS, fixed->dwFileType};
  }

 private:
  std::vector<char> data_;
};

TEST(Resources, BothFilesCarryTheVersionInTheJapaneseBlock) {
  const struct {
    const wchar_t* file;
    const wchar_t* internal_name;
    DWORD file_type;
  } cases[] = {{L"Morvane.exe", L"Morvane", VFT_APP}, {L"SaveJPG.DLL", L"SaveJPG", VFT_DLL}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "file " << std::string(c.file, c.file + wcslen(c.file)));
    const VersionInfo info(BesideTests(c.file));
    ASSERT_TRUE(info.found());
    EXPECT_EQ(info.Text(L"FileVersion"), L"1.26");
    EXPECT_EQ(info.Text(L"ProductVersion"), L"1.26");
    EXPECT_EQ(info.Text(L"ProductName"), L"Morvane");
    EXPECT_EQ(info.Text(L"InternalName"), c.internal_name);
    EXPECT_EQ(info.Text(L"OriginalFilename"), c.file);
    // Japanese comes through whole: the scripts are read as UTF-8.
    EXPECT_NE(info.Text(L"FileDescription").find(L"JPEG"), std::wstring::npos);
    EXPECT_EQ(info.Text(L"FileDescription").find(L'?'), std::wstring::npos);
    EXPECT_EQ(info.Translation(), (std::vector<WORD>{0x0411, 1200}));
    EXPECT_EQ(info.Numbers(), (std::vector<DWORD>{0x1001A, 0, 0x1001A, 0, c.file_type}));
  }
  EXPECT_EQ(VersionInfo(BesideTests(L"Morvane.exe")).Text(L"FileDescription"),
            L"Morvane \u2015 BMP \u3092 JPEG \u306B\u5909\u63DB");
}

// The program's resources, read without running it.
class ProgramResources : public testing::Test {
 protected:
  void SetUp() override {
    module_ = ::LoadLibraryExW(BesideTests(L"Morvane.exe").c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr);
  }
  void TearDown() override {
    if (module_ != nullptr) ::FreeLibrary(module_);
  }
  // The resource of a numbered type (RT_...) and number.
  std::string Bytes(WORD type, WORD name) const {
    const HRSRC found = ::FindResourceW(module_, MAKEINTRESOURCEW(name), MAKEINTRESOURCEW(type));
    if (found == nullptr) return {};
    const auto* data = static_cast<const char*>(::LockResource(::LoadResource(module_, found)));
    return std::string(data, ::SizeofResource(module_, found));
  }
  HMODULE module_ = nullptr;
};

TEST_F(ProgramResources, IconHolds32And16PixelPictures) {
  const std::string group = Bytes(14, 1);  // RT_GROUP_ICON
  ASSERT_GE(group.size(), 6u + 2 * 14);
  const auto* header = reinterpret_cast<const WORD*>(group.data());
  ASSERT_EQ(header[2], 2);  // two pictures
  std::vector<int> sides;
  for (int i = 0; i < 2; ++i) sides.push_back(static_cast<unsigned char>(group[6 + 14 * i]));
  EXPECT_EQ(sides, (std::vector<int>{32, 16}));
  const HICON icon = static_cast<HICON>(
      ::LoadImageW(module_, MAKEINTRESOURCEW(1), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
  EXPECT_NE(icon, nullptr);
  if (icon != nullptr) ::DestroyIcon(icon);
}

TEST_F(ProgramResources, ManifestAsksForCommonControls6PerMonitorDpiAndLongPaths) {
  const std::string manifest = Bytes(24, 1);  // RT_MANIFEST
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
            std::string::npos);
  EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos);
  EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos);
  // Windows reads the setting only under its own namespace.
  EXPECT_NE(manifest.find("<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/"
                          "WindowsSettings\">true</longPathAware>"),
            std::string::npos);
  // The ANSI code page stays the system's.
  EXPECT_EQ(manifest.find("activeCodePage"), std::string::npos);
}

TEST_F(ProgramResources, ProgramIsAWindowProgramWithoutConsole) {
  // The file as it lies on disk: its PE header names the subsystem.
  HANDLE file = ::CreateFileW(BesideTests(L"Morvane.exe").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  std::vector<char> head(4096);
  DWORD got = 0;
  ::ReadFile(file, head.data(), static_cast<DWORD>(head.size()), &got, nullptr);
  ::CloseHandle(file);
  ASSERT_GE(got, sizeof(IMAGE_DOS_HEADER));
  const auto* dos_header = reinterpret_cast<const IMAGE_DOS_HEADER*>(head.data());
  ASSERT_LT(static_cast<DWORD>(dos_header->e_lfanew) + sizeof(IMAGE_NT_HEADERS64), got);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(head.data() + dos_header->e_lfanew);
  EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

}  // namespace
}  // namespace morvane
