#include "widgets/font_record_rules.h"

#include <cstdint>
#include <cstring>
#include <limits>

#include "framework/cp936_bytes.h"

namespace widgets {

long WeightForBold(int bold) { return bold ? kWeightBold : kWeightNormal; }

std::string FaceFieldBytes(const char* face) {
  if (!face) return {};
  const std::string_view text(face, std::strlen(face));
  return std::string(text.substr(0, Cp936PrefixLength(text, kFaceBytes - 1)));
}

namespace {
// MulDiv: number * numerator / denominator rounded half away from zero;
// -1 on a zero denominator or when the result does not fit.
int MulDiv(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  const std::int64_t product = static_cast<std::int64_t>(number) * numerator;
  const bool negative = (product < 0) != (denominator < 0);
  std::int64_t magnitude = product < 0 ? -product : product;
  const std::int64_t divisor = denominator < 0 ? -static_cast<std::int64_t>(denominator) : denominator;
  std::int64_t quotient = (magnitude + divisor / 2) / divisor;
  if (negative) quotient = -quotient;
  if (quotient > std::numeric_limits<int>::max() || quotient < std::numeric_limits<int>::min()) {
    return -1;
  }
  return static_cast<int>(quotient);
}
}  // namespace

int HeightForPoints(int points, int dotsPerInch) {
  const int scaled = MulDiv(points, dotsPerInch, 72);
  // -INT_MIN does not exist; MulDiv cannot return it for a divisor of 72.
  return -scaled;
}

}  // namespace widgets
