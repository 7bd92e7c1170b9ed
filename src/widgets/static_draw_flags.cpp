#include "widgets/static_draw_flags.h"

namespace widgets {
namespace {
// Static control styles.
constexpr std::uint32_t kSsCenter = 0x1;
constexpr std::uint32_t kSsRight = 0x2;
constexpr std::uint32_t kSsCenterImage = 0x200;
// Text-drawing flags.
constexpr std::uint32_t kDtCenter = 0x1;
constexpr std::uint32_t kDtRight = 0x2;
constexpr std::uint32_t kDtVCenter = 0x4;
constexpr std::uint32_t kDtWordBreak = 0x10;
constexpr std::uint32_t kDtSingleLine = 0x20;
}  // namespace

std::uint32_t DrawFlagsFromStaticStyle(std::uint32_t style) {
  std::uint32_t flags = 0;
  if (style & kSsCenter) {
    flags = kDtCenter;
  } else if (style & kSsRight) {
    flags = kDtRight;
  }
  flags |= (style & kSsCenterImage) ? (kDtVCenter | kDtSingleLine) : kDtWordBreak;
  return flags;
}

}  // namespace widgets
