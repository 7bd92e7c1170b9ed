#include "firewall/legacy_firewall.h"

#include <oleauto.h>

#include "firewall/scoped_variant.h"
#include "firewall/unique_bstr.h"

using Microsoft::WRL::ComPtr;
using qf::firewall::LegacyOpening;
using qf::firewall::LegacyProfileReading;

namespace {

constexpr NET_FW_IP_PROTOCOL kOpeningProtocols[] = {NET_FW_IP_PROTOCOL_TCP, NET_FW_IP_PROTOCOL_UDP};

// How an opening's enabled state reads; unreadable stays unknown.
std::optional<bool> EnabledOf(INetFwOpenPort* entry) {
  VARIANT_BOOL enabled = VARIANT_FALSE;
  if (entry->get_Enabled(&enabled) != S_OK) return std::nullopt;
  return enabled == VARIANT_TRUE;
}

// Looks every port up for TCP and UDP in a collection of open ports. An
// absent pair is no opening; a look-up that fails otherwise is an opening
// that cannot be read. A service's entries are open also while the service
// itself reads on or cannot be read (a service that is on has every port open).
struct OpeningSource {
  bool ofService = false;
  std::optional<bool> serviceEnabled;
  long serviceType = qf::firewall::kNoServiceException;
};

void CollectOpenings(INetFwOpenPorts* openPorts, const std::vector<long>& ports, const OpeningSource& source,
                     std::vector<LegacyOpening>& openings) {
  for (long port : ports) {
    for (NET_FW_IP_PROTOCOL protocol : kOpeningProtocols) {
      ComPtr<INetFwOpenPort> entry;
      const HRESULT found = openPorts->Item(port, protocol, entry.GetAddressOf());
      if (found == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) continue;
      LegacyOpening opening{port, static_cast<long>(protocol), std::nullopt, source.serviceType};
      if (SUCCEEDED(found) && entry) {
        const std::optional<bool> entryEnabled = EnabledOf(entry.Get());
        if (!source.ofService) {
          opening.enabled = entryEnabled;
        } else if (entryEnabled && source.serviceEnabled) {
          opening.enabled = *entryEnabled || *source.serviceEnabled;
        } else if (entryEnabled && *entryEnabled) {
          opening.enabled = true;
        }
      }
      openings.push_back(opening);
    }
  }
}

// Each service exception's openings of the ports. False when the services
// could not all be read.
bool CollectServiceOpenings(INetFwProfile* profile, const std::vector<long>& ports,
                            std::vector<LegacyOpening>& openings) {
  ComPtr<INetFwServices> services;
  if (FAILED(profile->get_Services(services.GetAddressOf())) || !services) return false;
  ComPtr<IUnknown> enumerator;
  if (FAILED(services->get__NewEnum(enumerator.GetAddressOf())) || !enumerator) return false;
  ComPtr<IEnumVARIANT> items;
  if (FAILED(enumerator.As(&items)) || !items) return false;
  qf::firewall::ScopedVariant item;
  while (true) {
    item.Clear();
    ULONG fetched = 0;
    const HRESULT next = items->Next(1, item.get(), &fetched);
    if (next == S_FALSE && fetched == 0) return true;  // every service seen
    ComPtr<INetFwService> service;
    const bool isService =
        next == S_OK && fetched == 1 && SUCCEEDED(VariantChangeType(item.get(), item.get(), 0, VT_DISPATCH)) &&
        V_DISPATCH(item.get()) &&
        SUCCEEDED(V_DISPATCH(item.get())
                      ->QueryInterface(IID_INetFwService, reinterpret_cast<void**>(service.GetAddressOf()))) &&
        service;
    if (!isService) return false;  // a service that cannot be read may open anything
    OpeningSource source{true, std::nullopt};
    NET_FW_SERVICE_TYPE type = NET_FW_SERVICE_NONE;
    // Unknown, it is no File and Printer Sharing: still an opening.
    source.serviceType = service->get_Type(&type) == S_OK ? static_cast<long>(type) : 2;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    if (service->get_Enabled(&enabled) == S_OK) source.serviceEnabled = enabled == VARIANT_TRUE;
    ComPtr<INetFwOpenPorts> servicePorts;
    if (FAILED(service->get_GloballyOpenPorts(servicePorts.GetAddressOf())) || !servicePorts) return false;
    CollectOpenings(servicePorts.Get(), ports, source, openings);
  }
}

}  // namespace

