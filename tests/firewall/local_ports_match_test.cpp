// The rule test's reading of a local ports text.
#include "firewall/local_ports_match.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using qf::firewall::LocalPortsCoverPort;
using qf::firewall::LocalPortsCoverPortText;
using qf::firewall::ParsePortNumber;

TEST(LocalPortsMatch, SinglePortMatchesOnlyItself) {
  EXPECT_TRUE(LocalPortsCoverPort(L"445", 445));
  EXPECT_FALSE(LocalPortsCoverPort(L"1445", 445));  // digits inside a longer number
  EXPECT_FALSE(LocalPortsCoverPort(L"4450", 445));
  EXPECT_FALSE(LocalPortsCoverPort(L"44", 445));
  EXPECT_FALSE(LocalPortsCoverPort(L"445", 44));
}

TEST(LocalPortsMatch, RangeCoversItsInsideAndBothEnds) {
  for (long port = 135; port <= 139; ++port) EXPECT_TRUE(LocalPortsCoverPort(L"135-139", port)) << port;
  EXPECT_FALSE(LocalPortsCoverPort(L"135-139", 134));
  EXPECT_FALSE(LocalPortsCoverPort(L"135-139", 140));
  EXPECT_FALSE(LocalPortsCoverPort(L"135-139", 445));
  EXPECT_TRUE(LocalPortsCoverPort(L"445-445", 445));
  EXPECT_TRUE(LocalPortsCoverPort(L"1-65535", 445));
}

TEST(LocalPortsMatch, ReversedOrBrokenRangeCoversNothing) {
  EXPECT_FALSE(LocalPortsCoverPort(L"139-135", 137));
  EXPECT_FALSE(LocalPortsCoverPort(L"135-", 137));
  EXPECT_FALSE(LocalPortsCoverPort(L"-139", 137));
  EXPECT_FALSE(LocalPortsCoverPort(L"135--139", 137));
  EXPECT_FALSE(LocalPortsCoverPort(L"135-139-140", 137));
  EXPECT_FALSE(LocalPortsCoverPort(L"135-70000", 137));
}

TEST(LocalPortsMatch, AsteriskCoversEveryPort) {
  for (long port : {0L, 135L, 136L, 445L, 65535L}) EXPECT_TRUE(LocalPortsCoverPort(L"*", port)) << port;
  EXPECT_TRUE(LocalPortsCoverPort(L"80, *", 445));
  EXPECT_FALSE(LocalPortsCoverPort(L"*", 65536));
  EXPECT_FALSE(LocalPortsCoverPort(L"*", -1));
  EXPECT_FALSE(LocalPortsCoverPort(L"**", 445));
}

TEST(LocalPortsMatch, ListsWithBlanksAroundItems) {
  EXPECT_TRUE(LocalPortsCoverPort(L"80,443,445", 445));
  EXPECT_TRUE(LocalPortsCoverPort(L"80, 443 ,\t445 ", 445));
  EXPECT_TRUE(LocalPortsCoverPort(L" 80 , 135-139", 138));
  EXPECT_FALSE(LocalPortsCoverPort(L"80,443,1445", 445));
  EXPECT_TRUE(LocalPortsCoverPort(L",,445,", 445));  // empty items are skipped
  EXPECT_FALSE(LocalPortsCoverPort(L"4 45", 445));   // blanks inside an item are no separator
}

TEST(LocalPortsMatch, KeywordsIgnoreCaseAndOnlyEndpointMapperNamesAPort) {
  EXPECT_TRUE(LocalPortsCoverPort(L"RPC-EPMap", 135));
  EXPECT_TRUE(LocalPortsCoverPort(L"rpc-epmap", 135));
  EXPECT_TRUE(LocalPortsCoverPort(L"445,Rpc-EpMap", 135));
  EXPECT_FALSE(LocalPortsCoverPort(L"RPC-EPMap", 136));
  for (const wchar_t* keyword : {L"RPC", L"IPHTTPS", L"Teredo", L"Ply2Disc", L"mDNS", L"DHCP", L"Frobnicate", L"rpc"}) {
    for (long port : {135L, 136L, 137L, 138L, 139L, 445L}) {
      EXPECT_FALSE(LocalPortsCoverPort(keyword, port)) << port;
    }
  }
}

