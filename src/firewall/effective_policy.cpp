#include "firewall/effective_policy.h"

#include <cstddef>
#include <iterator>
#include <string_view>
#include <utility>

#include "firewall/group_policy_rule.h"
#include "firewall/local_ports_match.h"
#include "firewall/rule_record.h"

namespace qf::firewall {

namespace {

constexpr long kProtocols[] = {kProtocolTcp, kProtocolUdp};

wchar_t Fold(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool SameText(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

// Set: the policy's word; absent: the local one; unreadable: unknown.
std::optional<bool> Merged(const PolicyValue& policy, std::optional<bool> local) {
  switch (policy.state) {
    case PolicyValue::State::Set:
      return policy.value != 0;
    case PolicyValue::State::Unreadable:
      return std::nullopt;
    case PolicyValue::State::Absent:
      break;
  }
  return local;
}

bool SetOff(const PolicyValue& policy) { return policy.state == PolicyValue::State::Set && policy.value == 0; }
bool SetOn(const PolicyValue& policy) { return policy.state == PolicyValue::State::Set && policy.value != 0; }

std::string Quoted(std::wstring_view text) { return "\"" + Utf8Text(std::wstring(text)) + "\""; }

PortVerdict Verdict(long port, long protocol, bool blocked, Reason reason) {
  PortVerdict verdict;
  verdict.port = port;
  verdict.protocol = protocol;
  verdict.blocked = blocked;
  verdict.reason = reason;
  return verdict;
}

// Every port and protocol with the same verdict.
void FillAll(EffectivePolicy& policy, const std::vector<long>& ports, const PortVerdict& model) {
  for (long port : ports) {
    for (long protocol : kProtocols) {
      PortVerdict verdict = model;
      verdict.port = port;
      verdict.protocol = protocol;
      policy.verdicts.push_back(verdict);
    }
  }
}

void AddCause(EffectivePolicy& policy, const std::string& cause) {
  for (const std::string& known : policy.causes) {
    if (known == cause) return;
  }
  policy.causes.push_back(cause);
}

std::wstring_view FileNameOf(std::wstring_view path) {
  const std::size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring_view::npos ? path : path.substr(separator + 1);
}

// ---- advanced --------------------------------------------------------------

struct AdvancedMerge {
  std::array<std::optional<bool>, kProfileCount> on{};
  std::array<bool, kProfileCount> shieldedByPolicy{};
  std::array<bool, kProfileCount> shielded{};
  std::array<bool, kProfileCount> localRulesCount{};
  std::array<std::optional<bool>, kProfileCount> excluded{};
};

bool AnyGroupPolicySeen(const AdvancedPolicyInput& input) {
  if (input.groupPolicyRules && !input.groupPolicyRules->empty()) return true;
  for (const GroupPolicyProfile& profile : input.groupPolicy) {
    for (const PolicyValue* value : {&profile.enableFirewall, &profile.doNotAllowExceptions,
                                     &profile.allowLocalPolicyMerge, &profile.defaultInboundAction}) {
      if (value->state != PolicyValue::State::Absent) return true;
    }
  }
  return false;
}

// The firewall's own word on whether group policy rules: where it says so
// and the policy key showed nothing, group policy is in force unseen and
// counts as unread.
std::array<GroupPolicyProfile, kProfileCount> GroupPolicyInForce(const AdvancedPolicyInput& input) {
  std::array<GroupPolicyProfile, kProfileCount> profiles = input.groupPolicy;
  if (input.modifyState != ModifyState::GroupPolicyOverride || AnyGroupPolicySeen(input)) return profiles;
  for (GroupPolicyProfile& profile : profiles) {
    profile.enableFirewall = PolicyValue::Unreadable();
    profile.allowLocalPolicyMerge = PolicyValue::Unreadable();
  }
  return profiles;
}

AdvancedMerge MergeProfiles(const AdvancedPolicyInput& input,
                            const std::array<GroupPolicyProfile, kProfileCount>& groupPolicy) {
  AdvancedMerge merge;
  for (std::size_t i = 0; i < kProfileCount; ++i) {
    const GroupPolicyProfile& policy = groupPolicy[i];
    merge.on[i] = Merged(policy.enableFirewall, input.local[i].firewallOn);
    // Shielded mode only ever adds protection: unread counts as off.
    merge.shieldedByPolicy[i] = SetOn(policy.doNotAllowExceptions);
    merge.shielded[i] =
        Merged(policy.doNotAllowExceptions, input.local[i].blockAllInbound.value_or(false)).value_or(false);
    merge.localRulesCount[i] = Merged(policy.allowLocalPolicyMerge, true).value_or(false);
    merge.excluded[i] = input.local[i].excludesInterfaces;
    // The firewall says nothing blocks all inbound traffic.
    if (input.modifyState == ModifyState::Ok) merge.shielded[i] = merge.shieldedByPolicy[i] = false;
  }
  return merge;
}

// The first profile in force, in domain, private, public order, for which test holds.
template <typename Test>
std::optional<std::size_t> FirstInForce(long inForce, Test test) {
  for (std::size_t i = 0; i < kProfileCount; ++i) {
    if ((inForce & kProfileBits[i]) != 0 && test(i)) return i;
  }
  return std::nullopt;
}

BlockTally GroupPolicyTally(const std::vector<PolicyRuleValue>& values, const std::vector<long>& ports, long inForce) {
  BlockTally tally(ports, inForce);
  for (const PolicyRuleValue& value : values) {
    if (tally.Complete()) break;
    const ParsedPolicyRule parsed = ParseGroupPolicyRule(value.name, value.text);
    GroupPolicyRuleProperties properties(parsed);
    tally.Examine(properties, properties);
  }
  return tally;
}

}  // namespace

const char* ProfileName(std::size_t index) {
  static const char* const kNames[kProfileCount] = {"domain", "private", "public"};
  return index < kProfileCount ? kNames[index] : "unknown";
}

const PortVerdict* EffectivePolicy::Find(long port, long protocol) const {
  for (const PortVerdict& verdict : verdicts) {
    if (verdict.port == port && verdict.protocol == protocol) return &verdict;
  }
  return nullptr;
}

bool EffectivePolicy::ProtocolBlocked(long port, long protocol) const {
  const PortVerdict* verdict = Find(port, protocol);
  return verdict && verdict->blocked;
}

bool EffectivePolicy::PortBlocked(long port) const {
  return ProtocolBlocked(port, kProtocolTcp) && ProtocolBlocked(port, kProtocolUdp);
}

EffectivePolicy ComposeAdvancedPolicy(const AdvancedPolicyInput& input, const std::vector<long>& ports) {
  EffectivePolicy policy;
  const std::array<GroupPolicyProfile, kProfileCount> groupPolicy = GroupPolicyInForce(input);
  const AdvancedMerge merge = MergeProfiles(input, groupPolicy);
  policy.profileOn = merge.on;
  const long inForce = input.currentProfiles.value_or(0);
  const bool inForceKnown = inForce != 0 && (inForce & ~kKnownProfiles) == 0;

  // Causes a run cannot mend: group policy keeps a profile the firewall line
  // needs off, or could not be read.
  const long lineProfiles = kProfilePublic | kProfilePrivate | (inForceKnown ? inForce : 0);
  for (std::size_t i = 0; i < kProfileCount; ++i) {
    if ((lineProfiles & kProfileBits[i]) == 0) continue;
    const GroupPolicyProfile& gp = groupPolicy[i];
    if (SetOff(gp.enableFirewall)) {
      AddCause(policy, std::string("Group policy keeps the firewall off: ") + ProfileName(i) + " profile");
    }
    for (const PolicyValue* value : {&gp.enableFirewall, &gp.allowLocalPolicyMerge}) {
      if (value->state == PolicyValue::State::Unreadable) {
        AddCause(policy, std::string("Group policy could not be read: ") + ProfileName(i) + " profile");
      }
    }
  }
  if (input.serviceRunning != true) AddCause(policy, "The firewall service is not running");

  ProfileSwitches switches;
  switches.currentProfiles = input.currentProfiles;
  switches.domainOn = merge.on[0];
  switches.privateOn = merge.on[1];
  switches.publicOn = merge.on[2];
  // An excluded interface, or excluded interfaces that could not be read.
  const std::size_t excludedProfile =
      inForceKnown
          ? FirstInForce(inForce, [&](std::size_t i) { return merge.excluded[i] != false; }).value_or(kProfileCount)
          : kProfileCount;
  const bool excluding = excludedProfile < kProfileCount;
  if (excluding && merge.excluded[excludedProfile]) {
    AddCause(policy,
             std::string("Interfaces excluded from the firewall: ") + ProfileName(excludedProfile) + " profile");
  }
  policy.firewallOn = input.serviceRunning == true && AdvancedFirewallOn(switches) && !excluding;

  // Nothing filters: every port reads open for the same reason.
  if (input.serviceRunning != true) {
    FillAll(policy, ports,
            Verdict(0, 0, false, input.serviceRunning.has_value() ? Reason::ServiceStopped : Reason::NotRead));
    return policy;
  }
  if (!inForceKnown) {
    FillAll(policy, ports, Verdict(0, 0, false, Reason::NotRead));
    return policy;
  }
  if (const auto off = FirstInForce(inForce, [&](std::size_t i) { return merge.on[i] != true; })) {
    const bool byPolicy = SetOff(groupPolicy[*off].enableFirewall);
    PortVerdict verdict = Verdict(0, 0, false, byPolicy ? Reason::GroupPolicyKeepsProfileOff : Reason::ProfileOff);
    if (!merge.on[*off].has_value()) verdict.reason = Reason::NotRead;
    verdict.groupPolicy = byPolicy;
    verdict.profile = ProfileName(*off);
    FillAll(policy, ports, verdict);
    return policy;
  }
  if (excluding) {
    PortVerdict verdict = Verdict(0, 0, false, Reason::InterfaceExcluded);
    if (!merge.excluded[excludedProfile].has_value()) verdict.reason = Reason::NotRead;
    verdict.profile = ProfileName(excludedProfile);
    FillAll(policy, ports, verdict);
    return policy;
  }
  if (!FirstInForce(inForce, [&](std::size_t i) { return !merge.shielded[i]; })) {
    PortVerdict verdict = Verdict(0, 0, true, Reason::BlockedByShieldedMode);
    verdict.groupPolicy = FirstInForce(inForce, [&](std::size_t i) { return merge.shieldedByPolicy[i]; }).has_value();
    FillAll(policy, ports, verdict);
    return policy;
  }

  const std::optional<std::size_t> mergeOff =
      FirstInForce(inForce, [&](std::size_t i) { return !merge.localRulesCount[i]; });
  std::optional<BlockTally> policyRules;
  if (input.groupPolicyRules) policyRules = GroupPolicyTally(*input.groupPolicyRules, ports, inForce);
  bool anyOpen = false;
  for (std::size_t p = 0; p < ports.size(); ++p) {
    for (long protocol : kProtocols) {
      PortVerdict verdict = Verdict(ports[p], protocol, false, Reason::NoRule);
      const SlotFinding byPolicy = policyRules ? policyRules->Finding(p, protocol) : SlotFinding{};
      const SlotFinding local = input.localRules ? input.localRules->Finding(p, protocol) : SlotFinding{};
      if (byPolicy.blocked || (local.blocked && !mergeOff)) {
        const SlotFinding& by = byPolicy.blocked ? byPolicy : local;
        verdict.blocked = true;
        verdict.reason = Reason::BlockedByRule;
        verdict.groupPolicy = byPolicy.blocked;
        verdict.rule = by.rule;
      } else if (local.blocked) {
        verdict.reason = Reason::GroupPolicyIgnoresLocalRules;
        verdict.groupPolicy = true;
        verdict.rule = local.rule;
        verdict.profile = ProfileName(*mergeOff);
      } else if (byPolicy.narrowing != Narrowing::None || local.narrowing != Narrowing::None) {
        const bool policyNarrow = byPolicy.narrowing != Narrowing::None;
        const SlotFinding& narrow = policyNarrow ? byPolicy : local;
        verdict.reason = Reason::RuleNarrowed;
        verdict.groupPolicy = policyNarrow;
        verdict.rule = narrow.rule;
        verdict.narrowing = narrow.narrowing;
      } else if (!policyRules || !input.localRules) {
        verdict.reason = Reason::NotRead;
      }
      anyOpen = anyOpen || !verdict.blocked;
      policy.verdicts.push_back(verdict);
    }
  }
  // Local rules lost to group policy matter only while a port is open.
  if (anyOpen && mergeOff) {
    for (std::size_t i = 0; i < kProfileCount; ++i) {
      if ((inForce & kProfileBits[i]) != 0 && !merge.localRulesCount[i]) {
        AddCause(policy, std::string("Group policy ignores local rules: ") + ProfileName(i) + " profile");
      }
    }
  }
  return policy;
}

// ---- legacy ----------------------------------------------------------------

namespace {

constexpr long kRemoteAdminPorts[] = {135, 445};
constexpr long kFileAndPrintTcp[] = {139, 445};
constexpr long kFileAndPrintUdp[] = {137, 138};

bool Among(long port, const long* begin, const long* end) {
  for (const long* p = begin; p != end; ++p) {
    if (*p == port) return true;
  }
  return false;
}

// "445:TCP:*:enabled:name": an entry for this port and protocol that is not
// explicitly disabled. An entry whose port and protocol cannot be told apart
// opens nothing.
bool ListedOpenPortOpens(std::wstring_view entry, long port, long protocol) {
  const std::size_t first = entry.find(L':');
  if (first == std::wstring_view::npos) return false;
  const std::size_t second = entry.find(L':', first + 1);
  const std::wstring_view protocolText =
      entry.substr(first + 1, second == std::wstring_view::npos ? std::wstring_view::npos : second - first - 1);
  const std::optional<long> number = ParsePortNumber(entry.substr(0, first));
  if (!number || *number != port) return false;
  if (!SameText(protocolText, protocol == kProtocolTcp ? L"TCP" : L"UDP")) return false;
  if (second == std::wstring_view::npos) return true;
  const std::wstring_view rest = entry.substr(second + 1);
  const std::size_t third = rest.find(L':');
  if (third == std::wstring_view::npos) return true;
  const std::wstring_view status = rest.substr(third + 1, rest.find(L':', third + 1) - third - 1);
  return !SameText(status, L"disabled");
}

// "path:scope:enabled:name", the path possibly with a drive's colon: the
// program and whether it is not explicitly disabled.
AuthorisedApplication ListedApplication(std::wstring_view entry) {
  for (const bool enabled : {true, false}) {
    const std::wstring_view status = enabled ? L":enabled:" : L":disabled:";
    for (std::size_t at = 0; at + status.size() <= entry.size(); ++at) {
      if (!SameText(entry.substr(at, status.size()), status)) continue;
      const std::wstring_view pathAndScope = entry.substr(0, at);
      const std::size_t scope = pathAndScope.rfind(L':');
      const std::wstring_view path = scope == std::wstring_view::npos ? pathAndScope : pathAndScope.substr(0, scope);
      return {std::wstring(path), enabled};
    }
  }
  // No status: the path is all that can be told, and it may be open.
  const std::size_t scope = entry.find(L':', entry.size() > 2 && entry[1] == L':' ? 2 : 0);
  return {std::wstring(entry.substr(0, scope)), std::nullopt};
}

}  // namespace

bool ListensOn(const std::wstring& program, long port) {
  const std::wstring_view file = FileNameOf(program);
  if (SameText(file, L"System")) return port == 137 || port == 138 || port == 139 || port == 445;
  if (SameText(file, L"svchost.exe")) return port == kRpcEndpointMapperPort;
  return false;
}

EffectivePolicy ComposeLegacyPolicy(const LegacyPolicyInput& input, const std::vector<long>& ports) {
  EffectivePolicy policy;
  const char* profile = input.domainProfile ? "domain" : "standard";
  if (!input.firewallPresent) {
    AddCause(policy, "This host has no firewall Quillfort can use");
    FillAll(policy, ports, Verdict(0, 0, false, Reason::NoWindowsFirewall));
    return policy;
  }
  const LegacyGroupPolicy& gp = input.groupPolicy;
  if (SetOff(gp.enableFirewall))
    AddCause(policy, std::string("Group policy keeps the firewall off: ") + profile + " profile");
  if (gp.enableFirewall.state == PolicyValue::State::Unreadable) {
    AddCause(policy, std::string("Group policy could not be read: ") + profile + " profile");
  }
  if (input.serviceRunning != true) AddCause(policy, "The firewall service is not running");
  const std::optional<bool> on = Merged(gp.enableFirewall, input.profile.firewallOn);
  policy.firewallOn = input.serviceRunning == true && on == true;
  if (input.serviceRunning != true) {
    FillAll(policy, ports,
            Verdict(0, 0, false, input.serviceRunning.has_value() ? Reason::ServiceStopped : Reason::NotRead));
    return policy;
  }
  if (on != true) {
    PortVerdict verdict = Verdict(0, 0, false,
                                  SetOff(gp.enableFirewall) ? Reason::GroupPolicyKeepsProfileOff
                                  : on.has_value()          ? Reason::ProfileOff
                                                            : Reason::NotRead);
    verdict.groupPolicy = SetOff(gp.enableFirewall);
    verdict.profile = profile;
    FillAll(policy, ports, verdict);
    return policy;
  }
  if (Merged(gp.doNotAllowExceptions, input.profile.exceptionsNotAllowed).value_or(false)) {
    PortVerdict verdict = Verdict(0, 0, true, Reason::BlockedNoExceptions);
    verdict.groupPolicy = SetOn(gp.doNotAllowExceptions);
    FillAll(policy, ports, verdict);
    return policy;
  }

  const bool policyAppsInForce = SetOn(gp.applicationsListEnabled);
  for (long port : ports) {
    for (long protocol : kProtocols) {
      PortVerdict verdict = Verdict(port, protocol, true, Reason::BlockedNoOpening);
      const auto open = [&](Reason reason, bool byPolicy, std::wstring what = {}) {
        if (!verdict.blocked) return;  // the first opening found is the reason
        verdict.blocked = false;
        verdict.reason = reason;
        verdict.groupPolicy = byPolicy;
        verdict.rule = std::move(what);
      };
      // Remote Administration opens the endpoint mapper and SMB over TCP.
      if (protocol == kProtocolTcp && Among(port, std::begin(kRemoteAdminPorts), std::end(kRemoteAdminPorts))) {
        if (SetOn(gp.remoteAdminEnabled)) open(Reason::RemoteAdminOpen, true);
        if (input.remoteAdminEnabled != false) {
          open(input.remoteAdminEnabled ? Reason::RemoteAdminOpen : Reason::NotRead, false);
        }
      }
      const bool fileAndPrintPort = protocol == kProtocolTcp
                                        ? Among(port, std::begin(kFileAndPrintTcp), std::end(kFileAndPrintTcp))
                                        : Among(port, std::begin(kFileAndPrintUdp), std::end(kFileAndPrintUdp));
      if (fileAndPrintPort && SetOn(gp.fileAndPrintEnabled)) open(Reason::FileAndPrintOpen, true);
      if (SetOn(gp.openPortsListEnabled)) {
        for (const std::wstring& entry : gp.openPorts) {
          if (ListedOpenPortOpens(entry, port, protocol)) open(Reason::PortOpening, true, entry);
        }
      }
      if (!input.profile.openingsRead) open(Reason::NotRead, false);
      for (const LegacyOpening& opening : input.profile.openings) {
        if (opening.port != port || opening.protocol != protocol || opening.enabled == false) continue;
        const Reason reason = !opening.enabled                              ? Reason::NotRead
                              : opening.serviceType == kFileAndPrintService ? Reason::FileAndPrintOpen
                              : opening.serviceType == kNoServiceException  ? Reason::PortOpening
                                                                            : Reason::ServiceExceptionOpen;
        open(reason, false);
      }
      // An authorised program may listen on either protocol.
      if (!input.applications) open(Reason::NotRead, false);
      std::vector<std::pair<AuthorisedApplication, bool>> applications;
      if (input.applications) {
        for (const AuthorisedApplication& app : *input.applications) applications.emplace_back(app, false);
      }
      if (policyAppsInForce) {
        for (const std::wstring& entry : gp.applications) applications.emplace_back(ListedApplication(entry), true);
      }
      for (const auto& [app, byPolicy] : applications) {
        if (app.enabled != false && ListensOn(app.program, port)) {
          open(app.enabled ? Reason::AuthorisedApplicationOpen : Reason::NotRead, byPolicy, app.program);
        }
      }
      if (!gp.listsRead) open(Reason::NotRead, true);
      policy.verdicts.push_back(verdict);
    }
  }
  return policy;
}

std::string DescribeReason(const PortVerdict& verdict) {
  const std::string source = verdict.groupPolicy ? "group policy" : "local";
  switch (verdict.reason) {
    case Reason::BlockedByRule:
      return "blocked by " + source + " rule " + Quoted(verdict.rule);
    case Reason::BlockedByShieldedMode:
      return std::string("blocked: ") + (verdict.groupPolicy ? "group policy blocks" : "the firewall blocks") +
             " all inbound connections";
    case Reason::BlockedNoOpening:
      return "blocked: no exception opens it";
    case Reason::BlockedNoExceptions:
      return std::string("blocked: ") + (verdict.groupPolicy ? "group policy allows" : "the firewall allows") +
             " no exceptions";
    case Reason::NoRule:
      return "no rule blocks it";
    case Reason::RuleNarrowed:
      return source + " rule " + Quoted(verdict.rule) + " narrowed to " + NarrowingLabel(verdict.narrowing);
    case Reason::ProfileOff:
      return "profile " + verdict.profile + " off";
    case Reason::GroupPolicyKeepsProfileOff:
      return "group policy keeps profile " + verdict.profile + " off";
    case Reason::GroupPolicyIgnoresLocalRules:
      return "group policy ignores local rules: profile " + verdict.profile;
    case Reason::ServiceStopped:
      return "firewall service stopped";
    case Reason::FileAndPrintOpen:
      return "exception \"File and Printer Sharing\" open" + std::string(verdict.groupPolicy ? " by group policy" : "");
    case Reason::ServiceExceptionOpen:
      return "a service exception opens it";
    case Reason::PortOpening: {
      std::string text = "port opening";
      if (!verdict.rule.empty()) text += " " + Quoted(verdict.rule);
      return text + (verdict.groupPolicy ? " by group policy" : "");
    }
    case Reason::RemoteAdminOpen:
      return "exception \"Remote Administration\" open" + std::string(verdict.groupPolicy ? " by group policy" : "");
    case Reason::AuthorisedApplicationOpen:
      return "authorised application " + Quoted(verdict.rule) + " open" +
             (verdict.groupPolicy ? " by group policy" : "");
    case Reason::InterfaceExcluded:
      return "interface excluded: profile " + verdict.profile;
    case Reason::NoWindowsFirewall:
      return "no Windows Firewall";
    case Reason::NotRead:
      return "could not be read";
  }
  return "could not be read";
}

}  // namespace qf::firewall
