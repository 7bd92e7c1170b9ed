// Wrapper over the advanced firewall policy (INetFwPolicy2, Vista and later):
// switches the firewall on for the public and private profiles, adds inbound
// block rules and tells whether an enabled inbound block rule covers a port.
// Failures are written to standard output and reported as false.
#pragma once

#include <windows.h>
#include <netfw.h>
#include <wrl/client.h>

class CAdvancedFirewall {
 public:
  CAdvancedFirewall();
  ~CAdvancedFirewall();  // calls Close
  CAdvancedFirewall(const CAdvancedFirewall&) = delete;
  CAdvancedFirewall& operator=(const CAdvancedFirewall&) = delete;

  bool Initialize();
  bool Close();
  bool EnableFirewall();
  bool IsFirewallEnabled();
  bool AddBlockRule(long protocol, const wchar_t* portText);
  bool IsPortBlocked(int port);
  static bool RuleBlocksPort(INetFwRule* rule, const wchar_t* portText);
  bool IsOpen() const;  // holds a policy interface

 private:
  Microsoft::WRL::ComPtr<INetFwPolicy2> m_policy;
  bool m_ownsApartment = false;  // a CoInitializeEx of ours that Close undoes
};
