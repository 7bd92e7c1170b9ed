// Whether the network can reach a guarded port, from what the firewall
// reported. A port is blocked only when inbound TCP and UDP to it are both
// blocked on every profile in force, with the firewall of those profiles on.
// Whatever could not be read never counts as protection. No Windows header.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "firewall/rule_reach.h"

namespace qf::firewall {

constexpr long kProtocolTcp = 6;
constexpr long kProtocolUdp = 17;
constexpr long kProtocolAny = 256;
constexpr long kProfileDomain = 1;
constexpr long kProfilePrivate = 2;
constexpr long kProfilePublic = 4;
constexpr long kKnownProfiles = kProfileDomain | kProfilePrivate | kProfilePublic;
constexpr long kDirectionInbound = 1;
constexpr long kActionBlock = 0;

// ---- advanced policy -------------------------------------------------------

// The policy's profile switches and the profiles in force; nullopt: unread.
struct ProfileSwitches {
  std::optional<long> currentProfiles;
  std::optional<bool> domainOn;
  std::optional<bool> privateOn;
  std::optional<bool> publicOn;
};

// The profiles whose switches a reader must ask for: public and private
// always, the domain profile when it is in force.
long ProfilesToRead(std::optional<long> currentProfiles);
// The firewall line: public, private and every profile in force are on.
bool AdvancedFirewallOn(const ProfileSwitches& switches);
// Every profile in force is on (what a port's protection depends on).
bool ProfilesInForceOn(const ProfileSwitches& switches);

// Reads one property of the rule under examination, each at most once;
// nullopt when the read failed. Implemented over the platform's rule object.
class RuleProperties {
 public:
  virtual std::optional<bool> Enabled() = 0;
  virtual std::optional<long> Direction() = 0;
  virtual std::optional<long> Action() = 0;
  virtual std::optional<long> Protocol() = 0;
  virtual std::optional<long> Profiles() = 0;
  virtual std::optional<std::wstring> LocalPorts() = 0;

 protected:
  ~RuleProperties() = default;
};

// What the walk found for one port and protocol: the rule that blocks it, or
// else the first rule that would have but for its reach (narrowing says how).
struct SlotFinding {
  bool blocked = false;
  std::wstring rule;  // empty when no rule was found, or its name was not read
  Narrowing narrowing = Narrowing::None;
};

// Collects, over a walk of the rules, which ports some rule blocks for TCP
// and which for UDP. A rule counts for a port and protocol only when it is
// enabled, inbound, block, for that protocol or any, covers the port,
// applies to every profile in force and reaches every peer on every path.
// Properties are read cheapest first and the rule is dropped as soon as it
// can add nothing; the reach is read only for a rule that would otherwise
// count.
class BlockTally {
 public:
  BlockTally(std::vector<long> ports, long currentProfiles);

  // The whole test, reach included.
  void Examine(RuleProperties& rule, RuleReach& reach);
  // Every port blocked for both protocols: no later rule can change a thing.
  bool Complete() const;
  // Blocked for TCP and for UDP by the rules examined so far.
  bool PortBlocked(std::size_t index) const;
  // Blocked for the one protocol (6 or 17) by the rules examined so far.
  bool ProtocolBlocked(std::size_t index, long protocol) const;
  // The finding for the one protocol (6 or 17); an empty finding otherwise.
  SlotFinding Finding(std::size_t index, long protocol) const;
  std::size_t size() const { return ports_.size(); }

 private:
  bool Needs(std::size_t slot) const;
  std::vector<long> ports_;
  long currentProfiles_;
  std::vector<std::array<SlotFinding, 2>> found_;  // [port][0 TCP, 1 UDP]
};

// ---- legacy profile --------------------------------------------------------

constexpr long kNoServiceException = -1;
constexpr long kFileAndPrintService = 0;

// An opening of the current profile for a guarded port: a globally open
// port or a port of a service exception. enabled nullopt: unreadable.
struct LegacyOpening {
  long port = 0;
  long protocol = kProtocolTcp;
  std::optional<bool> enabled;
  // The service exception it belongs to (NET_FW_SERVICE_TYPE: 0 File and
  // Printer Sharing, 1 UPnP, 2 Remote Desktop), or none: a globally open port.
  long serviceType = kNoServiceException;
};

struct LegacyProfileReading {
  std::optional<bool> firewallOn;
  std::optional<bool> exceptionsNotAllowed;
  // Every source of openings (globally open ports, services) was read.
  bool openingsRead = false;
  std::vector<LegacyOpening> openings;
};

bool LegacyFirewallOn(const LegacyProfileReading& reading);
// Blocked when the firewall is on and either exceptions are not honoured or
// no opening of the port, of either protocol and any scope, may be open.
bool LegacyPortBlocked(const LegacyProfileReading& reading, long port);
// The same for one protocol (6 or 17).
bool LegacyProtocolBlocked(const LegacyProfileReading& reading, long port, long protocol);

}  // namespace qf::firewall
