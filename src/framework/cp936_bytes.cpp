#include "framework/cp936_bytes.h"

bool IsCp936LeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

std::size_t Cp936PrefixLength(std::string_view text, std::size_t maxBytes) {
  std::size_t kept = 0;
  while (kept < text.size() && text[kept] != '\0') {
    const bool lead = IsCp936LeadByte(static_cast<unsigned char>(text[kept]));
    const std::size_t width = lead && kept + 1 < text.size() && text[kept + 1] != '\0' ? 2 : 1;
    if (kept + width > maxBytes) break;
    kept += width;
  }
  return kept;
}
