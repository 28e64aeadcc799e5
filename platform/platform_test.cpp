#include "platform/platform.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/step_failure.h"
#include "core/text.h"
#include "test_support/files.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

using test_support::TempFolder;

TEST(SystemText, RoundTripsEveryByteStringThroughUtf16) {
  const std::u16string text = u"変換完了 \U0001F600 a";
  EXPECT_EQ(FromSystemText(ToSystemText(text)), text);
  for (int byte = 0x80; byte <= 0xFF; ++byte) {
    const std::string narrow(1, static_cast<char>(byte));
    const std::u16string wide = FromSystemText(narrow);
    EXPECT_EQ(wide, std::u16string(1, static_cast<char16_t>(0xDC00 + byte))) << byte;
    EXPECT_EQ(ToSystemText(wide), narrow) << byte;
  }
  // clang-format off
  const struct {
    std::string_view narrow;
    std::u16string_view wide;
  } cases[] = {
      // Shift-JIS names: 写真 (whose CA 90 is valid UTF-8), テスト.bmp,
      // 日本.BMP, a half-width ｶﾅ.
      {"\x8E\xCA\x90\x5E", u"\xDC8E\u0290^"},
      {"\x83\x65\x83\x58\x83\x67.bmp", u"\xDC83\x65\xDC83X\xDC83g.bmp"},
      {"\x93\xFA\x96\x7B.BMP", u"\xDC93\xDCFA\xDC96{.BMP"},
      {"\xB6\xC5", u"\xDCB6\xDCC5"},
      // Latin-1 "é" between valid UTF-8 "é"s.
      {"\xC3\xA9\xE9\xC3\xA9", u"é\xDCE9é"},
      // An encoded surrogate, an overlong "/", a cut sequence, past U+10FFFF.
      {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},
      {"\xC0\xAF", u"\xDCC0\xDCAF"},
      {"\xE3\x81z", u"\xDCE3\xDC81z"},
      {"\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},
      // A pair whose low half lies in the escape range is a character.
      {"\xF0\x9F\x92\x80\xFF", u"\U0001F480\xDCFF"},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(FromSystemText(c.narrow), c.wide) << c.narrow;
    EXPECT_EQ(ToSystemText(c.wide), c.narrow) << c.narrow;
  }
  // Unpaired surrogates outside the escape range carry nothing.
  for (const char16_t unit : {u'\xD800', u'\xDBFF', u'\xDC00', u'\xDC7F', u'\xDD00', u'\xDFFF'}) {
    EXPECT_EQ(ToSystemText(std::u16string(1, unit) + u"z"), "\xEF\xBF\xBDz") << int{unit};
  }
  // U+D800 U+DC80 is a pair (U+10080); apart, each half is alone.
  EXPECT_EQ(ToSystemText(u"\xD800\xDC80"), "\xF0\x90\x82\x80");
  EXPECT_EQ(ToSystemText(u"\xD800z\xDC80"), "\xEF\xBF\xBDz\x80");
}

TEST(SystemText, ExactlyOnlyWhatReadsBackAsTheSameText) {
  // What reads back unchanged, carried bytes included, is converted.
  for (const std::u16string_view text : {u"", u"/出力 \U0001F600", u"caf\xDCE9", u"\xDCFFz"}) {
    EXPECT_EQ(ToSystemTextExactly(text), ToSystemText(text)) << ToSystemText(text);
  }
  // An unpaired surrogate would come back as U+FFFD; bytes carried one by
  // one that together are UTF-8 would come back as that character.
  for (const std::u16string_view text :
       {u"a\xD800", u"\xDBFFz", u"\xDC7F", u"\xDFFF", u"\xDCC3\xDCA9", u"\xDCE2\xDC82\xDCAC"}) {
    EXPECT_EQ(ToSystemTextExactly(text), std::nullopt) << ToSystemText(text);
  }
}

// Every answer under a memo, first and again from what it remembers, is
// the answer without one: exact names first, then the first entry in name
// order equal ignoring case, in the last component and in the folders.
TEST(LookUpMemo, AnswersAsLookUpWithoutOne) {
  TempFolder temp;
  const fs::path& root = temp.path();
  for (const char* file :
       {"B.bmp", "b.BMP", "b.bmp", "SUB/deep/x.bmp", "SUB/deepX.bmp", "Sub/y.bmp", "plain.txt"}) {
    fs::create_directories((root / file).parent_path());
    std::ofstream(root / file) << "x";
  }
  // Deep enough that the memo keeps only its first prefixes whole and takes
  // the rest up from the path asked just before.
  std::string deep = "D";
  for (int depth = 0; depth < 50; ++depth) {
    deep += depth % 2 == 0 ? "/folder-with-a-long-name" : "/FOLDER-with-a-long-name";
  }
  ASSERT_GT(deep.size(), 2 * 512u);
  std::string stored = deep;
  for (char& ch : stored) ch = AsciiLower(ch);
  fs::create_directories(root / stored);
  std::ofstream(root / stored / "z.bmp") << "x";
  std::vector<std::u16string> queries;
  for (const char* relative :
       {"b.bmp", "B.BMP", "b.Bmp", "B.bmp", "sub/DEEP/X.BMP", "sub/Y.BMP", "Sub/y.bmp", "SUB/y.bmp",
        "PLAIN.TXT/x", "none", "plain.txt/", "sub//deep"}) {
    queries.push_back(temp.Text() + u"/" + Ascii(relative));
  }
  for (size_t end = 0; end != std::string::npos; end = deep.find('/', end + 1)) {
    queries.push_back(temp.Text() + u"/" + Ascii(deep.substr(0, end)));
  }
  // A name in the deep folder after another path, then after a shorter one;
  // starts of a path asked before, one with a doubled "/" in it; a name that
  // goes on where the path asked before has a folder.
  const std::string doubled = "D//" + deep.substr(2);
  for (const std::string& relative : std::vector<std::string>{
           deep + "/Z.BMP", "b.bmp", deep + "/z.bmp", deep.substr(0, 700) + "/Z.BMP",
           stored + "/Z.BMP", doubled + "/Z.BMP", doubled.substr(0, doubled.find('/', 700)),
           doubled.substr(0, doubled.find('/', 300)), "SUB/deep/X.BMP", "SUB/deepX.BMP"}) {
    queries.push_back(temp.Text() + u"/" + Ascii(relative));
  }
  std::vector<std::u16string> without;
  for (const std::u16string& query : queries) without.push_back(LookUpEntry(query));
  EXPECT_EQ(without[1], u"B.bmp");
  EXPECT_EQ(without[5], u"");  // SUB, first in name order, holds no y.bmp
  EXPECT_EQ(without[without.size() - 10], u"z.bmp");
  EXPECT_EQ(without[without.size() - 1], u"deepX.bmp");

  const LookUpMemo memo;
  for (int round = 0; round < 2; ++round) {
    for (size_t i = 0; i < queries.size(); ++i) {
      EXPECT_EQ(LookUpEntry(queries[i]), without[i]) << ToSystemText(queries[i]) << " " << round;
    }
  }
}

// A memo answers from what it saw; once it ends, look-ups see the folders as
// they are, entries made since and exact names that now hide others alike.
TEST(LookUpMemo, EntriesMadeDuringItAreSeenAfterIt) {
  TempFolder temp;
  fs::create_directories(temp.path() / "SUB");
  std::ofstream(temp.path() / "a.bmp") << "x";
  std::ofstream(temp.path() / "SUB" / "x.bmp") << "x";
  {
    const LookUpMemo memo;
    EXPECT_EQ(LookUpEntry(temp.Text() + u"/A.BMP"), u"a.bmp");
    EXPECT_EQ(LookUpEntry(temp.Text() + u"/sub/X.BMP"), u"x.bmp");
    std::ofstream(temp.path() / "b.bmp") << "x";
    fs::create_directories(temp.path() / "sub");
    // An exact name is always asked of the file system.
    EXPECT_EQ(LookUpEntry(temp.Text() + u"/b.bmp"), u"b.bmp");
  }
  EXPECT_EQ(LookUpEntry(temp.Text() + u"/B.BMP"), u"b.bmp");
  EXPECT_EQ(LookUpEntry(temp.Text() + u"/sub/X.BMP"), u"");
  const LookUpMemo memo;
  EXPECT_EQ(LookUpEntry(temp.Text() + u"/B.BMP"), u"b.bmp");
  EXPECT_EQ(LookUpEntry(temp.Text() + u"/sub/X.BMP"), u"");
  EXPECT_EQ(LookUpEntry(temp.Text() + u"/SUB/X.BMP"), u"x.bmp");
}

TEST(LookUpEntry, GivesStoredNameMatchingEachComponentIgnoringCase) {
  TempFolder temp;
  fs::create_directories(temp.path() / "Pics" / "Sub Dir");
  std::ofstream(temp.path() / "Pics" / "Sub Dir" / "photo.bmp") << "x";
  const std::u16string base = temp.Text();
  EXPECT_EQ(LookUpEntry(base + u"/PICS/sub dir/PHOTO.BMP"), u"photo.bmp");
  EXPECT_EQ(LookUpEntry(base + u"/pics/SUB DIR"), u"Sub Dir");
  EXPECT_EQ(LookUpEntry(base + u"/Pics/Sub Dir/photo.bmp"), u"photo.bmp");
  EXPECT_EQ(LookUpEntry(base + u"/Pics/missing.bmp"), u"");
  EXPECT_EQ(LookUpEntry(base + u"/Pics/Sub Dir/photo.bmp/x"), u"");
  EXPECT_EQ(LookUpEntry(u""), u"");
  EXPECT_EQ(LookUpEntry(u"/"), u"/");
}

TEST(LookUpEntry, PrefersExactNameOverOtherCase) {
  TempFolder temp;
  std::ofstream(temp.path() / "a.BMP") << "x";
  std::ofstream(temp.path() / "A.bmp") << "x";
  EXPECT_EQ(LookUpEntry(temp.Text() + u"/A.bmp"), u"A.bmp");
  EXPECT_EQ(LookUpEntry(temp.Text() + u"/a.BMP"), u"a.BMP");
  EXPECT_EQ(LookUpEntry(temp.Text() + u"/A.BMP"), u"A.bmp");  // first in name order
}

TEST(LookUpEntry, FailsOnPathsThatCannotBeLookedUp) {
  EXPECT_THROW(LookUpEntry(std::u16string(u"/tmp/a\0b", 8)), StepFailure);
  EXPECT_THROW(LookUpEntry(u"/tmp/" + std::u16string(300, u'a')), StepFailure);
}

TEST(ReplaceFileAtomically, WritesWholeFileAndLeavesNoTemporary) {
  TempFolder temp;
  const std::u16string target = temp.Text() + u"/Morvane.ini";
  ASSERT_TRUE(ReplaceFileAtomically(target, "first"));
  ASSERT_TRUE(ReplaceFileAtomically(target, "second"));
  EXPECT_EQ(ReadWholeFile(target, 6).bytes, "second");
  EXPECT_EQ(std::distance(fs::directory_iterator(temp.path()), fs::directory_iterator()), 1);
  EXPECT_FALSE(ReplaceFileAtomically(temp.Text() + u"/no/such/folder/x.ini", "x"));
  EXPECT_EQ(ReadWholeFile(temp.Text() + u"/missing.ini", 6).status, FileRead::kMissing);
}

TEST(ReplaceFileAtomically, WritesTheFileALinkNamesAndKeepsTheLink) {
  TempFolder temp;
  const fs::path& folder = temp.path();
  fs::create_directory(folder / "sub");
  std::ofstream(folder / "real.ini") << "old";
  fs::permissions(folder / "real.ini", fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink("real.ini", folder / "Morvane.ini");
  // A chain whose relative links are each taken from their own folder.
  fs::create_symlink("sub/hop.ini", folder / "chain.ini");
  fs::create_symlink("../real.ini", folder / "sub" / "hop.ini");
  fs::create_symlink("made.ini", folder / "dangling.ini");
  fs::create_symlink("no/such/x.ini", folder / "nowhere.ini");

  ASSERT_TRUE(ReplaceFileAtomically(temp.Text() + u"/Morvane.ini", "new"));
  EXPECT_TRUE(fs::is_symlink(folder / "Morvane.ini"));
  EXPECT_EQ(ReadWholeFile(temp.Text() + u"/real.ini", 10).bytes, "new");
  EXPECT_EQ(fs::status(folder / "real.ini").permissions(),
            fs::perms::owner_read | fs::perms::owner_write);

  ASSERT_TRUE(ReplaceFileAtomically(temp.Text() + u"/chain.ini", "chained"));
  EXPECT_TRUE(fs::is_symlink(folder / "chain.ini"));
  EXPECT_TRUE(fs::is_symlink(folder / "sub" / "hop.ini"));
  EXPECT_EQ(ReadWholeFile(temp.Text() + u"/real.ini", 10).bytes, "chained");

  // A link to nothing yet: the file it names is made, in a folder that is there.
  ASSERT_TRUE(ReplaceFileAtomically(temp.Text() + u"/dangling.ini", "made"));
  EXPECT_TRUE(fs::is_symlink(folder / "dangling.ini"));
  EXPECT_EQ(ReadWholeFile(temp.Text() + u"/made.ini", 10).bytes, "made");
  EXPECT_FALSE(ReplaceFileAtomically(temp.Text() + u"/nowhere.ini", "x"));
  EXPECT_TRUE(fs::is_symlink(folder / "nowhere.ini"));

  // Nothing else was left: four links, real.ini, made.ini and sub, which
  // holds its link only.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 7);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder / "sub"), fs::directory_iterator()), 1);
}

TEST(IdentityOfFile, IsOneForEveryNameOfAFileAndNoneWhereNothingIs) {
  TempFolder temp;
  const fs::path& folder = temp.path();
  temp.AddFile("a.jpg", "a");
  temp.AddFile("other.jpg", "a");
  fs::create_hard_link(folder / "a.jpg", folder / "hard.BMP");
  fs::create_symlink("a.jpg", folder / "soft.BMP");
  fs::create_symlink("missing.jpg", folder / "dangling.BMP");
  ASSERT_EQ(::mkfifo((folder / "fifo.BMP").c_str(), 0600), 0);
  fs::create_directory(folder / "x");
  const std::u16string base = temp.Text();

  const std::optional<FileIdentity> a = IdentityOfFile(base + u"/a.jpg");
  ASSERT_TRUE(a.has_value());
  for (const char16_t* name : {u"/hard.BMP", u"/soft.BMP", u"/./x/../a.jpg"}) {
    EXPECT_EQ(IdentityOfFile(base + name), a) << ToSystemText(name);
  }
  EXPECT_NE(IdentityOfFile(base + u"/other.jpg"), a);
  EXPECT_TRUE(IdentityOfFile(base + u"/fifo.BMP").has_value());  // without waiting
  for (const std::u16string& nothing : {base + u"/missing.jpg", base + u"/dangling.BMP",
                                        std::u16string(), std::u16string(u"/tmp/a\0b", 8)}) {
    EXPECT_FALSE(IdentityOfFile(nothing).has_value()) << ToSystemText(nothing);
  }
}

TEST(ReadWholeFile, RefusesAtOnceWhatIsNotARegularFileOrIsTooLarge) {
  TempFolder temp;
  const fs::path& folder = temp.path();
  ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", folder / "zero");
  fs::create_directory(folder / "folder");
  std::ofstream(folder / "ten", std::ios::binary) << "0123456789";
  fs::create_symlink("ten", folder / "link");
  fs::create_symlink("nothing", folder / "dangling");

  // clang-format off
  const struct {
    const char* name;
    size_t max_bytes;
    FileRead status;
    std::string_view bytes;
  } cases[] = {
      {"fifo", 100, FileRead::kUnreadable, ""},
      {"zero", 100, FileRead::kUnreadable, ""},
      {"folder", 100, FileRead::kUnreadable, ""},
      {"ten", 9, FileRead::kUnreadable, ""},
      {"ten", 10, FileRead::kRead, "0123456789"},
      {"link", 10, FileRead::kRead, "0123456789"},
      {"dangling", 10, FileRead::kMissing, ""},
  };
  // clang-format on
  for (const auto& c : cases) {
    const FileContent content = ReadWholeFile(temp.Text() + u"/" + Ascii(c.name), c.max_bytes);
    EXPECT_EQ(content.status, c.status) << c.name;
    EXPECT_EQ(content.bytes, c.bytes) << c.name;
  }
  // The start of a file, by the same rule.
  for (const char* name : {"fifo", "zero", "folder", "dangling"}) {
    const FileStart start = ReadFileStart(temp.Text() + u"/" + Ascii(name), 4);
    EXPECT_EQ(start.bytes, "") << name;
    EXPECT_EQ(start.size, 0u) << name;
  }
  EXPECT_EQ(ReadFileStart(temp.Text() + u"/link", 4).bytes, "0123");
  EXPECT_EQ(ReadFileStart(temp.Text() + u"/link", 4).size, 10u);
  EXPECT_EQ(ReadFileStart(temp.Text() + u"/ten", 26).bytes, "0123456789");
}

// Sets or unsets an environment variable for a scope.
class EnvironmentChange {
 public:
  EnvironmentChange(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    Set(value);
  }
  ~EnvironmentChange() { Set(saved_ ? saved_->c_str() : nullptr); }
  EnvironmentChange(const EnvironmentChange&) = delete;
  EnvironmentChange& operator=(const EnvironmentChange&) = delete;
  void Set(const char* value) const {
    if (value == nullptr) {
      ::unsetenv(name_);
    } else {
      ::setenv(name_, value, 1);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

TEST(UserConfigFolder, IsAnAbsoluteXdgConfigHomeOrElseConfigInTheHomeFolder) {
  EnvironmentChange xdg("XDG_CONFIG_HOME", "/srv/conf//");
  EnvironmentChange home("HOME", "/home/someone");
  EXPECT_EQ(UserConfigFolder(), u"/srv/conf");
  for (const char* ignored : {"", "relative/conf", "~/conf"}) {
    xdg.Set(ignored);
    EXPECT_EQ(UserConfigFolder(), u"/home/someone/.config") << ignored;
  }
  xdg.Set(nullptr);
  EXPECT_EQ(UserConfigFolder(), u"/home/someone/.config");

  // Without an absolute HOME, the home folder the system keeps for the user.
  const passwd* entry = ::getpwuid(::geteuid());
  ASSERT_NE(entry, nullptr);
  const std::u16string from_database = FromSystemText(std::string(entry->pw_dir) + "/.config");
  home.Set(nullptr);
  EXPECT_EQ(UserConfigFolder(), from_database);
  home.Set("home/someone");
  EXPECT_EQ(UserConfigFolder(), from_database);
}

TEST(SystemConfigFolders, AreTheAbsoluteXdgConfigDirsInOrderOrElseEtcXdg) {
  EnvironmentChange dirs("XDG_CONFIG_DIRS", "/etc/xdg/xdg-desk//:relative::/etc/xdg:/");
  EXPECT_EQ(SystemConfigFolders(),
            (std::vector<std::u16string>{u"/etc/xdg/xdg-desk", u"/etc/xdg", u"/"}));
  for (const char* none : {"", ":", "relative:~/conf"}) {
    dirs.Set(none);
    EXPECT_EQ(SystemConfigFolders(), std::vector<std::u16string>{u"/etc/xdg"}) << none;
  }
  dirs.Set(nullptr);
  EXPECT_EQ(SystemConfigFolders(), std::vector<std::u16string>{u"/etc/xdg"});
}

TEST(FolderWritable, OnlyAFolderThisUserMayCreateFilesIn) {
  TempFolder temp;
  temp.AddFile("file");
  EXPECT_TRUE(FolderWritable(temp.Text()));
  EXPECT_FALSE(FolderWritable(temp.Text() + u"/file"));
  EXPECT_FALSE(FolderWritable(temp.Text() + u"/missing"));
}

TEST(CreateFolderWithParents, MakesEachMissingFolderPrivateAndKeepsExistingOnes) {
  TempFolder temp;
  temp.AddFile("file");
  fs::permissions(temp.path(), fs::perms::all);
  EXPECT_TRUE(CreateFolderWithParents(temp.Text() + u"/a/b/c"));
  EXPECT_TRUE(fs::is_directory(temp / "a/b/c"));
  EXPECT_EQ(fs::status(temp / "a").permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(temp.path()).permissions(), fs::perms::all);
  EXPECT_TRUE(CreateFolderWithParents(temp.Text() + u"/a/b"));
  EXPECT_FALSE(CreateFolderWithParents(temp.Text() + u"/file/sub"));
  EXPECT_FALSE(CreateFolderWithParents(temp.Text() + u"/file"));
}

// Each argument comes whole, any bytes included; joined, they give the text
// that decides between the window, the switches and a batch.
TEST(ProcessCommandLine, GivesEachArgumentWhole) {
  const char* argv[] = {"morvane", "/a b/x.BMP", "", "/\"c\".BMP", "caf\xe9.bmp"};
  const CommandLine command_line = ProcessCommandLine(5, argv);
  EXPECT_EQ(std::get<std::vector<std::u16string>>(command_line),
            (std::vector<std::u16string>{u"/a b/x.BMP", u"", u"/\"c\".BMP", u"caf\xDCE9.bmp"}));
  EXPECT_EQ(CommandLineText(command_line), u"/a b/x.BMP  /\"c\".BMP caf\xDCE9.bmp");
  EXPECT_EQ(CommandLineText(ProcessCommandLine(1, argv)), u"");
  EXPECT_EQ(CommandLineText(ProcessCommandLine(3, argv)), u"/a b/x.BMP ");
  EXPECT_EQ(CommandLineText(CommandLine(std::vector<std::u16string>{u""})), u"");
  EXPECT_EQ(CommandLineText(CommandLine(std::vector<std::u16string>{u"", u""})), u" ");
}

}  // namespace
TEST(KeepFreedMemoryForReuse, AFreedBlockIsTakenAgainWithoutNewPages) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' allocators have no such setting";
#elif !defined(__GLIBC__)
  GTEST_SKIP() << "not glibc";
#else
  ASSERT_TRUE(KeepFreedMemoryForReuse());
  const auto page_faults = [] {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
  };
  const size_t size = 16 << 20;  // 4096 pages
  const auto fill_and_free = [&] {
    char* block = static_cast<char*>(std::malloc(size));
    ASSERT_NE(block, nullptr);
    std::memset(block, 1, size);
    asm volatile("" : : "r"(block) : "memory");  // the block is used
    std::free(block);
  };
  fill_and_free();
  const long before = page_faults();
  fill_and_free();
  EXPECT_LT(page_faults() - before, 400);
#endif
}

}  // namespace morvane
