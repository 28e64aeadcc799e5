// The conversions of the settings file's texts into the program's values:
// the quality byte and the progressive flag, as the program's original
// language converts a text to a byte and to a boolean.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace morvane {

// `text` as an unsigned byte. Accepted: blanks and tabs around; a decimal
// number with an optional leading "+" or "-", digits with an optional
// fraction after ".", and an optional exponent ("E" or "e", optional sign,
// digits); or "&H" followed by hexadecimal digits, or "&O" followed by octal
// digits (letters in either case). A fraction is rounded to the nearest
// whole number, a half to the even neighbour (84.5 gives 84, 85.5 gives 86),
// exactly, on the decimal digits as written.
// Result: the value, or nothing when the text is not such a number or the
// rounded number lies outside 0 to 255 ("-0" and "-0.5" give 0, "-1" and
// "255.5" give nothing).
std::optional<uint8_t> TextToByte(std::u16string_view text);

// `text` as a 16-bit boolean (0 false, -1 true). Accepted: "True" and
// "False" in any letter case, or a number as TextToByte reads it but of any
// size (false when zero, true otherwise); blanks and tabs around allowed.
// Result: 0 or -1, or nothing for any other text, the empty one included.
std::optional<int16_t> TextToBoolean(std::u16string_view text);

}  // namespace morvane
