#include "hardening/host_snapshot.h"

#include <algorithm>
#include <map>

#include "hardening/rule_identity.h"

namespace qf::hardening {

namespace {

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }
std::string Narrow(const std::wstring& ascii) {
  std::string out;
  for (wchar_t c : ascii) out += static_cast<char>(c);
  return out;
}

const char* ProtocolWord(long protocol) { return protocol == 17 ? "UDP" : "TCP"; }

std::wstring OpeningKey(std::size_t profile, const LegacyOpening& opening) {
  return L"Legacy\\" + Wide(LegacyProfileName(profile)) + L"\\Openings\\" + std::to_wstring(opening.port) + L" " +
         Wide(ProtocolWord(opening.protocol));
}

// The first problem found ends the reading; its text names the value.
struct Unusable {
  std::string problem;
};

std::string Place(const std::wstring& subkey, const std::wstring& name) {
  return Utf8(subkey.empty() ? name : subkey + L"\\" + name);
}

// Reads the values back by where they were stored; a value missing, of the
// wrong type or out of its range throws Unusable naming it.
class StoredValues {
 public:
  explicit StoredValues(const std::vector<StoredValue>& values) {
    for (const StoredValue& v : values) byPlace_[{v.subkey, v.name}] = &v.data;
  }
  bool Has(const std::wstring& subkey, const std::wstring& name) const { return byPlace_.count({subkey, name}) != 0; }
  std::uint32_t Number(const std::wstring& subkey, const std::wstring& name, std::uint32_t lowest = 0,
                       std::uint32_t highest = 0xFFFFFFFFu) const {
    const auto* data = Find(subkey, name);
    const auto* number = std::get_if<std::uint32_t>(data);
    if (number == nullptr) throw Unusable{Place(subkey, name) + ": not a number"};
    if (*number < lowest || *number > highest) {
      throw Unusable{Place(subkey, name) + ": " + std::to_string(*number) + " is out of range"};
    }
    return *number;
  }
  bool Flag(const std::wstring& subkey, const std::wstring& name) const { return Number(subkey, name, 0, 1) != 0; }
  std::wstring Text(const std::wstring& subkey, const std::wstring& name) const {
    const auto* text = std::get_if<std::wstring>(Find(subkey, name));
    if (text == nullptr) throw Unusable{Place(subkey, name) + ": not a text"};
    return *text;
  }
  // Any value at top or below it.
  bool AnyUnder(const std::wstring& top) const {
    const std::wstring prefix = top + L"\\";
    for (const auto& entry : byPlace_) {
      const std::wstring& key = entry.first.first;
      if (key == top || key.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
  }
  // Subkeys directly below parent, in the order the names sort.
  std::vector<std::wstring> Children(const std::wstring& parent) const {
    std::vector<std::wstring> children;
    const std::wstring prefix = parent + L"\\";
    for (const auto& entry : byPlace_) {
      const std::wstring& key = entry.first.first;
      if (key.compare(0, prefix.size(), prefix) != 0) continue;
      std::wstring child = key.substr(prefix.size());
      if (child.find(L'\\') != std::wstring::npos) child = child.substr(0, child.find(L'\\'));
      if (std::find(children.begin(), children.end(), child) == children.end()) children.push_back(child);
    }
    return children;
  }

 private:
  const std::variant<std::uint32_t, std::wstring>* Find(const std::wstring& subkey, const std::wstring& name) const {
    auto it = byPlace_.find({subkey, name});
    if (it == byPlace_.end()) throw Unusable{Place(subkey, name) + ": missing"};
    return it->second;
  }
  std::map<std::pair<std::wstring, std::wstring>, const std::variant<std::uint32_t, std::wstring>*> byPlace_;
};

std::wstring RuleKey(std::size_t index) {
  // Zero-padded so that the keys sort in the rules' order.
  std::wstring number = std::to_wstring(index);
  return L"Rules\\" + std::wstring(number.size() < 6 ? 6 - number.size() : 0, L'0') + number;
}

constexpr std::uint32_t kHighestStartType = 4;  // SERVICE_DISABLED
constexpr std::uint32_t kHighestScope = 2;      // NET_FW_SCOPE_CUSTOM
constexpr std::uint32_t kHighestHostClass = 6;

qf::firewall::RuleRecord RuleFrom(const StoredValues& stored, const std::wstring& key) {
  qf::firewall::RuleRecord rule;
  rule.name = stored.Text(key, L"Name");
  rule.description = stored.Text(key, L"Description");
  rule.grouping = stored.Text(key, L"Grouping");
  rule.localPorts = stored.Text(key, L"LocalPorts");
  rule.remotePorts = stored.Text(key, L"RemotePorts");
  rule.localAddresses = stored.Text(key, L"LocalAddresses");
  rule.remoteAddresses = stored.Text(key, L"RemoteAddresses");
  rule.applicationName = stored.Text(key, L"ApplicationName");
  rule.serviceName = stored.Text(key, L"ServiceName");
  rule.interfaceTypes = stored.Text(key, L"InterfaceTypes");
  rule.protocol = static_cast<long>(stored.Number(key, L"Protocol", 0, 256));
  rule.direction = static_cast<long>(stored.Number(key, L"Direction", 1, 2));
  rule.action = static_cast<long>(stored.Number(key, L"Action", 0, 1));
  rule.profiles = static_cast<long>(stored.Number(key, L"Profiles"));
  rule.enabled = stored.Flag(key, L"Enabled");
  return rule;
}

LegacyOpening OpeningFrom(const StoredValues& stored, const std::wstring& key) {
  LegacyOpening opening;
  opening.port = static_cast<long>(stored.Number(key, L"Port", 1, 65535));
  opening.protocol = static_cast<long>(stored.Number(key, L"Protocol", 6, 17));
  if (opening.protocol != 6 && opening.protocol != 17) throw Unusable{Place(key, L"Protocol") + ": out of range"};
  opening.exists = stored.Flag(key, L"Exists");
  if (!opening.exists) return opening;
  opening.enabled = stored.Flag(key, L"Enabled");
  opening.name = stored.Text(key, L"Name");
  opening.scope = static_cast<long>(stored.Number(key, L"Scope", 0, kHighestScope));
  opening.remoteAddresses = stored.Text(key, L"RemoteAddresses");
  return opening;
}

HostSnapshot Decode(const StoredValues& stored, int hostClass) {
  if (!stored.Has(L"", L"Version")) throw Unusable{"Version: missing (not a restore point Quillfort finished)"};
  const std::uint32_t version = stored.Number(L"", L"Version");
  if (version < kOldestRestorePointVersion || version > kRestorePointVersion) {
    throw Unusable{"Version: " + std::to_string(version) + " (this Quillfort reads versions " +
                   std::to_string(kOldestRestorePointVersion) + " to " + std::to_string(kRestorePointVersion) +
                   " only)"};
  }
  HostSnapshot snapshot;
  snapshot.hostClass = static_cast<int>(stored.Number(L"", L"HostClass", 0, kHighestHostClass));
  if (hostClass >= 0 && snapshot.hostClass != hostClass) {
    throw Unusable{"HostClass: " + std::to_string(snapshot.hostClass) + " (saved on another kind of host; this is " +
                   std::to_string(hostClass) + ")"};
  }
  const std::vector<std::wstring> services = stored.Children(L"Services");
  if (services.empty()) throw Unusable{"Services: missing"};
  for (const std::wstring& name : services) {
    const std::wstring key = L"Services\\" + name;
    ServiceSnapshot service;
    service.name = Narrow(name);
    service.present = stored.Flag(key, L"Present");
    service.startType = stored.Number(key, L"StartType", 0, kHighestStartType);
    service.running = stored.Flag(key, L"Running");
    snapshot.services.push_back(service);
  }
  if (stored.Has(L"Advanced", L"Read")) {
    if (!stored.Flag(L"Advanced", L"Read")) throw Unusable{"Advanced\\Read: out of range"};
    snapshot.advancedRead = true;
    for (std::size_t i = 0; i < snapshot.profileOn.size(); ++i) {
      snapshot.profileOn[i] = stored.Flag(L"Advanced", Wide(AdvancedProfileName(i)));
    }
    for (const std::wstring& child : stored.Children(L"Rules")) {
      snapshot.quillfortRules.push_back(RuleFrom(stored, L"Rules\\" + child));
    }
  } else if (stored.AnyUnder(L"Rules") || stored.AnyUnder(L"Advanced")) {
    throw Unusable{"Advanced\\Read: missing"};
  }
  if (stored.Has(L"Legacy", L"Read")) {
    if (!stored.Flag(L"Legacy", L"Read")) throw Unusable{"Legacy\\Read: out of range"};
    for (std::size_t p = 0; p < snapshot.legacy.size(); ++p) {
      const std::wstring key = L"Legacy\\" + Wide(LegacyProfileName(p));
      LegacyProfileSnapshot& profile = snapshot.legacy[p];
      profile.read = true;
      profile.firewallOn = stored.Flag(key, L"FirewallOn");
      profile.fileAndPrintKnown = stored.Flag(key, L"FileAndPrintKnown");
      if (profile.fileAndPrintKnown) {
        profile.fileAndPrintEnabled = stored.Flag(key, L"FileAndPrintEnabled");
        profile.fileAndPrintScope = static_cast<long>(stored.Number(key, L"FileAndPrintScope", 0, kHighestScope));
        profile.fileAndPrintAddresses = stored.Text(key, L"FileAndPrintAddresses");
      }
      // Absent from the restore points of versions that left it alone.
      profile.remoteAdminKnown = stored.Has(key, L"RemoteAdminEnabled");
      if (profile.remoteAdminKnown) profile.remoteAdminEnabled = stored.Flag(key, L"RemoteAdminEnabled");
      for (const std::wstring& child : stored.Children(key + L"\\Openings")) {
        profile.openings.push_back(OpeningFrom(stored, key + L"\\Openings\\" + child));
      }
    }
  } else if (stored.AnyUnder(L"Legacy")) {
    throw Unusable{"Legacy\\Read: missing"};
  }
  PutInCanonicalOrder(snapshot);
  return snapshot;
}

}  // namespace

std::string Utf8(const std::wstring& text) { return qf::firewall::Utf8Text(text); }

bool ServiceSnapshot::operator==(const ServiceSnapshot& other) const {
  return name == other.name && read == other.read && present == other.present && startType == other.startType &&
         running == other.running;
}

bool LegacyOpening::operator==(const LegacyOpening& other) const {
  if (port != other.port || protocol != other.protocol || exists != other.exists) return false;
  return !exists || (enabled == other.enabled && name == other.name && scope == other.scope &&
                     (scope != 2 || remoteAddresses == other.remoteAddresses));
}

bool LegacyProfileSnapshot::operator==(const LegacyProfileSnapshot& other) const {
  return read == other.read && firewallOn == other.firewallOn && openings == other.openings &&
         fileAndPrintKnown == other.fileAndPrintKnown && fileAndPrintEnabled == other.fileAndPrintEnabled &&
         fileAndPrintScope == other.fileAndPrintScope &&
         (fileAndPrintScope != 2 || fileAndPrintAddresses == other.fileAndPrintAddresses) &&
         remoteAdminKnown == other.remoteAdminKnown && remoteAdminEnabled == other.remoteAdminEnabled;
}

bool SameRules(const std::vector<qf::firewall::RuleRecord>& a, const std::vector<qf::firewall::RuleRecord>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), SameRecordedRule);
}

