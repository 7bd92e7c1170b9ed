// Restore: the host put back as the restore point has it, checked by
// reading it again before the restore point goes.
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "firewall/advanced_firewall.h"
#include "firewall/legacy_profiles.h"
#include "hardening/hardening_outcome.h"
#include "hardening/hardening_plan.h"
#include "hardening/host_access.h"
#include "hardening/rule_identity.h"
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
  state.remoteAddresses = opening.remoteAddresses;
  return state;
}

unsigned PartsOf(const HostSnapshot& saved) {
  unsigned parts = saved.services.empty() ? 0u : static_cast<unsigned>(kServicesPart);
  if (saved.advancedRead) parts |= kAdvancedPart;
  if (saved.LegacyRead()) parts |= kLegacyPart;
  return parts;
}

class Restore {
 public:
  Restore(int hostClass, StepObserver& observer) : hostClass_(hostClass), observer_(observer) {}

  RestoreReport Run() {
    const LoadedRestorePoint loaded = LoadRestorePoint(hostClass_);
    report_.restorePointFound = loaded.found;
    if (!loaded.found) return report_;
    if (loaded.error != 0) {
      Step("ReadRestorePoint", [&] { return loaded.error; });
      report_.restorePointKept = true;
      return report_;
    }
    if (!loaded.snapshot) {
      report_.restorePointProblem = loaded.problem;
      Step("ReadRestorePoint", [&] {
        std::printf("Restore point unusable, left as it is: %s\n", loaded.problem.c_str());
        return kRestorePointUnusable;
      });
      report_.restorePointKept = true;
      return report_;
    }
    const HostSnapshot& saved = *loaded.snapshot;
    const RestorePlan plan = PlanRestore(saved, ReadHostSnapshot(hostClass_, PartsOf(saved)));
    for (const UnreadPart& unread : plan.unread) Step(unread.step, [&] { return unread.code; });
    if (saved.advancedRead) policyOpen_ = policy_.Initialize();
    if (saved.LegacyRead()) legacyOpened_ = legacy_.Open();
    // The services come last in the plan. The firewall is read back before
    // they are stopped: a stopped firewall service answers nothing.
    const auto firstServiceAction = std::find_if(plan.actions.begin(), plan.actions.end(), IsServiceAction);
    for (auto action = plan.actions.begin(); action != firstServiceAction; ++action) CarryOut(*action);
    HostSnapshot after = ReadHostSnapshot(hostClass_, PartsOf(saved) & ~kServicesPart);
    for (auto action = firstServiceAction; action != plan.actions.end(); ++action) CarryOut(*action);
    after.services = ReadHostSnapshot(hostClass_, kServicesPart).services;
    // Done only when the host, read again, is as recorded.
    report_.differences = RestoreDifferences(saved, after);
    if (!report_.failedSteps.empty() || !report_.differences.empty()) {
      report_.restorePointKept = true;
      return report_;
    }
    Step("DeleteRestorePoint", [] { return DeleteRestorePoint(); });
    report_.restorePointKept = !report_.failedSteps.empty();
    return report_;
  }

 private:
  template <typename Work>
  void Step(const std::string& name, Work work) {
    observer_.StepStarting(name);
    const std::uint32_t code = work();
    observer_.StepEnded(name, code);
    if (code == 0) return;
    if (report_.failedSteps.empty()) report_.accessDenied = IsAccessDenied(code);
    report_.failedSteps.push_back({name, code, {}});
  }

  std::uint32_t PolicyFailure() const { return policy_.LastFailureOr(kStepFailedWithoutCode); }

  static bool IsServiceAction(const RestoreAction& action) {
    return action.kind == RestoreActionKind::SetStartType || action.kind == RestoreActionKind::StopService;
  }

  void CarryOut(const RestoreAction& action) {
    Step(RestoreActionName(action), [&] { return Change(action); });
  }

  std::uint32_t Change(const RestoreAction& action) {
    std::uint32_t code = 0;
    switch (action.kind) {
      case RestoreActionKind::RemoveRule:
        if (!policyOpen_) return PolicyFailure();
        code =
            policy_.RemoveExactRule(action.rule, RemovalName(action.rule.name), SameRecordedRule) ? 0 : PolicyFailure();
        if (code == 0) ++report_.rulesRemoved;
        break;
      case RestoreActionKind::SetProfileSwitch:
        if (!policyOpen_) return PolicyFailure();
        code = policy_.SetSwitch(action.profile, action.on) ? 0 : PolicyFailure();
        break;
      case RestoreActionKind::SetLegacyFirewall:
        code = Legacy([&] { return legacy_.SetFirewall(action.profile, action.on); });
        break;
      case RestoreActionKind::PutOpeningBack:
        code = Legacy([&] { return legacy_.PutOpeningBack(action.profile, StateOf(action.opening)); });
        break;
      case RestoreActionKind::SetFileAndPrint:
        code = Legacy([&] { return legacy_.SetFileAndPrint(action.profile, action.on, action.scope, action.text); });
        break;
      case RestoreActionKind::SetRemoteAdmin:
        code = Legacy([&] { return legacy_.SetRemoteAdmin(action.profile, action.on); });
        break;
      case RestoreActionKind::SetStartType:
        code = SetServiceStartTypeError(action.service.c_str(), action.number);
        break;
      case RestoreActionKind::StopService:
        code = StopServiceAndWait(action.service.c_str());
        if (code == 0) report_.servicesStopped.push_back(action.service);
        break;
    }
    if (code == 0) report_.changed = true;
    return code;
  }

  template <typename Call>
  std::uint32_t Legacy(Call call) {
    if (FAILED(legacyOpened_)) return static_cast<std::uint32_t>(legacyOpened_);
    return static_cast<std::uint32_t>(call());
  }

  int hostClass_;
  StepObserver& observer_;
  RestoreReport report_;
  CAdvancedFirewall policy_;
  bool policyOpen_ = false;
  CLegacyProfiles legacy_;
  HRESULT legacyOpened_ = E_POINTER;
};

}  // namespace

RestoreReport RunRestore(int hostClass, StepObserver& observer) { return Restore(hostClass, observer).Run(); }

}  // namespace qf::hardening
