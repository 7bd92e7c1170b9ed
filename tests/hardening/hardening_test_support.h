// Snapshots of made-up hosts for the restore point and restore plan tests.
#pragma once

#include <string>
#include <vector>

#include "firewall/policy_decisions.h"
#include "firewall/rule_record.h"
#include "hardening/guarded_ports.h"
#include "hardening/host_snapshot.h"

namespace qf::hardening::testing {

inline qf::firewall::RuleRecord OurRule(long protocol, long port) {
  const std::wstring text = std::to_wstring(port);
  return *qf::firewall::IntendedBlockRule(protocol, text.c_str());
}

// The twelve rules of one run, TCP then UDP for every guarded port.
inline std::vector<qf::firewall::RuleRecord> OneRunOfRules() {
  std::vector<qf::firewall::RuleRecord> rules;
  for (long protocol : {6L, 17L}) {
    for (long port : kGuardedPorts) rules.push_back(OurRule(protocol, port));
  }
  return rules;
}

inline LegacyOpening Opening(long port, long protocol, bool exists, bool enabled = false, std::wstring name = L"",
                             long scope = 0) {
  LegacyOpening opening;
  opening.port = port;
  opening.protocol = protocol;
  opening.exists = exists;
  opening.enabled = enabled;
  opening.name = std::move(name);
  opening.scope = scope;
  return opening;
}

// The guarded ports' openings as the legacy reader lists them: TCP for every
// port, then UDP; none exists.
inline std::vector<LegacyOpening> NoOpenings() {
  std::vector<LegacyOpening> openings;
  for (long protocol : {6L, 17L}) {
    for (long port : kGuardedPorts) openings.push_back(Opening(port, protocol, false));
  }
  return openings;
}

inline LegacyOpening* FindOpening(LegacyProfileSnapshot& profile, long port, long protocol) {
  for (LegacyOpening& opening : profile.openings) {
    if (opening.port == port && opening.protocol == protocol) return &opening;
  }
  return nullptr;
}

// A Windows 7 host before its first run: MpsSvc disabled and stopped, the
// firewall off for private and public, the domain switch unread, no rules.
inline HostSnapshot AdvancedHostBefore() {
  HostSnapshot snapshot;
  snapshot.hostClass = 5;
  snapshot.services = {{"MpsSvc", true, 4, false}, {"SharedAccess", true, 3, false}};
  snapshot.advancedRead = true;
  snapshot.profileOn = {false, false, false};
  return snapshot;
}

// A Server 2003 host before its first run: SharedAccess manual and stopped,
// the standard profile off with an enabled opening for TCP 445, File and
// Printer Sharing and Remote Administration on; the domain profile off with
// nothing open and Remote Administration unread.
inline HostSnapshot LegacyHostBefore() {
  HostSnapshot snapshot;
  snapshot.hostClass = 3;
  snapshot.services = {{"MpsSvc", false, 0, false}, {"SharedAccess", true, 3, false}};
  LegacyProfileSnapshot& standard = snapshot.legacy[1];
  standard.read = true;
  standard.firewallOn = false;
  standard.openings = NoOpenings();
  *FindOpening(standard, 445, 6) = Opening(445, 6, true, true, L"SMB", 1);
  standard.fileAndPrintKnown = true;
  standard.fileAndPrintEnabled = true;
  standard.fileAndPrintScope = 1;
  standard.remoteAdminKnown = true;
  standard.remoteAdminEnabled = true;
  LegacyProfileSnapshot& domain = snapshot.legacy[0];
  domain.read = true;
  domain.openings = NoOpenings();
  return snapshot;
}

}  // namespace qf::hardening::testing
