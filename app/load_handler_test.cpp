#include "app/load_handler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "core/batch_progress.h"
#include "core/step_failure.h"
#include "core/text.h"
#include "platform/platform.h"
#include "test_support/files.h"
#include "test_support/recording_view.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

using test_support::RecordingView;

struct Call {
  std::u16string source;
  std::u16string dest;
  uint8_t quality;
  int16_t progressive;
};

// A batch run in a temporary folder with settings and an encoder of the
// test's choosing.
class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(temp_ / "Pics");
    // The folder chooser fails, as in a view without a display.
    view_.no_display = true;
  }

  void MakeFile(const std::string& relative) { temp_.AddFile(relative, "BM"); }

  StartUpOutcome Run(const CommandLine& command_line) {
    StartUpParts parts;
    parts.load_settings = [this](uint8_t& quality, int16_t& progressive) {
      quality = quality_;
      progressive = progressive_;
      return stored_;
    };
    parts.workers = workers_;
    parts.report_not_converted = [this](std::u16string_view lines) {
      reports_.emplace_back(lines);
    };
    parts.convert = [this](std::u16string& source, std::u16string& dest, uint8_t quality,
                           int16_t progressive, unsigned) -> int16_t {
      if (fake_encoder_) return fake_encoder_(source, dest);
      calls_.push_back({source, dest, quality, progressive});
      if (encoder_missing_) throw StepFailure("cannot open the encoder library");
      if (results_.empty()) return 0;
      const int16_t result = results_.front();
      results_.erase(results_.begin());
      return result;
    };
    return RunLoadHandler(form_, command_line, parts);
  }

  test_support::TempFolder temp_;
  const std::u16string base_ = temp_.Text();
  StoredSettings stored_;
  uint8_t quality_ = 85;
  int16_t progressive_ = 0;
  bool encoder_missing_ = false;
  unsigned workers_ = 1;
  std::function<int16_t(const std::u16string& source, const std::u16string& dest)> fake_encoder_;
  std::vector<int16_t> results_;
  std::vector<Call> calls_;
  std::vector<std::u16string> reports_;  // each call of report_not_converted
  RecordingView view_;
  Form1 form_{view_};
};

TEST_F(BatchTest, EmptyCommandLineShowsWindowAndConvertsNothing) {
  using Arguments = std::vector<std::u16string>;
  // No argument and a single empty one join to the empty text.
  for (const CommandLine& empty :
       {CommandLine(u""), CommandLine(Arguments{}), CommandLine(Arguments{u""})}) {
    EXPECT_EQ(Run(empty), StartUpOutcome::kShowWindow);
    EXPECT_TRUE(calls_.empty());
    EXPECT_TRUE(view_.messages.empty());
    EXPECT_EQ(form_.Quality, 85);
  }
  // Two empty arguments join to a blank: a batch that finds nothing.
  EXPECT_EQ(Run(Arguments{u"", u""}), StartUpOutcome::kNoneConverted);
  EXPECT_TRUE(calls_.empty());
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].text, u"変換に失敗しました。");
}

TEST_F(BatchTest, WritesBesideSourcesUnderLongNames) {
  MakeFile("Pics/Picture 1.bmp");
  MakeFile("Pics/b.BMP");
  progressive_ = -1;
  const auto outcome = Run(base_ + u"/PICS/PICTURE 1.BMP " + base_ + u"/pics/B.BMP");
  ASSERT_EQ(calls_.size(), 2u);
  EXPECT_EQ(calls_[0].source, base_ + u"/Pics/Picture 1.bmp");
  EXPECT_EQ(calls_[0].dest, base_ + u"/Pics/Picture 1.jpg");
  EXPECT_EQ(calls_[1].dest, base_ + u"/Pics/b.jpg");
  EXPECT_EQ(calls_[1].quality, 85);
  EXPECT_EQ(calls_[1].progressive, -1);
  EXPECT_EQ(outcome, StartUpOutcome::kAllConverted);
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].title, u"変換完了");
  EXPECT_EQ(view_.messages[0].icon, MessageIcon::kInformation);
  EXPECT_EQ(view_.messages[0].text,
            u"2個のファイルを変換しました。\r\nフォルダ：" + base_ + u"/Pics\r\n画質：85");
}

