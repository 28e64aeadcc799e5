// The Win32 platform layer, on a real file system (Windows or Wine). The
// texts that cross into the system are checked with the ANSI code page 932
// that the program's users have; tools/test-windows.sh runs Wine with it.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "core/resume_next.h"
#include "platform/command_line_win32.h"
#include "platform/conventions.h"
#include "platform/platform.h"
#include "system_memory.h"
#include "test_support/files.h"
#include "test_support/windows_paths.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;
using test_support::PathText;
using test_support::TempFolder;

std::u16string ShortPath(const fs::path& path) {
  wchar_t buffer[MAX_PATH];
  const DWORD length = ::GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
  return std::u16string(buffer, buffer + length);
}

TEST(ArgumentsAfterProgramName, DropsTheNameAndTheBlanksAfterIt) {
  EXPECT_EQ(ArgumentsAfterProgramName(u"\"C:\\Program Files\\Morvane.exe\" C:\\A.BMP"),
            u"C:\\A.BMP");
  EXPECT_EQ(ArgumentsAfterProgramName(u"Morvane.exe \t  C:\\A.BMP"), u"C:\\A.BMP");
  EXPECT_EQ(ArgumentsAfterProgramName(u"Morvane\tC:\\A.BMP"), u"C:\\A.BMP");
  // A quoted name may run straight into the arguments.
  EXPECT_EQ(ArgumentsAfterProgramName(u"\"Morvane.exe\"C:\\A.BMP"), u"C:\\A.BMP");
}

TEST(ArgumentsAfterProgramName, LeavesTheArgumentsUntouched) {
  EXPECT_EQ(ArgumentsAfterProgramName(u"M.exe \"C:\\My Pics\\A.BMP\"  C:\\B.BMP  "),
            u"\"C:\\My Pics\\A.BMP\"  C:\\B.BMP  ");
  EXPECT_EQ(ArgumentsAfterProgramName(u"M.exe C:\\変換\\A.BMP"), u"C:\\変換\\A.BMP");
  for (const std::u16string_view alone : {u"", u"Morvane.exe", u"\"C:\\M x\\M.exe\"  ", u"\"M"}) {
    EXPECT_EQ(ArgumentsAfterProgramName(alone), u"") << alone.size();
  }
}

TEST(SystemText, UsesTheAnsiCodePage) {
  if (::GetACP() != 932) GTEST_SKIP() << "needs code page 932, has " << ::GetACP();
  EXPECT_EQ(ToSystemText(u"変換 a"), "\x95\xcf\x8a\xb7 a");
  EXPECT_EQ(FromSystemText("\x95\xcf\x8a\xb7 a"), u"変換 a");
  // Windows' "\" is byte 0x5C, which is also the second byte of some
  // characters (表 is 0x95 0x5C): a whole character, not a separator.
  EXPECT_EQ(FromSystemText("\x95\x5c"), u"表");
  // A character the code page lacks becomes its default character, never a
  // look-alike that names another file.
  EXPECT_EQ(ToSystemText(u"\u0E01"), "?");
  EXPECT_EQ(ToSystemText(u"sch\u00F6n.BMP"), "sch?n.BMP");
  EXPECT_EQ(ToSystemText(u"\u00C9t\u00E9"), "?t?");
}

TEST(SystemText, ExactlyNeverBestFitsNorSubstitutes) {
  if (::GetACP() != 932) GTEST_SKIP() << "needs code page 932, has " << ::GetACP();
  EXPECT_EQ(ToSystemTextExactly(u"D:\\変換 表"), "D:\\\x95\xcf\x8a\xb7 \x95\x5c");
  EXPECT_EQ(ToSystemTextExactly(u""), "");
  // Best fit would write "schon", and "¥" as the separator "\"; the others
  // would become "?".
  for (const std::u16string_view text :
       {u"sch\u00f6n", u"\uC0AC\uC9C4", u"\u00A5", u"\u0E01", u"\U0001F600", u"a\xD800"}) {
    EXPECT_EQ(ToSystemTextExactly(text), std::nullopt) << text.size();
  }
}

