// The fixed netsh batch that switches the legacy firewall on, disables the
// port openings of the guarded ports it handles (136 has no line), then the
// File and Printer Sharing exception, which opens 139 and 445 (TCP) and 137
// and 138 (UDP) whatever the port openings say, and last the Remote
// Administration exception, which opens TCP 135 and 445.
#pragma once

#include <array>

constexpr std::size_t kLegacyPortClosingCommandCount = 8;

// The command lines in the order they run.
const std::array<const char*, kLegacyPortClosingCommandCount>& LegacyPortClosingCommands();