TEST_F(BatchTest, ChosenFolderTakesLongNameOfEachSource) {
  MakeFile("Pics/Picture 1.bmp");
  stored_.Set = u"Y";
  stored_.Folder = u"/out";
  Run(base_ + u"/pics/picture 1.BMP");
  ASSERT_EQ(calls_.size(), 1u);
  EXPECT_EQ(calls_[0].dest, u"/out/Picture 1.jpg");
  EXPECT_EQ(view_.messages[0].text, u"1個のファイルを変換しました。\r\nフォルダ：/out\r\n画質：85");

  // A folder ending in "/" doubles the separator; the summary shows it as stored.
  stored_.Folder = u"/out/";
  calls_.clear();
  view_.messages.clear();
  Run(base_ + u"/Pics/Picture 1.BMP");
  EXPECT_EQ(calls_[0].dest, u"/out//Picture 1.jpg");
  EXPECT_EQ(view_.messages[0].text,
            u"1個のファイルを変換しました。\r\nフォルダ：/out/\r\n画質：85");
}

TEST_F(BatchTest, EmptyChosenFolderWritesToRootAndShowsNoFolder) {
  MakeFile("Pics/a.bmp");
  stored_.Set = u"Y";
  Run(base_ + u"/Pics/A.BMP");
  EXPECT_EQ(calls_[0].dest, u"/a.jpg");
  EXPECT_EQ(view_.messages[0].text, u"1個のファイルを変換しました。\r\nフォルダ：\r\n画質：85");
}

TEST_F(BatchTest, LowerCaseSetSelectsSourceFolder) {
  MakeFile("Pics/a.bmp");
  stored_.Set = u"y";
  stored_.Folder = u"/out";
  Run(base_ + u"/Pics/a.BMP");
  EXPECT_EQ(calls_[0].dest, base_ + u"/Pics/a.jpg");
}

const std::u16string kNotFound = u"見つかりません / not found";

std::u16string NotConverted(const std::u16string& name, std::u16string_view reason) {
  return u"morvane: " + name + u": " + std::u16string(reason) + u"\n";
}

TEST_F(BatchTest, MissingNamesReachEncoderOnlyUnderSourceFolderRule) {
  // Not found, whatever the encoder then says of the empty source.
  results_ = {1};
  Run(base_ + u"/Pics/none.BMP");
  ASSERT_EQ(calls_.size(), 1u);
  EXPECT_EQ(calls_[0].source, u"");
  EXPECT_EQ(calls_[0].dest, u".jpg");
  EXPECT_EQ(reports_,
            std::vector<std::u16string>{NotConverted(base_ + u"/Pics/none.BMP", kNotFound)});

  // Without a tail the JPEG would land beside the chosen folder (/ou.jpg):
  // the name fails alone, uncounted, and the next one still converts.
  MakeFile("Pics/a.bmp");
  stored_.Set = u"Y";
  stored_.Folder = u"/output";
  calls_.clear();
  EXPECT_EQ(Run(base_ + u"/Pics/none.BMP " + base_ + u"/Pics/A.BMP"),
            StartUpOutcome::kSomeConverted);
  ASSERT_EQ(calls_.size(), 1u);
  EXPECT_EQ(calls_[0].dest, u"/output/a.jpg");
  EXPECT_EQ(view_.messages.back().text,
            u"1個のファイルを変換しました。\r\nフォルダ：/output\r\n画質：85");
  EXPECT_EQ(reports_.back(), NotConverted(base_ + u"/Pics/none.BMP", kNotFound));
}

TEST_F(BatchTest, NoBitmapNameGivesFailureMessage) {
  MakeFile("Pics/a.txt");
  MakeFile("Pics/a.bmp.jpg");
  EXPECT_EQ(Run(base_ + u"/Pics/a.txt " + base_ + u"/Pics/a.bmp.jpg"),
            StartUpOutcome::kNoneConverted);
  EXPECT_TRUE(calls_.empty());
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].text, u"変換に失敗しました。");
  EXPECT_EQ(view_.messages[0].title, u"変換完了");
  EXPECT_EQ(view_.messages[0].icon, MessageIcon::kError);
  EXPECT_EQ(reports_, std::vector<std::u16string>{
                          u"morvane: 変換するビットマップ (.BMP) の名前がありません / "
                          u"no bitmap (.BMP) named to convert\n"});
}

