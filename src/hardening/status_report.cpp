#include "hardening/status_report.h"

#include "hardening/hardening_outcome.h"

namespace qf::hardening {

namespace {

using qf::firewall::RuleRecord;

// A whole record answers every property; an incomplete one none.
class RecordProperties final : public qf::firewall::RuleProperties {
 public:
  explicit RecordProperties(const RuleRecord& rule) : rule_(rule) {}
  std::optional<bool> Enabled() override { return Known<bool>(rule_.enabled); }
  std::optional<long> Direction() override { return Known<long>(rule_.direction); }
  std::optional<long> Action() override { return Known<long>(rule_.action); }
  std::optional<long> Protocol() override { return Known<long>(rule_.protocol); }
  std::optional<long> Profiles() override { return Known<long>(rule_.profiles); }
  std::optional<std::wstring> LocalPorts() override { return Known<std::wstring>(rule_.localPorts); }

 private:
  template <typename T>
  std::optional<T> Known(const T& value) const {
    if (!rule_.complete) return std::nullopt;
    return value;
  }
  const RuleRecord& rule_;
};

qf::firewall::ProfileSwitches SwitchesOf(const AdvancedFacts& facts) {
  qf::firewall::ProfileSwitches switches;
  switches.currentProfiles = facts.currentProfiles;
  switches.domainOn = facts.profileOn[0];
  switches.privateOn = facts.profileOn[1];
  switches.publicOn = facts.profileOn[2];
  return switches;
}

// Rules only protect while every profile in force is on.
std::optional<qf::firewall::BlockTally> TallyOf(const AdvancedFacts& facts) {
  if (!facts.rules || !facts.currentProfiles || !qf::firewall::ProfilesInForceOn(SwitchesOf(facts))) {
    return std::nullopt;
  }
  qf::firewall::BlockTally tally(std::vector<long>(kGuardedPorts.begin(), kGuardedPorts.end()), *facts.currentProfiles);
  for (const RuleRecord& rule : *facts.rules) {
    RecordProperties properties(rule);
    tally.Examine(properties);
  }
  return tally;
}

StatusReport Base(const std::string& hostLabel, int hostClass, FirewallPath path, std::vector<ServiceReport> services) {
  StatusReport report;
  report.hostLabel = hostLabel;
  report.hostClass = hostClass;
  report.path = path;
  report.services = std::move(services);
  return report;
}

}  // namespace

bool ReadsHardened(int hostClass, const PanelReading& reading) { return ExposedItems(hostClass, reading).empty(); }

PanelReading AdvancedReadingOf(const AdvancedFacts& facts) {
  PanelReading reading;
  reading.firewallOn = qf::firewall::AdvancedFirewallOn(SwitchesOf(facts));
  if (const auto tally = TallyOf(facts)) {
    for (std::size_t i = 0; i < kGuardedPorts.size(); ++i) reading.portBlocked[i] = tally->PortBlocked(i);
  }
  return reading;
}

StatusReport ComposeAdvancedStatus(const std::string& hostLabel, int hostClass, const AdvancedFacts& facts,
                                   std::vector<ServiceReport> services) {
  StatusReport report = Base(hostLabel, hostClass, FirewallPath::Advanced, std::move(services));
  const PanelReading reading = AdvancedReadingOf(facts);
  report.firewallOn = reading.firewallOn;
  const long inForce = facts.currentProfiles.value_or(0);
  static const char* const kNames[] = {"domain", "private", "public"};
  static const long kBits[] = {qf::firewall::kProfileDomain, qf::firewall::kProfilePrivate,
                               qf::firewall::kProfilePublic};
  for (std::size_t i = 0; i < 3; ++i) {
    report.profiles.push_back({kNames[i], facts.profileOn[i], (inForce & kBits[i]) != 0});
  }
  const auto tally = TallyOf(facts);
  for (std::size_t i = 0; i < kGuardedPorts.size(); ++i) {
    PortReport port;
    port.port = kGuardedPorts[i];
    port.tcpBlocked = tally && tally->ProtocolBlocked(i, qf::firewall::kProtocolTcp);
    port.udpBlocked = tally && tally->ProtocolBlocked(i, qf::firewall::kProtocolUdp);
    if (facts.rules) port.blockRules = qf::firewall::CountBlockRulesCovering(*facts.rules, kGuardedPorts[i]);
    report.ports.push_back(port);
  }
  if (facts.rules) {
    for (const RuleRecord& rule : *facts.rules) {
      if (qf::firewall::CarriesQuillfortGrouping(rule)) ++report.quillfortRules;
    }
  }
  report.hardened = ReadsHardened(hostClass, reading);
  return report;
}

StatusReport ComposeLegacyStatus(const std::string& hostLabel, int hostClass,
                                 const qf::firewall::LegacyProfileReading& reading,
                                 std::vector<ServiceReport> services) {
  StatusReport report = Base(hostLabel, hostClass, FirewallPath::Legacy, std::move(services));
  PanelReading panel;
  panel.firewallOn = qf::firewall::LegacyFirewallOn(reading);
  report.firewallOn = panel.firewallOn;
  for (std::size_t i = 0; i < kGuardedPorts.size(); ++i) {
    const long number = kGuardedPorts[i];
    panel.portBlocked[i] = qf::firewall::LegacyPortBlocked(reading, number);
    PortReport port;
    port.port = number;
    port.tcpBlocked = qf::firewall::LegacyProtocolBlocked(reading, number, qf::firewall::kProtocolTcp);
    port.udpBlocked = qf::firewall::LegacyProtocolBlocked(reading, number, qf::firewall::kProtocolUdp);
    if (reading.openingsRead) {
      bool open = false;
      for (const qf::firewall::LegacyOpening& opening : reading.openings) {
        if (opening.port == number && opening.enabled.value_or(true)) open = true;
      }
      port.openingEnabled = open;
    }
    report.ports.push_back(port);
  }
  report.hardened = ReadsHardened(hostClass, panel);
  return report;
}

}  // namespace qf::hardening