TEST(LookUpEntry, GivesTheStoredLongName) {
  TempFolder temp;
  temp.AddFile("Program Files Test/Picture 1.bmp");
  const std::u16string base = PathText(temp.path());
  EXPECT_EQ(LookUpEntry(base + u"\\PROGRAM FILES TEST\\PICTURE 1.BMP"), u"Picture 1.bmp");
  EXPECT_EQ(LookUpEntry(base + u"\\program files test"), u"Program Files Test");
  const std::u16string short_form = ShortPath(temp.path() / "Program Files Test" / "Picture 1.bmp");
  ASSERT_NE(short_form, u"");
  ASSERT_EQ(short_form.find(u"Picture 1.bmp"), std::u16string::npos);
  EXPECT_EQ(LookUpEntry(short_form), u"Picture 1.bmp");
  // Wildcards are the system's, in the last component only; "/" separates as
  // well inside the look-up.
  EXPECT_EQ(LookUpEntry(base + u"\\Program Files Test\\Pict??? 1.bmp"), u"Picture 1.bmp");
  EXPECT_EQ(LookUpEntry(base + u"\\Prog*"), u"Program Files Test");
  EXPECT_EQ(LookUpEntry(base + u"\\Prog*\\Picture 1.bmp"), u"");
  EXPECT_EQ(LookUpEntry(base + u"/Program Files Test/Picture 1.bmp"), u"Picture 1.bmp");
}

TEST(LookUpEntry, GivesEmptyTextWhenNothingMatches) {
  TempFolder temp;
  temp.AddFile("a.BMP");
  const std::u16string base = PathText(temp.path());
  EXPECT_EQ(LookUpEntry(base + u"\\b.BMP"), u"");
  EXPECT_EQ(LookUpEntry(base + u"\\missing\\a.BMP"), u"");
  EXPECT_EQ(LookUpEntry(base + u"\\a.BMP\\deeper"), u"");
  EXPECT_EQ(LookUpEntry(u""), u"");
}

TEST(LookUpEntry, TakesPathsLongerThan260Characters) {
  if (!test_support::ThisProcessTakesLongPaths())
    GTEST_SKIP() << "this process takes no long paths";
  TempFolder temp;
  std::u16string path = PathText(temp.path());
  for (const char16_t letter : {u'a', u'b', u'c'}) {
    path += u"\\" + std::u16string(100, letter);
    ASSERT_TRUE(::CreateDirectoryW(reinterpret_cast<const wchar_t*>(path.c_str()), nullptr));
  }
  path += u"\\Long.BMP";
  ASSERT_GT(path.size(), 300u);
  const HANDLE file = ::CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_WRITE,
                                    0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ::CloseHandle(file);
  EXPECT_EQ(LookUpEntry(path.substr(0, path.size() - 8) + u"LONG.bmp"), u"Long.BMP");
  EXPECT_EQ(LookUpEntry(path.substr(0, path.size() - 8) + u"Other.BMP"), u"");
  // The C runtime lists no folder this long, so the temporary folder's
  // removal would not reach these.
  for (fs::path made = path; made != temp.path(); made = made.parent_path()) fs::remove(made);
}

TEST(LookUpEntry, FailsOnPathsThatCannotBeLookedUp) {
  EXPECT_THROW(LookUpEntry(std::u16string(u"C:\\a\0b", 6)), StepFailure);
  EXPECT_THROW(LookUpEntry(u"C:\\" + std::u16string(300, u'a')), StepFailure);
  EXPECT_THROW(LookUpEntry(u"C:\\" + std::u16string(256, u'a') + u"\\b"), StepFailure);
  std::u16string past_the_systems_limit = u"C:";
  while (past_the_systems_limit.size() <= 32767)
    past_the_systems_limit += u"\\" + std::u16string(200, u'a');
  EXPECT_THROW(LookUpEntry(past_the_systems_limit), StepFailure);
}

