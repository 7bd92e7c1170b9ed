#include "host/legacy_port_closing_batch.h"

const std::array<const char*, kLegacyPortClosingCommandCount>& LegacyPortClosingCommands() {
  static constexpr std::array<const char*, kLegacyPortClosingCommandCount> kCommands = {
      "netsh firewall set opmode enable",
      "netsh firewall set portopening protocol = ALL port = 445 name = 445 mode = DISABLE scope = ALL profile = ALL",
      "netsh firewall set portopening protocol = ALL port = 135 name = 135 mode = DISABLE scope = ALL profile = ALL",
      "netsh firewall set portopening protocol = ALL port = 138 name = 138 mode = DISABLE scope = ALL profile = ALL",
      "netsh firewall set portopening protocol = ALL port = 137 name = 137 mode = DISABLE scope = ALL profile = ALL",
      "netsh firewall set portopening protocol = ALL port = 139 name = 139 mode = DISABLE scope = ALL profile = ALL",
      "netsh firewall set service type = FILEANDPRINT mode = DISABLE scope = ALL profile = ALL",
      "netsh firewall set service type = REMOTEADMIN mode = DISABLE profile = ALL",
  };
  return kCommands;
}
