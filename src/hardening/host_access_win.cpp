#include "hardening/host_access.h"

#include <windows.h>

#include <algorithm>

#include "firewall/advanced_firewall.h"
#include "firewall/legacy_firewall.h"
#include "firewall/legacy_profiles.h"
#include "hardening/guarded_ports.h"
#include "hardening/hardening_plan.h"
#include "hardening/status_report.h"
#include "host/service_control.h"
#include "host/unique_handles.h"

namespace qf::hardening {

namespace {

constexpr const char* kFirewallServices[] = {kAdvancedFirewallService, kLegacyFirewallService};
constexpr DWORD kServiceStoppedState = SERVICE_STOPPED;

std::vector<long> GuardedPortList() { return std::vector<long>(kGuardedPorts.begin(), kGuardedPorts.end()); }

bool Running(const ServiceState& state) { return state.currentState != 0 && state.currentState != kServiceStoppedState; }

ServiceSnapshot SnapshotOfService(const char* name) {
  const ServiceState state = ReadServiceState(name);
  return ServiceSnapshot{name, state.present, state.startType, Running(state)};
}

void ReadAdvanced(HostSnapshot& snapshot) {
  CAdvancedFirewall policy;
  if (!policy.Initialize()) return;
  for (std::size_t i = 0; i < kAdvancedProfiles.size(); ++i) snapshot.profileOn[i] = policy.ReadSwitch(kAdvancedProfiles[i]);
  const auto rules = policy.ReadRules();
  if (!rules) return;
  for (const qf::firewall::RuleRecord& rule : *rules) {
    if (qf::firewall::CarriesQuillfortGrouping(rule)) snapshot.quillfortRules.push_back(rule);
  }
  snapshot.advancedRead = true;
}

LegacyOpening OpeningOf(const LegacyOpeningState& state) {
  LegacyOpening opening;
  opening.port = state.port;
  opening.protocol = state.protocol;
  opening.exists = state.exists;
  opening.enabled = state.enabled;
  opening.name = state.name;
  opening.scope = state.scope;
  return opening;
}

LegacyOpeningState StateOf(const LegacyOpening& opening) {
  LegacyOpeningState state;
  state.port = opening.port;
  state.protocol = opening.protocol;
  state.exists = opening.exists;
  state.enabled = opening.enabled;
  state.name = opening.name;
  state.scope = opening.scope;
  return state;
}

void ReadLegacy(HostSnapshot& snapshot) {
  CLegacyProfiles profiles;
  if (FAILED(profiles.Open())) return;
  for (std::size_t p = 0; p < kLegacyProfiles.size(); ++p) {
    LegacyProfileState state;
    if (FAILED(profiles.Read(kLegacyProfiles[p], GuardedPortList(), state))) continue;
    LegacyProfileSnapshot& profile = snapshot.legacy[p];
    profile.read = true;
    profile.firewallOn = state.firewallOn;
    for (const LegacyOpeningState& opening : state.openings) profile.openings.push_back(OpeningOf(opening));
    profile.fileAndPrintKnown = state.fileAndPrintKnown;
    profile.fileAndPrintEnabled = state.fileAndPrintEnabled;
    profile.fileAndPrintScope = state.fileAndPrintScope;
  }
}

ServiceReport ReportOfService(const char* name) {
  const ServiceState state = ReadServiceState(name);
  ServiceReport report;
  report.name = name;
  report.present = state.present;
  if (state.present && state.startType != 0) report.startType = state.startType;
  if (state.present && state.currentState != 0) report.state = state.currentState;
  return report;
}

// ---- registry ----------------------------------------------------------------

// The 64-bit view on 64-bit Windows, so that both builds keep one restore
// point; the flag is unknown to Windows 2000, which never needs it.
REGSAM ViewFlag() {
  using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
  const auto isWow64Process =
      host::LookUpEntryPoint<IsWow64ProcessFunction>(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process");
  BOOL wow64 = FALSE;
  if (isWow64Process != nullptr && isWow64Process(GetCurrentProcess(), &wow64) && wow64) return KEY_WOW64_64KEY;
  return 0;
}

std::wstring ValueName(const StoredValue& value) {
  return value.subkey.empty() ? value.name : value.subkey + L"\\" + value.name;
}

StoredValue StoredFromName(const std::wstring& valueName) {
  StoredValue value;
  const std::size_t split = valueName.rfind(L'\\');
  if (split == std::wstring::npos) {
    value.name = valueName;
  } else {
    value.subkey = valueName.substr(0, split);
    value.name = valueName.substr(split + 1);
  }
  return value;
}

DWORD OpenRestorePoint(REGSAM access, host::UniqueRegistryKey& key) {
  HKEY opened = nullptr;
  const LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRestorePointKey, 0, access | ViewFlag(), &opened);
  key.reset(status == ERROR_SUCCESS ? opened : nullptr);
  return static_cast<DWORD>(status);
}

std::optional<std::vector<StoredValue>> ReadValues(HKEY key, DWORD& error) {
  DWORD count = 0;
  DWORD longestName = 0;
  DWORD longestData = 0;
  error = static_cast<DWORD>(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                                              &longestName, &longestData, nullptr, nullptr));
  if (error != ERROR_SUCCESS) return std::nullopt;
  std::vector<StoredValue> values;
  std::vector<wchar_t> name(longestName + 1);
  std::vector<BYTE> data(longestData + sizeof(wchar_t));
  for (DWORD i = 0; i < count; ++i) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = 0;
    error = static_cast<DWORD>(RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize));
    if (error != ERROR_SUCCESS) return std::nullopt;
    StoredValue value = StoredFromName(std::wstring(name.data(), nameLength));
    if (type == REG_DWORD && dataSize == sizeof(DWORD)) {
      DWORD number = 0;
      std::copy(data.begin(), data.begin() + sizeof number, reinterpret_cast<BYTE*>(&number));
      value.data = static_cast<std::uint32_t>(number);
    } else if (type == REG_SZ) {
      std::wstring text(dataSize / sizeof(wchar_t), L'\0');
      std::copy(data.begin(), data.begin() + text.size() * sizeof(wchar_t), reinterpret_cast<BYTE*>(&text[0]));
      while (!text.empty() && text.back() == L'\0') text.pop_back();
      value.data = text;
    } else {
      continue;  // not one of ours: the format check decides
    }
    values.push_back(std::move(value));
  }
  return values;
}

