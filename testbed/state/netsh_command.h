// The `netsh firewall` commands that the netsh double understands, and what
// each does to the host state.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host_state.h"

namespace testbed {

struct NetshOutcome {
  int exitCode = 0;
  std::string message;  // what the tool prints
};

// Splits a command line into words as the C runtime does for argv (blanks
// separate words, double quotes group them), dropping the program name.
std::vector<std::string> SplitNetshArguments(std::string_view commandLine);

// Carries out "firewall set opmode ...", "firewall set portopening ..." and
// "firewall set service ..." (REMOTEADMIN and ALL switch Remote
// Administration too) (keywords and values case-insensitive, "key = value", "key=value" or
// positional values). A rejected command changes nothing; on a host that
// denies changes every valid command is rejected for want of elevation.
NetshOutcome ApplyNetshCommand(HostState& state, const std::vector<std::string>& arguments);

// A 32-bit netsh reached by a 32-bit caller on a 64-bit host through WOW64
// file-system redirection is not the netsh the caller named (system32's,
// 64-bit). That copy logs its command line behind this mark and changes
// nothing, so a run shows which netsh it reached.
inline constexpr std::string_view kWrongNetshMark = "[32-bit netsh via WOW64] ";
std::string MarkWrongNetsh(std::string_view commandLine);
// Log entries written by a wrongly reached netsh.
int CountWrongNetshCalls(const std::vector<std::string>& log);

}  // namespace testbed
