// The reasons said for the encoder's results: its header's values, each
// with words of its own.
#include "app/failure_reasons.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "encoder/encoder_binding.h"
#include "savejpg/savejpg.h"

namespace morvane {
namespace {

// The binding's names for the results are the library's values.
#define SAME_RESULT(binding, library) \
  static_assert(static_cast<int>(EncoderResult::binding) == (library), #binding)
SAME_RESULT(kConverted, SAVEJPG_OK);
SAME_RESULT(kBadArgument, SAVEJPG_ERR_ARGUMENT);
SAME_RESULT(kSameFile, SAVEJPG_ERR_SAME_FILE);
SAME_RESULT(kCannotOpenSource, SAVEJPG_ERR_OPEN_SOURCE);
SAME_RESULT(kCannotCreateOutput, SAVEJPG_ERR_CREATE_OUTPUT);
SAME_RESULT(kCannotWriteOutput, SAVEJPG_ERR_WRITE_OUTPUT);
SAME_RESULT(kCannotReplaceOutput, SAVEJPG_ERR_REPLACE_OUTPUT);
SAME_RESULT(kJpegLibraryFailed, SAVEJPG_ERR_ENCODER);
SAME_RESULT(kOutOfMemory, SAVEJPG_ERR_OUT_OF_MEMORY);
SAME_RESULT(kInternal, SAVEJPG_ERR_INTERNAL);
SAME_RESULT(kTruncatedHeaders, SAVEJPG_BMP_TRUNCATED);
SAME_RESULT(kNotABitmap, SAVEJPG_BMP_BAD_MAGIC);
SAME_RESULT(kUnknownHeaderSize, SAVEJPG_BMP_BAD_HEADER_SIZE);
SAME_RESULT(kBadPlanes, SAVEJPG_BMP_BAD_PLANES);
SAME_RESULT(kBadDimensions, SAVEJPG_BMP_BAD_DIMENSIONS);
SAME_RESULT(kTooLarge, SAVEJPG_BMP_TOO_LARGE);
SAME_RESULT(kBadBitCount, SAVEJPG_BMP_BAD_BIT_COUNT);
SAME_RESULT(kUnknownCompression, SAVEJPG_BMP_BAD_COMPRESSION);
SAME_RESULT(kUnsupportedCompression, SAVEJPG_BMP_UNSUPPORTED_COMPRESSION);
SAME_RESULT(kCompressionMismatch, SAVEJPG_BMP_COMPRESSION_MISMATCH);
SAME_RESULT(kTopDownRle, SAVEJPG_BMP_TOP_DOWN_RLE);
SAME_RESULT(kBadMasks, SAVEJPG_BMP_BAD_MASKS);
SAME_RESULT(kBadPaletteSize, SAVEJPG_BMP_BAD_PALETTE_SIZE);
SAME_RESULT(kPaletteTruncated, SAVEJPG_BMP_PALETTE_TRUNCATED);
SAME_RESULT(kBadPixelOffset, SAVEJPG_BMP_BAD_PIXEL_OFFSET);
SAME_RESULT(kPixelsTruncated, SAVEJPG_BMP_PIXELS_TRUNCATED);
SAME_RESULT(kBadPaletteIndex, SAVEJPG_BMP_BAD_PALETTE_INDEX);
SAME_RESULT(kRlePastRow, SAVEJPG_BMP_RLE_PAST_ROW);
SAME_RESULT(kRlePastImage, SAVEJPG_BMP_RLE_PAST_IMAGE);
SAME_RESULT(kRleTruncated, SAVEJPG_BMP_RLE_TRUNCATED);
SAME_RESULT(kBadProfile, SAVEJPG_BMP_BAD_PROFILE);
#undef SAME_RESULT

TEST(ReasonOfResult, EveryFailureTheLibraryGivesHasWordsOfItsOwn) {
  std::set<std::u16string> seen;
  auto expect_own_words = [&](int16_t result) {
    const std::u16string reason = ReasonOfResult(result, u"/out/a.jpg");
    EXPECT_EQ(reason.find(u"(結果 "), std::u16string::npos) << result;
    // Japanese, then English.
    EXPECT_NE(reason.find(u" / "), std::u16string::npos) << result;
    EXPECT_TRUE(seen.insert(reason).second) << result;
  };
  for (int16_t result = SAVEJPG_ERR_ARGUMENT; result <= SAVEJPG_ERR_INTERNAL; ++result) {
    expect_own_words(result);
  }
  for (int16_t result = SAVEJPG_BMP_TRUNCATED; result <= SAVEJPG_BMP_BAD_PROFILE; ++result) {
    expect_own_words(result);
  }
  EXPECT_EQ(ReasonOfResult(10, u"/out/a.jpg"),
            u"変換できません (結果 10) / cannot convert (result 10)");
}

}  // namespace
}  // namespace morvane
