// Translation of a static control's style into text-drawing flags.
#pragma once

#include <cstdint>

namespace widgets {

// SS_CENTER wins over SS_RIGHT; SS_CENTERIMAGE draws one line centred
// vertically, otherwise the text wraps at word boundaries. Nothing else is
// added, so an ampersand keeps underlining the next character.
std::uint32_t DrawFlagsFromStaticStyle(std::uint32_t style);

}  // namespace widgets
