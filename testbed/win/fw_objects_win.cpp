// The simulated firewall objects, written once over HostAccess: every call
// reads the host's state afresh, every change is written back at once, and
// every method a test may fail enters the host first.
#include <netfw.h>
#include <oleauto.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "com_object_win.h"
#include "host_access_win.h"
#include "win_util.h"

namespace testbed {
namespace {

constexpr const char* kCallNames[] = {
    "CreatePolicy2",
    "CreateRule",
    "CreateMgr",
    "Policy2GetFirewallEnabled",
    "Policy2PutFirewallEnabled",
    "Policy2GetRules",
    "Policy2GetCurrentProfileTypes",
    "RulesAdd",
    "RulesGetNewEnum",
    "EnumQueryEnumVariant",
    "EnumNext",
    "RulePutName",
    "RulePutGrouping",
    "RulePutDescription",
    "RulePutDirection",
    "RulePutAction",
    "RulePutProtocol",
    "RulePutLocalPorts",
    "RulePutProfiles",
    "RulePutEnabled",
    "RuleGetEnabled",
    "RuleGetAction",
    "RuleGetDirection",
    "RuleGetProtocol",
    "RuleGetLocalPorts",
    "RuleGetProfiles",
    "MgrGetLocalPolicy",
    "PolicyGetCurrentProfile",
    "ProfileGetFirewallEnabled",
    "ProfilePutFirewallEnabled",
    "ProfileGetGloballyOpenPorts",
    "OpenPortsItem",
    "OpenPortGetEnabled",
    "ProfileGetExceptionsNotAllowed",
    "ProfileGetServices",
    "ServicesGetNewEnum",
    "ServiceGetEnabled",
    "ServiceGetGloballyOpenPorts",
    "ServicePortsItem",
    "ServicePortGetEnabled",
};
static_assert(sizeof(kCallNames) / sizeof(kCallNames[0]) == static_cast<size_t>(Call::Count));

const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
// What the policy objects answer while the firewall service is stopped or
// missing: their calls to it find no endpoint (0x800706D9).
const HRESULT kServiceNotRunning = HRESULT_FROM_WIN32(EPT_S_NOT_REGISTERED);

// The advanced policy is served by MpsSvc, the legacy manager by SharedAccess
// before Vista and by MpsSvc from Vista on.
enum class Family { Advanced, Legacy };

HRESULT ServiceAnswer(const HostState& s, Family family) {
  if (!s.firewallNeedsService) return S_OK;
  const bool mpsSvc = family == Family::Advanced || s.legacyServedByMpsSvc;
  return s.ServiceRunning(mpsSvc ? "MpsSvc" : "SharedAccess") ? S_OK : kServiceNotRunning;
}

class Bstr {
 public:
  Bstr() = default;
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(value_); }
  BSTR* out() { return &value_; }
  std::string Utf8() const { return value_ ? Utf8FromWide(std::wstring_view(value_, SysStringLen(value_))) : ""; }

 private:
  BSTR value_ = nullptr;
};

std::string TextOf(BSTR value) {
  return value ? Utf8FromWide(std::wstring_view(value, SysStringLen(value))) : std::string();
}

template <typename T, typename V>
HRESULT HandOutValue(V value, T* out) {
  if (!out) return E_POINTER;
  *out = static_cast<T>(value);
  return S_OK;
}

VARIANT_BOOL VariantBool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

// Runs a method's work under its planned answer: a planned failure is
// returned without the work, a planned success code after it.
template <typename Work>
HRESULT Step(HostAccess& host, Call call, Work work, std::string_view rule = {}) {
  const PlannedAnswer planned = host.Enter(call, rule);
  if (FAILED(planned.hr)) return planned.hr;
  const HRESULT done = work();
  return FAILED(done) || planned.hr == S_OK ? done : planned.hr;
}

// A getter's step: read(value) fills the value, which a planned value replaces.
template <typename T, typename Read>
HRESULT GetStep(HostAccess& host, Call call, T* out, Read read, std::string_view rule = {}) {
  if (!out) return E_POINTER;
  const PlannedAnswer planned = host.Enter(call, rule);
  if (FAILED(planned.hr)) return planned.hr;
  T value{};
  const HRESULT done = read(value);
  if (FAILED(done)) return done;
  *out = planned.value ? static_cast<T>(*planned.value) : value;
  return planned.hr == S_OK ? done : planned.hr;
}

// An object of one family: reads and changes go to the host, and only while
// the family's service runs. A host that denies changes refuses them before
// looking at them.
template <typename Interface, Family kFamily>
class FirewallObject : public DispatchObject<Interface> {
 public:
  using DispatchObject<Interface>::DispatchObject;

 protected:
  // A look that only reads shares the state; one that needs a state of its
  // own (it takes a HostState&) gets a copy.
  template <typename Look>
  HRESULT Read(Look look) {
    std::shared_ptr<const HostState> shared = this->host().Read();
    if (!shared) return E_FAIL;
    if (HRESULT service = ServiceAnswer(*shared, kFamily); FAILED(service)) return service;
    if constexpr (std::is_invocable_v<Look&, const HostState&>) {
      return look(*shared);
    } else {
      HostState state = *shared;
      return look(state);
    }
  }
  template <typename Edit>
  HRESULT Change(Edit edit) {
    HRESULT hr = E_FAIL;
    bool written = this->host().Update([&](HostState& s) {
      hr = ServiceAnswer(s, kFamily);
      if (SUCCEEDED(hr)) hr = s.denyChanges ? E_ACCESSDENIED : edit(s);
      return SUCCEEDED(hr);
    });
    return SUCCEEDED(hr) && !written ? E_FAIL : hr;
  }
  // Unset texts come back as null strings, as the platform returns them.
  HRESULT HandOutText(const std::string& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (text.empty()) return S_OK;
    *out = SysAllocString(WideFromUtf8(text).c_str());
    if (!*out) return E_OUTOFMEMORY;
    this->host().CountString();
    return S_OK;
  }
  template <typename Work>
  HRESULT Step(Call call, Work work, std::string_view rule = {}) {
    return testbed::Step(this->host(), call, work, rule);
  }
  template <typename T, typename ReadValue>
  HRESULT GetStep(Call call, T* out, ReadValue read, std::string_view rule = {}) {
    return testbed::GetStep(this->host(), call, out, read, rule);
  }
};

template <typename Interface>
using AdvancedObject = FirewallObject<Interface, Family::Advanced>;
template <typename Interface>
using LegacyObject = FirewallObject<Interface, Family::Legacy>;

NET_FW_SCOPE ScopeOf(const std::string& scope) {
  return scope == "SUBNET" ? NET_FW_SCOPE_LOCAL_SUBNET : scope == "CUSTOM" ? NET_FW_SCOPE_CUSTOM : NET_FW_SCOPE_ALL;
}

const char* ScopeName(NET_FW_SCOPE scope) {
  return scope == NET_FW_SCOPE_LOCAL_SUBNET ? "SUBNET" : scope == NET_FW_SCOPE_CUSTOM ? "CUSTOM" : "ALL";
}

// Walks a snapshot of keys; fill(key, position, item) makes each item. With
// a call, Next and the request for IEnumVARIANT enter the host as that
// enumerator's methods.
template <typename Key, typename Fill>
class KeyEnumerator final : public CountedObject<IEnumVARIANT> {
 public:
  KeyEnumerator(HostPtr host, std::shared_ptr<const std::vector<Key>> keys, Fill fill, bool counted,
                size_t position = 0)
      : CountedObject(std::move(host)), keys_(std::move(keys)), fill_(fill), counted_(counted), position_(position) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!counted_ || !out || !IsEqualIID(iid, IID_IEnumVARIANT)) return CountedObject::QueryInterface(iid, out);
    *out = nullptr;
    return Step(host(), Call::EnumQueryEnumVariant, [&] { return CountedObject::QueryInterface(iid, out); });
  }
  STDMETHODIMP Next(ULONG count, VARIANT* items, ULONG* fetched) override {
    if (!items || (count > 1 && !fetched)) return E_POINTER;
    if (fetched) *fetched = 0;
    if (!counted_) return Walk(count, items, fetched);
    return Step(host(), Call::EnumNext, [&] { return Walk(count, items, fetched); });
  }
  STDMETHODIMP Skip(ULONG count) override {
    size_t left = keys_->size() - position_;
    position_ += count < left ? count : left;
    return count <= left ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumVARIANT** out) override {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) KeyEnumerator(hostPtr(), keys_, fill_, counted_, position_);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  HRESULT Walk(ULONG count, VARIANT* items, ULONG* fetched) {
    ULONG n = 0;
    for (; n < count && position_ < keys_->size(); ++n, ++position_) {
      VariantInit(&items[n]);
      if (!fill_((*keys_)[position_], position_, items[n])) {
        for (ULONG i = 0; i < n; ++i) VariantClear(&items[i]);
        return E_OUTOFMEMORY;
      }
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }

  std::shared_ptr<const std::vector<Key>> keys_;
  Fill fill_;
  bool counted_;
  size_t position_;
};

