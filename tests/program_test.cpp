// The program run as a user runs it: copied with its encoder library into
// a folder of its own, given bitmap paths, without a display.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "test_support/bitmap.h"
#include "test_support/files.h"
#include "test_support/jpeg.h"
#include "test_support/other_user.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

using morvane::test_support::BecomeOtherUser;
using morvane::test_support::Bitmap24;
using morvane::test_support::Colour;
using morvane::test_support::CurrentFolderChange;
using morvane::test_support::DecodedJpeg;
using morvane::test_support::DecodeJpeg;
using morvane::test_support::GiveToOtherUser;
using morvane::test_support::LetEveryoneReach;
using morvane::test_support::Picture;
using morvane::test_support::Psnr;
using morvane::test_support::ReadFile;
using morvane::test_support::ReadText;
using morvane::test_support::TempFolder;
using morvane::test_support::WriteFile;

const std::string kFailureMessage = "変換完了\n変換に失敗しました。\n";

// The line on standard error that names a name not converted.
std::string NotConverted(const std::string& name, const std::string& reason) {
  return "morvane: " + name + ": " + reason + "\n";
}

// A smooth picture with some edges, which JPEG keeps well.
Picture TestPicture(int width, int height) {
  return {width, height, [width, height](int x, int y) {
            return Colour{static_cast<uint8_t>(x * 255 / width),
                          static_cast<uint8_t>(y * 255 / height),
                          static_cast<uint8_t>(x < width / 2 ? 40 : 200)};
          }};
}

// The JPEG file read back; throws when there is none or libjpeg cannot read it.
DecodedJpeg ReadJpeg(const fs::path& path) { return DecodeJpeg(ReadFile(path)); }

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Each test gets a folder with bin/ (the program and its library) and
// pics/ (the bitmaps).
class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(bin());
    fs::create_directories(pics());
    const fs::path build = MORVANE_BUILD_DIR;
    fs::copy_file(build / "morvane", bin() / "morvane");
    fs::copy_file(build / "libSaveJPG.so", bin() / "libSaveJPG.so");
  }
  fs::path bin() const { return root_ / "bin"; }
  fs::path pics() const { return root_ / "pics"; }

  void WriteSettings(const std::string& content) { WriteFile(bin() / "Morvane.ini", content); }

  // Runs the program without a display, the given arguments as its command
  // line. Its standard error goes to `err_fd` when one is given (and
  // run.err stays empty), otherwise to a file.
  RunResult Run(const std::vector<std::string>& args, int err_fd = -1) {
    const fs::path out_file = root_ / "stdout.txt";
    const fs::path err_file = root_ / "stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    if (err_fd >= 0) {
      posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
    } else {
      posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0644);
    }
    const std::string program = (bin() / "morvane").string();
    // Through the shell, the program is "$0" of its line.
    const std::string shell = "/bin/sh";
    const std::string dash_c = "-c";
    const std::string& started = shell_line_.empty() ? program : shell;
    std::vector<char*> argv;
    if (!shell_line_.empty()) {
      for (const std::string* text :
           {&shell, &dash_c, static_cast<const std::string*>(&shell_line_)}) {
        argv.push_back(const_cast<char*>(text->c_str()));
      }
    }
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> env_texts;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      if (text.rfind("DISPLAY=", 0) == 0 || text.rfind("WAYLAND_DISPLAY=", 0) == 0) continue;
      if (text.rfind("MORVANE_WORKERS=", 0) == 0) continue;
      env_texts.push_back(text);
    }
    if (!workers_.empty()) env_texts.push_back("MORVANE_WORKERS=" + workers_);
    env_texts.insert(env_texts.end(), extra_env_.begin(), extra_env_.end());
    std::vector<char*> env;
    for (std::string& text : env_texts) env.push_back(text.data());
    env.push_back(nullptr);

    RunResult result;
    pid_t pid = 0;
    // BecomeOtherUser and a resource limit cannot follow posix_spawn: the
    // child sets them itself.
    const bool forked = as_other_user_ || address_space_limit_ != 0;
    if (forked) {
      pid = ::fork();
      if (pid == 0) {
        const int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (as_other_user_ && !BecomeOtherUser().empty()) ::_exit(126);
        const struct rlimit limit = {address_space_limit_, address_space_limit_};
        if (address_space_limit_ != 0 && ::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(125);
        ::execve(started.c_str(), argv.data(), env.data());
        ::_exit(127);
      }
    }
    if (forked
            ? pid > 0
            : posix_spawn(&pid, started.c_str(), &actions, nullptr, argv.data(), env.data()) == 0) {
      int wait_status = 0;
      waitpid(pid, &wait_status, 0);
      result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = ReadText(out_file);
    if (err_fd < 0) result.err = ReadText(err_file);
    return result;
  }

  // Runs the program as Run does, with its standard error on a new
  // pseudo-terminal (`terminal`) or a pipe; run.err is what arrived there.
  RunResult RunWithErrorOn(bool terminal, const std::vector<std::string>& args) {
    int ends[2] = {-1, -1};  // read, write
    if (terminal) {
      if (::openpty(&ends[0], &ends[1], nullptr, nullptr, nullptr) != 0) return {};
    } else if (::pipe(ends) != 0) {
      return {};
    }
    RunResult result = Run(args, ends[1]);
    ::close(ends[1]);
    char buffer[4096];
    ssize_t got = 0;
    // With the writing end closed everywhere a pipe reads 0 and a
    // terminal fails with EIO.
    while ((got = ::read(ends[0], buffer, sizeof buffer)) > 0) {
      result.err.append(buffer, static_cast<size_t>(got));
    }
    ::close(ends[0]);
    return result;
  }

  TempFolder temp_;
  const fs::path& root_ = temp_.path();
  std::string workers_;                 // MORVANE_WORKERS for the program; unset when empty
  std::vector<std::string> extra_env_;  // "NAME=value" added to the environment
  bool as_other_user_ = false;          // run through BecomeOtherUser
  std::string shell_line_;              // when set, run by /bin/sh -c with this line
  rlim_t address_space_limit_ = 0;      // RLIMIT_AS of the program; 0: as this process has it
};

