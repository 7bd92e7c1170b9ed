#include "hardening/status_report.h"

#include "hardening/hardening_outcome.h"

namespace qf::hardening {

namespace {

using qf::firewall::RuleRecord;

// A whole record answers every property; an incomplete one none.
class RecordProperties final : public qf::firewall::RuleProperties, public qf::firewall::RuleReach {
 public:
  explicit RecordProperties(const RuleRecord& rule) : rule_(rule) {}
  std::optional<bool> Enabled() override { return Known<bool>(rule_.enabled); }
  std::optional<long> Direction() override { return Known<long>(rule_.direction); }
  std::optional<long> Action() override { return Known<long>(rule_.action); }
  std::optional<long> Protocol() override { return Known<long>(rule_.protocol); }
  std::optional<long> Profiles() override { return Known<long>(rule_.profiles); }
  std::optional<std::wstring> LocalPorts() override { return Known<std::wstring>(rule_.localPorts); }
  std::optional<std::wstring> ApplicationName() override { return Known<std::wstring>(rule_.applicationName); }
  std::optional<std::wstring> ServiceName() override { return Known<std::wstring>(rule_.serviceName); }
  std::optional<std::wstring> RemoteAddresses() override { return Known<std::wstring>(rule_.remoteAddresses); }
  std::optional<std::wstring> LocalAddresses() override { return Known<std::wstring>(rule_.localAddresses); }
  std::optional<std::wstring> RemotePorts() override { return Known<std::wstring>(rule_.remotePorts); }
  std::optional<std::wstring> InterfaceTypes() override { return Known<std::wstring>(rule_.interfaceTypes); }
  // A record keeps no named interfaces: the console program reads them with the walk's reader.
  std::optional<bool> NamesInterfaces() override { return Known<bool>(false); }
  std::optional<std::wstring> OtherCondition() override { return Known<std::wstring>(std::wstring()); }
  std::optional<std::wstring> Name() override { return rule_.name; }

 private:
  template <typename T>
  std::optional<T> Known(const T& value) const {
    if (!rule_.complete) return std::nullopt;
    return value;
  }
  const RuleRecord& rule_;
};

qf::firewall::BlockTally TallyOfRecords(const std::vector<RuleRecord>& rules, long currentProfiles) {
  qf::firewall::BlockTally tally(GuardedPortList(), currentProfiles);
  for (const RuleRecord& rule : rules) {
    if (tally.Complete()) break;
    RecordProperties properties(rule);
    tally.Examine(properties, properties);
  }
  return tally;
}

PortReport PortOf(const qf::firewall::EffectivePolicy& policy, long number) {
  PortReport port;
  port.port = number;
  port.tcpBlocked = policy.ProtocolBlocked(number, qf::firewall::kProtocolTcp);
  port.udpBlocked = policy.ProtocolBlocked(number, qf::firewall::kProtocolUdp);
  if (const auto* tcp = policy.Find(number, qf::firewall::kProtocolTcp)) port.tcpReason = DescribeReason(*tcp);
  if (const auto* udp = policy.Find(number, qf::firewall::kProtocolUdp)) port.udpReason = DescribeReason(*udp);
  return port;
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

PanelReading PanelOf(const qf::firewall::EffectivePolicy& policy) {
  PanelReading reading;
  reading.firewallOn = policy.firewallOn;
  for (std::size_t i = 0; i < kGuardedPorts.size(); ++i) reading.portBlocked[i] = policy.PortBlocked(kGuardedPorts[i]);
  reading.causes = policy.causes;
  return reading;
}

qf::firewall::EffectivePolicy AdvancedPolicyOf(const AdvancedFacts& facts) {
  qf::firewall::AdvancedPolicyInput input = facts.settings;
  input.currentProfiles = facts.currentProfiles;
  for (std::size_t i = 0; i < qf::firewall::kProfileCount; ++i) input.local[i].firewallOn = facts.profileOn[i];
  input.localRules.reset();
  if (facts.rules && facts.currentProfiles) input.localRules = TallyOfRecords(*facts.rules, *facts.currentProfiles);
  return qf::firewall::ComposeAdvancedPolicy(input, GuardedPortList());
}

PanelReading AdvancedReadingOf(const AdvancedFacts& facts) { return PanelOf(AdvancedPolicyOf(facts)); }

StatusReport ComposeAdvancedStatus(const std::string& hostLabel, int hostClass, const AdvancedFacts& facts,
                                   std::vector<ServiceReport> services) {
  StatusReport report = Base(hostLabel, hostClass, FirewallPath::Advanced, std::move(services));
  const qf::firewall::EffectivePolicy policy = AdvancedPolicyOf(facts);
  const PanelReading reading = PanelOf(policy);
  report.firewallOn = reading.firewallOn;
  const long inForce = facts.currentProfiles.value_or(0);
  static const char* const kNames[] = {"domain", "private", "public"};
  static const long kBits[] = {qf::firewall::kProfileDomain, qf::firewall::kProfilePrivate,
                               qf::firewall::kProfilePublic};
  for (std::size_t i = 0; i < 3; ++i) {
    report.profiles.push_back({kNames[i], policy.profileOn[i], (inForce & kBits[i]) != 0});
  }
  for (std::size_t i = 0; i < kGuardedPorts.size(); ++i) {
    PortReport port = PortOf(policy, kGuardedPorts[i]);
    if (facts.rules) port.blockRules = qf::firewall::CountBlockRulesCovering(*facts.rules, kGuardedPorts[i]);
    report.ports.push_back(port);
  }
  report.causes = policy.causes;
  if (facts.rules) {
    for (const RuleRecord& rule : *facts.rules) {
      if (qf::firewall::CarriesQuillfortGrouping(rule)) ++report.quillfortRules;
    }
  }
  report.hardened = ReadsHardened(hostClass, reading);
  return report;
}

StatusReport ComposeLegacyStatus(const std::string& hostLabel, int hostClass,
                                 const qf::firewall::LegacyPolicyInput& input, std::vector<ServiceReport> services) {
  StatusReport report = Base(hostLabel, hostClass, FirewallPath::Legacy, std::move(services));
  const qf::firewall::EffectivePolicy policy = qf::firewall::ComposeLegacyPolicy(input, GuardedPortList());
  const PanelReading panel = PanelOf(policy);
  const qf::firewall::LegacyProfileReading& reading = input.profile;
  report.firewallOn = panel.firewallOn;
  report.causes = policy.causes;
  for (std::size_t i = 0; i < kGuardedPorts.size(); ++i) {
    const long number = kGuardedPorts[i];
    PortReport port = PortOf(policy, number);
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
