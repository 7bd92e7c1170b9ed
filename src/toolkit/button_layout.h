// Where a push button puts its image and its caption, platform free.
#pragma once

namespace toolkit {

struct Box {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool operator==(const Box& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};

struct Extent {
  int width = 0, height = 0;
};

struct ButtonLayout {
  Box image;    // empty when the button has no image
  Box caption;  // empty when the caption is empty
};

constexpr int kButtonPadding = 4;  // inside the border
constexpr int kImageCaptionGap = 4;

// Image left of the caption, the pair centred in the button; when they do
// not fit they start at the left padding and the caption is clipped at the
// right padding. A pressed button shifts its content one pixel right and down.
ButtonLayout LayOutButton(const Box& button, Extent image, Extent caption, bool pressed);

}  // namespace toolkit
