#include "app/failure_reasons.h"

#include "core/text.h"
#include "encoder/encoder_binding.h"
#include "platform/conventions.h"

namespace morvane {
namespace {

using R = EncoderResult;

// A reason in both languages: "<Japanese> / <English>".
struct Words {
  std::u16string_view ja;
  std::u16string_view en;
};

std::u16string Both(const Words& words) {
  return std::u16string(words.ja) + u" / " + std::u16string(words.en);
}

// What a refused bitmap is, and the detail that the result adds.
enum class Refusal { kNotABitmap, kUnsupported, kDamaged };

struct RefusedBitmap {
  R result;
  Refusal refusal;
  Words detail;  // empty when the kind says it all
};

constexpr RefusedBitmap kRefusedBitmaps[] = {
    {R::kTruncatedHeaders, Refusal::kNotABitmap, {u"途中で切れています", u"or cut short"}},
    {R::kNotABitmap, Refusal::kNotABitmap, {}},
    // Garbage after "BM" says this as often as a rare kind of bitmap does.
    {R::kUnknownHeaderSize,
     Refusal::kNotABitmap,
     {u"対応していない形式のヘッダーです", u"or its header is of a kind not supported"}},
    {R::kTooLarge,
     Refusal::kUnsupported,
     {u"幅か高さが 65500 ピクセルを超えています", u"wider or taller than 65500 pixels"}},
    {R::kBadBitCount, Refusal::kUnsupported, {u"1 ピクセルのビット数", u"its bits per pixel"}},
    {R::kUnknownCompression, Refusal::kUnsupported, {u"圧縮形式", u"its compression"}},
    {R::kUnsupportedCompression,
     Refusal::kUnsupported,
     {u"JPEG・PNG の埋め込み、Huffman または RLE24 の圧縮",
      u"embedded JPEG or PNG, Huffman or RLE24 compression"}},
    {R::kBadPlanes, Refusal::kDamaged, {u"プレーン数が 1 ではありません", u"planes is not 1"}},
    {R::kBadDimensions, Refusal::kDamaged, {u"幅か高さが正しくありません", u"bad width or height"}},
    {R::kCompressionMismatch,
     Refusal::kDamaged,
     {u"ビット数に合わない圧縮形式", u"a compression its bits per pixel cannot have"}},
    {R::kTopDownRle, Refusal::kDamaged, {u"上下が逆の RLE 圧縮", u"RLE stored top-down"}},
    {R::kBadMasks, Refusal::kDamaged, {u"色のマスクが正しくありません", u"bad colour masks"}},
    {R::kBadPaletteSize,
     Refusal::kDamaged,
     {u"パレットの色数が正しくありません", u"bad number of palette colours"}},
    {R::kPaletteTruncated,
     Refusal::kDamaged,
     {u"パレットが途中で切れています", u"its palette is cut short"}},
    {R::kBadPixelOffset,
     Refusal::kDamaged,
     {u"画素データの位置が正しくありません", u"bad position of its pixel data"}},
    {R::kPixelsTruncated,
     Refusal::kDamaged,
     {u"画素データが途中で切れています", u"its pixel data is cut short"}},
    {R::kBadPaletteIndex,
     Refusal::kDamaged,
     {u"パレットにない色の画素があります", u"a pixel names a colour its palette lacks"}},
    {R::kRlePastRow,
     Refusal::kDamaged,
     {u"RLE データが行からはみ出しています", u"RLE data runs past a row"}},
    {R::kRlePastImage,
     Refusal::kDamaged,
     {u"RLE データが画像からはみ出しています", u"RLE data runs past the image"}},
    {R::kRleTruncated,
     Refusal::kDamaged,
     {u"RLE データが途中で切れています", u"RLE data is cut short"}},
    {R::kBadProfile,
     Refusal::kDamaged,
     {u"カラープロファイルがファイルの外を指しています",
      u"its colour profile lies outside the file"}},
};

std::u16string RefusedReason(const RefusedBitmap& refused) {
  const Words& detail = refused.detail;
  switch (refused.refusal) {
    case Refusal::kNotABitmap:
      if (detail.ja.empty()) return Both({u"ビットマップではありません", u"not a bitmap"});
      return u"ビットマップではないか、" + std::u16string(detail.ja) + u" / not a bitmap, " +
             std::u16string(detail.en);
    case Refusal::kUnsupported:
      return u"対応していない種類のビットマップです (" + std::u16string(detail.ja) +
             u") / a kind of bitmap that is not supported (" + std::u16string(detail.en) + u")";
    case Refusal::kDamaged:
      return u"壊れたビットマップです (" + std::u16string(detail.ja) + u") / a damaged bitmap (" +
             std::u16string(detail.en) + u")";
  }
  return {};
}

// The JPEG could not be written, for the reason `why`: its path follows.
std::u16string UnwritableJpeg(const Words& why, std::u16string_view jpeg) {
  return u"JPEG を書き込めません (" + std::u16string(why.ja) + u") / cannot write the JPEG (" +
         std::u16string(why.en) + u"): " + std::u16string(jpeg);
}

// The reasons of the calling and file errors; empty for another result.
std::u16string CallReason(R result, std::u16string_view jpeg) {
  switch (result) {
    case R::kBadArgument:
      return Both({u"変換ライブラリが名前を受け付けません", u"the encoder refused the names"});
    case R::kSameFile:
      return Both({u"JPEG の名前がビットマップ自身です", u"the JPEG's name is the bitmap itself"}) +
             u": " + std::u16string(jpeg);
    case R::kCannotOpenSource:
      return Both({u"読み込めません (ファイルでないか、読む権限がありません)",
                   u"cannot be read (not a file, or no permission to read it)"});
    case R::kCannotCreateOutput:
      return UnwritableJpeg(
          {u"フォルダがないか、書き込めません", u"its folder is missing or not writable"}, jpeg);
    case R::kCannotWriteOutput:
      return UnwritableJpeg({u"書き込みエラー。ディスクがいっぱいかもしれません",
                             u"write error; the disk may be full"},
                            jpeg);
    case R::kCannotReplaceOutput:
      return UnwritableJpeg(
          {u"同じ名前のファイルを置き換えられません", u"the file of that name cannot be replaced"},
          jpeg);
    case R::kJpegLibraryFailed:
      return Both({u"JPEG を作れません (JPEG ライブラリのエラー)",
                   u"cannot make the JPEG (the JPEG library failed)"});
    case R::kOutOfMemory:
      return Both({u"画像が大きすぎてメモリが足りません",
                   u"the picture is too large for this computer's memory"});
    case R::kInternal:
      return Both({u"変換できません (内部エラー)", u"cannot convert (internal error)"});
    default:
      return {};
  }
}

}  // namespace

std::u16string NotFoundReason() { return Both({u"見つかりません", u"not found"}); }

std::u16string EncoderUnreachableReason() {
  const std::u16string library(kEncoderLibraryFileName);
  return u"変換ライブラリ " + library + u" を読み込めません / cannot load the encoder library " +
         library;
}

std::u16string CancelledReason() {
  return Both({u"キャンセルしたため変換していません", u"not converted: the batch was cancelled"});
}

std::u16string ReasonOfResult(int16_t result, std::u16string_view jpeg) {
  for (const RefusedBitmap& refused : kRefusedBitmaps) {
    if (static_cast<int16_t>(refused.result) == result) return RefusedReason(refused);
  }
  std::u16string reason = CallReason(static_cast<R>(result), jpeg);
  if (!reason.empty()) return reason;
  const uint64_t size = static_cast<uint64_t>(result < 0 ? -int64_t{result} : int64_t{result});
  // Written piece by piece, which the hardened Release build's -Wrestrict
  // accepts.
  std::u16string number = result < 0 ? u"-" : u"";
  number += DecimalText(size);
  std::u16string text = u"変換できません (結果 ";
  text += number;
  text += u") / cannot convert (result ";
  text += number;
  text += u")";
  return text;
}

std::u16string NotConvertedLine(std::u16string_view name, std::u16string_view reason) {
  return std::u16string(kProgramFileName) + u": " + std::u16string(name) + u": " +
         std::u16string(reason) + u"\n";
}

std::u16string NoBitmapNamedLine() {
  return std::u16string(kProgramFileName) +
         u": 変換するビットマップ (.BMP) の名前がありません / no bitmap (.BMP) named to convert\n";
}

}  // namespace morvane
