#include "settings/conversion.h"

#include <cstddef>
#include <string>

#include "core/text.h"

namespace morvane {
namespace {

// A number as written: the value is 0.digits times 10 to the power `point`,
// with `digits` free of leading and trailing zeros (empty for zero). The
// digits are kept as text so that rounding is exact.
struct DecimalNumber {
  bool negative = false;
  std::u16string digits;
  int64_t point = 0;
};

// Exponents past this size make every non-zero number far too large or too
// small for a byte; capping them keeps the arithmetic in range.
constexpr int64_t kExponentCap = 1'000'000;

bool IsDigit(char16_t ch) { return ch >= u'0' && ch <= u'9'; }

// Reads "E", an optional sign and at least one digit from `text` at `at`.
std::optional<int64_t> ReadExponent(std::u16string_view text, size_t& at) {
  if (at >= text.size() || AsciiLower(text[at]) != u'e') return 0;
  ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == u'+' || text[at] == u'-')) negative = text[at++] == u'-';
  if (at >= text.size() || !IsDigit(text[at])) return std::nullopt;
  int64_t exponent = 0;
  while (at < text.size() && IsDigit(text[at])) {
    if (exponent < kExponentCap) exponent = exponent * 10 + (text[at] - u'0');
    ++at;
  }
  return negative ? -exponent : exponent;
}

std::optional<DecimalNumber> ReadDecimal(std::u16string_view text) {
  DecimalNumber number;
  size_t at = 0;
  if (at < text.size() && (text[at] == u'+' || text[at] == u'-'))
    number.negative = text[at++] == u'-';
  size_t whole_digits = 0;
  size_t all_digits = 0;
  for (; at < text.size() && IsDigit(text[at]); ++at, ++whole_digits) number.digits += text[at];
  all_digits = whole_digits;
  if (at < text.size() && text[at] == u'.') {
    for (++at; at < text.size() && IsDigit(text[at]); ++at, ++all_digits) {
      number.digits += text[at];
    }
  }
  if (all_digits == 0) return std::nullopt;
  const std::optional<int64_t> exponent = ReadExponent(text, at);
  if (!exponent || at != text.size()) return std::nullopt;

  number.point = static_cast<int64_t>(whole_digits) + *exponent;
  const size_t first = number.digits.find_first_not_of(u'0');
  if (first == std::u16string::npos) {
    number.digits.clear();
    number.point = 0;
    return number;
  }
  number.point -= static_cast<int64_t>(first);
  number.digits.erase(0, first);
  number.digits.erase(number.digits.find_last_not_of(u'0') + 1);
  return number;
}

// "&H" with hexadecimal digits or "&O" with octal digits; values past the
// cap are all the same to the callers, so the value stops growing there.
std::optional<uint64_t> ReadRadixLiteral(std::u16string_view text) {
  if (text.size() < 3 || text[0] != u'&') return std::nullopt;
  const char16_t kind = AsciiLower(text[1]);
  const unsigned radix = kind == u'h' ? 16 : kind == u'o' ? 8 : 0;
  if (radix == 0) return std::nullopt;
  constexpr uint64_t kCap = uint64_t{1} << 40;
  uint64_t value = 0;
  for (const char16_t ch : text.substr(2)) {
    const char16_t lower = AsciiLower(ch);
    unsigned digit = 0;
    if (IsDigit(lower)) {
      digit = lower - u'0';
    } else if (lower >= u'a' && lower <= u'f') {
      digit = lower - u'a' + 10;
    } else {
      return std::nullopt;
    }
    if (digit >= radix) return std::nullopt;
    if (value < kCap) value = value * radix + digit;
  }
  return value;
}

enum class Fraction { kNone, kBelowHalf, kHalf, kAboveHalf };

// How the part after the decimal point compares with one half.
Fraction FractionOf(const DecimalNumber& number) {
  if (number.digits.empty()) return Fraction::kNone;
  if (number.point < 0) return Fraction::kBelowHalf;  // below 0.1
  const size_t first = static_cast<size_t>(number.point);
  if (first >= number.digits.size()) return Fraction::kNone;
  const char16_t digit = number.digits[first];
  if (digit != u'5') return digit < u'5' ? Fraction::kBelowHalf : Fraction::kAboveHalf;
  // Trailing zeros are gone, so any digit after the 5 makes it more.
  return first + 1 < number.digits.size() ? Fraction::kAboveHalf : Fraction::kHalf;
}

// The number rounded half to even; nothing when it exceeds 255 in size.
std::optional<unsigned> RoundedMagnitude(const DecimalNumber& number) {
  if (number.point > 3) return std::nullopt;  // 1000 or more
  unsigned whole = 0;
  for (int64_t i = 0; i < number.point; ++i) {
    const size_t index = static_cast<size_t>(i);
    whole = whole * 10 + (index < number.digits.size() ? number.digits[index] - u'0' : 0);
  }
  const Fraction fraction = FractionOf(number);
  if (fraction == Fraction::kAboveHalf || (fraction == Fraction::kHalf && whole % 2 == 1)) {
    ++whole;
  }
  if (whole > 255) return std::nullopt;
  return whole;
}

}  // namespace

std::optional<uint8_t> TextToByte(std::u16string_view text) {
  text = TrimBlanksAndTabs(text);
  if (const std::optional<uint64_t> literal = ReadRadixLiteral(text)) {
    if (*literal > 255) return std::nullopt;
    return static_cast<uint8_t>(*literal);
  }
  const std::optional<DecimalNumber> number = ReadDecimal(text);
  if (!number) return std::nullopt;
  const std::optional<unsigned> magnitude = RoundedMagnitude(*number);
  if (!magnitude || (number->negative && *magnitude != 0)) return std::nullopt;
  return static_cast<uint8_t>(*magnitude);
}

std::optional<int16_t> TextToBoolean(std::u16string_view text) {
  constexpr int16_t kTrue = -1;
  constexpr int16_t kFalse = 0;
  text = TrimBlanksAndTabs(text);
  if (EqualIgnoringAsciiCase(text, u"true")) return kTrue;
  if (EqualIgnoringAsciiCase(text, u"false")) return kFalse;
  if (const std::optional<uint64_t> literal = ReadRadixLiteral(text)) {
    return *literal != 0 ? kTrue : kFalse;
  }
  const std::optional<DecimalNumber> number = ReadDecimal(text);
  if (!number) return std::nullopt;
  return number->digits.empty() ? kFalse : kTrue;
}

}  // namespace morvane
