#include "firewall/advanced_firewall.h"

#include <oleauto.h>
#include <strsafe.h>

#include <cstdio>
#include <string>

#include "firewall/policy_decisions.h"
#include "firewall/port_exposure.h"
#include "firewall/scoped_variant.h"
#include "firewall/unique_bstr.h"

using Microsoft::WRL::ComPtr;
using qf::firewall::ScopedVariant;
using qf::firewall::UniqueBstr;

namespace {

// %08lx and %x want unsigned values; the status goes out as its 32 bits.
unsigned long StatusBits(HRESULT hr) { return static_cast<unsigned long>(static_cast<unsigned int>(hr)); }

// Copies a composed text into a new BSTR, writing the message of whichever
// step failed. Returns false after a failure.
bool CopyComposed(const qf::firewall::ComposedText& composed, UniqueBstr& out) {
  if (!composed.ok()) {
    const HRESULT status = composed.error == qf::firewall::ComposeError::TooLong ? STRSAFE_E_INSUFFICIENT_BUFFER
                                                                                 : STRSAFE_E_INVALID_PARAMETER;
    wprintf(L"Failed to compose a resource identifier string: 0x%08lx\n", StatusBits(status));
    return false;
  }
  out = UniqueBstr::Copy(composed.text.c_str());
  if (!out) {
    wprintf(L"\nERROR: Insufficient memory\n");
    return false;
  }
  return true;
}

bool SetterSucceeded(HRESULT hr, const wchar_t* setter) {
  if (SUCCEEDED(hr)) return true;
  wprintf(L"Failed INetFwRule::%ls failed with error: 0x %x.\n", setter, static_cast<unsigned int>(hr));
  return false;
}

bool SetBlockRuleProperties(INetFwRule* rule, long protocol, const wchar_t* portText, const UniqueBstr& name,
                            const UniqueBstr& grouping, const UniqueBstr& description) {
  if (!SetterSucceeded(rule->put_Name(name.get()), L"put_Name")) return false;
  if (!SetterSucceeded(rule->put_Grouping(grouping.get()), L"put_Grouping")) return false;
  if (!SetterSucceeded(rule->put_Description(description.get()), L"put_Description")) return false;
  if (!SetterSucceeded(rule->put_Direction(NET_FW_RULE_DIR_IN), L"put_Direction")) return false;
  if (!SetterSucceeded(rule->put_Action(NET_FW_ACTION_BLOCK), L"put_Action")) return false;
  if (!SetterSucceeded(rule->put_Protocol(protocol), L"put_Protocol")) return false;
  const UniqueBstr localPorts = UniqueBstr::Copy(portText);
  if (!localPorts) {
    wprintf(L"\nERROR: Insufficient memory\n");
    return false;
  }
  if (!SetterSucceeded(rule->put_LocalPorts(localPorts.get()), L"put_LocalPorts")) return false;
  if (!SetterSucceeded(rule->put_Profiles(qf::firewall::kBlockRuleProfiles), L"put_Profiles")) return false;
  return SetterSucceeded(rule->put_Enabled(VARIANT_TRUE), L"put_Enabled");
}

const char* ProfileLabel(long profile) {
  switch (profile) {
    case qf::firewall::kProfileDomain: return "Domain";
    case qf::firewall::kProfilePrivate: return "Private";
    default: return "Public";
  }
}

// One rule's properties for the walk. Only an S_OK answer is a reading:
// anything else leaves the property unread, and an unread property never
// lets the rule count.
class ComRuleProperties final : public qf::firewall::RuleProperties {
 public:
  explicit ComRuleProperties(INetFwRule* rule) : rule_(rule) {}

  std::optional<bool> Enabled() override {
    VARIANT_BOOL value = VARIANT_FALSE;
    if (rule_->get_Enabled(&value) != S_OK) return std::nullopt;
    return value == VARIANT_TRUE;
  }
  std::optional<long> Direction() override {
    NET_FW_RULE_DIRECTION value = NET_FW_RULE_DIR_OUT;
    if (rule_->get_Direction(&value) != S_OK) return std::nullopt;
    return static_cast<long>(value);
  }
  std::optional<long> Action() override {
    NET_FW_ACTION value = NET_FW_ACTION_ALLOW;
    if (rule_->get_Action(&value) != S_OK) return std::nullopt;
    return static_cast<long>(value);
  }
  std::optional<long> Protocol() override {
    LONG value = 0;
    if (rule_->get_Protocol(&value) != S_OK) return std::nullopt;
    return static_cast<long>(value);
  }
  std::optional<long> Profiles() override {
    LONG value = 0;
    if (rule_->get_Profiles(&value) != S_OK) return std::nullopt;
    return static_cast<long>(value);
  }
  std::optional<std::wstring> LocalPorts() override {
    UniqueBstr localPorts;
    if (rule_->get_LocalPorts(localPorts.Receive()) != S_OK) return std::nullopt;
    const wchar_t* text = localPorts ? localPorts.get() : L"";
    wprintf(L"Local Ports: %ls\n", text);
    return std::wstring(text, SysStringLen(localPorts.get()));
  }

