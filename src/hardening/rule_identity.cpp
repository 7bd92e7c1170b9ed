#include "hardening/rule_identity.h"

#include <cwctype>
#include <optional>

#include "hardening/guarded_ports.h"

namespace qf::hardening {

namespace {

using qf::firewall::RuleRecord;

constexpr wchar_t kRemovalSuffix[] = L" (removed by Quillfort restore)";

bool AnyOrEmpty(const std::wstring& text) { return text.empty() || text == L"*"; }

bool SameLetters(const std::wstring& a, const wchar_t* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i] != L'\0'; ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return i == a.size() && b[i] == L'\0';
}

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::wstring WithoutRemovalSuffix(const std::wstring& name) {
  const std::wstring suffix = kRemovalSuffix;
  return EndsWith(name, suffix) ? name.substr(0, name.size() - suffix.size()) : name;
}

bool IsQuillfortRuleName(const std::wstring& name) {
  for (long port : kGuardedPorts) {
    const std::wstring text = std::to_wstring(port);
    for (long protocol : {6L, 17L}) {
      const std::optional<RuleRecord> intended = qf::firewall::IntendedBlockRule(protocol, text.c_str());
      if (intended && intended->name == name) return true;
    }
  }
  return false;
}

}  // namespace

bool HasFullReach(const RuleRecord& rule) {
  return AnyOrEmpty(rule.remoteAddresses) && AnyOrEmpty(rule.localAddresses) && rule.applicationName.empty() &&
         AnyOrEmpty(rule.serviceName) && AnyOrEmpty(rule.remotePorts) &&
         (rule.interfaceTypes.empty() || SameLetters(rule.interfaceTypes, L"All"));
}

bool SameRecordedRule(const RuleRecord& a, const RuleRecord& b) {
  return a.complete == b.complete && a.name == b.name && a.description == b.description && a.grouping == b.grouping &&
         a.localPorts == b.localPorts && a.remotePorts == b.remotePorts && a.localAddresses == b.localAddresses &&
         a.remoteAddresses == b.remoteAddresses && a.applicationName == b.applicationName &&
         a.serviceName == b.serviceName && a.interfaceTypes == b.interfaceTypes && a.protocol == b.protocol &&
         a.direction == b.direction && a.action == b.action && a.profiles == b.profiles && a.enabled == b.enabled;
}

bool IsQuillfortBlockRuleFor(const RuleRecord& rule, const RuleRecord& intended) {
  return rule.complete && WithoutRemovalSuffix(rule.name) == intended.name &&
         rule.description == intended.description && rule.grouping == intended.grouping &&
         rule.localPorts == intended.localPorts && rule.protocol == intended.protocol &&
         rule.direction == intended.direction && rule.action == intended.action && rule.profiles == intended.profiles &&
         rule.enabled == intended.enabled && HasFullReach(rule);
}

bool IsQuillfortBlockRule(const RuleRecord& rule) {
  if (!rule.complete) return false;
  const std::optional<RuleRecord> intended = qf::firewall::IntendedBlockRule(rule.protocol, rule.localPorts.c_str());
  return intended && IsQuillfortRuleName(intended->name) && IsQuillfortBlockRuleFor(rule, *intended);
}

std::wstring RemovalName(const std::wstring& name) {
  return EndsWith(name, kRemovalSuffix) ? name : name + kRemovalSuffix;
}

bool RecordedByRestorePoint(const std::wstring& name, const std::wstring& grouping) {
  return grouping == qf::firewall::QuillfortGrouping() || IsQuillfortRuleName(WithoutRemovalSuffix(name));
}

}  // namespace qf::hardening
