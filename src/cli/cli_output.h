// What the console program prints: text for people and for systems that keep
// only the last line, JSON for tools. Every rendering is valid UTF-8 and ends
// with a newline; the caller writes it to standard output (usage errors to
// standard error).
#pragma once

#include <string>

#include "hardening/host_reports.h"

namespace qf::cli {

inline constexpr int kJsonSchemaVersion = 1;

// Text: readable lines, the last one a one-line summary.
std::string StatusText(const hardening::StatusReport& report);
std::string HardenText(const hardening::HardenReport& report);
std::string RestoreText(const hardening::RestoreReport& report);
std::string WhatIfText(const hardening::WhatIfReport& report);

// JSON: one object with "command" and "schemaVersion".
std::string StatusJson(const hardening::StatusReport& report);
std::string HardenJson(const hardening::HardenReport& report);
std::string RestoreJson(const hardening::RestoreReport& report);
std::string WhatIfJson(const hardening::WhatIfReport& report);

// check's one line when the host is hardened
// ("hardened: WIN7X64 class 5, firewall on, 6 ports blocked"); empty when not.
std::string CheckLine(const hardening::StatusReport& report);

std::string UsageText();
// The reason, then where to read more.
std::string UsageErrorText(const std::string& reason);

// Service start type and state in words ("automatic", "running"); a value
// outside the known ones reads as its number.
std::string StartTypeWord(std::uint32_t startType);
std::string ServiceStateWord(std::uint32_t state);

}  // namespace qf::cli
