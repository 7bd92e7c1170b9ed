// Wrapper over the Windows XP SP2 generation firewall profile (INetFwMgr ->
// INetFwPolicy -> current INetFwProfile). Reports through FW_ERROR_CODE and
// writes nothing. The caller initialises COM on the calling thread.
#pragma once

#include <windows.h>
#include <netfw.h>
#include <wrl/client.h>

#include <optional>
#include <vector>

#include "firewall/effective_policy.h"
#include "firewall/port_exposure.h"

enum FW_ERROR_CODE {
  FWE_NONE = 0,
  FWE_BAD_STATE = 1,
  FWE_MANAGER_CREATE = 2,
  FWE_POLICY_GET = 3,
  FWE_PROFILE_GET = 4,
  FWE_ENABLED_GET = 5,
  FWE_ENABLED_PUT = 6,
  FWE_OPEN_PORTS_GET = 16,
  FWE_PORT_ENABLED_GET = 17,
  FWE_EXCEPTIONS_GET = 18,
  FWE_SERVICES_GET = 19,
};

// False only when the host has no Windows Firewall at all (Windows 2000, XP
// before SP2): its manager class is not registered.
bool WindowsFirewallPresent();

class CLegacyFirewall {
 public:
  CLegacyFirewall();
  ~CLegacyFirewall();  // calls Cleanup
  CLegacyFirewall(const CLegacyFirewall&) = delete;
  CLegacyFirewall& operator=(const CLegacyFirewall&) = delete;

  FW_ERROR_CODE Initialize();
  FW_ERROR_CODE Cleanup();
  FW_ERROR_CODE IsFirewallOn(BOOL& on);
  FW_ERROR_CODE TurnOnFirewall();
  FW_ERROR_CODE IsPortOpen(long port, NET_FW_IP_PROTOCOL protocol, BOOL& open);
  // What decides whether the ports are exposed: the firewall switch, the
  // "no exceptions" switch, and the openings of the ports (globally open
  // ports and service exceptions, TCP and UDP). Stops reading once the
  // answer is settled. Returns the first failure; reading tells what was read.
  FW_ERROR_CODE ReadExposure(const std::vector<long>& ports, qf::firewall::LegacyProfileReading& reading);
  bool IsOpen() const;  // holds the current profile
  // The current profile's Remote Administration exception; nullopt: unread.
  std::optional<bool> ReadRemoteAdmin();
  // The current profile's authorised applications; nullopt: unread.
  std::optional<std::vector<qf::firewall::AuthorisedApplication>> ReadAuthorisedApplications();
  // Whether the current profile is the domain one; nullopt: unread.
  std::optional<bool> ReadDomainProfile();

 private:
  Microsoft::WRL::ComPtr<INetFwProfile> m_profile;
};