TEST_F(ProgramTest, ConvertsBesideSourcesUnderLongNames) {
  const Picture picture = TestPicture(64, 48);
  WriteFile(pics() / "Photo One.bmp", Bitmap24(picture));
  WriteFile(pics() / "second.BMP", Bitmap24(TestPicture(17, 5)));

  const RunResult run =
      Run({(pics() / "PHOTO ONE.BMP").string(), (pics() / "Second.BMP").string()});

  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "変換完了\n2個のファイルを変換しました。\nフォルダ：" + pics().string() +
                         "\n画質：85\n");
  const DecodedJpeg first = ReadJpeg(pics() / "Photo One.jpg");
  EXPECT_FALSE(first.progressive);
  EXPECT_GT(Psnr(first, picture), 30.0);
  EXPECT_GT(Psnr(ReadJpeg(pics() / "second.jpg"), TestPicture(17, 5)), 25.0);
  EXPECT_FALSE(fs::exists(bin() / "Morvane.ini"));  // a batch never writes settings
}

TEST_F(ProgramTest, WritesIntoChosenFolderWithStoredQualityAndProgressive) {
  const Picture picture = TestPicture(40, 40);
  WriteFile(pics() / "a.bmp", Bitmap24(picture));
  fs::create_directories(root_ / "out");
  WriteSettings("[Data]\r\nRate=95\r\nPrg=True \r\nFolder=" + (root_ / "out").string() +
                "\r\nSet=Y\r\n");

  const RunResult run = Run({(pics() / "a.BMP").string()});

  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "変換完了\n1個のファイルを変換しました。\nフォルダ：" +
                         (root_ / "out").string() + "\n画質：95\n");
  const DecodedJpeg decoded = ReadJpeg(root_ / "out" / "a.jpg");
  EXPECT_TRUE(decoded.progressive);
  EXPECT_GT(Psnr(decoded, picture), 35.0);
  EXPECT_FALSE(fs::exists(pics() / "a.jpg"));
}

