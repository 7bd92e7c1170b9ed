// The state of one simulated Windows host: firewall switches, rules, legacy
// open ports, the firewall services' configured behaviour, the netsh double's
// behaviour and log. Every testbed process reads and writes the same state
// through its text form (see host_state_store_win.h).
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testbed {

// Network categories of the advanced firewall, in the bit order of
// NET_FW_PROFILE_TYPE2 (domain 1, private 2, public 4).
enum class Profile { Domain = 0, Private = 1, Public = 2 };
constexpr int kProfileCount = 3;

// Profiles of the XP SP2 firewall interface (NET_FW_PROFILE_TYPE).
enum class LegacyProfile { Domain = 0, Standard = 1 };

long ProfileBit(Profile profile);
std::optional<Profile> ProfileFromBit(long bit);

// What an entry of the rule collection's enumeration is: a rule, or (a
// damaged store, a third-party provider) an object without INetFwRule, or
// a value that is no object at all.
enum class RuleItem { Rule, Object, Value };

// A rule of the advanced policy. Defaults are those of a freshly created
// rule object on Windows: inbound, allow, any protocol, all profiles, disabled.
struct FirewallRule {
  RuleItem item = RuleItem::Rule;
  std::string name;
  std::string description;
  std::string grouping;
  std::string applicationName;
  std::string serviceName;
  long protocol = 256;
  std::string localPorts;
  std::string remotePorts;
  std::string localAddresses = "*";
  std::string remoteAddresses = "*";
  std::string icmpTypesAndCodes;
  std::string interfaceTypes = "All";
  long direction = 1;  // 1 in, 2 out
  long action = 1;     // 0 block, 1 allow
  long profiles = 0x7FFFFFFF;
  bool enabled = false;
  bool edgeTraversal = false;
};

// An entry of a legacy profile's globally open ports.
struct OpenPort {
  LegacyProfile profile = LegacyProfile::Standard;
  long port = 0;
  long protocol = 6;  // 6 TCP, 17 UDP
  std::string name;
  bool enabled = true;
  std::string scope = "ALL";
  // The remote addresses a CUSTOM scope is made of; empty otherwise.
  std::string addresses;
};

// A predefined service exception of a legacy profile (File and Printer
// Sharing and its kin): a fixed set of ports opened together. The platform
// reports the service as enabled only when every one of its ports is.
enum class ServiceType { FileAndPrint = 0, Upnp = 1, RemoteDesktop = 2 };

struct ServicePort {
  long port = 0;
  long protocol = 6;  // 6 TCP, 17 UDP
  bool enabled = true;
};

struct ServiceException {
  LegacyProfile profile = LegacyProfile::Standard;
  ServiceType type = ServiceType::FileAndPrint;
  std::string scope = "ALL";
  std::vector<ServicePort> ports;

  bool Enabled() const;
  void SetEnabled(bool on);
};

// The ports a service exception opens on a freshly installed host.
std::vector<ServicePort> DefaultServicePorts(ServiceType type, bool enabled);
const char* ServiceTypeName(ServiceType type);  // as netsh spells it
const char* ServiceDisplayName(ServiceType type);
std::optional<ServiceType> ServiceTypeFromName(std::string_view name);

// What the service control manager reports for a service. Only a dump of
// the host fills it in; the state file itself never holds it.
struct ScmReport {
  bool installed = false;
  unsigned long startType = 0;  // SERVICE_AUTO_START 2, DEMAND 3, DISABLED 4...
  std::string state;            // "running", "stopped"... as the dump names it
};

// How the service double answers a start request.
enum class StartBehaviour {
  Immediate,  // running at once
  Pending,    // start-pending for pendingRounds status reports, then running
  Stuck,      // start-pending for ever
  Refusing,   // stops at once with an error exit code
  Missing,    // not registered with the service control manager at all
};

struct ServiceSetup {
  std::string name;
  StartBehaviour behaviour = StartBehaviour::Immediate;
  int pendingRounds = 0;
  unsigned long initialStartType = 3;     // SERVICE_DEMAND_START
  std::string recordedState = "stopped";  // written by the service double
  int starts = 0;                         // start requests it has served
  std::optional<ScmReport> scm;
};

// A share as NetShareEnum lists it (SHARE_INFO_1).
enum class ShareKind { Disk = 0, Print = 1, Device = 2, Ipc = 3 };

struct Share {
  std::string name;
  ShareKind kind = ShareKind::Disk;
  bool special = false;  // STYPE_SPECIAL: ADMIN$, C$, IPC$, print$
  std::string remark;

  unsigned long Type() const { return static_cast<unsigned long>(kind) | (special ? 0x80000000ul : 0ul); }
};

enum class NetshMode { Normal, Fail, Hang };

// An authorised application of a legacy profile.
struct AuthorisedApp {
  LegacyProfile profile = LegacyProfile::Standard;
  std::string program;  // its path, or "System"
  std::string name;
  bool enabled = true;
};

// A group policy value under HKLM\SOFTWARE\Policies\Microsoft\WindowsFirewall,
// written to the registry when the host is seeded.
struct PolicySetting {
  std::string key;  // below the policy key: "PublicProfile", "FirewallRules", ...
  std::string name;
  std::optional<unsigned long> number;  // REG_DWORD; else text, REG_SZ
  std::string text;
};

// A planned answer of the firewall objects. The nth call (1-based, counted
// in seen since it was planned; 0: every call) of the named method answers
// hr: a failure at once, without doing anything; a success code after doing
// the work. Where value is set, the method hands out that value instead of
// the state's (a VARIANT_BOOL of 1, say). With rule set, only calls on the
// rule of that name count and answer.
struct PlannedFault {
  std::string call;  // the method as the objects name it, e.g. "RulesAdd"
  int nth = 0;
  long hr = 0;  // an HRESULT
  std::optional<long> value;
  std::string rule;
  int seen = 0;
};

struct PlannedAnswer {
  long hr = 0;
  std::optional<long> value;
};

// True when some fault is planned for the method.
bool PlansFor(const std::vector<PlannedFault>& plan, std::string_view call);
// Counts a call of the method (on the named rule, if any) against the plan
// and gives the first planned answer it meets; hr 0 where none applies.
PlannedAnswer TakePlannedAnswer(std::vector<PlannedFault>& plan, std::string_view call, std::string_view rule);

struct NetshSetup {
  NetshMode mode = NetshMode::Normal;
  int hangSeconds = 30;
  // Fail or Hang apply to the first faultyCalls invocations only; 0: all.
  int faultyCalls = 0;
};

struct HostState {
  std::string scenario;
  Profile currentProfile = Profile::Private;
  // More profiles in force at once (a host on several networks), as bits;
  // 0: only currentProfile.
  long currentProfileTypes = 0;
  std::array<bool, kProfileCount> firewallOn{};
  // Profiles whose switch group policy holds, as bits: local changes are
  // accepted and have no effect, as on a domain member whose policy rules.
  long heldByGroupPolicy = 0;
  // Per legacy profile (domain, standard): "don't allow exceptions".
  std::array<bool, 2> exceptionsNotAllowed{};
  bool refusePolicy2 = false;
  bool refuseLegacyManager = false;
  // The policy's rule collection refuses its refuseAddNumber-th Add (counted
  // over the host's life in addsSeen); 0: it refuses none.
  int refuseAddNumber = 0;
  int addsSeen = 0;
  // A standard user's view: everything reads, every firewall change (COM
  // puts, rule adds and removals, netsh commands) is refused.
  bool denyChanges = false;
  // Faults planned for single methods of the firewall objects.
  std::vector<PlannedFault> faultPlan;
  // The firewall objects answer only while their service runs (MpsSvc for
  // the advanced policy, SharedAccess for the legacy manager), as Windows
  // does; off, they answer whatever the services do.
  bool firewallNeedsService = false;
  // Vista and later: the legacy manager is a view of the advanced policy and
  // is served by MpsSvc too (SharedAccess is Internet Connection Sharing).
  bool legacyServedByMpsSvc = false;
  // Per advanced profile, as bits: shielded mode (block all inbound) and
  // profiles that exclude an interface from the firewall.
  long blockAllInbound = 0;
  long excludedInterfaces = 0;
  // No Windows Firewall at all (Windows 2000, XP before SP2): its classes
  // are not registered.
  bool noWindowsFirewall = false;
  // Per legacy profile (domain, standard): the Remote Administration exception.
  std::array<bool, 2> remoteAdmin{};
  std::vector<AuthorisedApp> authorisedApps;
  std::vector<PolicySetting> groupPolicy;
  NetshSetup netsh;
  std::vector<ServiceSetup> services;
  std::vector<OpenPort> openPorts;
  std::vector<ServiceException> serviceExceptions;
  std::vector<FirewallRule> rules;  // insertion order is enumeration order
  std::vector<std::string> netshLog;
  // The Windows version given to Quillfort.exe; only a dump fills it in.
  std::optional<std::string> windowsVersion;
  // ProductOptions ProductType: "WinNT", "ServerNT" or "LanmanNT" (a domain
  // controller); seeding writes it into the registry, a dump reads it back.
  std::string productType = "WinNT";
  std::vector<Share> shares;  // what the netapi32 double's NetShareEnum lists

  bool IsOn(Profile p) const { return firewallOn[static_cast<int>(p)]; }
  void SetOn(Profile p, bool on) { firewallOn[static_cast<int>(p)] = on; }
  bool HeldByGroupPolicy(Profile p) const { return (heldByGroupPolicy & ProfileBit(p)) != 0; }
  // A switch by a local tool (firewall objects, netsh): held profiles stay.
  void SwitchLocally(Profile p, bool on) {
    if (!HeldByGroupPolicy(p)) SetOn(p, on);
  }
  ServiceSetup* FindService(std::string_view name);
  const ServiceSetup* FindService(std::string_view name) const;
  OpenPort* FindOpenPort(LegacyProfile profile, long port, long protocol);
  const OpenPort* FindOpenPort(LegacyProfile profile, long port, long protocol) const;
  ServiceException* FindServiceException(LegacyProfile profile, ServiceType type);
  const ServiceException* FindServiceException(LegacyProfile profile, ServiceType type) const;
  // A service the state lists whose double recorded it running.
  bool ServiceRunning(std::string_view name) const;
  // NET_FW_PROFILE_TYPE2 bits of every profile in force.
  long CurrentProfileTypes() const;
  bool RemoteAdmin(LegacyProfile p) const { return remoteAdmin[static_cast<int>(p)]; }
  void SetRemoteAdmin(LegacyProfile p, bool on) { remoteAdmin[static_cast<int>(p)] = on; }
  bool ExceptionsNotAllowed(LegacyProfile p) const { return exceptionsNotAllowed[static_cast<int>(p)]; }
  void SetExceptionsNotAllowed(LegacyProfile p, bool on) { exceptionsNotAllowed[static_cast<int>(p)] = on; }
};

// The legacy profile that is current: domain on a domain network, standard
// otherwise (the platform keeps only these two).
LegacyProfile CurrentLegacyProfile(const HostState& state);
// The advanced profile whose switch a legacy profile reads and writes: the
// standard profile is the current private or public category.
Profile AdvancedProfileOf(LegacyProfile legacy, const HostState& state);

std::string SerializeState(const HostState& state);

struct ParseResult {
  std::optional<HostState> state;
  std::string error;  // "line N: ..." when state is empty
};
ParseResult ParseState(std::string_view text);

const char* BehaviourName(StartBehaviour behaviour);
// Service start types as the dump names them: boot, system, auto, demand,
// disabled; anything else is "unknown".
const char* StartTypeName(unsigned long startType);
std::optional<unsigned long> StartTypeFromName(std::string_view name);
std::optional<StartBehaviour> BehaviourFromName(std::string_view name);

}  // namespace testbed