TEST_F(BatchTest, EncoderFailuresAreNotCounted) {
  MakeFile("Pics/a.bmp");
  MakeFile("Pics/b.bmp");
  const std::u16string names = base_ + u"/Pics/a.BMP " + base_ + u"/Pics/b.BMP";

  results_ = {3, 3};
  EXPECT_EQ(Run(names), StartUpOutcome::kNoneConverted);
  EXPECT_EQ(calls_.size(), 2u);
  EXPECT_EQ(form_.LastResult, 3);
  EXPECT_EQ(view_.messages.back().text, u"変換に失敗しました。");

  // The first fails, the second converts: the summary names the first's folder.
  results_ = {1, 0};
  EXPECT_EQ(Run(names), StartUpOutcome::kSomeConverted);
  EXPECT_EQ(form_.ConvertedCount, 1u);
  EXPECT_EQ(view_.messages.back().text,
            u"1個のファイルを変換しました。\r\nフォルダ：" + base_ + u"/Pics\r\n画質：85");

  // A result that does not fit a byte neither counts nor becomes LastResult.
  results_ = {-1, 300};
  EXPECT_EQ(Run(names), StartUpOutcome::kNoneConverted);
  EXPECT_EQ(form_.LastResult, 0);

  // Each failure is said once, in name order; a run that converts every
  // name says nothing.
  EXPECT_EQ(
      reports_,
      (std::vector<std::u16string>{
          NotConverted(base_ + u"/Pics/a.BMP",
                       u"読み込めません (ファイルでないか、読む権限がありません) / "
                       u"cannot be read (not a file, or no permission to read it)") +
              NotConverted(base_ + u"/Pics/b.BMP",
                           u"読み込めません (ファイルでないか、読む権限がありません) / "
                           u"cannot be read (not a file, or no permission to read it)"),
          NotConverted(base_ + u"/Pics/a.BMP",
                       u"変換ライブラリが名前を受け付けません / the encoder refused the names"),
          NotConverted(base_ + u"/Pics/a.BMP",
                       u"変換できません (結果 -1) / cannot convert (result -1)") +
              NotConverted(base_ + u"/Pics/b.BMP",
                           u"変換できません (結果 300) / cannot convert (result 300)")}));
  results_ = {0, 0};
  Run(names);
  EXPECT_EQ(reports_.size(), 3u);
}

TEST_F(BatchTest, MissingEncoderEndsWithFailureMessage) {
  MakeFile("Pics/a.bmp");
  encoder_missing_ = true;
  EXPECT_EQ(Run(base_ + u"/Pics/a.BMP"), StartUpOutcome::kNoneConverted);
  EXPECT_EQ(view_.messages.back().text, u"変換に失敗しました。");
  EXPECT_EQ(reports_, std::vector<std::u16string>{NotConverted(
                          base_ + u"/Pics/a.BMP",
                          u"変換ライブラリ libSaveJPG.so を読み込めません / cannot load the "
                          u"encoder library libSaveJPG.so")});
}

// A view that cancels the batch once its first call has started; that call
// returns only then.
class CancellingView : public RecordingView {
 public:
  void WaitForBatch(BatchProgress& progress) override {
    while (!call_started.load()) std::this_thread::yield();
    progress.RequestCancel();
    cancelled.store(true);
    progress.Wait();
  }
  std::atomic<bool> call_started{false};
  std::atomic<bool> cancelled{false};
};

