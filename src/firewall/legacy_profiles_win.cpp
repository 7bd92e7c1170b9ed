#include "firewall/legacy_profiles.h"

#include <oleauto.h>

#include "firewall/unique_bstr.h"

using Microsoft::WRL::ComPtr;
using qf::firewall::UniqueBstr;

namespace {

constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
constexpr NET_FW_IP_PROTOCOL kProtocols[] = {NET_FW_IP_PROTOCOL_TCP, NET_FW_IP_PROTOCOL_UDP};

HRESULT Settled(HRESULT hr, bool got) { return FAILED(hr) ? hr : (got ? S_OK : E_POINTER); }

HRESULT FileAndPrint(INetFwProfile* profile, ComPtr<INetFwService>& service) {
  ComPtr<INetFwServices> services;
  HRESULT hr = profile->get_Services(services.GetAddressOf());
  if (FAILED(hr) || !services) return Settled(hr, services != nullptr);
  hr = services->Item(NET_FW_SERVICE_FILE_AND_PRINT, service.GetAddressOf());
  return Settled(hr, service != nullptr);
}

HRESULT RemoteAdmin(INetFwProfile* profile, ComPtr<INetFwRemoteAdminSettings>& settings) {
  const HRESULT hr = profile->get_RemoteAdminSettings(settings.GetAddressOf());
  return Settled(hr, settings != nullptr);
}

// Sets a scope as the platform takes it: a custom one through its addresses.
template <typename Entry>
HRESULT PutScope(Entry* entry, long scope, const std::wstring& remoteAddresses) {
  if (scope != NET_FW_SCOPE_CUSTOM) return entry->put_Scope(static_cast<NET_FW_SCOPE>(scope));
  const UniqueBstr addresses = UniqueBstr::Copy(remoteAddresses.c_str());
  if (!addresses) return E_OUTOFMEMORY;
  return entry->put_RemoteAddresses(addresses.get());
}

template <typename Entry>
HRESULT ReadAddresses(Entry* entry, std::wstring& out) {
  UniqueBstr addresses;
  const HRESULT hr = entry->get_RemoteAddresses(addresses.Receive());
  if (FAILED(hr)) return hr;
  out.assign(addresses ? addresses.get() : L"", SysStringLen(addresses.get()));
  return S_OK;
}

HRESULT ReadOpening(INetFwOpenPorts* openPorts, LegacyOpeningState& opening) {
  ComPtr<INetFwOpenPort> entry;
  const HRESULT found =
      openPorts->Item(opening.port, static_cast<NET_FW_IP_PROTOCOL>(opening.protocol), entry.GetAddressOf());
  if (found == kNotFound) return S_OK;
  if (FAILED(found) || !entry) return Settled(found, entry != nullptr);
  opening.exists = true;
  VARIANT_BOOL enabled = VARIANT_FALSE;
  NET_FW_SCOPE scope = NET_FW_SCOPE_ALL;
  UniqueBstr name;
  HRESULT hr = entry->get_Enabled(&enabled);
  if (SUCCEEDED(hr)) hr = entry->get_Scope(&scope);
  if (SUCCEEDED(hr)) hr = entry->get_Name(name.Receive());
  if (SUCCEEDED(hr)) hr = ReadAddresses(entry.Get(), opening.remoteAddresses);
  if (FAILED(hr)) return hr;
  opening.enabled = enabled == VARIANT_TRUE;
  opening.scope = scope;
  opening.name.assign(name ? name.get() : L"", SysStringLen(name.get()));
  return S_OK;
}

HRESULT AddOpening(INetFwOpenPorts* openPorts, const LegacyOpeningState& opening) {
  ComPtr<INetFwOpenPort> entry;
  HRESULT hr = CoCreateInstance(CLSID_NetFwOpenPort, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwOpenPort,
                                reinterpret_cast<void**>(entry.GetAddressOf()));
  if (FAILED(hr) || !entry) return Settled(hr, entry != nullptr);
  const UniqueBstr name = UniqueBstr::Copy(opening.name.c_str());
  if (!name) return E_OUTOFMEMORY;
  hr = entry->put_Port(opening.port);
  if (SUCCEEDED(hr)) hr = entry->put_Protocol(static_cast<NET_FW_IP_PROTOCOL>(opening.protocol));
  if (SUCCEEDED(hr)) hr = entry->put_Name(name.get());
  if (SUCCEEDED(hr)) hr = PutScope(entry.Get(), opening.scope, opening.remoteAddresses);
  if (SUCCEEDED(hr)) hr = entry->put_Enabled(opening.enabled ? VARIANT_TRUE : VARIANT_FALSE);
  if (SUCCEEDED(hr)) hr = openPorts->Add(entry.Get());
  return hr;
}

}  // namespace

HRESULT CLegacyProfiles::Open() {
  m_policy.Reset();
  ComPtr<INetFwMgr> manager;
  HRESULT hr = CoCreateInstance(CLSID_NetFwMgr, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwMgr,
                                reinterpret_cast<void**>(manager.GetAddressOf()));
  if (FAILED(hr) || !manager) return Settled(hr, manager != nullptr);
  hr = manager->get_LocalPolicy(m_policy.GetAddressOf());
  if (FAILED(hr) || !m_policy) {
    m_policy.Reset();
    return Settled(hr, false);
  }
  return S_OK;
}

HRESULT CLegacyProfiles::Profile(long profileType, ComPtr<INetFwProfile>& profile) {
  if (!m_policy) return E_POINTER;
  const HRESULT hr =
      m_policy->GetProfileByType(static_cast<NET_FW_PROFILE_TYPE>(profileType), profile.ReleaseAndGetAddressOf());
  return Settled(hr, profile != nullptr);
}

