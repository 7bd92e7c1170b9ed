// The console program's exit codes, decided from what a command reports.
#pragma once

#include "hardening/host_reports.h"

namespace qf::cli {

inline constexpr int kExitSuccess = 0;      // done; for check and status: hardened
inline constexpr int kExitNotHardened = 1;  // check and status
inline constexpr int kExitWouldChange = 1;  // harden --what-if: the run would change something
inline constexpr int kExitStepFailed = 2;   // harden and restore: a step failed or the run left ports open
inline constexpr int kExitNotElevated = 3;  // an access-denied answer: not run as administrator
inline constexpr int kExitRefused = 4;      // harden: the host serves the guarded ports; nothing changed
inline constexpr int kExitUsage = 64;       // the command line could not be used

// status and check: 0 when hardened, else 1.
int StatusExitCode(const hardening::StatusReport& report);
// 4 when refused, 3 on access denied, else 2 on any failed step or when the
// host is still exposed afterwards, else 0.
int HardenExitCode(const hardening::HardenReport& report);
// 3 on access denied, else 2 on any failed step, on anything that still
// differs or whenever the restore point is kept, else 0 (also when there was
// no restore point).
int RestoreExitCode(const hardening::RestoreReport& report);

// harden --what-if: 4 when the guard would refuse, 3 when reading the host
// was refused, 2 when another part could not be read or the run would stop
// at its restore point, 1 when the run would change something, else 0.
int WhatIfExitCode(const hardening::WhatIfReport& report);

}  // namespace qf::cli
