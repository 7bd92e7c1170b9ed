// How the simulated firewall objects reach the host they stand for: its
// state (read, and changed under a lock), the faults planned for single
// methods, and the counts a test checks for leaks. One implementation of
// the objects serves two hosts: the state file shared by every process of
// a testbed prefix (the COM server DLL), and a state in memory for tests
// that register the objects in their own process.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string_view>

#include "state/host_state.h"

namespace testbed {

// Every method of the firewall objects that can be counted and planned to
// fail; CallName gives the name a planned fault uses.
enum class Call {
  // The class factories: the result CoCreateInstance reports.
  CreatePolicy2,
  CreateRule,
  CreateMgr,
  // INetFwPolicy2
  Policy2GetFirewallEnabled,
  Policy2PutFirewallEnabled,
  Policy2GetRules,
  Policy2GetCurrentProfileTypes,
  // INetFwRules and its enumerator
  RulesAdd,
  RulesGetNewEnum,
  EnumQueryEnumVariant,  // QueryInterface(IID_IEnumVARIANT) on the rule enumerator
  EnumNext,
  // INetFwRule setters
  RulePutName,
  RulePutGrouping,
  RulePutDescription,
  RulePutDirection,
  RulePutAction,
  RulePutProtocol,
  RulePutLocalPorts,
  RulePutProfiles,
  RulePutEnabled,
  // INetFwRule getters
  RuleGetEnabled,
  RuleGetAction,
  RuleGetDirection,
  RuleGetProtocol,
  RuleGetLocalPorts,
  RuleGetProfiles,
  // Legacy: INetFwMgr, INetFwPolicy, INetFwProfile, INetFwOpenPorts, INetFwOpenPort
  MgrGetLocalPolicy,
  PolicyGetCurrentProfile,
  ProfileGetFirewallEnabled,
  ProfilePutFirewallEnabled,
  ProfileGetGloballyOpenPorts,
  OpenPortsItem,
  OpenPortGetEnabled,
  ProfileGetExceptionsNotAllowed,
  ProfileGetServices,
  // INetFwServices, INetFwService and a service's own ports
  ServicesGetNewEnum,
  ServiceGetEnabled,
  ServiceGetGloballyOpenPorts,
  ServicePortsItem,
  ServicePortGetEnabled,
  Count
};

const char* CallName(Call call);

class HostAccess {
 public:
  virtual ~HostAccess() = default;

  // The state as it is now; null when it cannot be read.
  virtual std::shared_ptr<const HostState> Read() = 0;
  // Changes the state under the host's lock; nothing is kept when change
  // returns false. False when nothing was written.
  virtual bool Update(const std::function<bool(HostState&)>& change) = 0;
  // A method is entered (on the named rule, for a rule's methods): the
  // answer planned for it, hr S_OK where none is.
  virtual PlannedAnswer Enter(Call call, std::string_view rule) = 0;

  // Objects of this host alive, interface references held on them, and
  // strings they handed out.
  long LiveObjects() const { return objects_; }
  long LiveReferences() const { return references_; }
  long StringsHandedOut() const { return strings_; }
  void CountObject(long delta) { objects_ += delta; }
  void CountReference(long delta) { references_ += delta; }
  void CountString() { ++strings_; }

 private:
  std::atomic<long> objects_{0};
  std::atomic<long> references_{0};
  std::atomic<long> strings_{0};
};

using HostPtr = std::shared_ptr<HostAccess>;

// Creation as the class factories of CLSID_NetFwPolicy2, CLSID_NetFwRule and
// CLSID_NetFwMgr do it, including the host's refusal faults.
HRESULT CreatePolicy2(const HostPtr& host, REFIID iid, void** out);
HRESULT CreateRule(const HostPtr& host, REFIID iid, void** out);
HRESULT CreateManager(const HostPtr& host, REFIID iid, void** out);

}  // namespace testbed
