// The Win32 platform layer, on a real file system (Windows or Wine). The
// texts that cross into the system are checked with the ANSI code page 932
// that the program's users have; tools/test-windows.sh runs Wine with it.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/resume_next.h"
#include "platform/command_line_win32.h"
#include "platform/conventions.h"
#include "platform/platform.h"
#include "system_memory.h"
#include "test_support/files.h"

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
  // A character the code page lacks becomes its default character.
  EXPECT_EQ(ToSystemText(u"\u0E01"), "?");
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

TEST(LookUpEntry, FailsOnPathsThatCannotBeLookedUp) {
  EXPECT_THROW(LookUpEntry(std::u16string(u"C:\\a\0b", 6)), StepFailure);
  EXPECT_THROW(LookUpEntry(u"C:\\" + std::u16string(300, u'a')), StepFailure);
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

TEST(DrivePartLength, RunsToTheFirstColon) {
  EXPECT_EQ(DrivePartLength(u"C:\\PICS\\A.BMP"), 2u);
  EXPECT_EQ(DrivePartLength(u"\\PICS\\A.BMP"), 0u);
  EXPECT_EQ(DrivePartLength(u"ab\\c:d"), 5u);
  EXPECT_EQ(kPathSeparator, u'\\');
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

TEST(OpenLibraryInProgramFolder, OpensOnlyWhatLiesInTheProgramsFolder) {
  void* encoder = OpenLibraryInProgramFolder(kEncoderLibraryFileName);
  ASSERT_NE(encoder, nullptr);
  EXPECT_NE(FindEntryPoint(encoder, "SavetoJPEG"), nullptr);
  EXPECT_EQ(FindEntryPoint(encoder, "Missing"), nullptr);
  // A system library is found on the search path, never here.
  EXPECT_EQ(OpenLibraryInProgramFolder(u"version.dll"), nullptr);
  EXPECT_EQ(FindEntryPoint(nullptr, "SavetoJPEG"), nullptr);
}

}  // namespace
}  // namespace morvane
