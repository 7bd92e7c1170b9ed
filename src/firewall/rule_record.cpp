#include "firewall/rule_record.h"

#include "firewall/local_ports_match.h"
#include "firewall/policy_decisions.h"
#include "firewall/port_exposure.h"

namespace qf::firewall {

std::string Utf8Text(const std::wstring& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = static_cast<std::uint32_t>(text[i]);
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
        static_cast<std::uint32_t>(text[i + 1]) >= 0xDC00 && static_cast<std::uint32_t>(text[i + 1]) <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint32_t>(text[++i]) - 0xDC00);
    } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      c = 0xFFFD;  // a lone surrogate or no character at all
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

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
