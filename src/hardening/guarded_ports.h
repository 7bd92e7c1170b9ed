// The inbound ports Quillfort guards, and what one reading of the host says
// about them.
#pragma once

#include <array>

// In the order the panel and every report list them.
inline constexpr std::array<long, 6> kGuardedPorts{445, 135, 136, 137, 138, 139};

// What one reading of the firewall found, in kGuardedPorts order. A state
// that could not be read counts as exposed: off, not blocked.
struct PanelReading {
  bool firewallOn = false;
  std::array<bool, kGuardedPorts.size()> portBlocked{};
};
