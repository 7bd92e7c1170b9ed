#include "host/host_version_tables.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t kWin32s = 0, kWindows = 1, kNt = 2;
constexpr int kOther = 0, kX86 = 1, kX64 = 2, kItanium = 3;

TEST(BitnessCode, MapsTheThreeKnownArchitecturesAndAllElseToOther) {
  EXPECT_EQ(BitnessCodeFromArchitecture(0), kX86);
  EXPECT_EQ(BitnessCodeFromArchitecture(9), kX64);
  EXPECT_EQ(BitnessCodeFromArchitecture(6), kItanium);
  for (std::uint16_t other : {1, 5, 10, 12, 0xFFFF}) {
    EXPECT_EQ(BitnessCodeFromArchitecture(other), kOther) << other;
  }
  EXPECT_EQ(kBitnessCodeWhenUnqueryable, kX86);
}

TEST(HostLabel, OlderPlatforms) {
  EXPECT_EQ(HostLabelFromVersion(kWin32s, 3, 10, kX86), "WIN31");
  EXPECT_EQ(HostLabelFromVersion(kWin32s, 99, 99, kX64), "WIN31");
  EXPECT_EQ(HostLabelFromVersion(kWindows, 4, 0, kX86), "WIN95");
  EXPECT_EQ(HostLabelFromVersion(kWindows, 4, 10, kX86), "WIN98");
  EXPECT_EQ(HostLabelFromVersion(kWindows, 4, 90, kX86), "WINME");
  // The major version does not matter on this platform.
  EXPECT_EQ(HostLabelFromVersion(kWindows, 7, 10, kX64), "WIN98");
  EXPECT_EQ(HostLabelFromVersion(kWindows, 4, 5, kX86), "");
  EXPECT_EQ(HostLabelFromVersion(kWindows, 4, 91, kX86), "");
  for (std::uint32_t major : {0u, 3u, 4u}) {
    EXPECT_EQ(HostLabelFromVersion(kNt, major, 51, kX86), "WINNT") << major;
  }
}

TEST(HostLabel, NtVersionsTakeTheirBitnessForm) {
  struct Row {
    std::uint32_t major, minor;
    const char* x86;
    const char* wide;
  };
  const Row rows[] = {
      {5, 0, "WIN2000", "WIN2000"}, {5, 1, "WINXP", "WINXP"},  {5, 2, "WIN2003", "WIN2003X64"},
      {6, 0, "VISTA", "VISTAX64"},  {6, 1, "WIN7", "WIN7X64"}, {6, 2, "WIN8", "WIN8X64"},
      {6, 3, "WIN8", "WIN8X64"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(HostLabelFromVersion(kNt, row.major, row.minor, kX86), row.x86) << row.major << "." << row.minor;
    // Every code but 1 (x86) takes the 64-bit form, 0 included.
    for (int code : {kOther, kX64, kItanium, 7, -1}) {
      EXPECT_EQ(HostLabelFromVersion(kNt, row.major, row.minor, code), row.wide)
          << row.major << "." << row.minor << " code " << code;
    }
  }
}

TEST(HostLabel, VersionsOutsideTheTableAreEmpty) {
  EXPECT_EQ(HostLabelFromVersion(kNt, 10, 0, kX64), "");
  EXPECT_EQ(HostLabelFromVersion(kNt, 5, 3, kX86), "");
  EXPECT_EQ(HostLabelFromVersion(kNt, 6, 4, kX64), "");
  EXPECT_EQ(HostLabelFromVersion(kNt, 7, 0, kX86), "");
  EXPECT_EQ(HostLabelFromVersion(kNt, 0xFFFFFFFFu, 0, kX86), "");
  EXPECT_EQ(HostLabelFromVersion(kNt, 6, 0xFFFFFFFFu, kX86), "");
  EXPECT_EQ(HostLabelFromVersion(3, 6, 1, kX64), "");  // Windows CE
  EXPECT_EQ(HostLabelFromVersion(0xFFFFFFFFu, 6, 1, kX64), "");
}

TEST(HostClass, EveryLabelHasItsGeneration) {
  const std::pair<const char*, int> rows[] = {
      {"WIN2000", 1}, {"WINXP", 2},   {"WIN2003", 3}, {"WIN2003X64", 3}, {"VISTA", 4}, {"VISTAX64", 4},
      {"WIN7", 5},    {"WIN7X64", 5}, {"WIN8", 6},    {"WIN8X64", 6},    {"", 0},      {"WIN31", 0},
      {"WIN95", 0},   {"WIN98", 0},   {"WINME", 0},   {"WINNT", 0},
  };
  for (const auto& [label, hostClass] : rows) EXPECT_EQ(HostClassFromLabel(label), hostClass) << label;
}

TEST(HostClass, MatchesWholeLabelsCaseSensitively) {
  for (const char* near : {"win7", "Win7", "WIN7 ", " WIN7", "WIN7X6", "WIN7X64X", "WIN", "WINXP64"}) {
    EXPECT_EQ(HostClassFromLabel(near), 0) << '"' << near << '"';
  }
  EXPECT_EQ(HostClassFromLabel(std::string("WIN7\0X", 6)), 0);
}

TEST(HostIdentification, EdgeCasesFromVersionToClass) {
  // Itanium reporting 6.0, another architecture reporting 6.2, an x64 5.2.
  const struct {
    std::uint16_t arch;
    std::uint32_t major, minor;
    const char* label;
    int hostClass;
  } cases[] = {
      {6, 6, 0, "VISTAX64", 4}, {12, 6, 2, "WIN8X64", 6}, {9, 5, 2, "WIN2003X64", 3}, {9, 6, 1, "WIN7X64", 5},
      {0, 6, 1, "WIN7", 5},     {0, 5, 0, "WIN2000", 1},  {9, 10, 0, "", 0},
  };
  for (const auto& c : cases) {
    const std::string label = HostLabelFromVersion(kNt, c.major, c.minor, BitnessCodeFromArchitecture(c.arch));
    EXPECT_EQ(label, c.label);
    EXPECT_EQ(HostClassFromLabel(label), c.hostClass);
  }
}

}  // namespace
