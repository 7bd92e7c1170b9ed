#include "fw_objects_win.h"

#include <netfw.h>
#include <oleauto.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "com_object_win.h"
#include "state_store_win.h"
#include "win_util.h"

namespace testbed {
namespace {

std::atomic<long> g_moduleLocks{0};

const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

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

// Unset texts come back as null strings, as the platform returns them.
HRESULT HandOutText(const std::string& text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (text.empty()) return S_OK;
  *out = SysAllocString(WideFromUtf8(text).c_str());
  return *out ? S_OK : E_OUTOFMEMORY;
}

template <typename T, typename V>
HRESULT HandOutValue(V value, T* out) {
  if (!out) return E_POINTER;
  *out = static_cast<T>(value);
  return S_OK;
}

VARIANT_BOOL VariantBool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

// A look that only reads shares the parsed state; one that needs a state of
// its own (it takes a HostState&) gets a copy.
template <typename Read>
HRESULT WithState(Read read) {
  std::shared_ptr<const HostState> shared = ReadSharedState();
  if (!shared) return E_FAIL;
  if constexpr (std::is_invocable_v<Read&, const HostState&>) {
    return read(*shared);
  } else {
    HostState state = *shared;
    return read(state);
  }
}

// A host that denies changes refuses them before looking at them.
template <typename Change>
HRESULT ChangeState(Change change) {
  HRESULT hr = E_FAIL;
  bool written = UpdateState([&](HostState& s) {
    hr = s.denyChanges ? E_ACCESSDENIED : change(s);
    return SUCCEEDED(hr);
  });
  return SUCCEEDED(hr) && !written ? E_FAIL : hr;
}

NET_FW_SCOPE ScopeOf(const std::string& scope) {
  return scope == "SUBNET" ? NET_FW_SCOPE_LOCAL_SUBNET : scope == "CUSTOM" ? NET_FW_SCOPE_CUSTOM : NET_FW_SCOPE_ALL;
}

const char* ScopeName(NET_FW_SCOPE scope) {
  return scope == NET_FW_SCOPE_LOCAL_SUBNET ? "SUBNET" : scope == NET_FW_SCOPE_CUSTOM ? "CUSTOM" : "ALL";
}

// Walks a snapshot of keys, handing out one new object per key as
// make(key, position) builds it.
template <typename Key, typename Make>
class KeyEnumerator final : public CountedObject<IEnumVARIANT> {
 public:
  KeyEnumerator(std::shared_ptr<const std::vector<Key>> keys, Make make, size_t position = 0)
      : keys_(std::move(keys)), make_(make), position_(position) {}
  STDMETHODIMP Next(ULONG count, VARIANT* items, ULONG* fetched) override {
    if (!items || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    for (; n < count && position_ < keys_->size(); ++n, ++position_) {
      VariantInit(&items[n]);
      items[n].vt = VT_DISPATCH;
      items[n].pdispVal = make_((*keys_)[position_], position_);
      if (!items[n].pdispVal) {
        for (ULONG i = 0; i < n; ++i) VariantClear(&items[i]);
        return E_OUTOFMEMORY;
      }
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
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
    *out = new (std::nothrow) KeyEnumerator(keys_, make_, position_);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  std::shared_ptr<const std::vector<Key>> keys_;
  Make make_;
  size_t position_;
};

template <typename Key, typename Make>
HRESULT HandOutEnumerator(std::vector<Key> keys, Make make, IUnknown** out) {
  if (!out) return E_POINTER;
  auto shared = std::make_shared<const std::vector<Key>>(std::move(keys));
  *out = new (std::nothrow) KeyEnumerator<Key, Make>(std::move(shared), make);
  return *out ? S_OK : E_OUTOFMEMORY;
}

// ---------------------------------------------------------------- rules

class Rule final : public DispatchObject<INetFwRule> {
 public:
  Rule() = default;
  // A rule of the policy: changes are written through to the host.
  Rule(FirewallRule rule, size_t index) : rule_(std::move(rule)), stored_(index) {}

  STDMETHODIMP get_Name(BSTR* v) override { return HandOutText(rule_.name, v); }
  STDMETHODIMP put_Name(BSTR v) override {
    if (!v || !*v) return E_INVALIDARG;
    return SetText(&FirewallRule::name, v);
  }
  STDMETHODIMP get_Description(BSTR* v) override { return HandOutText(rule_.description, v); }
  STDMETHODIMP put_Description(BSTR v) override { return SetText(&FirewallRule::description, v); }
  STDMETHODIMP get_ApplicationName(BSTR* v) override { return HandOutText(rule_.applicationName, v); }
  STDMETHODIMP put_ApplicationName(BSTR v) override { return SetText(&FirewallRule::applicationName, v); }
  STDMETHODIMP get_ServiceName(BSTR* v) override { return HandOutText(rule_.serviceName, v); }
  STDMETHODIMP put_ServiceName(BSTR v) override { return SetText(&FirewallRule::serviceName, v); }
  STDMETHODIMP get_Protocol(LONG* v) override { return HandOutValue(rule_.protocol, v); }
  STDMETHODIMP put_Protocol(LONG v) override {
    if (v < 0 || v > 256) return E_INVALIDARG;
    return Set([&](FirewallRule& r) {
      r.protocol = v;
      return S_OK;
    });
  }
  // Ports make sense for TCP and UDP only; the platform refuses them
  // before the protocol says which.
  STDMETHODIMP get_LocalPorts(BSTR* v) override { return HandOutText(rule_.localPorts, v); }
  STDMETHODIMP put_LocalPorts(BSTR v) override { return SetPorts(&FirewallRule::localPorts, v); }
  STDMETHODIMP get_RemotePorts(BSTR* v) override { return HandOutText(rule_.remotePorts, v); }
  STDMETHODIMP put_RemotePorts(BSTR v) override { return SetPorts(&FirewallRule::remotePorts, v); }
  STDMETHODIMP get_LocalAddresses(BSTR* v) override { return HandOutText(rule_.localAddresses, v); }
  STDMETHODIMP put_LocalAddresses(BSTR v) override { return SetText(&FirewallRule::localAddresses, v); }
  STDMETHODIMP get_RemoteAddresses(BSTR* v) override { return HandOutText(rule_.remoteAddresses, v); }
  STDMETHODIMP put_RemoteAddresses(BSTR v) override { return SetText(&FirewallRule::remoteAddresses, v); }
  STDMETHODIMP get_IcmpTypesAndCodes(BSTR* v) override { return HandOutText(rule_.icmpTypesAndCodes, v); }
  STDMETHODIMP put_IcmpTypesAndCodes(BSTR v) override { return SetText(&FirewallRule::icmpTypesAndCodes, v); }
  STDMETHODIMP get_Direction(NET_FW_RULE_DIRECTION* v) override { return HandOutValue(rule_.direction, v); }
  STDMETHODIMP put_Direction(NET_FW_RULE_DIRECTION v) override {
    if (v != NET_FW_RULE_DIR_IN && v != NET_FW_RULE_DIR_OUT) return E_INVALIDARG;
    return Set([&](FirewallRule& r) {
      r.direction = v;
      return S_OK;
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
  STDMETHODIMP get_Enabled(VARIANT_BOOL* v) override { return HandOutValue(VariantBool(rule_.enabled), v); }
  STDMETHODIMP put_Enabled(VARIANT_BOOL v) override {
    return Set([&](FirewallRule& r) {
      r.enabled = v != VARIANT_FALSE;
      return S_OK;
    });
  }
  STDMETHODIMP get_Grouping(BSTR* v) override { return HandOutText(rule_.grouping, v); }
  STDMETHODIMP put_Grouping(BSTR v) override { return SetText(&FirewallRule::grouping, v); }
  STDMETHODIMP get_Profiles(LONG* v) override { return HandOutValue(rule_.profiles, v); }
  STDMETHODIMP put_Profiles(LONG v) override {
    if (v == 0) return E_INVALIDARG;
    return Set([&](FirewallRule& r) {
      r.profiles = v;
      return S_OK;
    });
  }
  STDMETHODIMP get_EdgeTraversal(VARIANT_BOOL* v) override { return HandOutValue(VariantBool(rule_.edgeTraversal), v); }
  STDMETHODIMP put_EdgeTraversal(VARIANT_BOOL v) override {
    return Set([&](FirewallRule& r) {
      r.edgeTraversal = v != VARIANT_FALSE;
      return S_OK;
    });
  }
  STDMETHODIMP get_Action(NET_FW_ACTION* v) override { return HandOutValue(rule_.action, v); }
  STDMETHODIMP put_Action(NET_FW_ACTION v) override {
    if (v != NET_FW_ACTION_BLOCK && v != NET_FW_ACTION_ALLOW) return E_INVALIDARG;
    return Set([&](FirewallRule& r) {
      r.action = v;
      return S_OK;
    });
  }

 private:
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
    HRESULT hr = ChangeState([&](HostState& s) {
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

// Reads a rule through its interface, so that any implementation can be
// added to the policy.
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

class Rules final : public DispatchObject<INetFwRules> {
 public:
  STDMETHODIMP get_Count(LONG* count) override {
    if (!count) return E_POINTER;
    return WithState([&](const HostState& s) { return HandOutValue(s.rules.size(), count); });
  }
  STDMETHODIMP Add(INetFwRule* source) override {
    if (!source) return E_POINTER;
    FirewallRule rule;
    HRESULT hr = ReadRule(source, rule);
    if (FAILED(hr)) return hr;
    if (rule.name.empty() || rule.name.find('|') != std::string::npos) return E_INVALIDARG;
    // A refused Add still counts, so that only the configured one fails;
    // it reports a plain failure, not a denial a caller would take for
    // missing rights.
    bool refused = false, denied = false;
    bool written = UpdateState([&](HostState& s) {
      denied = s.denyChanges;
      if (denied) return false;
      refused = ++s.addsSeen == s.refuseAddNumber;
      if (!refused) s.rules.push_back(rule);
      return true;
    });
    if (denied) return E_ACCESSDENIED;
    if (!written) return E_FAIL;
    return refused ? E_FAIL : S_OK;
  }
  // Every rule of that name goes; a name no rule has changes nothing.
  STDMETHODIMP Remove(BSTR name) override {
    std::string wanted = TextOf(name);
    return ChangeState([&](HostState& s) {
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
    return WithState([&](const HostState& s) {
      for (size_t i = 0; i < s.rules.size(); ++i)
        if (s.rules[i].name == wanted)
          return HandOut(new (std::nothrow) Rule(s.rules[i], i), IID_INetFwRule, reinterpret_cast<void**>(out));
      return kNotFound;
    });
  }
  // A snapshot: rules added while a walk runs are not part of it.
  STDMETHODIMP get__NewEnum(IUnknown** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return WithState([&](const HostState& s) {
      return HandOutEnumerator(
          s.rules,
          [](const FirewallRule& rule, size_t index) -> IDispatch* { return new (std::nothrow) Rule(rule, index); },
          out);
    });
  }
};

// ---------------------------------------------------------------- policy

class Policy2 final : public DispatchObject<INetFwPolicy2> {
 public:
  STDMETHODIMP get_CurrentProfileTypes(LONG* v) override {
    if (!v) return E_POINTER;
    return WithState([&](const HostState& s) { return HandOutValue(s.CurrentProfileTypes(), v); });
  }
  STDMETHODIMP get_FirewallEnabled(NET_FW_PROFILE_TYPE2 type, VARIANT_BOOL* v) override {
    if (!v) return E_POINTER;
    auto profile = ProfileFromBit(type);
    if (!profile) return E_INVALIDARG;
    return WithState([&](const HostState& s) { return HandOutValue(VariantBool(s.IsOn(*profile)), v); });
  }
  STDMETHODIMP put_FirewallEnabled(NET_FW_PROFILE_TYPE2 type, VARIANT_BOOL v) override {
    auto profile = ProfileFromBit(type);
    if (!profile) return E_INVALIDARG;
    return ChangeState([&](HostState& s) {
      s.SwitchLocally(*profile, v != VARIANT_FALSE);
      return S_OK;
    });
  }
  STDMETHODIMP get_Rules(INetFwRules** out) override {
    return HandOut(new (std::nothrow) Rules(), IID_INetFwRules, reinterpret_cast<void**>(out));
  }
  STDMETHODIMP get_LocalPolicyModifyState(NET_FW_MODIFY_STATE* v) override {
    if (!v) return E_POINTER;
    return WithState([&](const HostState& s) {
      bool held = (s.heldByGroupPolicy & s.CurrentProfileTypes()) != 0;
      return HandOutValue(held ? NET_FW_MODIFY_STATE_GP_OVERRIDE : NET_FW_MODIFY_STATE_OK, v);
    });
  }

  // Settings the simulated host does not model.
  STDMETHODIMP get_ExcludedInterfaces(NET_FW_PROFILE_TYPE2, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP put_ExcludedInterfaces(NET_FW_PROFILE_TYPE2, VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP get_BlockAllInboundTraffic(NET_FW_PROFILE_TYPE2, VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP put_BlockAllInboundTraffic(NET_FW_PROFILE_TYPE2, VARIANT_BOOL) override { return E_NOTIMPL; }
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

class OpenPortEntry final : public DispatchObject<INetFwOpenPort> {
 public:
  OpenPortEntry(LegacyProfile profile, long port, long protocol)
      : profile_(profile), port_(port), protocol_(protocol) {}

  STDMETHODIMP get_Name(BSTR* v) override {
    return Read([&](const OpenPort& p) { return HandOutText(p.name, v); });
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
    return Read([&](const OpenPort& p) { return HandOutValue(ScopeOf(p.scope), v); });
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
    return Read([&](const OpenPort& p) {
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
    return Read([&](const OpenPort& p) { return HandOutValue(VariantBool(p.enabled), v); });
  }
  STDMETHODIMP put_Enabled(VARIANT_BOOL v) override {
    return Write([&](OpenPort& p) { p.enabled = v != VARIANT_FALSE; });
  }
  STDMETHODIMP get_BuiltIn(VARIANT_BOOL* v) override { return HandOutValue(VARIANT_FALSE, v); }

 private:
  template <typename F>
  HRESULT Read(F read) {
    return WithState([&](HostState& s) {
      OpenPort* p = s.FindOpenPort(profile_, port_, protocol_);
      return p ? read(*p) : kNotFound;
    });
  }
  template <typename F>
  HRESULT Write(F change) {
    return ChangeState([&](HostState& s) {
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

class OpenPorts final : public DispatchObject<INetFwOpenPorts> {
 public:
  explicit OpenPorts(LegacyProfile profile) : profile_(profile) {}

  STDMETHODIMP get_Count(LONG* count) override {
    if (!count) return E_POINTER;
    return WithState([&](const HostState& s) {
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
    return ChangeState([&](HostState& s) {
      if (OpenPort* existing = s.FindOpenPort(profile_, entry.port, entry.protocol))
        *existing = entry;
      else
        s.openPorts.push_back(entry);
      return S_OK;
    });
  }
  // Closing a port that is not open changes nothing.
  STDMETHODIMP Remove(LONG port, NET_FW_IP_PROTOCOL protocol) override {
    return ChangeState([&](HostState& s) {
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
    return WithState([&](HostState& s) {
      if (!s.FindOpenPort(profile_, port, protocol)) return kNotFound;
      return HandOut(new (std::nothrow) OpenPortEntry(profile_, port, protocol), IID_INetFwOpenPort,
                     reinterpret_cast<void**>(out));
    });
  }
  STDMETHODIMP get__NewEnum(IUnknown** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return WithState([&](const HostState& s) {
      std::vector<std::pair<long, long>> keys;
      for (const auto& p : s.openPorts)
        if (p.profile == profile_) keys.emplace_back(p.port, p.protocol);
      LegacyProfile profile = profile_;
      return HandOutEnumerator(
          std::move(keys),
          [profile](const std::pair<long, long>& key, size_t) -> IDispatch* {
            return new (std::nothrow) OpenPortEntry(profile, key.first, key.second);
          },
          out);
    });
  }

 private:
  LegacyProfile profile_;
};

// ------------------------------------------------------ service exceptions

// One port of a predefined service: built in, switched with its service.
class ServicePortEntry final : public DispatchObject<INetFwOpenPort> {
 public:
  ServicePortEntry(LegacyProfile profile, ServiceType type, long port, long protocol)
      : profile_(profile), type_(type), port_(port), protocol_(protocol) {}

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
    return Read([&](ServiceException& e, ServicePort&) { return HandOutValue(ScopeOf(e.scope), v); });
  }
  STDMETHODIMP put_Scope(NET_FW_SCOPE) override { return E_ACCESSDENIED; }
  STDMETHODIMP get_RemoteAddresses(BSTR* v) override { return HandOutText("*", v); }
  STDMETHODIMP put_RemoteAddresses(BSTR) override { return E_ACCESSDENIED; }
  STDMETHODIMP get_Enabled(VARIANT_BOOL* v) override {
    return Read([&](ServiceException&, ServicePort& p) { return HandOutValue(VariantBool(p.enabled), v); });
  }
  STDMETHODIMP put_Enabled(VARIANT_BOOL v) override {
    return ChangeState([&](HostState& s) {
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
  HRESULT Read(F read) {
    return WithState([&](HostState& s) {
      ServicePort* p = Find(s);
      return p ? read(*s.FindServiceException(profile_, type_), *p) : kNotFound;
    });
  }

  LegacyProfile profile_;
  ServiceType type_;
  long port_;
  long protocol_;
};

// The ports of one service; the platform lets nobody add or remove them.
class ServicePorts final : public DispatchObject<INetFwOpenPorts> {
 public:
  ServicePorts(LegacyProfile profile, ServiceType type) : profile_(profile), type_(type) {}

  STDMETHODIMP get_Count(LONG* count) override {
    if (!count) return E_POINTER;
    return WithService([&](ServiceException& e) { return HandOutValue(e.ports.size(), count); });
  }
  STDMETHODIMP Add(INetFwOpenPort*) override { return E_ACCESSDENIED; }
  STDMETHODIMP Remove(LONG, NET_FW_IP_PROTOCOL) override { return E_ACCESSDENIED; }
  STDMETHODIMP Item(LONG port, NET_FW_IP_PROTOCOL protocol, INetFwOpenPort** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return WithService([&](ServiceException& e) {
      for (const auto& p : e.ports)
        if (p.port == port && p.protocol == protocol)
          return HandOut(new (std::nothrow) ServicePortEntry(profile_, type_, port, protocol), IID_INetFwOpenPort,
                         reinterpret_cast<void**>(out));
      return kNotFound;
    });
  }
  STDMETHODIMP get__NewEnum(IUnknown** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return WithService([&](ServiceException& e) {
      std::vector<std::pair<long, long>> keys;
      for (const auto& p : e.ports) keys.emplace_back(p.port, p.protocol);
      LegacyProfile profile = profile_;
      ServiceType type = type_;
      return HandOutEnumerator(
          std::move(keys),
          [profile, type](const std::pair<long, long>& key, size_t) -> IDispatch* {
            return new (std::nothrow) ServicePortEntry(profile, type, key.first, key.second);
          },
          out);
    });
  }

 private:
  template <typename F>
  HRESULT WithService(F read) {
    return WithState([&](HostState& s) {
      ServiceException* e = s.FindServiceException(profile_, type_);
      return e ? read(*e) : kNotFound;
    });
  }

  LegacyProfile profile_;
  ServiceType type_;
};

class ServiceEntry final : public DispatchObject<INetFwService> {
 public:
  ServiceEntry(LegacyProfile profile, ServiceType type) : profile_(profile), type_(type) {}

  STDMETHODIMP get_Name(BSTR* v) override { return HandOutText(ServiceDisplayName(type_), v); }
  STDMETHODIMP get_Type(NET_FW_SERVICE_TYPE* v) override { return HandOutValue(static_cast<long>(type_), v); }
  // Customized: some ports switched apart from the others.
  STDMETHODIMP get_Customized(VARIANT_BOOL* v) override {
    return Read([&](ServiceException& e) {
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
    return Read([&](ServiceException& e) { return HandOutValue(ScopeOf(e.scope), v); });
  }
  // The scope of every port of the service; custom needs remote addresses.
  STDMETHODIMP put_Scope(NET_FW_SCOPE v) override {
    if (v != NET_FW_SCOPE_ALL && v != NET_FW_SCOPE_LOCAL_SUBNET) return E_INVALIDARG;
    return Write([&](ServiceException& e) { e.scope = ScopeName(v); });
  }
  STDMETHODIMP get_RemoteAddresses(BSTR* v) override { return HandOutText("*", v); }
  STDMETHODIMP put_RemoteAddresses(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP get_Enabled(VARIANT_BOOL* v) override {
    return Read([&](ServiceException& e) { return HandOutValue(VariantBool(e.Enabled()), v); });
  }
  STDMETHODIMP put_Enabled(VARIANT_BOOL v) override {
    return Write([&](ServiceException& e) { e.SetEnabled(v != VARIANT_FALSE); });
  }
  STDMETHODIMP get_GloballyOpenPorts(INetFwOpenPorts** out) override {
    return HandOut(new (std::nothrow) ServicePorts(profile_, type_), IID_INetFwOpenPorts,
                   reinterpret_cast<void**>(out));
  }

 private:
  template <typename F>
  HRESULT Read(F read) {
    return WithState([&](HostState& s) {
      ServiceException* e = s.FindServiceException(profile_, type_);
      return e ? read(*e) : kNotFound;
    });
  }
  template <typename F>
  HRESULT Write(F change) {
    return ChangeState([&](HostState& s) {
      ServiceException* e = s.FindServiceException(profile_, type_);
      if (!e) return kNotFound;
      change(*e);
      return S_OK;
    });
  }

  LegacyProfile profile_;
  ServiceType type_;
};

class Services final : public DispatchObject<INetFwServices> {
 public:
  explicit Services(LegacyProfile profile) : profile_(profile) {}

  STDMETHODIMP get_Count(LONG* count) override {
    if (!count) return E_POINTER;
    return WithState([&](const HostState& s) { return HandOutValue(Types(s).size(), count); });
  }
  STDMETHODIMP Item(NET_FW_SERVICE_TYPE type, INetFwService** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return WithState([&](const HostState& s) {
      for (ServiceType t : Types(s))
        if (static_cast<long>(t) == type)
          return HandOut(new (std::nothrow) ServiceEntry(profile_, t), IID_INetFwService,
                         reinterpret_cast<void**>(out));
      return kNotFound;
    });
  }
  STDMETHODIMP get__NewEnum(IUnknown** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return WithState([&](const HostState& s) {
      LegacyProfile profile = profile_;
      return HandOutEnumerator(
          Types(s),
          [profile](ServiceType type, size_t) -> IDispatch* { return new (std::nothrow) ServiceEntry(profile, type); },
          out);
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

class LegacyProfileObject final : public DispatchObject<INetFwProfile> {
 public:
  explicit LegacyProfileObject(LegacyProfile profile) : profile_(profile) {}

  STDMETHODIMP get_Type(NET_FW_PROFILE_TYPE* v) override {
    return HandOutValue(profile_ == LegacyProfile::Domain ? NET_FW_PROFILE_DOMAIN : NET_FW_PROFILE_STANDARD, v);
  }
  // The switch is that of the advanced profile this one stands for.
  STDMETHODIMP get_FirewallEnabled(VARIANT_BOOL* v) override {
    if (!v) return E_POINTER;
    return WithState(
        [&](const HostState& s) { return HandOutValue(VariantBool(s.IsOn(AdvancedProfileOf(profile_, s))), v); });
  }
  STDMETHODIMP put_FirewallEnabled(VARIANT_BOOL v) override {
    return ChangeState([&](HostState& s) {
      s.SwitchLocally(AdvancedProfileOf(profile_, s), v != VARIANT_FALSE);
      return S_OK;
    });
  }
  STDMETHODIMP get_GloballyOpenPorts(INetFwOpenPorts** out) override {
    return HandOut(new (std::nothrow) OpenPorts(profile_), IID_INetFwOpenPorts, reinterpret_cast<void**>(out));
  }

  STDMETHODIMP get_ExceptionsNotAllowed(VARIANT_BOOL* v) override {
    if (!v) return E_POINTER;
    return WithState(
        [&](const HostState& s) { return HandOutValue(VariantBool(s.ExceptionsNotAllowed(profile_)), v); });
  }
  STDMETHODIMP put_ExceptionsNotAllowed(VARIANT_BOOL v) override {
    return ChangeState([&](HostState& s) {
      s.SetExceptionsNotAllowed(profile_, v != VARIANT_FALSE);
      return S_OK;
    });
  }
  STDMETHODIMP get_Services(INetFwServices** out) override {
    return HandOut(new (std::nothrow) Services(profile_), IID_INetFwServices, reinterpret_cast<void**>(out));
  }

  // Settings the simulated host does not model.
  STDMETHODIMP get_NotificationsDisabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP put_NotificationsDisabled(VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP get_UnicastResponsesToMulticastBroadcastDisabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP put_UnicastResponsesToMulticastBroadcastDisabled(VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP get_RemoteAdminSettings(INetFwRemoteAdminSettings**) override { return E_NOTIMPL; }
  STDMETHODIMP get_IcmpSettings(INetFwIcmpSettings**) override { return E_NOTIMPL; }
  STDMETHODIMP get_AuthorizedApplications(INetFwAuthorizedApplications**) override { return E_NOTIMPL; }

 private:
  LegacyProfile profile_;
};

class LocalPolicy final : public DispatchObject<INetFwPolicy> {
 public:
  STDMETHODIMP get_CurrentProfile(INetFwProfile** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return WithState([&](const HostState& s) {
      return HandOut(new (std::nothrow) LegacyProfileObject(CurrentLegacyProfile(s)), IID_INetFwProfile,
                     reinterpret_cast<void**>(out));
    });
  }
  STDMETHODIMP GetProfileByType(NET_FW_PROFILE_TYPE type, INetFwProfile** out) override {
    if (type != NET_FW_PROFILE_DOMAIN && type != NET_FW_PROFILE_STANDARD) return E_INVALIDARG;
    LegacyProfile profile = type == NET_FW_PROFILE_DOMAIN ? LegacyProfile::Domain : LegacyProfile::Standard;
    return HandOut(new (std::nothrow) LegacyProfileObject(profile), IID_INetFwProfile, reinterpret_cast<void**>(out));
  }
};

class Manager final : public DispatchObject<INetFwMgr> {
 public:
  STDMETHODIMP get_LocalPolicy(INetFwPolicy** out) override {
    return HandOut(new (std::nothrow) LocalPolicy(), IID_INetFwPolicy, reinterpret_cast<void**>(out));
  }
  STDMETHODIMP get_CurrentProfileType(NET_FW_PROFILE_TYPE* v) override {
    if (!v) return E_POINTER;
    return WithState([&](const HostState& s) {
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

}  // namespace

HRESULT CreatePolicy2(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  std::shared_ptr<const HostState> state = ReadSharedState();
  if (!state) return E_FAIL;
  // A fault, not a denial: access denied is kept for a standard user's host.
  if (state->refusePolicy2) return E_FAIL;
  return HandOut(new (std::nothrow) Policy2(), iid, out);
}

HRESULT CreateRule(REFIID iid, void** out) { return HandOut(new (std::nothrow) Rule(), iid, out); }

HRESULT CreateManager(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  std::shared_ptr<const HostState> state = ReadSharedState();
  if (!state) return E_FAIL;
  if (state->refuseLegacyManager) return E_FAIL;
  return HandOut(new (std::nothrow) Manager(), iid, out);
}

long LiveObjectCount() { return g_moduleLocks.load(); }
void AddModuleLock() { ++g_moduleLocks; }
void RemoveModuleLock() { --g_moduleLocks; }

}  // namespace testbed
