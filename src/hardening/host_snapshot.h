// What a hardening run may change on a host, read whole: the firewall
// services, the advanced policy's switches and Quillfort's rules, the legacy
// profiles' switches, port openings, File and Printer Sharing and Remote
// Administration. A restore point is the snapshot taken before the first
// change; restore compares it with a snapshot taken now. No Windows header
// here.
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
  bool read = true;      // false: the service manager did not answer (not: no such service)
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
  long scope = 0;                // NET_FW_SCOPE
  std::wstring remoteAddresses;  // what a custom scope is made of
  bool operator==(const LegacyOpening& other) const;
};

struct LegacyProfileSnapshot {
  bool read = false;
  bool firewallOn = false;
  std::vector<LegacyOpening> openings;  // the guarded ports, TCP then UDP
  bool fileAndPrintKnown = false;
  bool fileAndPrintEnabled = false;
  long fileAndPrintScope = 0;
  std::wstring fileAndPrintAddresses;
  bool remoteAdminKnown = false;  // restore points of older versions lack it
  bool remoteAdminEnabled = false;
  bool operator==(const LegacyProfileSnapshot& other) const;
};

// The legacy profiles, in NET_FW_PROFILE_TYPE order.
inline constexpr std::array<long, 2> kLegacyProfiles{0, 1};  // domain, standard
const char* LegacyProfileName(std::size_t index);

// The parts of a host a run may change; a restore point holds each part
// whole or not at all. A part is recorded before the run's first change to
// it, so a part missing from a restore point is one the run never changed.
struct HostSnapshot {
  int hostClass = 0;
  // The firewall service of the host's path (MpsSvc or SharedAccess) only:
  // the other name may be another service (Internet Connection Sharing).
  std::vector<ServiceSnapshot> services;
  // Every switch and every rule recordedByRestorePoint was read.
  bool advancedRead = false;
  std::uint32_t advancedError = 0;  // why not, when known
  std::array<std::optional<bool>, 3> profileOn{};
  // Rules of Quillfort's grouping or with one of its rule names, every
  // property, whoever made them.
  std::vector<qf::firewall::RuleRecord> quillfortRules;
  std::array<LegacyProfileSnapshot, 2> legacy{};
  std::uint32_t legacyError = 0;
  // Both legacy profiles read.
  bool LegacyRead() const { return legacy[0].read && legacy[1].read; }
  bool ServicesRead() const;
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

// The format of the values; restore points of any other version are left
// alone, but for the one before, which lacks only Remote Administration.
inline constexpr std::uint32_t kRestorePointVersion = 3;
inline constexpr std::uint32_t kOldestRestorePointVersion = 2;

// Only the parts read are stored; an unread part is never stored as empty.
std::vector<StoredValue> StoredValuesOf(const HostSnapshot& snapshot);

struct DecodedRestorePoint {
  std::optional<HostSnapshot> snapshot;
  // Why the values are no restore point to act on, naming the value:
  // "Services\MpsSvc\StartType: not a number". Empty with a snapshot.
  std::string problem;
};
// hostClass: the class of the host reading it; a restore point of another
// class was written elsewhere (-1: not checked).
DecodedRestorePoint DecodeRestorePoint(const std::vector<StoredValue>& values, int hostClass = -1);
// nullopt when the values are no restore point this program can act on.
std::optional<HostSnapshot> SnapshotFromStoredValues(const std::vector<StoredValue>& values);

// ---- what restore does ------------------------------------------------------
enum class RestoreActionKind {
  RemoveRule,         // rule (exactly as read now)
  SetProfileSwitch,   // profile, on
  SetLegacyFirewall,  // profile (legacy), on
  PutOpeningBack,     // profile (legacy), opening (as it was; removed when it did not exist)
  SetFileAndPrint,    // profile (legacy), on, scope
  SetRemoteAdmin,     // profile (legacy), on
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

// A part the restore point holds that cannot be read now: restore cannot
// put it back, and says so.
struct UnreadPart {
  std::string step;  // "ReadFirewallPolicy"
  std::uint32_t code = 0;
};

struct RestorePlan {
  std::vector<RestoreAction> actions;
  std::vector<UnreadPart> unread;
};

// The actions that turn the host as it is now back into the saved one, in
// order: the rules Quillfort added (and only those), switches, openings,
// then the services. Only recorded parts are touched, only what differs; a
// service that ran before is never stopped, and none is touched while a
// firewall part cannot be read or put back (the firewall needs it then).
RestorePlan PlanRestore(const HostSnapshot& saved, const HostSnapshot& now);
std::string RestoreActionName(const RestoreAction& action);

// What still differs from the restore point after a restore, read again:
// "rule @QXRuleOptions.exe, TCP-445 still present", "Private firewall on
// (was off)". Empty when every recorded item is back.
std::vector<std::string> RestoreDifferences(const HostSnapshot& saved, const HostSnapshot& now);

// Text for diagnostics and reports: rule names may hold any character.
std::string Utf8(const std::wstring& text);

}  // namespace qf::hardening
