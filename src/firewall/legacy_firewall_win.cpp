#include "firewall/legacy_firewall.h"

using Microsoft::WRL::ComPtr;

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
