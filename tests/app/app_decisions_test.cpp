// Decisions of the hardening console: texts, panel mapping, run plan, icon placement.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cwchar>
#include <string>
#include <vector>

#include "hardening/hardening_outcome.h"
#include "hardening/hardening_plan.h"
#include "host/legacy_port_closing_batch.h"
#include "app/minimized_icon.h"
#include "app/panel_texts.h"
#include "app/status_panel.h"

namespace {

std::string Utf8FromCp936(const std::string& bytes) {
  iconv_t cd = iconv_open("UTF-8", "CP936");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    ADD_FAILURE() << "no CP936 converter";
    return {};
  }
  std::string in = bytes;
  std::string out(in.size() * 4 + 4, '\0');
  char* inPtr = in.data();
  char* outPtr = out.data();
  size_t inLeft = in.size();
  size_t outLeft = out.size();
  const size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  EXPECT_NE(result, static_cast<size_t>(-1)) << "invalid code page 936 bytes";
  out.resize(out.size() - outLeft);
  return out;
}

TEST(PanelTexts, DecodeFromCodePage936ToTheExactChineseTexts) {
  EXPECT_EQ(Utf8FromCp936(kTextFirewallOn), "启用");
  EXPECT_EQ(Utf8FromCp936(kTextFirewallOff), "关闭");
  EXPECT_EQ(Utf8FromCp936(kTextPortAllowed), "允许");
  EXPECT_EQ(Utf8FromCp936(kTextPortBlocked), "禁止");
  EXPECT_EQ(Utf8FromCp936(kTextHardeningStarted), "正在安全加固，请稍候... ...");
  EXPECT_EQ(Utf8FromCp936(kTextHardeningDone), "恭喜您，安全加固完成！");
  EXPECT_EQ(Utf8FromCp936(kTextHardeningIncomplete), "加固未完成，请重试！");
  EXPECT_EQ(Utf8FromCp936(kPanelFaceCp936), "宋体");
  EXPECT_EQ(Utf8FromCp936(kTextUndoMenuItem), "撤销加固");
  EXPECT_EQ(Utf8FromCp936(kTextRestoreStarted), "正在撤销加固，请稍候... ...");
  EXPECT_EQ(Utf8FromCp936(kTextRestored), "已恢复加固前的设置");
  EXPECT_EQ(Utf8FromCp936(kTextNothingToRestore), "没有可撤销的加固");
  EXPECT_EQ(Utf8FromCp936(kTextRestoreIncomplete), "撤销未完成，请重试！");
}

TEST(StatusPanel, FirewallLineIsGreenOnAndRedOff) {
  EXPECT_STREQ(FirewallLook(true).textCp936, kTextFirewallOn);
  EXPECT_EQ(FirewallLook(true).textColour, 0x008000u);
  EXPECT_STREQ(FirewallLook(false).textCp936, kTextFirewallOff);
  EXPECT_EQ(FirewallLook(false).textColour, 0x0000FFu);
}

TEST(StatusPanel, PortLinesPairAllowedWithGreenAndBlockedWithRedOnBothPaths) {
  EXPECT_STREQ(PortLookFromBlocked(true).textCp936, kTextPortBlocked);
  EXPECT_EQ(PortLookFromBlocked(true).textColour, 0x0000FFu);
  EXPECT_STREQ(PortLookFromBlocked(false).textCp936, kTextPortAllowed);
  EXPECT_EQ(PortLookFromBlocked(false).textColour, 0x008000u);
  EXPECT_STREQ(PortLookFromOpen(true).textCp936, kTextPortAllowed);
  EXPECT_EQ(PortLookFromOpen(true).textColour, 0x008000u);
  EXPECT_STREQ(PortLookFromOpen(false).textCp936, kTextPortBlocked);
  EXPECT_EQ(PortLookFromOpen(false).textColour, 0x0000FFu);
}

TEST(StatusPanel, PortLinesRunInGuardedOrderWith136And137IdsSwapped) {
  const std::vector<std::pair<int, int>> expected{{445, 1001}, {135, 1002}, {136, 1004},
                                                  {137, 1003}, {138, 1005}, {139, 1006}};
  std::vector<std::pair<int, int>> actual;
  for (const PortLine& line : kPortLines) actual.emplace_back(line.port, line.controlId);
  EXPECT_EQ(actual, expected);
}

