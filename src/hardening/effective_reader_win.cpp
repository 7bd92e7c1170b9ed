#include "hardening/effective_reader.h"

#include <windows.h>

#include <string>
#include <vector>

#include "hardening/guarded_ports.h"
#include "hardening/hardening_plan.h"
#include "host/service_control.h"
#include "host/unique_handles.h"

namespace qf::hardening {

namespace {

using qf::firewall::PolicyValue;

constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Policies\\Microsoft\\WindowsFirewall";
constexpr const wchar_t* kAdvancedProfileKeys[qf::firewall::kProfileCount] = {L"DomainProfile", L"PrivateProfile",
                                                                              L"PublicProfile"};

// The 64-bit view on 64-bit Windows, where group policy writes; the flag is
// unknown to Windows 2000, which never needs it.
REGSAM PolicyView() {
  using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
  const auto isWow64Process =
      host::LookUpEntryPoint<IsWow64ProcessFunction>(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process");
  BOOL wow64 = FALSE;
  if (isWow64Process != nullptr && isWow64Process(GetCurrentProcess(), &wow64) && wow64) return KEY_WOW64_64KEY;
  return 0;
}

// A key below the policy key: opened, absent, or there but unreadable.
struct PolicyKey {
  host::UniqueRegistryKey key;
  bool unreadable = false;
};

PolicyKey OpenPolicyKey(const std::wstring& below) {
  PolicyKey result;
  const std::wstring path = std::wstring(kPolicyKey) + L"\\" + below;
  HKEY opened = nullptr;
  const LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | PolicyView(), &opened);
  if (status == ERROR_SUCCESS) {
    result.key.reset(opened);
  } else if (status != ERROR_FILE_NOT_FOUND) {
    result.unreadable = true;
  }
  return result;
}

PolicyValue ReadNumber(const PolicyKey& key, const wchar_t* name) {
  if (key.unreadable) return PolicyValue::Unreadable();
  if (!key.key) return PolicyValue::Absent();
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  const LONG status = RegQueryValueExW(key.key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  if (status == ERROR_FILE_NOT_FOUND) return PolicyValue::Absent();
  if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return PolicyValue::Unreadable();
  return PolicyValue::Set(value);
}

// Every REG_SZ value of the key, name and data; nullopt when unreadable.
std::optional<std::vector<qf::firewall::PolicyRuleValue>> ReadTexts(const PolicyKey& key) {
  if (key.unreadable) return std::nullopt;
  std::vector<qf::firewall::PolicyRuleValue> values;
  if (!key.key) return values;
  DWORD count = 0;
  DWORD longestName = 0;
  DWORD longestData = 0;
  if (RegQueryInfoKeyW(key.key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longestName,
                       &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::vector<wchar_t> name(longestName + 1);
  std::vector<wchar_t> data(longestData / sizeof(wchar_t) + 2);
  for (DWORD i = 0; i < count; ++i) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataSize = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    DWORD type = 0;
    if (RegEnumValueW(key.key.get(), i, name.data(), &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                      &dataSize) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    if (type != REG_SZ) continue;
    std::wstring text(data.data(), dataSize / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    values.push_back({std::wstring(name.data(), nameLength), std::move(text)});
  }
  return values;
}

// What the service manager says of the firewall service: running, not
// running, or nothing (it does not know the service, or could not be asked).
std::optional<bool> ServiceRunning(const char* name) {
  const ServiceState state = ReadServiceState(name);
  if (!state.present || state.currentState == 0) return std::nullopt;
  return state.currentState == SERVICE_RUNNING;
}

std::vector<std::wstring> DataOf(const std::optional<std::vector<qf::firewall::PolicyRuleValue>>& values) {
  std::vector<std::wstring> data;
  if (values) {
    for (const auto& value : *values) data.push_back(value.text);
  }
  return data;
}

qf::firewall::LegacyGroupPolicy ReadLegacyGroupPolicy(bool domain) {
  const std::wstring profile = domain ? L"DomainProfile" : L"StandardProfile";
  qf::firewall::LegacyGroupPolicy policy;
  const PolicyKey top = OpenPolicyKey(profile);
  policy.enableFirewall = ReadNumber(top, L"EnableFirewall");
  policy.doNotAllowExceptions = ReadNumber(top, L"DoNotAllowExceptions");
  const PolicyKey ports = OpenPolicyKey(profile + L"\\GloballyOpenPorts");
  policy.openPortsListEnabled = ReadNumber(ports, L"Enabled");
  const auto portList = ReadTexts(OpenPolicyKey(profile + L"\\GloballyOpenPorts\\List"));
  policy.openPorts = DataOf(portList);
  policy.fileAndPrintEnabled = ReadNumber(OpenPolicyKey(profile + L"\\Services\\FileAndPrint"), L"Enabled");
  policy.remoteAdminEnabled = ReadNumber(OpenPolicyKey(profile + L"\\RemoteAdminSettings"), L"Enabled");
  policy.applicationsListEnabled = ReadNumber(OpenPolicyKey(profile + L"\\AuthorizedApplications"), L"Enabled");
  const auto applications = ReadTexts(OpenPolicyKey(profile + L"\\AuthorizedApplications\\List"));
  policy.applications = DataOf(applications);
  policy.listsRead = portList.has_value() && applications.has_value();
  return policy;
}

}  // namespace

qf::firewall::AdvancedPolicyInput ReadAdvancedSettings(CAdvancedFirewall& advanced) {
  qf::firewall::AdvancedPolicyInput input;
  input.serviceRunning = ServiceRunning(kAdvancedFirewallService);
  for (std::size_t i = 0; i < qf::firewall::kProfileCount; ++i) {
    const PolicyKey key = OpenPolicyKey(kAdvancedProfileKeys[i]);
    input.groupPolicy[i].enableFirewall = ReadNumber(key, L"EnableFirewall");
    input.groupPolicy[i].doNotAllowExceptions = ReadNumber(key, L"DoNotAllowExceptions");
    input.groupPolicy[i].allowLocalPolicyMerge = ReadNumber(key, L"AllowLocalPolicyMerge");
    input.groupPolicy[i].defaultInboundAction = ReadNumber(key, L"DefaultInboundAction");
  }
  input.groupPolicyRules = ReadTexts(OpenPolicyKey(L"FirewallRules"));
  // Nothing of the policy answers while its service is stopped.
  if (!advanced.IsOpen() || input.serviceRunning == false) return input;
  input.currentProfiles = advanced.ReadCurrentProfiles();
  // A service the manager could not tell of runs if the policy answers.
  if (!input.serviceRunning) input.serviceRunning = input.currentProfiles.has_value();
  const long toRead = qf::firewall::ProfilesToRead(input.currentProfiles) |
                      (input.currentProfiles ? *input.currentProfiles & qf::firewall::kKnownProfiles : 0);
  for (std::size_t i = 0; i < qf::firewall::kProfileCount; ++i) {
    if (toRead & qf::firewall::kProfileBits[i])
      input.local[i] = advanced.ReadLocalProfile(qf::firewall::kProfileBits[i]);
  }
  input.modifyState = advanced.ReadModifyState();
  return input;
}

qf::firewall::EffectivePolicy ReadAdvancedEffective(CAdvancedFirewall& advanced) {
  qf::firewall::AdvancedPolicyInput input = ReadAdvancedSettings(advanced);
  if (input.currentProfiles) input.localRules = advanced.TallyRules(GuardedPortList(), *input.currentProfiles);
  return qf::firewall::ComposeAdvancedPolicy(input, GuardedPortList());
}

qf::firewall::LegacyPolicyInput ReadLegacyInput(CLegacyFirewall& legacy) {
  qf::firewall::LegacyPolicyInput input;
  input.firewallPresent = WindowsFirewallPresent();
  if (!input.firewallPresent) return input;
  input.serviceRunning = ServiceRunning(kLegacyFirewallService);
  const std::optional<bool> domain = legacy.ReadDomainProfile();
  input.domainProfile = domain.value_or(false);
  input.groupPolicy = ReadLegacyGroupPolicy(input.domainProfile);
  if (!domain) input.groupPolicy.listsRead = false;  // the profile whose policy counts is unknown
  if (input.serviceRunning == false) return input;
  legacy.ReadExposure(GuardedPortList(), input.profile);
  if (!input.serviceRunning) input.serviceRunning = input.profile.firewallOn.has_value();
  input.remoteAdminEnabled = legacy.ReadRemoteAdmin();
  input.applications = legacy.ReadAuthorisedApplications();
  return input;
}

qf::firewall::EffectivePolicy ReadLegacyEffective(CLegacyFirewall& legacy) {
  return qf::firewall::ComposeLegacyPolicy(ReadLegacyInput(legacy), GuardedPortList());
}

}  // namespace qf::hardening
