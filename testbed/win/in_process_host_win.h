// The simulated firewall objects in a test's own process, over a host state
// held in memory: class objects for CLSID_NetFwPolicy2, CLSID_NetFwRule and
// CLSID_NetFwMgr registered with CoRegisterClassObject, so product code
// reaches them through its own CoCreateInstance. The test arranges and reads
// the state directly; the host logs and counts every method entered.
//
//   testbed::InProcessFirewall firewall;            // COM initialised (STA) + registered
//   firewall.host().rules.push_back(...);
//   firewall.host().FailCall(testbed::Call::RulesAdd, 1, E_ACCESSDENIED);
//   ... run product code ...
//   EXPECT_EQ(firewall.host().LiveReferences(), 0);
#pragma once

#include <windows.h>
#include <netfw.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host_access_win.h"

namespace testbed {

// A host whose state is this object. Its firewall services run, the public
// network is current, and every firewall is off.
class FirewallHost final : public HostState, public HostAccess, public std::enable_shared_from_this<FirewallHost> {
 public:
  FirewallHost();

  std::shared_ptr<const HostState> Read() override;
  bool Update(const std::function<bool(HostState&)>& change) override;
  PlannedAnswer Enter(Call call, std::string_view rule) override;

  // The switch of an advanced profile (domain 1, private 2, public 4), and
  // that of the current legacy profile (the current private or public one).
  bool& FirewallEnabled(NET_FW_PROFILE_TYPE2 profile);
  bool& LegacyFirewallEnabled();
  // Where the firewall service of the advanced policy (MpsSvc) or of the
  // legacy manager (SharedAccess) stands: "running", "stopped"; missing
  // takes it off the host.
  void SetFirewallService(const std::string& name, const std::string& state);
  void RemoveFirewallService(const std::string& name);

  // The nth call (1-based, counted over the host's life; 0: every call) of
  // a method answers hr: a failure without doing anything, a success code
  // after the work. With rule, only calls on the rule of that name.
  void FailCall(Call call, int nth, HRESULT hr, const std::string& rule = {});
  // The nth call of a getter hands out value instead of the state's.
  void AnswerCall(Call call, int nth, long value);
  void ClearFailures();
  int Calls(Call call) const;
  const std::vector<Call>& CallLog() const;

 private:
  void Plan(Call call, int nth, HRESULT hr, std::optional<long> value, const std::string& rule);
  std::array<int, static_cast<size_t>(Call::Count)> calls_{};
  std::vector<Call> callLog_;
};

// Registers the class objects on construction (after CoInitializeEx for a
// single-threaded apartment) and revokes them on destruction (then
// CoUninitialize). One at a time per thread.
class InProcessFirewall {
 public:
  InProcessFirewall();
  ~InProcessFirewall();
  InProcessFirewall(const InProcessFirewall&) = delete;
  InProcessFirewall& operator=(const InProcessFirewall&) = delete;

  FirewallHost& host();
  bool registered() const;  // all three class objects registered

 private:
  std::shared_ptr<FirewallHost> host_;
  std::vector<DWORD> cookies_;
  bool comInitialized_ = false;
};

// Rules and openings as tests write them: an enabled inbound TCP block rule
// for all profiles named "block <ports>"; an opening of the standard profile.
FirewallRule BlockRule(const std::string& localPorts);
OpenPort Opening(long port, long protocol, bool enabled);
// File and Printer Sharing of the standard profile, its ports as given.
ServiceException FileAndPrintSharing(bool enabled);

}  // namespace testbed
