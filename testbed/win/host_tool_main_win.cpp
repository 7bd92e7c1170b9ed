// testbed-host: installs the simulated Windows host into the current Wine
// prefix, seeds a scenario and dumps the host state.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "host_setup_win.h"
#include "win_util.h"

using namespace testbed;

namespace {

int Usage() {
  std::fputs(
      "usage: testbed-host install\n"
      "       testbed-host uninstall\n"
      "       testbed-host seed <scenario> [--extra-rules N]\n"
      "       testbed-host dump\n"
      "       testbed-host stop-services\n"
      "       testbed-host scenarios\n",
      stderr);
  return 2;
}

int Report(bool ok, const std::string& error) {
  if (!ok) std::fprintf(stderr, "testbed-host: %s\n", error.c_str());
  return ok ? 0 : 1;
}

int Seed(int argc, wchar_t** argv) {
  if (argc < 3) return Usage();
  auto scenario = FindScenario(Utf8FromWide(argv[2]));
  if (!scenario) {
    std::fprintf(stderr, "testbed-host: unknown scenario %s\n", Utf8FromWide(argv[2]).c_str());
    return 2;
  }
  int extraRules = 0;
  if (argc == 5 && std::wstring(argv[3]) == L"--extra-rules")
    extraRules = _wtoi(argv[4]);
  else if (argc != 3)
    return Usage();
  std::string error;
  return Report(SeedScenario(*scenario, extraRules, error), error);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return Usage();
  const std::wstring command = argv[1];
  std::string error;
  if (command == L"install") return Report(InstallTestbed(ModuleDirectory(nullptr), error), error);
  if (command == L"uninstall") return Report(UninstallTestbed(error), error);
  if (command == L"seed") return Seed(argc, argv);
  if (command == L"dump") {
    std::fputs(DumpHost().c_str(), stdout);
    return 0;
  }
  if (command == L"stop-services") {
    for (const wchar_t* name : {L"MpsSvc", L"SharedAccess"}) StopService(name);
    return 0;
  }
  if (command == L"scenarios") {
    for (const Scenario& s : AllScenarios())
      std::printf("%-24s class %d  %s\n", s.name.c_str(), s.hostClass, s.summary.c_str());
    return 0;
  }
  return Usage();
}
