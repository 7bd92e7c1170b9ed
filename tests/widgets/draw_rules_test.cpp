#include <gtest/gtest.h>

#include <string>

#include "widgets/font_record_rules.h"
#include "widgets/static_draw_flags.h"

namespace {

using widgets::DrawFlagsFromStaticStyle;

constexpr std::uint32_t DT_CENTER_ = 0x1, DT_RIGHT_ = 0x2, DT_VCENTER_ = 0x4, DT_WORDBREAK_ = 0x10,
                        DT_SINGLELINE_ = 0x20, DT_NOPREFIX_ = 0x800;

TEST(StaticDrawFlags, LeftTextWrapsAtWords) { EXPECT_EQ(DrawFlagsFromStaticStyle(0x0), DT_WORDBREAK_); }

TEST(StaticDrawFlags, CentreWinsOverRight) {
  EXPECT_EQ(DrawFlagsFromStaticStyle(0x1), DT_CENTER_ | DT_WORDBREAK_);
  EXPECT_EQ(DrawFlagsFromStaticStyle(0x2), DT_RIGHT_ | DT_WORDBREAK_);
  EXPECT_EQ(DrawFlagsFromStaticStyle(0x3), DT_CENTER_ | DT_WORDBREAK_);
}

TEST(StaticDrawFlags, CentreImageDrawsOneVerticallyCentredLine) {
  EXPECT_EQ(DrawFlagsFromStaticStyle(0x200), DT_VCENTER_ | DT_SINGLELINE_);
  EXPECT_EQ(DrawFlagsFromStaticStyle(0x202), DT_RIGHT_ | DT_VCENTER_ | DT_SINGLELINE_);
}

TEST(StaticDrawFlags, OtherStyleBitsAddNothingAndPrefixesStayOn) {
  // SS_NOPREFIX, SS_SUNKEN, WS_VISIBLE|WS_CHILD|WS_GROUP and the rest.
  const std::uint32_t noise = 0x80 | 0x1000 | 0x50020000 | 0x100;
  EXPECT_EQ(DrawFlagsFromStaticStyle(noise | 0x1), DT_CENTER_ | DT_WORDBREAK_);
  EXPECT_EQ(DrawFlagsFromStaticStyle(noise) & DT_NOPREFIX_, 0u);
}

TEST(FontRecordRules, WeightComesFromTheBoldFlag) {
  EXPECT_EQ(widgets::WeightForBold(0), 400);
  EXPECT_EQ(widgets::WeightForBold(1), 700);
  EXPECT_EQ(widgets::WeightForBold(-5), 700);
}

TEST(FontRecordRules, FaceFieldKeepsAtMost31Bytes) {
  EXPECT_EQ(widgets::FaceFieldBytes(nullptr), "");
  EXPECT_EQ(widgets::FaceFieldBytes("\xCB\xCE\xCC\xE5"), "\xCB\xCE\xCC\xE5");
  const std::string longAscii(40, 'x');
  EXPECT_EQ(widgets::FaceFieldBytes(longAscii.c_str()), std::string(31, 'x'));
}

TEST(FontRecordRules, FaceFieldDropsADoubleByteCharacterSplitAtByte31) {
  const std::string face = std::string(30, 'x') + "\xCB\xCE\xCC\xE5";
  EXPECT_EQ(widgets::FaceFieldBytes(face.c_str()), std::string(30, 'x'));
  // Fifteen characters and one more: 32 bytes become 30.
  std::string chinese;
  for (int i = 0; i < 16; ++i) chinese += "\xCB\xCE";
  EXPECT_EQ(widgets::FaceFieldBytes(chinese.c_str()).size(), 30u);
}

TEST(FontRecordRules, HeightIsNegatedRoundedPointsAtTheDisplayResolution) {
  EXPECT_EQ(widgets::HeightForPoints(12, 96), -16);
  EXPECT_EQ(widgets::HeightForPoints(12, 120), -20);
  EXPECT_EQ(widgets::HeightForPoints(12, 144), -24);
  EXPECT_EQ(widgets::HeightForPoints(9, 96), -12);
  // 10 * 96 / 72 = 13.33 -> 13; 11 * 96 / 72 = 14.67 -> 15; halves go up.
  EXPECT_EQ(widgets::HeightForPoints(10, 96), -13);
  EXPECT_EQ(widgets::HeightForPoints(11, 96), -15);
  EXPECT_EQ(widgets::HeightForPoints(3, 108), -5);  // 4.5
  EXPECT_EQ(widgets::HeightForPoints(-3, 108), 5);  // -4.5, away from zero
  EXPECT_EQ(widgets::HeightForPoints(0, 96), 0);
}

TEST(FontRecordRules, HeightThatDoesNotFitGivesMulDivsFailureNegated) {
  EXPECT_EQ(widgets::HeightForPoints(2000000000, 96), 1);
  EXPECT_EQ(widgets::HeightForPoints(12, 0), 0);
}

}  // namespace
