#include "host/host_version_tables.h"

namespace {

constexpr std::uint16_t kArchitectureIntel = 0;
constexpr std::uint16_t kArchitectureIa64 = 6;
constexpr std::uint16_t kArchitectureAmd64 = 9;

constexpr std::uint32_t kPlatformWin32s = 0;
constexpr std::uint32_t kPlatformWin32Windows = 1;
constexpr std::uint32_t kPlatformWin32Nt = 2;

struct ClassifiedLabel {
  const char* label;
  int hostClass;
};

// Compared in this order; the first equal label decides.
constexpr ClassifiedLabel kClassifiedLabels[] = {
    {"WIN2000", 1},  {"WINXP", 2}, {"WIN2003", 3}, {"WIN2003X64", 3}, {"VISTA", 4},
    {"VISTAX64", 4}, {"WIN7", 5},  {"WIN7X64", 5}, {"WIN8", 6},       {"WIN8X64", 6},
};

std::string PickForm(int bitnessCode, const char* label32, const char* label64) {
  return bitnessCode == 1 ? label32 : label64;
}

std::string Windows9xLabel(std::uint32_t minor) {
  switch (minor) {
    case 0:
      return "WIN95";
    case 10:
      return "WIN98";
    case 90:
      return "WINME";
    default:
      return std::string();
  }
}

std::string WindowsNtLabel(std::uint32_t major, std::uint32_t minor, int bitnessCode) {
  if (major <= 4) return "WINNT";
  if (major == 5) {
    switch (minor) {
      case 0:
        return "WIN2000";
      case 1:
        return "WINXP";
      case 2:
        return PickForm(bitnessCode, "WIN2003", "WIN2003X64");
      default:
        return std::string();
    }
  }
  if (major == 6) {
    switch (minor) {
      case 0:
        return PickForm(bitnessCode, "VISTA", "VISTAX64");
      case 1:
        return PickForm(bitnessCode, "WIN7", "WIN7X64");
      case 2:
      case 3:
        return PickForm(bitnessCode, "WIN8", "WIN8X64");
      default:
        return std::string();
    }
  }
  return std::string();
}

}  // namespace

int BitnessCodeFromArchitecture(std::uint16_t architecture) {
  switch (architecture) {
    case kArchitectureIntel:
      return 1;
    case kArchitectureAmd64:
      return 2;
    case kArchitectureIa64:
      return 3;
    default:
      return 0;
  }
}

std::string HostLabelFromVersion(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor, int bitnessCode) {
  switch (platformId) {
    case kPlatformWin32s:
      return "WIN31";
    case kPlatformWin32Windows:
      return Windows9xLabel(minor);
    case kPlatformWin32Nt:
      return WindowsNtLabel(major, minor, bitnessCode);
    default:
      return std::string();
  }
}

int HostClassFromLabel(const std::string& label) {
  for (const ClassifiedLabel& entry : kClassifiedLabels) {
    if (label == entry.label) return entry.hostClass;
  }
  return 0;
}
