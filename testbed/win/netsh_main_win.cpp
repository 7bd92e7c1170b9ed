// netsh.exe of the simulated host: carries out the `netsh firewall set`
// commands on the shared host state. Every command line is logged before it
// is carried out, so a hanging or failing call still shows in the log.
#include <windows.h>

#include <cstdio>

#include "state/netsh_command.h"
#include "state_store_win.h"
#include "win_util.h"

using namespace testbed;

namespace {

// True for a 32-bit copy running on a 64-bit host.
bool RunningUnderWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace

int wmain() {
  const std::string commandLine = Utf8FromWide(GetCommandLineW());
  if (RunningUnderWow64()) {
    const bool logged = UpdateState([&](HostState& s) {
      s.netshLog.push_back(MarkWrongNetsh(commandLine));
      return true;
    });
    std::fputs("netsh: the 32-bit netsh of a 64-bit host ran (file-system redirection was on)\n", stderr);
    return logged ? 1 : 2;
  }
  NetshSetup setup;
  bool faulty = false;
  NetshOutcome outcome;
  bool stored = UpdateState([&](HostState& s) {
    setup = s.netsh;
    faulty = s.netsh.mode != NetshMode::Normal &&
             (s.netsh.faultyCalls == 0 || static_cast<int>(s.netshLog.size()) < s.netsh.faultyCalls);
    s.netshLog.push_back(commandLine);
    if (!faulty) outcome = ApplyNetshCommand(s, SplitNetshArguments(commandLine));
    return true;
  });
  if (!stored) {
    std::fputs("netsh: the host state cannot be read or written\n", stderr);
    return 1;
  }
  if (faulty && setup.mode == NetshMode::Hang) {
    Sleep(static_cast<DWORD>(setup.hangSeconds) * 1000);
    return 1;
  }
  if (faulty) {
    std::puts("An internal error occurred.");
    return 1;
  }
  std::puts(outcome.message.c_str());
  return outcome.exitCode;
}