TEST(CancelledBatch, NamesEachNameNotConvertedAsCancelled) {
  test_support::TempFolder temp;
  std::u16string names;
  for (const char* name : {"a", "b", "c"}) {
    temp.AddFile(std::string(name) + ".bmp", "BM");
    names += temp.Text() + u"/" + Ascii(name) + u".BMP ";
  }
  names.pop_back();
  CancellingView view;
  Form1 form(view);
  StartUpParts parts;
  parts.load_settings = [](uint8_t& quality, int16_t&) {
    quality = 85;
    return StoredSettings{};
  };
  parts.workers = 1;
  parts.convert = [&](std::u16string&, std::u16string&, uint8_t, int16_t, unsigned) -> int16_t {
    view.call_started.store(true);
    while (!view.cancelled.load()) std::this_thread::yield();
    return 0;
  };
  std::vector<std::u16string> reports;
  parts.report_not_converted = [&](std::u16string_view lines) { reports.emplace_back(lines); };

  EXPECT_EQ(RunLoadHandler(form, names, parts), StartUpOutcome::kSomeConverted);
  const std::u16string cancelled =
      u"キャンセルしたため変換していません / not converted: the batch was cancelled";
  EXPECT_EQ(reports, std::vector<std::u16string>{NotConverted(temp.Text() + u"/b.BMP", cancelled) +
                                                 NotConverted(temp.Text() + u"/c.BMP", cancelled)});
  EXPECT_EQ(view.messages.back().text,
            u"1個のファイルを変換しました。\r\nフォルダ：" + temp.Text() + u"\r\n画質：85");
}

TEST_F(BatchTest, EveryNameIsConvertedAndCountedExactly) {
  stored_.Set = u"Y";
  stored_.Folder = u"/out";
  std::u16string names;
  for (int i = 1; i <= 300; ++i) {
    const std::string name = "p" + std::to_string(i) + ".bmp";
    MakeFile("Pics/" + name);
    names += base_ + u"/Pics/" + Ascii("P" + std::to_string(i)) + u".BMP ";
  }
  EXPECT_EQ(Run(names), StartUpOutcome::kAllConverted);
  ASSERT_EQ(calls_.size(), 300u);
  EXPECT_EQ(calls_[299].dest, u"/out/p300.jpg");
  EXPECT_EQ(calls_[199].dest, u"/out/p200.jpg");
  EXPECT_EQ(view_.messages[0].text,
            u"300個のファイルを変換しました。\r\nフォルダ：/out\r\n画質：85");
}

TEST_F(BatchTest, RelativeNamesAreFoundInCurrentFolder) {
  MakeFile("Pics/a.bmp");
  {
    test_support::CurrentFolderChange change(temp_.path());
    Run(u"Pics/A.BMP");
  }
  ASSERT_EQ(calls_.size(), 1u);
  EXPECT_EQ(calls_[0].source, base_ + u"/Pics/a.bmp");
  EXPECT_EQ(calls_[0].dest, base_ + u"/Pics/a.jpg");
}

// What a batch leaves behind: every file under the test's folder with its
// bytes, the messages, the outcome and the form's counters.
struct BatchEffects {
  std::map<std::string, std::string> files;
  std::vector<std::u16string> messages;
  std::vector<std::u16string> reports;
  StartUpOutcome outcome;
  uint8_t last_result;
  uint64_t converted_count;
  std::vector<std::u16string> output_paths;
};

// The same batch one after the other and side by side, on an encoder that
// copies its source's bytes into the JPEG after a random pause, and answers by the source's name:
// "bad" 3, "odd" a result that does not fit a byte, "gone" a failure to reach it.
class SideBySideTest : public BatchTest {
 protected:
  void SetUp() override {
    BatchTest::SetUp();
    pristine_ = temp_.path().string() + "-pristine";
    fake_encoder_ = [this](const std::u16string& source, const std::u16string& dest) -> int16_t {
      std::this_thread::sleep_for(std::chrono::microseconds(RandomPause()));
      const std::string name = ToSystemText(source);
      if (name.find("gone") != std::string::npos) throw StepFailure("cannot reach the encoder");
      std::ifstream in(name, std::ios::binary);
      if (!in) return 2;
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      std::ofstream(ToSystemText(dest), std::ios::binary) << bytes;
      if (name.find("bad") != std::string::npos) return 3;
      if (name.find("odd") != std::string::npos) return 300;
      return 0;
    };
  }

  void TearDown() override { fs::remove_all(pristine_); }