DWORD WriteValue(HKEY key, const StoredValue& value) {
  const std::wstring name = ValueName(value);
  if (const auto* number = std::get_if<std::uint32_t>(&value.data)) {
    const DWORD data = *number;
    return static_cast<DWORD>(
        RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data));
  }
  const std::wstring& text = std::get<std::wstring>(value.data);
  return static_cast<DWORD>(RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
}

bool IsAccessDenied(std::uint32_t code) { return code == ERROR_ACCESS_DENIED || code == 0x80070005u; }

}  // namespace

HostSnapshot ReadHostSnapshot(int hostClass) {
  HostSnapshot snapshot;
  snapshot.hostClass = hostClass;
  for (const char* name : kFirewallServices) snapshot.services.push_back(SnapshotOfService(name));
  if (HardensThroughAdvancedPolicy(hostClass)) {
    ReadAdvanced(snapshot);
  } else {
    ReadLegacy(snapshot);
  }
  PutInCanonicalOrder(snapshot);
  return snapshot;
}

StatusReport ReadStatus(const std::string& hostLabel, int hostClass) {
  std::vector<ServiceReport> services;
  const char* service = HardensThroughAdvancedPolicy(hostClass) ? kAdvancedFirewallService : kLegacyFirewallService;
  services.push_back(ReportOfService(service));
  if (HardensThroughAdvancedPolicy(hostClass)) {
    AdvancedFacts facts;
    CAdvancedFirewall policy;
    if (policy.Initialize()) {
      facts.currentProfiles = policy.ReadCurrentProfiles();
      for (std::size_t i = 0; i < kAdvancedProfiles.size(); ++i) facts.profileOn[i] = policy.ReadSwitch(kAdvancedProfiles[i]);
      facts.rules = policy.ReadRules();
    }
    return ComposeAdvancedStatus(hostLabel, hostClass, facts, std::move(services));
  }
  qf::firewall::LegacyProfileReading reading;
  CLegacyFirewall legacy;
  if (legacy.Initialize() == FWE_NONE) legacy.ReadExposure(GuardedPortList(), reading);
  return ComposeLegacyStatus(hostLabel, hostClass, reading, std::move(services));
}

