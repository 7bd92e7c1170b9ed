// How a label's font record is built from a face, a point size and a bold
// flag, platform free.
#pragma once

#include <cstddef>
#include <string>

namespace widgets {

constexpr long kWeightNormal = 400;
constexpr long kWeightBold = 700;
constexpr std::size_t kFaceBytes = 32;  // face field, with its terminating zero

long WeightForBold(int bold);

// The face's code page 936 bytes as the face field keeps them: at most 31,
// and a double-byte character that the limit would split is dropped whole.
std::string FaceFieldBytes(const char* face);

// The negated MulDiv(points, dotsPerInch, 72): the quotient rounded half away
// from zero, and MulDiv's -1 (so 1 here) when it does not fit in 32 bits.
int HeightForPoints(int points, int dotsPerInch);

}  // namespace widgets
