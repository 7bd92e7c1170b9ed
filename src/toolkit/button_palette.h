// Colours of a themed push button per visual state, platform free.
#pragma once

#include <cstdint>

namespace toolkit {

// 0x00BBGGRR, as the window system's colour references.
using Colour = std::uint32_t;

constexpr Colour MakeColour(unsigned red, unsigned green, unsigned blue) {
  return static_cast<Colour>(red | (green << 8) | (blue << 16));
}

enum class ButtonVisualState { Normal, Hot, Pressed, Disabled };

struct ButtonStateFlags {
  bool disabled = false;
  bool pressed = false;
  bool hot = false;
  bool focused = false;
  bool isDefault = false;
};

// Disabled outranks pressed, pressed outranks hot.
ButtonVisualState ResolveVisualState(const ButtonStateFlags& flags);

struct ButtonColours {
  Colour face;
  Colour border;
  Colour text;
  Colour focusRing;
};

// The resource-image theme: faces in the panel colour family.
ButtonColours ResourceThemeColours(ButtonVisualState state);
// The default theme: neutral greys.
ButtonColours DefaultThemeColours(ButtonVisualState state);

// A default or focused button draws its border this many pixels wide.
int BorderWidth(const ButtonStateFlags& flags);

}  // namespace toolkit
