#include "firewall/advanced_firewall.h"

#include <oleauto.h>
#include <strsafe.h>

#include <cstdio>
#include <functional>
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

bool PutText(INetFwRule* rule, HRESULT (STDMETHODCALLTYPE INetFwRule::*put)(BSTR), const std::wstring& text,
             const wchar_t* setter, HRESULT& failure) {
  const UniqueBstr value = UniqueBstr::Copy(text.c_str());
  if (!value) {
    wprintf(L"\nERROR: Insufficient memory\n");
    failure = E_OUTOFMEMORY;
    return false;
  }
  const HRESULT hr = (rule->*put)(value.get());
  if (!SetterSucceeded(hr, setter)) failure = hr;
  return SUCCEEDED(hr);
}

bool PutValue(HRESULT hr, const wchar_t* setter, HRESULT& failure) {
  if (!SetterSucceeded(hr, setter)) failure = hr;
  return SUCCEEDED(hr);
}

// Writes a rule's properties in the order the platform's samples use, so
// that each one is checked against those already set.
bool SetRuleProperties(INetFwRule* rule, const qf::firewall::RuleRecord& record, HRESULT& failure) {
  if (!PutText(rule, &INetFwRule::put_Name, record.name, L"put_Name", failure)) return false;
  if (!PutText(rule, &INetFwRule::put_Grouping, record.grouping, L"put_Grouping", failure)) return false;
  if (!PutText(rule, &INetFwRule::put_Description, record.description, L"put_Description", failure)) return false;
  if (!PutValue(rule->put_Direction(static_cast<NET_FW_RULE_DIRECTION>(record.direction)), L"put_Direction", failure)) {
    return false;
  }
  if (!PutValue(rule->put_Action(static_cast<NET_FW_ACTION>(record.action)), L"put_Action", failure)) return false;
  if (!PutValue(rule->put_Protocol(record.protocol), L"put_Protocol", failure)) return false;
  if (!record.localPorts.empty() &&
      !PutText(rule, &INetFwRule::put_LocalPorts, record.localPorts, L"put_LocalPorts", failure)) {
    return false;
  }
  // The reach only where it is narrower than a new rule's.
  const struct {
    HRESULT (STDMETHODCALLTYPE INetFwRule::*put)(BSTR);
    const std::wstring& text;
    const wchar_t* setter;
  } reach[] = {{&INetFwRule::put_RemotePorts, record.remotePorts, L"put_RemotePorts"},
               {&INetFwRule::put_LocalAddresses, record.localAddresses, L"put_LocalAddresses"},
               {&INetFwRule::put_RemoteAddresses, record.remoteAddresses, L"put_RemoteAddresses"},
               {&INetFwRule::put_ApplicationName, record.applicationName, L"put_ApplicationName"},
               {&INetFwRule::put_ServiceName, record.serviceName, L"put_ServiceName"},
               {&INetFwRule::put_InterfaceTypes, record.interfaceTypes, L"put_InterfaceTypes"}};
  for (const auto& property : reach) {
    if (property.text.empty() || property.text == L"*" || property.text == L"All") continue;
    if (!PutText(rule, property.put, property.text, property.setter, failure)) return false;
  }
  if (!PutValue(rule->put_Profiles(record.profiles), L"put_Profiles", failure)) return false;
  return PutValue(rule->put_Enabled(record.enabled ? VARIANT_TRUE : VARIANT_FALSE), L"put_Enabled", failure);
}

const char* ProfileLabel(long profile) {
  switch (profile) {
    case qf::firewall::kProfileDomain:
      return "Domain";
    case qf::firewall::kProfilePrivate:
      return "Private";
    default:
      return "Public";
  }
}

// Whether a list the policy hands out (interfaces of a rule, excluded
// interfaces of a profile) names anything: empty is VT_EMPTY, or an array
// without elements; anything else names something.
bool NamesAny(const VARIANT& list) {
  if (V_VT(&list) == VT_EMPTY || V_VT(&list) == VT_NULL) return false;
  if ((V_VT(&list) & VT_ARRAY) == 0 || V_ARRAY(&list) == nullptr) return true;
  SAFEARRAY* array = V_ARRAY(&list);
  if (SafeArrayGetDim(array) != 1) return true;
  LONG lower = 0;
  LONG upper = -1;
  if (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper))) return true;
  return upper >= lower;
}

