#include "toolkit/button_palette.h"

namespace toolkit {

ButtonVisualState ResolveVisualState(const ButtonStateFlags& flags) {
  if (flags.disabled) return ButtonVisualState::Disabled;
  if (flags.pressed) return ButtonVisualState::Pressed;
  if (flags.hot) return ButtonVisualState::Hot;
  return ButtonVisualState::Normal;
}

ButtonColours ResourceThemeColours(ButtonVisualState state) {
  // Panel colour RGB(197,222,255); faces a little lighter so the buttons
  // stand out from it, darker blues for the border and pressed face.
  const Colour border = MakeColour(74, 126, 187);
  const Colour text = MakeColour(16, 37, 63);
  const Colour focus = MakeColour(30, 80, 160);
  switch (state) {
    case ButtonVisualState::Hot:
      return {MakeColour(255, 244, 204), MakeColour(230, 170, 60), text, focus};
    case ButtonVisualState::Pressed:
      return {MakeColour(255, 213, 140), MakeColour(194, 118, 30), text, focus};
    case ButtonVisualState::Disabled:
      return {MakeColour(214, 226, 240), MakeColour(160, 176, 196), MakeColour(128, 140, 156), focus};
    case ButtonVisualState::Normal:
      break;
  }
  return {MakeColour(228, 239, 255), border, text, focus};
}

ButtonColours DefaultThemeColours(ButtonVisualState state) {
  const Colour text = MakeColour(0, 0, 0);
  const Colour focus = MakeColour(0, 84, 153);
  switch (state) {
    case ButtonVisualState::Hot:
      return {MakeColour(229, 241, 251), MakeColour(0, 120, 215), text, focus};
    case ButtonVisualState::Pressed:
      return {MakeColour(204, 228, 247), MakeColour(0, 84, 153), text, focus};
    case ButtonVisualState::Disabled:
      return {MakeColour(244, 244, 244), MakeColour(191, 191, 191), MakeColour(131, 131, 131), focus};
    case ButtonVisualState::Normal:
      break;
  }
  return {MakeColour(240, 240, 240), MakeColour(173, 173, 173), text, focus};
}

int BorderWidth(const ButtonStateFlags& flags) { return !flags.disabled && (flags.isDefault || flags.focused) ? 2 : 1; }

}  // namespace toolkit
