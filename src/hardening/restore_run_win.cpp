// Restore: the host put back as the restore point has it.
#include <windows.h>

#include "firewall/advanced_firewall.h"
#include "firewall/legacy_profiles.h"
#include "hardening/hardening_outcome.h"
#include "hardening/hardening_plan.h"
#include "hardening/host_access.h"
#include "host/service_control.h"

namespace qf::hardening {

namespace {

LegacyOpeningState StateOf(const LegacyOpening& opening) {
  LegacyOpeningState state;
  state.port = opening.port;
  state.protocol = opening.protocol;
  state.exists = opening.exists;
  state.enabled = opening.enabled;
  state.name = opening.name;
  state.scope = opening.scope;
  return state;
}

}  // namespace

RestoreReport RunRestore(int hostClass, StepObserver& observer) {
  RestoreReport report;
  std::uint32_t loadError = 0;
  const std::optional<HostSnapshot> saved = LoadRestorePoint(&loadError);
  if (!saved) {
    if (loadError != 0) {
      observer.StepEnded("LoadRestorePoint", loadError);
      report.failedSteps.push_back({"LoadRestorePoint", loadError, {}});
      report.accessDenied = IsAccessDenied(loadError);
    }
    return report;
  }
  report.restorePointFound = true;
  const HostSnapshot now = ReadHostSnapshot(hostClass);
  const std::vector<RestoreAction> plan = PlanRestore(*saved, now);

  CAdvancedFirewall policy;
  CLegacyProfiles legacy;
  std::optional<std::vector<qf::firewall::RuleRecord>> rules;
  if (HardensThroughAdvancedPolicy(hostClass) && policy.Initialize()) rules = policy.ReadRules();
  if (!HardensThroughAdvancedPolicy(hostClass)) legacy.Open();

  auto carryOut = [&](const RestoreAction& action) -> std::uint32_t {
    switch (action.kind) {
      case RestoreActionKind::RemoveRulesNamed: {
        if (!rules) return policy.LastFailureOr(0x80004005u);
        int ours = 0;
        for (const qf::firewall::RuleRecord& rule : *rules) {
          if (rule.name != action.text) continue;
          // Removal goes by name: a rule of someone else's under the same
          // name would go too, so the name is left alone.
          if (!qf::firewall::CarriesQuillfortGrouping(rule)) return static_cast<std::uint32_t>(ERROR_ALREADY_EXISTS);
          ++ours;
        }
        if (!policy.RemoveRulesNamed(action.text)) return policy.LastFailureOr(0x80004005u);
        report.rulesRemoved += ours;
        return 0;
      }
      case RestoreActionKind::AddRule:
        // Rules the removal could not see might still be there.
        if (!rules) return policy.LastFailureOr(0x80004005u);
        if (!policy.AddRule(action.rule)) return policy.LastFailureOr(0x80004005u);
        ++report.rulesPutBack;
        return 0;
      case RestoreActionKind::SetProfileSwitch:
        return policy.SetSwitch(action.profile, action.on) ? 0 : policy.LastFailureOr(0x80004005u);
      case RestoreActionKind::SetLegacyFirewall:
        return static_cast<std::uint32_t>(legacy.SetFirewall(action.profile, action.on));
      case RestoreActionKind::PutOpeningBack:
        return static_cast<std::uint32_t>(legacy.PutOpeningBack(action.profile, StateOf(action.opening)));
      case RestoreActionKind::SetFileAndPrint:
        return static_cast<std::uint32_t>(legacy.SetFileAndPrint(action.profile, action.on, action.scope));
      case RestoreActionKind::SetStartType:
        return SetServiceStartTypeError(action.service.c_str(), action.number);
      case RestoreActionKind::StopService: {
        const std::uint32_t stopped = StopServiceAndWait(action.service.c_str());
        if (stopped == 0) report.servicesStopped.push_back(action.service);
        return stopped;
      }
    }
    return 0;
  };

  for (const RestoreAction& action : plan) {
    const std::string name = RestoreActionName(action);
    observer.StepStarting(name);
    const std::uint32_t code = carryOut(action);
    observer.StepEnded(name, code);
    if (code == 0) {
      report.changed = true;
    } else {
      if (report.failedSteps.empty()) report.accessDenied = IsAccessDenied(code);
      report.failedSteps.push_back({name, code, {}});
    }
  }
  if (report.failedSteps.empty()) {
    observer.StepStarting("DeleteRestorePoint");
    const std::uint32_t deleted = DeleteRestorePoint();
    observer.StepEnded("DeleteRestorePoint", deleted);
    if (deleted != 0) {
      report.accessDenied = IsAccessDenied(deleted);
      report.failedSteps.push_back({"DeleteRestorePoint", deleted, {}});
    }
  }
  return report;
}

}  // namespace qf::hardening
