// The decisions a hardening run makes while it runs, kept apart from the
// preview so that the dialog links only these.
#include "hardening/hardening_preview.h"
#include "hardening/host_access.h"
#include "hardening/rule_identity.h"

namespace qf::hardening {

unsigned PartsOfPath(int hostClass) {
  return kServicesPart | (HardensThroughAdvancedPolicy(hostClass) ? kAdvancedPart : kLegacyPart);
}

unsigned PartChangedBy(HardeningAction action, int hostClass) {
  switch (action) {
    case HardeningAction::TurnOnLegacyFirewall:
      // On Vista and later the legacy switch is the current profile's advanced one.
      return HardensThroughAdvancedPolicy(hostClass) ? kAdvancedPart : kLegacyPart;
    case HardeningAction::SetServiceStartType:
    case HardeningAction::StartServiceAndWait:
      return kServicesPart;
    case HardeningAction::EnableAdvancedFirewall:
    case HardeningAction::AddBlockRule:
      return kAdvancedPart;
    case HardeningAction::RunSystemCommand:
      return kLegacyPart;
    default:
      return 0;
  }
}

bool HoldsIdenticalBlockRule(const std::vector<qf::firewall::RuleRecord>& rules,
                             const qf::firewall::RuleRecord& intended) {
  // Only a rule of the full reach a run gives it counts as present.
  for (const qf::firewall::RuleRecord& rule : rules) {
    if (rule.name == intended.name && IsQuillfortBlockRuleFor(rule, intended)) return true;
  }
  return false;
}

long AdvancedProfileOfLegacySwitch(long profilesInForce) {
  if (profilesInForce & 1) return 1;
  if (profilesInForce & 2) return 2;
  return 4;
}

}  // namespace qf::hardening
