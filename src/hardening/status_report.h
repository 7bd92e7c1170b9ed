// The console program's status of a host, composed from what the firewall
// and the service manager answered. No Windows header here.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "firewall/effective_policy.h"
#include "firewall/port_exposure.h"
#include "firewall/rule_record.h"
#include "hardening/guarded_ports.h"
#include "hardening/host_reports.h"

namespace qf::hardening {

// What the advanced policy answered; unset: unread.
struct AdvancedFacts {
  std::optional<long> currentProfiles;
  std::array<std::optional<bool>, 3> profileOn{};  // domain, private, public
  std::optional<std::vector<qf::firewall::RuleRecord>> rules;
  // What else decides: the service, shielded mode, excluded interfaces and
  // group policy. Its profiles in force, switches and local rules are the
  // ones above.
  qf::firewall::AdvancedPolicyInput settings;
};

// The panel's reading of what is in force.
PanelReading PanelOf(const qf::firewall::EffectivePolicy& policy);
qf::firewall::EffectivePolicy AdvancedPolicyOf(const AdvancedFacts& facts);
// The panel's reading from the same answers (the dialog reads it rule by rule).
PanelReading AdvancedReadingOf(const AdvancedFacts& facts);

StatusReport ComposeAdvancedStatus(const std::string& hostLabel, int hostClass, const AdvancedFacts& facts,
                                   std::vector<ServiceReport> services);
StatusReport ComposeLegacyStatus(const std::string& hostLabel, int hostClass,
                                 const qf::firewall::LegacyPolicyInput& input, std::vector<ServiceReport> services);

// hardened: what the dialog's completion rule asks of the panel.
bool ReadsHardened(int hostClass, const PanelReading& reading);

}  // namespace qf::hardening