TEST(MakeAbsolute, TakesRelativeNamesAgainstTheCurrentFolder) {
  TempFolder temp;
  {
    const test_support::CurrentFolderChange inside(temp.path());
    const std::u16string current = CurrentFolder();
    EXPECT_EQ(MakeAbsolute(u"PICS\\A.BMP"), current + u"\\PICS\\A.BMP");
    EXPECT_EQ(MakeAbsolute(u"PICS/A.BMP"), current + u"\\PICS\\A.BMP");
  }
  for (const std::u16string_view absolute :
       {u"C:\\PICS\\.\\A.BMP", u"\\\\server\\share\\A.BMP", u"\\PICS\\A.BMP", u"", u"D:/A.BMP"}) {
    EXPECT_EQ(MakeAbsolute(absolute), absolute);
  }
}

TEST(DrivePartLength, IsTheDriveOrTheNetworkShare) {
  // clang-format off
  const struct {
    std::u16string_view path;
    std::u16string_view drive;
  } cases[] = {
      {u"C:\\PICS\\A.BMP", u"C:"},
      {u"\\PICS\\A.BMP", u""},
      {u"ab\\c:d", u"ab\\c:"},
      // Explorer hands over a file of a share without a drive letter so.
      {u"\\\\server\\share\\folder\\A.BMP", u"\\\\server\\share"},
      {u"\\\\server\\share\\A.BMP", u"\\\\server\\share"},
      {u"\\\\server\\share", u"\\\\server\\share"},
      {u"\\\\server", u"\\\\server"},
      {u"\\\\srv\\d:\\x:y", u"\\\\srv\\d:"},
      {u"\\\\?\\UNC\\server\\share\\A.BMP", u"\\\\?\\UNC\\server\\share"},
      {u"\\\\.\\unc\\server\\share\\A.BMP", u"\\\\.\\unc\\server\\share"},
      {u"\\\\?\\C:\\PICS\\A.BMP", u"\\\\?\\C:"},
      {u"\\\\.\\C:\\A.BMP", u"\\\\.\\C:"},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(c.path.substr(0, DrivePartLength(c.path)), c.drive) << ToSystemText(c.path);
  }
  EXPECT_EQ(kPathSeparator, u'\\');
}

TEST(FileNameCaseKey, IsOneForNamesTheSystemTakesForOneFile) {
  // clang-format off
  const struct {
    std::u16string_view a;
    std::u16string_view b;
    bool one_file;
  } cases[] = {
      {u"abc.jpg", u"ABC.JPG", true},
      {u"\uFF21\uFF22\uFF23.jpg", u"\uFF41\uFF42\uFF43.jpg", true},  // full-width ABC, abc
      {u"\u00C9.jpg", u"\u00E9.jpg", true},                            // É, é
      {u"\u0391\u03A9.jpg", u"\u03B1\u03C9.jpg", true},                // ΑΩ, αω
      {u"\uD55C.jpg", u"\uD55C.JPG", true},                             // 한
      {u"sch\u00F6n.jpg", u"schon.jpg", false},
      {u"\uFF21.jpg", u"A.jpg", false},
      {u"a.jpg", u"b.jpg", false},
      {u"\U0001F600.jpg", u"\U0001F601.jpg", false},  // emoji: surrogate pairs
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(ToSystemText(c.a) + " / " + ToSystemText(c.b));
    EXPECT_EQ(FileNameCaseKey(c.a) == FileNameCaseKey(c.b), c.one_file);
    // The system's own comparison of file names agrees.
    const int compared = ::CompareStringOrdinal(
        reinterpret_cast<const wchar_t*>(c.a.data()), static_cast<int>(c.a.size()),
        reinterpret_cast<const wchar_t*>(c.b.data()), static_cast<int>(c.b.size()), TRUE);
    EXPECT_EQ(compared == CSTR_EQUAL, c.one_file);
  }
  EXPECT_EQ(FileNameCaseKey(u""), u"");
  EXPECT_EQ(FileNameCaseKey(u"\U0001F600"), u"\U0001F600");
}

