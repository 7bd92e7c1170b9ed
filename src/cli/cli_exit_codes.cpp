#include "cli/cli_exit_codes.h"

#include "hardening/hardening_outcome.h"

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

int WhatIfExitCode(const hardening::WhatIfReport& report) {
  if (report.refused) return kExitRefused;
  for (const hardening::UnreadPart& part : report.plan.unread) {
    if (IsAccessDenied(part.code)) return kExitNotElevated;
  }
  if (!report.plan.unread.empty() || report.plan.restorePoint == hardening::RestorePointWrite::Refused) {
    return kExitStepFailed;
  }
  return report.plan.WouldChange() ? kExitWouldChange : kExitSuccess;
}

}  // namespace qf::cli