template <typename Key, typename Fill>
HRESULT HandOutEnumerator(const HostPtr& host, std::vector<Key> keys, Fill fill, IUnknown** out, bool counted = false) {
  if (!out) return E_POINTER;
  auto shared = std::make_shared<const std::vector<Key>>(std::move(keys));
  *out = new (std::nothrow) KeyEnumerator<Key, Fill>(host, std::move(shared), fill, counted);
  return *out ? S_OK : E_OUTOFMEMORY;
}

// Fills an item with a new object that make() builds.
template <typename Make>
bool FillObject(VARIANT& item, Make make) {
  item.vt = VT_DISPATCH;
  item.pdispVal = make();
  return item.pdispVal != nullptr;
}

// ---------------------------------------------------------------- rules

// An item of the enumeration that is an object but no rule.
class PlainObject final : public DispatchObject<IDispatch> {
 public:
  using DispatchObject::DispatchObject;
};

class Rule final : public AdvancedObject<INetFwRule> {
 public:
  explicit Rule(HostPtr host) : FirewallObject(std::move(host)) {}
  // A rule of the policy: changes are written through to the host.
  Rule(HostPtr host, FirewallRule rule, size_t index)
      : FirewallObject(std::move(host)), rule_(std::move(rule)), stored_(index) {}
  const FirewallRule& rule() const { return rule_; }

