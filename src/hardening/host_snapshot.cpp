#include "hardening/host_snapshot.h"

#include <algorithm>
#include <map>

namespace qf::hardening {

namespace {

constexpr std::uint32_t kFormatVersion = 1;

bool SameRule(const qf::firewall::RuleRecord& a, const qf::firewall::RuleRecord& b) {
  return a.name == b.name && a.description == b.description && a.grouping == b.grouping &&
         a.localPorts == b.localPorts && a.protocol == b.protocol && a.direction == b.direction &&
         a.action == b.action && a.profiles == b.profiles && a.enabled == b.enabled && a.complete == b.complete;
}

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

// Reads the values back by where they were stored.
class StoredValues {
 public:
  explicit StoredValues(const std::vector<StoredValue>& values) {
    for (const StoredValue& v : values) byPlace_[{v.subkey, v.name}] = &v.data;
  }
  std::optional<std::uint32_t> Number(const std::wstring& subkey, const std::wstring& name) const {
    return Get<std::uint32_t>(subkey, name);
  }
  std::optional<std::wstring> Text(const std::wstring& subkey, const std::wstring& name) const {
    return Get<std::wstring>(subkey, name);
  }
  // A value of the wrong type was asked for: nothing this program wrote.
  bool Malformed() const { return malformed_; }
  // Subkeys directly below parent, in the order the names sort.
  std::vector<std::wstring> Children(const std::wstring& parent) const {
    std::vector<std::wstring> children;
    const std::wstring prefix = parent + L"\\";
    for (const auto& entry : byPlace_) {
      const std::wstring& key = entry.first.first;
      if (key.compare(0, prefix.size(), prefix) != 0) continue;
      std::wstring child = key.substr(prefix.size());
      if (child.find(L'\\') != std::wstring::npos) continue;
      if (std::find(children.begin(), children.end(), child) == children.end()) children.push_back(child);
    }
    return children;
  }

 private:
  template <typename T>
  std::optional<T> Get(const std::wstring& subkey, const std::wstring& name) const {
    auto it = byPlace_.find({subkey, name});
    if (it == byPlace_.end()) return std::nullopt;
    if (!std::holds_alternative<T>(*it->second)) {
      malformed_ = true;
      return std::nullopt;
    }
    return std::get<T>(*it->second);
  }
  std::map<std::pair<std::wstring, std::wstring>, const std::variant<std::uint32_t, std::wstring>*> byPlace_;
  mutable bool malformed_ = false;
};

std::wstring RuleKey(std::size_t index) {
  // Zero-padded so that the keys sort in the rules' order.
  std::wstring number = std::to_wstring(index);
  return L"Rules\\" + std::wstring(number.size() < 6 ? 6 - number.size() : 0, L'0') + number;
}

}  // namespace

bool ServiceSnapshot::operator==(const ServiceSnapshot& other) const {
  return name == other.name && present == other.present && startType == other.startType && running == other.running;
}

bool LegacyOpening::operator==(const LegacyOpening& other) const {
  if (port != other.port || protocol != other.protocol || exists != other.exists) return false;
  return !exists || (enabled == other.enabled && name == other.name && scope == other.scope);
}

bool LegacyProfileSnapshot::operator==(const LegacyProfileSnapshot& other) const {
  return read == other.read && firewallOn == other.firewallOn && openings == other.openings &&
         fileAndPrintKnown == other.fileAndPrintKnown && fileAndPrintEnabled == other.fileAndPrintEnabled &&
         fileAndPrintScope == other.fileAndPrintScope;
}

bool SameRules(const std::vector<qf::firewall::RuleRecord>& a, const std::vector<qf::firewall::RuleRecord>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), SameRule);
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
  number(L"", L"Version", kFormatVersion);
  number(L"", L"HostClass", static_cast<std::uint32_t>(snapshot.hostClass));
  for (const ServiceSnapshot& service : snapshot.services) {
    const std::wstring key = L"Services\\" + Wide(service.name);
    number(key, L"Present", service.present ? 1 : 0);
    number(key, L"StartType", service.startType);
    number(key, L"Running", service.running ? 1 : 0);
  }
  if (snapshot.advancedRead) number(L"Advanced", L"Read", 1);
  // A switch is kept even when the rules could not be read.
  for (std::size_t i = 0; i < snapshot.profileOn.size(); ++i) {
    if (snapshot.profileOn[i]) number(L"Advanced", Wide(AdvancedProfileName(i)), *snapshot.profileOn[i] ? 1 : 0);
  }
  for (std::size_t i = 0; i < snapshot.quillfortRules.size(); ++i) {
    const qf::firewall::RuleRecord& rule = snapshot.quillfortRules[i];
    const std::wstring key = RuleKey(i);
    text(key, L"Name", rule.name);
    text(key, L"Description", rule.description);
    text(key, L"Grouping", rule.grouping);
    text(key, L"LocalPorts", rule.localPorts);
    number(key, L"Protocol", static_cast<std::uint32_t>(rule.protocol));
    number(key, L"Direction", static_cast<std::uint32_t>(rule.direction));
    number(key, L"Action", static_cast<std::uint32_t>(rule.action));
    number(key, L"Profiles", static_cast<std::uint32_t>(rule.profiles));
    number(key, L"Enabled", rule.enabled ? 1 : 0);
  }
  for (std::size_t p = 0; p < snapshot.legacy.size(); ++p) {
    const LegacyProfileSnapshot& profile = snapshot.legacy[p];
    if (!profile.read) continue;
    const std::wstring key = L"Legacy\\" + Wide(LegacyProfileName(p));
    number(key, L"FirewallOn", profile.firewallOn ? 1 : 0);
    if (profile.fileAndPrintKnown) {
      number(key, L"FileAndPrintEnabled", profile.fileAndPrintEnabled ? 1 : 0);
      number(key, L"FileAndPrintScope", static_cast<std::uint32_t>(profile.fileAndPrintScope));
    }
    for (const LegacyOpening& opening : profile.openings) {
      const std::wstring openingKey = OpeningKey(p, opening);
      number(openingKey, L"Port", static_cast<std::uint32_t>(opening.port));
      number(openingKey, L"Protocol", static_cast<std::uint32_t>(opening.protocol));
      number(openingKey, L"Exists", opening.exists ? 1 : 0);
      if (!opening.exists) continue;
      number(openingKey, L"Enabled", opening.enabled ? 1 : 0);
      text(openingKey, L"Name", opening.name);
      number(openingKey, L"Scope", static_cast<std::uint32_t>(opening.scope));
    }
  }
  return values;
}