// One rule's properties for the walk. Only an S_OK answer is a reading:
// anything else leaves the property unread, and an unread property never
// lets the rule count.
class ComRuleProperties final : public qf::firewall::RuleProperties, public qf::firewall::RuleReach {
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
  std::optional<std::wstring> ApplicationName() override { return Text(&INetFwRule::get_ApplicationName); }
  std::optional<std::wstring> ServiceName() override { return Text(&INetFwRule::get_ServiceName); }
  std::optional<std::wstring> RemoteAddresses() override { return Text(&INetFwRule::get_RemoteAddresses); }
  std::optional<std::wstring> LocalAddresses() override { return Text(&INetFwRule::get_LocalAddresses); }
  std::optional<std::wstring> RemotePorts() override { return Text(&INetFwRule::get_RemotePorts); }
  std::optional<std::wstring> InterfaceTypes() override { return Text(&INetFwRule::get_InterfaceTypes); }
  std::optional<bool> NamesInterfaces() override {
    ScopedVariant interfaces;
    if (rule_->get_Interfaces(interfaces.get()) != S_OK) return std::nullopt;
    return NamesAny(*interfaces.get());
  }
  // Conditions beyond these live on later rule interfaces this program does not set or read.
  std::optional<std::wstring> OtherCondition() override { return std::wstring(); }
  std::optional<std::wstring> Name() override { return Text(&INetFwRule::get_Name); }

 private:
  std::optional<std::wstring> Text(HRESULT (STDMETHODCALLTYPE INetFwRule::*get)(BSTR*)) {
    UniqueBstr text;
    if ((rule_->*get)(text.Receive()) != S_OK) return std::nullopt;
    return std::wstring(text ? text.get() : L"", SysStringLen(text.get()));
  }
  INetFwRule* rule_;
};

bool GetRules(INetFwPolicy2* policy, ComPtr<INetFwRules>& rules, HRESULT& failure) {
  const HRESULT hr = policy->get_Rules(rules.ReleaseAndGetAddressOf());
  if (SUCCEEDED(hr) && rules) return true;
  wprintf(L"Failed to retrieve firewall rules collection : 0x%08lx\n", StatusBits(hr));
  failure = FAILED(hr) ? hr : E_POINTER;
  rules.Reset();
  return false;
}

void ReadInto(INetFwRule* rule, HRESULT (STDMETHODCALLTYPE INetFwRule::*get)(BSTR*), std::wstring& out,
              bool& complete) {
  UniqueBstr text;
  if ((rule->*get)(text.Receive()) != S_OK) {
    complete = false;
    return;
  }
  out.assign(text ? text.get() : L"", SysStringLen(text.get()));
}

// Every property a record keeps; an unread one leaves the record incomplete.
qf::firewall::RuleRecord ReadRuleRecord(INetFwRule* rule) {
  qf::firewall::RuleRecord record;
  bool& complete = record.complete;
  ReadInto(rule, &INetFwRule::get_Name, record.name, complete);
  ReadInto(rule, &INetFwRule::get_Description, record.description, complete);
  ReadInto(rule, &INetFwRule::get_Grouping, record.grouping, complete);
  ReadInto(rule, &INetFwRule::get_LocalPorts, record.localPorts, complete);
  ReadInto(rule, &INetFwRule::get_RemotePorts, record.remotePorts, complete);
  ReadInto(rule, &INetFwRule::get_LocalAddresses, record.localAddresses, complete);
  ReadInto(rule, &INetFwRule::get_RemoteAddresses, record.remoteAddresses, complete);
  ReadInto(rule, &INetFwRule::get_ApplicationName, record.applicationName, complete);
  ReadInto(rule, &INetFwRule::get_ServiceName, record.serviceName, complete);
  ReadInto(rule, &INetFwRule::get_InterfaceTypes, record.interfaceTypes, complete);
  LONG protocol = 0;
  LONG profiles = 0;
  NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_OUT;
  NET_FW_ACTION action = NET_FW_ACTION_ALLOW;
  VARIANT_BOOL enabled = VARIANT_FALSE;
  complete = rule->get_Protocol(&protocol) == S_OK && complete;
  complete = rule->get_Profiles(&profiles) == S_OK && complete;
  complete = rule->get_Direction(&direction) == S_OK && complete;
  complete = rule->get_Action(&action) == S_OK && complete;
  complete = rule->get_Enabled(&enabled) == S_OK && complete;
  record.protocol = protocol;
  record.profiles = profiles;
  record.direction = direction;
  record.action = action;
  record.enabled = enabled == VARIANT_TRUE;
  return record;
}

}  // namespace

CAdvancedFirewall::CAdvancedFirewall() = default;

CAdvancedFirewall::~CAdvancedFirewall() { Close(); }

