// What each step of a hardening run came to, and when the run may call
// itself complete: every checked step succeeded and the panel, read again
// afterwards, shows the firewall on and every port the run blocks blocked.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "hardening/guarded_ports.h"

// The code recorded for a step whose operation tells only yes or no (E_FAIL);
// the firewall objects write the precise status on their own lines.
inline constexpr std::uint32_t kStepFailedWithoutCode = 0x80004005u;

// An access-denied answer: ERROR_ACCESS_DENIED from the service manager or
// the registry, E_ACCESSDENIED from the firewall. The caller was not elevated.
bool IsAccessDenied(std::uint32_t code);

struct StepOutcome {
  std::string step;    // the operation and what it was given, e.g. "AddBlockRule TCP 445"
  std::uint32_t code;  // 0 when it succeeded
};

class HardeningOutcome {
 public:
  // code 0: the step succeeded.
  void Record(std::string step, std::uint32_t code);
  // For operations that report only success or failure.
  void RecordSuccess(std::string step, bool succeeded);

  const std::vector<StepOutcome>& Steps() const { return steps_; }
  bool AllStepsSucceeded() const;
  // One line per failed step, in run order: "Step failed: <step>: 0x%08X".
  std::vector<std::string> FailureLines() const;

 private:
  std::vector<StepOutcome> steps_;
};

// Whether a run on this host class blocks each guarded port, in kGuardedPorts
// order: all six through the advanced policy, all but 136 through netsh.
std::array<bool, kGuardedPorts.size()> PortsTheRunBlocks(int hostClass);

bool IsRunComplete(int hostClass, const HardeningOutcome& outcome, const PanelReading& reading);

// Each thing the panel still shows exposed that the run should have closed:
// "firewall off", "port 445".
std::vector<std::string> ExposedItems(int hostClass, const PanelReading& reading);
// The same as lines of standard output: "Still exposed: port 445".
std::vector<std::string> ExposureLines(int hostClass, const PanelReading& reading);

// What standard output says of a run that did not complete: each failed step,
// what is still exposed and each cause the run cannot mend; on a host with no
// firewall to use, that one line only.
std::vector<std::string> IncompleteRunLines(int hostClass, const HardeningOutcome& outcome,
                                            const PanelReading& reading);