TEST(StatusPanel, FirewallAndProgressLinesWriteTextFirstPortLinesColourFirst) {
  using Op = LineOperation;
  const std::array<Op, 5> textFirst{Op::SetText, Op::SetTextColourRedraw, Op::SetBoldNoRedraw, Op::SetFontNoRedraw,
                                    Op::SetBackgroundRedraw};
  const std::array<Op, 5> colourFirst{Op::SetTextColourRedraw, Op::SetText, Op::SetBoldNoRedraw, Op::SetFontNoRedraw,
                                      Op::SetBackgroundRedraw};
  EXPECT_EQ(LineWriteOrder(LineKind::Firewall), textFirst);
  EXPECT_EQ(LineWriteOrder(LineKind::Progress), textFirst);
  EXPECT_EQ(LineWriteOrder(LineKind::Port), colourFirst);
}

TEST(StatusPanel, EveryLineIsBoldSimSunOnThePanelBackgroundProgressLarger) {
  for (LineKind kind : {LineKind::Firewall, LineKind::Port, LineKind::Progress}) {
    const LineStyle style = StyleOf(kind);
    EXPECT_TRUE(style.bold);
    EXPECT_STREQ(style.faceCp936, kPanelFaceCp936);
    EXPECT_EQ(style.background, 0xFFDEC5u);
  }
  EXPECT_EQ(StyleOf(LineKind::Firewall).fontPoints, 12);
  EXPECT_EQ(StyleOf(LineKind::Port).fontPoints, 12);
  EXPECT_EQ(StyleOf(LineKind::Progress).fontPoints, 16);
  EXPECT_EQ(kColourBlue, 0xFF0000u);
}

// A plan written as one readable line per step.
std::vector<std::string> Describe(const std::vector<HardeningStep>& plan) {
  std::vector<std::string> lines;
  for (const HardeningStep& step : plan) {
    std::string line;
    const std::string need = step.needsAdvancedPolicy ? " [policy]" : "";
    switch (step.action) {
      case HardeningAction::EnableControl:
        line = std::string("enable ") + (step.control == FrontControl::HardenButton ? "1007" : "1") +
               (step.enable ? " on" : " off");
        break;
      case HardeningAction::ShowProgress:
        line = "progress " + Utf8FromCp936(step.text);
        break;
      case HardeningAction::TurnOnLegacyFirewall:
        line = "legacy on";
        break;
      case HardeningAction::SetServiceStartType:
        line = "start type " + std::string(step.text) + " " + std::to_string(step.number);
        break;
      case HardeningAction::StartServiceAndWait:
        line = "start " + std::string(step.text) + " " + std::to_string(step.number);
        break;
      case HardeningAction::ReopenAdvancedPolicy:
        line = "reopen advanced";
        break;
      case HardeningAction::EnableAdvancedFirewall:
        line = "advanced on";
        break;
      case HardeningAction::AddBlockRule:
        line = "rule " + std::to_string(step.number) + " " +
               std::string(step.portText, step.portText + std::wcslen(step.portText));
        break;
      case HardeningAction::RunSystemCommand:
        line = "run " + std::string(step.text);
        break;
      case HardeningAction::CloseLegacyProfile:
        line = "legacy close";
        break;
      case HardeningAction::OpenLegacyProfile:
        line = "legacy open";
        break;
      case HardeningAction::RefreshStatusAdvanced:
        line = "refresh advanced";
        break;
      case HardeningAction::RefreshStatusLegacy:
        line = "refresh legacy";
        break;
      case HardeningAction::ShowCompletion:
        line = "completion";
        break;
    }
    lines.push_back(line + need);
  }
  return lines;
}

std::vector<std::string> Start() {
  return {"enable 1007 off", "enable 1 off", "progress 正在安全加固，请稍候... ...", "legacy on"};
}

std::vector<std::string> End(const std::string& refresh) {
  return {"legacy close", "legacy open", "refresh " + refresh, "completion", "enable 1007 on", "enable 1 on"};
}

std::vector<std::string> AdvancedMiddle() {
  std::vector<std::string> middle{"start type MpsSvc 2", "start MpsSvc 1", "reopen advanced", "advanced on [policy]"};
  for (const char* port : {"445", "135", "136", "137", "138", "139"}) {
    middle.push_back(std::string("rule 6 ") + port + " [policy]");
    middle.push_back(std::string("rule 17 ") + port + " [policy]");
  }
  return middle;
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b,
                              const std::vector<std::string>& c) {
  a.insert(a.end(), b.begin(), b.end());
  a.insert(a.end(), c.begin(), c.end());
  return a;
}

