// In-process doubles of the Windows Firewall automation objects.
#include <initguid.h>  // defines the CLSIDs and IIDs of netfw.h in this unit

#include "firewall/doubles/firewall_doubles.h"

#include <fcntl.h>
#include <io.h>
#include <oleauto.h>
#include <stdio.h>

#include <algorithm>
#include <utility>

namespace qf::fwdouble {

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

using HostPtr = std::shared_ptr<FirewallHost>;

// IUnknown and IDispatch of every double; the host counts its references.
template <class Interface>
class DispatchDouble : public Interface {
 public:
  explicit DispatchDouble(HostPtr host) : host_(std::move(host)) {
    host_->AddObject(1);
    host_->AddReference(1);
  }
  virtual ~DispatchDouble() { host_->AddObject(-1); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(Interface)) {
      *out = static_cast<Interface*>(this);
      this->AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    host_->AddReference(1);
    return static_cast<ULONG>(++refs_);
  }
  ULONG STDMETHODCALLTYPE Release() override {
    host_->AddReference(-1);
    const long left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

 protected:
  FirewallHost& host() { return *host_; }
  const HostPtr& hostPtr() { return host_; }

 private:
  HostPtr host_;
  long refs_ = 1;
};

// Applies an injected result around a piece of work: a failure skips the
// work, a success code replaces S_OK after it.
template <class Work>
HRESULT Step(FirewallHost& host, Call call, Work work) {
  const HRESULT injected = host.Enter(call);
  if (FAILED(injected)) return injected;
  const HRESULT done = work();
  return FAILED(done) ? done : injected;
}

std::wstring FromBstr(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

class RuleDouble : public DispatchDouble<INetFwRule> {
 public:
  RuleDouble(HostPtr host, RuleRecord record) : DispatchDouble(std::move(host)), record_(std::move(record)) {}
  const RuleRecord& record() const { return record_; }

  HRESULT STDMETHODCALLTYPE get_Name(BSTR* out) override { return HandOut(record_.name, out); }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR v) override { return PutText(Call::RulePutName, record_.name, v); }
  HRESULT STDMETHODCALLTYPE get_Description(BSTR* out) override { return HandOut(record_.description, out); }
  HRESULT STDMETHODCALLTYPE put_Description(BSTR v) override {
    return PutText(Call::RulePutDescription, record_.description, v);
  }
  HRESULT STDMETHODCALLTYPE get_ApplicationName(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ApplicationName(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ServiceName(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ServiceName(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Protocol(LONG* out) override {
    return GetValue(Call::RuleGetProtocol, out, static_cast<LONG>(record_.protocol));
  }
  HRESULT STDMETHODCALLTYPE put_Protocol(LONG v) override {
    return PutValue(Call::RulePutProtocol, record_.protocol, static_cast<long>(v));
  }
  HRESULT STDMETHODCALLTYPE get_LocalPorts(BSTR* out) override {
    if (!out) return E_POINTER;
    return RuleStep(Call::RuleGetLocalPorts, [&] {
      *out = nullptr;
      if (!record_.localPorts) return S_OK;
      return HandOut(*record_.localPorts, out);
    });
  }
  HRESULT STDMETHODCALLTYPE put_LocalPorts(BSTR v) override {
    return Step(host(), Call::RulePutLocalPorts, [&] {
      record_.localPorts = FromBstr(v);
      record_.written.insert(Call::RulePutLocalPorts);
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE get_RemotePorts(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_RemotePorts(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_LocalAddresses(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_LocalAddresses(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_RemoteAddresses(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_RemoteAddresses(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_IcmpTypesAndCodes(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_IcmpTypesAndCodes(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Direction(NET_FW_RULE_DIRECTION* out) override {
    return GetValue(Call::RuleGetDirection, out, static_cast<NET_FW_RULE_DIRECTION>(record_.direction));
  }
  HRESULT STDMETHODCALLTYPE put_Direction(NET_FW_RULE_DIRECTION v) override {
    return PutValue(Call::RulePutDirection, record_.direction, static_cast<long>(v));
  }
  HRESULT STDMETHODCALLTYPE get_Interfaces(VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Interfaces(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_InterfaceTypes(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_InterfaceTypes(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* out) override {
    return GetValue(Call::RuleGetEnabled, out, record_.enabled);
  }
  HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL v) override {
    return PutValue(Call::RulePutEnabled, record_.enabled, v);
  }
  HRESULT STDMETHODCALLTYPE get_Grouping(BSTR* out) override { return HandOut(record_.grouping, out); }
  HRESULT STDMETHODCALLTYPE put_Grouping(BSTR v) override {
    return PutText(Call::RulePutGrouping, record_.grouping, v);
  }
  HRESULT STDMETHODCALLTYPE get_Profiles(LONG* out) override {
    return GetValue(Call::RuleGetProfiles, out, static_cast<LONG>(record_.profiles));
  }
  HRESULT STDMETHODCALLTYPE put_Profiles(LONG v) override {
    return PutValue(Call::RulePutProfiles, record_.profiles, static_cast<long>(v));
  }
  HRESULT STDMETHODCALLTYPE get_EdgeTraversal(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_EdgeTraversal(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Action(NET_FW_ACTION* out) override {
    return GetValue(Call::RuleGetAction, out, static_cast<NET_FW_ACTION>(record_.action));
  }
  HRESULT STDMETHODCALLTYPE put_Action(NET_FW_ACTION v) override {
    return PutValue(Call::RulePutAction, record_.action, static_cast<long>(v));
  }

 private:
  HRESULT HandOut(const std::wstring& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!*out) return E_OUTOFMEMORY;
    host().CountHandedOutString();
    return S_OK;
  }
  HRESULT PutText(Call call, std::wstring& field, BSTR v) {
    return Step(host(), call, [&] {
      field = FromBstr(v);
      record_.written.insert(call);
      return S_OK;
    });
  }
  template <class T, class V>
  HRESULT PutValue(Call call, T& field, V v) {
    return Step(host(), call, [&] {
      field = static_cast<T>(v);
      record_.written.insert(call);
      return S_OK;
    });
  }
  template <class T>
  HRESULT GetValue(Call call, T* out, T value) {
    if (!out) return E_POINTER;
    return RuleStep(call, [&] {
      *out = value;
      return S_OK;
    });
  }
  // The host's injected result first, then this rule's own.
  template <class Work>
  HRESULT RuleStep(Call call, Work work) {
    const auto own = record_.getterResults.find(call);
    if (own != record_.getterResults.end() && FAILED(own->second)) {
      host().Enter(call);
      return own->second;
    }
    const HRESULT hr = Step(host(), call, work);
    return own != record_.getterResults.end() && hr == S_OK ? own->second : hr;
  }

  RuleRecord record_;
};

// An item of the enumeration that is an object but no rule.
class PlainObjectDouble : public DispatchDouble<IDispatch> {
 public:
  using DispatchDouble::DispatchDouble;
};

class EnumDouble : public IEnumVARIANT {
 public:
  EnumDouble(HostPtr host, std::vector<RuleRecord> items) : host_(std::move(host)), items_(std::move(items)) {
    host_->AddObject(1);
    host_->AddReference(1);
  }
  virtual ~EnumDouble() { host_->AddObject(-1); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown) {
      *out = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    if (riid == IID_IEnumVARIANT) {
      return Step(*host_, Call::EnumQueryEnumVariant, [&] {
        *out = static_cast<IEnumVARIANT*>(this);
        AddRef();
        return S_OK;
      });
    }
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    host_->AddReference(1);
    return static_cast<ULONG>(++refs_);
  }
  ULONG STDMETHODCALLTYPE Release() override {
    host_->AddReference(-1);
    const long left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override {
    if (!items && count) return E_POINTER;
    ULONG done = 0;
    const HRESULT hr = Step(*host_, Call::EnumNext, [&] {
      while (done < count && position_ < items_.size()) {
        FillItem(items_[position_++], items[done]);
        ++done;
      }
      return done == count ? S_OK : S_FALSE;
    });
    if (fetched) *fetched = done;
    return hr == S_OK && done < count ? S_FALSE : hr;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    position_ = std::min<size_t>(items_.size(), position_ + static_cast<size_t>(count));
    return position_ < items_.size() ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT**) override { return E_NOTIMPL; }

 private:
  void FillItem(const RuleRecord& record, VARIANT& item) {
    VariantInit(&item);
    switch (record.kind) {
      case ItemKind::Rule:
        item.vt = VT_DISPATCH;
        item.pdispVal = new RuleDouble(host_, record);
        break;
      case ItemKind::NonRuleObject:
        item.vt = VT_DISPATCH;
        item.pdispVal = new PlainObjectDouble(host_);
        break;
      case ItemKind::NonObject:
        item.vt = VT_I4;
        item.lVal = 42;
        break;
    }
  }

  HostPtr host_;
  std::vector<RuleRecord> items_;
  size_t position_ = 0;
  long refs_ = 1;
};

class RulesDouble : public DispatchDouble<INetFwRules> {
 public:
  using DispatchDouble::DispatchDouble;
  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<LONG>(host().rules.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Add(INetFwRule* rule) override {
    auto* ours = dynamic_cast<RuleDouble*>(rule);
    return Step(host(), Call::RulesAdd, [&] {
      if (!ours) return E_INVALIDARG;
      host().rules.push_back(ours->record());
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE Remove(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Item(BSTR, INetFwRule**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Step(host(), Call::RulesGetNewEnum, [&] {
      *out = static_cast<IUnknown*>(new EnumDouble(hostPtr(), host().rules));
      return S_OK;
    });
  }
};

class Policy2Double : public DispatchDouble<INetFwPolicy2> {
 public:
  using DispatchDouble::DispatchDouble;
  HRESULT STDMETHODCALLTYPE get_CurrentProfileTypes(LONG* out) override {
    if (!out) return E_POINTER;
    return Step(host(), Call::Policy2GetCurrentProfileTypes, [&] {
      *out = static_cast<LONG>(host().currentProfiles);
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE get_FirewallEnabled(NET_FW_PROFILE_TYPE2 profile, VARIANT_BOOL* out) override {
    if (!out) return E_POINTER;
    return Step(host(), Call::Policy2GetFirewallEnabled, [&] {
      if (!IsSingleProfile(profile)) return E_INVALIDARG;
      *out = host().FirewallEnabled(profile);
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE put_FirewallEnabled(NET_FW_PROFILE_TYPE2 profile, VARIANT_BOOL value) override {
    return Step(host(), Call::Policy2PutFirewallEnabled, [&] {
      if (!IsSingleProfile(profile)) return E_INVALIDARG;
      host().FirewallEnabled(profile) = value;
      host().profileWrites.emplace_back(profile, value);
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE get_ExcludedInterfaces(NET_FW_PROFILE_TYPE2, VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ExcludedInterfaces(NET_FW_PROFILE_TYPE2, VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_BlockAllInboundTraffic(NET_FW_PROFILE_TYPE2, VARIANT_BOOL*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE put_BlockAllInboundTraffic(NET_FW_PROFILE_TYPE2, VARIANT_BOOL) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_NotificationsDisabled(NET_FW_PROFILE_TYPE2, VARIANT_BOOL*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE put_NotificationsDisabled(NET_FW_PROFILE_TYPE2, VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_UnicastResponsesToMulticastBroadcastDisabled(NET_FW_PROFILE_TYPE2,
                                                                             VARIANT_BOOL*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE put_UnicastResponsesToMulticastBroadcastDisabled(NET_FW_PROFILE_TYPE2,
                                                                             VARIANT_BOOL) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_Rules(INetFwRules** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Step(host(), Call::Policy2GetRules, [&] {
      *out = new RulesDouble(hostPtr());
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE get_ServiceRestriction(INetFwServiceRestriction**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnableRuleGroup(LONG, BSTR, VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsRuleGroupEnabled(LONG, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RestoreLocalFirewallDefaults() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_DefaultInboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE put_DefaultInboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_DefaultOutboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE put_DefaultOutboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_IsRuleGroupCurrentlyEnabled(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_LocalPolicyModifyState(NET_FW_MODIFY_STATE*) override { return E_NOTIMPL; }

 private:
  static bool IsSingleProfile(NET_FW_PROFILE_TYPE2 profile) {
    return profile == NET_FW_PROFILE2_DOMAIN || profile == NET_FW_PROFILE2_PRIVATE || profile == NET_FW_PROFILE2_PUBLIC;
  }
};

class OpenPortDouble : public DispatchDouble<INetFwOpenPort> {
 public:
  OpenPortDouble(HostPtr host, OpenPortRecord record, Call enabledCall)
      : DispatchDouble(std::move(host)), record_(record), enabledCall_(enabledCall) {}
  HRESULT STDMETHODCALLTYPE get_Name(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_IpVersion(NET_FW_IP_VERSION*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_IpVersion(NET_FW_IP_VERSION) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Protocol(NET_FW_IP_PROTOCOL* out) override {
    if (!out) return E_POINTER;
    *out = record_.protocol;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Protocol(NET_FW_IP_PROTOCOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Port(LONG* out) override {
    if (!out) return E_POINTER;
    *out = static_cast<LONG>(record_.port);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Port(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Scope(NET_FW_SCOPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Scope(NET_FW_SCOPE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_RemoteAddresses(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_RemoteAddresses(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* out) override {
    if (!out) return E_POINTER;
    return Step(host(), enabledCall_, [&] {
      *out = record_.enabled;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_BuiltIn(VARIANT_BOOL*) override { return E_NOTIMPL; }

 private:
  OpenPortRecord record_;
  Call enabledCall_;
};

// The profile's globally open ports (read live), or a service's own.
class OpenPortsDouble : public DispatchDouble<INetFwOpenPorts> {
 public:
  explicit OpenPortsDouble(HostPtr host) : DispatchDouble(std::move(host)) {}
  OpenPortsDouble(HostPtr host, std::vector<OpenPortRecord> servicePorts)
      : DispatchDouble(std::move(host)),
        servicePorts_(std::move(servicePorts)),
        itemCall_(Call::ServicePortsItem),
        enabledCall_(Call::ServicePortGetEnabled) {}
  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<LONG>(Ports().size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Add(INetFwOpenPort*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Remove(LONG, NET_FW_IP_PROTOCOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Item(LONG port, NET_FW_IP_PROTOCOL protocol, INetFwOpenPort** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Step(host(), itemCall_, [&] {
      for (const OpenPortRecord& record : Ports()) {
        if (record.port == port && record.protocol == protocol) {
          *out = new OpenPortDouble(hostPtr(), record, enabledCall_);
          return S_OK;
        }
      }
      return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    });
  }
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown**) override { return E_NOTIMPL; }

 private:
  const std::vector<OpenPortRecord>& Ports() { return servicePorts_ ? *servicePorts_ : host().openPorts; }
  std::optional<std::vector<OpenPortRecord>> servicePorts_;
  Call itemCall_ = Call::OpenPortsItem;
  Call enabledCall_ = Call::OpenPortGetEnabled;
};

class ServiceDouble : public DispatchDouble<INetFwService> {
 public:
  ServiceDouble(HostPtr host, ServiceRecord record) : DispatchDouble(std::move(host)), record_(std::move(record)) {}
  HRESULT STDMETHODCALLTYPE get_Name(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Type(NET_FW_SERVICE_TYPE* out) override {
    if (!out) return E_POINTER;
    *out = record_.type;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Customized(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_IpVersion(NET_FW_IP_VERSION*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_IpVersion(NET_FW_IP_VERSION) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Scope(NET_FW_SCOPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Scope(NET_FW_SCOPE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_RemoteAddresses(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_RemoteAddresses(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* out) override {
    if (!out) return E_POINTER;
    return Step(host(), Call::ServiceGetEnabled, [&] {
      *out = record_.enabled;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_GloballyOpenPorts(INetFwOpenPorts** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Step(host(), Call::ServiceGetGloballyOpenPorts, [&] {
      *out = new OpenPortsDouble(hostPtr(), record_.ports);
      return S_OK;
    });
  }

 private:
  ServiceRecord record_;
};

// Enumerates copies of the host's services.
class ServiceEnumDouble : public IEnumVARIANT {
 public:
  explicit ServiceEnumDouble(HostPtr host) : host_(std::move(host)), items_(host_->services) {
    host_->AddObject(1);
    host_->AddReference(1);
  }
  virtual ~ServiceEnumDouble() { host_->AddObject(-1); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid != IID_IUnknown && riid != IID_IEnumVARIANT) return E_NOINTERFACE;
    *out = static_cast<IEnumVARIANT*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    host_->AddReference(1);
    return static_cast<ULONG>(++refs_);
  }
  ULONG STDMETHODCALLTYPE Release() override {
    host_->AddReference(-1);
    const long left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override {
    if (!items && count) return E_POINTER;
    ULONG done = 0;
    while (done < count && position_ < items_.size()) {
      VariantInit(&items[done]);
      items[done].vt = VT_DISPATCH;
      items[done].pdispVal = new ServiceDouble(host_, items_[position_++]);
      ++done;
    }
    if (fetched) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT**) override { return E_NOTIMPL; }

 private:
  HostPtr host_;
  std::vector<ServiceRecord> items_;
  size_t position_ = 0;
  long refs_ = 1;
};

class ServicesDouble : public DispatchDouble<INetFwServices> {
 public:
  using DispatchDouble::DispatchDouble;
  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<LONG>(host().services.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Item(NET_FW_SERVICE_TYPE, INetFwService**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Step(host(), Call::ServicesGetNewEnum, [&] {
      *out = static_cast<IUnknown*>(new ServiceEnumDouble(hostPtr()));
      return S_OK;
    });
  }
};

class ProfileDouble : public DispatchDouble<INetFwProfile> {
 public:
  using DispatchDouble::DispatchDouble;
  HRESULT STDMETHODCALLTYPE get_Type(NET_FW_PROFILE_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_FirewallEnabled(VARIANT_BOOL* out) override {
    if (!out) return E_POINTER;
    return Step(host(), Call::ProfileGetFirewallEnabled, [&] {
      *out = host().legacyFirewallEnabled;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE put_FirewallEnabled(VARIANT_BOOL value) override {
    return Step(host(), Call::ProfilePutFirewallEnabled, [&] {
      host().legacyFirewallEnabled = value;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE get_ExceptionsNotAllowed(VARIANT_BOOL* out) override {
    if (!out) return E_POINTER;
    return Step(host(), Call::ProfileGetExceptionsNotAllowed, [&] {
      *out = host().exceptionsNotAllowed;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE put_ExceptionsNotAllowed(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_NotificationsDisabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_NotificationsDisabled(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_UnicastResponsesToMulticastBroadcastDisabled(VARIANT_BOOL*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE put_UnicastResponsesToMulticastBroadcastDisabled(VARIANT_BOOL) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_RemoteAdminSettings(INetFwRemoteAdminSettings**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_IcmpSettings(INetFwIcmpSettings**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_GloballyOpenPorts(INetFwOpenPorts** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Step(host(), Call::ProfileGetGloballyOpenPorts, [&] {
      *out = new OpenPortsDouble(hostPtr());
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE get_Services(INetFwServices** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Step(host(), Call::ProfileGetServices, [&] {
      *out = new ServicesDouble(hostPtr());
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE get_AuthorizedApplications(INetFwAuthorizedApplications**) override { return E_NOTIMPL; }
};

class PolicyDouble : public DispatchDouble<INetFwPolicy> {
 public:
  using DispatchDouble::DispatchDouble;
  HRESULT STDMETHODCALLTYPE get_CurrentProfile(INetFwProfile** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Step(host(), Call::PolicyGetCurrentProfile, [&] {
      *out = new ProfileDouble(hostPtr());
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE GetProfileByType(NET_FW_PROFILE_TYPE, INetFwProfile**) override { return E_NOTIMPL; }
};

class MgrDouble : public DispatchDouble<INetFwMgr> {
 public:
  using DispatchDouble::DispatchDouble;
  HRESULT STDMETHODCALLTYPE get_LocalPolicy(INetFwPolicy** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Step(host(), Call::MgrGetLocalPolicy, [&] {
      *out = new PolicyDouble(hostPtr());
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE get_CurrentProfileType(NET_FW_PROFILE_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RestoreDefaults() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsPortAllowed(BSTR, NET_FW_IP_VERSION, LONG, BSTR, NET_FW_IP_PROTOCOL, VARIANT*,
                                          VARIANT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE IsIcmpTypeAllowed(NET_FW_IP_VERSION, BSTR, BYTE, VARIANT*, VARIANT*) override {
    return E_NOTIMPL;
  }
};

// Class object; its own references are the COM registration's business and
// stay out of the host's count.
class ClassFactoryDouble : public IClassFactory {
 public:
  using Maker = IUnknown* (*)(const HostPtr&);
  ClassFactoryDouble(HostPtr host, Call call, Maker maker) : host_(std::move(host)), call_(call), maker_(maker) {}
  virtual ~ClassFactoryDouble() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return Step(*host_, call_, [&] {
      IUnknown* made = maker_(host_);
      const HRESULT hr = made->QueryInterface(riid, out);
      made->Release();
      return hr;
    });
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  HostPtr host_;
  Call call_;
  Maker maker_;
  LONG refs_ = 1;
};

IUnknown* MakePolicy2(const HostPtr& host) { return static_cast<INetFwPolicy2*>(new Policy2Double(host)); }
IUnknown* MakeRule(const HostPtr& host) { return static_cast<INetFwRule*>(new RuleDouble(host, RuleRecord{})); }
IUnknown* MakeMgr(const HostPtr& host) { return static_cast<INetFwMgr*>(new MgrDouble(host)); }

size_t ProfileIndex(NET_FW_PROFILE_TYPE2 profile) {
  switch (profile) {
    case NET_FW_PROFILE2_DOMAIN:
      return 0;
    case NET_FW_PROFILE2_PRIVATE:
      return 1;
    default:
      return 2;
  }
}

}  // namespace

const char* CallName(Call call) {
  const auto index = static_cast<size_t>(call);
  return index < static_cast<size_t>(Call::Count) ? kCallNames[index] : "?";
}

RuleRecord BlockRule(const std::wstring& localPorts) {
  RuleRecord rule;
  rule.name = L"block " + localPorts;
  rule.localPorts = localPorts;
  rule.direction = NET_FW_RULE_DIR_IN;
  rule.action = NET_FW_ACTION_BLOCK;
  rule.protocol = NET_FW_IP_PROTOCOL_TCP;
  rule.profiles = NET_FW_PROFILE2_ALL;
  rule.enabled = VARIANT_TRUE;
  return rule;
}

ServiceRecord FileAndPrintService(VARIANT_BOOL enabled) {
  ServiceRecord service;
  service.type = NET_FW_SERVICE_FILE_AND_PRINT;
  service.enabled = enabled;
  service.ports = {{139, NET_FW_IP_PROTOCOL_TCP, enabled},
                   {445, NET_FW_IP_PROTOCOL_TCP, enabled},
                   {137, NET_FW_IP_PROTOCOL_UDP, enabled},
                   {138, NET_FW_IP_PROTOCOL_UDP, enabled}};
  return service;
}

VARIANT_BOOL& FirewallHost::FirewallEnabled(NET_FW_PROFILE_TYPE2 profile) {
  return profileEnabled_[ProfileIndex(profile)];
}

void FirewallHost::FailCall(Call call, int nth, HRESULT hr) { failures_.push_back({call, nth, hr}); }

void FirewallHost::ClearFailures() { failures_.clear(); }

int FirewallHost::Calls(Call call) const { return calls_[static_cast<size_t>(call)]; }

const std::vector<Call>& FirewallHost::CallLog() const { return callLog_; }

long FirewallHost::LiveReferences() const { return liveReferences_; }

long FirewallHost::LiveObjects() const { return liveObjects_; }

long FirewallHost::StringsHandedOut() const { return stringsHandedOut_; }

HRESULT FirewallHost::Enter(Call call) {
  const int count = ++calls_[static_cast<size_t>(call)];
  callLog_.push_back(call);
  for (const Failure& failure : failures_) {
    if (failure.call == call && (failure.nth == 0 || failure.nth == count)) return failure.hr;
  }
  return S_OK;
}

void FirewallHost::AddReference(long delta) { liveReferences_ += delta; }

void FirewallHost::AddObject(long delta) { liveObjects_ += delta; }

void FirewallHost::CountHandedOutString() { ++stringsHandedOut_; }

FirewallDoubles::FirewallDoubles() : host_(std::make_shared<FirewallHost>()) {
  comInitialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  const struct {
    const CLSID& clsid;
    Call call;
    ClassFactoryDouble::Maker maker;
  } classes[] = {
      {CLSID_NetFwPolicy2, Call::CreatePolicy2, &MakePolicy2},
      {CLSID_NetFwRule, Call::CreateRule, &MakeRule},
      {CLSID_NetFwMgr, Call::CreateMgr, &MakeMgr},
  };
  for (const auto& entry : classes) {
    auto* factory = new ClassFactoryDouble(host_, entry.call, entry.maker);
    DWORD cookie = 0;
    if (SUCCEEDED(CoRegisterClassObject(entry.clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie))) {
      cookies_.push_back(cookie);
    }
    factory->Release();
  }
}

FirewallDoubles::~FirewallDoubles() {
  for (DWORD cookie : cookies_) CoRevokeClassObject(cookie);
  if (comInitialized_) CoUninitialize();
}

FirewallHost& FirewallDoubles::host() { return *host_; }

bool FirewallDoubles::registered() const { return cookies_.size() == 3; }

class AllocationSpy::Spy : public IMallocSpy {
 public:
  virtual ~Spy() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMallocSpy) {
      *out = static_cast<IMallocSpy*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
  void* STDMETHODCALLTYPE PostAlloc(void* block) override {
    if (block) Track(block);
    return block;
  }
  void* STDMETHODCALLTYPE PreFree(void* block, BOOL) override {
    if (block) Forget(block);
    return block;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** actual, BOOL) override {
    *actual = block;
    reallocating_ = block && live_.count(block) != 0;
    if (reallocating_) live_.erase(block);
    return size;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override {
    if (block && reallocating_) live_.insert(block);
    reallocating_ = false;
    return block;
  }
  void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}

  long live() const { return static_cast<long>(live_.size()); }
  long allocations() const { return allocations_; }
  long doubleFrees() const { return doubleFrees_; }

 private:
  void Track(void* block) {
    ++allocations_;
    live_.insert(block);
    freed_.erase(block);
  }
  void Forget(void* block) {
    if (live_.erase(block)) {
      freed_.insert(block);
    } else if (freed_.count(block)) {
      ++doubleFrees_;
    }
  }

  LONG refs_ = 1;
  std::set<void*> live_;
  std::set<void*> freed_;
  long allocations_ = 0;
  long doubleFrees_ = 0;
  bool reallocating_ = false;
};

AllocationSpy::AllocationSpy() : spy_(new Spy) { registered_ = SUCCEEDED(CoRegisterMallocSpy(spy_)); }

AllocationSpy::~AllocationSpy() {
  if (registered_) CoRevokeMallocSpy();
  spy_->Release();
}

bool AllocationSpy::active() const { return registered_; }
long AllocationSpy::Live() const { return spy_->live(); }
long AllocationSpy::Allocations() const { return spy_->allocations(); }
long AllocationSpy::DoubleFrees() const { return spy_->doubleFrees(); }

StdoutCapture::StdoutCapture() {
  fflush(stdout);
  wchar_t directory[MAX_PATH];
  wchar_t file[MAX_PATH];
  if (!GetTempPathW(MAX_PATH, directory) || !GetTempFileNameW(directory, L"qfo", 0, file)) return;
  path_ = file;
  const int fd = _wopen(file, _O_WRONLY | _O_TRUNC | _O_TEXT);
  if (fd < 0) return;
  savedFd_ = _dup(1);
  _dup2(fd, 1);
  _close(fd);
}

StdoutCapture::~StdoutCapture() { Take(); }

std::string StdoutCapture::Take() {
  if (taken_) return {};
  taken_ = true;
  fflush(stdout);
  if (savedFd_ >= 0) {
    _dup2(savedFd_, 1);
    _close(savedFd_);
    savedFd_ = -1;
  }
  std::string text;
  if (path_.empty()) return text;
  if (FILE* file = _wfopen(path_.c_str(), L"rb")) {
    char buffer[4096];
    size_t read = 0;
    while ((read = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, read);
    fclose(file);
  }
  _wremove(path_.c_str());
  std::string cleaned;
  cleaned.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    cleaned.push_back(text[i]);
  }
  return cleaned;
}

}  // namespace qf::fwdouble
