// The fixed netsh batch that switches the legacy firewall on and disables the
// port openings of the guarded ports it handles (136 has no line).
#pragma once

#include <array>

constexpr std::size_t kLegacyPortClosingCommandCount = 6;

// The command lines in the order they run.
const std::array<const char*, kLegacyPortClosingCommandCount>& LegacyPortClosingCommands();
