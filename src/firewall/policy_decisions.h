// What the advanced firewall policy is told: rule texts, protocol label,
// profiles switched, and the port text of a lookup. No Windows header here.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace qf::firewall {

// Buffer the rule's resource identifier strings are composed in, terminator
// included: a composed text may have at most kRuleTextCapacity - 1 characters.
constexpr std::size_t kRuleTextCapacity = 500;
constexpr int kGroupingResourceId = 102;
constexpr int kDescriptionResourceId = 103;
// Domain, private and public together (deliberately not NET_FW_PROFILE2_ALL).
constexpr long kBlockRuleProfiles = 7;
constexpr long kTcpProtocolNumber = 6;
// The port text of a lookup must fit a buffer of this many characters.
constexpr std::size_t kPortTextCapacity = 10;

enum class ComposeError { None, TooLong, MissingText };

struct ComposedText {
  ComposeError error = ComposeError::None;
  std::wstring text;
  bool ok() const { return error == ComposeError::None; }
};

// "TCP" for protocol 6, "UDP" for every other number.
const wchar_t* ProtocolLabel(long protocol);

// "@QXRuleOptions.exe, <label>-<port text>"; TooLong when it would not fit.
ComposedText ComposeRuleName(const wchar_t* protocolLabel, const wchar_t* portText);
// "@QXRuleOptions.exe,-<resource id>" (grouping and description).
ComposedText ComposeResourceReference(int resourceId);

// The port's decimal text, or nullopt when it does not fit kPortTextCapacity.
std::optional<std::wstring> FormatPortText(int port);

// The profiles EnableFirewall switches on and IsFirewallEnabled reads, in order.
struct SwitchedProfile {
  long type;
  const char* label;
};
constexpr SwitchedProfile kSwitchedProfiles[] = {{4, "Public"}, {2, "Private"}};

}  // namespace qf::firewall
