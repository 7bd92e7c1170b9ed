// Whether two states of the simulated host are the same host: what an undo
// must give back. The double's own history (service start counters, the
// count of rule additions, the netsh log) is not part of the host.
#pragma once

#include <optional>
#include <string>

#include "host_state.h"

namespace testbed {

// Rules are enumerated in insertion order; a rule taken out and added again
// comes last. Ignored: the same rules in any order are the same policy.
enum class RuleOrder { Matters, Ignored };

// The first difference in one line ("rule 3: enabled differs", "service
// MpsSvc: startType 2 vs 3"), or nothing when the hosts are the same.
// Rules are numbered from 1 in enumeration order.
std::optional<std::string> FirstHostDifference(const HostState& a, const HostState& b,
                                               RuleOrder order = RuleOrder::Matters);

inline bool SameHost(const HostState& a, const HostState& b, RuleOrder order = RuleOrder::Matters) {
  return !FirstHostDifference(a, b, order);
}

}  // namespace testbed