 private:
  INetFwRule* rule_;
};

bool GetRules(INetFwPolicy2* policy, ComPtr<INetFwRules>& rules) {
  const HRESULT hr = policy->get_Rules(rules.ReleaseAndGetAddressOf());
  if (SUCCEEDED(hr) && rules) return true;
  wprintf(L"Failed to retrieve firewall rules collection : 0x%08lx\n", StatusBits(hr));
  rules.Reset();
  return false;
}

}  // namespace

CAdvancedFirewall::CAdvancedFirewall() = default;

CAdvancedFirewall::~CAdvancedFirewall() { Close(); }

bool CAdvancedFirewall::IsOpen() const { return m_policy != nullptr; }

bool CAdvancedFirewall::Initialize() {
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(init) && init != RPC_E_CHANGED_MODE) {
    wprintf(L"CoInitializeEx failed: 0x%08lx\n", StatusBits(init));
    m_policy.Reset();
    return false;
  }
  // On a thread of another apartment kind CoInitializeEx took nothing that
  // could be undone: no CoUninitialize may answer it.
  const bool initialized = SUCCEEDED(init);
  m_policy.Reset();
  const HRESULT created = CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwPolicy2,
                                           reinterpret_cast<void**>(m_policy.GetAddressOf()));
  if (FAILED(created) || !m_policy) {
    wprintf(L"CoCreateInstance for INetFwPolicy2 failed: 0x%08lx\n", StatusBits(created));
    m_policy.Reset();
    if (initialized) CoUninitialize();
    return false;
  }
  if (initialized) m_ownsApartment = true;
  return true;
}

bool CAdvancedFirewall::Close() {
  m_policy.Reset();
  if (m_ownsApartment) {
    m_ownsApartment = false;
    CoUninitialize();
  }
  return true;
}

bool CAdvancedFirewall::EnableFirewall() {
  if (!m_policy) return false;
  for (const auto& profile : qf::firewall::kSwitchedProfiles) {
    const HRESULT hr = m_policy->put_FirewallEnabled(static_cast<NET_FW_PROFILE_TYPE2>(profile.type), VARIANT_TRUE);
    if (FAILED(hr)) {
      printf("put_FirewallEnabled failed for %s: 0x%08lx\n", profile.label, StatusBits(hr));
      return false;
    }
  }
  return true;
}

std::optional<long> CAdvancedFirewall::ReadCurrentProfiles() {
  LONG profiles = 0;
  const HRESULT hr = m_policy->get_CurrentProfileTypes(&profiles);
  if (hr != S_OK) {
    printf("get_CurrentProfileTypes failed: 0x%08lx\n", StatusBits(hr));
    return std::nullopt;
  }
  return static_cast<long>(profiles);
}

std::optional<bool> CAdvancedFirewall::ReadSwitch(long profile) {
  VARIANT_BOOL enabled = VARIANT_FALSE;
  const HRESULT hr = m_policy->get_FirewallEnabled(static_cast<NET_FW_PROFILE_TYPE2>(profile), &enabled);
  if (hr != S_OK) {
    printf("get_FirewallEnabled failed for %s: 0x%08lx\n", ProfileLabel(profile), StatusBits(hr));
    return std::nullopt;
  }
  return enabled != VARIANT_FALSE;
}

bool CAdvancedFirewall::IsFirewallEnabled() {
  if (!m_policy) return false;
  qf::firewall::ProfileSwitches switches;
  // Public and private first: an unreadable or switched-off one settles it.
  if (!(switches.publicOn = ReadSwitch(qf::firewall::kProfilePublic))) return false;
  if (!(switches.privateOn = ReadSwitch(qf::firewall::kProfilePrivate))) return false;
  if (!(switches.currentProfiles = ReadCurrentProfiles())) return false;
  if (qf::firewall::ProfilesToRead(switches.currentProfiles) & qf::firewall::kProfileDomain) {
    switches.domainOn = ReadSwitch(qf::firewall::kProfileDomain);
  }
  return qf::firewall::AdvancedFirewallOn(switches);
}

