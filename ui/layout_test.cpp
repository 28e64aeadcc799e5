// The layout table checked for consistency: the window's geometry as the
// program's users know it must follow from the rows.
#include "ui/layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace morvane {
namespace {

struct Box {
  int left, top, right, bottom;
};

// The control's box in the window's client area.
Box WindowBoxOf(const ControlLayout& row) {
  Box box{row.left, row.top, row.left + row.width, row.top + row.height};
  if (!row.parent.empty()) {
    const ControlLayout frame = *FindControlLayout(row.parent);
    box.left += frame.left;
    box.right += frame.left;
    box.top += frame.top;
    box.bottom += frame.top;
  }
  return box;
}

TEST(Form1Layout, EveryControlFitsItsContainerInWholePixels) {
  int lowest = 0;
  int rightmost = 0;
  for (const ControlLayout& row : kForm1Controls) {
    SCOPED_TRACE(std::string(row.name));
    for (int twips : {row.left, row.top, row.width, row.height}) {
      EXPECT_EQ(twips % kTwipsPerPixel, 0);
    }
    if (!row.parent.empty()) {
      const ControlLayout* frame = FindControlLayout(row.parent);
      ASSERT_NE(frame, nullptr);
      EXPECT_EQ(frame->kind, ControlKind::kFrame);
      EXPECT_LE(row.left + row.width, frame->width);
      EXPECT_LE(row.top + row.height, frame->height);
    }
    const Box box = WindowBoxOf(row);
    lowest = std::max(lowest, box.bottom);
    rightmost = std::max(rightmost, box.right);
  }
  EXPECT_EQ(lowest, 4050);     // Label9
  EXPECT_EQ(rightmost, 5535);  // Frame1, Frame2, Command1
  EXPECT_LE(lowest, kForm1Window.client_height);
  EXPECT_LE(rightmost, kForm1Window.client_width);
}

TEST(Form1Layout, FolderRowSitsOnFrame2) {
  const Box text1 = WindowBoxOf(*FindControlLayout("Text1"));
  const Box command2 = WindowBoxOf(*FindControlLayout("Command2"));
  const Box option1 = WindowBoxOf(*FindControlLayout("Option1"));
  const Box frame2 = WindowBoxOf(*FindControlLayout("Frame2"));
  EXPECT_EQ(command2.left, 5160);
  EXPECT_EQ(command2.top, 2880);
  EXPECT_EQ(text1.top, command2.top);
  EXPECT_LT(text1.right, command2.left);
  EXPECT_EQ(option1.left, 360);
  EXPECT_EQ(option1.top, 2520);
  EXPECT_GT(text1.top, frame2.top);
  EXPECT_LT(text1.bottom, frame2.bottom);
}

TEST(Form1Layout, QualityLabelsShareTheSliderRowAndBottomEdge) {
  const Box slider = WindowBoxOf(*FindControlLayout("Slider1"));
  for (const char* name : {"Label3", "Label6"}) {
    const Box label = WindowBoxOf(*FindControlLayout(name));
    EXPECT_EQ(label.bottom, slider.bottom) << name;
    EXPECT_LT(label.right, slider.left) << name;
  }
  // Low quality at the low end, high quality at the high end.
  EXPECT_LT(FindControlLayout("Label5")->left, FindControlLayout("Label1")->left);
  EXPECT_LT(FindControlLayout("Label1")->left, FindControlLayout("Label4")->left);
  EXPECT_LT(FindControlLayout("Label4")->left, FindControlLayout("Label2")->left);
}

TEST(Form1Layout, NamesAndTabIndicesAreUniqueAndGiveTheKeyboardOrder) {
  std::set<std::string_view> names;
  std::set<int> tab_indices;
  std::vector<const ControlLayout*> focusable;
  for (const ControlLayout& row : kForm1Controls) {
    EXPECT_TRUE(names.insert(row.name).second) << row.name;
    EXPECT_TRUE(tab_indices.insert(row.tab_index).second) << row.name;
    if (row.kind != ControlKind::kLabel && row.kind != ControlKind::kFrame) {
      focusable.push_back(&row);
    }
  }
  std::sort(focusable.begin(), focusable.end(),
            [](auto* a, auto* b) { return a->tab_index < b->tab_index; });
  std::vector<std::string_view> order;
  for (const ControlLayout* row : focusable) order.push_back(row->name);
  EXPECT_EQ(order, (std::vector<std::string_view>{"Command3", "Command1", "Check1", "Slider1",
                                                  "Option1", "Option2", "Command2", "Text1"}));
}

TEST(Form1Layout, ExactlyOneDefaultAndOneCancelButtonAndOneSelectedOption) {
  int defaults = 0, cancels = 0, selected = 0;
  for (const ControlLayout& row : kForm1Controls) {
    if (row.role == ButtonRole::kDefault) {
      ++defaults;
      EXPECT_EQ(row.name, "Command3");
    }
    if (row.role == ButtonRole::kCancel) {
      ++cancels;
      EXPECT_EQ(row.name, "Command1");
    }
    if (row.kind == ControlKind::kOptionButton && row.value == 1) ++selected;
  }
  EXPECT_EQ(defaults, 1);
  EXPECT_EQ(cancels, 1);
  EXPECT_EQ(selected, 1);
  EXPECT_LE(kSlider1.min, kSlider1.position);
  EXPECT_LE(kSlider1.position, kSlider1.max);
}

}  // namespace
}  // namespace morvane
