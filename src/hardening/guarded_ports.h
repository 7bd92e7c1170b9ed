// The inbound ports Quillfort guards, and what one reading of the host says
// about them.
#pragma once

#include <array>
#include <string>
#include <vector>

// In the order the panel and every report list them.
inline constexpr std::array<long, 6> kGuardedPorts{445, 135, 136, 137, 138, 139};

// The same list as the firewall wrappers take it.
inline std::vector<long> GuardedPortList() { return std::vector<long>(kGuardedPorts.begin(), kGuardedPorts.end()); }

// What one reading of the firewall found, in kGuardedPorts order. A state
// that could not be read counts as exposed: off, not blocked.
struct PanelReading {
  bool firewallOn = false;
  std::array<bool, kGuardedPorts.size()> portBlocked{};
  // Why a run cannot bring the host to the hardened state
  // ("Group policy keeps the firewall off: public profile").
  std::vector<std::string> causes;
};

// The cause read on a host without Windows Firewall.
inline constexpr char kNoFirewallCause[] = "This host has no firewall Quillfort can use";