bool HostSnapshot::ServicesRead() const {
  return std::all_of(services.begin(), services.end(), [](const ServiceSnapshot& s) { return s.read; });
}

bool HostSnapshot::operator==(const HostSnapshot& other) const {
  return hostClass == other.hostClass && services == other.services && advancedRead == other.advancedRead &&
         profileOn == other.profileOn && SameRules(quillfortRules, other.quillfortRules) && legacy == other.legacy;
}

const ServiceSnapshot* HostSnapshot::FindService(const std::string& name) const {
  for (const ServiceSnapshot& service : services) {
    if (service.name == name) return &service;
  }
  return nullptr;
}

const char* AdvancedProfileName(std::size_t index) {
  static const char* const names[] = {"Domain", "Private", "Public"};
  return index < 3 ? names[index] : "Unknown";
}

const char* LegacyProfileName(std::size_t index) {
  static const char* const names[] = {"Domain", "Standard"};
  return index < 2 ? names[index] : "Unknown";
}

void PutInCanonicalOrder(HostSnapshot& snapshot) {
  std::sort(snapshot.services.begin(), snapshot.services.end(),
            [](const ServiceSnapshot& a, const ServiceSnapshot& b) { return a.name < b.name; });
  for (LegacyProfileSnapshot& profile : snapshot.legacy) {
    std::sort(profile.openings.begin(), profile.openings.end(), [](const LegacyOpening& a, const LegacyOpening& b) {
      return a.port != b.port ? a.port < b.port : a.protocol < b.protocol;
    });
  }
}

