#include "settings/conversion.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace morvane {
namespace {

std::string Shown(std::u16string_view text) {
  std::string shown;
  for (const char16_t ch : text) shown += ch < 0x80 ? static_cast<char>(ch) : '?';
  return shown;
}

TEST(TextToByte, ReadsNumbersRoundingHalvesToEven) {
  // clang-format off
  const struct {
    std::u16string_view text;
    uint8_t value;
  } cases[] = {
      {u"85", 85},        {u" 85 ", 85},       {u"\t85\t", 85},    {u"085", 85},
      {u"0", 0},          {u"-0", 0},          {u"+7", 7},         {u"255", 255},
      {u"84.5", 84},      {u"85.5", 86},       {u"0.5", 0},        {u"1.5", 2},
      {u"-0.5", 0},       {u"-0.49", 0},       {u"84.51", 85},     {u"84.49999", 84},
      {u"84.500000000000000000001", 85},       {u"255.49", 255},   {u".5", 0},
      {u"85.", 85},       {u"8.5E1", 85},      {u"850e-1", 85},    {u"1E2", 100},
      {u"0.0000000000000000000000000001E28", 1},                   {u"0e999999999999", 0},
      {u"&H55", 85},      {u"&hff", 255},      {u"&O125", 85},     {u"&H000000000000055", 85},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(TextToByte(c.text), std::optional<uint8_t>(c.value)) << Shown(c.text);
  }
}

TEST(TextToByte, RefusesOtherTextsAndNumbersOutsideAByte) {
  // clang-format off
  const std::u16string_view cases[] = {
      u"",     u"  ",    u"abc",   u"300",  u"256",      u"255.5", u"-1",    u"-0.51",
      u"1000", u"85x",   u"8 5",   u"+",    u"-",        u".",     u"1E",    u"1E+",
      u"E2",   u"&H",    u"&H100", u"&O8",  u"&HG",      u"+&H55", u"1e999", u"1e9999999999999",
      u"85-",  u"1,000", u"(5)",   u"８５", u"85\u3000", u"0x55",
  };
  // clang-format on
  for (const std::u16string_view text : cases) {
    EXPECT_EQ(TextToByte(text), std::nullopt) << Shown(text);
  }
}

TEST(TextToBoolean, ReadsWordsAndNumbers) {
  // clang-format off
  const struct {
    std::u16string_view text;
    std::optional<int16_t> value;
  } cases[] = {
      {u"True", -1},  {u"TRUE", -1}, {u"true", -1}, {u" True ", -1}, {u"False", 0},
      {u"fAlSe", 0},  {u"0", 0},     {u"-0.0", 0},  {u"1", -1},      {u"-1", -1},
      {u"0.4", -1},   {u"300", -1},  {u"1e400", -1}, {u"&H0", 0},    {u"&H10", -1},
      {u"", std::nullopt},    {u"Fals", std::nullopt}, {u"Tru", std::nullopt},
      {u"yes", std::nullopt}, {u"True1", std::nullopt}, {u"T", std::nullopt},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(TextToBoolean(c.text), c.value) << Shown(c.text);
  }
}

}  // namespace
}  // namespace morvane
