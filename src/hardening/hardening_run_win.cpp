#include "hardening/hardening_run.h"

#include <cstdio>
#include <vector>

#include "firewall/port_exposure.h"
#include "hardening/hardening_preview.h"
#include "hardening/effective_reader.h"
#include "hardening/host_access.h"
#include "hardening/status_report.h"
#include "hardening/rule_identity.h"
#include "host/command_runner.h"
#include "host/service_control.h"

namespace {

constexpr char kSaveRestorePointStep[] = "SaveRestorePoint";

class Run {
 public:
  Run(int hostClass, CAdvancedFirewall& advanced, CLegacyFirewall& legacy, HardeningFront& front,
      const HardeningRunOptions& options)
      : hostClass_(hostClass), advanced_(advanced), legacy_(legacy), front_(front), options_(options) {}

  HardeningRunResult Execute() {
    for (const HardeningStep& step : HardeningPlan(hostClass_)) {
      if (step.needsAdvancedPolicy && !policyOpen_) continue;
      const unsigned part = qf::hardening::PartChangedBy(step.action, hostClass_);
      if (part != 0 && !MayChange(part, step.action == HardeningAction::TurnOnLegacyFirewall)) continue;
      if (IsCheckedStep(step.action)) {
        const std::string name = StepName(step);
        front_.StepStarting(name);
        deniedNow_ = false;
        const std::uint32_t code = Checked(step);
        if (code != 0 && !failureSeen_) {
          failureSeen_ = true;
          result_.accessDenied = deniedNow_;
        }
        Record(name, code);
      } else {
        Unchecked(step);
      }
    }
    FinishKeeping();
    return result_;
  }

 private:
  // Whether the restore point holds the part, so that the step may run. A
  // restore point that cannot be saved or completed stops every change;
  // only the first switch, which later steps repeat, is skipped quietly.
  bool MayChange(unsigned part, bool quietWhenUnread) {
    if (changesStopped_) return false;
    if (!changeAnnounced_) {
      changeAnnounced_ = true;
      // Nothing is changed on a host with no firewall to use; the run's last
      // reading says so.
      if (HardensThroughNetsh(hostClass_) && !WindowsFirewallPresent()) {
        changesStopped_ = true;
        return false;
      }
      front_.StepStarting(kSaveRestorePointStep);
      const std::uint32_t saved = keeper_.BeforeChange(qf::hardening::kServicesPart);
      if (saved != 0) return StopChanges(saved);
      Record(kSaveRestorePointStep, 0);
    }
    if (part == qf::hardening::kServicesPart) return true;
    std::uint32_t recorded = 0;
    if (quietWhenUnread) {
      recorded = keeper_.BeforeChange(part);
      return recorded == 0;
    }
    front_.StepStarting(kSaveRestorePointStep);
    recorded = keeper_.BeforeChange(part);
    if (recorded != 0) return StopChanges(recorded);
    front_.StepEnded(kSaveRestorePointStep, 0);
    return true;
  }

  bool StopChanges(std::uint32_t code) {
    changesStopped_ = true;
    // The step's diagnostics say why.
    std::printf("%s\n", keeper_.Problem().c_str());
    if (!failureSeen_) {
      failureSeen_ = true;
      // Only a registry that refused access means the caller is not elevated.
      result_.accessDenied = IsAccessDenied(code);
    }
    Record(kSaveRestorePointStep, code);
    return false;
  }

  std::uint32_t PolicyFailure() {
    const std::uint32_t code = advanced_.LastFailureOr(kStepFailedWithoutCode);
    deniedNow_ = IsAccessDenied(code);
    return code;
  }

  void FinishKeeping() {
    if (kept_) return;
    kept_ = true;
    keeper_.AfterRun();
    result_.changed = keeper_.Changed();
    result_.restorePointSaved = keeper_.Saved();
  }

  void Record(const std::string& name, std::uint32_t code) {
    result_.outcome.Record(name, code);
    front_.StepEnded(name, code);
  }

