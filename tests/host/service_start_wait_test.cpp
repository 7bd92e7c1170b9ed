#include "host/service_start_wait.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t kStopped = 1, kStartPending = 2, kStopPending = 3, kRunning = 4, kPaused = 7;

// Plays a service's reports through the wait, advancing time by each sleep
// plus queryCostMs, and returns how many queries it took and the time spent.
struct Outcome {
  int queries;
  std::uint32_t elapsedMs;
};
template <typename Report>
Outcome Play(Report report, std::uint32_t queryCostMs = 0, int maxQueries = 100000) {
  ServiceStartWait wait;
  std::uint32_t now = 0;
  for (int query = 1; query <= maxQueries; ++query) {
    const ServiceWaitStep step = wait.Next(report(query, now), now);
    now += step.sleepMs + queryCostMs;
    if (!step.queryAgain) return {query, now};
  }
  return {-1, now};
}

TEST(ServiceStartWait, RunningEndsAfterSleepingItsOwnHint) {
  ServiceStartWait wait;
  const ServiceWaitStep step = wait.Next({kRunning, 0, 250}, 0);
  EXPECT_EQ(step.sleepMs, 250u);
  EXPECT_FALSE(step.queryAgain);
}

TEST(ServiceStartWait, PendingSleepsItsHintClampedBetweenQueries) {
  ServiceStartWait wait;
  ServiceWaitStep step = wait.Next({kStartPending, 1, 300}, 0);
  EXPECT_EQ(step.sleepMs, 300u);
  EXPECT_TRUE(step.queryAgain);
  step = wait.Next({kStartPending, 2, 0}, 300);
  EXPECT_EQ(step.sleepMs, kServiceShortestSleepMs);  // a zero hint must not spin
  EXPECT_TRUE(step.queryAgain);
  step = wait.Next({kStartPending, 3, 99}, 400);
  EXPECT_EQ(step.sleepMs, 100u);
  step = wait.Next({kStartPending, 4, 30000}, 500);
  EXPECT_EQ(step.sleepMs, kServiceLongestSleepMs);
  EXPECT_EQ(kServiceLongestSleepMs, 10000u);
  EXPECT_TRUE(step.queryAgain);
}

TEST(ServiceStartWait, PendingRoundsWithProgressEndInRunning) {
  const Outcome outcome = Play([](int query, std::uint32_t) -> ServiceStatusSample {
    if (query <= 4) return {kStartPending, static_cast<std::uint32_t>(query), 2000};
    return {kRunning, 0, 0};
  });
  EXPECT_EQ(outcome.queries, 5);
  EXPECT_EQ(outcome.elapsedMs, 8000u);
}

TEST(ServiceStartWait, SettledStatesOtherThanRunningEndAtOnce) {
  for (std::uint32_t state : {kStopped, kPaused, 0u, 99u}) {
    ServiceStartWait wait;
    const ServiceWaitStep step = wait.Next({state, 0, 5000}, 0);
    EXPECT_FALSE(step.queryAgain) << state;
    EXPECT_EQ(step.sleepMs, 0u) << state;
  }
}

TEST(ServiceStartWait, StoppingServiceEndsWhenStopped) {
  const Outcome outcome = Play([](int query, std::uint32_t) -> ServiceStatusSample {
    if (query == 1) return {kStartPending, 0, 100};
    if (query <= 3) return {kStopPending, static_cast<std::uint32_t>(query), 100};
    return {kStopped, 0, 0};
  });
  EXPECT_EQ(outcome.queries, 4);
}

TEST(ServiceStartWait, FrozenCheckpointGivesUpOnceTheHintHasPassed) {
  const Outcome outcome = Play([](int, std::uint32_t) -> ServiceStatusSample { return {kStartPending, 3, 1500}; });
  EXPECT_EQ(outcome.queries, 3);  // at 0, 1500 (not yet longer), 3000
  EXPECT_EQ(outcome.elapsedMs, 3000u);
}

TEST(ServiceStartWait, ZeroHintStallStillGetsAGraceAndEndsWithoutSpinning) {
  const Outcome outcome = Play([](int, std::uint32_t) -> ServiceStatusSample { return {kStartPending, 0, 0}; }, 10);
  ASSERT_GT(outcome.queries, 0);
  EXPECT_LE(outcome.queries, 12);  // about one query per 100 ms, not thousands
  EXPECT_GT(outcome.elapsedMs, kServiceMinimumStallGraceMs);
  EXPECT_LE(outcome.elapsedMs, kServiceMinimumStallGraceMs + 120);
}

