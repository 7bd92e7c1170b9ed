#include "hardening/hardening_plan.h"

#include <array>

#include "hardening/progress_texts.h"
#include "host/legacy_port_closing_batch.h"

namespace {

// The guarded ports as the rule additions take them, in the panel's order.
constexpr std::array<const wchar_t*, 6> kGuardedPortTexts{L"445", L"135", L"136", L"137", L"138", L"139"};

HardeningStep EnableControl(FrontControl control, bool enable) {
  HardeningStep step{HardeningAction::EnableControl};
  step.control = control;
  step.enable = enable;
  return step;
}

HardeningStep WithText(HardeningAction action, const char* text, long number = 0) {
  HardeningStep step{action};
  step.text = text;
  step.number = number;
  return step;
}

HardeningStep NeedingPolicy(HardeningStep step) {
  step.needsAdvancedPolicy = true;
  return step;
}

void AddServiceStart(std::vector<HardeningStep>& plan, const char* service) {
  plan.push_back(WithText(HardeningAction::SetServiceStartType, service, static_cast<long>(kServiceAutoStart)));
  plan.push_back(WithText(HardeningAction::StartServiceAndWait, service, kWaitUntilRunning));
}

void AddAdvancedHardening(std::vector<HardeningStep>& plan) {
  AddServiceStart(plan, kAdvancedFirewallService);
  plan.push_back({HardeningAction::ReopenAdvancedPolicy});
  plan.push_back(NeedingPolicy({HardeningAction::EnableAdvancedFirewall}));
  for (const wchar_t* port : kGuardedPortTexts) {
    for (long protocol : {kProtocolTcp, kProtocolUdp}) {
      HardeningStep rule{HardeningAction::AddBlockRule};
      rule.number = protocol;
      rule.portText = port;
      plan.push_back(NeedingPolicy(rule));
    }
  }
}

void AddNetshHardening(std::vector<HardeningStep>& plan) {
  AddServiceStart(plan, kLegacyFirewallService);
  for (const char* commandLine : LegacyPortClosingCommands()) {
    plan.push_back(WithText(HardeningAction::RunSystemCommand, commandLine));
  }
}

}  // namespace

bool UsesAdvancedRefresh(int hostClass) { return hostClass >= 4; }
bool HardensThroughAdvancedPolicy(int hostClass) { return hostClass >= 4; }
bool HardensThroughNetsh(int hostClass) { return hostClass < 4; }

std::vector<HardeningStep> HardeningPlan(int hostClass) {
  std::vector<HardeningStep> plan;
  plan.push_back(EnableControl(FrontControl::HardenButton, false));
  plan.push_back(EnableControl(FrontControl::ExitButton, false));
  plan.push_back(WithText(HardeningAction::ShowProgress, kTextHardeningStarted));
  plan.push_back({HardeningAction::TurnOnLegacyFirewall});
  if (HardensThroughAdvancedPolicy(hostClass)) {
    AddAdvancedHardening(plan);
  } else if (HardensThroughNetsh(hostClass)) {
    AddNetshHardening(plan);
  }
  plan.push_back({HardeningAction::CloseLegacyProfile});
  plan.push_back({HardeningAction::OpenLegacyProfile});
  plan.push_back(
      {UsesAdvancedRefresh(hostClass) ? HardeningAction::RefreshStatusAdvanced : HardeningAction::RefreshStatusLegacy});
  plan.push_back({HardeningAction::ShowCompletion});
  plan.push_back(EnableControl(FrontControl::HardenButton, true));
  plan.push_back(EnableControl(FrontControl::ExitButton, true));
  return plan;
}

bool IsCheckedStep(HardeningAction action) {
  switch (action) {
    case HardeningAction::SetServiceStartType:
    case HardeningAction::StartServiceAndWait:
    case HardeningAction::ReopenAdvancedPolicy:
    case HardeningAction::EnableAdvancedFirewall:
    case HardeningAction::AddBlockRule:
    case HardeningAction::RunSystemCommand:
    case HardeningAction::OpenLegacyProfile:
      return true;
    default:
      return false;
  }
}

std::string StepName(const HardeningStep& step) {
  const std::string text = step.text != nullptr ? step.text : "";
  switch (step.action) {
    case HardeningAction::SetServiceStartType:
      return "SetServiceStartType " + text;
    case HardeningAction::StartServiceAndWait:
      return "StartServiceAndWait " + text;
    case HardeningAction::ReopenAdvancedPolicy:
      return "CAdvancedFirewall::Initialize";
    case HardeningAction::EnableAdvancedFirewall:
      return "CAdvancedFirewall::EnableFirewall";
    case HardeningAction::AddBlockRule: {
      std::string port;
      for (const wchar_t* c = step.portText; c != nullptr && *c != 0; ++c) {
        port += static_cast<char>(*c);  // digits only
      }
      return std::string("AddBlockRule ") + (step.number == kProtocolUdp ? "UDP " : "TCP ") + port;
    }
    case HardeningAction::RunSystemCommand:
      return "RunSystemCommand " + text;
    case HardeningAction::OpenLegacyProfile:
      return "CLegacyFirewall::Initialize";
    case HardeningAction::TurnOnLegacyFirewall:
      return "CLegacyFirewall::TurnOnFirewall";
    default:
      return "step";
  }
}
