#include "hardening/hardening_outcome.h"

#include <cstdio>
#include <utility>

#include "hardening/hardening_plan.h"

bool IsAccessDenied(std::uint32_t code) { return code == 5u || code == 0x80070005u; }

void HardeningOutcome::Record(std::string step, std::uint32_t code) { steps_.push_back({std::move(step), code}); }

void HardeningOutcome::RecordSuccess(std::string step, bool succeeded) {
  Record(std::move(step), succeeded ? 0 : kStepFailedWithoutCode);
}

bool HardeningOutcome::AllStepsSucceeded() const {
  for (const StepOutcome& outcome : steps_) {
    if (outcome.code != 0) return false;
  }
  return true;
}

std::vector<std::string> HardeningOutcome::FailureLines() const {
  std::vector<std::string> lines;
  for (const StepOutcome& outcome : steps_) {
    if (outcome.code == 0) continue;
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(outcome.code));
    lines.push_back("Step failed: " + outcome.step + ": " + code);
  }
  return lines;
}

std::array<bool, kGuardedPorts.size()> PortsTheRunBlocks(int hostClass) {
  std::array<bool, kGuardedPorts.size()> blocks{};
  const bool netsh = HardensThroughNetsh(hostClass);
  for (size_t i = 0; i < kGuardedPorts.size(); ++i) {
    // The netsh batch has no line for 136.
    blocks[i] = !(netsh && kGuardedPorts[i] == 136);
  }
  return blocks;
}

std::vector<std::string> ExposedItems(int hostClass, const PanelReading& reading) {
  std::vector<std::string> items;
  if (!reading.firewallOn) items.push_back("firewall off");
  const auto blocks = PortsTheRunBlocks(hostClass);
  for (size_t i = 0; i < kGuardedPorts.size(); ++i) {
    if (blocks[i] && !reading.portBlocked[i]) items.push_back("port " + std::to_string(kGuardedPorts[i]));
  }
  return items;
}

std::vector<std::string> ExposureLines(int hostClass, const PanelReading& reading) {
  std::vector<std::string> lines;
  for (const std::string& item : ExposedItems(hostClass, reading)) lines.push_back("Still exposed: " + item);
  return lines;
}

bool IsRunComplete(int hostClass, const HardeningOutcome& outcome, const PanelReading& reading) {
  return outcome.AllStepsSucceeded() && ExposedItems(hostClass, reading).empty();
}

std::vector<std::string> IncompleteRunLines(int hostClass, const HardeningOutcome& outcome,
                                            const PanelReading& reading) {
  for (const std::string& cause : reading.causes) {
    if (cause == kNoFirewallCause) return {cause};
  }
  std::vector<std::string> lines = outcome.FailureLines();
  for (std::string& line : ExposureLines(hostClass, reading)) lines.push_back(std::move(line));
  lines.insert(lines.end(), reading.causes.begin(), reading.causes.end());
  return lines;
}
