#include "in_process_host_win.h"

#include <utility>

#include "com_object_win.h"

namespace testbed {
namespace {

std::string StateName(Call call) { return CallName(call); }

}  // namespace

FirewallHost::FirewallHost() {
  currentProfile = Profile::Public;
  firewallNeedsService = true;
  SetFirewallService("MpsSvc", "running");
  SetFirewallService("SharedAccess", "running");
}

// The objects read this very state; nothing outlives the host that made it.
std::shared_ptr<const HostState> FirewallHost::Read() {
  return std::shared_ptr<const HostState>(shared_from_this(), static_cast<const HostState*>(this));
}

bool FirewallHost::Update(const std::function<bool(HostState&)>& change) {
  HostState changed = *this;
  if (!change(changed)) return false;
  static_cast<HostState&>(*this) = std::move(changed);
  return true;
}

PlannedAnswer FirewallHost::Enter(Call call, std::string_view rule) {
  ++calls_[static_cast<size_t>(call)];
  callLog_.push_back(call);
  if (faultPlan.empty()) return {};
  return TakePlannedAnswer(faultPlan, CallName(call), rule);
}

bool& FirewallHost::FirewallEnabled(NET_FW_PROFILE_TYPE2 profile) {
  const std::optional<Profile> which = ProfileFromBit(profile);
  return firewallOn[static_cast<size_t>(which.value_or(Profile::Public))];
}

bool& FirewallHost::LegacyFirewallEnabled() {
  return firewallOn[static_cast<size_t>(AdvancedProfileOf(CurrentLegacyProfile(*this), *this))];
}

void FirewallHost::SetFirewallService(const std::string& name, const std::string& state) {
  ServiceSetup* service = FindService(name);
  if (!service) {
    services.push_back(ServiceSetup{});
    service = &services.back();
    service->name = name;
  }
  service->recordedState = state;
}

void FirewallHost::RemoveFirewallService(const std::string& name) {
  for (auto it = services.begin(); it != services.end(); ++it) {
    if (it->name == name) {
      services.erase(it);
      return;
    }
  }
}

void FirewallHost::Plan(Call call, int nth, HRESULT hr, std::optional<long> value, const std::string& rule) {
  PlannedFault fault;
  fault.call = StateName(call);
  fault.nth = nth;
  fault.hr = hr;
  fault.value = value;
  fault.rule = rule;
  fault.seen = rule.empty() ? Calls(call) : 0;  // counted over the host's life
  faultPlan.push_back(std::move(fault));
}

void FirewallHost::FailCall(Call call, int nth, HRESULT hr, const std::string& rule) {
  Plan(call, nth, hr, std::nullopt, rule);
}

void FirewallHost::AnswerCall(Call call, int nth, long value) { Plan(call, nth, S_OK, value, {}); }

void FirewallHost::ClearFailures() { faultPlan.clear(); }

int FirewallHost::Calls(Call call) const { return calls_[static_cast<size_t>(call)]; }

const std::vector<Call>& FirewallHost::CallLog() const { return callLog_; }

InProcessFirewall::InProcessFirewall() : host_(std::make_shared<FirewallHost>()) {
  comInitialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  const struct {
    const CLSID& clsid;
    ClassFactory::Creator create;
  } classes[] = {
      {CLSID_NetFwPolicy2, &CreatePolicy2},
      {CLSID_NetFwRule, &CreateRule},
      {CLSID_NetFwMgr, &CreateManager},
  };
  for (const auto& entry : classes) {
    auto* factory = new ClassFactory(host_, entry.create);
    DWORD cookie = 0;
    if (SUCCEEDED(CoRegisterClassObject(entry.clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie)))
      cookies_.push_back(cookie);
    factory->Release();
  }
}

InProcessFirewall::~InProcessFirewall() {
  for (DWORD cookie : cookies_) CoRevokeClassObject(cookie);
  if (comInitialized_) CoUninitialize();
}

FirewallHost& InProcessFirewall::host() { return *host_; }

bool InProcessFirewall::registered() const { return cookies_.size() == 3; }

FirewallRule BlockRule(const std::string& localPorts) {
  FirewallRule rule;
  rule.name = "block " + localPorts;
  rule.localPorts = localPorts;
  rule.direction = NET_FW_RULE_DIR_IN;
  rule.action = NET_FW_ACTION_BLOCK;
  rule.protocol = NET_FW_IP_PROTOCOL_TCP;
  rule.profiles = NET_FW_PROFILE2_ALL;
  rule.enabled = true;
  return rule;
}

OpenPort Opening(long port, long protocol, bool enabled) {
  return OpenPort{LegacyProfile::Standard, port, protocol, std::to_string(port), enabled, "ALL", ""};
}

ServiceException FileAndPrintSharing(bool enabled) {
  return ServiceException{LegacyProfile::Standard, ServiceType::FileAndPrint, "ALL",
                          DefaultServicePorts(ServiceType::FileAndPrint, enabled)};
}

}  // namespace testbed
