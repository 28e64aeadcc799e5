#include <gtest/gtest.h>

#include "core/resume_next.h"
#include "core/text.h"

namespace morvane {
namespace {

TEST(RunStep, AbandonsFailedStepAndLeavesTargetUnassigned) {
  int target = 7;
  EXPECT_FALSE(RunStep([&] {
    int value = 1;
    throw StepFailure("index outside its table");
    target = value;
  }));
  EXPECT_EQ(target, 7);
  EXPECT_TRUE(RunStep([&] { target = 3; }));
  EXPECT_EQ(target, 3);
}

TEST(TrimBlanks, RemovesOnlySpaceCharacters) {
  EXPECT_EQ(TrimBlanks(u"  a b  "), u"a b");
  EXPECT_EQ(TrimBlanks(u"   "), u"");
  EXPECT_EQ(TrimBlanks(u"\ta\u3000"), u"\ta\u3000");
}

TEST(DecimalText, DigitsOnly) {
  EXPECT_EQ(DecimalText(0), u"0");
  EXPECT_EQ(DecimalText(85), u"85");
  EXPECT_EQ(DecimalText(300), u"300");
}

}  // namespace
}  // namespace morvane
