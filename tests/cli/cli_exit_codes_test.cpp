// Exit codes from the reports: what a caller's script branches on.
#include "cli/cli_exit_codes.h"

#include <gtest/gtest.h>

#include "sample_reports.h"

namespace qf::cli {
namespace {

using hardening::HardenReport;
using hardening::RestoreReport;

TEST(CliExitCodes, HaveTheDocumentedValues) {
  EXPECT_EQ(kExitSuccess, 0);
  EXPECT_EQ(kExitNotHardened, 1);
  EXPECT_EQ(kExitStepFailed, 2);
  EXPECT_EQ(kExitNotElevated, 3);
  EXPECT_EQ(kExitRefused, 4);
  EXPECT_EQ(kExitUsage, 64);
}

TEST(CliExitCodes, StatusAndCheckFollowHardened) {
  EXPECT_EQ(StatusExitCode(samples::AdvancedHardened()), 0);
  EXPECT_EQ(StatusExitCode(samples::LegacyHardened()), 0);
  EXPECT_EQ(StatusExitCode(samples::AdvancedExposed()), 1);
  EXPECT_EQ(StatusExitCode(samples::LegacyUnknown()), 1);
}

TEST(CliExitCodes, HardenSucceedsOnlyWhenEveryStepDidAndTheHostIsHardened) {
  HardenReport report;
  report.changed = true;
  report.after = samples::AdvancedHardened();
  EXPECT_EQ(HardenExitCode(report), 0);
  report.changed = false;  // a second run that found everything in place
  EXPECT_EQ(HardenExitCode(report), 0);

  HardenReport failed = report;
  failed.failedSteps = {{"AddBlockRule UDP 139", 0x80004005u, {}}};
  EXPECT_EQ(HardenExitCode(failed), 2) << "a failed step fails the run even when the host reads hardened";

  HardenReport exposed = report;
  exposed.after = samples::AdvancedExposed();
  exposed.stillExposed = {"firewall off", "port 135"};
  EXPECT_EQ(HardenExitCode(exposed), 2) << "no step failed, yet the run did not harden";

  HardenReport notHardened = report;
  notHardened.after = samples::AdvancedExposed();
  EXPECT_EQ(HardenExitCode(notHardened), 2);

  HardenReport inconsistent = report;
  inconsistent.stillExposed = {"port 445"};
  EXPECT_EQ(HardenExitCode(inconsistent), 2) << "anything named still exposed is never a success";

  HardenReport denied = exposed;
  denied.accessDenied = true;
  denied.failedSteps = {{"SetServiceAutoStart MpsSvc", 5u, {}}};
  EXPECT_EQ(HardenExitCode(denied), 3) << "access denied comes before the failed step";
}

TEST(CliExitCodes, ARefusalIsFourWhateverElseTheReportHolds) {
  hardening::HardenReport report;
  report.refused = true;
  EXPECT_EQ(HardenExitCode(report), kExitRefused);
  report.accessDenied = true;
  report.after.hardened = true;
  EXPECT_EQ(HardenExitCode(report), kExitRefused);
}

TEST(CliExitCodes, WhatIfSaysWhetherTheRunWouldChangeAnything) {
  using hardening::RestorePointWrite;
  struct Case {
    bool refused;
    std::uint32_t unreadCode;  // 0: everything read
    RestorePointWrite write;
    bool addsARule;
    int expected;
  };
  const Case cases[] = {
      {false, 0, RestorePointWrite::Nothing, false, kExitSuccess},
      {false, 0, RestorePointWrite::Save, true, kExitWouldChange},
      {true, 0, RestorePointWrite::Save, true, kExitRefused},
      {true, 0x80070005u, RestorePointWrite::Nothing, false, kExitRefused},
      {false, 0x80070005u, RestorePointWrite::Nothing, true, kExitNotElevated},
      {false, 5u, RestorePointWrite::Nothing, false, kExitNotElevated},
      {false, 0x80004005u, RestorePointWrite::Nothing, true, kExitStepFailed},
      {false, 0, RestorePointWrite::Refused, true, kExitStepFailed},
  };
  for (const Case& c : cases) {
    hardening::WhatIfReport report;
    report.refused = c.refused;
    if (c.unreadCode != 0) report.plan.unread.push_back({"ReadFirewallPolicy", c.unreadCode});
    report.plan.restorePoint = c.write;
    if (c.addsARule) report.plan.rulesToAdd.push_back(*firewall::IntendedBlockRule(6, L"445"));
    EXPECT_EQ(WhatIfExitCode(report), c.expected) << c.refused << " " << c.unreadCode << " " << c.addsARule;
  }
}

TEST(CliExitCodes, RestoreFailsOnlyOnAFailedStepOrAccessDenied) {
  RestoreReport none;  // no restore point: nothing to do is a success
  EXPECT_EQ(RestoreExitCode(none), 0);

  RestoreReport restored;
  restored.restorePointFound = true;
  restored.changed = true;
  restored.after = samples::AdvancedExposed();  // back to how it was: not hardened, still a success
  EXPECT_EQ(RestoreExitCode(restored), 0);

  RestoreReport failed = restored;
  failed.failedSteps = {{"RemoveRules", 0x80004005u, {}}};
  EXPECT_EQ(RestoreExitCode(failed), 2);

  failed.accessDenied = true;
  EXPECT_EQ(RestoreExitCode(failed), 3);

  // Every step succeeded, yet the host read again still differs, or the
  // restore point is unusable: kept, and not a success.
  RestoreReport differs = restored;
  differs.differences = {"rule @QXRuleOptions.exe, TCP-445 still present"};
  differs.restorePointKept = true;
  EXPECT_EQ(RestoreExitCode(differs), 2);
  RestoreReport unusable;
  unusable.restorePointFound = true;
  unusable.restorePointProblem = "Version: 3";
  unusable.restorePointKept = true;
  unusable.failedSteps = {{"ReadRestorePoint", 13, {}}};
  EXPECT_EQ(RestoreExitCode(unusable), 2);
}

}  // namespace
}  // namespace qf::cli
