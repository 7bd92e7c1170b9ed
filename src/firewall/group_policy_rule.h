// Firewall rules that group policy adds: the values under the policy key's
// FirewallRules, each a text of the form
//   v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=6|LPort=445|Name=...|
// Versions 2.10 to 2.39 are read. Repeated tokens (LPort, Profile, RA4, ...)
// are lists; a missing Profile means every profile, a missing LPort every
// port, a missing address, program, service or interface token no limit.
// Tokens the platform narrows a rule by that have no property of their own
// here (authorisation lists, platforms, packages, ...) and tokens this reader
// does not know are kept as the rule's further condition, so such a rule
// never counts as protection. A text of an unknown version or that breaks
// the form is no rule at all. No Windows header here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "firewall/port_exposure.h"
#include "firewall/rule_reach.h"

namespace qf::firewall {

constexpr long kActionAllow = 1;
constexpr long kActionBypass = 2;
constexpr long kDirectionOutbound = 2;
constexpr long kEveryProfile = 0x7FFFFFFF;

enum class PolicyRuleStatus { Parsed, UnknownVersion, Malformed };

struct GroupPolicyRule {
  std::wstring id;  // the registry value's name
  std::wstring name;
  bool active = false;  // without Active=TRUE the rule is not in force
  long action = kActionAllow;
  long direction = kDirectionOutbound;
  long protocol = kProtocolAny;
  long profiles = kEveryProfile;
  std::wstring localPorts = L"*";  // items joined by commas, as LocalPortsCoverPort reads them
  std::wstring remotePorts;        // empty: any
  std::wstring program;
  std::wstring service;
  std::wstring remoteAddresses;  // IPv4 and IPv6 items joined; empty: any
  std::wstring localAddresses;
  std::wstring interfaceTypes = L"All";
  bool namesInterfaces = false;
  std::wstring otherCondition;  // the first further token's name; empty: none
};

struct ParsedPolicyRule {
  PolicyRuleStatus status = PolicyRuleStatus::Malformed;
  GroupPolicyRule rule;
  bool parsed() const { return status == PolicyRuleStatus::Parsed; }
};

// id: the value's name; text: its data without the string's terminator.
ParsedPolicyRule ParseGroupPolicyRule(std::wstring_view id, std::wstring_view text);

// The parsed rule for the walk; a rule that was not parsed answers no read,
// so it never counts.
class GroupPolicyRuleProperties final : public RuleProperties, public RuleReach {
 public:
  explicit GroupPolicyRuleProperties(const ParsedPolicyRule& rule) : rule_(rule) {}
  std::optional<bool> Enabled() override { return Known(rule_.rule.active); }
  std::optional<long> Direction() override { return Known(rule_.rule.direction); }
  std::optional<long> Action() override { return Known(rule_.rule.action); }
  std::optional<long> Protocol() override { return Known(rule_.rule.protocol); }
  std::optional<long> Profiles() override { return Known(rule_.rule.profiles); }
  std::optional<std::wstring> LocalPorts() override { return Known(rule_.rule.localPorts); }
  std::optional<std::wstring> ApplicationName() override { return Known(rule_.rule.program); }
  std::optional<std::wstring> ServiceName() override { return Known(rule_.rule.service); }
  std::optional<std::wstring> RemoteAddresses() override { return Known(rule_.rule.remoteAddresses); }
  std::optional<std::wstring> LocalAddresses() override { return Known(rule_.rule.localAddresses); }
  std::optional<std::wstring> RemotePorts() override { return Known(rule_.rule.remotePorts); }
  std::optional<std::wstring> InterfaceTypes() override { return Known(rule_.rule.interfaceTypes); }
  std::optional<bool> NamesInterfaces() override { return Known(rule_.rule.namesInterfaces); }
  std::optional<std::wstring> OtherCondition() override { return Known(rule_.rule.otherCondition); }
  std::optional<std::wstring> Name() override {
    return Known(rule_.rule.name.empty() ? rule_.rule.id : rule_.rule.name);
  }

 private:
  template <typename T>
  std::optional<T> Known(const T& value) const {
    if (!rule_.parsed()) return std::nullopt;
    return value;
  }
  const ParsedPolicyRule& rule_;
};

}  // namespace qf::firewall