std::optional<HostSnapshot> SnapshotFromStoredValues(const std::vector<StoredValue>& values) {
  const StoredValues stored(values);
  if (stored.Number(L"", L"Version") != kFormatVersion) return std::nullopt;
  const std::optional<std::uint32_t> hostClass = stored.Number(L"", L"HostClass");
  if (!hostClass) return std::nullopt;
  HostSnapshot snapshot;
  snapshot.hostClass = static_cast<int>(*hostClass);
  for (const std::wstring& name : stored.Children(L"Services")) {
    const std::wstring key = L"Services\\" + name;
    const auto present = stored.Number(key, L"Present");
    const auto startType = stored.Number(key, L"StartType");
    const auto running = stored.Number(key, L"Running");
    if (!present || !startType || !running) return std::nullopt;
    snapshot.services.push_back({Narrow(name), *present != 0, *startType, *running != 0});
  }
  snapshot.advancedRead = stored.Number(L"Advanced", L"Read") == 1u;
  for (std::size_t i = 0; i < snapshot.profileOn.size(); ++i) {
    if (const auto on = stored.Number(L"Advanced", Wide(AdvancedProfileName(i)))) snapshot.profileOn[i] = *on != 0;
  }
  for (const std::wstring& child : stored.Children(L"Rules")) {
    const std::wstring key = L"Rules\\" + child;
    qf::firewall::RuleRecord rule;
    const auto name = stored.Text(key, L"Name");
    const auto description = stored.Text(key, L"Description");
    const auto grouping = stored.Text(key, L"Grouping");
    const auto localPorts = stored.Text(key, L"LocalPorts");
    const auto protocol = stored.Number(key, L"Protocol");
    const auto direction = stored.Number(key, L"Direction");
    const auto action = stored.Number(key, L"Action");
    const auto profiles = stored.Number(key, L"Profiles");
    const auto enabled = stored.Number(key, L"Enabled");
    if (!name || !description || !grouping || !localPorts || !protocol || !direction || !action || !profiles ||
        !enabled) {
      return std::nullopt;
    }
    rule.name = *name;
    rule.description = *description;
    rule.grouping = *grouping;
    rule.localPorts = *localPorts;
    rule.protocol = static_cast<long>(*protocol);
    rule.direction = static_cast<long>(*direction);
    rule.action = static_cast<long>(*action);
    rule.profiles = static_cast<long>(*profiles);
    rule.enabled = *enabled != 0;
    snapshot.quillfortRules.push_back(rule);
  }
  for (std::size_t p = 0; p < snapshot.legacy.size(); ++p) {
    const std::wstring key = L"Legacy\\" + Wide(LegacyProfileName(p));
    const auto firewallOn = stored.Number(key, L"FirewallOn");
    if (!firewallOn) continue;
    LegacyProfileSnapshot& profile = snapshot.legacy[p];
    profile.read = true;
    profile.firewallOn = *firewallOn != 0;
    const auto fpsEnabled = stored.Number(key, L"FileAndPrintEnabled");
    const auto fpsScope = stored.Number(key, L"FileAndPrintScope");
    if (fpsEnabled.has_value() != fpsScope.has_value()) return std::nullopt;
    profile.fileAndPrintKnown = fpsEnabled && fpsScope;
    if (profile.fileAndPrintKnown) {
      profile.fileAndPrintEnabled = *fpsEnabled != 0;
      profile.fileAndPrintScope = static_cast<long>(*fpsScope);
    }
    for (const std::wstring& child : stored.Children(key + L"\\Openings")) {
      const std::wstring openingKey = key + L"\\Openings\\" + child;
      const auto port = stored.Number(openingKey, L"Port");
      const auto protocol = stored.Number(openingKey, L"Protocol");
      const auto exists = stored.Number(openingKey, L"Exists");
      if (!port || !protocol || !exists) return std::nullopt;
      LegacyOpening opening;
      opening.port = static_cast<long>(*port);
      opening.protocol = static_cast<long>(*protocol);
      opening.exists = *exists != 0;
      if (opening.exists) {
        const auto enabled = stored.Number(openingKey, L"Enabled");
        const auto name = stored.Text(openingKey, L"Name");
        const auto scope = stored.Number(openingKey, L"Scope");
        if (!enabled || !name || !scope) return std::nullopt;
        opening.enabled = *enabled != 0;
        opening.name = *name;
        opening.scope = static_cast<long>(*scope);
      }
      profile.openings.push_back(opening);
    }
  }
  if (stored.Malformed()) return std::nullopt;
  PutInCanonicalOrder(snapshot);
  return snapshot;
}

}  // namespace qf::hardening
