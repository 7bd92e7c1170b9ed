// In-process doubles of the Windows Firewall automation objects, for tests.
//
// Include as:  #include "firewall/doubles/firewall_doubles.h"
// Link:        qf_firewall_doubles (Windows builds only; pulls ole32, oleaut32, uuid)
//
// A FirewallDoubles object registers class objects for CLSID_NetFwPolicy2,
// CLSID_NetFwRule and CLSID_NetFwMgr with CoRegisterClassObject, so product code
// reaches the doubles through its own CoCreateInstance. Everything the doubles
// do lands in one shared FirewallHost that the test reads and arranges.
//
//   qf::fwdouble::FirewallDoubles doubles;          // COM initialised (STA) + registered
//   doubles.host().rules.push_back(qf::fwdouble::BlockRule(L"445"));
//   doubles.host().FailCall(qf::fwdouble::Call::RulesAdd, 1, E_ACCESSDENIED);
//   ... run product code ...
//   EXPECT_EQ(doubles.host().LiveReferences(), 0);
//
// Injected results: a failure code makes the method return it without doing
// anything; a success code (S_FALSE, ...) makes it do its work and then return
// that code instead of S_OK.
#pragma once

#include <windows.h>
#include <netfw.h>
#include <objidl.h>

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qf::fwdouble {

// Every platform step the doubles can observe and fail.
enum class Call {
  // IClassFactory::CreateInstance: the result CoCreateInstance reports.
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
  EnumQueryEnumVariant,  // QueryInterface(IID_IEnumVARIANT) on the enumerator object
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
  // INetFwServices, INetFwService and the service's own open ports
  ServicesGetNewEnum,
  ServiceGetEnabled,
  ServiceGetGloballyOpenPorts,
  ServicePortsItem,
  ServicePortGetEnabled,
  Count
};

const char* CallName(Call call);

// What an item of the rule enumeration is.
enum class ItemKind {
  Rule,           // a VT_DISPATCH rule object
  NonRuleObject,  // a VT_DISPATCH object that has no INetFwRule
  NonObject,      // a VT_I4 value that cannot become VT_DISPATCH
};

// One rule of the host's policy, with every property the product touches.
// Defaults are those of a new, empty rule object.
struct RuleRecord {
  ItemKind kind = ItemKind::Rule;
  std::wstring name;
  std::wstring grouping;
  std::wstring description;
  std::optional<std::wstring> localPorts;  // nullopt: get_LocalPorts hands out a null BSTR
  long direction = NET_FW_RULE_DIR_IN;
  long action = NET_FW_ACTION_ALLOW;
  long protocol = 256;  // any protocol
  long profiles = NET_FW_PROFILE2_ALL;
  VARIANT_BOOL enabled = VARIANT_FALSE;
  // Which properties were written through the setters (by setter Call).
  std::set<Call> written;
  // Results of this rule's getters (by getter Call), on every read: a
  // failure is returned without a value, a success code after it.
  std::map<Call, HRESULT> getterResults;
};

// An enabled inbound TCP block rule for all profiles with the given local ports.
RuleRecord BlockRule(const std::wstring& localPorts);

// One globally open port of the legacy profile.
struct OpenPortRecord {
  long port = 0;
  NET_FW_IP_PROTOCOL protocol = NET_FW_IP_PROTOCOL_TCP;
  VARIANT_BOOL enabled = VARIANT_TRUE;
};

// A service exception of the legacy profile with its own open ports.
struct ServiceRecord {
  NET_FW_SERVICE_TYPE type = NET_FW_SERVICE_FILE_AND_PRINT;
  VARIANT_BOOL enabled = VARIANT_TRUE;
  std::vector<OpenPortRecord> ports;
};

// File and Printer Sharing: TCP 139 and 445, UDP 137 and 138, each entry
// enabled as the service is.
ServiceRecord FileAndPrintService(VARIANT_BOOL enabled);

// The shared host state behind every double, and the failure plan.
class FirewallHost {
 public:
  // Advanced policy: per-profile switches (domain 1, private 2, public 4).
  VARIANT_BOOL& FirewallEnabled(NET_FW_PROFILE_TYPE2 profile);
  // Every put_FirewallEnabled that took effect, in order (profile, value).
  std::vector<std::pair<NET_FW_PROFILE_TYPE2, VARIANT_BOOL>> profileWrites;
  // The rule collection in insertion order; Add appends a copy of the rule.
  std::vector<RuleRecord> rules;
  // What get_CurrentProfileTypes reports.
  long currentProfiles = NET_FW_PROFILE2_PUBLIC;

  // Legacy profile: the firewall switch and the globally open ports.
  VARIANT_BOOL legacyFirewallEnabled = VARIANT_FALSE;
  std::vector<OpenPortRecord> openPorts;
  VARIANT_BOOL exceptionsNotAllowed = VARIANT_FALSE;
  std::vector<ServiceRecord> services;

  // Fail the nth call (1-based; 0 = every call) of a method with hr.
  void FailCall(Call call, int nth, HRESULT hr);
  void ClearFailures();
  // How often a method was called; every call in order.
  int Calls(Call call) const;
  const std::vector<Call>& CallLog() const;

  // Interface references currently held on double objects (class objects
  // excluded), and double objects alive.
  long LiveReferences() const;
  long LiveObjects() const;
  // BSTRs the doubles allocated for callers (get_LocalPorts) so far.
  long StringsHandedOut() const;

  // Used by the doubles themselves.
  HRESULT Enter(Call call);  // logs the call, returns the injected or S_OK result
  void AddReference(long delta);
  void AddObject(long delta);
  void CountHandedOutString();

 private:
  struct Failure {
    Call call;
    int nth;
    HRESULT hr;
  };
  std::array<VARIANT_BOOL, 3> profileEnabled_{VARIANT_FALSE, VARIANT_FALSE, VARIANT_FALSE};
  std::vector<Failure> failures_;
  std::array<int, static_cast<size_t>(Call::Count)> calls_{};
  std::vector<Call> callLog_;
  long liveReferences_ = 0;
  long liveObjects_ = 0;
  long stringsHandedOut_ = 0;
};

// Registers the class objects on construction (after CoInitializeEx for a
// single-threaded apartment) and revokes them on destruction (then
// CoUninitialize). One at a time per thread.
class FirewallDoubles {
 public:
  FirewallDoubles();
  ~FirewallDoubles();
  FirewallDoubles(const FirewallDoubles&) = delete;
  FirewallDoubles& operator=(const FirewallDoubles&) = delete;

  FirewallHost& host();
  bool registered() const;  // all three class objects registered

 private:
  std::shared_ptr<FirewallHost> host_;
  std::vector<DWORD> cookies_;
  bool comInitialized_ = false;
};

// Counts task-memory allocations (BSTRs among them; run with OANOCACHE=1 so
// freed strings really go back) made between Start and Stop through an
// IMallocSpy. Live() is the number of spied blocks not yet freed.
class AllocationSpy {
 public:
  AllocationSpy();   // registers the spy (CoRegisterMallocSpy)
  ~AllocationSpy();  // revokes it
  AllocationSpy(const AllocationSpy&) = delete;
  AllocationSpy& operator=(const AllocationSpy&) = delete;

  bool active() const;
  long Live() const;         // blocks allocated while active and not freed
  long Allocations() const;  // blocks allocated while active
  long DoubleFrees() const;  // frees of spied blocks that were already freed

 private:
  class Spy;
  Spy* spy_ = nullptr;
  bool registered_ = false;
};

// Redirects the C runtime's standard output (file descriptor 1) into a
// temporary file until Take(), which flushes, restores stdout and returns
// what was written, with "\r\n" turned into "\n".
class StdoutCapture {
 public:
  StdoutCapture();
  ~StdoutCapture();
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;
  std::string Take();

 private:
  int savedFd_ = -1;
  std::wstring path_;
  bool taken_ = false;
};

}  // namespace qf::fwdouble
