// What the console program reports about a host and about a run: plain data,
// filled by the Windows side and rendered as text or JSON by the portable side.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hardening/hardening_preview.h"
#include "host/host_role.h"

namespace qf::hardening {

// How a host class is hardened: the advanced policy (Vista and later) or the
// legacy profile and netsh (older and unrecognised hosts).
enum class FirewallPath { Advanced, Legacy };

inline constexpr std::uint32_t kServiceDisabled = 4;  // SERVICE_DISABLED

struct ServiceReport {
  std::string name;                        // "MpsSvc" or "SharedAccess"
  bool present = false;                    // known to the service manager
  std::optional<std::uint32_t> startType;  // 2 automatic, 3 manual, 4 disabled; unset when unreadable
  std::optional<std::uint32_t> state;      // SERVICE_STOPPED (1) .. SERVICE_PAUSED (7); unset when unreadable
};

// One profile of the advanced policy: "domain", "private" or "public".
struct ProfileReport {
  std::string name;
  std::optional<bool> on;  // unset when the switch could not be read
  bool inForce = false;    // among the profiles of the networks the host is on
};

struct PortReport {
  long port = 0;
  bool tcpBlocked = false;
  bool udpBlocked = false;
  // Advanced path: enabled inbound block rules that cover the port for TCP,
  // UDP or any protocol, whatever their profiles.
  std::optional<int> blockRules;
  // Legacy path: an enabled opening of the port (a globally open port or a
  // service exception, TCP or UDP) on the current profile.
  std::optional<bool> openingEnabled;
  // Why each protocol reads as it does ("blocked by local rule \"...\"").
  std::string tcpReason;
  std::string udpReason;
};

struct StatusReport {
  std::string hostLabel;  // "WIN7X64" and the like; empty when unknown
  int hostClass = 0;
  FirewallPath path = FirewallPath::Legacy;
  bool firewallOn = false;              // the panel's firewall line
  std::vector<ProfileReport> profiles;  // advanced path only: domain, private, public
  std::vector<ServiceReport> services;  // the firewall service of the path
  std::vector<PortReport> ports;        // 445, 135, 136, 137, 138, 139
  int quillfortRules = 0;               // rules carrying Quillfort's grouping
  bool hardened = false;                // the dialog's completion rule
  host::HostRole role;                  // what the host serves on the guarded ports
  // What keeps the host from the hardened state that a run cannot mend
  // ("Group policy ignores local rules: public profile").
  std::vector<std::string> causes;
};

// A step of a run that failed, with what the firewall and service code
// wrote while it ran.
struct FailedStep {
  std::string step;  // "AddBlockRule TCP 445"
  std::uint32_t code = 0;
  std::vector<std::string> diagnostics;
};

struct HardenReport {
  bool changed = false;            // anything on the host was changed
  bool restorePointSaved = false;  // this run saved the restore point
  int rulesAdded = 0;
  int rulesAlreadyPresent = 0;  // identical rules that were not added again
  std::vector<FailedStep> failedSteps;
  std::vector<std::string> stillExposed;  // "firewall off", "port 445"
  bool accessDenied = false;              // the first failure was an access-denied answer
  // The host serves the guarded ports and the run was not forced: nothing
  // was changed; after.role says why.
  bool refused = false;
  StatusReport after;
};

struct RestoreReport {
  bool restorePointFound = false;
  // Found but not one to act on (damaged, of another host or version): which
  // value and why. Such a restore point is left untouched.
  std::string restorePointProblem;
  bool changed = false;
  int rulesRemoved = 0;
  std::vector<std::string> servicesStopped;
  // The host read again after the restore, where it still differs from the
  // restore point; the restore point is kept while anything differs.
  std::vector<std::string> differences;
  bool restorePointKept = false;
  std::vector<FailedStep> failedSteps;
  bool accessDenied = false;
  StatusReport after;
};

// What harden would do, found without changing anything.
struct WhatIfReport {
  HardeningPreview plan;
  // The host serves the guarded ports and the run is not forced: harden
  // would refuse before its first change; host.role says why.
  bool refused = false;
  StatusReport host;  // as read now
};

}  // namespace qf::hardening