TEST(HardeningPlan, OlderAndUnrecognisedHostsStartSharedAccessAndRunNetsh) {
  std::vector<std::string> netsh{"start type SharedAccess 2", "start SharedAccess 1"};
  for (const char* command : LegacyPortClosingCommands()) netsh.push_back(std::string("run ") + command);
  ASSERT_EQ(netsh.size(), 10u);
  for (int hostClass : {-1, 0, 1, 2, 3}) {
    SCOPED_TRACE(hostClass);
    EXPECT_EQ(Describe(HardeningPlan(hostClass)), Join(Start(), netsh, End("legacy")));
  }
}

TEST(HardeningPlan, VistaAnd7And8GenerationsAddTwelveRulesAndRefreshAdvanced) {
  for (int hostClass : {4, 5, 6, 7}) {
    SCOPED_TRACE(hostClass);
    EXPECT_EQ(Describe(HardeningPlan(hostClass)), Join(Start(), AdvancedMiddle(), End("advanced")));
  }
}

TEST(HardeningPlan, ClassTestsSplitAtFour) {
  // Vista is read where it is hardened: through the advanced policy.
  EXPECT_FALSE(UsesAdvancedRefresh(3));
  EXPECT_TRUE(UsesAdvancedRefresh(4));
  EXPECT_TRUE(UsesAdvancedRefresh(5));
  EXPECT_FALSE(UsesAdvancedRefresh(-5));
  EXPECT_TRUE(HardensThroughNetsh(3));
  EXPECT_FALSE(HardensThroughNetsh(4));
  EXPECT_TRUE(HardensThroughAdvancedPolicy(4));
  EXPECT_FALSE(HardensThroughAdvancedPolicy(3));
}

// ---- outcome of a run ---------------------------------------------------------

TEST(HardeningPlan, OnlyStepsThatChangeOrReopenTheHostAreChecked) {
  for (int hostClass : {0, 4, 6}) {
    for (const HardeningStep& step : HardeningPlan(hostClass)) {
      const bool expected =
          step.action == HardeningAction::SetServiceStartType || step.action == HardeningAction::StartServiceAndWait ||
          step.action == HardeningAction::ReopenAdvancedPolicy ||
          step.action == HardeningAction::EnableAdvancedFirewall || step.action == HardeningAction::AddBlockRule ||
          step.action == HardeningAction::RunSystemCommand || step.action == HardeningAction::OpenLegacyProfile;
      EXPECT_EQ(IsCheckedStep(step.action), expected) << StepName(step);
    }
  }
}

TEST(HardeningPlan, StepNamesSayWhatWasAskedOfWhom) {
  std::vector<std::string> names;
  for (const HardeningStep& step : HardeningPlan(6)) {
    if (IsCheckedStep(step.action)) names.push_back(StepName(step));
  }
  ASSERT_EQ(names.size(), 17u);
  EXPECT_EQ(names[0], "SetServiceStartType MpsSvc");
  EXPECT_EQ(names[1], "StartServiceAndWait MpsSvc");
  EXPECT_EQ(names[2], "CAdvancedFirewall::Initialize");
  EXPECT_EQ(names[3], "CAdvancedFirewall::EnableFirewall");
  EXPECT_EQ(names[4], "AddBlockRule TCP 445");
  EXPECT_EQ(names[5], "AddBlockRule UDP 445");
  EXPECT_EQ(names[15], "AddBlockRule UDP 139");
  EXPECT_EQ(names[16], "CLegacyFirewall::Initialize");
  std::vector<std::string> netsh;
  for (const HardeningStep& step : HardeningPlan(2)) {
    if (step.action == HardeningAction::RunSystemCommand) netsh.push_back(StepName(step));
  }
  ASSERT_EQ(netsh.size(), 8u);
  EXPECT_EQ(netsh[0], "RunSystemCommand netsh firewall set opmode enable");
  EXPECT_EQ(netsh[7], std::string("RunSystemCommand ") + LegacyPortClosingCommands()[7]);
}

PanelReading Protected() {
  PanelReading reading;
  reading.firewallOn = true;
  reading.portBlocked.fill(true);
  return reading;
}

TEST(HardeningOutcome, AccessDeniedIsTheSystemErrorOrTheFirewallStatusOnly) {
  EXPECT_TRUE(IsAccessDenied(5));            // ERROR_ACCESS_DENIED
  EXPECT_TRUE(IsAccessDenied(0x80070005u));  // E_ACCESSDENIED
  EXPECT_FALSE(IsAccessDenied(0));
  EXPECT_FALSE(IsAccessDenied(0x80004005u));
  EXPECT_FALSE(IsAccessDenied(0x424));
}