TEST(LocalPortsMatch, EmptyAndMalformedTextsCoverNothing) {
  for (const wchar_t* text : {L"", L" ", L",", L"abc", L"+445", L"445a", L"0x1BD", L"445.0", L"99999999999999999999"}) {
    EXPECT_FALSE(LocalPortsCoverPort(text, 445)) << static_cast<int>(std::wstring(text).size());
  }
  EXPECT_TRUE(LocalPortsCoverPort(L"0445", 445));  // leading zeros are still the same number
}

TEST(LocalPortsMatch, PortTextMustBeAPlainDecimalPort) {
  EXPECT_TRUE(LocalPortsCoverPortText(L"135-139", L"137"));
  EXPECT_FALSE(LocalPortsCoverPortText(L"1445", L"445"));
  EXPECT_FALSE(LocalPortsCoverPortText(L"445", L""));
  EXPECT_FALSE(LocalPortsCoverPortText(L"*", L"-1"));
  EXPECT_FALSE(LocalPortsCoverPortText(L"*", L"65536"));
  EXPECT_EQ(ParsePortNumber(L"65535"), 65535L);
  EXPECT_EQ(ParsePortNumber(L"65536"), std::nullopt);
  EXPECT_EQ(ParsePortNumber(L"-5"), std::nullopt);
}

// Random texts drawn from the characters that matter (and some that do not):
// the parser must never crash or read out of bounds (sanitizers watch), and
// what it says must agree with a literal rebuilt reading of the same text.
TEST(LocalPortsMatchFuzz, RandomTextsNeverCrashAndAgreeWithItemwiseReading) {
  std::mt19937 random(20240611u);
  const std::wstring alphabet = L"0123456789,-* \tRPCEMaprcepm\x4e2d\xffff";
  std::uniform_int_distribution<size_t> length(0, 24);
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<long> anyPort(-2, 65537);
  int matches = 0;
  for (int round = 0; round < 20000; ++round) {
    std::wstring text;
    const size_t size = length(random);
    for (size_t i = 0; i < size; ++i) text.push_back(alphabet[pick(random)]);
    const long port = round % 3 == 0 ? 135 : anyPort(random);
    const bool whole = LocalPortsCoverPort(text, port);
    // The same answer must come from asking each comma-separated item alone.
    bool anyItem = false;
    size_t start = 0;
    while (true) {
      const size_t comma = text.find(L',', start);
      anyItem = anyItem || LocalPortsCoverPort(text.substr(start, comma - start), port);
      if (comma == std::wstring::npos) break;
      start = comma + 1;
    }
    EXPECT_EQ(whole, anyItem) << "round " << round;
    if (whole) ++matches;
  }
  EXPECT_GT(matches, 0);  // the alphabet does produce matching texts
}

TEST(LocalPortsMatchFuzz, RandomPortListsMatchExactlyTheirPorts) {
  std::mt19937 random(7u);
  std::uniform_int_distribution<long> portOf(0, 65535);
  std::uniform_int_distribution<int> count(1, 6);
  for (int round = 0; round < 5000; ++round) {
    std::wstring text;
    std::vector<std::pair<long, long>> ranges;
    for (int i = count(random); i > 0; --i) {
      long low = portOf(random);
      long high = round % 2 ? low : portOf(random);
      if (low > high) std::swap(low, high);
      ranges.emplace_back(low, high);
      if (!text.empty()) text += L", ";
      text += low == high ? std::to_wstring(low) : std::to_wstring(low) + L"-" + std::to_wstring(high);
    }
    const long probe = portOf(random);
    bool expected = false;
    for (const auto& [low, high] : ranges) expected = expected || (low <= probe && probe <= high);
    EXPECT_EQ(LocalPortsCoverPort(text, probe), expected);
    EXPECT_TRUE(LocalPortsCoverPort(text, ranges.front().first));
  }
}

}  // namespace