bool WindowsFirewallPresent() {
  ComPtr<INetFwMgr> manager;
  const HRESULT created = CoCreateInstance(CLSID_NetFwMgr, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwMgr,
                                           reinterpret_cast<void**>(manager.GetAddressOf()));
  return created != REGDB_E_CLASSNOTREG;
}

CLegacyFirewall::CLegacyFirewall() = default;

CLegacyFirewall::~CLegacyFirewall() { Cleanup(); }

bool CLegacyFirewall::IsOpen() const { return m_profile != nullptr; }

FW_ERROR_CODE CLegacyFirewall::Initialize() {
  FW_ERROR_CODE result = FWE_NONE;
  ComPtr<INetFwMgr> manager;
  ComPtr<INetFwPolicy> policy;
  try {
    if (m_profile) throw FWE_BAD_STATE;
    if (FAILED(CoCreateInstance(CLSID_NetFwMgr, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwMgr,
                                reinterpret_cast<void**>(manager.GetAddressOf())))) {
      throw FWE_MANAGER_CREATE;
    }
    if (FAILED(manager->get_LocalPolicy(policy.GetAddressOf())) || !policy) throw FWE_POLICY_GET;
    if (FAILED(policy->get_CurrentProfile(m_profile.GetAddressOf())) || !m_profile) {
      m_profile.Reset();  // whatever a failing call left there is not ours to keep
      throw FWE_PROFILE_GET;
    }
  } catch (FW_ERROR_CODE code) {
    result = code;
  }
  policy.Reset();
  manager.Reset();
  return result;
}

FW_ERROR_CODE CLegacyFirewall::Cleanup() {
  m_profile.Reset();
  return FWE_NONE;
}

FW_ERROR_CODE CLegacyFirewall::IsFirewallOn(BOOL& on) {
  on = FALSE;
  FW_ERROR_CODE result = FWE_NONE;
  try {
    if (!m_profile) throw FWE_BAD_STATE;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    if (FAILED(m_profile->get_FirewallEnabled(&enabled))) throw FWE_ENABLED_GET;
    if (enabled != VARIANT_FALSE) on = TRUE;
  } catch (FW_ERROR_CODE code) {
    result = code;
  }
  return result;
}

FW_ERROR_CODE CLegacyFirewall::TurnOnFirewall() {
  FW_ERROR_CODE result = FWE_NONE;
  try {
    if (!m_profile) throw FWE_BAD_STATE;
    BOOL on = FALSE;
    const FW_ERROR_CODE state = IsFirewallOn(on);
    if (state != FWE_NONE) throw state;
    if (!on && FAILED(m_profile->put_FirewallEnabled(VARIANT_TRUE))) throw FWE_ENABLED_PUT;
  } catch (FW_ERROR_CODE code) {
    result = code;
  }
  return result;
}

FW_ERROR_CODE CLegacyFirewall::IsPortOpen(long port, NET_FW_IP_PROTOCOL protocol, BOOL& open) {
  open = FALSE;
  FW_ERROR_CODE result = FWE_NONE;
  ComPtr<INetFwOpenPorts> openPorts;
  ComPtr<INetFwOpenPort> entry;
  try {
    if (!m_profile) throw FWE_BAD_STATE;
    if (FAILED(m_profile->get_GloballyOpenPorts(openPorts.GetAddressOf())) || !openPorts) {
      throw FWE_OPEN_PORTS_GET;
    }
    // A failing look-up means the pair is not listed: not open, no error.
    if (SUCCEEDED(openPorts->Item(port, protocol, entry.GetAddressOf())) && entry) {
      VARIANT_BOOL enabled = VARIANT_FALSE;
      if (FAILED(entry->get_Enabled(&enabled))) throw FWE_PORT_ENABLED_GET;
      if (enabled == VARIANT_TRUE) open = TRUE;
    }
  } catch (FW_ERROR_CODE code) {
    result = code;
  }
  entry.Reset();
  openPorts.Reset();
  return result;
}

