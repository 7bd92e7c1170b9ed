// What a hardening run would change on a host as read now, found by walking
// the run's own plan over the reading: each service change, each profile
// switch, each rule it would add, each netsh command and whether the
// restore point would be written. The decisions a run makes while it runs
// (an identical rule is not added again, the part a step changes) live
// here too, so the run and its preview share them. No Windows header here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "firewall/rule_record.h"
#include "hardening/hardening_plan.h"
#include "hardening/host_snapshot.h"

namespace qf::hardening {

// The part of the host (kServicesPart, kAdvancedPart, kLegacyPart) a step
// changes; 0 for none. The restore point records it before the step runs.
unsigned PartChangedBy(HardeningAction action, int hostClass);

// A managed run does not add a rule the policy already holds in the same form.
bool HoldsIdenticalBlockRule(const std::vector<qf::firewall::RuleRecord>& rules,
                             const qf::firewall::RuleRecord& intended);

// The advanced profile (1 domain, 2 private, 4 public) the legacy switch of
// a Vista-class host stands for, given the profiles in force: the domain
// profile on a domain network, else the private one, else the public one.
long AdvancedProfileOfLegacySwitch(long profilesInForce);

// The restore point as a run would find it.
enum class RestorePointFound { None, Usable, Unusable };

struct PreviewInput {
  HostSnapshot host;  // every part of the host's path
  // Advanced path: the profiles in force (NET_FW_PROFILE_TYPE2 bits).
  // Legacy path: the index (into kLegacyProfiles) of the current profile.
  std::optional<long> current;
  RestorePointFound restorePoint = RestorePointFound::None;
  unsigned restorePointParts = 0;  // the parts a usable restore point holds
  std::string restorePointProblem;
  bool skipIdenticalRules = true;  // as the console program runs
};

struct PlannedServiceChange {
  std::string service;
  bool start = false;                          // false: the start type is set
  std::optional<std::uint32_t> fromStartType;  // set start type: as it is now
  bool present = true;                         // false: the step would fail
};

struct PlannedSwitch {
  std::string profile;  // "Public", "Private", "Domain"; legacy: "Domain", "Standard"
  bool legacy = false;  // a legacy profile's switch
};

struct PlannedCommand {
  std::string commandLine;
  bool changes = true;  // the host as read differs from what the command leaves
};

enum class RestorePointWrite { Nothing, Save, AddParts, Refused };

struct HardeningPreview {
  int hostClass = 0;
  std::vector<PlannedServiceChange> services;
  std::vector<PlannedSwitch> switches;
  std::vector<qf::firewall::RuleRecord> rulesToAdd;
  int rulesAlreadyPresent = 0;
  std::vector<PlannedCommand> commands;  // every command the run starts, in order
  RestorePointWrite restorePoint = RestorePointWrite::Nothing;
  bool restorePointExists = false;
  unsigned restorePointParts = 0;  // the parts saved or added
  std::string restorePointProblem;
  // Parts that could not be read: nothing is planned for them.
  std::vector<UnreadPart> unread;
  // Parts that answer only once the firewall service the run starts runs:
  // planned as holding nothing yet (every switch off, no rule of ours), all
  // the run could do to them.
  unsigned readOnceServiceRuns = 0;
  bool WouldChange() const;
};

HardeningPreview PreviewHardening(const PreviewInput& input);

// "services", "firewall policy", "legacy profiles" for the parts given.
std::vector<std::string> PartNames(unsigned parts);

}  // namespace qf::hardening
