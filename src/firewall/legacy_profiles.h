// The XP SP2 generation firewall's two profiles (domain and standard) by
// type, whichever is current: what a restore point keeps of them and how
// restore puts it back. Calls report their status; nothing is written.
// The caller initialises COM on the calling thread.
#pragma once

#include <windows.h>
#include <netfw.h>
#include <wrl/client.h>

#include <optional>
#include <string>
#include <vector>

struct LegacyOpeningState {
  long port = 0;
  long protocol = NET_FW_IP_PROTOCOL_TCP;
  bool exists = false;
  bool enabled = false;
  std::wstring name;
  long scope = NET_FW_SCOPE_ALL;
  std::wstring remoteAddresses;  // a custom scope is made of them
};

struct LegacyProfileState {
  bool firewallOn = false;
  std::vector<LegacyOpeningState> openings;  // each port, TCP then UDP
  bool fileAndPrintKnown = false;
  bool fileAndPrintEnabled = false;
  long fileAndPrintScope = NET_FW_SCOPE_ALL;
  std::wstring fileAndPrintAddresses;
  bool remoteAdminKnown = false;
  bool remoteAdminEnabled = false;
};

class CLegacyProfiles {
 public:
  HRESULT Open();
  bool IsOpen() const { return m_policy != nullptr; }
  // profileType: NET_FW_PROFILE_DOMAIN or NET_FW_PROFILE_STANDARD.
  HRESULT Read(long profileType, const std::vector<long>& ports, LegacyProfileState& state);
  // The type of the profile in force: NET_FW_PROFILE_DOMAIN or NET_FW_PROFILE_STANDARD.
  HRESULT CurrentType(long& profileType);
  HRESULT SetFirewall(long profileType, bool on);
  // As it was: removed when it did not exist, else added or given back its
  // name, scope and enabled state.
  HRESULT PutOpeningBack(long profileType, const LegacyOpeningState& opening);
  // A custom scope is put back through its remote addresses (the platform
  // takes no custom scope on its own).
  HRESULT SetFileAndPrint(long profileType, bool enabled, long scope, const std::wstring& remoteAddresses);
  HRESULT SetRemoteAdmin(long profileType, bool enabled);

 private:
  HRESULT Profile(long profileType, Microsoft::WRL::ComPtr<INetFwProfile>& profile);
  Microsoft::WRL::ComPtr<INetFwPolicy> m_policy;
};
