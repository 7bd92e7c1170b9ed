// Reports as the Windows side fills them, for the rendering tests and the
// JSON samples the schema is checked against.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "hardening/host_reports.h"

namespace qf::cli::samples {

// A Windows 7 host hardened by Quillfort: every profile on, MpsSvc automatic
// and running, two block rules per port.
hardening::StatusReport AdvancedHardened();
// harden --what-if on the exposed Windows 7 host, with no restore point yet.
hardening::WhatIfReport AdvancedWhatIf();
// A Windows 7 host as seeded: firewall off, the domain switch unreadable, no rules.
hardening::StatusReport AdvancedExposed();
// A Server 2003 host after netsh: firewall on, every opening but 136 disabled.
hardening::StatusReport LegacyHardened();
// An unrecognised host: no label, SharedAccess missing, nothing readable.
hardening::StatusReport LegacyUnknown();
// A Server 2003 domain controller with its NETLOGON and SYSVOL shares, firewall off.
hardening::StatusReport DomainControllerExposed();

// A failed step whose diagnostics hold quotes, backslashes, control
// characters and bytes that are not UTF-8.
hardening::FailedStep AwkwardFailedStep();

// Every report kind with a name, rendered as JSON they must all validate.
struct NamedJson {
  std::string name;
  std::string json;
};
std::vector<NamedJson> ValidJsonSamples();

}  // namespace qf::cli::samples