std::vector<StoredValue> StoredValuesOf(const HostSnapshot& snapshot) {
  std::vector<StoredValue> values;
  auto number = [&](std::wstring subkey, std::wstring name, std::uint32_t value) {
    values.push_back({std::move(subkey), std::move(name), value});
  };
  auto text = [&](std::wstring subkey, std::wstring name, std::wstring value) {
    values.push_back({std::move(subkey), std::move(name), std::move(value)});
  };
  number(L"", L"Version", kRestorePointVersion);
  number(L"", L"HostClass", static_cast<std::uint32_t>(snapshot.hostClass));
  for (const ServiceSnapshot& service : snapshot.services) {
    if (!service.read) continue;
    const std::wstring key = L"Services\\" + Wide(service.name);
    number(key, L"Present", service.present ? 1 : 0);
    number(key, L"StartType", service.startType);
    number(key, L"Running", service.running ? 1 : 0);
  }
  const bool switchesRead = std::all_of(snapshot.profileOn.begin(), snapshot.profileOn.end(),
                                        [](const std::optional<bool>& on) { return on.has_value(); });
  if (snapshot.advancedRead && switchesRead) {
    for (std::size_t i = 0; i < snapshot.profileOn.size(); ++i) {
      number(L"Advanced", Wide(AdvancedProfileName(i)), *snapshot.profileOn[i] ? 1 : 0);
    }
    for (std::size_t i = 0; i < snapshot.quillfortRules.size(); ++i) {
      const qf::firewall::RuleRecord& rule = snapshot.quillfortRules[i];
      const std::wstring key = RuleKey(i);
      text(key, L"Name", rule.name);
      text(key, L"Description", rule.description);
      text(key, L"Grouping", rule.grouping);
      text(key, L"LocalPorts", rule.localPorts);
      text(key, L"RemotePorts", rule.remotePorts);
      text(key, L"LocalAddresses", rule.localAddresses);
      text(key, L"RemoteAddresses", rule.remoteAddresses);
      text(key, L"ApplicationName", rule.applicationName);
      text(key, L"ServiceName", rule.serviceName);
      text(key, L"InterfaceTypes", rule.interfaceTypes);
      number(key, L"Protocol", static_cast<std::uint32_t>(rule.protocol));
      number(key, L"Direction", static_cast<std::uint32_t>(rule.direction));
      number(key, L"Action", static_cast<std::uint32_t>(rule.action));
      number(key, L"Profiles", static_cast<std::uint32_t>(rule.profiles));
      number(key, L"Enabled", rule.enabled ? 1 : 0);
    }
    // The part's mark comes after its values.
    number(L"Advanced", L"Read", 1);
  }
  if (snapshot.LegacyRead()) {
    for (std::size_t p = 0; p < snapshot.legacy.size(); ++p) {
      const LegacyProfileSnapshot& profile = snapshot.legacy[p];
      const std::wstring key = L"Legacy\\" + Wide(LegacyProfileName(p));
      number(key, L"FirewallOn", profile.firewallOn ? 1 : 0);
      number(key, L"FileAndPrintKnown", profile.fileAndPrintKnown ? 1 : 0);
      if (profile.fileAndPrintKnown) {
        number(key, L"FileAndPrintEnabled", profile.fileAndPrintEnabled ? 1 : 0);
        number(key, L"FileAndPrintScope", static_cast<std::uint32_t>(profile.fileAndPrintScope));
        text(key, L"FileAndPrintAddresses", profile.fileAndPrintAddresses);
      }
      if (profile.remoteAdminKnown) number(key, L"RemoteAdminEnabled", profile.remoteAdminEnabled ? 1 : 0);
      for (const LegacyOpening& opening : profile.openings) {
        const std::wstring openingKey = OpeningKey(p, opening);
        number(openingKey, L"Port", static_cast<std::uint32_t>(opening.port));
        number(openingKey, L"Protocol", static_cast<std::uint32_t>(opening.protocol));
        number(openingKey, L"Exists", opening.exists ? 1 : 0);
        if (!opening.exists) continue;
        number(openingKey, L"Enabled", opening.enabled ? 1 : 0);
        text(openingKey, L"Name", opening.name);
        number(openingKey, L"Scope", static_cast<std::uint32_t>(opening.scope));
        text(openingKey, L"RemoteAddresses", opening.remoteAddresses);
      }
    }
    number(L"Legacy", L"Read", 1);
  }
  return values;
}

DecodedRestorePoint DecodeRestorePoint(const std::vector<StoredValue>& values, int hostClass) {
  DecodedRestorePoint decoded;
  try {
    decoded.snapshot = Decode(StoredValues(values), hostClass);
  } catch (const Unusable& unusable) {
    decoded.problem = unusable.problem;
  }
  return decoded;
}

std::optional<HostSnapshot> SnapshotFromStoredValues(const std::vector<StoredValue>& values) {
  return DecodeRestorePoint(values).snapshot;
}

}  // namespace qf::hardening