bool CAdvancedFirewall::IsOpen() const { return m_policy != nullptr; }

bool CAdvancedFirewall::Initialize() {
  m_lastFailure = S_OK;
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(init) && init != RPC_E_CHANGED_MODE) {
    wprintf(L"CoInitializeEx failed: 0x%08lx\n", StatusBits(init));
    m_policy.Reset();
    return Fail(init);
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
    return Fail(FAILED(created) ? created : E_NOINTERFACE);
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
  m_lastFailure = S_OK;
  if (!m_policy) return Fail(E_POINTER);
  for (const auto& profile : qf::firewall::kSwitchedProfiles) {
    const HRESULT hr = m_policy->put_FirewallEnabled(static_cast<NET_FW_PROFILE_TYPE2>(profile.type), VARIANT_TRUE);
    if (FAILED(hr)) {
      printf("put_FirewallEnabled failed for %s: 0x%08lx\n", profile.label, StatusBits(hr));
      return Fail(hr);
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

qf::firewall::LocalProfileReading CAdvancedFirewall::ReadLocalProfile(long profile) {
  qf::firewall::LocalProfileReading reading;
  if (!m_policy) return reading;
  const auto type = static_cast<NET_FW_PROFILE_TYPE2>(profile);
  reading.firewallOn = ReadSwitch(profile);
  VARIANT_BOOL blockAll = VARIANT_FALSE;
  if (m_policy->get_BlockAllInboundTraffic(type, &blockAll) == S_OK)
    reading.blockAllInbound = blockAll != VARIANT_FALSE;
  ScopedVariant excluded;
  if (m_policy->get_ExcludedInterfaces(type, excluded.get()) == S_OK) {
    reading.excludesInterfaces = NamesAny(*excluded.get());
  }
  return reading;
}

namespace {

bool IsWindows7OrLater() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return false;
  return version.dwMajorVersion > 6 || (version.dwMajorVersion == 6 && version.dwMinorVersion >= 1);
}

}  // namespace

std::optional<qf::firewall::ModifyState> CAdvancedFirewall::ReadModifyState() {
  // Vista's object has no such method: its table ends before it.
  if (!m_policy || !IsWindows7OrLater()) return std::nullopt;
  NET_FW_MODIFY_STATE state = NET_FW_MODIFY_STATE_OK;
  if (m_policy->get_LocalPolicyModifyState(&state) != S_OK) return std::nullopt;
  switch (state) {
    case NET_FW_MODIFY_STATE_OK:
      return qf::firewall::ModifyState::Ok;
    case NET_FW_MODIFY_STATE_GP_OVERRIDE:
      return qf::firewall::ModifyState::GroupPolicyOverride;
    case NET_FW_MODIFY_STATE_INBOUND_BLOCKED:
      return qf::firewall::ModifyState::InboundBlocked;
  }
  return std::nullopt;
}

std::optional<qf::firewall::BlockTally> CAdvancedFirewall::TallyRules(const std::vector<long>& ports,
                                                                      long currentProfiles) {
  qf::firewall::BlockTally tally(ports, currentProfiles);
  const bool walked = ForEachRule([&](INetFwRule* rule) {
    ComRuleProperties properties(rule);
    tally.Examine(properties, properties);
    return !tally.Complete();
  });
  if (!walked) return std::nullopt;
  return tally;
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
  m_lastFailure = S_OK;
  if (!m_policy) return Fail(E_POINTER);
  const wchar_t* label = qf::firewall::ProtocolLabel(protocol);
  // The texts are composed (and their failures told) before anything is created.
  UniqueBstr name;
  UniqueBstr grouping;
  UniqueBstr description;
  if (!CopyComposed(qf::firewall::ComposeRuleName(label, portText), name)) return Fail(E_INVALIDARG);
  if (!CopyComposed(qf::firewall::ComposeResourceReference(qf::firewall::kGroupingResourceId), grouping)) {
    return Fail(E_INVALIDARG);
  }
  if (!CopyComposed(qf::firewall::ComposeResourceReference(qf::firewall::kDescriptionResourceId), description)) {
    return Fail(E_INVALIDARG);
  }
  const std::optional<qf::firewall::RuleRecord> rule = qf::firewall::IntendedBlockRule(protocol, portText);
  if (!rule) return Fail(E_INVALIDARG);
  const HRESULT added = AddToRules(*rule);
  if (FAILED(added)) return false;
  // The collection took the rule; only S_OK is the answer that it holds it.
  wprintf(L"Successfully added firewall rule !\n");
  return added == S_OK;
}

bool CAdvancedFirewall::AddRule(const qf::firewall::RuleRecord& record) {
  m_lastFailure = S_OK;
  return AddToRules(record) == S_OK;
}

HRESULT CAdvancedFirewall::AddToRules(const qf::firewall::RuleRecord& record) {
  if (!m_policy) {
    Fail(E_POINTER);
    return E_POINTER;
  }
  ComPtr<INetFwRules> rules;
  if (!GetRules(m_policy.Get(), rules, m_lastFailure)) return m_lastFailure;

  ComPtr<INetFwRule> rule;
  const HRESULT created = CoCreateInstance(CLSID_NetFwRule, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwRule,
                                           reinterpret_cast<void**>(rule.GetAddressOf()));
  if (FAILED(created) || !rule) {
    wprintf(L"CoCreateInstance for INetFwRule failed: 0x%08lx\n", StatusBits(created));
    Fail(FAILED(created) ? created : E_NOINTERFACE);
    return m_lastFailure;
  }
  if (!SetRuleProperties(rule.Get(), record, m_lastFailure)) return m_lastFailure;

  const HRESULT added = rules->Add(rule.Get());
  if (FAILED(added)) {
    wprintf(L"Failed to add firewall rule to the firewall rules collection : 0x%08lx\n", StatusBits(added));
    Fail(added);
  }
  return added;
}

bool CAdvancedFirewall::RemoveRulesNamed(const std::wstring& name) {
  m_lastFailure = S_OK;
  if (!m_policy) return Fail(E_POINTER);
  ComPtr<INetFwRules> rules;
  if (!GetRules(m_policy.Get(), rules, m_lastFailure)) return false;
  const UniqueBstr text = UniqueBstr::Copy(name.c_str());
  if (!text) return Fail(E_OUTOFMEMORY);
  const HRESULT hr = rules->Remove(text.get());
  if (FAILED(hr)) {
    printf("Failed to remove firewall rules named %s: 0x%08lx\n", qf::firewall::Utf8Text(name).c_str(), StatusBits(hr));
    return Fail(hr);
  }
  return true;
}

std::optional<std::vector<qf::firewall::RuleRecord>> CAdvancedFirewall::ReadRules() {
  m_lastFailure = S_OK;
  std::vector<qf::firewall::RuleRecord> records;
  const bool walked = ForEachRule([&](INetFwRule* rule) {
    records.push_back(ReadRuleRecord(rule));
    return true;
  });
  if (!walked) return std::nullopt;
  return records;
}

std::optional<std::vector<qf::firewall::RuleRecord>> CAdvancedFirewall::ReadRulesWhere(
    const std::function<bool(const std::wstring& name, const std::wstring& grouping)>& wanted) {
  m_lastFailure = S_OK;
  std::vector<qf::firewall::RuleRecord> records;
  const bool walked = ForEachRule([&](INetFwRule* rule) {
    UniqueBstr name;
    UniqueBstr grouping;
    // A rule whose name or grouping cannot be read might be wanted: it is read whole, incomplete.
    const bool named = rule->get_Name(name.Receive()) == S_OK && rule->get_Grouping(grouping.Receive()) == S_OK;
    if (named && !wanted(std::wstring(name ? name.get() : L"", SysStringLen(name.get())),
                         std::wstring(grouping ? grouping.get() : L"", SysStringLen(grouping.get())))) {
      return true;
    }
    records.push_back(ReadRuleRecord(rule));
    return true;
  });
  if (!walked) return std::nullopt;
  return records;
}

bool CAdvancedFirewall::RemoveExactRule(
    const qf::firewall::RuleRecord& record, const std::wstring& temporaryName,
    const std::function<bool(const qf::firewall::RuleRecord&, const qf::firewall::RuleRecord&)>& same) {
  m_lastFailure = S_OK;
  HRESULT renamed = S_FALSE;
  const bool walked = ForEachRule([&](INetFwRule* rule) {
    UniqueBstr name;
    if (rule->get_Name(name.Receive()) != S_OK || !name || record.name != name.get()) return true;
    if (!same(ReadRuleRecord(rule), record)) return true;
    if (record.name == temporaryName) {
      renamed = S_OK;
      return false;
    }
    const UniqueBstr temporary = UniqueBstr::Copy(temporaryName.c_str());
    renamed = temporary ? rule->put_Name(temporary.get()) : E_OUTOFMEMORY;
    return false;
  });
  if (!walked) return false;
  if (renamed == S_FALSE) {
    printf("No firewall rule named %s as recorded\n", qf::firewall::Utf8Text(record.name).c_str());
    return Fail(HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
  }
  if (FAILED(renamed)) {
    printf("Failed to rename firewall rule %s: 0x%08lx\n", qf::firewall::Utf8Text(record.name).c_str(),
           StatusBits(renamed));
    return Fail(renamed);
  }
  ComPtr<INetFwRules> rules;
  if (!GetRules(m_policy.Get(), rules, m_lastFailure)) return false;
  const UniqueBstr text = UniqueBstr::Copy(temporaryName.c_str());
  if (!text) return Fail(E_OUTOFMEMORY);
  const HRESULT hr = rules->Remove(text.get());
  if (FAILED(hr)) {
    printf("Failed to remove firewall rule %s: 0x%08lx\n", qf::firewall::Utf8Text(temporaryName).c_str(),
           StatusBits(hr));
    return Fail(hr);
  }
  return true;
}

std::optional<bool> CAdvancedFirewall::HasIdenticalBlockRule(long protocol, const wchar_t* portText) {
  m_lastFailure = S_OK;
  const std::optional<qf::firewall::RuleRecord> intended = qf::firewall::IntendedBlockRule(protocol, portText);
  if (!intended) {
    Fail(E_INVALIDARG);
    return std::nullopt;
  }
  bool found = false;
  const bool walked = ForEachRule([&](INetFwRule* rule) {
    // The name first: most rules differ there, and one read settles it.
    UniqueBstr name;
    if (rule->get_Name(name.Receive()) != S_OK || !name || intended->name != name.get()) return true;
    found = qf::firewall::SameBlockRule(ReadRuleRecord(rule), *intended);
    return !found;
  });
  if (!walked) return std::nullopt;
  return found;
}

bool CAdvancedFirewall::SetSwitch(long profile, bool on) {
  m_lastFailure = S_OK;
  if (!m_policy) return Fail(E_POINTER);
  const HRESULT hr =
      m_policy->put_FirewallEnabled(static_cast<NET_FW_PROFILE_TYPE2>(profile), on ? VARIANT_TRUE : VARIANT_FALSE);
  if (FAILED(hr)) {
    printf("put_FirewallEnabled failed for %s: 0x%08lx\n", ProfileLabel(profile), StatusBits(hr));
    return Fail(hr);
  }
  return true;
}

bool CAdvancedFirewall::ForEachRule(const std::function<bool(INetFwRule*)>& visit) {
  if (!m_policy) return Fail(E_POINTER);
  ComPtr<INetFwRules> rules;
  if (!GetRules(m_policy.Get(), rules, m_lastFailure)) return false;
  ComPtr<IUnknown> enumerator;
  HRESULT hr = rules->get__NewEnum(enumerator.GetAddressOf());
  if (FAILED(hr) || !enumerator) return Fail(FAILED(hr) ? hr : E_POINTER);
  ComPtr<IEnumVARIANT> items;
  hr = enumerator.As(&items);
  if (FAILED(hr) || !items) return Fail(FAILED(hr) ? hr : E_NOINTERFACE);

  ScopedVariant item;
  for (;;) {
    item.Clear();
    ULONG fetched = 0;
    // A failing step of the enumeration ends the walk: what was seen stands.
    if (items->Next(1, item.get(), &fetched) != S_OK || fetched != 1) break;
    // An item that is no rule cannot be one of anything; the walk goes on.
    if (FAILED(VariantChangeType(item.get(), item.get(), 0, VT_DISPATCH)) || !V_DISPATCH(item.get())) continue;
    ComPtr<INetFwRule> rule;
    if (FAILED(V_DISPATCH(item.get())->QueryInterface(IID_INetFwRule, reinterpret_cast<void**>(rule.GetAddressOf()))) ||
        !rule) {
      continue;
    }
    if (!visit(rule.Get())) break;
  }
  return true;
}

std::uint32_t CAdvancedFirewall::LastFailureOr(std::uint32_t fallback) const {
  return FAILED(m_lastFailure) ? static_cast<std::uint32_t>(m_lastFailure) : fallback;
}

bool CAdvancedFirewall::Fail(HRESULT hr) {
  m_lastFailure = hr;
  return false;
}

bool CAdvancedFirewall::IsPortBlocked(int port) { return ArePortsBlocked({static_cast<long>(port)}).front(); }

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

  const auto tally = TallyRules(ports, *switches.currentProfiles);
  if (!tally) return blocked;
  for (std::size_t i = 0; i < ports.size(); ++i) blocked[i] = tally->PortBlocked(i);
  return blocked;
}
