#include "firewall/group_policy_rule.h"

#include <cstddef>

#include "firewall/local_ports_match.h"

namespace qf::firewall {

namespace {

constexpr int kLowestMinorVersion = 10;
constexpr int kHighestMinorVersion = 39;

wchar_t Fold(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

// The form's literals match in any case.
bool Same(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

bool AllDigits(std::wstring_view text) {
  if (text.empty()) return false;
  for (wchar_t c : text) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

// "LPort", or "LPort2_10", "LPort2_20", ... of later versions.
bool IsVersionedKey(std::wstring_view key, std::wstring_view base) {
  if (key.size() < base.size() || !Same(key.substr(0, base.size()), base)) return false;
  const std::wstring_view rest = key.substr(base.size());
  if (rest.empty()) return true;
  const std::size_t underscore = rest.find(L'_');
  return underscore != std::wstring_view::npos && AllDigits(rest.substr(0, underscore)) &&
         AllDigits(rest.substr(underscore + 1));
}

// A port, a range "low-high", or a keyword (RPC, RPC-EPMap, IPHTTPSIn, ...).
bool ValidPortItem(std::wstring_view item) {
  if (item.empty()) return false;
  if (IsLetter(item.front())) {
    for (wchar_t c : item) {
      if (!IsLetter(c) && !IsDigit(c) && c != L'-') return false;
    }
    return true;
  }
  const std::size_t hyphen = item.find(L'-');
  if (hyphen == std::wstring_view::npos) return ParsePortNumber(item).has_value();
  const auto low = ParsePortNumber(item.substr(0, hyphen));
  const auto high = ParsePortNumber(item.substr(hyphen + 1));
  return low && high && *low <= *high;
}

void Append(std::wstring& list, std::wstring_view item) {
  if (!list.empty()) list += L',';
  list += item;
}

class Reader {
 public:
  explicit Reader(GroupPolicyRule& rule) : rule_(rule) {}

  bool Field(std::wstring_view key, std::wstring_view value) {
    if (Same(key, L"Name")) return Once(seenName_) && Assign(rule_.name, value);
    if (Same(key, L"Desc") || Same(key, L"EmbedCtxt")) return true;
    if (value.empty()) return false;
    if (Same(key, L"Action")) return Once(seenAction_) && ReadAction(value);
    if (Same(key, L"Dir")) return Once(seenDirection_) && ReadDirection(value);
    if (Same(key, L"Active")) return Once(seenActive_) && ReadActive(value);
    if (Same(key, L"Protocol")) return Once(seenProtocol_) && ReadProtocol(value);
    if (Same(key, L"Profile")) return ReadProfile(value);
    if (IsVersionedKey(key, L"LPort")) return ReadPort(value, localPorts_);
    if (IsVersionedKey(key, L"RPort")) return ReadPort(value, rule_.remotePorts);
    if (Same(key, L"App")) return Once(seenProgram_) && Assign(rule_.program, value);
    if (Same(key, L"Svc")) return Once(seenService_) && Assign(rule_.service, value);
    if (Same(key, L"RA4") || Same(key, L"RA6")) return Assign(rule_.remoteAddresses, value, true);
    if (Same(key, L"LA4") || Same(key, L"LA6")) return Assign(rule_.localAddresses, value, true);
    if (Same(key, L"IFType")) return ReadInterfaceType(value);
    if (Same(key, L"IF")) return rule_.namesInterfaces = true;
    // No bearing on who reaches a port: edge traversal, deferral, ICMP types.
    if (Same(key, L"Edge") || Same(key, L"Defer") || Same(key, L"LOM") || Same(key, L"ICMP4") || Same(key, L"ICMP6")) {
      return true;
    }
    if (rule_.otherCondition.empty()) rule_.otherCondition.assign(key);
    return true;
  }

  bool Finish() {
    if (!seenAction_ || !seenDirection_) return false;
    if (!localPorts_.empty()) {
      // Ports exist only for TCP and UDP; the platform refuses such a rule otherwise.
      if (rule_.protocol != kProtocolTcp && rule_.protocol != kProtocolUdp) return false;
      rule_.localPorts = localPorts_;
    }
    if (!rule_.remotePorts.empty() && rule_.protocol != kProtocolTcp && rule_.protocol != kProtocolUdp) return false;
    if (profiles_ != 0) rule_.profiles = profiles_;
    if (!interfaceTypes_.empty()) rule_.interfaceTypes = interfaceTypes_;
    return true;
  }

 private:
  static bool Once(bool& seen) {
    if (seen) return false;
    seen = true;
    return true;
  }
  static bool Assign(std::wstring& target, std::wstring_view value, bool list = false) {
    if (list) {
      Append(target, value);
    } else {
      target.assign(value);
    }
    return true;
  }
  bool ReadAction(std::wstring_view value) {
    if (Same(value, L"Block")) return rule_.action = kActionBlock, true;
    if (Same(value, L"Allow")) return rule_.action = kActionAllow, true;
    if (Same(value, L"ByPass")) return rule_.action = kActionBypass, true;
    return false;
  }
  bool ReadDirection(std::wstring_view value) {
    if (Same(value, L"In")) return rule_.direction = kDirectionInbound, true;
    if (Same(value, L"Out")) return rule_.direction = kDirectionOutbound, true;
    return false;
  }
  bool ReadActive(std::wstring_view value) {
    if (Same(value, L"TRUE")) return rule_.active = true, true;
    if (Same(value, L"FALSE")) return rule_.active = false, true;
    return false;
  }
  bool ReadProtocol(std::wstring_view value) {
    if (value.size() > 3 || !AllDigits(value)) return false;
    long number = 0;
    for (wchar_t c : value) number = number * 10 + (c - L'0');
    if (number > 255) return false;
    rule_.protocol = number;
    return true;
  }
  bool ReadProfile(std::wstring_view value) {
    if (Same(value, L"Domain")) return profiles_ |= kProfileDomain, true;
    if (Same(value, L"Private")) return profiles_ |= kProfilePrivate, true;
    if (Same(value, L"Public")) return profiles_ |= kProfilePublic, true;
    return false;
  }
  static bool ReadPort(std::wstring_view value, std::wstring& list) {
    if (!ValidPortItem(value)) return false;
    Append(list, value);
    return true;
  }
  bool ReadInterfaceType(std::wstring_view value) {
    if (!Same(value, L"Lan") && !Same(value, L"Wireless") && !Same(value, L"RAS")) return false;
    Append(interfaceTypes_, value);
    return true;
  }

  GroupPolicyRule& rule_;
  std::wstring localPorts_;
  std::wstring interfaceTypes_;
  long profiles_ = 0;
  bool seenName_ = false;
  bool seenAction_ = false;
  bool seenDirection_ = false;
  bool seenActive_ = false;
  bool seenProtocol_ = false;
  bool seenProgram_ = false;
  bool seenService_ = false;
};

// "v2.10|" .. "v2.39|": the rest after the version's bar; nullopt when the
// version is unknown or missing.
std::optional<std::wstring_view> AfterVersion(std::wstring_view text) {
  const std::size_t bar = text.find(L'|');
  if (bar == std::wstring_view::npos) return std::nullopt;
  const std::wstring_view version = text.substr(0, bar);
  if (version.size() != 5 || Fold(version[0]) != L'v' || version[1] != L'2' || version[2] != L'.' ||
      !IsDigit(version[3]) || !IsDigit(version[4])) {
    return std::nullopt;
  }
  const int minor = (version[3] - L'0') * 10 + (version[4] - L'0');
  if (minor < kLowestMinorVersion || minor > kHighestMinorVersion) return std::nullopt;
  return text.substr(bar + 1);
}

}  // namespace

ParsedPolicyRule ParseGroupPolicyRule(std::wstring_view id, std::wstring_view text) {
  ParsedPolicyRule parsed;
  parsed.rule.id.assign(id);
  while (!text.empty() && text.back() == L'\0') text.remove_suffix(1);
  const std::optional<std::wstring_view> fields = AfterVersion(text);
  if (!fields) {
    parsed.status = PolicyRuleStatus::UnknownVersion;
    return parsed;
  }
  std::wstring_view rest = *fields;
  // Every field ends with its bar, and there is at least one.
  if (rest.empty() || rest.back() != L'|') return parsed;
  Reader reader(parsed.rule);
  while (!rest.empty()) {
    const std::size_t bar = rest.find(L'|');
    const std::wstring_view field = rest.substr(0, bar);
    rest.remove_prefix(bar + 1);
    const std::size_t equals = field.find(L'=');
    if (equals == std::wstring_view::npos || equals == 0) return parsed;
    if (!reader.Field(field.substr(0, equals), field.substr(equals + 1))) return parsed;
  }
  if (!reader.Finish()) return parsed;
  parsed.status = PolicyRuleStatus::Parsed;
  return parsed;
}

}  // namespace qf::firewall
