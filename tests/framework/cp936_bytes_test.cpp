#include "framework/cp936_bytes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// "宋体" in code page 936.
const std::string kSongTi = "\xCB\xCE\xCC\xE5";

TEST(Cp936Bytes, LeadByteRangeIs81ToFE) {
  EXPECT_FALSE(IsCp936LeadByte(0x80));
  EXPECT_TRUE(IsCp936LeadByte(0x81));
  EXPECT_TRUE(IsCp936LeadByte(0xFE));
  EXPECT_FALSE(IsCp936LeadByte(0xFF));
  EXPECT_FALSE(IsCp936LeadByte('A'));
}

TEST(Cp936Bytes, ShortTextIsKeptWhole) {
  EXPECT_EQ(Cp936PrefixLength(kSongTi, 31), 4u);
  EXPECT_EQ(Cp936PrefixLength("Arial", 31), 5u);
  EXPECT_EQ(Cp936PrefixLength("", 31), 0u);
}

TEST(Cp936Bytes, DoubleByteCharacterAcrossTheLimitIsDroppedWhole) {
  // 30 single bytes then one double-byte character: byte 31 is a lead byte.
  const std::string text = std::string(30, 'a') + "\xCB\xCE";
  EXPECT_EQ(Cp936PrefixLength(text, 31), 30u);
  // 29 single bytes: the character ends exactly at byte 31.
  EXPECT_EQ(Cp936PrefixLength(std::string(29, 'a') + "\xCB\xCE"
                                                     "b",
                              31),
            31u);
}

TEST(Cp936Bytes, TrailBytesInTheAsciiRangeAreNotMistakenForLeads) {
  // 0x81 0x40 is one character although 0x40 is '@'; 16 of them are 32
  // bytes, so the limit keeps 15 characters.
  std::string text;
  for (int i = 0; i < 16; ++i) text += "\x81\x40";
  EXPECT_EQ(Cp936PrefixLength(text, 31), 30u);
}

TEST(Cp936Bytes, StopsAtZeroAndAtALoneLeadByteAtTheEnd) {
  EXPECT_EQ(Cp936PrefixLength(std::string("ab\0cd", 5), 31), 2u);
  EXPECT_EQ(Cp936PrefixLength("ab\xCB", 31), 3u);
}

}  // namespace
