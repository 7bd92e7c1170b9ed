#include "app/run_guard.h"

#include "host/wide_text_win.h"

#include <cstdio>
#include <string>

#include "hardening/run_events.h"
#include "host/event_log.h"
#include "host/host_identification.h"

namespace {

using namespace qf::hardening;

constexpr char kDialogRun[] = "Quillfort.exe";

RunOrigin DialogOrigin() { return RunOrigin{kDialogRun, HostNameForEvent(g_hostLabel, g_hostClass)}; }

void Log(const host::EventEntry& entry, bool changed) {
  const std::string problem = host::WriteEvent(entry, changed);
  if (!problem.empty()) std::fprintf(stderr, "Quillfort: event log: %s\n", problem.c_str());
}

}  // namespace

bool ConfirmRunOnServingHost(HWND owner, const host::HostRole& role) {
  wchar_t title[128] = {};
  GetWindowTextW(owner, title, 128);
  const int answer = MessageBoxW(owner, host::WideFromUtf8(host::GuardQuestionUtf8(role)).c_str(), title,
                                 MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
  return answer == IDYES;
}

void LogDialogRun(const HardeningRunResult& run, const host::HostRole& role) {
  HardenReport report;
  report.changed = run.changed;
  report.restorePointSaved = run.restorePointSaved;
  report.rulesAdded = run.rulesAdded;
  report.rulesAlreadyPresent = run.rulesAlreadyPresent;
  report.accessDenied = run.accessDenied;
  for (const StepOutcome& step : run.outcome.Steps()) {
    if (step.code != 0) report.failedSteps.push_back(FailedStep{step.step, step.code, {}});
  }
  report.stillExposed = ExposedItems(g_hostClass, run.reading);
  report.after.hardened = run.complete;
  const std::string forcedRole = role.ServesGuardedPorts() ? host::RoleName(role) : "";
  Log(HardenEvent(DialogOrigin(), report, VerdictLines(g_hostClass, run.reading), forcedRole), run.changed);
}

void LogDialogRefusal(const host::HostRole& role, const PanelReading& reading) {
  Log(RefusalEvent(DialogOrigin(), host::DeclinedLines(role), VerdictLines(g_hostClass, reading)), false);
}

void LogDialogRestore(const RestoreReport& report, const PanelReading& reading) {
  Log(RestoreEvent(DialogOrigin(), report, VerdictLines(g_hostClass, reading)), report.changed);
}
