// A rule of the advanced policy as read or as written whole, and the
// decisions made over such records: which rules are Quillfort's, which rule
// is the same as one a run would add, which rules block a port. No Windows
// header here.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qf::firewall {

struct RuleRecord {
  std::wstring name;
  std::wstring description;
  std::wstring grouping;
  std::wstring localPorts;
  // The rule's reach, as the platform reads it back ("*" or empty: any).
  std::wstring remotePorts;
  std::wstring localAddresses = L"*";
  std::wstring remoteAddresses = L"*";
  std::wstring applicationName;
  std::wstring serviceName;
  std::wstring interfaceTypes = L"All";
  long protocol = 256;
  long direction = 1;  // 1 in, 2 out
  long action = 1;     // 0 block, 1 allow
  long profiles = 0x7FFFFFFF;
  bool enabled = false;
  // Every property above was read; a partly read rule is never taken for
  // one of ours nor for a block.
  bool complete = true;
};

// A rule's text for diagnostics and reports: UTF-8, whatever the locale.
std::string Utf8Text(const std::wstring& text);

// The grouping every rule Quillfort adds carries.
std::wstring QuillfortGrouping();
bool CarriesQuillfortGrouping(const RuleRecord& rule);

// The rule a run adds for the protocol and port text; nullopt when its texts
// cannot be composed.
std::optional<RuleRecord> IntendedBlockRule(long protocol, const wchar_t* portText);

// The same rule as far as the network and a later lookup are concerned:
// name, protocol, local ports, direction, action, enabled and profiles.
bool SameBlockRule(const RuleRecord& a, const RuleRecord& b);

// Enabled inbound block rules for TCP, UDP or any protocol that cover the
// port, whatever their profiles.
int CountBlockRulesCovering(const std::vector<RuleRecord>& rules, long port);

}  // namespace qf::firewall