TEST(HardeningOutcome, FailureLinesNameEachFailedStepWithItsCodeInRunOrder) {
  HardeningOutcome outcome;
  EXPECT_TRUE(outcome.AllStepsSucceeded());  // nothing recorded, nothing failed
  outcome.Record("SetServiceStartType SharedAccess", 0);
  outcome.Record("StartServiceAndWait SharedAccess", 0x424);
  outcome.RecordSuccess("AddBlockRule TCP 445", true);
  outcome.RecordSuccess("AddBlockRule UDP 445", false);
  outcome.Record("RunSystemCommand netsh firewall set opmode enable", 0xFFFFFFFFu);
  EXPECT_FALSE(outcome.AllStepsSucceeded());
  EXPECT_EQ(outcome.Steps().size(), 5u);
  EXPECT_EQ(outcome.FailureLines(),
            (std::vector<std::string>{"Step failed: StartServiceAndWait SharedAccess: 0x00000424",
                                      "Step failed: AddBlockRule UDP 445: 0x80004005",
                                      "Step failed: RunSystemCommand netsh firewall set opmode enable: 0xFFFFFFFF"}));
}

TEST(HardeningOutcome, AdvancedPathIsCompleteOnlyWithAllSixPortsBlockedAndTheFirewallOn) {
  HardeningOutcome ok;
  ok.Record("CAdvancedFirewall::Initialize", 0);
  for (int hostClass : {4, 5, 6}) {
    SCOPED_TRACE(hostClass);
    EXPECT_TRUE(IsRunComplete(hostClass, ok, Protected()));
    EXPECT_TRUE(ExposureLines(hostClass, Protected()).empty());
    for (size_t i = 0; i < kPortLines.size(); ++i) {
      PanelReading reading = Protected();
      reading.portBlocked[i] = false;
      EXPECT_FALSE(IsRunComplete(hostClass, ok, reading)) << kPortLines[i].port;
      EXPECT_EQ(ExposureLines(hostClass, reading),
                std::vector<std::string>{"Still exposed: port " + std::to_string(kPortLines[i].port)});
    }
    PanelReading off = Protected();
    off.firewallOn = false;
    EXPECT_FALSE(IsRunComplete(hostClass, ok, off));
    EXPECT_EQ(ExposureLines(hostClass, off), std::vector<std::string>{"Still exposed: firewall off"});
    EXPECT_EQ(ExposedItems(hostClass, off), std::vector<std::string>{"firewall off"});
  }
}

TEST(HardeningOutcome, NetshPathLeaves136OutOfTheCompletionRule) {
  HardeningOutcome ok;
  for (int hostClass : {-1, 0, 1, 2, 3}) {
    SCOPED_TRACE(hostClass);
    const auto blocks = PortsTheRunBlocks(hostClass);
    for (size_t i = 0; i < kPortLines.size(); ++i) {
      EXPECT_EQ(blocks[i], kPortLines[i].port != 136) << kPortLines[i].port;
      PanelReading reading = Protected();
      reading.portBlocked[i] = false;
      EXPECT_EQ(IsRunComplete(hostClass, ok, reading), kPortLines[i].port == 136) << kPortLines[i].port;
    }
  }
}

TEST(HardeningOutcome, AnyFailedStepMakesTheRunIncompleteWhateverThePanelReads) {
  for (int hostClass : {0, 4, 6}) {
    HardeningOutcome outcome;
    outcome.Record("SetServiceStartType MpsSvc", 0);
    outcome.Record("CLegacyFirewall::Initialize", 2);
    EXPECT_FALSE(IsRunComplete(hostClass, outcome, Protected())) << hostClass;
  }
  // And an untouched, unreadable panel (the default reading) never completes.
  EXPECT_FALSE(IsRunComplete(6, HardeningOutcome(), PanelReading()));
  EXPECT_EQ(ExposureLines(0, PanelReading()).size(), 6u);  // firewall + five ports
  EXPECT_EQ(ExposureLines(6, PanelReading()).size(), 7u);
}

