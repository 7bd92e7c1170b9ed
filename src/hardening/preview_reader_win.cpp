#include <windows.h>

#include "firewall/advanced_firewall.h"
#include "firewall/legacy_profiles.h"
#include "hardening/hardening_plan.h"
#include "hardening/host_access.h"

namespace qf::hardening {

namespace {

std::optional<long> ProfilesInForce() {
  CAdvancedFirewall policy;
  if (!policy.Initialize()) return std::nullopt;
  return policy.ReadCurrentProfiles();
}

std::optional<long> CurrentLegacyProfileIndex() {
  CLegacyProfiles profiles;
  long type = 0;
  if (FAILED(profiles.Open()) || FAILED(profiles.CurrentType(type))) return std::nullopt;
  for (std::size_t i = 0; i < kLegacyProfiles.size(); ++i) {
    if (kLegacyProfiles[i] == type) return static_cast<long>(i);
  }
  return std::nullopt;
}

}  // namespace

PreviewInput ReadPreviewInput(int hostClass) {
  PreviewInput input;
  input.host = ReadHostSnapshot(hostClass);
  input.current = HardensThroughAdvancedPolicy(hostClass) ? ProfilesInForce() : CurrentLegacyProfileIndex();
  const LoadedRestorePoint loaded = LoadRestorePoint(hostClass);
  if (loaded.snapshot) {
    input.restorePoint = RestorePointFound::Usable;
    input.restorePointParts = kServicesPart;
    if (loaded.snapshot->advancedRead) input.restorePointParts |= kAdvancedPart;
    if (loaded.snapshot->LegacyRead()) input.restorePointParts |= kLegacyPart;
  } else if (loaded.found) {
    input.restorePoint = RestorePointFound::Unusable;
    input.restorePointProblem =
        loaded.error != 0 ? "cannot be read (error " + std::to_string(loaded.error) + ")" : loaded.problem;
  }
  return input;
}

}  // namespace qf::hardening
