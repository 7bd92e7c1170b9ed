// Texts from the host (diagnostics, names, arguments) may hold any bytes;
// what the console program prints is always valid UTF-8 and, in text mode,
// one line per line it means to print.
#pragma once

#include <string>
#include <string_view>

namespace qf::cli {

// Each maximal ill-formed subsequence (a stray continuation byte, a cut-off,
// overlong or surrogate sequence, a byte that never starts one) becomes
// U+FFFD; everything else is copied as it is.
std::string ValidUtf8(std::string_view bytes);

// ValidUtf8, with control characters (U+0000..U+001F, U+007F) written as
// "\xNN" so that a text never breaks or rewrites the line it is printed on.
std::string PrintableLine(std::string_view bytes);

}  // namespace qf::cli
