#include "hardening/host_access.h"

#include <windows.h>

#include <algorithm>

#include "firewall/advanced_firewall.h"
#include "firewall/legacy_firewall.h"
#include "firewall/legacy_profiles.h"
#include "hardening/guarded_ports.h"
#include "hardening/hardening_plan.h"
#include "host/service_control.h"
#include "host/unique_handles.h"

namespace qf::hardening {

namespace {

constexpr const char* kFirewallServices[] = {kAdvancedFirewallService, kLegacyFirewallService};
constexpr DWORD kServiceStoppedState = SERVICE_STOPPED;

bool Running(const ServiceState& state) {
  return state.currentState != 0 && state.currentState != kServiceStoppedState;
}

ServiceSnapshot SnapshotOfService(const char* name) {
  const ServiceState state = ReadServiceState(name);
  return ServiceSnapshot{name, state.present, state.startType, Running(state)};
}

void ReadAdvanced(HostSnapshot& snapshot) {
  CAdvancedFirewall policy;
  if (!policy.Initialize()) return;
  for (std::size_t i = 0; i < kAdvancedProfiles.size(); ++i)
    snapshot.profileOn[i] = policy.ReadSwitch(kAdvancedProfiles[i]);
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
  const std::vector<StoredValue> values = StoredValuesOf(snapshot);
  // The version makes the values a restore point: it goes in last.
  auto isVersion = [](const StoredValue& v) { return v.subkey.empty() && v.name == L"Version"; };
  for (bool versionPass : {false, true}) {
    for (const StoredValue& value : values) {
      if (isVersion(value) != versionPass) continue;
      const DWORD written = WriteValue(key.get(), value);
      if (written != ERROR_SUCCESS) return written;
    }
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
  const LONG status = view != 0 && deleteKeyEx != nullptr ? deleteKeyEx(HKEY_LOCAL_MACHINE, kRestorePointKey, view, 0)
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

}  // namespace qf::hardening