  std::uint32_t Checked(const HardeningStep& step) {
    switch (step.action) {
      case HardeningAction::SetServiceStartType: {
        const std::uint32_t error = SetServiceStartTypeError(step.text, static_cast<unsigned long>(step.number));
        deniedNow_ = IsAccessDenied(error);
        return error;
      }
      case HardeningAction::StartServiceAndWait: {
        const ServiceStartOutcome outcome = StartServiceUntilRunning(step.text);
        // The service manager's refusal, not a service that stopped with
        // that code of its own.
        deniedNow_ = IsAccessDenied(outcome.error);
        return ServiceStartFailureCode(outcome);
      }
      case HardeningAction::ReopenAdvancedPolicy:
        policyOpen_ = advanced_.Initialize();
        return policyOpen_ ? 0 : PolicyFailure();
      case HardeningAction::EnableAdvancedFirewall:
        return advanced_.EnableFirewall() ? 0 : PolicyFailure();
      case HardeningAction::AddBlockRule:
        return AddBlockRule(step);
      case HardeningAction::RunSystemCommand:
        return CommandFailureCode(RunSystemCommandFor(step.text));
      case HardeningAction::OpenLegacyProfile:
        return static_cast<std::uint32_t>(legacy_.Initialize());
      default:
        return 0;
    }
  }

  std::uint32_t AddBlockRule(const HardeningStep& step) {
    if (options_.skipIdenticalRules) {
      // Only a rule of the full reach this run gives it counts as present.
      const std::optional<qf::firewall::RuleRecord> intended =
          qf::firewall::IntendedBlockRule(step.number, step.portText);
      if (!intended) return kStepFailedWithoutCode;
      const auto named = advanced_.ReadRulesWhere(
          [&](const std::wstring& name, const std::wstring&) { return name == intended->name; });
      if (!named) return PolicyFailure();
      if (qf::hardening::HoldsIdenticalBlockRule(*named, *intended)) {
        ++result_.rulesAlreadyPresent;
        return 0;
      }
    }
    if (!advanced_.AddBlockRule(step.number, step.portText)) return PolicyFailure();
    ++result_.rulesAdded;
    return 0;
  }

  void Unchecked(const HardeningStep& step) {
    switch (step.action) {
      case HardeningAction::EnableControl:
        front_.EnableControl(step.control, step.enable);
        break;
      case HardeningAction::ShowProgress:
        front_.ShowProgress(step.text);
        break;
      case HardeningAction::TurnOnLegacyFirewall:
        // Where the profile is not there yet, the later steps do the work.
        legacy_.TurnOnFirewall();
        break;
      case HardeningAction::CloseLegacyProfile:
        legacy_.Cleanup();
        break;
      case HardeningAction::RefreshStatusAdvanced:
        result_.reading = ReadAdvancedPanel(advanced_);
        front_.ShowReading(result_.reading);
        break;
      case HardeningAction::RefreshStatusLegacy:
        result_.reading = ReadLegacyPanel(legacy_);
        front_.ShowReading(result_.reading);
        break;
      case HardeningAction::ShowCompletion:
        // The host is compared with how the run found it before the run
        // says how it ended: all the run's work precedes its last word.
        FinishKeeping();
        result_.complete = IsRunComplete(hostClass_, result_.outcome, result_.reading);
        front_.ShowCompletion(result_.complete, result_.outcome, result_.reading);
        break;
      default:
        break;
    }
  }

  int hostClass_;
  CAdvancedFirewall& advanced_;
  CLegacyFirewall& legacy_;
  HardeningFront& front_;
  HardeningRunOptions options_;
  HardeningRunResult result_;
  bool policyOpen_ = true;
  bool changeAnnounced_ = false;
  bool kept_ = false;
  bool deniedNow_ = false;
  bool failureSeen_ = false;
  bool changesStopped_ = false;
  qf::hardening::RestorePointKeeper keeper_{hostClass_};
};

}  // namespace

HardeningRunResult RunHardening(int hostClass, CAdvancedFirewall& advanced, CLegacyFirewall& legacy,
                                HardeningFront& front, const HardeningRunOptions& options) {
  return Run(hostClass, advanced, legacy, front, options).Execute();
}

PanelReading ReadAdvancedPanel(CAdvancedFirewall& advanced) {
  return qf::hardening::PanelOf(qf::hardening::ReadAdvancedEffective(advanced));
}

PanelReading ReadLegacyPanel(CLegacyFirewall& legacy) {
  return qf::hardening::PanelOf(qf::hardening::ReadLegacyEffective(legacy));
}