TEST(ExecutableFolder, HoldsTheRunningProgram) {
  const std::u16string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), u'\\');
  EXPECT_EQ(LookUpEntry(folder + u"\\morvane_tests.exe"), u"morvane_tests.exe");
}

TEST(ReadWholeFile, ReadsRegularFilesUpToTheLimitAndRefusesTheRestAtOnce) {
  TempFolder temp;
  temp.AddFile("ten.ini", std::string(10, 'x'));
  temp.AddFile("big.ini", std::string(100000, 'x'));
  fs::create_directory(temp.path() / "folder.ini");
  const std::u16string base = PathText(temp.path());
  // A pipe with a server that never writes: a read of it would wait for ever.
  const wchar_t* pipe_name = L"\\\\.\\pipe\\morvane-read-whole-file";
  const HANDLE pipe =
      ::CreateNamedPipeW(pipe_name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 64, 64, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);

  // clang-format off
  const struct {
    std::u16string path;
    size_t max_bytes;
    FileRead status;
    size_t size;
  } cases[] = {
      {base + u"\\ten.ini", 10, FileRead::kRead, 10},
      {base + u"\\TEN.INI", 10, FileRead::kRead, 10},
      {base + u"\\ten.ini", 9, FileRead::kUnreadable, 0},
      {base + u"\\big.ini", 100000, FileRead::kRead, 100000},
      {base + u"\\big.ini", 99999, FileRead::kUnreadable, 0},
      {base + u"\\folder.ini", 100, FileRead::kUnreadable, 0},
      {base + u"\\missing.ini", 100, FileRead::kMissing, 0},
      {base + u"\\no\\such\\x.ini", 100, FileRead::kMissing, 0},
      {u"NUL", 100, FileRead::kUnreadable, 0},
      {PathText(pipe_name), 100, FileRead::kUnreadable, 0},
      {base + std::u16string(u"\\a\0b", 4), 100, FileRead::kUnreadable, 0},
  };
  // clang-format on
  for (const auto& c : cases) {
    const FileContent content = ReadWholeFile(c.path, c.max_bytes);
    EXPECT_EQ(content.status, c.status) << ToSystemText(c.path);
    EXPECT_EQ(content.bytes, std::string(c.size, 'x')) << ToSystemText(c.path);
  }
  ::CloseHandle(pipe);
}

// The figures of the memory a process may take, written by the test below
// when it runs in a process of its own inside a job, to the file that
// MORVANE_MEMORY_FIGURES names: the program's and the encoder library's.
TEST(MemoryAvailableToProcess, DISABLED_WritesItsFiguresForTheJobTest) {
  wchar_t file[MAX_PATH];
  ASSERT_GT(::GetEnvironmentVariableW(L"MORVANE_MEMORY_FIGURES", file, MAX_PATH), 0u);
  std::ofstream(file) << MemoryAvailableToProcess() << " " << savejpg::MemoryAvailable();
}

