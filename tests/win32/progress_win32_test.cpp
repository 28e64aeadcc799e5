// Morvane.exe on Windows (or Wine) with a batch long enough to show its
// progress window: the window read and its キャンセル clicked from this
// process, then the summary box read and answered.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace morvane_test {
namespace {

namespace fs = std::filesystem;

// A bottom-up 24-bit bitmap of noise, which takes the encoder a while.
std::string NoiseBitmap(int width, int height) {
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
  uint32_t noise = 12345;
  for (uint32_t i = 0; i < pixels; ++i) {
    noise = noise * 1103515245 + 12345;
    bytes += static_cast<char>(noise >> 16);
  }
  return bytes;
}

std::wstring TextOf(HWND window) {
  wchar_t buffer[4096] = {};
  ::GetWindowTextW(window, buffer, 4096);
  return buffer;
}

// The visible top-level dialog of `process_id` titled `title`, or nullptr.
HWND FindDialog(DWORD process_id, const wchar_t* title) {
  HWND window = nullptr;
  while ((window = ::FindWindowExW(nullptr, window, L"#32770", title)) != nullptr) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == process_id && ::IsWindowVisible(window)) return window;
  }
  return nullptr;
}

fs::path TestBinaryFolder() {
  wchar_t buffer[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return fs::path(std::wstring(buffer, length)).parent_path();
}

TEST(ProgressOnWindows, LongBatchShowsItsWindowAndCancelEndsItWithSomeConverted) {
  const fs::path root = fs::temp_directory_path() / "morvane-e2e-progress";
  fs::remove_all(root);
  fs::create_directories(root / "bin");
  fs::create_directories(root / "pics");
  for (const char* file : {"Morvane.exe", "SaveJPG.DLL"}) {
    fs::copy_file(TestBinaryFolder() / file, root / "bin" / file);
  }
  std::ofstream(root / "pics" / "big.bmp", std::ios::binary) << NoiseBitmap(2400, 1800);
  // One JPEG path for every name: the calls run one after the other.
  const std::wstring program = (root / "bin" / "Morvane.exe").native();
  std::wstring line = L"\"" + program + L"\"";
  constexpr int kNames = 60;
  for (int i = 0; i < kNames; ++i) line += L" " + (root / "pics" / "BIG.BMP").native();

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               root.c_str(), &startup, &process));
  const ULONGLONG deadline = ::GetTickCount64() + 120000;
  HWND progress = nullptr;
  std::wstring count_text;
  std::wstring summary_text;
  bool progress_gone_at_summary = false;
  while (::WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT &&
         ::GetTickCount64() < deadline) {
    if (progress == nullptr) {
      progress = FindDialog(process.dwProcessId, L"変換中");
      if (progress == nullptr) continue;
      count_text = TextOf(::FindWindowExW(progress, nullptr, L"Static", nullptr));
      HWND cancel = ::FindWindowExW(progress, nullptr, L"Button", nullptr);
      EXPECT_EQ(TextOf(cancel), L"キャンセル");
      EXPECT_NE(::FindWindowExW(progress, nullptr, L"msctls_progress32", nullptr), nullptr);
      ::SendMessageW(cancel, BM_CLICK, 0, 0);
    }
    if (HWND box = FindDialog(process.dwProcessId, L"変換完了")) {
      wchar_t text[4096] = {};
      ::GetDlgItemTextW(box, 0xFFFF, text, 4096);
      summary_text = text;
      progress_gone_at_summary = !::IsWindow(progress);
      ::PostMessageW(box, WM_COMMAND, IDOK, 0);
      break;
    }
  }
  const bool ended = ::WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0;
  DWORD exit_code = 0;
  ::GetExitCodeProcess(process.hProcess, &exit_code);
  if (!ended) ::TerminateProcess(process.hProcess, 255);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);

  ASSERT_NE(progress, nullptr) << "no progress window";
  EXPECT_NE(count_text.find(L" / 60"), std::wstring::npos) << count_text;
  EXPECT_TRUE(progress_gone_at_summary);
  // Some JPEGs written, not all: the count is the number converted.
  const size_t counted = summary_text.find(L"個のファイルを変換しました。");
  ASSERT_NE(counted, std::wstring::npos) << summary_text;
  const int converted = std::stoi(summary_text.substr(0, counted));
  EXPECT_GE(converted, 1);
  EXPECT_LT(converted, kNames);
  EXPECT_TRUE(ended);
  EXPECT_EQ(exit_code, 2u);
  EXPECT_TRUE(fs::exists(root / "pics" / "big.jpg"));
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

}  // namespace
}  // namespace morvane_test
