// Identifies the host the way dialog initialisation does and writes what it
// found, with the raw version numbers, to the file named by its argument:
//   <bitness> <label or -> <classified 0/1> <class> <platform> <major> <minor>
#include <windows.h>

#include <cstdio>

#include "host/host_identification.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  g_bitnessCode = GetBitnessCode();
  g_hostLabel = GetHostLabel();
  const bool classified = ClassifyHost();
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExA(&version);
#pragma GCC diagnostic pop
  FILE* report = std::fopen(argv[1], "w");
  if (report == nullptr) return 3;
  std::fprintf(report, "%d %s %d %d %lu %lu %lu", g_bitnessCode, g_hostLabel.empty() ? "-" : g_hostLabel.c_str(),
               classified ? 1 : 0, g_hostClass, version.dwPlatformId, version.dwMajorVersion, version.dwMinorVersion);
  std::fclose(report);
  return 0;
}