// A process in a job whose limit for each process, or for the whole job, is
// far below the machine's memory: both find the limit less what the
// process has committed.
TEST(MemoryAvailableToProcess, IsWithinTheLimitsOfItsJob) {
  constexpr uint64_t kMiB = uint64_t{1} << 20;
  TempFolder temp;
  wchar_t program[MAX_PATH];
  ASSERT_GT(::GetModuleFileNameW(nullptr, program, MAX_PATH), 0u);
  for (const DWORD flag : {JOB_OBJECT_LIMIT_PROCESS_MEMORY, JOB_OBJECT_LIMIT_JOB_MEMORY}) {
    const HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    ASSERT_NE(job, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = flag | JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    limits.ProcessMemoryLimit = limits.JobMemoryLimit = 512 * kMiB;
    ASSERT_TRUE(
        ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION kept{};
    if (!::QueryInformationJobObject(job, JobObjectExtendedLimitInformation, &kept, sizeof kept,
                                     nullptr) ||
        (kept.BasicLimitInformation.LimitFlags & flag) == 0) {
      ::CloseHandle(job);
      GTEST_SKIP() << "this system does not keep a job's memory limits (Wine 8 does not)";
    }
    const fs::path figures = temp / ("figures" + std::to_string(flag) + ".txt");
    ::SetEnvironmentVariableW(L"MORVANE_MEMORY_FIGURES", figures.c_str());
    std::wstring command = L"\"" + std::wstring(program) +
                           L"\" --gtest_also_run_disabled_tests "
                           L"--gtest_filter=MemoryAvailableToProcess.DISABLED_*";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(::CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                                 nullptr, nullptr, &startup, &child));
    EXPECT_TRUE(::AssignProcessToJobObject(job, child.hProcess));
    ::ResumeThread(child.hThread);
    EXPECT_EQ(::WaitForSingleObject(child.hProcess, 60000), WAIT_OBJECT_0);
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);
    ::CloseHandle(job);
    ::SetEnvironmentVariableW(L"MORVANE_MEMORY_FIGURES", nullptr);
    std::ifstream in(figures);
    uint64_t program_figure = 0, library_figure = 0;
    ASSERT_TRUE(in >> program_figure >> library_figure) << "flag " << flag;
    for (const uint64_t figure : {program_figure, library_figure}) {
      EXPECT_LE(figure, 512 * kMiB) << "flag " << flag;
      EXPECT_GT(figure, 256 * kMiB) << "flag " << flag;
    }
  }
}

TEST(IdentityOfFile, IsOneForEveryNameOfAFileAndNoneWhereNothingIs) {
  TempFolder temp;
  temp.AddFile("Picture One.jpg", "a");
  temp.AddFile("other.jpg", "a");
  ASSERT_TRUE(::CreateHardLinkW((temp.path() / "hard.BMP").c_str(),
                                (temp.path() / "Picture One.jpg").c_str(), nullptr));
  const std::u16string base = PathText(temp.path());

  const std::optional<FileIdentity> a = IdentityOfFile(base + u"\\Picture One.jpg");
  ASSERT_TRUE(a.has_value());
  for (const std::u16string& name : {base + u"\\hard.BMP", base + u"\\PICTURE ONE.JPG",
                                     ShortPath(temp.path() / "Picture One.jpg")}) {
    EXPECT_EQ(IdentityOfFile(name), a) << ToSystemText(name);
  }
  EXPECT_NE(IdentityOfFile(base + u"\\other.jpg"), a);
  EXPECT_FALSE(IdentityOfFile(base + u"\\missing.jpg").has_value());
  EXPECT_FALSE(IdentityOfFile(u"").has_value());
}