HRESULT CLegacyProfiles::CurrentType(long& profileType) {
  if (!m_policy) return E_POINTER;
  ComPtr<INetFwProfile> profile;
  HRESULT hr = m_policy->get_CurrentProfile(profile.GetAddressOf());
  if (FAILED(hr) || !profile) return Settled(hr, profile != nullptr);
  NET_FW_PROFILE_TYPE type = NET_FW_PROFILE_STANDARD;
  hr = profile->get_Type(&type);
  if (SUCCEEDED(hr)) profileType = type;
  return hr;
}

HRESULT CLegacyProfiles::Read(long profileType, const std::vector<long>& ports, LegacyProfileState& state) {
  state = LegacyProfileState{};
  ComPtr<INetFwProfile> profile;
  HRESULT hr = Profile(profileType, profile);
  if (FAILED(hr)) return hr;
  VARIANT_BOOL on = VARIANT_FALSE;
  hr = profile->get_FirewallEnabled(&on);
  if (FAILED(hr)) return hr;
  state.firewallOn = on == VARIANT_TRUE;

  ComPtr<INetFwOpenPorts> openPorts;
  hr = profile->get_GloballyOpenPorts(openPorts.GetAddressOf());
  if (FAILED(hr) || !openPorts) return Settled(hr, openPorts != nullptr);
  for (long port : ports) {
    for (NET_FW_IP_PROTOCOL protocol : kProtocols) {
      LegacyOpeningState opening;
      opening.port = port;
      opening.protocol = protocol;
      hr = ReadOpening(openPorts.Get(), opening);
      if (FAILED(hr)) return hr;
      state.openings.push_back(opening);
    }
  }

  ComPtr<INetFwService> service;
  if (SUCCEEDED(FileAndPrint(profile.Get(), service))) {
    VARIANT_BOOL enabled = VARIANT_FALSE;
    NET_FW_SCOPE scope = NET_FW_SCOPE_ALL;
    if (service->get_Enabled(&enabled) == S_OK && service->get_Scope(&scope) == S_OK &&
        ReadAddresses(service.Get(), state.fileAndPrintAddresses) == S_OK) {
      state.fileAndPrintKnown = true;
      state.fileAndPrintEnabled = enabled == VARIANT_TRUE;
      state.fileAndPrintScope = scope;
    }
  }

  ComPtr<INetFwRemoteAdminSettings> remoteAdmin;
  VARIANT_BOOL remoteAdminOn = VARIANT_FALSE;
  if (SUCCEEDED(RemoteAdmin(profile.Get(), remoteAdmin)) && remoteAdmin->get_Enabled(&remoteAdminOn) == S_OK) {
    state.remoteAdminKnown = true;
    state.remoteAdminEnabled = remoteAdminOn != VARIANT_FALSE;
  }
  return S_OK;
}

HRESULT CLegacyProfiles::SetFirewall(long profileType, bool on) {
  ComPtr<INetFwProfile> profile;
  const HRESULT hr = Profile(profileType, profile);
  if (FAILED(hr)) return hr;
  return profile->put_FirewallEnabled(on ? VARIANT_TRUE : VARIANT_FALSE);
}

HRESULT CLegacyProfiles::PutOpeningBack(long profileType, const LegacyOpeningState& opening) {
  ComPtr<INetFwProfile> profile;
  HRESULT hr = Profile(profileType, profile);
  if (FAILED(hr)) return hr;
  ComPtr<INetFwOpenPorts> openPorts;
  hr = profile->get_GloballyOpenPorts(openPorts.GetAddressOf());
  if (FAILED(hr) || !openPorts) return Settled(hr, openPorts != nullptr);
  const auto protocol = static_cast<NET_FW_IP_PROTOCOL>(opening.protocol);
  if (!opening.exists) {
    hr = openPorts->Remove(opening.port, protocol);
    return hr == kNotFound ? S_OK : hr;
  }
  ComPtr<INetFwOpenPort> entry;
  hr = openPorts->Item(opening.port, protocol, entry.GetAddressOf());
  if (hr == kNotFound) return AddOpening(openPorts.Get(), opening);
  if (FAILED(hr) || !entry) return Settled(hr, entry != nullptr);
  const UniqueBstr name = UniqueBstr::Copy(opening.name.c_str());
  if (!name) return E_OUTOFMEMORY;
  hr = entry->put_Name(name.get());
  if (SUCCEEDED(hr)) hr = PutScope(entry.Get(), opening.scope, opening.remoteAddresses);
  if (SUCCEEDED(hr)) hr = entry->put_Enabled(opening.enabled ? VARIANT_TRUE : VARIANT_FALSE);
  return hr;
}

HRESULT CLegacyProfiles::SetFileAndPrint(long profileType, bool enabled, long scope,
                                         const std::wstring& remoteAddresses) {
  ComPtr<INetFwProfile> profile;
  HRESULT hr = Profile(profileType, profile);
  if (FAILED(hr)) return hr;
  ComPtr<INetFwService> service;
  hr = FileAndPrint(profile.Get(), service);
  if (FAILED(hr)) return hr;
  hr = PutScope(service.Get(), scope, remoteAddresses);
  if (SUCCEEDED(hr)) hr = service->put_Enabled(enabled ? VARIANT_TRUE : VARIANT_FALSE);
  return hr;
}

HRESULT CLegacyProfiles::SetRemoteAdmin(long profileType, bool enabled) {
  ComPtr<INetFwProfile> profile;
  HRESULT hr = Profile(profileType, profile);
  if (FAILED(hr)) return hr;
  ComPtr<INetFwRemoteAdminSettings> settings;
  hr = RemoteAdmin(profile.Get(), settings);
  if (FAILED(hr)) return hr;
  return settings->put_Enabled(enabled ? VARIANT_TRUE : VARIANT_FALSE);
}
