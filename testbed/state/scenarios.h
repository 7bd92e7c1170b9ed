// Named host scenarios: the Windows version Wine reports to Quillfort and the
// host state seeded for it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host_state.h"

namespace testbed {

struct Scenario {
  std::string name;
  std::string summary;
  std::string wineVersion;  // value of AppDefaults\Quillfort.exe\Version
  int hostClass;            // the class Quillfort derives from that version on x64
  HostState seed;
};

const std::vector<Scenario>& AllScenarios();
std::optional<Scenario> FindScenario(std::string_view name);

// Appends count enabled inbound allow rules for ports that no guarded port
// text occurs in, to measure rule walks on a crowded policy.
void AddBulkRules(HostState& state, int count);

}  // namespace testbed