TEST(ReplaceFileAtomically, WritesWholeFileAndLeavesNoTemporary) {
  TempFolder temp;
  const std::u16string target = PathText(temp.path()) + u"\\Morvane.ini";
  ASSERT_TRUE(ReplaceFileAtomically(target, "first"));
  ASSERT_TRUE(ReplaceFileAtomically(target, "second\r\n"));
  EXPECT_EQ(ReadWholeFile(target, 100).bytes, "second\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(temp.path()), fs::directory_iterator()), 1);
  EXPECT_FALSE(ReplaceFileAtomically(PathText(temp.path()) + u"\\no\\such\\x.ini", "x"));
  // A folder of that name is not replaced.
  fs::create_directory(temp.path() / "folder.ini");
  EXPECT_FALSE(ReplaceFileAtomically(PathText(temp.path()) + u"\\folder.ini", "x"));
  EXPECT_EQ(std::distance(fs::directory_iterator(temp.path()), fs::directory_iterator()), 2);
}

size_t EntryCount(const fs::path& folder) {
  return static_cast<size_t>(
      std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(ReplaceFileAtomically, KeepsTheAttributesOfTheFileItReplaces) {
  TempFolder temp;
  const fs::path target = temp.path() / "Morvane.ini";
  test_support::WriteFile(target, "old");
  const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  ASSERT_TRUE(::SetFileAttributesW(target.c_str(), kept));
  // Wine keeps no "not indexed" flag.
  const DWORD before = ::GetFileAttributesW(target.c_str());
  ASSERT_EQ(before | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, kept);
  ASSERT_TRUE(ReplaceFileAtomically(PathText(target), "new"));
  EXPECT_EQ(::GetFileAttributesW(target.c_str()), before);
  EXPECT_EQ(test_support::ReadText(target), "new");
  EXPECT_EQ(EntryCount(temp.path()), 1u);
}

TEST(ReplaceFileAtomically, LeavesAReadOnlyFileAsItIs) {
  TempFolder temp;
  const fs::path target = temp.path() / "Morvane.ini";
  test_support::WriteFile(target, "old");
  ASSERT_TRUE(::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(ReplaceFileAtomically(PathText(target), "new"));
  EXPECT_EQ(test_support::ReadText(target), "old");
  EXPECT_EQ(EntryCount(temp.path()), 1u);
  ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
}

bool RunningOnWine() {
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// Runs a Unix program under Wine, which does not wait for it, and waits
// until `done` holds. False when it cannot be started or `done` never holds.
template <class Condition>
bool RunUnixProgram(const std::wstring& program, std::wstring arguments, Condition done) {
  std::wstring command = program + L" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW((L"Z:" + program).c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &process)) {
    return false;
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  for (int wait = 0; wait < 500; ++wait) {
    if (done()) return true;
    ::Sleep(10);
  }
  return false;
}

// Symbolic links made for a test, each to a target relative to its own
// folder: the system's own links where this user may make them; under
// Wine, which makes none, links of the Unix system below it, which Wine
// follows as Windows follows its own. Wine deletes the file such a link
// names rather than the link, so those are removed with the object, before
// the test's folder goes.
class SymbolicLinks {
 public:
  ~SymbolicLinks() {
    if (unix_links_.empty()) return;
    RunUnixProgram(L"/bin/rm", L"-f" + unix_links_, [&] {
      for (const fs::path& link : made_) {
        if (::GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
      }
      return true;
    });
  }

  // False when neither kind of link can be made.
  bool Make(const fs::path& target, const fs::path& link) {
    if (::CreateSymbolicLinkW(link.c_str(), target.c_str(),
                              SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
        ::GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) {
      system_links_ = true;
      return true;
    }
    const std::optional<std::wstring> unix_link = UnixName(link);
    if (!unix_link) return false;
    made_.push_back(link);
    unix_links_ += L" \"" + *unix_link + L"\"";
    return RunUnixProgram(L"/bin/ln",
                          L"-s \"" + target.generic_wstring() + L"\" \"" + *unix_link + L"\"",
                          [&] { return fs::exists(link); });
  }

  bool system_links() const { return system_links_; }

 private:
  static std::optional<std::wstring> UnixName(const fs::path& path) {
    using Convert = char*(CDECL*)(const wchar_t*);
    const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* const name = convert == nullptr ? nullptr : convert(path.c_str());
    if (name == nullptr) return std::nullopt;
    std::wstring wide;
    for (const char* at = name; *at != '\0'; ++at) wide += static_cast<wchar_t>(*at);
    ::HeapFree(::GetProcessHeap(), 0, name);
    return wide;
  }

  bool system_links_ = false;
  std::vector<fs::path> made_;
  std::wstring unix_links_;
};

TEST(ReplaceFileAtomically, WritesTheFileALinkNamesAndKeepsTheLink) {
  TempFolder temp;
  fs::create_directory(temp.path() / "real");
  test_support::WriteFile(temp.path() / "real" / "settings.ini", "old");
  SymbolicLinks links;
  if (!links.Make(L"real\\settings.ini", temp.path() / "Morvane.ini") ||
      !links.Make(L"Morvane.ini", temp.path() / "chain.ini")) {
    GTEST_SKIP() << "this system makes no symbolic links for this user";
  }
  ASSERT_TRUE(ReplaceFileAtomically(PathText(temp.path() / "Morvane.ini"), "new"));
  EXPECT_EQ(test_support::ReadText(temp.path() / "real" / "settings.ini"), "new");
  ASSERT_TRUE(ReplaceFileAtomically(PathText(temp.path() / "chain.ini"), "chained"));
  EXPECT_EQ(test_support::ReadText(temp.path() / "real" / "settings.ini"), "chained");
  EXPECT_EQ(EntryCount(temp.path()), 3u);
  EXPECT_EQ(EntryCount(temp.path() / "real"), 1u);
  // Wine sees no link that leads nowhere; Windows' own link to a missing
  // file makes that file.
  if (!links.system_links()) return;
  ASSERT_TRUE(links.Make(L"real\\made.ini", temp.path() / "dangling.ini"));
  ASSERT_TRUE(ReplaceFileAtomically(PathText(temp.path() / "dangling.ini"), "made"));
  EXPECT_EQ(test_support::ReadText(temp.path() / "real" / "made.ini"), "made");
  EXPECT_TRUE(fs::is_symlink(temp.path() / "dangling.ini"));
}

// The file's access rules (its DACL) as text.
std::wstring AccessRulesOf(const fs::path& file) {
  DWORD size = 0;
  ::GetFileSecurityW(file.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
  std::string descriptor(size, '\0');
  LPWSTR text = nullptr;
  if (size == 0 ||
      !::GetFileSecurityW(file.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), size,
                          &size) ||
      !::ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return L"(unreadable)";
  }
  std::wstring rules(text);
  ::LocalFree(text);
  return rules;
}

TEST(ReplaceFileAtomically, KeepsTheAccessRulesOfTheFileItReplaces) {
  // Wine keeps access rules as Unix permissions, which a replaced file does
  // not keep; only Windows shows this.
  if (RunningOnWine()) GTEST_SKIP() << "Wine keeps no access rules of a replaced file";
  TempFolder temp;
  const fs::path target = temp.path() / "Morvane.ini";
  test_support::WriteFile(target, "old");
  // Rules of its own, not the folder's: the owner may do all, everyone else
  // may only read.
  PSECURITY_DESCRIPTOR own = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(A;;FA;;;OW)(A;;FR;;;WD)", SDDL_REVISION_1, &own, nullptr));
  const bool set = ::SetFileSecurityW(target.c_str(), DACL_SECURITY_INFORMATION, own);
  ::LocalFree(own);
  ASSERT_TRUE(set);
  const std::wstring before = AccessRulesOf(target);
  ASSERT_TRUE(ReplaceFileAtomically(PathText(target), "new"));
  EXPECT_EQ(AccessRulesOf(target), before);
  EXPECT_EQ(test_support::ReadText(target), "new");
}

TEST(OpenLibraryInProgramFolder, OpensOnlyWhatLiesInTheProgramsFolder) {
  void* encoder = OpenLibraryInProgramFolder(kEncoderLibraryFileName);
  ASSERT_NE(encoder, nullptr);
  EXPECT_NE(FindEntryPoint(encoder, "SavetoJPEG"), nullptr);
  EXPECT_NE(FindEntryPoint(encoder, "SavetoJPEGW"), nullptr);
  EXPECT_TRUE(kEncoderTakesUtf16Paths);
  EXPECT_EQ(FindEntryPoint(encoder, "Missing"), nullptr);
  // A system library is found on the search path, never here.
  EXPECT_EQ(OpenLibraryInProgramFolder(u"version.dll"), nullptr);
  EXPECT_EQ(FindEntryPoint(nullptr, "SavetoJPEG"), nullptr);
}

}  // namespace
}  // namespace morvane
