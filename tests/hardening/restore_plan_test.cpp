// What restore does to turn the host as it is now back into the saved one.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "hardening/host_snapshot.h"
#include "hardening_test_support.h"

namespace {

using namespace qf::hardening;
using namespace qf::hardening::testing;
using qf::firewall::RuleRecord;
using Kind = RestoreActionKind;

std::vector<std::string> Names(const std::vector<RestoreAction>& plan) {
  std::vector<std::string> names;
  for (const RestoreAction& action : plan) names.push_back(RestoreActionName(action));
  return names;
}

std::vector<RestoreAction> Actions(const HostSnapshot& saved, const HostSnapshot& now) {
  return PlanRestore(saved, now).actions;
}

std::vector<Kind> Kinds(const std::vector<RestoreAction>& plan) {
  std::vector<Kind> kinds;
  for (const RestoreAction& action : plan) kinds.push_back(action.kind);
  return kinds;
}

// The Windows 7 host after one run from the dialog's button.
HostSnapshot AdvancedHostAfter() {
  HostSnapshot now = AdvancedHostBefore();
  now.services[0].startType = 2;
  now.services[0].running = true;
  now.profileOn = {std::nullopt, true, true};
  now.quillfortRules = OneRunOfRules();
  return now;
}

// The Server 2003 host after one run through netsh.
HostSnapshot LegacyHostAfter() {
  HostSnapshot now = LegacyHostBefore();
  now.services[1].startType = 2;
  now.services[1].running = true;
  LegacyProfileSnapshot& standard = now.legacy[1];
  standard.firewallOn = true;
  FindOpening(standard, 445, 6)->enabled = false;
  for (long port : {135L, 137L, 138L, 139L}) *FindOpening(standard, port, 6) = Opening(port, 6, true, false, L"", 0);
  standard.fileAndPrintEnabled = false;
  standard.remoteAdminEnabled = false;
  now.legacy[0].remoteAdminKnown = true;  // read now, unread then: left alone
  return now;
}

TEST(PlanRestoreTest, NothingToDoWhenTheHostIsAsSaved) {
  for (const HostSnapshot& host : {AdvancedHostBefore(), AdvancedHostAfter(), LegacyHostBefore(), HostSnapshot{}}) {
    EXPECT_TRUE(Actions(host, host).empty());
  }
  // Stale fields of openings that do not exist are no difference.
  HostSnapshot saved = LegacyHostBefore();
  HostSnapshot now = saved;
  *FindOpening(now.legacy[1], 136, 17) = Opening(136, 17, false, true, L"stale", 2);
  EXPECT_TRUE(Actions(saved, now).empty());
}

TEST(PlanRestoreTest, AdvancedRunIsUndoneRulesFirstThenSwitchesThenServices) {
  const std::vector<RestoreAction> plan = Actions(AdvancedHostBefore(), AdvancedHostAfter());
  std::vector<std::string> expected;
  for (long port : kGuardedPorts) expected.push_back("RemoveRule @QXRuleOptions.exe, TCP-" + std::to_string(port));
  for (long port : kGuardedPorts) expected.push_back("RemoveRule @QXRuleOptions.exe, UDP-" + std::to_string(port));
  expected.push_back("SetFirewall Private off");
  expected.push_back("SetFirewall Public off");
  expected.push_back("SetServiceStartType MpsSvc 4");
  expected.push_back("StopService MpsSvc");
  EXPECT_EQ(Names(plan), expected);
  ASSERT_EQ(plan.size(), 16u);
  EXPECT_EQ(plan[12].profile, 2);
  EXPECT_EQ(plan[13].profile, 4);
  EXPECT_FALSE(plan[13].on);
  EXPECT_EQ(plan[14].service, "MpsSvc");
  EXPECT_EQ(plan[14].number, 4u);
}

TEST(PlanRestoreTest, ProfileSwitchesOnlyWhereBothWereReadAndDiffer) {
  HostSnapshot saved = AdvancedHostBefore();
  saved.profileOn = {std::nullopt, true, false};
  HostSnapshot now = saved;
  now.profileOn = {true, true, std::nullopt};
  EXPECT_TRUE(Actions(saved, now).empty());

  saved.profileOn = {false, true, false};
  now.profileOn = {true, false, false};
  const std::vector<RestoreAction> plan = Actions(saved, now);
  EXPECT_EQ(Names(plan), (std::vector<std::string>{"SetFirewall Domain off", "SetFirewall Private on"}));
  ASSERT_EQ(plan.size(), 2u);
  EXPECT_EQ(plan[0].profile, 1);
  EXPECT_FALSE(plan[0].on);
  EXPECT_EQ(plan[1].profile, 2);
  EXPECT_TRUE(plan[1].on);
}

TEST(PlanRestoreTest, LegacyRunIsUndoneOpeningsThenExceptionsThenTheSwitchThenServices) {
  const HostSnapshot saved = LegacyHostBefore();
  const std::vector<RestoreAction> plan = Actions(saved, LegacyHostAfter());
  // The standard profile's openings in the saved order: TCP 445, 135, 137, 138, 139.
  EXPECT_EQ(Names(plan), (std::vector<std::string>{
                             "PutOpeningBack Standard 445 TCP",
                             "RemoveOpening Standard 135 TCP",
                             "RemoveOpening Standard 137 TCP",
                             "RemoveOpening Standard 138 TCP",
                             "RemoveOpening Standard 139 TCP",
                             "SetFileAndPrint Standard on",
                             "SetRemoteAdmin Standard on",
                             "SetLegacyFirewall Standard off",
                             "SetServiceStartType SharedAccess 3",
                             "StopService SharedAccess",
                         }));
  ASSERT_EQ(plan.size(), 10u);
  // The opening goes back as it was: name, scope and state.
  EXPECT_EQ(plan[0].profile, 1);
  EXPECT_EQ(plan[0].opening, Opening(445, 6, true, true, L"SMB", 1));
  EXPECT_TRUE(plan[0].opening.enabled);
  for (std::size_t i = 1; i < 5; ++i) {
    EXPECT_EQ(plan[i].kind, Kind::PutOpeningBack);
    EXPECT_FALSE(plan[i].opening.exists);
  }
  EXPECT_TRUE(plan[5].on);
  EXPECT_EQ(plan[5].scope, 1);
  EXPECT_EQ(plan[6].profile, 1);
  EXPECT_TRUE(plan[6].on);
  EXPECT_EQ(plan[7].profile, 1);
  EXPECT_FALSE(plan[7].on);
}

TEST(PlanRestoreTest, OpeningsAreTouchedOnlyWhereTheyDiffer) {
  HostSnapshot saved = LegacyHostBefore();
  saved.legacy[1].firewallOn = true;
  saved.legacy[1].fileAndPrintKnown = false;
  *FindOpening(saved.legacy[1], 139, 17) = Opening(139, 17, true, false, L"kept", 0);
  *FindOpening(saved.legacy[1], 138, 17) = Opening(138, 17, true, true, L"dropped", 0);
  HostSnapshot now = saved;
  // Changed: name, scope, state. Gone: 138 UDP. Unchanged: 139 UDP.
  FindOpening(now.legacy[1], 445, 6)->scope = 0;
  now.legacy[1].openings.erase(now.legacy[1].openings.begin() + 10);  // 138 UDP
  ASSERT_EQ(FindOpening(now.legacy[1], 138, 17), nullptr);
  // An opening the saved host did not have and that is not listed now.
  now.legacy[1].openings.erase(now.legacy[1].openings.begin() + 8);  // 136 UDP
  ASSERT_EQ(FindOpening(now.legacy[1], 136, 17), nullptr);
  now.legacy[1].fileAndPrintKnown = true;
  now.legacy[1].fileAndPrintEnabled = false;
  const std::vector<RestoreAction> plan = Actions(saved, now);
  EXPECT_EQ(Names(plan),
            (std::vector<std::string>{"PutOpeningBack Standard 445 TCP", "PutOpeningBack Standard 138 UDP"}));

  // A change of scope alone puts File and Printer Sharing back.
  now = saved;
  saved.legacy[1].fileAndPrintKnown = now.legacy[1].fileAndPrintKnown = true;
  saved.legacy[1].fileAndPrintEnabled = now.legacy[1].fileAndPrintEnabled = true;
  saved.legacy[1].fileAndPrintScope = 0;
  now.legacy[1].fileAndPrintScope = 1;
  const std::vector<RestoreAction> scope = Actions(saved, now);
  ASSERT_EQ(Kinds(scope), std::vector<Kind>{Kind::SetFileAndPrint});
  EXPECT_TRUE(scope[0].on);
  EXPECT_EQ(scope[0].scope, 0);
}

TEST(PlanRestoreTest, ALegacyProfileUnreadNowIsAFailureAndTheServiceWaits) {
  const HostSnapshot saved = LegacyHostBefore();
  HostSnapshot now = LegacyHostAfter();
  now.legacy[1].read = false;
  now.legacyError = 0x800706D9u;
  const RestorePlan plan = PlanRestore(saved, now);
  EXPECT_TRUE(plan.actions.empty());
  ASSERT_EQ(plan.unread.size(), 1u);
  EXPECT_EQ(plan.unread[0].step, "ReadLegacyFirewall");
  EXPECT_EQ(plan.unread[0].code, 0x800706D9u);
  // Not recorded: the run never changed it, restore leaves it alone.
  HostSnapshot unreadBefore = saved;
  unreadBefore.legacy[1].read = false;
  EXPECT_EQ(Kinds(Actions(unreadBefore, LegacyHostAfter())),
            (std::vector<Kind>{Kind::SetStartType, Kind::StopService}));
}

TEST(PlanRestoreTest, EachLegacyProfileIsPutBackWholeBeforeTheNext) {
  HostSnapshot saved = LegacyHostBefore();
  saved.legacy[0] = saved.legacy[1];
  HostSnapshot now = LegacyHostAfter();
  now.legacy[0] = now.legacy[1];
  const std::vector<RestoreAction> plan = Actions(saved, now);
  ASSERT_EQ(plan.size(), 18u);
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(plan[i].profile, 0) << i;
  EXPECT_EQ(RestoreActionName(plan[7]), "SetLegacyFirewall Domain off");
  for (std::size_t i = 8; i < 16; ++i) EXPECT_EQ(plan[i].profile, 1) << i;
  EXPECT_EQ(RestoreActionName(plan[15]), "SetLegacyFirewall Standard off");
  EXPECT_EQ(plan[16].kind, Kind::SetStartType);
  EXPECT_EQ(plan[17].kind, Kind::StopService);
}

TEST(PlanRestoreTest, ServicesStartTypesGoBackAndOnlyWhatQuillfortStartedIsStopped) {
  HostSnapshot saved = AdvancedHostBefore();
  saved.services = {{"MpsSvc", true, 3, true}, {"SharedAccess", true, 4, false}};
  HostSnapshot now = saved;
  now.services = {{"MpsSvc", true, 2, true}, {"SharedAccess", true, 4, true}};
  const std::vector<RestoreAction> plan = Actions(saved, now);
  // MpsSvc ran before: its start type goes back, it keeps running.
  EXPECT_EQ(Names(plan), (std::vector<std::string>{"SetServiceStartType MpsSvc 3", "StopService SharedAccess"}));

  // A service that has stopped since is not started again.
  now.services = {{"MpsSvc", true, 3, false}, {"SharedAccess", true, 4, false}};
  EXPECT_TRUE(Actions(saved, now).empty());
}

TEST(PlanRestoreTest, AbsentServicesAreLeftAlone) {
  HostSnapshot saved = AdvancedHostBefore();
  saved.services = {{"MpsSvc", false, 0, false}, {"SharedAccess", true, 3, false}};
  HostSnapshot now = saved;
  // Installed since, and deleted since (or not read now).
  now.services = {{"MpsSvc", true, 2, true}, {"SharedAccess", false, 0, false}};
  EXPECT_TRUE(Actions(saved, now).empty());
  now.services = {{"MpsSvc", true, 2, true}};
  EXPECT_TRUE(Actions(saved, now).empty());
  // Saved without services at all.
  HostSnapshot none = saved;
  none.services.clear();
  EXPECT_FALSE(Actions(none, AdvancedHostAfter()).empty());
  for (const RestoreAction& action : Actions(none, AdvancedHostAfter())) {
    EXPECT_NE(action.kind, Kind::SetStartType);
    EXPECT_NE(action.kind, Kind::StopService);
  }
}

TEST(PlanRestoreTest, ServicesComeAfterEveryFirewallActionAndStartTypesBeforeStops) {
  HostSnapshot saved = LegacyHostBefore();
  saved.services = {{"MpsSvc", true, 3, false}, {"SharedAccess", true, 3, false}};
  saved.advancedRead = true;
  saved.profileOn = {false, false, false};
  saved.quillfortRules = {OurRule(6, 445)};
  HostSnapshot now = LegacyHostAfter();
  now.services = {{"MpsSvc", true, 2, true}, {"SharedAccess", true, 2, true}};
  now.advancedRead = true;
  now.profileOn = {true, true, true};
  now.quillfortRules = OneRunOfRules();
  const std::vector<Kind> kinds = Kinds(Actions(saved, now));
  saved.legacy[0].read = now.legacy[0].read = true;
  const std::vector<Kind> order = {Kind::RemoveRule,      Kind::SetProfileSwitch, Kind::PutOpeningBack,
                                   Kind::SetFileAndPrint, Kind::SetRemoteAdmin,   Kind::SetLegacyFirewall,
                                   Kind::SetStartType,    Kind::StopService};
  // Each kind appears, and never after a kind that comes later in the order.
  std::size_t stage = 0;
  for (Kind kind : kinds) {
    while (stage < order.size() && order[stage] != kind) ++stage;
    ASSERT_LT(stage, order.size()) << "out of order: " << static_cast<int>(kind);
  }
  for (Kind kind : order) EXPECT_NE(std::find(kinds.begin(), kinds.end(), kind), kinds.end());
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), Kind::SetStartType), 2);
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), Kind::StopService), 2);
}

