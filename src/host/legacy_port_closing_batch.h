// The fixed netsh batch that switches the legacy firewall on, disables the
// port openings of the guarded ports it handles (136 has no line) and then
// the File and Printer Sharing exception, which opens 139 and 445 (TCP) and
// 137 and 138 (UDP) whatever the port openings say.
#pragma once

#include <array>

constexpr std::size_t kLegacyPortClosingCommandCount = 7;

// The command lines in the order they run.
const std::array<const char*, kLegacyPortClosingCommandCount>& LegacyPortClosingCommands();