// A batch that runs longer than a second on a terminal shows "変換中 k/n"
// on standard error, rewritten in place after "\r" with k growing, and
// blanks it out before the program ends; on a pipe or a file, nothing.
TEST_F(ProgramTest, ProgressLineOnlyWhenStandardErrorIsATerminal) {
  // One bitmap named again and again: one JPEG path, so the calls run one
  // after the other, together well past the one-second mark (about 3 s
  // here: 100 names took only just over a second once the coder got
  // faster).
  WriteFile(pics() / "big.bmp", Bitmap24(TestPicture(2400, 1800)));
  constexpr int kNames = 300;
  const std::vector<std::string> args(kNames, (pics() / "big.BMP").string());
  const std::string summary = "変換完了\n" + std::to_string(kNames) +
                              "個のファイルを変換しました。\nフォルダ：" + pics().string() +
                              "\n画質：85\n";

  const RunResult on_terminal = RunWithErrorOn(true, args);
  EXPECT_EQ(on_terminal.status, 0);
  EXPECT_EQ(on_terminal.out, summary);
  // The terminal turns each "\n" into "\r\n"; the program writes none.
  const std::string count = "/" + std::to_string(kNames);
  const std::regex line_shape("(\r変換中 (\\d+)" + count + ")+\r( +)\r");
  std::smatch whole;
  ASSERT_TRUE(std::regex_match(on_terminal.err, whole, line_shape)) << on_terminal.err;
  const std::regex one_line("\r変換中 (\\d+)" + count);
  int previous = -1;
  size_t widest = 0;
  for (std::sregex_iterator it(on_terminal.err.begin(), on_terminal.err.end(), one_line), end;
       it != end; ++it) {
    const int done = std::stoi((*it)[1]);
    EXPECT_GT(done, previous) << on_terminal.err;
    EXPECT_LE(done, kNames);
    previous = done;
    widest = std::max(widest, static_cast<size_t>(it->length() - 1));
  }
  EXPECT_GE(whole[3].length(), widest);

  const RunResult on_pipe = RunWithErrorOn(false, args);
  EXPECT_EQ(on_pipe.status, 0);
  EXPECT_EQ(on_pipe.out, summary);
  EXPECT_EQ(on_pipe.err, "");
  const RunResult on_file = Run(args);
  EXPECT_EQ(on_file.status, 0);
  EXPECT_EQ(on_file.out, summary);
  EXPECT_EQ(on_file.err, "");
}

// A FIFO named like a bitmap fails at once, as an unreadable bitmap does:
// nothing opens it in a way that waits for a writer.
TEST_F(ProgramTest, FifoNamedLikeABitmapFailsWithoutWaiting) {
  ASSERT_EQ(::mkfifo((pics() / "Pipe.BMP").c_str(), 0600), 0);
  const RunResult run = Run({(pics() / "Pipe.BMP").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, NotConverted((pics() / "Pipe.BMP").string(),
                                  "読み込めません (ファイルでないか、読む権限がありません) / "
                                  "cannot be read (not a file, or no permission to read it)") +
                         kFailureMessage);
}

TEST_F(ProgramTest, BadSourceLeavesExistingJpegUntouched) {
  WriteFile(pics() / "bad.bmp", "BM this is not a bitmap");
  WriteFile(pics() / "bad.jpg", "the user's earlier JPEG");

  const RunResult run = Run({(pics() / "bad.BMP").string()});

  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, NotConverted((pics() / "bad.BMP").string(),
                                  "ビットマップではないか、対応していない形式のヘッダーです / "
                                  "not a bitmap, or its header is of a kind not supported") +
                         kFailureMessage);
  EXPECT_EQ(ReadText(pics() / "bad.jpg"), "the user's earlier JPEG");
  EXPECT_EQ(std::distance(fs::directory_iterator(pics()), fs::directory_iterator()), 2);
}

TEST_F(ProgramTest, SomeConvertedGivesStatusTwo) {
  WriteFile(pics() / "good.bmp", Bitmap24(TestPicture(8, 8)));
  WriteFile(pics() / "bad.bmp", "BM");
  const RunResult run =
      Run({(pics() / "bad.BMP").string(), (pics() / "good.BMP").string(), "missing.BMP"});
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_NE(run.out.find("1個のファイルを変換しました。"), std::string::npos);
  EXPECT_TRUE(fs::exists(pics() / "good.jpg"));
  EXPECT_FALSE(fs::exists(pics() / "bad.jpg"));
}