  STDMETHODIMP get_Name(BSTR* v) override { return HandOutText(rule_.name, v); }
  STDMETHODIMP put_Name(BSTR v) override {
    return Step(Call::RulePutName, [&] { return !v || !*v ? E_INVALIDARG : SetText(&FirewallRule::name, v); });
  }
  STDMETHODIMP get_Description(BSTR* v) override { return HandOutText(rule_.description, v); }
  STDMETHODIMP put_Description(BSTR v) override {
    return Step(Call::RulePutDescription, [&] { return SetText(&FirewallRule::description, v); });
  }
  STDMETHODIMP get_ApplicationName(BSTR* v) override { return HandOutText(rule_.applicationName, v); }
  STDMETHODIMP put_ApplicationName(BSTR v) override { return SetText(&FirewallRule::applicationName, v); }
  STDMETHODIMP get_ServiceName(BSTR* v) override { return HandOutText(rule_.serviceName, v); }
  STDMETHODIMP put_ServiceName(BSTR v) override { return SetText(&FirewallRule::serviceName, v); }
  STDMETHODIMP get_Protocol(LONG* v) override { return GetValue(Call::RuleGetProtocol, v, rule_.protocol); }
  STDMETHODIMP put_Protocol(LONG v) override {
    return Step(Call::RulePutProtocol, [&] {
      if (v < 0 || v > 256) return E_INVALIDARG;
      return Set([&](FirewallRule& r) {
        r.protocol = v;
        return S_OK;
      });
    });
  }
  // Ports make sense for TCP and UDP only; the platform refuses them
  // before the protocol says which.
  STDMETHODIMP get_LocalPorts(BSTR* v) override {
    if (!v) return E_POINTER;
    *v = nullptr;
    return Step(
        Call::RuleGetLocalPorts, [&] { return HandOutText(rule_.localPorts, v); }, rule_.name);
  }
  STDMETHODIMP put_LocalPorts(BSTR v) override {
    return Step(Call::RulePutLocalPorts, [&] { return SetPorts(&FirewallRule::localPorts, v); });
  }
  STDMETHODIMP get_RemotePorts(BSTR* v) override { return HandOutText(rule_.remotePorts, v); }
  STDMETHODIMP put_RemotePorts(BSTR v) override { return SetPorts(&FirewallRule::remotePorts, v); }
  STDMETHODIMP get_LocalAddresses(BSTR* v) override { return HandOutText(rule_.localAddresses, v); }
  STDMETHODIMP put_LocalAddresses(BSTR v) override { return SetText(&FirewallRule::localAddresses, v); }
  STDMETHODIMP get_RemoteAddresses(BSTR* v) override { return HandOutText(rule_.remoteAddresses, v); }
  STDMETHODIMP put_RemoteAddresses(BSTR v) override { return SetText(&FirewallRule::remoteAddresses, v); }
  STDMETHODIMP get_IcmpTypesAndCodes(BSTR* v) override { return HandOutText(rule_.icmpTypesAndCodes, v); }
  STDMETHODIMP put_IcmpTypesAndCodes(BSTR v) override { return SetText(&FirewallRule::icmpTypesAndCodes, v); }
  STDMETHODIMP get_Direction(NET_FW_RULE_DIRECTION* v) override {
    return GetValue(Call::RuleGetDirection, v, rule_.direction);
  }
  STDMETHODIMP put_Direction(NET_FW_RULE_DIRECTION v) override {
    return Step(Call::RulePutDirection, [&] {
      if (v != NET_FW_RULE_DIR_IN && v != NET_FW_RULE_DIR_OUT) return E_INVALIDARG;
      return Set([&](FirewallRule& r) {
        r.direction = v;
        return S_OK;
      });
    });
  }
  STDMETHODIMP get_Interfaces(VARIANT* v) override {
    if (!v) return E_POINTER;
    VariantInit(v);
    return S_OK;
  }
  STDMETHODIMP put_Interfaces(VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP get_InterfaceTypes(BSTR* v) override { return HandOutText(rule_.interfaceTypes, v); }
  STDMETHODIMP put_InterfaceTypes(BSTR v) override { return SetText(&FirewallRule::interfaceTypes, v); }
  STDMETHODIMP get_Enabled(VARIANT_BOOL* v) override {
    return GetValue(Call::RuleGetEnabled, v, VariantBool(rule_.enabled));
  }
  STDMETHODIMP put_Enabled(VARIANT_BOOL v) override {
    return Step(Call::RulePutEnabled, [&] {
      return Set([&](FirewallRule& r) {
        r.enabled = v != VARIANT_FALSE;
        return S_OK;
      });
    });
  }
  STDMETHODIMP get_Grouping(BSTR* v) override { return HandOutText(rule_.grouping, v); }
  STDMETHODIMP put_Grouping(BSTR v) override {
    return Step(Call::RulePutGrouping, [&] { return SetText(&FirewallRule::grouping, v); });
  }
  STDMETHODIMP get_Profiles(LONG* v) override { return GetValue(Call::RuleGetProfiles, v, rule_.profiles); }
  STDMETHODIMP put_Profiles(LONG v) override {
    return Step(Call::RulePutProfiles, [&] {
      if (v == 0) return E_INVALIDARG;
      return Set([&](FirewallRule& r) {
        r.profiles = v;
        return S_OK;
      });
    });
  }
  STDMETHODIMP get_EdgeTraversal(VARIANT_BOOL* v) override { return HandOutValue(VariantBool(rule_.edgeTraversal), v); }
  STDMETHODIMP put_EdgeTraversal(VARIANT_BOOL v) override {
    return Set([&](FirewallRule& r) {
      r.edgeTraversal = v != VARIANT_FALSE;
      return S_OK;
    });
  }
  STDMETHODIMP get_Action(NET_FW_ACTION* v) override { return GetValue(Call::RuleGetAction, v, rule_.action); }
  STDMETHODIMP put_Action(NET_FW_ACTION v) override {
    return Step(Call::RulePutAction, [&] {
      if (v != NET_FW_ACTION_BLOCK && v != NET_FW_ACTION_ALLOW) return E_INVALIDARG;
      return Set([&](FirewallRule& r) {
        r.action = v;
        return S_OK;
      });
    });
  }

 private:
  template <typename T, typename V>
  HRESULT GetValue(Call call, T* out, V value) {
    return GetStep(
        call, out,
        [&](T& v) {
          v = static_cast<T>(value);
          return S_OK;
        },
        rule_.name);
  }
  // A rule of the policy takes the change where it is stored, so that other
  // objects' changes to it stay.
  template <typename F>
  HRESULT Set(F change) {
    if (!stored_) {
      FirewallRule changed = rule_;
      HRESULT hr = change(changed);
      if (SUCCEEDED(hr)) rule_ = std::move(changed);
      return hr;
    }
    FirewallRule stored;
    size_t index = *stored_;
    HRESULT hr = Change([&](HostState& s) {
      // Rules removed before it move it up: follow it by its name.
      if (index >= s.rules.size() || s.rules[index].name != rule_.name) {
        auto it =
            std::find_if(s.rules.begin(), s.rules.end(), [&](const FirewallRule& r) { return r.name == rule_.name; });
        if (it == s.rules.end()) return kNotFound;
        index = static_cast<size_t>(it - s.rules.begin());
      }
      HRESULT changed = change(s.rules[index]);
      stored = s.rules[index];
      return changed;
    });
    if (FAILED(hr)) return hr;
    rule_ = std::move(stored);
    stored_ = index;
    return S_OK;
  }
  HRESULT SetText(std::string FirewallRule::*field, BSTR value) {
    return Set([&](FirewallRule& r) {
      r.*field = TextOf(value);
      return S_OK;
    });
  }
  HRESULT SetPorts(std::string FirewallRule::*field, BSTR value) {
    return Set([&](FirewallRule& r) {
      std::string text = TextOf(value);
      if (!text.empty() && r.protocol != NET_FW_IP_PROTOCOL_TCP && r.protocol != NET_FW_IP_PROTOCOL_UDP)
        return E_INVALIDARG;
      r.*field = std::move(text);
      return S_OK;
    });
  }

  FirewallRule rule_;
  std::optional<size_t> stored_;
};

// Reads a rule of another implementation through its interface.
HRESULT ReadRule(INetFwRule* source, FirewallRule& rule) {
  struct TextProperty {
    HRESULT (STDMETHODCALLTYPE INetFwRule::*get)(BSTR*);
    std::string FirewallRule::*field;
  };
  const TextProperty texts[] = {
      {&INetFwRule::get_Name, &FirewallRule::name},
      {&INetFwRule::get_Description, &FirewallRule::description},
      {&INetFwRule::get_Grouping, &FirewallRule::grouping},
      {&INetFwRule::get_ApplicationName, &FirewallRule::applicationName},
      {&INetFwRule::get_ServiceName, &FirewallRule::serviceName},
      {&INetFwRule::get_LocalPorts, &FirewallRule::localPorts},
      {&INetFwRule::get_RemotePorts, &FirewallRule::remotePorts},
      {&INetFwRule::get_LocalAddresses, &FirewallRule::localAddresses},
      {&INetFwRule::get_RemoteAddresses, &FirewallRule::remoteAddresses},
      {&INetFwRule::get_IcmpTypesAndCodes, &FirewallRule::icmpTypesAndCodes},
      {&INetFwRule::get_InterfaceTypes, &FirewallRule::interfaceTypes},
  };
  for (const auto& p : texts) {
    Bstr value;
    HRESULT hr = (source->*p.get)(value.out());
    if (FAILED(hr)) return hr;
    rule.*p.field = value.Utf8();
  }
  LONG protocol = 0, profiles = 0;
  NET_FW_RULE_DIRECTION direction{};
  NET_FW_ACTION action{};
  VARIANT_BOOL enabled = VARIANT_FALSE, edge = VARIANT_FALSE;
  HRESULT hr = S_OK;
  if (FAILED(hr = source->get_Protocol(&protocol)) || FAILED(hr = source->get_Profiles(&profiles)) ||
      FAILED(hr = source->get_Direction(&direction)) || FAILED(hr = source->get_Action(&action)) ||
      FAILED(hr = source->get_Enabled(&enabled)) || FAILED(hr = source->get_EdgeTraversal(&edge)))
    return hr;
  rule.protocol = protocol;
  rule.profiles = profiles;
  rule.direction = direction;
  rule.action = action;
  rule.enabled = enabled != VARIANT_FALSE;
  rule.edgeTraversal = edge != VARIANT_FALSE;
  return S_OK;
}

bool FillRuleItem(const HostPtr& host, const FirewallRule& rule, size_t index, VARIANT& item) {
  switch (rule.item) {
    case RuleItem::Object:
      return FillObject(item, [&]() -> IDispatch* { return new (std::nothrow) PlainObject(host); });
    case RuleItem::Value:
      item.vt = VT_I4;
      item.lVal = 42;
      return true;
    default:
      return FillObject(item, [&]() -> IDispatch* { return new (std::nothrow) Rule(host, rule, index); });
  }
}

class Rules final : public AdvancedObject<INetFwRules> {
 public:
  using FirewallObject::FirewallObject;
  STDMETHODIMP get_Count(LONG* count) override {
    if (!count) return E_POINTER;
    return Read([&](const HostState& s) { return HandOutValue(s.rules.size(), count); });
  }
  STDMETHODIMP Add(INetFwRule* source) override {
    if (!source) return E_POINTER;
    return Step(Call::RulesAdd, [&] {
      FirewallRule rule;
      if (auto* own = dynamic_cast<Rule*>(source)) {
        rule = own->rule();
      } else if (HRESULT hr = ReadRule(source, rule); FAILED(hr)) {
        return hr;
      }
      if (rule.name.empty() || rule.name.find('|') != std::string::npos) return E_INVALIDARG;
      // A refused Add still counts, so that only the configured one fails;
      // it reports a plain failure, not a denial a caller would take for
      // missing rights.
      bool refused = false;
      HRESULT hr = Change([&](HostState& s) {
        refused = ++s.addsSeen == s.refuseAddNumber;
        if (!refused) s.rules.push_back(rule);
        return S_OK;
      });
      return SUCCEEDED(hr) && refused ? E_FAIL : hr;
    });
  }
  // Every rule of that name goes; a name no rule has changes nothing.
  STDMETHODIMP Remove(BSTR name) override {
    std::string wanted = TextOf(name);
    return Change([&](HostState& s) {
      s.rules.erase(
          std::remove_if(s.rules.begin(), s.rules.end(), [&](const FirewallRule& r) { return r.name == wanted; }),
          s.rules.end());
      return S_OK;
    });
  }
  STDMETHODIMP Item(BSTR name, INetFwRule** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    std::string wanted = TextOf(name);
    return Read([&](const HostState& s) {
      for (size_t i = 0; i < s.rules.size(); ++i)
        if (s.rules[i].name == wanted && s.rules[i].item == RuleItem::Rule)
          return HandOut(new (std::nothrow) Rule(hostPtr(), s.rules[i], i), IID_INetFwRule,
                         reinterpret_cast<void**>(out));
      return kNotFound;
    });
  }
  // A snapshot: rules added while a walk runs are not part of it.
  STDMETHODIMP get__NewEnum(IUnknown** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Step(Call::RulesGetNewEnum, [&] {
      return Read([&](const HostState& s) {
        HostPtr host = hostPtr();
        return HandOutEnumerator(
            host, s.rules,
            [host](const FirewallRule& rule, size_t index, VARIANT& item) {
              return FillRuleItem(host, rule, index, item);
            },
            out, true);
      });
    });
  }
};

// ---------------------------------------------------------------- policy

class Policy2 final : public AdvancedObject<INetFwPolicy2> {
 public:
  using FirewallObject::FirewallObject;
  STDMETHODIMP get_CurrentProfileTypes(LONG* v) override {
    return GetStep(Call::Policy2GetCurrentProfileTypes, v, [&](LONG& types) {
      return Read([&](const HostState& s) {
        types = s.CurrentProfileTypes();
        return S_OK;
      });
    });
  }
  STDMETHODIMP get_FirewallEnabled(NET_FW_PROFILE_TYPE2 type, VARIANT_BOOL* v) override {
    return GetStep(Call::Policy2GetFirewallEnabled, v, [&](VARIANT_BOOL& on) {
      auto profile = ProfileFromBit(type);
      if (!profile) return E_INVALIDARG;
      return Read([&](const HostState& s) {
        on = VariantBool(s.IsOn(*profile));
        return S_OK;
      });
    });
  }
  STDMETHODIMP put_FirewallEnabled(NET_FW_PROFILE_TYPE2 type, VARIANT_BOOL v) override {
    return Step(Call::Policy2PutFirewallEnabled, [&] {
      auto profile = ProfileFromBit(type);
      if (!profile) return E_INVALIDARG;
      return Change([&](HostState& s) {
        s.SwitchLocally(*profile, v != VARIANT_FALSE);
        return S_OK;
      });
    });
  }
  STDMETHODIMP get_Rules(INetFwRules** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Step(Call::Policy2GetRules, [&] {
      return HandOut(new (std::nothrow) Rules(hostPtr()), IID_INetFwRules, reinterpret_cast<void**>(out));
    });
  }
  STDMETHODIMP get_LocalPolicyModifyState(NET_FW_MODIFY_STATE* v) override {
    if (!v) return E_POINTER;
    // Group policy first, whether its registry values are written or only
    // held; then shielded mode on a profile in force.
    return Read([&](const HostState& s) {
      const long inForce = s.CurrentProfileTypes();
      const bool held = (s.heldByGroupPolicy & inForce) != 0 || !s.groupPolicy.empty();
      const bool shielded = (s.blockAllInbound & inForce) != 0;
      return HandOutValue(held       ? NET_FW_MODIFY_STATE_GP_OVERRIDE
                          : shielded ? NET_FW_MODIFY_STATE_INBOUND_BLOCKED
                                     : NET_FW_MODIFY_STATE_OK,
                          v);
    });
  }