TEST(ServiceStartWait, StateChangeCountsAsProgress) {
  ServiceStartWait wait;
  EXPECT_TRUE(wait.Next({kStartPending, 1, 1000}, 0).queryAgain);
  EXPECT_TRUE(wait.Next({kStopPending, 1, 1000}, 1900).queryAgain);  // same checkpoint, new state
  EXPECT_TRUE(wait.Next({kStopPending, 1, 1000}, 2900).queryAgain);
  EXPECT_FALSE(wait.Next({kStopPending, 1, 1000}, 2901).queryAgain);
}

TEST(ServiceStartWait, EverAdvancingServiceIsCutOffAtTheLimit) {
  const Outcome outcome = Play([](int query, std::uint32_t) -> ServiceStatusSample {
    return {kStartPending, static_cast<std::uint32_t>(query), 7000};
  });
  EXPECT_EQ(outcome.elapsedMs, kServiceStartWaitLimitMs);
  EXPECT_EQ(kServiceStartWaitLimitMs, 60000u);
}

TEST(ServiceStartWait, HugeHintsAreClampedToTheRemainingTime) {
  ServiceStartWait wait;
  EXPECT_EQ(wait.Next({kStartPending, 1, 0xFFFFFFFFu}, 59000).sleepMs, 1000u);
  ServiceStartWait running;
  EXPECT_EQ(running.Next({kRunning, 0, 600000}, 10000).sleepMs, kServiceLongestSleepMs);
  EXPECT_EQ(ServiceStartWait().Next({kRunning, 0, 600000}, 55000).sleepMs, 5000u);
  ServiceStartWait late;
  const ServiceWaitStep step = late.Next({kRunning, 0, 500}, 61000);
  EXPECT_EQ(step.sleepMs, 0u);
  EXPECT_FALSE(step.queryAgain);
  EXPECT_FALSE(ServiceStartWait().Next({kStartPending, 5, 100}, 60000).queryAgain);
}

TEST(ServiceStartWait, ShorterLimitIsHonoured) {
  ServiceStartWait wait(500);
  EXPECT_EQ(wait.Next({kStartPending, 1, 2000}, 100).sleepMs, 400u);
  EXPECT_FALSE(wait.Next({kStartPending, 2, 2000}, 500).queryAgain);
}

// ---- what a start came to ------------------------------------------------------

ServiceStartOutcome Seen(std::uint32_t state, std::uint32_t exitCode = 0) {
  ServiceStartOutcome outcome;
  outcome.accepted = true;
  outcome.stateRead = true;
  outcome.finalState = state;
  outcome.exitCode = exitCode;
  return outcome;
}

TEST(ServiceStartFailureCode, OnlyARunningServiceSucceeds) {
  EXPECT_EQ(ServiceStartFailureCode(Seen(kRunning)), 0u);
  EXPECT_EQ(ServiceStartFailureCode(Seen(kStartPending)), kErrorServiceRequestTimeout);
  EXPECT_EQ(ServiceStartFailureCode(Seen(kStopPending)), kErrorServiceRequestTimeout);
  EXPECT_EQ(ServiceStartFailureCode(Seen(kStopped)), kErrorServiceNotActive);
  EXPECT_EQ(ServiceStartFailureCode(Seen(kStopped, 1066)), 1066u);
  EXPECT_EQ(ServiceStartFailureCode(Seen(kPaused)), kErrorServiceNotActive);
}

TEST(ServiceStartFailureCode, RefusedOrUnreadStartsReportTheSystemError) {
  ServiceStartOutcome missing;
  missing.error = 1060;  // ERROR_SERVICE_DOES_NOT_EXIST
  EXPECT_EQ(ServiceStartFailureCode(missing), 1060u);
  ServiceStartOutcome disabled;
  disabled.error = 1058;  // ERROR_SERVICE_DISABLED
  EXPECT_EQ(ServiceStartFailureCode(disabled), 1058u);
  // Accepted, but the status could not be read afterwards.
  ServiceStartOutcome unread = Seen(kRunning);
  unread.error = 5;
  EXPECT_EQ(ServiceStartFailureCode(unread), 5u);
  ServiceStartOutcome neverRead;
  neverRead.accepted = true;
  EXPECT_EQ(ServiceStartFailureCode(neverRead), kErrorServiceRequestTimeout);
}

TEST(ServiceStartFailureCode, AlreadyRunningCountsOnlyOnceTheStatusConfirmsIt) {
  ServiceStartOutcome already = Seen(kRunning);
  already.accepted = false;
  already.error = kErrorServiceAlreadyRunning;
  EXPECT_EQ(ServiceStartFailureCode(already), 0u);
  already.finalState = kStartPending;  // "already running" but still starting
  EXPECT_EQ(ServiceStartFailureCode(already), kErrorServiceRequestTimeout);
  already.stateRead = false;
  EXPECT_EQ(ServiceStartFailureCode(already), kErrorServiceAlreadyRunning);
}

}  // namespace
