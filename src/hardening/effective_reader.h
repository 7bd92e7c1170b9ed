// What is in force on this host, read through the firewall objects a run
// uses, with the firewall's group policy and its service.
#pragma once

#include "firewall/advanced_firewall.h"
#include "firewall/effective_policy.h"
#include "firewall/legacy_firewall.h"

namespace qf::hardening {

// Everything the merge needs but the walk of the local rules.
qf::firewall::AdvancedPolicyInput ReadAdvancedSettings(CAdvancedFirewall& advanced);
qf::firewall::EffectivePolicy ReadAdvancedEffective(CAdvancedFirewall& advanced);

// The legacy profile's readings; legacy need not be open (then the profile is unread).
qf::firewall::LegacyPolicyInput ReadLegacyInput(CLegacyFirewall& legacy);
qf::firewall::EffectivePolicy ReadLegacyEffective(CLegacyFirewall& legacy);

}  // namespace qf::hardening
