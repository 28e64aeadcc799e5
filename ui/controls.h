// The controls of Form1 as plain objects: the properties that the handlers
// read and set (enabled, back colour, text, caption, value, position) with
// the rules the window relies on. Every change is reported to the
// control's observer, which lets a view mirror it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ui/layout.h"

namespace morvane {

class Control;

enum class ControlProperty { kEnabled, kBackColor, kText, kCaption, kValue, kPosition };

// Told about every property change of the controls it observes.
class ControlObserver {
 public:
  virtual void PropertyChanged(Control& control, ControlProperty property) = 0;

 protected:
  ~ControlObserver() = default;
};

class Control {
 public:
  // Starts in the state the layout row gives; `observer` must outlive it.
  Control(const ControlLayout& layout, ControlObserver& observer);
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const ControlLayout& layout() const { return layout_; }
  std::string_view name() const { return layout_.name; }
  ControlKind kind() const { return layout_.kind; }

  bool enabled() const { return enabled_; }
  void SetEnabled(bool enabled);

  // 0x00BBGGRR, or a system colour number with the top bit set.
  uint32_t back_color() const { return back_color_; }
  void SetBackColor(uint32_t color);

  // The text of a text box.
  const std::u16string& text() const { return text_; }
  void SetText(std::u16string_view text);

  // The caption of a label, button or frame.
  const std::u16string& caption() const { return caption_; }
  void SetCaption(std::u16string_view caption);

  // Option button: 1 selected, 0 not. Check box: 0 unchecked, 1 checked,
  // 2 grayed. Throws StepFailure for another value or another kind of
  // control. Selecting an option button does not deselect the others of
  // its group; the form does that.
  int value() const { return value_; }
  void SetValue(int value);

  // Slider only. Throws StepFailure for a position outside its range or
  // another kind of control; the slider then keeps its position.
  int position() const { return position_; }
  void SetPosition(int position);
  int min() const { return min_; }
  int max() const { return max_; }

 private:
  void Changed(ControlProperty property);

  const ControlLayout& layout_;
  ControlObserver& observer_;
  bool enabled_;
  uint32_t back_color_;
  std::u16string text_;
  std::u16string caption_;
  int value_;
  int position_ = 0;
  int min_ = 0;
  int max_ = 0;
};

}  // namespace morvane
