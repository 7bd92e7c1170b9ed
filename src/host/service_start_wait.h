// When to stop waiting for a service that was asked to start. The service's
// own reports (state, checkpoint, wait hint) drive the wait, but the wait
// always ends: on any settled state, when a pending service makes no progress
// for longer than its hint, or when the overall limit is reached.
#pragma once

#include <cstdint>

constexpr std::uint32_t kServiceStartWaitLimitMs = 60000;
// A pending service that reports a hint shorter than this still gets this
// long to advance its checkpoint; a zero hint would otherwise end at once.
constexpr std::uint32_t kServiceMinimumStallGraceMs = 1000;
// A pending service is queried again after its hint, but never sooner than
// this (a zero hint must not spin) nor later than the longest sleep.
constexpr std::uint32_t kServiceShortestSleepMs = 100;
constexpr std::uint32_t kServiceLongestSleepMs = 10000;

// The fields of a service status record that the wait looks at.
struct ServiceStatusSample {
  std::uint32_t currentState;
  std::uint32_t checkPoint;
  std::uint32_t waitHint;
};

struct ServiceWaitStep {
  std::uint32_t sleepMs;  // sleep this long before going on
  bool queryAgain;        // then query the status again, or stop waiting
};

class ServiceStartWait {
 public:
  explicit ServiceStartWait(std::uint32_t limitMs = kServiceStartWaitLimitMs);

  // Decides the next step from the status just read, elapsedMs after the
  // wait began. A running service is still given the hint it reported, up
  // to the longest sleep.
  ServiceWaitStep Next(const ServiceStatusSample& status, std::uint32_t elapsedMs);

 private:
  bool MadeProgress(const ServiceStatusSample& status) const;

  std::uint32_t limitMs_;
  bool seenPending_ = false;
  std::uint32_t lastState_ = 0;
  std::uint32_t lastCheckPoint_ = 0;
  std::uint32_t lastProgressMs_ = 0;
};

// What became of a start request, as far as the wait saw it.
struct ServiceStartOutcome {
  bool accepted = false;    // the start request was accepted
  std::uint32_t error = 0;  // system error of the call that failed, 0 if none
  bool stateRead = false;   // the status was read after the request
  std::uint32_t finalState = 0;
  std::uint32_t exitCode = 0;  // the service's own exit code with that state
};

inline constexpr std::uint32_t kErrorServiceAlreadyRunning = 1056;
inline constexpr std::uint32_t kErrorServiceRequestTimeout = 1053;
inline constexpr std::uint32_t kErrorServiceNotActive = 1062;

// 0 when the service was seen running; otherwise the code that says why not:
// the failed call's error, the service's own exit code when it stopped,
// ERROR_SERVICE_NOT_ACTIVE when it stopped without one, and
// ERROR_SERVICE_REQUEST_TIMEOUT when it never settled.
std::uint32_t ServiceStartFailureCode(const ServiceStartOutcome& outcome);
