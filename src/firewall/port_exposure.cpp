#include "firewall/port_exposure.h"

#include "firewall/local_ports_match.h"

namespace qf::firewall {

namespace {

constexpr std::size_t kTcpSlot = 0;
constexpr std::size_t kUdpSlot = 1;

// A known, non-empty set of profiles: an empty or odd value names nothing
// that could be checked.
bool UsableProfiles(std::optional<long> profiles) {
  return profiles && *profiles != 0 && (*profiles & ~kKnownProfiles) == 0;
}

bool On(long profile, const ProfileSwitches& switches) {
  const std::optional<bool>* state = profile == kProfileDomain    ? &switches.domainOn
                                     : profile == kProfilePrivate ? &switches.privateOn
                                                                  : &switches.publicOn;
  return state->value_or(false);
}

bool AllOn(long profiles, const ProfileSwitches& switches) {
  for (long profile : {kProfileDomain, kProfilePrivate, kProfilePublic}) {
    if ((profiles & profile) != 0 && !On(profile, switches)) return false;
  }
  return true;
}

}  // namespace

long ProfilesToRead(std::optional<long> currentProfiles) {
  long profiles = kProfilePublic | kProfilePrivate;
  if (currentProfiles && (*currentProfiles & kProfileDomain) != 0) profiles |= kProfileDomain;
  return profiles;
}

bool AdvancedFirewallOn(const ProfileSwitches& switches) {
  if (!UsableProfiles(switches.currentProfiles)) return false;
  return AllOn(kProfilePublic | kProfilePrivate | *switches.currentProfiles, switches);
}

bool ProfilesInForceOn(const ProfileSwitches& switches) {
  return UsableProfiles(switches.currentProfiles) && AllOn(*switches.currentProfiles, switches);
}

BlockTally::BlockTally(std::vector<long> ports, long currentProfiles)
    : ports_(std::move(ports)), currentProfiles_(currentProfiles), blocked_(ports_.size(), {false, false}) {}

bool BlockTally::Needs(std::size_t slot) const {
  for (const auto& port : blocked_) {
    if (!port[slot]) return true;
  }
  return false;
}

bool BlockTally::Complete() const { return !Needs(kTcpSlot) && !Needs(kUdpSlot); }

bool BlockTally::PortBlocked(std::size_t index) const {
  return index < blocked_.size() && blocked_[index][kTcpSlot] && blocked_[index][kUdpSlot];
}

bool BlockTally::ProtocolBlocked(std::size_t index, long protocol) const {
  if (index >= blocked_.size()) return false;
  if (protocol == kProtocolTcp) return blocked_[index][kTcpSlot];
  if (protocol == kProtocolUdp) return blocked_[index][kUdpSlot];
  return false;
}

void BlockTally::Examine(RuleProperties& rule) {
  if (!UsableProfiles(currentProfiles_) || Complete()) return;
  if (rule.Enabled() != std::optional<bool>(true)) return;
  if (rule.Direction() != kDirectionInbound) return;
  if (rule.Action() != kActionBlock) return;

  const std::optional<long> protocol = rule.Protocol();
  if (!protocol) return;
  const bool tcp = (*protocol == kProtocolTcp || *protocol == kProtocolAny) && Needs(kTcpSlot);
  const bool udp = (*protocol == kProtocolUdp || *protocol == kProtocolAny) && Needs(kUdpSlot);
  if (!tcp && !udp) return;  // another protocol, or nothing left to block for it

  const std::optional<long> profiles = rule.Profiles();
  if (!profiles || (*profiles & currentProfiles_) != currentProfiles_) return;

  const std::optional<std::wstring> localPorts = rule.LocalPorts();
  if (!localPorts) return;
  for (std::size_t i = 0; i < ports_.size(); ++i) {
    const bool wanted = (tcp && !blocked_[i][kTcpSlot]) || (udp && !blocked_[i][kUdpSlot]);
    if (!wanted || !LocalPortsCoverPort(*localPorts, ports_[i])) continue;
    if (tcp) blocked_[i][kTcpSlot] = true;
    if (udp) blocked_[i][kUdpSlot] = true;
  }
}

bool LegacyFirewallOn(const LegacyProfileReading& reading) { return reading.firewallOn.value_or(false); }

bool LegacyProtocolBlocked(const LegacyProfileReading& reading, long port, long protocol) {
  if (!LegacyFirewallOn(reading)) return false;
  if (reading.exceptionsNotAllowed.value_or(false)) return true;
  if (!reading.openingsRead) return false;
  for (const LegacyOpening& opening : reading.openings) {
    if (opening.port == port && opening.protocol == protocol && opening.enabled.value_or(true)) return false;
  }
  return true;
}

bool LegacyPortBlocked(const LegacyProfileReading& reading, long port) {
  if (!LegacyFirewallOn(reading)) return false;
  // "Don't allow exceptions": the profile ignores every opening.
  if (reading.exceptionsNotAllowed.value_or(false)) return true;
  if (!reading.openingsRead) return false;
  for (const LegacyOpening& opening : reading.openings) {
    // Both protocols must be closed, so an opening of either exposes the port.
    if (opening.port == port && opening.enabled.value_or(true)) return false;
  }
  return true;
}

}  // namespace qf::firewall
