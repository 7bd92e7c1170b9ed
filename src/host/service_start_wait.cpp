#include "host/service_start_wait.h"

#include <algorithm>

namespace {

constexpr std::uint32_t kStateStartPending = 2;
constexpr std::uint32_t kStateStopPending = 3;
constexpr std::uint32_t kStateRunning = 4;
constexpr std::uint32_t kStateContinuePending = 5;
constexpr std::uint32_t kStatePausePending = 6;

bool IsPending(std::uint32_t state) {
  return state == kStateStartPending || state == kStateStopPending || state == kStateContinuePending ||
         state == kStatePausePending;
}

}  // namespace

ServiceStartWait::ServiceStartWait(std::uint32_t limitMs) : limitMs_(limitMs) {}

bool ServiceStartWait::MadeProgress(const ServiceStatusSample& status) const {
  return !seenPending_ || status.currentState != lastState_ || status.checkPoint != lastCheckPoint_;
}

ServiceWaitStep ServiceStartWait::Next(const ServiceStatusSample& status, std::uint32_t elapsedMs) {
  const std::uint32_t remainingMs = elapsedMs >= limitMs_ ? 0 : limitMs_ - elapsedMs;
  if (status.currentState == kStateRunning) {
    return {std::min({status.waitHint, kServiceLongestSleepMs, remainingMs}), false};
  }
  // Stopped, paused or unknown: nothing more will come of this start.
  if (!IsPending(status.currentState) || remainingMs == 0) return {0, false};

  if (MadeProgress(status)) {
    seenPending_ = true;
    lastState_ = status.currentState;
    lastCheckPoint_ = status.checkPoint;
    lastProgressMs_ = elapsedMs;
  }
  const std::uint32_t graceMs = std::max(status.waitHint, kServiceMinimumStallGraceMs);
  if (elapsedMs - lastProgressMs_ > graceMs) return {0, false};
  const std::uint32_t sleepMs = std::clamp(status.waitHint, kServiceShortestSleepMs, kServiceLongestSleepMs);
  return {std::min(sleepMs, remainingMs), true};
}

std::uint32_t ServiceStartFailureCode(const ServiceStartOutcome& outcome) {
  // Already running is what the start was for, once the status confirms it.
  if (outcome.error != 0 && !(outcome.error == kErrorServiceAlreadyRunning && outcome.stateRead)) {
    return outcome.error;
  }
  if (!outcome.stateRead) return kErrorServiceRequestTimeout;
  if (outcome.finalState == kStateRunning) return 0;
  if (IsPending(outcome.finalState)) return kErrorServiceRequestTimeout;
  return outcome.exitCode != 0 ? outcome.exitCode : kErrorServiceNotActive;
}
