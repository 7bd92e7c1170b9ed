#include <gtest/gtest.h>

#include "toolkit/button_layout.h"
#include "toolkit/button_palette.h"

namespace {

using namespace toolkit;

TEST(ButtonLayout, ImageAndCaptionAreCentredAsAPair) {
  const Box button{0, 0, 100, 40};
  const ButtonLayout l = LayOutButton(button, {32, 32}, {40, 12}, false);
  // 32 + 4 + 40 = 76 wide inside 92: starts at 4 + 8.
  EXPECT_EQ(l.image, (Box{12, 4, 44, 36}));
  EXPECT_EQ(l.caption, (Box{48, 14, 88, 26}));
}

TEST(ButtonLayout, WithoutImageTheCaptionAloneIsCentred) {
  const ButtonLayout l = LayOutButton({10, 10, 70, 30}, {0, 0}, {20, 10}, false);
  EXPECT_EQ(l.image.Width(), 0);
  EXPECT_EQ(l.caption, (Box{30, 15, 50, 25}));
}

TEST(ButtonLayout, PressedShiftsContentByOnePixel) {
  const ButtonLayout up = LayOutButton({0, 0, 100, 40}, {16, 16}, {30, 12}, false);
  const ButtonLayout down = LayOutButton({0, 0, 100, 40}, {16, 16}, {30, 12}, true);
  EXPECT_EQ(down.image.left, up.image.left + 1);
  EXPECT_EQ(down.image.top, up.image.top + 1);
  EXPECT_EQ(down.caption.left, up.caption.left + 1);
  EXPECT_EQ(down.caption.top, up.caption.top + 1);
}

TEST(ButtonLayout, TooWideContentStartsAtThePaddingAndCaptionIsClipped) {
  const ButtonLayout l = LayOutButton({0, 0, 60, 24}, {16, 16}, {80, 12}, false);
  EXPECT_EQ(l.image.left, kButtonPadding);
  EXPECT_EQ(l.caption.left, kButtonPadding + 16 + kImageCaptionGap);
  EXPECT_EQ(l.caption.right, 60 - kButtonPadding);
}

TEST(ButtonLayout, CaptionTallerThanTheButtonIsClampedInside) {
  const ButtonLayout l = LayOutButton({0, 0, 80, 16}, {0, 0}, {20, 30}, false);
  EXPECT_GE(l.caption.top, kButtonPadding);
  EXPECT_LE(l.caption.bottom, 16 - kButtonPadding);
}

TEST(ButtonPalette, DisabledOutranksPressedAndPressedOutranksHot) {
  EXPECT_EQ(ResolveVisualState({}), ButtonVisualState::Normal);
  EXPECT_EQ(ResolveVisualState({false, false, true, false, false}), ButtonVisualState::Hot);
  EXPECT_EQ(ResolveVisualState({false, true, true, false, false}), ButtonVisualState::Pressed);
  EXPECT_EQ(ResolveVisualState({true, true, true, true, true}), ButtonVisualState::Disabled);
}

TEST(ButtonPalette, EveryStateOfBothThemesLooksDifferentFromTheOthers) {
  const ButtonVisualState states[] = {ButtonVisualState::Normal, ButtonVisualState::Hot, ButtonVisualState::Pressed,
                                      ButtonVisualState::Disabled};
  for (auto colours : {&ResourceThemeColours, &DefaultThemeColours}) {
    for (auto a : states) {
      for (auto b : states) {
        if (a != b) {
          EXPECT_NE(colours(a).face, colours(b).face);
        }
      }
      // Text must stand out from its face.
      EXPECT_NE(colours(a).text, colours(a).face);
      EXPECT_NE(colours(a).border, colours(a).face);
    }
  }
}

TEST(ButtonPalette, ResourceThemeFaceDiffersFromThePanelItSitsOn) {
  EXPECT_NE(ResourceThemeColours(ButtonVisualState::Normal).face, MakeColour(197, 222, 255));
  EXPECT_EQ(MakeColour(197, 222, 255), 0xFFDEC5u);
}

TEST(ButtonPalette, DefaultOrFocusedButtonsHaveAThickerBorderUnlessDisabled) {
  EXPECT_EQ(BorderWidth({}), 1);
  EXPECT_EQ(BorderWidth({false, false, false, false, true}), 2);
  EXPECT_EQ(BorderWidth({false, false, false, true, false}), 2);
  EXPECT_EQ(BorderWidth({true, false, false, true, true}), 1);
}

}  // namespace
