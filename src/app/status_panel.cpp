#include "app/status_panel.h"

#include <cstdio>

#include "app/panel_texts.h"

LineLook FirewallLook(bool firewallOn) {
  return firewallOn ? LineLook{kTextFirewallOn, kColourGreen} : LineLook{kTextFirewallOff, kColourRed};
}

LineLook PortLookFromBlocked(bool blocked) {
  return blocked ? LineLook{kTextPortBlocked, kColourRed} : LineLook{kTextPortAllowed, kColourGreen};
}

LineLook PortLookFromOpen(bool open) { return PortLookFromBlocked(!open); }

std::array<LineOperation, 5> LineWriteOrder(LineKind kind) {
  using Op = LineOperation;
  if (kind == LineKind::Port) {
    return {Op::SetTextColourRedraw, Op::SetText, Op::SetBoldNoRedraw, Op::SetFontNoRedraw, Op::SetBackgroundRedraw};
  }
  return {Op::SetText, Op::SetTextColourRedraw, Op::SetBoldNoRedraw, Op::SetFontNoRedraw, Op::SetBackgroundRedraw};
}

LineStyle StyleOf(LineKind kind) {
  const int points = kind == LineKind::Progress ? 16 : 12;
  return LineStyle{points, true, kPanelFaceCp936, kColourPanelBackground};
}

CompletionLook CompletionLookOf(bool complete) {
  if (complete) return {kTextHardeningDone, kColourBlue};
  return {kTextHardeningIncomplete, kColourRed};
}

bool IsRestoreDone(const qf::hardening::RestoreReport& report) {
  return !report.accessDenied && report.failedSteps.empty() && report.differences.empty() &&
         report.restorePointProblem.empty() && !report.restorePointKept;
}

CompletionLook RestoreLookOf(const qf::hardening::RestoreReport& report) {
  if (!IsRestoreDone(report)) return {kTextRestoreIncomplete, kColourRed};
  return {report.restorePointFound ? kTextRestored : kTextNothingToRestore, kColourBlue};
}

std::vector<std::string> RestoreFailureLines(const qf::hardening::RestoreReport& report) {
  std::vector<std::string> lines;
  for (const qf::hardening::FailedStep& step : report.failedSteps) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(step.code));
    lines.push_back("Step failed: " + step.step + ": " + code);
  }
  for (const std::string& item : report.differences) lines.push_back("Still differs: " + item);
  if (report.restorePointKept) lines.push_back("Restore point kept");
  return lines;
}
