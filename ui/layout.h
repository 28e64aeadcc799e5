// The layout of Form1 as data: the window's caption and client size, and for
// every control its name, kind, container, caption, position and size in
// twips, tab index and initial state. The plain controls of Form1 start from
// this table and the desktop view places its widgets by it.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace morvane {

// 1/1440 inch; 15 twips are one pixel at 96 dots per inch.
inline constexpr int kTwipsPerPixel = 15;

enum class ControlKind {
  kTextBox,
  kFrame,
  kCommandButton,
  kOptionButton,
  kCheckBox,
  kSlider,
  kLabel,
};

// What pressing a key on the window does to a push button.
enum class ButtonRole {
  kNone,
  kDefault,  // Enter presses it
  kCancel,   // Esc presses it
};

struct ControlLayout {
  std::string_view name;
  ControlKind kind;
  std::string_view parent;      // empty: the window itself
  std::u16string_view caption;  // "&" marks the access key
  int left;                     // twips, from the parent's top-left corner
  int top;
  int width;
  int height;
  int tab_index;
  bool enabled;
  int value;  // option button 0/1, check box 0/1/2; 0 for the others
  ButtonRole role;
  bool credit_font;  // drawn in the credit font below
};

// Colours are 0x00BBGGRR; a set top bit names a system colour by number.
inline constexpr uint32_t kWhite = 0x00FFFFFF;
inline constexpr uint32_t kButtonFaceColour = 0x8000000F;  // COLOR_BTNFACE
inline constexpr uint32_t kSystemColourFlag = 0x80000000;

struct WindowLayout {
  std::u16string_view caption;
  int client_width;  // twips
  int client_height;
};

inline constexpr WindowLayout kForm1Window{u"Morvane <設定>", 5640, 4080};

// The quality slider's range and steps.
struct SliderLayout {
  int min;
  int max;
  int position;
  int small_change;  // arrow keys
  int large_change;  // Page Up, Page Down, a click on the track
};

inline constexpr SliderLayout kSlider1{1, 100, 85, 1, 5};

// The font of Label8 and Label9; the first family that is installed wins.
inline constexpr std::array<std::u16string_view, 3> kCreditFontFamilies{
    u"ＭＳ Ｐゴシック", u"VL PGothic", u"VL Gothic"};
inline constexpr double kCreditFontPoints = 9.75;
inline constexpr int kCreditFontWeight = 400;
inline constexpr bool kCreditFontItalic = true;

// The controls in the order of the window's description: each frame is
// followed by the controls inside it.
// clang-format off
inline constexpr std::array<ControlLayout, 18> kForm1Controls{{
    // name, kind, parent, caption, left, top, width, height, tab, enabled, value, role, credit
    {"Text1", ControlKind::kTextBox, "", u"", 495, 2880, 4575, 285, 17, false, 0, ButtonRole::kNone, false},
    {"Frame2", ControlKind::kFrame, "", u"保存場所", 120, 1920, 5415, 1455, 11, true, 0, ButtonRole::kNone, false},
    {"Command2", ControlKind::kCommandButton, "Frame2", u"...", 5040, 960, 285, 285, 14, false, 0, ButtonRole::kNone, false},
    {"Option2", ControlKind::kOptionButton, "Frame2", u"変換元ファイルと同じフォルダ", 240, 240, 2655, 375, 13, true, 1, ButtonRole::kNone, false},
    {"Option1", ControlKind::kOptionButton, "Frame2", u"指定したフォルダ", 240, 600, 2055, 255, 12, true, 0, ButtonRole::kNone, false},
    {"Frame1", ControlKind::kFrame, "", u"JPEG", 120, 120, 5415, 1695, 2, true, 0, ButtonRole::kNone, false},
    {"Check1", ControlKind::kCheckBox, "Frame1", u"プログレッシブJPEG", 240, 1200, 1935, 255, 3, true, 0, ButtonRole::kNone, false},
    {"Slider1", ControlKind::kSlider, "Frame1", u"", 1200, 360, 3495, 375, 4, true, 0, ButtonRole::kNone, false},
    {"Label2", ControlKind::kLabel, "Frame1", u"（低圧縮率）", 4320, 795, 975, 255, 10, true, 0, ButtonRole::kNone, false},
    {"Label1", ControlKind::kLabel, "Frame1", u"（高圧縮率）", 1680, 795, 975, 255, 9, true, 0, ButtonRole::kNone, false},
    {"Label3", ControlKind::kLabel, "Frame1", u"画質", 240, 480, 375, 255, 8, true, 0, ButtonRole::kNone, false},
    {"Label4", ControlKind::kLabel, "Frame1", u"高画質", 3720, 795, 615, 255, 7, true, 0, ButtonRole::kNone, false},
    {"Label5", ControlKind::kLabel, "Frame1", u"低画質", 1080, 795, 615, 255, 6, true, 0, ButtonRole::kNone, false},
    {"Label6", ControlKind::kLabel, "Frame1", u"85", 720, 480, 375, 255, 5, true, 0, ButtonRole::kNone, false},
    {"Command1", ControlKind::kCommandButton, "", u"ｷｬﾝｾﾙ(&C)", 4320, 3600, 1215, 375, 1, true, 0, ButtonRole::kCancel, false},
    {"Command3", ControlKind::kCommandButton, "", u"保存(&S)", 2925, 3600, 1215, 375, 0, true, 0, ButtonRole::kDefault, false},
    {"Label9", ControlKind::kLabel, "", u"© 2026 Morvane", 720, 3795, 2055, 255, 16, true, 0, ButtonRole::kNone, true},
    {"Label8", ControlKind::kLabel, "", u"Morvane Ver.1.26", 225, 3555, 2175, 255, 15, true, 0, ButtonRole::kNone, true},
}};
// clang-format on

// The row of `name` in kForm1Controls, or nullptr.
constexpr const ControlLayout* FindControlLayout(std::string_view name) {
  for (const ControlLayout& row : kForm1Controls) {
    if (row.name == name) return &row;
  }
  return nullptr;
}

}  // namespace morvane
