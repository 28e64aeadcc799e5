#include "app/load_handler.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

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

  StartUpOutcome Run(std::u16string_view command_line) {
    StartUpParts parts;
    parts.load_settings = [this](uint8_t& quality, int16_t& progressive) {
      quality = quality_;
      progressive = progressive_;
      return stored_;
    };
    parts.convert = [this](std::u16string& source, std::u16string& dest, uint8_t quality,
                           int16_t progressive) -> int16_t {
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
  std::vector<int16_t> results_;
  std::vector<Call> calls_;
  RecordingView view_;
  Form1 form_{view_};
};

TEST_F(BatchTest, EmptyCommandLineShowsWindowAndConvertsNothing) {
  EXPECT_EQ(Run(u""), StartUpOutcome::kShowWindow);
  EXPECT_TRUE(calls_.empty());
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_EQ(form_.Quality, 85);
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

TEST_F(BatchTest, MissingNamesReachEncoderOnlyUnderSourceFolderRule) {
  Run(base_ + u"/Pics/none.BMP");
  ASSERT_EQ(calls_.size(), 1u);
  EXPECT_EQ(calls_[0].source, u"");
  EXPECT_EQ(calls_[0].dest, u".jpg");

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
}

TEST_F(BatchTest, NoBitmapNameGivesFailureMessage) {
  MakeFile("Pics/a.bmp");
  EXPECT_EQ(Run(base_ + u"/Pics/a.bmp " + base_ + u"/Pics/a.Bmp"), StartUpOutcome::kNoneConverted);
  EXPECT_TRUE(calls_.empty());
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].text, u"変換に失敗しました。");
  EXPECT_EQ(view_.messages[0].title, u"変換完了");
  EXPECT_EQ(view_.messages[0].icon, MessageIcon::kError);
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
}

TEST_F(BatchTest, MissingEncoderEndsWithFailureMessage) {
  MakeFile("Pics/a.bmp");
  encoder_missing_ = true;
  EXPECT_EQ(Run(base_ + u"/Pics/a.BMP"), StartUpOutcome::kNoneConverted);
  EXPECT_EQ(view_.messages.back().text, u"変換に失敗しました。");
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

}  // namespace
}  // namespace morvane
