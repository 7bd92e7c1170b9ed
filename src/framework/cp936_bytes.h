// Byte-level rules of code page 936 text, free of any platform call.
#pragma once

#include <cstddef>
#include <string_view>

// 0x81..0xFE start a double-byte character.
bool IsCp936LeadByte(unsigned char byte);

// Length of the longest prefix of text of at most maxBytes bytes that does
// not split a double-byte character (a lead byte whose trail byte would fall
// outside the limit is dropped whole). Stops at the first zero byte.
std::size_t Cp936PrefixLength(std::string_view text, std::size_t maxBytes);