  int RandomPause() {
    const std::lock_guard lock(mutex_);
    return std::uniform_int_distribution<int>(0, 3000)(random_);
  }

  void MakeFileHolding(const std::string& relative, const std::string& bytes) {
    fs::create_directories((temp_.path() / relative).parent_path());
    std::ofstream(temp_.path() / relative, std::ios::binary) << bytes;
  }

  // Runs the batch on a fresh copy of the folder `pristine_`, then removes
  // what it wrote.
  BatchEffects RunOn(unsigned workers, const std::u16string& command_line) {
    fs::remove_all(temp_.path());
    fs::copy(pristine_, temp_.path(), fs::copy_options::recursive);
    workers_ = workers;
    view_.messages.clear();
    reports_.clear();
    BatchEffects effects;
    effects.outcome = Run(command_line);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(temp_.path())) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      effects.files[entry.path().lexically_relative(temp_.path()).string()] = bytes;
    }
    for (const auto& message : view_.messages) effects.messages.push_back(message.text);
    effects.reports = reports_;
    effects.last_result = form_.LastResult;
    effects.converted_count = form_.ConvertedCount;
    effects.output_paths = form_.OutputPaths;
    return effects;
  }

  // Expects every side-by-side run to leave what the run one after the
  // other leaves.
  void ExpectSameAsOneAfterTheOther(const std::u16string& command_line) {
    fs::remove_all(pristine_);
    fs::copy(temp_.path(), pristine_, fs::copy_options::recursive);
    const BatchEffects expected = RunOn(1, command_line);
    ASSERT_FALSE(expected.files.empty());
    for (int round = 0; round < 8; ++round) {
      const BatchEffects got = RunOn(4, command_line);
      EXPECT_EQ(got.files, expected.files) << "round " << round;
      EXPECT_EQ(got.messages, expected.messages) << "round " << round;
      EXPECT_EQ(got.reports, expected.reports) << "round " << round;
      EXPECT_EQ(got.outcome, expected.outcome) << "round " << round;
      EXPECT_EQ(got.last_result, expected.last_result) << "round " << round;
      EXPECT_EQ(got.converted_count, expected.converted_count) << "round " << round;
      EXPECT_EQ(got.output_paths, expected.output_paths) << "round " << round;
    }
    fs::remove_all(pristine_);
  }

  fs::path pristine_;
  std::mutex mutex_;
  std::mt19937 random_{12345};
};

TEST_F(SideBySideTest, FailuresAmongNamesGiveTheSameResults) {
  std::u16string names;
  for (int i = 1; i <= 12; ++i) {
    const std::string stem = i == 3    ? "bad3"
                             : i == 7  ? "gone7"
                             : i == 11 ? "odd11"
                                       : "p" + std::to_string(i);
    if (i != 5) MakeFileHolding("Pics/" + stem + ".bmp", "bitmap " + stem);
    names += base_ + u"/Pics/" + Ascii(stem) + u".BMP ";
  }
  names.pop_back();
  // The 5th is missing; under the source-folder rule it still reaches the
  // encoder, with an empty source.
  ExpectSameAsOneAfterTheOther(names);

  stored_.Set = u"Y";
  stored_.Folder = base_ + u"/out";
  fs::create_directories(temp_.path() / "out");
  ExpectSameAsOneAfterTheOther(names);
}

TEST_F(SideBySideTest, LaterNameOfOneJpegPathIsTheOneLeft) {
  stored_.Set = u"Y";
  stored_.Folder = base_ + u"/out";
  fs::create_directories(temp_.path() / "out");
  std::u16string names;
  for (const char* folder : {"a", "b", "c", "d"}) {
    MakeFileHolding(std::string(folder) + "/x.bmp", std::string("bitmap in ") + folder);
    MakeFileHolding(std::string(folder) + "/y" + folder + ".bmp", "other");
    names += base_ + u"/" + Ascii(folder) + u"/X.BMP " + base_ + u"/" + Ascii(folder) + u"/y" +
             Ascii(folder) + u".BMP ";
  }
  names.pop_back();
  ExpectSameAsOneAfterTheOther(names);
}

}  // namespace
}  // namespace morvane
