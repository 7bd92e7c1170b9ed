#include "hardening/host_access.h"

#include <windows.h>

#include <algorithm>

#include "firewall/advanced_firewall.h"
#include "firewall/legacy_firewall.h"
#include "firewall/legacy_profiles.h"
#include "hardening/guarded_ports.h"
#include "hardening/hardening_outcome.h"
#include "hardening/hardening_plan.h"
#include "hardening/rule_identity.h"
#include "host/service_control.h"
#include "host/unique_handles.h"

namespace qf::hardening {

namespace {

constexpr DWORD kServiceStoppedState = SERVICE_STOPPED;

bool Running(const ServiceState& state) {
  return state.currentState != 0 && state.currentState != kServiceStoppedState;
}

ServiceSnapshot SnapshotOfService(const char* name) {
  const ServiceState state = ReadServiceState(name);
  ServiceSnapshot snapshot{name, state.present, state.startType, Running(state), true};
  // No such service is an answer; any other failure is not.
  snapshot.read = state.present ? state.error == 0 : state.error == ERROR_SERVICE_DOES_NOT_EXIST;
  return snapshot;
}

void ReadAdvanced(HostSnapshot& snapshot) {
  CAdvancedFirewall policy;
  if (!policy.Initialize()) {
    snapshot.advancedError = policy.LastFailureOr(kStepFailedWithoutCode);
    return;
  }
  for (std::size_t i = 0; i < kAdvancedProfiles.size(); ++i) {
    snapshot.profileOn[i] = policy.ReadSwitch(kAdvancedProfiles[i]);
    if (!snapshot.profileOn[i]) {
      snapshot.advancedError = kStepFailedWithoutCode;
      return;
    }
  }
  const auto rules = policy.ReadRulesWhere(RecordedByRestorePoint);
  if (!rules) {
    snapshot.advancedError = policy.LastFailureOr(kStepFailedWithoutCode);
    return;
  }
  for (const qf::firewall::RuleRecord& rule : *rules) {
    // A rule of ours not read whole cannot be recorded, nor told from another.
    if (!rule.complete) {
      snapshot.advancedError = kStepFailedWithoutCode;
      return;
    }
  }
  snapshot.quillfortRules = *rules;
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
  opening.remoteAddresses = state.remoteAddresses;
  return opening;
}

void ReadLegacy(HostSnapshot& snapshot) {
  CLegacyProfiles profiles;
  const HRESULT opened = profiles.Open();
  if (FAILED(opened)) {
    snapshot.legacyError = static_cast<std::uint32_t>(opened);
    return;
  }
  for (std::size_t p = 0; p < kLegacyProfiles.size(); ++p) {
    LegacyProfileState state;
    const HRESULT read = profiles.Read(kLegacyProfiles[p], GuardedPortList(), state);
    if (FAILED(read)) {
      snapshot.legacyError = static_cast<std::uint32_t>(read);
      continue;
    }
    LegacyProfileSnapshot& profile = snapshot.legacy[p];
    profile.read = true;
    profile.firewallOn = state.firewallOn;
    for (const LegacyOpeningState& opening : state.openings) profile.openings.push_back(OpeningOf(opening));
    profile.fileAndPrintKnown = state.fileAndPrintKnown;
    profile.fileAndPrintEnabled = state.fileAndPrintEnabled;
    profile.fileAndPrintScope = state.fileAndPrintScope;
    profile.fileAndPrintAddresses = state.fileAndPrintAddresses;
    profile.remoteAdminKnown = state.remoteAdminKnown;
    profile.remoteAdminEnabled = state.remoteAdminEnabled;
  }
}

const char* PathService(int hostClass) {
  return HardensThroughAdvancedPolicy(hostClass) ? kAdvancedFirewallService : kLegacyFirewallService;
}

// The part a stored value belongs to.
unsigned PartOfValue(const StoredValue& value) {
  auto under = [&](const wchar_t* top) {
    const std::wstring prefix = std::wstring(top) + L"\\";
    return value.subkey == top || value.subkey.compare(0, prefix.size(), prefix) == 0;
  };
  if (under(L"Advanced") || under(L"Rules")) return kAdvancedPart;
  if (under(L"Legacy")) return kLegacyPart;
  if (under(L"Services")) return kServicesPart;
  return 0;
}

// Whether the host differs from how the run found it, in the parts read both times.
bool ChangedSince(const HostSnapshot& before, const HostSnapshot& now) {
  if (before.services != now.services) return true;
  if (before.advancedRead && now.advancedRead &&
      (before.profileOn != now.profileOn || !SameRules(before.quillfortRules, now.quillfortRules))) {
    return true;
  }
  return before.LegacyRead() && now.LegacyRead() && before.legacy != now.legacy;
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

HostSnapshot ReadHostSnapshot(int hostClass, unsigned parts) {
  HostSnapshot snapshot;
  snapshot.hostClass = hostClass;
  if (parts & kServicesPart) snapshot.services.push_back(SnapshotOfService(PathService(hostClass)));
  if (parts & kAdvancedPart) ReadAdvanced(snapshot);
  if (parts & kLegacyPart) ReadLegacy(snapshot);
  PutInCanonicalOrder(snapshot);
  return snapshot;
}

LoadedRestorePoint LoadRestorePoint(int hostClass) {
  LoadedRestorePoint loaded;
  host::UniqueRegistryKey key;
  const DWORD opened = OpenRestorePoint(KEY_READ, key);
  if (opened == ERROR_FILE_NOT_FOUND) return loaded;
  loaded.found = true;
  if (opened != ERROR_SUCCESS) {
    loaded.error = opened;
    return loaded;
  }
  // Quillfort keeps every value in the key itself.
  wchar_t subkey[256] = {};
  DWORD subkeyLength = 256;
  if (RegEnumKeyExW(key.get(), 0, subkey, &subkeyLength, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
    loaded.problem = "subkey " + Utf8(std::wstring(subkey, subkeyLength)) + ": not written by Quillfort";
    return loaded;
  }
  DWORD readError = 0;
  const auto values = ReadValues(key.get(), readError);
  if (!values) {
    loaded.error = readError;
    return loaded;
  }
  DecodedRestorePoint decoded = DecodeRestorePoint(*values, hostClass);
  loaded.snapshot = std::move(decoded.snapshot);
  loaded.problem = std::move(decoded.problem);
  return loaded;
}

namespace {

std::uint32_t WriteValues(const std::vector<StoredValue>& values, unsigned parts) {
  HKEY created = nullptr;
  const LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRestorePointKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_WRITE | ViewFlag(), nullptr, &created, nullptr);
  if (status != ERROR_SUCCESS) return static_cast<std::uint32_t>(status);
  host::UniqueRegistryKey key(created);
  // Values in the order given: each part's mark after its values, the version last.
  auto isVersion = [](const StoredValue& v) { return v.subkey.empty() && v.name == L"Version"; };
  for (bool versionPass : {false, true}) {
    for (const StoredValue& value : values) {
      if (isVersion(value) != versionPass) continue;
      const unsigned part = PartOfValue(value);
      if (part != 0 && (parts & part) == 0) continue;
      if (part == 0 && (parts & kServicesPart) == 0) continue;
      const DWORD written = WriteValue(key.get(), value);
      if (written != ERROR_SUCCESS) return written;
    }
  }
  return static_cast<std::uint32_t>(RegFlushKey(key.get()));
}

// RegDeleteKey takes no key with subkeys: those go first, deepest first.
LONG DeleteTree(HKEY parent, const std::wstring& path, REGSAM view) {
  HKEY opened = nullptr;
  LONG status = RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ | KEY_SET_VALUE | view, &opened);
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  host::UniqueRegistryKey key(opened);
  for (;;) {
    wchar_t child[256] = {};
    DWORD length = 256;
    status = RegEnumKeyExW(key.get(), 0, child, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) return status;
    status = DeleteTree(key.get(), std::wstring(child, length), view);
    if (status != ERROR_SUCCESS) return status;
  }
  key.reset();
  using RegDeleteKeyExFunction = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
  const auto deleteKeyEx =
      host::LookUpEntryPoint<RegDeleteKeyExFunction>(GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW");
  status = view != 0 && deleteKeyEx != nullptr ? deleteKeyEx(parent, path.c_str(), view, 0)
                                               : RegDeleteKeyW(parent, path.c_str());
  return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

}  // namespace

std::uint32_t SaveRestorePoint(const HostSnapshot& snapshot) {
  return WriteValues(StoredValuesOf(snapshot), kServicesPart | kAdvancedPart | kLegacyPart);
}

std::uint32_t AddToRestorePoint(const HostSnapshot& snapshot, unsigned parts) {
  std::vector<StoredValue> values = StoredValuesOf(snapshot);
  // The version and class are there already.
  values.erase(std::remove_if(values.begin(), values.end(), [](const StoredValue& v) { return v.subkey.empty(); }),
               values.end());
  return WriteValues(values, parts);
}

std::uint32_t DeleteRestorePoint() {
  return static_cast<std::uint32_t>(DeleteTree(HKEY_LOCAL_MACHINE, kRestorePointKey, ViewFlag()));
}

std::uint32_t RestorePointKeeper::Refuse(std::uint32_t error, std::string problem) {
  problem_ = std::move(problem);
  return error != 0 ? error : kStepFailedWithoutCode;
}

std::uint32_t RestorePointKeeper::Start() {
  started_ = true;
  before_ = ReadHostSnapshot(hostClass_);
  const LoadedRestorePoint loaded = LoadRestorePoint(hostClass_);
  if (loaded.error != 0) {
    return startError_ =
               Refuse(loaded.error, "Cannot read the restore point (error " + std::to_string(loaded.error) + ")");
  }
  if (loaded.found && !loaded.snapshot) {
    return startError_ = Refuse(kRestorePointUnusable, "Restore point unusable, left as it is: " + loaded.problem);
  }
  if (loaded.snapshot) {
    // A later run never overwrites it: it holds the host as the first run found it.
    point_ = loaded.snapshot;
  } else {
    if (!before_->ServicesRead()) {
      return startError_ = Refuse(kStepFailedWithoutCode, std::string("Cannot read the service ") +
                                                              PathService(hostClass_) + " for the restore point");
    }
    HostSnapshot toSave = *before_;
    const std::uint32_t saved = SaveRestorePoint(toSave);
    if (saved != 0) {
      DeleteRestorePoint();  // no half-saved restore point stays behind
      return startError_ = Refuse(saved, "Cannot save the restore point (error " + std::to_string(saved) + ")");
    }
    saved_ = true;
    point_ = toSave;
  }
  recorded_ = kServicesPart;
  if (point_->advancedRead) recorded_ |= kAdvancedPart;
  if (point_->LegacyRead()) recorded_ |= kLegacyPart;
  return 0;
}

// Versions that never changed Remote Administration did not record it: as
// the run finds it before its first change to the legacy profiles, it is as
// they found it. The rest of their legacy part stays as they recorded it.
std::uint32_t RestorePointKeeper::RecordRemoteAdminOfOlderPoint() {
  if (remoteAdminRecorded_) return 0;
  const bool lacking = std::any_of(point_->legacy.begin(), point_->legacy.end(),
                                   [](const LegacyProfileSnapshot& profile) { return !profile.remoteAdminKnown; });
  if (!lacking) {
    remoteAdminRecorded_ = true;
    return 0;
  }
  const HostSnapshot now = ReadHostSnapshot(hostClass_, kLegacyPart);
  if (!now.LegacyRead()) {
    return Refuse(now.legacyError, "Cannot read the legacy firewall for the restore point: nothing in it is changed");
  }
  HostSnapshot updated = *point_;
  for (std::size_t p = 0; p < updated.legacy.size(); ++p) {
    LegacyProfileSnapshot& profile = updated.legacy[p];
    if (profile.remoteAdminKnown || !now.legacy[p].remoteAdminKnown) continue;
    profile.remoteAdminKnown = true;
    profile.remoteAdminEnabled = now.legacy[p].remoteAdminEnabled;
  }
  const std::uint32_t written = AddToRestorePoint(updated, kLegacyPart);
  if (written != 0) return Refuse(written, "Cannot add to the restore point (error " + std::to_string(written) + ")");
  point_ = updated;
  remoteAdminRecorded_ = true;
  return 0;
}

std::uint32_t RestorePointKeeper::BeforeChange(unsigned part) {
  if (!started_) Start();
  if (startError_ != 0) return startError_;
  if (part == kLegacyPart && (recorded_ & kLegacyPart) != 0) return RecordRemoteAdminOfOlderPoint();
  if ((recorded_ & part) == part) return 0;
  const HostSnapshot now = ReadHostSnapshot(hostClass_, part);
  const bool read = part == kAdvancedPart ? now.advancedRead
                    : part == kLegacyPart ? now.LegacyRead()
                                          : now.ServicesRead();
  if (!read) {
    const std::uint32_t error = part == kAdvancedPart ? now.advancedError : now.legacyError;
    return Refuse(error, std::string("Cannot read the ") +
                             (part == kAdvancedPart ? "firewall policy" : "legacy firewall") +
                             " for the restore point: nothing in it is changed");
  }
  HostSnapshot updated = *point_;
  if (part == kAdvancedPart) {
    updated.advancedRead = true;
    updated.profileOn = now.profileOn;
    updated.quillfortRules = now.quillfortRules;
  } else if (part == kLegacyPart) {
    updated.legacy = now.legacy;
  }
  const std::uint32_t added = AddToRestorePoint(updated, part);
  if (added != 0) return Refuse(added, "Cannot add to the restore point (error " + std::to_string(added) + ")");
  point_ = updated;
  recorded_ |= part;
  if (before_) {
    // The run changed nothing here before; the part as read now is how it found it.
    if (part == kAdvancedPart && !before_->advancedRead) {
      before_->advancedRead = true;
      before_->profileOn = now.profileOn;
      before_->quillfortRules = now.quillfortRules;
    }
    if (part == kLegacyPart && !before_->LegacyRead()) before_->legacy = now.legacy;
  }
  return 0;
}

void RestorePointKeeper::AfterRun() {
  if (!before_ || !point_) return;
  const HostSnapshot now = ReadHostSnapshot(hostClass_);
  changed_ = ChangedSince(*before_, now);
  // A restore point of this run over a host it left as it was is no use.
  if (saved_ && !changed_ && RestoreDifferences(*point_, now).empty() && DeleteRestorePoint() == 0) saved_ = false;
}

}  // namespace qf::hardening
