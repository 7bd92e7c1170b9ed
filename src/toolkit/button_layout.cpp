#include "toolkit/button_layout.h"

#include <algorithm>

namespace toolkit {

ButtonLayout LayOutButton(const Box& button, Extent image, Extent caption, bool pressed) {
  const Box inner{button.left + kButtonPadding, button.top + kButtonPadding, button.right - kButtonPadding,
                  button.bottom - kButtonPadding};
  const bool hasImage = image.width > 0 && image.height > 0;
  const bool hasCaption = caption.width > 0;
  const int gap = hasImage && hasCaption ? kImageCaptionGap : 0;
  const int imageWidth = hasImage ? image.width : 0;
  const int captionWidth = hasCaption ? caption.width : 0;
  const int content = imageWidth + gap + captionWidth;

  int x = inner.left + std::max(0, (inner.Width() - content) / 2);
  const int shift = pressed ? 1 : 0;
  x += shift;
  const int middle = (button.top + button.bottom) / 2 + shift;

  ButtonLayout layout;
  if (hasImage) {
    const int top = middle - image.height / 2;
    layout.image = {x, top, x + image.width, top + image.height};
    x += image.width + gap;
  }
  if (hasCaption) {
    const int height = std::min(caption.height, inner.Height());
    const int top = middle - height / 2;
    const int right = std::min(x + caption.width, inner.right);
    if (right > x) layout.caption = {x, top, right, top + height};
  }
  return layout;
}

}  // namespace toolkit
