#include "host/host_identification.h"

#include <gtest/gtest.h>

#include <sstream>

#include "wine_test_support.h"

namespace {

// Runs first in this program: the variables as the process loads them, then
// the identification in dialog-initialisation order on Wine's default version.
TEST(HostIdentification, DefaultWineIsWindows7OnX64) {
  EXPECT_EQ(g_bitnessCode, 0);
  EXPECT_EQ(g_hostLabel, "");
  EXPECT_EQ(g_hostClass, 0);
  // Before the bitness is known, the X64 form comes out.
  EXPECT_EQ(GetHostLabel(), "WIN7X64");
  g_bitnessCode = GetBitnessCode();
  g_hostLabel = GetHostLabel();
  EXPECT_TRUE(ClassifyHost());
  EXPECT_EQ(g_bitnessCode, 2);
  EXPECT_EQ(g_hostLabel, "WIN7X64");
  EXPECT_EQ(g_hostClass, 5);
}

TEST(HostIdentification, LabelFollowsTheAssignedBitness) {
  const int saved = g_bitnessCode;
  g_bitnessCode = 1;
  EXPECT_EQ(GetHostLabel(), "WIN7");
  g_bitnessCode = 3;
  EXPECT_EQ(GetHostLabel(), "WIN7X64");
  g_bitnessCode = saved;
}

TEST(HostIdentification, ClassifyLeavesTheClassAloneForUnknownLabels) {
  const std::string savedLabel = g_hostLabel;
  const int savedClass = g_hostClass;
  g_hostClass = 5;
  for (const char* label : {"win7", "WINNT", "", "WIN98"}) {
    g_hostLabel = label;
    EXPECT_FALSE(ClassifyHost()) << label;
    EXPECT_EQ(g_hostClass, 5) << label;
  }
  g_hostLabel = "WIN2003X64";
  EXPECT_TRUE(ClassifyHost());
  EXPECT_EQ(g_hostClass, 3);
  g_hostLabel = savedLabel;
  g_hostClass = savedClass;
}

struct ProbeResult {
  int bitness = -1;
  std::string label;
  int classified = -1;
  int hostClass = -1;
  unsigned long platform = 0, major = 0, minor = 0;
};

// Copies the probe under a name of its own, gives that name a Windows version
// in the prefix (Wine's per-program setting) and runs it.
ProbeResult ProbeAs(const char* wineVersion, bool declaresModernSupport) {
  hosttest::ScratchFolder folder(wineVersion);
  const char* probe = declaresModernSupport ? "qf_host_probe_modern.exe" : "qf_host_probe.exe";
  const std::string exeName =
      std::string("qf_probe_") + wineVersion + (declaresModernSupport ? "_modern" : "") + ".exe";
  const std::string exe = folder.File(exeName.c_str());
  const std::string report = folder.File("report.txt");
  ProbeResult result;
  if (!CopyFileA(hosttest::HelperPath(probe).c_str(), exe.c_str(), FALSE)) return result;
  const std::string key = "Software\\Wine\\AppDefaults\\" + exeName;
  HKEY appKey = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &appKey, nullptr) !=
      ERROR_SUCCESS) {
    return result;
  }
  RegSetValueExA(appKey, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(wineVersion),
                 static_cast<DWORD>(strlen(wineVersion) + 1));
  RegCloseKey(appKey);
  const long exitCode = hosttest::RunToEnd(hosttest::Quoted(exe) + " " + hosttest::Quoted(report));
  RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
  DeleteFileA(exe.c_str());
  if (exitCode != 0) return result;
  std::istringstream fields(hosttest::ReadText(report));
  fields >> result.bitness >> result.label >> result.classified >> result.hostClass >> result.platform >>
      result.major >> result.minor;
  DeleteFileA(report.c_str());
  return result;
}

struct VersionCase {
  const char* wineVersion;
  bool declaresModernSupport;
  unsigned long major, minor;
  const char* label;
  int hostClass;
};

class IdentificationPerVersion : public ::testing::TestWithParam<VersionCase> {};

TEST_P(IdentificationPerVersion, ProbeReportsTheExpectedLabelAndClass) {
  const VersionCase& expected = GetParam();
  const ProbeResult found = ProbeAs(expected.wineVersion, expected.declaresModernSupport);
  EXPECT_EQ(found.bitness, 2);
  EXPECT_EQ(found.platform, 2u);
  EXPECT_EQ(found.major, expected.major);
  EXPECT_EQ(found.minor, expected.minor);
  EXPECT_EQ(found.label, expected.label);
  EXPECT_EQ(found.hostClass, expected.hostClass);
  EXPECT_EQ(found.classified, expected.hostClass != 0 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    WineVersions, IdentificationPerVersion,
    ::testing::Values(VersionCase{"win8", false, 6, 2, "WIN8X64", 6}, VersionCase{"vista", false, 6, 0, "VISTAX64", 4},
                      VersionCase{"win2003", false, 5, 2, "WIN2003X64", 3},
                      VersionCase{"winxp64", false, 5, 2, "WIN2003X64", 3},
                      VersionCase{"nt40", false, 4, 0, "WINNT", 0}, VersionCase{"win2k", false, 5, 0, "WIN2000", 1},
                      // Like the program itself, a probe without a supported-OS list sees
                      // Windows 8.1 and 10 as 6.2; one that declares them sees 6.3 and 10.0.
                      VersionCase{"win81", false, 6, 2, "WIN8X64", 6}, VersionCase{"win10", false, 6, 2, "WIN8X64", 6},
                      VersionCase{"win81", true, 6, 3, "WIN8X64", 6}, VersionCase{"win10", true, 10, 0, "-", 0}),
    [](const ::testing::TestParamInfo<VersionCase>& info) {
      return std::string(info.param.wineVersion) + (info.param.declaresModernSupport ? "_declared" : "");
    });

}  // namespace
