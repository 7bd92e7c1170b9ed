// What is in force for the guarded ports once every source is merged as the
// platform merges them: the local policy, group policy (its switches win over
// the local ones; with local merge off, local rules do not count; its own
// block rules count by the same reach rule), the firewall service (nothing
// filters while it is stopped), shielded mode, excluded interfaces, and on
// the legacy firewall every opening (ports, service exceptions, Remote
// Administration, authorised listeners). Every verdict carries its reason;
// whatever could not be read never counts as protection. No Windows header.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "firewall/port_exposure.h"
#include "firewall/rule_reach.h"

namespace qf::firewall {

// A registry value of the policy: not configured, a number, or present but
// unreadable (wrong type, access denied).
struct PolicyValue {
  enum class State { Absent, Set, Unreadable };
  State state = State::Absent;
  unsigned long value = 0;
  static PolicyValue Absent() { return {}; }
  static PolicyValue Set(unsigned long number) { return {State::Set, number}; }
  static PolicyValue Unreadable() { return {State::Unreadable, 0}; }
};

// Profiles in the order domain, private, public.
constexpr std::size_t kProfileCount = 3;
constexpr long kProfileBits[kProfileCount] = {kProfileDomain, kProfilePrivate, kProfilePublic};
const char* ProfileName(std::size_t index);  // "domain", "private", "public"

// ---- advanced policy -------------------------------------------------------

// One profile as the local policy answers (INetFwPolicy2); nullopt: unread.
struct LocalProfileReading {
  std::optional<bool> firewallOn;
  std::optional<bool> blockAllInbound;
  std::optional<bool> excludesInterfaces;  // ExcludedInterfaces names at least one
};

// One profile under HKLM\SOFTWARE\Policies\Microsoft\WindowsFirewall.
struct GroupPolicyProfile {
  PolicyValue enableFirewall;
  PolicyValue doNotAllowExceptions;
  PolicyValue allowLocalPolicyMerge;
  PolicyValue defaultInboundAction;
};

// One value under the policy key's FirewallRules: its name and data.
struct PolicyRuleValue {
  std::wstring name;
  std::wstring text;
};

// INetFwPolicy2::LocalPolicyModifyState (Windows 7 and later): whether a
// change to the local policy takes effect (NET_FW_MODIFY_STATE).
enum class ModifyState { Ok = 0, GroupPolicyOverride = 1, InboundBlocked = 2 };

struct AdvancedPolicyInput {
  std::optional<bool> serviceRunning;  // MpsSvc
  std::optional<long> currentProfiles;
  std::array<LocalProfileReading, kProfileCount> local{};
  std::array<GroupPolicyProfile, kProfileCount> groupPolicy{};
  // The walk of the local rules over the guarded ports (whole test, reach
  // included); nullopt: the rules could not be read.
  std::optional<BlockTally> localRules;
  // nullopt: the FirewallRules key exists but could not be read; empty: none.
  std::optional<std::vector<PolicyRuleValue>> groupPolicyRules;
  // nullopt: not asked (before Windows 7) or no answer.
  std::optional<ModifyState> modifyState;
};

// ---- legacy firewall -------------------------------------------------------

// An authorised application of the current profile, local or group policy.
struct AuthorisedApplication {
  std::wstring program;  // its path as written ("%windir%\system32\svchost.exe", "System")
  std::optional<bool> enabled;
};

// The legacy group policy of the current profile (DomainProfile or
// StandardProfile under the policy key).
struct LegacyGroupPolicy {
  PolicyValue enableFirewall;
  PolicyValue doNotAllowExceptions;
  PolicyValue openPortsListEnabled;        // GloballyOpenPorts\Enabled
  std::vector<std::wstring> openPorts;     // GloballyOpenPorts\List data: "445:TCP:*:enabled:name"
  PolicyValue fileAndPrintEnabled;         // Services\FileAndPrint\Enabled
  PolicyValue remoteAdminEnabled;          // RemoteAdminSettings\Enabled
  PolicyValue applicationsListEnabled;     // AuthorizedApplications\Enabled
  std::vector<std::wstring> applications;  // AuthorizedApplications\List data: "path:scope:enabled:name"
  bool listsRead = true;                   // every list above could be read
};

struct LegacyPolicyInput {
  bool firewallPresent = true;         // INetFwMgr exists (not on Windows 2000, XP before SP2)
  bool domainProfile = false;          // the current profile is the domain one (else standard)
  std::optional<bool> serviceRunning;  // SharedAccess
  LegacyProfileReading profile;        // the current profile's switches and openings
  std::optional<bool> remoteAdminEnabled;
  std::optional<std::vector<AuthorisedApplication>> applications;
  LegacyGroupPolicy groupPolicy;
};

// ---- the merged state ------------------------------------------------------

enum class Reason {
  BlockedByRule,          // rule, groupPolicy
  BlockedByShieldedMode,  // groupPolicy: by group policy, else by the local switch
  BlockedNoOpening,       // legacy: firewall on, nothing opens the port
  BlockedNoExceptions,    // legacy: exceptions not allowed (groupPolicy tells by whom)
  NoRule,
  RuleNarrowed,  // rule, narrowing, groupPolicy
  ProfileOff,    // profile
  GroupPolicyKeepsProfileOff,
  GroupPolicyIgnoresLocalRules,
  ServiceStopped,
  FileAndPrintOpen,
  ServiceExceptionOpen,  // another service exception (UPnP, Remote Desktop)
  PortOpening,           // a globally open port
  RemoteAdminOpen,
  AuthorisedApplicationOpen,  // rule: the program
  InterfaceExcluded,          // profile
  NoWindowsFirewall,
  NotRead,  // what decides it could not be read
};

struct PortVerdict {
  long port = 0;
  long protocol = kProtocolTcp;
  bool blocked = false;
  Reason reason = Reason::NotRead;
  bool groupPolicy = false;
  std::wstring rule;
  Narrowing narrowing = Narrowing::None;
  std::string profile;  // "public", ... ; "domain" or "standard" on the legacy firewall
};

struct EffectivePolicy {
  bool firewallOn = false;            // the panel's firewall line
  std::vector<PortVerdict> verdicts;  // each port, TCP then UDP
  // Advanced path: each profile's switch as in force, group policy's value
  // over the local one (domain, private, public).
  std::array<std::optional<bool>, kProfileCount> profileOn{};
  // Why a run cannot bring the host to the hardened state, as standard output
  // and the console program say it.
  std::vector<std::string> causes;

  const PortVerdict* Find(long port, long protocol) const;
  bool ProtocolBlocked(long port, long protocol) const;
  bool PortBlocked(long port) const;  // TCP and UDP
};

EffectivePolicy ComposeAdvancedPolicy(const AdvancedPolicyInput& input, const std::vector<long>& ports);
EffectivePolicy ComposeLegacyPolicy(const LegacyPolicyInput& input, const std::vector<long>& ports);

// The verdict's reason in English, UTF-8: "blocked by local rule \"...\"".
std::string DescribeReason(const PortVerdict& verdict);

// Whether an authorised program listens on the port: the kernel ("System")
// on 137, 138, 139 and 445, the service host (svchost.exe, the RPC endpoint
// mapper) on 135. Matched by file name, in any case.
bool ListensOn(const std::wstring& program, long port);

}  // namespace qf::firewall
