// Wrapper over the advanced firewall policy (INetFwPolicy2, Vista and later):
// switches the firewall on for the public and private profiles, adds inbound
// block rules, tells whether the firewall is on and which ports the policy
// blocks. Failures are written to standard output and reported as false;
// nothing unread ever counts as on or blocked.
#pragma once

#include <windows.h>
#include <netfw.h>
#include <wrl/client.h>

#include <optional>
#include <vector>

class CAdvancedFirewall {
 public:
  CAdvancedFirewall();
  ~CAdvancedFirewall();  // calls Close
  CAdvancedFirewall(const CAdvancedFirewall&) = delete;
  CAdvancedFirewall& operator=(const CAdvancedFirewall&) = delete;

  bool Initialize();
  bool Close();
  bool EnableFirewall();
  // On for public, private and every profile in force.
  bool IsFirewallEnabled();
  bool AddBlockRule(long protocol, const wchar_t* portText);
  // Inbound TCP and UDP to the port blocked on every profile in force, with
  // those profiles' firewall on.
  bool IsPortBlocked(int port);
  // The same question for several ports, answered in one walk of the rules.
  std::vector<bool> ArePortsBlocked(const std::vector<long>& ports);
  bool IsOpen() const;  // holds a policy interface

 private:
  std::optional<long> ReadCurrentProfiles();
  std::optional<bool> ReadSwitch(long profile);
  Microsoft::WRL::ComPtr<INetFwPolicy2> m_policy;
  bool m_ownsApartment = false;  // a CoInitializeEx of ours that Close undoes
};