TEST(RestoreActionNameTest, NamesEveryAction) {
  auto named = [](Kind kind, auto&& fill) {
    RestoreAction action;
    action.kind = kind;
    fill(action);
    return RestoreActionName(action);
  };
  EXPECT_EQ(named(Kind::RemoveRule, [](RestoreAction& a) { a.rule = OurRule(17, 137); }),
            "RemoveRule @QXRuleOptions.exe, UDP-137");
  EXPECT_EQ(named(Kind::SetProfileSwitch, [](RestoreAction& a) { a.profile = 4, a.on = true; }),
            "SetFirewall Public on");
  EXPECT_EQ(named(Kind::SetProfileSwitch, [](RestoreAction& a) { a.profile = 2; }), "SetFirewall Private off");
  EXPECT_EQ(named(Kind::SetLegacyFirewall, [](RestoreAction& a) { a.profile = 0, a.on = true; }),
            "SetLegacyFirewall Domain on");
  EXPECT_EQ(named(Kind::PutOpeningBack, [](RestoreAction& a) { a.profile = 0, a.opening = Opening(138, 17, true); }),
            "PutOpeningBack Domain 138 UDP");
  EXPECT_EQ(named(Kind::PutOpeningBack, [](RestoreAction& a) { a.profile = 1, a.opening = Opening(139, 6, false); }),
            "RemoveOpening Standard 139 TCP");
  EXPECT_EQ(named(Kind::SetFileAndPrint, [](RestoreAction& a) { a.profile = 1; }), "SetFileAndPrint Standard off");
  EXPECT_EQ(named(Kind::SetStartType, [](RestoreAction& a) { a.service = "SharedAccess", a.number = 2; }),
            "SetServiceStartType SharedAccess 2");
  EXPECT_EQ(named(Kind::StopService, [](RestoreAction& a) { a.service = "MpsSvc"; }), "StopService MpsSvc");
}

TEST(RestoreActionNameTest, RuleNamesOutsideAsciiAreWrittenAsUtf8) {
  RestoreAction action;
  action.kind = Kind::RemoveRule;
  // Cut to its low byte, U+4E41 would read as the letter A.
  action.rule.name = L"\u4E41 \u00e9 \U0001F512";
  EXPECT_EQ(RestoreActionName(action), "RemoveRule \xE4\xB9\x81 \xC3\xA9 \xF0\x9F\x94\x92");
  action.rule.name = L"A\u00e9";
  EXPECT_EQ(RestoreActionName(action), "RemoveRule A\xC3\xA9");
  // Half a surrogate pair names no character.
  action.rule.name = std::wstring(1, static_cast<wchar_t>(0xD800)) + L"x";
  EXPECT_EQ(RestoreActionName(action), "RemoveRule \xEF\xBF\xBDx");
}

}  // namespace