bool CAdvancedFirewall::AddBlockRule(long protocol, const wchar_t* portText) {
  if (!m_policy) return false;
  const wchar_t* label = qf::firewall::ProtocolLabel(protocol);
  UniqueBstr name;
  UniqueBstr grouping;
  UniqueBstr description;
  if (!CopyComposed(qf::firewall::ComposeRuleName(label, portText), name)) return false;
  if (!CopyComposed(qf::firewall::ComposeResourceReference(qf::firewall::kGroupingResourceId), grouping)) return false;
  if (!CopyComposed(qf::firewall::ComposeResourceReference(qf::firewall::kDescriptionResourceId), description)) {
    return false;
  }

  ComPtr<INetFwRules> rules;
  if (!GetRules(m_policy.Get(), rules)) return false;

  ComPtr<INetFwRule> rule;
  const HRESULT created = CoCreateInstance(CLSID_NetFwRule, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwRule,
                                           reinterpret_cast<void**>(rule.GetAddressOf()));
  if (FAILED(created) || !rule) {
    wprintf(L"CoCreateInstance for INetFwRule failed: 0x%08lx\n", StatusBits(created));
    return false;
  }
  if (!SetBlockRuleProperties(rule.Get(), protocol, portText, name, grouping, description)) return false;

  const HRESULT added = rules->Add(rule.Get());
  if (FAILED(added)) {
    wprintf(L"Failed to add firewall rule to the firewall rules collection : 0x%08lx\n", StatusBits(added));
    return false;
  }
  wprintf(L"Successfully added firewall rule !\n");
  return added == S_OK;
}

bool CAdvancedFirewall::IsPortBlocked(int port) {
  return ArePortsBlocked({static_cast<long>(port)}).front();
}

std::vector<bool> CAdvancedFirewall::ArePortsBlocked(const std::vector<long>& ports) {
  std::vector<bool> blocked(ports.size(), false);
  if (!m_policy || ports.empty()) return blocked;

  // Rules only protect while the firewall of every profile in force is on.
  qf::firewall::ProfileSwitches switches;
  if (!(switches.currentProfiles = ReadCurrentProfiles())) return blocked;
  for (long profile : {qf::firewall::kProfileDomain, qf::firewall::kProfilePrivate, qf::firewall::kProfilePublic}) {
    if ((*switches.currentProfiles & profile) == 0) continue;
    std::optional<bool> on = ReadSwitch(profile);
    if (!on || !*on) return blocked;
    (profile == qf::firewall::kProfileDomain    ? switches.domainOn
     : profile == qf::firewall::kProfilePrivate ? switches.privateOn
                                                : switches.publicOn) = on;
  }
  if (!qf::firewall::ProfilesInForceOn(switches)) return blocked;

  ComPtr<INetFwRules> rules;
  if (!GetRules(m_policy.Get(), rules)) return blocked;
  ComPtr<IUnknown> enumerator;
  if (FAILED(rules->get__NewEnum(enumerator.GetAddressOf())) || !enumerator) return blocked;
  ComPtr<IEnumVARIANT> items;
  if (FAILED(enumerator.As(&items)) || !items) return blocked;

  qf::firewall::BlockTally tally(ports, *switches.currentProfiles);
  ScopedVariant item;
  while (!tally.Complete()) {
    item.Clear();
    ULONG fetched = 0;
    // A failing step of the enumeration ends the walk: what was seen stands.
    if (items->Next(1, item.get(), &fetched) != S_OK || fetched != 1) break;
    // An item that is no rule cannot block anything; the walk goes on.
    if (FAILED(VariantChangeType(item.get(), item.get(), 0, VT_DISPATCH)) || !V_DISPATCH(item.get())) continue;
    ComPtr<INetFwRule> rule;
    if (FAILED(V_DISPATCH(item.get())->QueryInterface(IID_INetFwRule, reinterpret_cast<void**>(rule.GetAddressOf()))) ||
        !rule) {
      continue;
    }
    ComRuleProperties properties(rule.Get());
    tally.Examine(properties);
  }
  for (std::size_t i = 0; i < ports.size(); ++i) blocked[i] = tally.PortBlocked(i);
  return blocked;
}
