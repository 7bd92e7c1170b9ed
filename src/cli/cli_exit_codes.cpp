#include "cli/cli_exit_codes.h"

namespace qf::cli {

int StatusExitCode(const hardening::StatusReport& report) { return report.hardened ? kExitSuccess : kExitNotHardened; }

int HardenExitCode(const hardening::HardenReport& report) {
  if (report.refused) return kExitRefused;
  if (report.accessDenied) return kExitNotElevated;
  if (!report.failedSteps.empty()) return kExitStepFailed;
  // Every step succeeded yet something is still open: the run did not do its job.
  if (!report.after.hardened || !report.stillExposed.empty()) return kExitStepFailed;
  return kExitSuccess;
}

int RestoreExitCode(const hardening::RestoreReport& report) {
  if (report.accessDenied) return kExitNotElevated;
  if (!report.failedSteps.empty() || !report.differences.empty() || report.restorePointKept) return kExitStepFailed;
  return kExitSuccess;
}

}  // namespace qf::cli
