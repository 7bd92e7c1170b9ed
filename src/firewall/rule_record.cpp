#include "firewall/rule_record.h"

#include "firewall/local_ports_match.h"
#include "firewall/policy_decisions.h"
#include "firewall/port_exposure.h"

namespace qf::firewall {

std::wstring QuillfortGrouping() { return ComposeResourceReference(kGroupingResourceId).text; }

bool CarriesQuillfortGrouping(const RuleRecord& rule) { return rule.complete && rule.grouping == QuillfortGrouping(); }

std::optional<RuleRecord> IntendedBlockRule(long protocol, const wchar_t* portText) {
  const ComposedText name = ComposeRuleName(ProtocolLabel(protocol), portText);
  const ComposedText grouping = ComposeResourceReference(kGroupingResourceId);
  const ComposedText description = ComposeResourceReference(kDescriptionResourceId);
  if (!name.ok() || !grouping.ok() || !description.ok()) return std::nullopt;
  RuleRecord rule;
  rule.name = name.text;
  rule.grouping = grouping.text;
  rule.description = description.text;
  rule.localPorts = portText;
  rule.protocol = protocol;
  rule.direction = kDirectionInbound;
  rule.action = kActionBlock;
  rule.profiles = kBlockRuleProfiles;
  rule.enabled = true;
  return rule;
}

bool SameBlockRule(const RuleRecord& a, const RuleRecord& b) {
  return a.complete && b.complete && a.name == b.name && a.protocol == b.protocol && a.localPorts == b.localPorts &&
         a.direction == b.direction && a.action == b.action && a.enabled == b.enabled && a.profiles == b.profiles;
}

int CountBlockRulesCovering(const std::vector<RuleRecord>& rules, long port) {
  int count = 0;
  for (const RuleRecord& rule : rules) {
    if (!rule.complete || !rule.enabled || rule.direction != kDirectionInbound || rule.action != kActionBlock) {
      continue;
    }
    if (rule.protocol != kProtocolTcp && rule.protocol != kProtocolUdp && rule.protocol != kProtocolAny) continue;
    if (LocalPortsCoverPort(rule.localPorts, port)) ++count;
  }
  return count;
}

}  // namespace qf::firewall
