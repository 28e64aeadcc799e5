#include "ui/controls.h"

#include "core/step_failure.h"

namespace morvane {

Control::Control(const ControlLayout& layout, ControlObserver& observer)
    : layout_(layout),
      observer_(observer),
      enabled_(layout.enabled),
      // Text1 starts in the next-to-source state, greyed like a button.
      back_color_(kButtonFaceColour),
      caption_(layout.caption),
      value_(layout.value) {
  if (layout.kind == ControlKind::kSlider) {
    position_ = kSlider1.position;
    min_ = kSlider1.min;
    max_ = kSlider1.max;
  }
}

void Control::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  Changed(ControlProperty::kEnabled);
}

void Control::SetBackColor(uint32_t color) {
  if (back_color_ == color) return;
  back_color_ = color;
  Changed(ControlProperty::kBackColor);
}

void Control::SetText(std::u16string_view text) {
  if (text_ == text) return;
  text_ = text;
  Changed(ControlProperty::kText);
}

void Control::SetCaption(std::u16string_view caption) {
  if (caption_ == caption) return;
  caption_ = caption;
  Changed(ControlProperty::kCaption);
}

void Control::SetValue(int value) {
  switch (kind()) {
    case ControlKind::kOptionButton:
      if (value != 0 && value != 1) throw StepFailure("option button value out of range");
      break;
    case ControlKind::kCheckBox:
      if (value < 0 || value > 2) throw StepFailure("check box value out of range");
      break;
    default:
      throw StepFailure("control has no value");
  }
  if (value_ == value) return;
  value_ = value;
  Changed(ControlProperty::kValue);
}

void Control::SetPosition(int position) {
  if (kind() != ControlKind::kSlider) throw StepFailure("control has no position");
  if (position < min_ || position > max_) throw StepFailure("slider position out of range");
  if (position_ == position) return;
  position_ = position;
  Changed(ControlProperty::kPosition);
}

void Control::Changed(ControlProperty property) { observer_.PropertyChanged(*this, property); }

}  // namespace morvane