TEST_F(ProgramTest, MissingOrBrokenEncoderLibraryFailsEveryFile) {
  WriteFile(pics() / "a.bmp", Bitmap24(TestPicture(8, 8)));
  fs::remove(bin() / "libSaveJPG.so");
  const std::string unreachable = NotConverted(
      (pics() / "a.BMP").string(),
      "変換ライブラリ libSaveJPG.so を読み込めません / cannot load the encoder library "
      "libSaveJPG.so");
  RunResult run = Run({(pics() / "a.BMP").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, unreachable + kFailureMessage);

  fs::copy_file(fs::path(MORVANE_BUILD_DIR) / "libNoEntryPoint.so", bin() / "libSaveJPG.so");
  run = Run({(pics() / "a.BMP").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, unreachable + kFailureMessage);
  EXPECT_FALSE(fs::exists(pics() / "a.jpg"));
}

// A lone bitmap is coded on MORVANE_WORKERS threads, told to the library on
// the thread that makes the call (at most 64, what the library takes).
TEST_F(ProgramTest, ALoneBitmapIsCodedOnTheThreadsTheWorkersAllow) {
  fs::remove(bin() / "libSaveJPG.so");
  fs::copy_file(fs::path(MORVANE_BUILD_DIR) / "libThreadsEncoder.so", bin() / "libSaveJPG.so");
  WriteFile(pics() / "a.bmp", Bitmap24(TestPicture(8, 8)));
  for (const auto& [workers, told] :
       std::vector<std::pair<std::string, std::string>>{{"1", "1"}, {"3", "3"}, {"100", "64"}}) {
    workers_ = workers;
    const RunResult run = Run({(pics() / "a.BMP").string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadText(pics() / "a.jpg"), told) << "MORVANE_WORKERS=" << workers;
  }
}

const std::string kNoBitmapNamed =
    "morvane: 変換するビットマップ (.BMP) の名前がありません / no bitmap (.BMP) named to convert\n";

TEST_F(ProgramTest, NamesWithoutBitmapExtensionGiveFailureMessage) {
  // A bitmap under another name is not taken: the name decides.
  WriteFile(pics() / "a.txt", Bitmap24(TestPicture(8, 8)));
  WriteFile(pics() / "a.bmp.old", Bitmap24(TestPicture(8, 8)));
  const RunResult run = Run({(pics() / "a.txt").string(), (pics() / "a.bmp.old").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, kNoBitmapNamed + kFailureMessage);
  EXPECT_FALSE(fs::exists(pics() / "a.jpg"));
}

// Each argument is one whole name, as shells and file managers pass them:
// blanks, dots in folder names and double quotes stay part of it, and
// ".bmp" counts in any letter case. v1.0/A.BMP never reaches v1.BMP.
TEST_F(ProgramTest, EachArgumentConvertsAsOneWholeName) {
  const Picture picture = TestPicture(32, 24);
  WriteFile(pics() / "My Holiday 1.bmp", Bitmap24(picture));
  fs::create_directories(pics() / "v1.0");
  WriteFile(pics() / "v1.0" / "A.BMP", Bitmap24(picture));
  WriteFile(pics() / "v1.BMP", Bitmap24(TestPicture(8, 8)));
  WriteFile(pics() / "say \"cheese\".Bmp", Bitmap24(picture));
  WriteFile(pics() / "notes.txt", Bitmap24(picture));

  const RunResult run =
      Run({(pics() / "My Holiday 1.bmp").string(), (pics() / "v1.0" / "A.BMP").string(),
           (pics() / "say \"cheese\".Bmp").string(), (pics() / "notes.txt").string()});

  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "変換完了\n3個のファイルを変換しました。\nフォルダ：" + pics().string() +
                         "\n画質：85\n");
  EXPECT_GT(Psnr(ReadJpeg(pics() / "My Holiday 1.jpg"), picture), 30.0);
  EXPECT_GT(Psnr(ReadJpeg(pics() / "v1.0" / "A.jpg"), picture), 30.0);
  EXPECT_GT(Psnr(ReadJpeg(pics() / "say \"cheese\".jpg"), picture), 30.0);
  EXPECT_FALSE(fs::exists(pics() / "v1.jpg"));
  EXPECT_FALSE(fs::exists(pics() / "notes.jpg"));
}

// A glob in the shell: every bitmap of the current folder by its relative
// name, whatever its letter case, other files thrown away; here into the
// chosen folder, whose own name holds a dot and a blank.
TEST_F(ProgramTest, ShellGlobConvertsEveryBitmapIntoTheChosenFolder) {
  for (const char* name : {"My Scan.bmp", "a.bmp", "b.Bmp", "c.BMP"}) {
    WriteFile(pics() / name, Bitmap24(TestPicture(16, 12)));
  }
  WriteFile(pics() / "notes.txt", "not a picture");
  const fs::path out = root_ / "out v2.0";
  fs::create_directories(out);
  WriteSettings("[Data]\r\nFolder=" + out.string() + "\r\nSet=Y\r\n");

  CurrentFolderChange change(pics());
  shell_line_ = "exec \"$0\" *";
  const RunResult run = Run({});

  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "変換完了\n4個のファイルを変換しました。\nフォルダ：" + out.string() + "\n画質：85\n");
  std::vector<std::string> written;
  for (const fs::directory_entry& entry : fs::directory_iterator(out)) {
    EXPECT_NO_THROW(ReadJpeg(entry.path())) << entry.path();
    written.push_back(entry.path().filename().string());
  }
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, (std::vector<std::string>{"My Scan.jpg", "a.jpg", "b.jpg", "c.jpg"}));
}

TEST_F(ProgramTest, WithoutCommandLineOrDisplayExplainsAndWritesNothing) {
  const RunResult run = Run({});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cannot be shown"), std::string::npos);
  EXPECT_FALSE(fs::exists(bin() / "Morvane.ini"));
}

TEST_F(ProgramTest, HelpOrVersionAloneIsAnsweredOnStandardOutput) {
  RunResult run = Run({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "Morvane " MORVANE_VERSION "\n");
  EXPECT_EQ(run.err, "");

  // The usage as Linux programs give it: how to call, what it is, the
  // settings file this run uses (a portable copy's, beside it), where more
  // is told.
  run = Run({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("Usage: morvane [FILE.BMP]...\n"
                          "  or:  morvane --help | --version\n"
                          "\n"
                          "Morvane " MORVANE_VERSION "\n",
                          0),
            0u)
      << run.out;
  for (const std::string& part : std::vector<std::string>{
           "\n  MORVANE_WORKERS=N  ", "\n  XDG_CONFIG_HOME  ", "\n  DISPLAY, WAYLAND_DISPLAY\n",
           "\n  " + (bin() / "Morvane.ini").string() + "\n  ポータブルなコピー: ",
           "\n詳しくは / See morvane(1).\n"}) {
    EXPECT_NE(run.out.find(part), std::string::npos) << part << " in\n" << run.out;
  }
  EXPECT_EQ(run.err, "");

  // Anything more, or anything else, is a batch that finds no bitmap.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--help", "x.png"}, {"--version", ""}, {"/?"}, {"--HELP"}, {"-h"}}) {
    run = Run(args);
    EXPECT_EQ(run.status, 1) << args[0];
    EXPECT_EQ(run.out, "") << args[0];
    EXPECT_EQ(run.err, kNoBitmapNamed + kFailureMessage) << args[0];
  }
  EXPECT_FALSE(fs::exists(bin() / "Morvane.ini"));
}

// Installed for every user: a user who cannot write into the program's
// folder keeps the settings in their own folder, and the batch reads them
// there.
TEST_F(ProgramTest, ReadOnlyProgramFolderTakesSettingsFromTheUsersFolder) {
  LetEveryoneReach(root_);
  const Picture picture = TestPicture(16, 16);
  WriteFile(pics() / "a.bmp", Bitmap24(picture));
  GiveToOtherUser(pics());
  fs::create_directories(root_ / "home" / "config" / "Morvane");
  for (const char* folder : {"home", "home/config", "home/config/Morvane"}) {
    GiveToOtherUser(root_ / folder);
  }
  const fs::path settings = root_ / "home" / "config" / "Morvane" / "Morvane.ini";
  WriteFile(settings, "[Data]\nRate=95\n");
  fs::permissions(bin(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  extra_env_ = {"XDG_CONFIG_HOME=" + (root_ / "home" / "config").string()};
  as_other_user_ = true;

  RunResult run = Run({(pics() / "A.BMP").string()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "変換完了\n1個のファイルを変換しました。\nフォルダ：" + pics().string() +
                         "\n画質：95\n");
  EXPECT_GT(Psnr(ReadJpeg(pics() / "a.jpg"), picture), 35.0);

  run = Run({"--help"});
  EXPECT_NE(run.out.find("\n  " + settings.string() + "\n"), std::string::npos) << run.out;
  fs::permissions(bin(), fs::perms::owner_write, fs::perm_options::add);
}

TEST_F(ProgramTest, NamesUpToTheSystemsLimitLandInChosenFolder) {
  const fs::path chosen = root_ / "chosen";
  fs::create_directories(chosen);
  WriteSettings("[Data]\r\nFolder=" + chosen.string() + "\r\nSet=Y\r\n");
  // 253 and 255 characters with the extension; 255 bytes is the longest
  // name the system stores.
  const std::string stem_253(249, 'm');
  const std::string stem_255(251, 'n');
  WriteFile(pics() / (stem_253 + ".bmp"), Bitmap24(TestPicture(16, 8)));
  WriteFile(pics() / (stem_255 + ".bmp"), Bitmap24(TestPicture(8, 16)));

  const RunResult run =
      Run({(pics() / (stem_253 + ".BMP")).string(), (pics() / (stem_255 + ".BMP")).string()});

  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "変換完了\n2個のファイルを変換しました。\nフォルダ：" + chosen.string() +
                         "\n画質：85\n");
  EXPECT_GT(Psnr(ReadJpeg(chosen / (stem_253 + ".jpg")), TestPicture(16, 8)), 25.0);
  EXPECT_GT(Psnr(ReadJpeg(chosen / (stem_255 + ".jpg")), TestPicture(8, 16)), 25.0);
  std::vector<std::string> beside_chosen;
  for (const fs::directory_entry& entry : fs::directory_iterator(root_)) {
    beside_chosen.push_back(entry.path().filename().string());
  }
  std::sort(beside_chosen.begin(), beside_chosen.end());
  EXPECT_EQ(beside_chosen,
            (std::vector<std::string>{"bin", "chosen", "pics", "stderr.txt", "stdout.txt"}));
}

TEST_F(ProgramTest, NamesThatAreNotUtf8AreConvertedUnderTheirOwnBytes) {
  const Picture picture = TestPicture(24, 16);
  // 写真/日本.bmp in Shift-JIS, named relative to the current folder.
  const fs::path folder = root_ / "\x8E\xCA\x90\x5E";
  fs::create_directories(folder);
  WriteFile(folder / "\x93\xFA\x96\x7B.bmp", Bitmap24(picture));
  // テスト.bmp in Shift-JIS, and a twin whose name holds U+FFFD where the
  // Shift-JIS name holds bytes that are not UTF-8.
  const std::string sjis = "\x83\x65\x83\x58\x83\x67";
  const std::string twin = "\xEF\xBF\xBD\x65\xEF\xBF\xBDX\xEF\xBF\xBDg";
  WriteFile(pics() / (sjis + ".bmp"), Bitmap24(picture));
  WriteFile(pics() / (twin + ".bmp"), Bitmap24(picture));

  CurrentFolderChange change(folder);
  const RunResult run = Run({"\x93\xFA\x96\x7B.BMP", (pics() / (sjis + ".BMP")).string()});

  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "変換完了\n2個のファイルを変換しました。\nフォルダ：" + root_.string() +
                         "/\x8E\xCA\x90\x5E\n画質：85\n");
  EXPECT_GT(Psnr(ReadJpeg(folder / "\x93\xFA\x96\x7B.jpg"), picture), 30.0);
  EXPECT_GT(Psnr(ReadJpeg(pics() / (sjis + ".jpg")), picture), 30.0);
  EXPECT_FALSE(fs::exists(pics() / (twin + ".jpg")));
}

// Each name not converted is named on standard error with its reason, in
// name order although the calls run side by side; the summary is the same
// as without them.
TEST_F(ProgramTest, EachNameNotConvertedIsNamedWithItsReason) {
  WriteFile(pics() / "good.bmp", Bitmap24(TestPicture(8, 8)));
  WriteFile(pics() / "notes.bmp", "These are my notes, not a picture at all.");
  morvane::test_support::BmpFields jpeg_inside;
  jpeg_inside.bit_count = 0;
  jpeg_inside.compression = 4;  // BI_JPEG: a JPEG inside, for printers
  jpeg_inside.pixels = {0xFF, 0xD8, 0xFF, 0xD9};
  WriteFile(pics() / "inside.bmp", morvane::test_support::BuildBmp(jpeg_inside));
  std::vector<std::string> args;
  for (const char* name : {"missing.BMP", "notes.BMP", "good.BMP", "inside.BMP"}) {
    args.push_back((pics() / name).string());
  }

  const RunResult run = Run(args);

  EXPECT_EQ(run.status, 2);
  // The folder of the first name's output path, which is ".jpg" for a name
  // not found.
  EXPECT_EQ(run.out, "変換完了\n1個のファイルを変換しました。\nフォルダ：\n画質：85\n");
  EXPECT_EQ(run.err, NotConverted(args[0], "見つかりません / not found") +
                         NotConverted(args[1], "ビットマップではありません / not a bitmap") +
                         NotConverted(args[3],
                                      "対応していない種類のビットマップです (JPEG・PNG "
                                      "の埋め込み、Huffman または RLE24 の圧縮) / a kind of "
                                      "bitmap that is not supported (embedded JPEG or PNG, "
                                      "Huffman or RLE24 compression)"));
  EXPECT_EQ(std::distance(fs::directory_iterator(pics()), fs::directory_iterator()), 4);
}

// A chosen folder the user cannot write: the JPEG's path is named, and the
// failure message is the usual one.
TEST_F(ProgramTest, AnUnwritableOutputFolderIsNamedWithTheJpeg) {
  LetEveryoneReach(root_);
  const fs::path locked = root_ / "locked";
  fs::create_directories(locked);
  fs::permissions(locked, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  WriteFile(pics() / "a.bmp", Bitmap24(TestPicture(8, 8)));
  GiveToOtherUser(pics());
  WriteSettings("[Data]\nFolder=" + locked.string() + "\nSet=Y\n");
  as_other_user_ = true;

  const RunResult run = Run({(pics() / "A.BMP").string()});

  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, NotConverted((pics() / "A.BMP").string(),
                                  "JPEG を書き込めません (フォルダがないか、書き込めません) / "
                                  "cannot write the JPEG (its folder is missing or not "
                                  "writable): " +
                                      (locked / "a.jpg").string()) +
                         kFailureMessage);
  EXPECT_TRUE(fs::is_empty(locked));
}

// An installed copy (Morvane.installed beside it, as the packages put it)
// takes root's settings, like anyone's, from root's own folder, never from
// a Morvane.ini beside it; until root has one, from the system-wide file.
TEST_F(ProgramTest, AnInstalledCopyReadsOnlyTheUsersOwnOrTheSystemsSettings) {
  WriteFile(pics() / "a.bmp", Bitmap24(TestPicture(8, 8)));
  WriteSettings("[Data]\nRate=60\n");
  WriteFile(bin() / "Morvane.installed", "");
  const fs::path own = root_ / "config" / "Morvane" / "Morvane.ini";
  const fs::path system = root_ / "xdg" / "Morvane" / "Morvane.ini";
  fs::create_directories(own.parent_path());
  fs::create_directories(system.parent_path());
  WriteFile(system, "[Data]\nRate=70\n");
  extra_env_ = {"XDG_CONFIG_HOME=" + (root_ / "config").string(),
                "XDG_CONFIG_DIRS=" + (root_ / "missing").string() + ":" + (root_ / "xdg").string()};
  auto summary = [&](int quality) {
    return "変換完了\n1個のファイルを変換しました。\nフォルダ：" + pics().string() + "\n画質：" +
           std::to_string(quality) + "\n";
  };

  EXPECT_EQ(Run({(pics() / "a.BMP").string()}).out, summary(70));
  std::string help = Run({"--help"}).out;
  EXPECT_NE(help.find("\n  " + own.string() + "\n  (それまでは / until then: " + system.string() +
                      ")\n  インストールされたコピー: "),
            std::string::npos)
      << help;

  WriteFile(own, "[Data]\nRate=95\n");
  EXPECT_EQ(Run({(pics() / "a.BMP").string()}).out, summary(95));
  help = Run({"--help"}).out;
  EXPECT_NE(help.find("\n  " + own.string() + "\n  インストールされたコピー: "), std::string::npos)
      << help;

  // The same folder without the marker is a portable copy's.
  fs::remove(bin() / "Morvane.installed");
  EXPECT_EQ(Run({(pics() / "a.BMP").string()}).out, summary(60));
  EXPECT_EQ(ReadText(bin() / "Morvane.ini"), "[Data]\nRate=60\n");
  EXPECT_EQ(ReadText(system), "[Data]\nRate=70\n");
}

// The same batch run by the program held to one encoder call at a time and
// by the program on every core, each on a fresh copy of pics/ and out/.
class SideBySideProgramTest : public ProgramTest {
 protected:
  struct Effects {
    RunResult run;
    std::map<std::string, std::string> files;
  };

  Effects RunWith(const std::string& workers, const std::vector<std::string>& args) {
    // The folders as the test made them are kept aside on the first run and
    // copied back before every run.
    for (const char* folder : {"pics", "out"}) {
      const fs::path pristine = root_ / (std::string(folder) + "-pristine");
      if (!fs::exists(pristine)) {
        fs::create_directories(root_ / folder);
        fs::copy(root_ / folder, pristine, fs::copy_options::recursive);
      }
      fs::remove_all(root_ / folder);
      fs::copy(pristine, root_ / folder, fs::copy_options::recursive);
    }
    workers_ = workers;
    Effects effects{Run(args), {}};
    for (const char* folder : {"pics", "out"}) {
      if (!fs::exists(root_ / folder)) continue;
      for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root_ / folder)) {
        if (entry.is_regular_file()) {
          effects.files[entry.path().lexically_relative(root_).string()] = ReadText(entry.path());
        }
      }
    }
    return effects;
  }

  void ExpectSameSideBySide(const std::vector<std::string>& args) {
    const Effects expected = RunWith("1", args);
    for (int round = 0; round < 3; ++round) {
      const Effects got = RunWith("", args);
      EXPECT_EQ(got.run.status, expected.run.status) << "round " << round;
      EXPECT_EQ(got.run.out, expected.run.out) << "round " << round;
      EXPECT_EQ(got.run.err, expected.run.err) << "round " << round;
      EXPECT_EQ(got.files, expected.files) << "round " << round;
    }
  }
};

TEST_F(SideBySideProgramTest, FailuresAndSharedJpegPathsGiveTheSameFiles) {
  fs::create_directories(root_ / "out");
  WriteSettings("[Data]\r\nFolder=" + (root_ / "out").string() + "\r\nSet=Y\r\n");
  // Files as stored, with the picture's size; 0 x 0: a broken bitmap.
  const struct {
    const char* stored;
    int width, height;
  } files[] = {{"a/x.bmp", 1200, 900}, {"b/x.bmp", 9, 7},       {"a/one.bmp", 40, 30},
               {"b/broken.bmp", 0, 0}, {"c/X.bmp", 24, 24},     {"c/two.bmp", 64, 8},
               {"c/three.bmp", 9, 70}, {"c/four.bmp", 300, 200}};
  for (const auto& file : files) {
    fs::create_directories((pics() / file.stored).parent_path());
    if (file.width == 0) {
      WriteFile(pics() / file.stored, std::string("BM broken in the middle of the batch"));
    } else {
      WriteFile(pics() / file.stored, Bitmap24(TestPicture(file.width, file.height)));
    }
  }
  // a/x and b/x lead to out/x.jpg, c/X to out/X.jpg. Side by side, b/x, much
  // smaller, would be done long before a/x.
  std::vector<std::string> args;
  for (const char* typed : {"a/X.BMP", "b/x.BMP", "a/ONE.BMP", "b/broken.BMP", "b/missing.BMP",
                            "c/x.BMP", "c/two.BMP", "c/THREE.BMP", "c/four.BMP"}) {
    args.push_back((pics() / typed).string());
  }
  const Effects once = RunWith("1", args);
  EXPECT_EQ(once.run.status, 2) << once.run.err;
  EXPECT_TRUE(once.files.contains("out/x.jpg"));
  ExpectSameSideBySide(args);
}

// b.BMP is a link to a.jpg, an old bitmap that a.BMP's JPEG replaces: one
// call after the other, b.BMP is read after that, is no bitmap any more and
// fails alone. Side by side it must be read then too, however many workers.
TEST_F(ProgramTest, ABitmapThatIsAnotherNamesJpegIsReadAfterThatJpegReplacedIt) {
  const std::vector<uint8_t> picture = Bitmap24(TestPicture(1600, 1200));
  const std::vector<uint8_t> old_bitmap = Bitmap24(TestPicture(16, 12));
  for (const char* workers : {"1", "", "2", "8"}) {
    for (int round = 0; round < 3; ++round) {
      fs::remove_all(pics());
      fs::create_directories(pics());
      WriteFile(pics() / "a.BMP", picture);
      WriteFile(pics() / "a.jpg", old_bitmap);
      fs::create_symlink("a.jpg", pics() / "b.BMP");
      workers_ = workers;
      const RunResult run = Run({(pics() / "a.BMP").string(), (pics() / "b.BMP").string()});
      const std::string which =
          std::string("workers '") + workers + "', round " + std::to_string(round) + ": " + run.err;
      EXPECT_EQ(run.status, 2) << which;
      EXPECT_FALSE(fs::exists(pics() / "b.jpg")) << which;
      EXPECT_EQ(ReadJpeg(pics() / "a.jpg").width, 1600) << which;
    }
  }
}

// Under a limit on the address space each thread takes its share of it
// while it lives, converting or not (its stack and its allocator's heap):
// on 16 or 1000 workers a batch converts what one worker converts.
TEST_F(ProgramTest, UnderAnAddressSpaceLimitManyWorkersConvertWhatOneConverts) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's shadow memory takes more address space than the limit";
#endif
  const std::vector<uint8_t> bitmap = Bitmap24(TestPicture(1920, 1080));
  std::vector<std::string> args;
  for (int i = 1; i <= 12; ++i) {
    WriteFile(pics() / ("p" + std::to_string(i) + ".BMP"), bitmap);
    args.push_back((pics() / ("p" + std::to_string(i) + ".BMP")).string());
  }
  address_space_limit_ = rlim_t{150} << 20;
  for (const char* workers : {"1", "", "16", "1000"}) {
    workers_ = workers;
    const RunResult run = Run(args);
    EXPECT_EQ(run.status, 0) << "workers '" << workers << "': " << run.out << run.err;
    for (int i = 1; i <= 12; ++i) fs::remove(pics() / ("p" + std::to_string(i) + ".jpg"));
  }
}

}  // namespace
