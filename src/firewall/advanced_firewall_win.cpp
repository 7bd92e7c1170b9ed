#include "firewall/advanced_firewall.h"

#include <oleauto.h>
#include <strsafe.h>

#include <cstdio>
#include <string>

#include "firewall/local_ports_match.h"
#include "firewall/policy_decisions.h"
#include "firewall/unique_bstr.h"

using Microsoft::WRL::ComPtr;
using qf::firewall::UniqueBstr;

namespace {

// %08lx and %x want unsigned values; the status goes out as its 32 bits.
unsigned long StatusBits(HRESULT hr) { return static_cast<unsigned long>(static_cast<unsigned int>(hr)); }

// Owns the VARIANT of one enumeration step.
class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&value_); }
  ~ScopedVariant() { VariantClear(&value_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  VARIANT* get() { return &value_; }
  void Clear() { VariantClear(&value_); }

 private:
  VARIANT value_;
};

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

bool CAdvancedFirewall::IsFirewallEnabled() {
  if (!m_policy) return false;
  bool allOn = true;
  for (const auto& profile : qf::firewall::kSwitchedProfiles) {
    VARIANT_BOOL enabled = VARIANT_FALSE;
    const HRESULT hr = m_policy->get_FirewallEnabled(static_cast<NET_FW_PROFILE_TYPE2>(profile.type), &enabled);
    if (FAILED(hr)) {
      printf("get_FirewallEnabled failed for %s: 0x%08lx\n", profile.label, StatusBits(hr));
      return false;
    }
    if (enabled == VARIANT_FALSE) allOn = false;
  }
  return allOn;
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
  if (!m_policy) return false;
  ComPtr<INetFwRules> rules;
  if (!GetRules(m_policy.Get(), rules)) return false;

  ComPtr<IUnknown> enumerator;
  if (FAILED(rules->get__NewEnum(enumerator.GetAddressOf())) || !enumerator) return false;
  ComPtr<IEnumVARIANT> items;
  if (FAILED(enumerator.As(&items)) || !items) return false;

  const auto portText = qf::firewall::FormatPortText(port);
  if (!portText) return false;

  ScopedVariant item;
  while (true) {
    item.Clear();
    ULONG fetched = 0;
    if (items->Next(1, item.get(), &fetched) != S_OK || fetched != 1) return false;
    if (FAILED(VariantChangeType(item.get(), item.get(), 0, VT_DISPATCH)) || !V_DISPATCH(item.get())) return false;
    ComPtr<INetFwRule> rule;
    if (FAILED(V_DISPATCH(item.get())->QueryInterface(IID_INetFwRule, reinterpret_cast<void**>(rule.GetAddressOf()))) ||
        !rule) {
      return false;
    }
    if (RuleBlocksPort(rule.Get(), portText->c_str())) return true;
  }
}

bool CAdvancedFirewall::RuleBlocksPort(INetFwRule* rule, const wchar_t* portText) {
  if (!rule || !portText) return false;

  // An unreadable enabled state or action lets the rule through; only an
  // exact S_OK read can rule it out.
  VARIANT_BOOL enabled = VARIANT_TRUE;
  if (rule->get_Enabled(&enabled) == S_OK && enabled == VARIANT_FALSE) return false;
  NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
  if (rule->get_Action(&action) == S_OK && action != NET_FW_ACTION_BLOCK) return false;

  NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_OUT;
  if (FAILED(rule->get_Direction(&direction)) || direction != NET_FW_RULE_DIR_IN) return false;
  LONG protocol = 0;
  if (FAILED(rule->get_Protocol(&protocol))) return false;

  UniqueBstr localPorts;
  if (FAILED(rule->get_LocalPorts(localPorts.Receive()))) return false;
  const wchar_t* text = localPorts ? localPorts.get() : L"";
  wprintf(L"Local Ports: %ls\n", text);
  return qf::firewall::LocalPortsCoverPortText(std::wstring_view(text, SysStringLen(localPorts.get())), portText);
}
