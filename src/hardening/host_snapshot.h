// What a hardening run may change on a host, read whole: the firewall
// services, the advanced policy's switches and Quillfort's rules, the legacy
// profiles' switches, port openings and File and Printer Sharing. A restore
// point is the snapshot taken before the first change; restore compares it
// with a snapshot taken now. No Windows header here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "firewall/rule_record.h"

namespace qf::hardening {

struct ServiceSnapshot {
  std::string name;
  bool present = false;
  std::uint32_t startType = 0;
  bool running = false;  // running or about to be (start pending)
  bool operator==(const ServiceSnapshot& other) const;
};

// The advanced policy's profiles, in NET_FW_PROFILE_TYPE2 bit order.
inline constexpr std::array<long, 3> kAdvancedProfiles{1, 2, 4};  // domain, private, public
const char* AdvancedProfileName(std::size_t index);

struct LegacyOpening {
  long port = 0;
  long protocol = 6;  // 6 TCP, 17 UDP
  bool exists = false;
  bool enabled = false;
  std::wstring name;
  long scope = 0;  // NET_FW_SCOPE
  bool operator==(const LegacyOpening& other) const;
};

struct LegacyProfileSnapshot {
  bool read = false;
  bool firewallOn = false;
  std::vector<LegacyOpening> openings;  // the guarded ports, TCP then UDP
  bool fileAndPrintKnown = false;
  bool fileAndPrintEnabled = false;
  long fileAndPrintScope = 0;
  bool operator==(const LegacyProfileSnapshot& other) const;
};

// The legacy profiles, in NET_FW_PROFILE_TYPE order.
inline constexpr std::array<long, 2> kLegacyProfiles{0, 1};  // domain, standard
const char* LegacyProfileName(std::size_t index);

struct HostSnapshot {
  int hostClass = 0;
  std::vector<ServiceSnapshot> services;
  bool advancedRead = false;
  std::array<std::optional<bool>, 3> profileOn{};
  std::vector<qf::firewall::RuleRecord> quillfortRules;
  std::array<LegacyProfileSnapshot, 2> legacy{};
  bool operator==(const HostSnapshot& other) const;
  bool operator!=(const HostSnapshot& other) const { return !(*this == other); }
  const ServiceSnapshot* FindService(const std::string& name) const;
};

// Services by name, openings by port then protocol: the order in which
// snapshots are compared and stored.
void PutInCanonicalOrder(HostSnapshot& snapshot);

bool SameRules(const std::vector<qf::firewall::RuleRecord>& a, const std::vector<qf::firewall::RuleRecord>& b);

// ---- the restore point in the registry --------------------------------------
// One value under the restore point's key, or under one of its subkeys.
struct StoredValue {
  std::wstring subkey;  // empty: the key itself
  std::wstring name;
  std::variant<std::uint32_t, std::wstring> data;
  bool operator==(const StoredValue& other) const {
    return subkey == other.subkey && name == other.name && data == other.data;
  }
};

std::vector<StoredValue> StoredValuesOf(const HostSnapshot& snapshot);
// nullopt when the values are no restore point this program wrote.
std::optional<HostSnapshot> SnapshotFromStoredValues(const std::vector<StoredValue>& values);

// ---- what restore does ------------------------------------------------------
enum class RestoreActionKind {
  RemoveRulesNamed,   // text
  AddRule,            // rule
  SetProfileSwitch,   // profile, on
  SetLegacyFirewall,  // profile (legacy), on
  PutOpeningBack,     // profile (legacy), opening (as it was; removed when it did not exist)
  SetFileAndPrint,    // profile (legacy), on, scope
  SetStartType,       // service, number
  StopService,        // service
};

struct RestoreAction {
  RestoreActionKind kind = RestoreActionKind::StopService;
  std::wstring text;
  qf::firewall::RuleRecord rule;
  long profile = 0;
  bool on = false;
  long scope = 0;
  LegacyOpening opening;
  std::string service;
  std::uint32_t number = 0;
};

// The actions that turn the host as it is now back into the saved one, in
// order: rules, switches, openings, then the services the firewall needs
// while it is changed. Only what differs is touched; a service that ran
// before is never stopped.
std::vector<RestoreAction> PlanRestore(const HostSnapshot& saved, const HostSnapshot& now);
std::string RestoreActionName(const RestoreAction& action);

}  // namespace qf::hardening