std::optional<HostSnapshot> LoadRestorePoint(std::uint32_t* error) {
  auto tell = [&](DWORD code) {
    if (error != nullptr) *error = code;
  };
  host::UniqueRegistryKey key;
  const DWORD opened = OpenRestorePoint(KEY_READ, key);
  if (opened != ERROR_SUCCESS) {
    tell(opened == ERROR_FILE_NOT_FOUND ? 0 : opened);
    return std::nullopt;
  }
  DWORD readError = 0;
  const auto values = ReadValues(key.get(), readError);
  tell(values ? 0 : readError);
  if (!values) return std::nullopt;
  return SnapshotFromStoredValues(*values);
}

std::uint32_t SaveRestorePoint(const HostSnapshot& snapshot) {
  // Whatever an unfinished save left goes first.
  const std::uint32_t cleared = DeleteRestorePoint();
  if (cleared != 0) return cleared;
  HKEY created = nullptr;
  const LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRestorePointKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_WRITE | ViewFlag(), nullptr, &created, nullptr);
  if (status != ERROR_SUCCESS) return static_cast<std::uint32_t>(status);
  host::UniqueRegistryKey key(created);
  std::vector<StoredValue> values = StoredValuesOf(snapshot);
  // The version makes the values a restore point: it goes in last.
  std::stable_partition(values.begin(), values.end(),
                        [](const StoredValue& v) { return !(v.subkey.empty() && v.name == L"Version"); });
  for (const StoredValue& value : values) {
    const DWORD written = WriteValue(key.get(), value);
    if (written != ERROR_SUCCESS) return written;
  }
  return static_cast<std::uint32_t>(RegFlushKey(key.get()));
}

std::uint32_t DeleteRestorePoint() {
  host::UniqueRegistryKey key;
  const DWORD opened = OpenRestorePoint(KEY_READ | KEY_SET_VALUE, key);
  if (opened == ERROR_FILE_NOT_FOUND) return 0;
  if (opened != ERROR_SUCCESS) return opened;
  // The key has values only; they go first, so that a key that cannot be
  // deleted (an older Windows's view rules) still holds no restore point.
  DWORD error = 0;
  const auto values = ReadValues(key.get(), error);
  if (!values) return error;
  for (const StoredValue& value : *values) {
    const LONG deleted = RegDeleteValueW(key.get(), ValueName(value).c_str());
    if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) return static_cast<std::uint32_t>(deleted);
  }
  key.reset();
  using RegDeleteKeyExFunction = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
  const auto deleteKeyEx =
      host::LookUpEntryPoint<RegDeleteKeyExFunction>(GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW");
  const REGSAM view = ViewFlag();
  const LONG status = view != 0 && deleteKeyEx != nullptr
                          ? deleteKeyEx(HKEY_LOCAL_MACHINE, kRestorePointKey, view, 0)
                          : RegDeleteKeyW(HKEY_LOCAL_MACHINE, kRestorePointKey);
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? 0 : static_cast<std::uint32_t>(status);
}

std::uint32_t RestorePointKeeper::BeforeFirstChange() {
  before_ = ReadHostSnapshot(hostClass_);
  std::uint32_t error = 0;
  if (LoadRestorePoint(&error)) return 0;  // a later run never overwrites it
  const std::uint32_t saved = SaveRestorePoint(*before_);
  saved_ = saved == 0;
  return saved;
}

void RestorePointKeeper::AfterRun() {
  if (!before_) return;
  changed_ = ReadHostSnapshot(hostClass_) != *before_;
  if (!changed_ && saved_ && DeleteRestorePoint() == 0) saved_ = false;
}