TEST(HardeningOutcome, CompletionIsBlueAndTheFailureTextRed) {
  const CompletionLook done = CompletionLookOf(true);
  EXPECT_STREQ(done.textCp936, kTextHardeningDone);
  EXPECT_EQ(done.colour, kColourBlue);
  const CompletionLook failed = CompletionLookOf(false);
  EXPECT_EQ(Utf8FromCp936(failed.textCp936), "加固未完成，请重试！");
  EXPECT_EQ(failed.colour, kColourRed);
}

TEST(RestoreLook, BlueOnlyWhenTheHostIsBackAndTheRestorePointGone) {
  using qf::hardening::RestoreReport;
  RestoreReport restored;
  restored.restorePointFound = true;
  restored.changed = true;
  RestoreReport unchanged;  // the host was already as recorded
  unchanged.restorePointFound = true;
  RestoreReport nothing;
  RestoreReport failedStep = restored;
  failedStep.failedSteps.push_back({"RemoveRule TCP-445", 0x80070005u, {}});
  failedStep.restorePointKept = true;
  RestoreReport differs = restored;
  differs.differences.push_back("rule TCP-445");
  differs.restorePointKept = true;
  RestoreReport unusable;
  unusable.restorePointFound = true;
  unusable.restorePointProblem = "Version: 7";
  unusable.failedSteps.push_back({"ReadRestorePoint", 13, {}});
  unusable.restorePointKept = true;
  RestoreReport denied = restored;
  denied.accessDenied = true;
  denied.failedSteps.push_back({"SetFirewall public", 0x80070005u, {}});
  denied.restorePointKept = true;
  RestoreReport notDeleted = restored;  // the host is back; the point could not go
  notDeleted.restorePointKept = true;
  const struct {
    const char* name;
    RestoreReport report;
    const char* text;
    ColourRef colour;
  } cases[] = {
      {"restored", restored, kTextRestored, kColourBlue},
      {"nothing needed changing", unchanged, kTextRestored, kColourBlue},
      {"no restore point", nothing, kTextNothingToRestore, kColourBlue},
      {"failed step", failedStep, kTextRestoreIncomplete, kColourRed},
      {"still differs", differs, kTextRestoreIncomplete, kColourRed},
      {"unusable restore point", unusable, kTextRestoreIncomplete, kColourRed},
      {"access denied", denied, kTextRestoreIncomplete, kColourRed},
      {"restore point kept", notDeleted, kTextRestoreIncomplete, kColourRed},
  };
  for (const auto& c : cases) {
    const CompletionLook look = RestoreLookOf(c.report);
    EXPECT_STREQ(look.textCp936, c.text) << c.name;
    EXPECT_EQ(look.colour, c.colour) << c.name;
    EXPECT_EQ(IsRestoreDone(c.report), c.colour == kColourBlue) << c.name;
    EXPECT_EQ(RestoreFailureLines(c.report).empty(), c.colour == kColourBlue) << c.name;
  }
  EXPECT_EQ(RestoreFailureLines(failedStep),
            (std::vector<std::string>{"Step failed: RemoveRule TCP-445: 0x80070005", "Restore point kept"}));
  EXPECT_EQ(RestoreFailureLines(differs),
            (std::vector<std::string>{"Still differs: rule TCP-445", "Restore point kept"}));
}

TEST(MinimizedIcon, CentresRoundingHalfUpForPositiveSizes) {
  EXPECT_EQ(CentredIconOrigin(100, 60, 32, 32).x, 34);
  EXPECT_EQ(CentredIconOrigin(100, 60, 32, 32).y, 14);
  EXPECT_EQ(CentredIconOrigin(101, 61, 32, 32).x, 35);  // (101 - 32 + 1) / 2
  EXPECT_EQ(CentredIconOrigin(101, 61, 32, 32).y, 15);
  EXPECT_EQ(CentredIconOrigin(32, 32, 32, 32).x, 0);
}

TEST(MinimizedIcon, TruncatesTowardZeroWhenTheClientIsSmallerThanTheIcon) {
  EXPECT_EQ(CentredIconOrigin(0, 0, 32, 32).x, -15);   // -31 / 2
  EXPECT_EQ(CentredIconOrigin(30, 29, 32, 32).x, 0);   // -1 / 2
  EXPECT_EQ(CentredIconOrigin(30, 29, 32, 32).y, -1);  // -2 / 2
  EXPECT_EQ(CentredIconOrigin(-10, 0, 32, 0).x, -20);  // -41 / 2
  EXPECT_EQ(CentredIconOrigin(-10, 0, 32, 0).y, 0);    // 1 / 2
}

}  // namespace
