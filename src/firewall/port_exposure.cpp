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
    : ports_(std::move(ports)), currentProfiles_(currentProfiles), found_(ports_.size()) {}

bool BlockTally::Needs(std::size_t slot) const {
  for (const auto& port : found_) {
    if (!port[slot].blocked) return true;
  }
  return false;
}

bool BlockTally::Complete() const { return !Needs(kTcpSlot) && !Needs(kUdpSlot); }

bool BlockTally::PortBlocked(std::size_t index) const {
  return index < found_.size() && found_[index][kTcpSlot].blocked && found_[index][kUdpSlot].blocked;
}

bool BlockTally::ProtocolBlocked(std::size_t index, long protocol) const { return Finding(index, protocol).blocked; }

SlotFinding BlockTally::Finding(std::size_t index, long protocol) const {
  if (index >= found_.size()) return {};
  if (protocol == kProtocolTcp) return found_[index][kTcpSlot];
  if (protocol == kProtocolUdp) return found_[index][kUdpSlot];
  return {};
}

void BlockTally::Examine(RuleProperties& rule, RuleReach& reach) {
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
  std::vector<SlotFinding*> covered;
  for (std::size_t i = 0; i < ports_.size(); ++i) {
    const bool tcpWanted = tcp && !found_[i][kTcpSlot].blocked;
    const bool udpWanted = udp && !found_[i][kUdpSlot].blocked;
    if ((!tcpWanted && !udpWanted) || !LocalPortsCoverPort(*localPorts, ports_[i])) continue;
    if (tcpWanted) covered.push_back(&found_[i][kTcpSlot]);
    if (udpWanted) covered.push_back(&found_[i][kUdpSlot]);
  }
  if (covered.empty()) return;

  const Narrowing narrowing = FirstNarrowing(reach);
  bool named = false;
  std::wstring name;
  for (SlotFinding* slot : covered) {
    // A narrowed rule is kept as the reason only where no earlier one is.
    if (narrowing != Narrowing::None && slot->narrowing != Narrowing::None) continue;
    if (!named) {
      name = reach.Name().value_or(std::wstring());
      named = true;
    }
    *slot = {narrowing == Narrowing::None, name, narrowing};
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