RestoreReport RunRestore(int hostClass, StepObserver& observer) {
  RestoreReport report;
  std::uint32_t loadError = 0;
  const std::optional<HostSnapshot> saved = LoadRestorePoint(&loadError);
  if (!saved) {
    if (loadError != 0) {
      observer.StepEnded("LoadRestorePoint", loadError);
      report.failedSteps.push_back({"LoadRestorePoint", loadError, {}});
      report.accessDenied = IsAccessDenied(loadError);
    }
    return report;
  }
  report.restorePointFound = true;
  const HostSnapshot now = ReadHostSnapshot(hostClass);
  const std::vector<RestoreAction> plan = PlanRestore(*saved, now);

  CAdvancedFirewall policy;
  CLegacyProfiles legacy;
  std::optional<std::vector<qf::firewall::RuleRecord>> rules;
  if (HardensThroughAdvancedPolicy(hostClass) && policy.Initialize()) rules = policy.ReadRules();
  if (!HardensThroughAdvancedPolicy(hostClass)) legacy.Open();

  auto carryOut = [&](const RestoreAction& action) -> std::uint32_t {
    switch (action.kind) {
      case RestoreActionKind::RemoveRulesNamed: {
        if (!rules) return policy.LastFailureOr(0x80004005u);
        int ours = 0;
        for (const qf::firewall::RuleRecord& rule : *rules) {
          if (rule.name != action.text) continue;
          // Removal goes by name: a rule of someone else's under the same
          // name would go too, so the name is left alone.
          if (!qf::firewall::CarriesQuillfortGrouping(rule)) return static_cast<std::uint32_t>(ERROR_ALREADY_EXISTS);
          ++ours;
        }
        if (!policy.RemoveRulesNamed(action.text)) return policy.LastFailureOr(0x80004005u);
        report.rulesRemoved += ours;
        return 0;
      }
      case RestoreActionKind::AddRule:
        // Rules the removal could not see might still be there.
        if (!rules) return policy.LastFailureOr(0x80004005u);
        if (!policy.AddRule(action.rule)) return policy.LastFailureOr(0x80004005u);
        ++report.rulesPutBack;
        return 0;
      case RestoreActionKind::SetProfileSwitch:
        return policy.SetSwitch(action.profile, action.on) ? 0 : policy.LastFailureOr(0x80004005u);
      case RestoreActionKind::SetLegacyFirewall:
        return static_cast<std::uint32_t>(legacy.SetFirewall(action.profile, action.on));
      case RestoreActionKind::PutOpeningBack:
        return static_cast<std::uint32_t>(legacy.PutOpeningBack(action.profile, StateOf(action.opening)));
      case RestoreActionKind::SetFileAndPrint:
        return static_cast<std::uint32_t>(legacy.SetFileAndPrint(action.profile, action.on, action.scope));
      case RestoreActionKind::SetStartType:
        return SetServiceStartTypeError(action.service.c_str(), action.number);
      case RestoreActionKind::StopService: {
        const std::uint32_t stopped = StopServiceAndWait(action.service.c_str());
        if (stopped == 0) report.servicesStopped.push_back(action.service);
        return stopped;
      }
    }
    return 0;
  };

  for (const RestoreAction& action : plan) {
    const std::string name = RestoreActionName(action);
    observer.StepStarting(name);
    const std::uint32_t code = carryOut(action);
    observer.StepEnded(name, code);
    if (code == 0) {
      report.changed = true;
    } else {
      if (report.failedSteps.empty()) report.accessDenied = IsAccessDenied(code);
      report.failedSteps.push_back({name, code, {}});
    }
  }
  if (report.failedSteps.empty()) {
    observer.StepStarting("DeleteRestorePoint");
    const std::uint32_t deleted = DeleteRestorePoint();
    observer.StepEnded("DeleteRestorePoint", deleted);
    if (deleted != 0) {
      report.accessDenied = IsAccessDenied(deleted);
      report.failedSteps.push_back({"DeleteRestorePoint", deleted, {}});
    }
  }
  return report;
}

}  // namespace qf::hardening
