#include "cli/text_safety.h"

#include <cstdio>

namespace qf::cli {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the well-formed sequence at text[i], or 0 with *consumed set
// to the length of the ill-formed prefix to replace by one U+FFFD.
size_t SequenceAt(std::string_view text, size_t i, size_t* consumed) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    *consumed = 1;
    return 0;
  }
  size_t j = 1;
  for (; j < length && i + j < text.size(); ++j) {
    const unsigned char byte = static_cast<unsigned char>(text[i + j]);
    const bool fits = j == 1 ? (byte >= low && byte <= high) : IsContinuation(byte);
    if (!fits) break;
  }
  if (j == length) return length;
  *consumed = j;
  return 0;
}

}  // namespace

std::string ValidUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    size_t consumed = 0;
    const size_t length = SequenceAt(bytes, i, &consumed);
    if (length) {
      out.append(bytes.substr(i, length));
      i += length;
    } else {
      out.append(kReplacement);
      i += consumed;
    }
  }
  return out;
}

std::string PrintableLine(std::string_view bytes) {
  const std::string valid = ValidUtf8(bytes);
  std::string out;
  out.reserve(valid.size());
  for (char c : valid) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace qf::cli