  // A profile that excludes interfaces names one; none is VT_EMPTY, as the platform answers.
  STDMETHODIMP get_ExcludedInterfaces(NET_FW_PROFILE_TYPE2 type, VARIANT* v) override {
    if (!v) return E_POINTER;
    VariantInit(v);
    if (!ProfileFromBit(type)) return E_INVALIDARG;
    return Read([&](const HostState& s) {
      if ((s.excludedInterfaces & type) == 0) return S_OK;
      SAFEARRAY* names = SafeArrayCreateVector(VT_VARIANT, 0, 1);
      if (!names) return E_OUTOFMEMORY;
      LONG index = 0;
      VARIANT name;
      VariantInit(&name);
      name.vt = VT_BSTR;
      name.bstrVal = SysAllocString(L"Local Area Connection");
      const HRESULT put = name.bstrVal ? SafeArrayPutElement(names, &index, &name) : E_OUTOFMEMORY;
      VariantClear(&name);
      if (FAILED(put)) {
        SafeArrayDestroy(names);
        return put;
      }
      v->vt = VT_ARRAY | VT_VARIANT;
      v->parray = names;
      return S_OK;
    });
  }
  STDMETHODIMP put_ExcludedInterfaces(NET_FW_PROFILE_TYPE2, VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP get_BlockAllInboundTraffic(NET_FW_PROFILE_TYPE2 type, VARIANT_BOOL* v) override {
    if (!v) return E_POINTER;
    if (!ProfileFromBit(type)) return E_INVALIDARG;
    return Read([&](const HostState& s) { return HandOutValue(VariantBool((s.blockAllInbound & type) != 0), v); });
  }
  STDMETHODIMP put_BlockAllInboundTraffic(NET_FW_PROFILE_TYPE2, VARIANT_BOOL) override { return E_NOTIMPL; }

  // Settings the simulated host does not model.
  STDMETHODIMP get_NotificationsDisabled(NET_FW_PROFILE_TYPE2, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP put_NotificationsDisabled(NET_FW_PROFILE_TYPE2, VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP get_UnicastResponsesToMulticastBroadcastDisabled(NET_FW_PROFILE_TYPE2, VARIANT_BOOL*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP put_UnicastResponsesToMulticastBroadcastDisabled(NET_FW_PROFILE_TYPE2, VARIANT_BOOL) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP get_ServiceRestriction(INetFwServiceRestriction**) override { return E_NOTIMPL; }
  STDMETHODIMP EnableRuleGroup(LONG, BSTR, VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP IsRuleGroupEnabled(LONG, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP RestoreLocalFirewallDefaults() override { return E_NOTIMPL; }
  STDMETHODIMP get_DefaultInboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION*) override { return E_NOTIMPL; }
  STDMETHODIMP put_DefaultInboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION) override { return E_NOTIMPL; }
  STDMETHODIMP get_DefaultOutboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION*) override { return E_NOTIMPL; }
  STDMETHODIMP put_DefaultOutboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION) override { return E_NOTIMPL; }
  STDMETHODIMP get_IsRuleGroupCurrentlyEnabled(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
};

// ---------------------------------------------------------------- legacy

class OpenPortEntry final : public LegacyObject<INetFwOpenPort> {
 public:
  OpenPortEntry(HostPtr host, LegacyProfile profile, long port, long protocol)
      : FirewallObject(std::move(host)), profile_(profile), port_(port), protocol_(protocol) {}

  STDMETHODIMP get_Name(BSTR* v) override {
    return Look([&](const OpenPort& p) { return HandOutText(p.name, v); });
  }
  STDMETHODIMP put_Name(BSTR v) override {
    return Write([&](OpenPort& p) { p.name = TextOf(v); });
  }
  STDMETHODIMP get_IpVersion(NET_FW_IP_VERSION* v) override { return HandOutValue(NET_FW_IP_VERSION_ANY, v); }
  STDMETHODIMP put_IpVersion(NET_FW_IP_VERSION) override { return E_NOTIMPL; }
  STDMETHODIMP get_Protocol(NET_FW_IP_PROTOCOL* v) override { return HandOutValue(protocol_, v); }
  STDMETHODIMP put_Protocol(NET_FW_IP_PROTOCOL) override { return E_NOTIMPL; }
  STDMETHODIMP get_Port(LONG* v) override { return HandOutValue(port_, v); }
  STDMETHODIMP put_Port(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP get_Scope(NET_FW_SCOPE* v) override {
    return Look([&](const OpenPort& p) { return HandOutValue(ScopeOf(p.scope), v); });
  }
  // As on Windows, a custom scope comes only from remote addresses.
  STDMETHODIMP put_Scope(NET_FW_SCOPE v) override {
    if (v != NET_FW_SCOPE_ALL && v != NET_FW_SCOPE_LOCAL_SUBNET) return E_INVALIDARG;
    return Write([&](OpenPort& p) {
      p.scope = ScopeName(v);
      p.addresses.clear();
    });
  }
  STDMETHODIMP get_RemoteAddresses(BSTR* v) override {
    return Look([&](const OpenPort& p) {
      return HandOutText(p.scope == "CUSTOM" ? p.addresses : p.scope == "SUBNET" ? "LocalSubnet" : "*", v);
    });
  }
  STDMETHODIMP put_RemoteAddresses(BSTR v) override {
    const std::string addresses = TextOf(v);
    if (addresses.empty()) return E_INVALIDARG;
    return Write([&](OpenPort& p) {
      p.scope = addresses == "*" ? "ALL" : addresses == "LocalSubnet" ? "SUBNET" : "CUSTOM";
      p.addresses = p.scope == "CUSTOM" ? addresses : "";
    });
  }
  STDMETHODIMP get_Enabled(VARIANT_BOOL* v) override {
    return GetStep(Call::OpenPortGetEnabled, v, [&](VARIANT_BOOL& on) {
      return Look([&](const OpenPort& p) {
        on = VariantBool(p.enabled);
        return S_OK;
      });
    });
  }
  STDMETHODIMP put_Enabled(VARIANT_BOOL v) override {
    return Write([&](OpenPort& p) { p.enabled = v != VARIANT_FALSE; });
  }
  STDMETHODIMP get_BuiltIn(VARIANT_BOOL* v) override { return HandOutValue(VARIANT_FALSE, v); }

 private:
  template <typename F>
  HRESULT Look(F look) {
    return Read([&](HostState& s) {
      OpenPort* p = s.FindOpenPort(profile_, port_, protocol_);
      return p ? look(*p) : kNotFound;
    });
  }
  template <typename F>
  HRESULT Write(F change) {
    return Change([&](HostState& s) {
      OpenPort* p = s.FindOpenPort(profile_, port_, protocol_);
      if (!p) return kNotFound;
      change(*p);
      return S_OK;
    });
  }

  LegacyProfile profile_;
  long port_;
  long protocol_;
};

class OpenPorts final : public LegacyObject<INetFwOpenPorts> {
 public:
  OpenPorts(HostPtr host, LegacyProfile profile) : FirewallObject(std::move(host)), profile_(profile) {}

  STDMETHODIMP get_Count(LONG* count) override {
    if (!count) return E_POINTER;
    return Read([&](const HostState& s) {
      LONG n = 0;
      for (const auto& p : s.openPorts) n += p.profile == profile_;
      return HandOutValue(n, count);
    });
  }
  STDMETHODIMP Add(INetFwOpenPort* source) override {
    if (!source) return E_POINTER;
    OpenPort entry;
    entry.profile = profile_;
    Bstr name;
    NET_FW_IP_PROTOCOL protocol{};
    VARIANT_BOOL enabled = VARIANT_FALSE;
    HRESULT hr = S_OK;
    if (FAILED(hr = source->get_Port(&entry.port)) || FAILED(hr = source->get_Protocol(&protocol)) ||
        FAILED(hr = source->get_Name(name.out())) || FAILED(hr = source->get_Enabled(&enabled)))
      return hr;
    entry.protocol = protocol;
    entry.name = name.Utf8();
    entry.enabled = enabled != VARIANT_FALSE;
    return Change([&](HostState& s) {
      if (OpenPort* existing = s.FindOpenPort(profile_, entry.port, entry.protocol))
        *existing = entry;
      else
        s.openPorts.push_back(entry);
      return S_OK;
    });
  }
  // Closing a port that is not open changes nothing.
  STDMETHODIMP Remove(LONG port, NET_FW_IP_PROTOCOL protocol) override {
    return Change([&](HostState& s) {
      for (auto it = s.openPorts.begin(); it != s.openPorts.end(); ++it) {
        if (it->profile == profile_ && it->port == port && it->protocol == protocol) {
          s.openPorts.erase(it);
          break;
        }
      }
      return S_OK;
    });
  }
  STDMETHODIMP Item(LONG port, NET_FW_IP_PROTOCOL protocol, INetFwOpenPort** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Step(Call::OpenPortsItem, [&] {
      return Read([&](HostState& s) {
        if (!s.FindOpenPort(profile_, port, protocol)) return kNotFound;
        return HandOut(new (std::nothrow) OpenPortEntry(hostPtr(), profile_, port, protocol), IID_INetFwOpenPort,
                       reinterpret_cast<void**>(out));
      });
    });
  }
  STDMETHODIMP get__NewEnum(IUnknown** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Read([&](const HostState& s) {
      std::vector<std::pair<long, long>> keys;
      for (const auto& p : s.openPorts)
        if (p.profile == profile_) keys.emplace_back(p.port, p.protocol);
      HostPtr host = hostPtr();
      LegacyProfile profile = profile_;
      return HandOutEnumerator(
          host, std::move(keys),
          [host, profile](const std::pair<long, long>& key, size_t, VARIANT& item) {
            return FillObject(item, [&]() -> IDispatch* {
              return new (std::nothrow) OpenPortEntry(host, profile, key.first, key.second);
            });
          },
          out);
    });
  }

 private:
  LegacyProfile profile_;
};

// ------------------------------------------------------ service exceptions

// One port of a predefined service: built in, switched with its service.
class ServicePortEntry final : public LegacyObject<INetFwOpenPort> {
 public:
  ServicePortEntry(HostPtr host, LegacyProfile profile, ServiceType type, long port, long protocol)
      : FirewallObject(std::move(host)), profile_(profile), type_(type), port_(port), protocol_(protocol) {}

  STDMETHODIMP get_Name(BSTR* v) override {
    return HandOutText(
        std::string(ServiceDisplayName(type_)) + (protocol_ == 17 ? " (UDP " : " (TCP ") + std::to_string(port_) + ")",
        v);
  }
  STDMETHODIMP put_Name(BSTR) override { return E_ACCESSDENIED; }
  STDMETHODIMP get_IpVersion(NET_FW_IP_VERSION* v) override { return HandOutValue(NET_FW_IP_VERSION_ANY, v); }
  STDMETHODIMP put_IpVersion(NET_FW_IP_VERSION) override { return E_ACCESSDENIED; }
  STDMETHODIMP get_Protocol(NET_FW_IP_PROTOCOL* v) override { return HandOutValue(protocol_, v); }
  STDMETHODIMP put_Protocol(NET_FW_IP_PROTOCOL) override { return E_ACCESSDENIED; }
  STDMETHODIMP get_Port(LONG* v) override { return HandOutValue(port_, v); }
  STDMETHODIMP put_Port(LONG) override { return E_ACCESSDENIED; }
  STDMETHODIMP get_Scope(NET_FW_SCOPE* v) override {
    return Look([&](ServiceException& e, ServicePort&) { return HandOutValue(ScopeOf(e.scope), v); });
  }
  STDMETHODIMP put_Scope(NET_FW_SCOPE) override { return E_ACCESSDENIED; }
  STDMETHODIMP get_RemoteAddresses(BSTR* v) override { return HandOutText("*", v); }
  STDMETHODIMP put_RemoteAddresses(BSTR) override { return E_ACCESSDENIED; }
  STDMETHODIMP get_Enabled(VARIANT_BOOL* v) override {
    return GetStep(Call::ServicePortGetEnabled, v, [&](VARIANT_BOOL& on) {
      return Look([&](ServiceException&, ServicePort& p) {
        on = VariantBool(p.enabled);
        return S_OK;
      });
    });
  }
  STDMETHODIMP put_Enabled(VARIANT_BOOL v) override {
    return Change([&](HostState& s) {
      ServicePort* p = Find(s);
      if (!p) return kNotFound;
      p->enabled = v != VARIANT_FALSE;
      return S_OK;
    });
  }
  STDMETHODIMP get_BuiltIn(VARIANT_BOOL* v) override { return HandOutValue(VARIANT_TRUE, v); }

 private:
  ServicePort* Find(HostState& s) {
    ServiceException* e = s.FindServiceException(profile_, type_);
    if (!e) return nullptr;
    for (auto& p : e->ports)
      if (p.port == port_ && p.protocol == protocol_) return &p;
    return nullptr;
  }
  template <typename F>
  HRESULT Look(F look) {
    return Read([&](HostState& s) {
      ServicePort* p = Find(s);
      return p ? look(*s.FindServiceException(profile_, type_), *p) : kNotFound;
    });
  }

  LegacyProfile profile_;
  ServiceType type_;
  long port_;
  long protocol_;
};

// The ports of one service; the platform lets nobody add or remove them.
class ServicePorts final : public LegacyObject<INetFwOpenPorts> {
 public:
  ServicePorts(HostPtr host, LegacyProfile profile, ServiceType type)
      : FirewallObject(std::move(host)), profile_(profile), type_(type) {}

  STDMETHODIMP get_Count(LONG* count) override {
    if (!count) return E_POINTER;
    return WithService([&](ServiceException& e) { return HandOutValue(e.ports.size(), count); });
  }
  STDMETHODIMP Add(INetFwOpenPort*) override { return E_ACCESSDENIED; }
  STDMETHODIMP Remove(LONG, NET_FW_IP_PROTOCOL) override { return E_ACCESSDENIED; }
  STDMETHODIMP Item(LONG port, NET_FW_IP_PROTOCOL protocol, INetFwOpenPort** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Step(Call::ServicePortsItem, [&] {
      return WithService([&](ServiceException& e) {
        for (const auto& p : e.ports)
          if (p.port == port && p.protocol == protocol)
            return HandOut(new (std::nothrow) ServicePortEntry(hostPtr(), profile_, type_, port, protocol),
                           IID_INetFwOpenPort, reinterpret_cast<void**>(out));
        return kNotFound;
      });
    });
  }
  STDMETHODIMP get__NewEnum(IUnknown** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return WithService([&](ServiceException& e) {
      std::vector<std::pair<long, long>> keys;
      for (const auto& p : e.ports) keys.emplace_back(p.port, p.protocol);
      HostPtr host = hostPtr();
      LegacyProfile profile = profile_;
      ServiceType type = type_;
      return HandOutEnumerator(
          host, std::move(keys),
          [host, profile, type](const std::pair<long, long>& key, size_t, VARIANT& item) {
            return FillObject(item, [&]() -> IDispatch* {
              return new (std::nothrow) ServicePortEntry(host, profile, type, key.first, key.second);
            });
          },
          out);
    });
  }

 private:
  template <typename F>
  HRESULT WithService(F look) {
    return Read([&](HostState& s) {
      ServiceException* e = s.FindServiceException(profile_, type_);
      return e ? look(*e) : kNotFound;
    });
  }

  LegacyProfile profile_;
  ServiceType type_;
};

class ServiceEntry final : public LegacyObject<INetFwService> {
 public:
  ServiceEntry(HostPtr host, LegacyProfile profile, ServiceType type)
      : FirewallObject(std::move(host)), profile_(profile), type_(type) {}

  STDMETHODIMP get_Name(BSTR* v) override { return HandOutText(ServiceDisplayName(type_), v); }
  STDMETHODIMP get_Type(NET_FW_SERVICE_TYPE* v) override { return HandOutValue(static_cast<long>(type_), v); }
  // Customized: some ports switched apart from the others.
  STDMETHODIMP get_Customized(VARIANT_BOOL* v) override {
    return Look([&](ServiceException& e) {
      bool any = false, all = true;
      for (const auto& p : e.ports) {
        any = any || p.enabled;
        all = all && p.enabled;
      }
      return HandOutValue(VariantBool(any && !all), v);
    });
  }
  STDMETHODIMP get_IpVersion(NET_FW_IP_VERSION* v) override { return HandOutValue(NET_FW_IP_VERSION_ANY, v); }
  STDMETHODIMP put_IpVersion(NET_FW_IP_VERSION) override { return E_NOTIMPL; }
  STDMETHODIMP get_Scope(NET_FW_SCOPE* v) override {
    return Look([&](ServiceException& e) { return HandOutValue(ScopeOf(e.scope), v); });
  }
  // The scope of every port of the service; custom needs remote addresses.
  STDMETHODIMP put_Scope(NET_FW_SCOPE v) override {
    if (v != NET_FW_SCOPE_ALL && v != NET_FW_SCOPE_LOCAL_SUBNET) return E_INVALIDARG;
    return Write([&](ServiceException& e) { e.scope = ScopeName(v); });
  }
  STDMETHODIMP get_RemoteAddresses(BSTR* v) override { return HandOutText("*", v); }
  STDMETHODIMP put_RemoteAddresses(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP get_Enabled(VARIANT_BOOL* v) override {
    return GetStep(Call::ServiceGetEnabled, v, [&](VARIANT_BOOL& on) {
      return Look([&](ServiceException& e) {
        on = VariantBool(e.Enabled());
        return S_OK;
      });
    });
  }
  STDMETHODIMP put_Enabled(VARIANT_BOOL v) override {
    return Write([&](ServiceException& e) { e.SetEnabled(v != VARIANT_FALSE); });
  }
  STDMETHODIMP get_GloballyOpenPorts(INetFwOpenPorts** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Step(Call::ServiceGetGloballyOpenPorts, [&] {
      return HandOut(new (std::nothrow) ServicePorts(hostPtr(), profile_, type_), IID_INetFwOpenPorts,
                     reinterpret_cast<void**>(out));
    });
  }

 private:
  template <typename F>
  HRESULT Look(F look) {
    return Read([&](HostState& s) {
      ServiceException* e = s.FindServiceException(profile_, type_);
      return e ? look(*e) : kNotFound;
    });
  }
  template <typename F>
  HRESULT Write(F change) {
    return Change([&](HostState& s) {
      ServiceException* e = s.FindServiceException(profile_, type_);
      if (!e) return kNotFound;
      change(*e);
      return S_OK;
    });
  }

  LegacyProfile profile_;
  ServiceType type_;
};

class Services final : public LegacyObject<INetFwServices> {
 public:
  Services(HostPtr host, LegacyProfile profile) : FirewallObject(std::move(host)), profile_(profile) {}

  STDMETHODIMP get_Count(LONG* count) override {
    if (!count) return E_POINTER;
    return Read([&](const HostState& s) { return HandOutValue(Types(s).size(), count); });
  }
  STDMETHODIMP Item(NET_FW_SERVICE_TYPE type, INetFwService** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Read([&](const HostState& s) {
      for (ServiceType t : Types(s))
        if (static_cast<long>(t) == type)
          return HandOut(new (std::nothrow) ServiceEntry(hostPtr(), profile_, t), IID_INetFwService,
                         reinterpret_cast<void**>(out));
      return kNotFound;
    });
  }
  STDMETHODIMP get__NewEnum(IUnknown** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Step(Call::ServicesGetNewEnum, [&] {
      return Read([&](const HostState& s) {
        HostPtr host = hostPtr();
        LegacyProfile profile = profile_;
        return HandOutEnumerator(
            host, Types(s),
            [host, profile](ServiceType type, size_t, VARIANT& item) {
              return FillObject(item,
                                [&]() -> IDispatch* { return new (std::nothrow) ServiceEntry(host, profile, type); });
            },
            out);
      });
    });
  }

 private:
  std::vector<ServiceType> Types(const HostState& s) const {
    std::vector<ServiceType> types;
    for (const auto& e : s.serviceExceptions)
      if (e.profile == profile_) types.push_back(e.type);
    return types;
  }

  LegacyProfile profile_;
};

class RemoteAdmin final : public LegacyObject<INetFwRemoteAdminSettings> {
 public:
  RemoteAdmin(HostPtr host, LegacyProfile profile) : FirewallObject(std::move(host)), profile_(profile) {}
  STDMETHODIMP get_IpVersion(NET_FW_IP_VERSION* v) override { return HandOutValue(NET_FW_IP_VERSION_ANY, v); }
  STDMETHODIMP put_IpVersion(NET_FW_IP_VERSION) override { return E_NOTIMPL; }
  STDMETHODIMP get_Scope(NET_FW_SCOPE* v) override { return HandOutValue(NET_FW_SCOPE_ALL, v); }
  STDMETHODIMP put_Scope(NET_FW_SCOPE v) override { return v == NET_FW_SCOPE_ALL ? S_OK : E_NOTIMPL; }
  STDMETHODIMP get_RemoteAddresses(BSTR* v) override { return HandOutText("*", v); }
  STDMETHODIMP put_RemoteAddresses(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP get_Enabled(VARIANT_BOOL* v) override {
    if (!v) return E_POINTER;
    return Read([&](const HostState& s) { return HandOutValue(VariantBool(s.RemoteAdmin(profile_)), v); });
  }
  STDMETHODIMP put_Enabled(VARIANT_BOOL v) override {
    return Change([&](HostState& s) {
      s.SetRemoteAdmin(profile_, v != VARIANT_FALSE);
      return S_OK;
    });
  }

 private:
  LegacyProfile profile_;
};

class AuthorisedApplication final : public LegacyObject<INetFwAuthorizedApplication> {
 public:
  AuthorisedApplication(HostPtr host, AuthorisedApp app) : FirewallObject(std::move(host)), app_(std::move(app)) {}
  STDMETHODIMP get_Name(BSTR* v) override { return HandOutText(app_.name, v); }
  STDMETHODIMP put_Name(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP get_ProcessImageFileName(BSTR* v) override { return HandOutText(app_.program, v); }
  STDMETHODIMP put_ProcessImageFileName(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP get_IpVersion(NET_FW_IP_VERSION* v) override { return HandOutValue(NET_FW_IP_VERSION_ANY, v); }
  STDMETHODIMP put_IpVersion(NET_FW_IP_VERSION) override { return E_NOTIMPL; }
  STDMETHODIMP get_Scope(NET_FW_SCOPE* v) override { return HandOutValue(NET_FW_SCOPE_ALL, v); }
  STDMETHODIMP put_Scope(NET_FW_SCOPE) override { return E_NOTIMPL; }
  STDMETHODIMP get_RemoteAddresses(BSTR* v) override { return HandOutText("*", v); }
  STDMETHODIMP put_RemoteAddresses(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP get_Enabled(VARIANT_BOOL* v) override { return HandOutValue(VariantBool(app_.enabled), v); }
  STDMETHODIMP put_Enabled(VARIANT_BOOL) override { return E_NOTIMPL; }

 private:
  AuthorisedApp app_;
};

// The authorised applications of a profile, as a snapshot: the run never changes them.
class AuthorisedApplications final : public LegacyObject<INetFwAuthorizedApplications> {
 public:
  AuthorisedApplications(HostPtr host, LegacyProfile profile) : FirewallObject(std::move(host)), profile_(profile) {}
  STDMETHODIMP get_Count(LONG* count) override {
    if (!count) return E_POINTER;
    return Read([&](const HostState& s) { return HandOutValue(Apps(s).size(), count); });
  }
  STDMETHODIMP Add(INetFwAuthorizedApplication*) override { return E_NOTIMPL; }
  STDMETHODIMP Remove(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP Item(BSTR program, INetFwAuthorizedApplication** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Read([&](const HostState& s) {
      for (const AuthorisedApp& app : Apps(s))
        if (app.program == TextOf(program))
          return HandOut(new (std::nothrow) AuthorisedApplication(hostPtr(), app), IID_INetFwAuthorizedApplication,
                         reinterpret_cast<void**>(out));
      return kNotFound;
    });
  }
  STDMETHODIMP get__NewEnum(IUnknown** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Read([&](const HostState& s) {
      HostPtr host = hostPtr();
      return HandOutEnumerator(
          host, Apps(s),
          [host](const AuthorisedApp& app, size_t, VARIANT& item) {
            return FillObject(item,
                              [&]() -> IDispatch* { return new (std::nothrow) AuthorisedApplication(host, app); });
          },
          out);
    });
  }

 private:
  std::vector<AuthorisedApp> Apps(const HostState& s) const {
    std::vector<AuthorisedApp> apps;
    for (const AuthorisedApp& app : s.authorisedApps)
      if (app.profile == profile_) apps.push_back(app);
    return apps;
  }
  LegacyProfile profile_;
};

class LegacyProfileObject final : public LegacyObject<INetFwProfile> {
 public:
  LegacyProfileObject(HostPtr host, LegacyProfile profile) : FirewallObject(std::move(host)), profile_(profile) {}

  STDMETHODIMP get_Type(NET_FW_PROFILE_TYPE* v) override {
    return HandOutValue(profile_ == LegacyProfile::Domain ? NET_FW_PROFILE_DOMAIN : NET_FW_PROFILE_STANDARD, v);
  }
  // The switch is that of the advanced profile this one stands for.
  STDMETHODIMP get_FirewallEnabled(VARIANT_BOOL* v) override {
    return GetStep(Call::ProfileGetFirewallEnabled, v, [&](VARIANT_BOOL& on) {
      return Read([&](const HostState& s) {
        on = VariantBool(s.IsOn(AdvancedProfileOf(profile_, s)));
        return S_OK;
      });
    });
  }
  STDMETHODIMP put_FirewallEnabled(VARIANT_BOOL v) override {
    return Step(Call::ProfilePutFirewallEnabled, [&] {
      return Change([&](HostState& s) {
        s.SwitchLocally(AdvancedProfileOf(profile_, s), v != VARIANT_FALSE);
        return S_OK;
      });
    });
  }
  STDMETHODIMP get_GloballyOpenPorts(INetFwOpenPorts** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Step(Call::ProfileGetGloballyOpenPorts, [&] {
      return HandOut(new (std::nothrow) OpenPorts(hostPtr(), profile_), IID_INetFwOpenPorts,
                     reinterpret_cast<void**>(out));
    });
  }
  STDMETHODIMP get_ExceptionsNotAllowed(VARIANT_BOOL* v) override {
    return GetStep(Call::ProfileGetExceptionsNotAllowed, v, [&](VARIANT_BOOL& none) {
      return Read([&](const HostState& s) {
        none = VariantBool(s.ExceptionsNotAllowed(profile_));
        return S_OK;
      });
    });
  }
  STDMETHODIMP put_ExceptionsNotAllowed(VARIANT_BOOL v) override {
    return Change([&](HostState& s) {
      s.SetExceptionsNotAllowed(profile_, v != VARIANT_FALSE);
      return S_OK;
    });
  }
  STDMETHODIMP get_Services(INetFwServices** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Step(Call::ProfileGetServices, [&] {
      return HandOut(new (std::nothrow) Services(hostPtr(), profile_), IID_INetFwServices,
                     reinterpret_cast<void**>(out));
    });
  }

  // Settings the simulated host does not model.
  STDMETHODIMP get_NotificationsDisabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP put_NotificationsDisabled(VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP get_UnicastResponsesToMulticastBroadcastDisabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP put_UnicastResponsesToMulticastBroadcastDisabled(VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP get_IcmpSettings(INetFwIcmpSettings**) override { return E_NOTIMPL; }
  STDMETHODIMP get_RemoteAdminSettings(INetFwRemoteAdminSettings** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Read([&](const HostState&) {
      return HandOut(new (std::nothrow) RemoteAdmin(hostPtr(), profile_), IID_INetFwRemoteAdminSettings,
                     reinterpret_cast<void**>(out));
    });
  }
  STDMETHODIMP get_AuthorizedApplications(INetFwAuthorizedApplications** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Read([&](const HostState&) {
      return HandOut(new (std::nothrow) AuthorisedApplications(hostPtr(), profile_), IID_INetFwAuthorizedApplications,
                     reinterpret_cast<void**>(out));
    });
  }

 private:
  LegacyProfile profile_;
};

class LocalPolicy final : public LegacyObject<INetFwPolicy> {
 public:
  using FirewallObject::FirewallObject;
  STDMETHODIMP get_CurrentProfile(INetFwProfile** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Step(Call::PolicyGetCurrentProfile, [&] {
      return Read([&](const HostState& s) {
        return HandOut(new (std::nothrow) LegacyProfileObject(hostPtr(), CurrentLegacyProfile(s)), IID_INetFwProfile,
                       reinterpret_cast<void**>(out));
      });
    });
  }
  STDMETHODIMP GetProfileByType(NET_FW_PROFILE_TYPE type, INetFwProfile** out) override {
    if (type != NET_FW_PROFILE_DOMAIN && type != NET_FW_PROFILE_STANDARD) return E_INVALIDARG;
    LegacyProfile profile = type == NET_FW_PROFILE_DOMAIN ? LegacyProfile::Domain : LegacyProfile::Standard;
    return HandOut(new (std::nothrow) LegacyProfileObject(hostPtr(), profile), IID_INetFwProfile,
                   reinterpret_cast<void**>(out));
  }
};

class Manager final : public LegacyObject<INetFwMgr> {
 public:
  using FirewallObject::FirewallObject;
  STDMETHODIMP get_LocalPolicy(INetFwPolicy** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Step(Call::MgrGetLocalPolicy, [&] {
      return HandOut(new (std::nothrow) LocalPolicy(hostPtr()), IID_INetFwPolicy, reinterpret_cast<void**>(out));
    });
  }
  STDMETHODIMP get_CurrentProfileType(NET_FW_PROFILE_TYPE* v) override {
    if (!v) return E_POINTER;
    return Read([&](const HostState& s) {
      return HandOutValue(
          CurrentLegacyProfile(s) == LegacyProfile::Domain ? NET_FW_PROFILE_DOMAIN : NET_FW_PROFILE_STANDARD, v);
    });
  }
  STDMETHODIMP RestoreDefaults() override { return E_NOTIMPL; }
  STDMETHODIMP IsPortAllowed(BSTR, NET_FW_IP_VERSION, LONG, BSTR, NET_FW_IP_PROTOCOL, VARIANT*, VARIANT*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP IsIcmpTypeAllowed(NET_FW_IP_VERSION, BSTR, BYTE, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
};

// Creation with a refusal the host's state may hold: a fault, not a denial
// (access denied is kept for a standard user's host).
template <typename Object>
HRESULT Create(const HostPtr& host, Call call, bool HostState::*refuse, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return Step(*host, call, [&] {
    if (refuse) {
      std::shared_ptr<const HostState> state = host->Read();
      if (!state || (*state).*refuse) return E_FAIL;
      // A host without Windows Firewall has none of its classes.
      if (state->noWindowsFirewall) return REGDB_E_CLASSNOTREG;
    }
    return HandOut(new (std::nothrow) Object(host), iid, out);
  });
}

}  // namespace

const char* CallName(Call call) {
  const auto index = static_cast<size_t>(call);
  return index < static_cast<size_t>(Call::Count) ? kCallNames[index] : "?";
}

HRESULT CreatePolicy2(const HostPtr& host, REFIID iid, void** out) {
  return Create<Policy2>(host, Call::CreatePolicy2, &HostState::refusePolicy2, iid, out);
}

HRESULT CreateRule(const HostPtr& host, REFIID iid, void** out) {
  return Create<Rule>(host, Call::CreateRule, nullptr, iid, out);
}

HRESULT CreateManager(const HostPtr& host, REFIID iid, void** out) {
  return Create<Manager>(host, Call::CreateMgr, &HostState::refuseLegacyManager, iid, out);
}

}  // namespace testbed