FW_ERROR_CODE CLegacyFirewall::ReadExposure(const std::vector<long>& ports, LegacyProfileReading& reading) {
  reading = LegacyProfileReading{};
  FW_ERROR_CODE result = FWE_NONE;
  ComPtr<INetFwOpenPorts> openPorts;
  try {
    if (!m_profile) throw FWE_BAD_STATE;
    VARIANT_BOOL value = VARIANT_FALSE;
    if (m_profile->get_FirewallEnabled(&value) != S_OK) throw FWE_ENABLED_GET;
    reading.firewallOn = value != VARIANT_FALSE;
    if (!*reading.firewallOn) throw FWE_NONE;  // everything is exposed: nothing more to read

    // Unread, it is taken as off (exceptions may be honoured): the openings decide.
    if (m_profile->get_ExceptionsNotAllowed(&value) == S_OK) {
      reading.exceptionsNotAllowed = value != VARIANT_FALSE;
      if (*reading.exceptionsNotAllowed) throw FWE_NONE;  // no opening is honoured
    } else {
      result = FWE_EXCEPTIONS_GET;
    }

    if (FAILED(m_profile->get_GloballyOpenPorts(openPorts.GetAddressOf())) || !openPorts) {
      throw FWE_OPEN_PORTS_GET;
    }
    CollectOpenings(openPorts.Get(), ports, OpeningSource{}, reading.openings);
    // The scope of an opening is not read: an opening of any scope lets
    // someone in, so it counts as open whatever its scope.
    if (!CollectServiceOpenings(m_profile.Get(), ports, reading.openings)) throw FWE_SERVICES_GET;
    reading.openingsRead = true;
  } catch (FW_ERROR_CODE code) {
    if (result == FWE_NONE) result = code;
  }
  openPorts.Reset();
  return result;
}

std::optional<bool> CLegacyFirewall::ReadRemoteAdmin() {
  if (!m_profile) return std::nullopt;
  ComPtr<INetFwRemoteAdminSettings> settings;
  if (FAILED(m_profile->get_RemoteAdminSettings(settings.GetAddressOf())) || !settings) return std::nullopt;
  VARIANT_BOOL enabled = VARIANT_FALSE;
  if (settings->get_Enabled(&enabled) != S_OK) return std::nullopt;
  return enabled != VARIANT_FALSE;
}

std::optional<std::vector<qf::firewall::AuthorisedApplication>> CLegacyFirewall::ReadAuthorisedApplications() {
  if (!m_profile) return std::nullopt;
  ComPtr<INetFwAuthorizedApplications> applications;
  if (FAILED(m_profile->get_AuthorizedApplications(applications.GetAddressOf())) || !applications) {
    return std::nullopt;
  }
  ComPtr<IUnknown> enumerator;
  if (FAILED(applications->get__NewEnum(enumerator.GetAddressOf())) || !enumerator) return std::nullopt;
  ComPtr<IEnumVARIANT> items;
  if (FAILED(enumerator.As(&items)) || !items) return std::nullopt;
  std::vector<qf::firewall::AuthorisedApplication> found;
  qf::firewall::ScopedVariant item;
  for (;;) {
    item.Clear();
    ULONG fetched = 0;
    const HRESULT next = items->Next(1, item.get(), &fetched);
    if (next == S_FALSE && fetched == 0) return found;
    ComPtr<INetFwAuthorizedApplication> application;
    const bool isApplication = next == S_OK && fetched == 1 &&
                               SUCCEEDED(VariantChangeType(item.get(), item.get(), 0, VT_DISPATCH)) &&
                               V_DISPATCH(item.get()) &&
                               SUCCEEDED(V_DISPATCH(item.get())
                                             ->QueryInterface(IID_INetFwAuthorizedApplication,
                                                              reinterpret_cast<void**>(application.GetAddressOf()))) &&
                               application;
    // An application that cannot be read may be any listener.
    if (!isApplication) return std::nullopt;
    qf::firewall::UniqueBstr program;
    if (application->get_ProcessImageFileName(program.Receive()) != S_OK) return std::nullopt;
    qf::firewall::AuthorisedApplication entry;
    entry.program.assign(program ? program.get() : L"", SysStringLen(program.get()));
    VARIANT_BOOL enabled = VARIANT_FALSE;
    if (application->get_Enabled(&enabled) == S_OK) entry.enabled = enabled != VARIANT_FALSE;
    found.push_back(std::move(entry));
  }
}

std::optional<bool> CLegacyFirewall::ReadDomainProfile() {
  if (!m_profile) return std::nullopt;
  NET_FW_PROFILE_TYPE type = NET_FW_PROFILE_STANDARD;
  if (m_profile->get_Type(&type) != S_OK) return std::nullopt;
  return type == NET_FW_PROFILE_DOMAIN;
}
