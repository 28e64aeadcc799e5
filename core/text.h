// Helpers on the program's texts: UTF-16, positions and lengths counted in
// 16-bit units.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace morvane {

// The text without its leading and trailing space characters (U+0020 only).
inline std::u16string TrimBlanks(std::u16string_view text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && text[first] == u' ') ++first;
  while (last > first && text[last - 1] == u' ') --last;
  return std::u16string(text.substr(first, last - first));
}

// Digits only, no sign and no blank: 85 gives "85".
inline std::u16string DecimalText(uint64_t value) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return digits;
}

// The text without its leading and trailing blanks and tabs.
inline std::u16string_view TrimBlanksAndTabs(std::u16string_view text) {
  auto blank_or_tab = [](char16_t ch) { return ch == u' ' || ch == u'\t'; };
  while (!text.empty() && blank_or_tab(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank_or_tab(text.back())) text.remove_suffix(1);
  return text;
}

template <class Char>
constexpr Char AsciiLower(Char ch) {
  return (ch >= Char('A') && ch <= Char('Z')) ? static_cast<Char>(ch - Char('A') + Char('a')) : ch;
}

// Equal when only the letter case of ASCII letters differs, the way Windows
// compares names, keys and sections. Works on program texts and on the
// system's narrow names alike.
template <class Char>
constexpr bool EqualIgnoringAsciiCase(std::basic_string_view<Char> a,
                                      std::basic_string_view<Char> b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}
inline bool EqualIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  return EqualIgnoringAsciiCase<char16_t>(a, b);
}

// The two halves of a UTF-16 surrogate pair.
constexpr bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// How many 16-bit units the character at `at` takes: 2 for a surrogate
// pair, 1 otherwise (a lone surrogate included).
constexpr size_t UnitsOfCharacterAt(std::u16string_view text, size_t at) {
  return IsHighSurrogate(text[at]) && at + 1 < text.size() && IsLowSurrogate(text[at + 1]) ? 2 : 1;
}

// Ends `path` with `separator` unless it already ends with one; the empty
// path becomes the separator alone.
template <class Char>
void EndWithSeparator(std::basic_string<Char>& path, Char separator) {
  if (path.empty() || path.back() != separator) path.push_back(separator);
}

// An ASCII literal as a program text, for tests and fixed texts.
inline std::u16string Ascii(std::string_view ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

}  // namespace morvane
