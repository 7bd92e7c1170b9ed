// One table of restore cases: what restore plans from a restore point and a
// host read now, and what it would report still differing.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "hardening/host_snapshot.h"
#include "hardening/rule_identity.h"
#include "hardening_test_support.h"

namespace {

using namespace qf::hardening;
using namespace qf::hardening::testing;
using qf::firewall::RuleRecord;

HostSnapshot AdvancedAfter() {
  HostSnapshot now = AdvancedHostBefore();
  now.services = {{"MpsSvc", true, 2, true}};
  now.profileOn = {false, true, true};
  now.quillfortRules = OneRunOfRules();
  return now;
}

HostSnapshot AdvancedSaved() {
  HostSnapshot saved = AdvancedHostBefore();
  saved.services = {{"MpsSvc", true, 4, false}};
  return saved;
}

RuleRecord UsersRule() {
  RuleRecord rule = OurRule(6, 445);
  rule.grouping = L"Backup agent";
  rule.description.clear();
  rule.action = 1;
  rule.remoteAddresses = L"10.1.2.3";
  return rule;
}

std::vector<std::string> AdvancedUndo() {
  std::vector<std::string> names;
  for (const RuleRecord& rule : OneRunOfRules()) names.push_back("RemoveRule " + Utf8(rule.name));
  names.insert(names.end(), {"SetFirewall Private off", "SetFirewall Public off", "SetServiceStartType MpsSvc 4",
                             "StopService MpsSvc"});
  return names;
}

struct RestoreCase {
  const char* name;
  std::function<HostSnapshot()> saved;
  std::function<void(std::vector<StoredValue>&)> damage;  // to the stored values; may be empty
  std::function<HostSnapshot()> now;
  std::string problem;  // the restore point is not used: nothing is planned
  std::vector<std::string> actions;
  std::vector<std::string> unread;
  std::size_t differences;  // before the plan is carried out
};

void SetValue(std::vector<StoredValue>& values, const std::wstring& subkey, const std::wstring& name,
              std::variant<std::uint32_t, std::wstring> data) {
  for (StoredValue& value : values) {
    if (value.subkey == subkey && value.name == name) value.data = data;
  }
}

const std::vector<RestoreCase>& Cases() {
  static const std::vector<RestoreCase> cases = {
      {"a hardened host goes back whole", AdvancedSaved, nullptr, AdvancedAfter, "", AdvancedUndo(), {}, 16},
      {"the policy unread now: a failure, nothing else is touched",
       AdvancedSaved,
       nullptr,
       [] {
         HostSnapshot now = AdvancedAfter();
         now.advancedRead = false;
         now.advancedError = 0x800706D9u;
         now.profileOn = {};
         now.quillfortRules.clear();
         return now;
       },
       "",
       {},
       {"ReadFirewallPolicy"},
       3},
      {"the policy never recorded: the run never changed it",
       [] {
         HostSnapshot saved = AdvancedSaved();
         saved.advancedRead = false;
         saved.profileOn = {};
         return saved;
       },
       nullptr,
       AdvancedAfter,
       "",
       {"SetServiceStartType MpsSvc 4", "StopService MpsSvc"},
       {},
       2},
      {"a newer restore point",
       AdvancedSaved,
       [](std::vector<StoredValue>& v) { SetValue(v, L"", L"Version", 4u); },
       AdvancedAfter,
       "Version: 4 (this Quillfort reads versions 2 to 3 only)",
       {},
       {},
       0},
      {"a start type as text",
       AdvancedSaved,
       [](std::vector<StoredValue>& v) { SetValue(v, L"Services\\MpsSvc", L"StartType", std::wstring(L"4")); },
       AdvancedAfter,
       "Services\\MpsSvc\\StartType: not a number",
       {},
       {},
       0},
      {"a start type no service has",
       AdvancedSaved,
       [](std::vector<StoredValue>& v) { SetValue(v, L"Services\\MpsSvc", L"StartType", 0xFFFFFFFFu); },
       AdvancedAfter,
       "Services\\MpsSvc\\StartType: 4294967295 is out of range",
       {},
       {},
       0},
      {"rules stored without their part's mark",
       AdvancedSaved,
       [](std::vector<StoredValue>& v) {
         v.erase(std::remove_if(v.begin(), v.end(), [](const StoredValue& s) { return s.name == L"Read"; }), v.end());
       },
       AdvancedAfter,
       "Advanced\\Read: missing",
       {},
       {},
       0},
      {"a user's rule sharing a name stays",
       [] {
         HostSnapshot saved = AdvancedSaved();
         saved.quillfortRules = {UsersRule()};
         return saved;
       },
       nullptr,
       [] {
         HostSnapshot now = AdvancedAfter();
         now.quillfortRules.insert(now.quillfortRules.begin(), UsersRule());
         return now;
       },
       "",
       AdvancedUndo(),
       {},
       16},
      {"a narrowed rule of Quillfort's name added later is not ours",
       AdvancedSaved,
       nullptr,
       [] {
         HostSnapshot now = AdvancedSaved();
         RuleRecord narrowed = OurRule(17, 137);
         narrowed.interfaceTypes = L"Wireless";
         now.quillfortRules = {narrowed};
         return now;
       },
       "",
       {},
       {},
       0},
      {"a rule left under its removal name is removed on the retry",
       AdvancedSaved,
       nullptr,
       [] {
         HostSnapshot now = AdvancedSaved();
         RuleRecord halfway = OurRule(6, 139);
         halfway.name = RemovalName(halfway.name);
         now.quillfortRules = {halfway};
         return now;
       },
       "",
       {"RemoveRule @QXRuleOptions.exe, TCP-139 (removed by Quillfort restore)"},
       {},
       1},
      {"a service its owner started before the run keeps running",
       [] {
         HostSnapshot saved = AdvancedSaved();
         saved.services = {{"MpsSvc", true, 3, true}};
         return saved;
       },
       nullptr,
       [] {
         HostSnapshot now = AdvancedSaved();
         now.services = {{"MpsSvc", true, 2, true}};
         return now;
       },
       "",
       {"SetServiceStartType MpsSvc 3"},
       {},
       1},
      {"the other path's service is never recorded, so never touched",
       AdvancedSaved,
       nullptr,
       [] {
         HostSnapshot now = AdvancedSaved();
         now.services.push_back({"SharedAccess", true, 2, true});
         return now;
       },
       "",
       {},
       {},
       0},
      {"a custom scope comes back with its addresses",
       [] {
         HostSnapshot saved = LegacyHostBefore();
         saved.services = {{"SharedAccess", true, 3, false}};
         LegacyOpening* smb = FindOpening(saved.legacy[1], 445, 6);
         smb->scope = 2;
         smb->remoteAddresses = L"10.1.0.0/255.255.0.0";
         return saved;
       },
       nullptr,
       [] {
         HostSnapshot now = LegacyHostBefore();
         now.services = {{"SharedAccess", true, 3, false}};
         FindOpening(now.legacy[1], 445, 6)->enabled = false;
         return now;
       },
       "",
       {"PutOpeningBack Standard 445 TCP"},
       {},
       1},
  };
  return cases;
}

TEST(RestoreCasesTest, PlanAndOutcomeOfEveryCase) {
  for (const RestoreCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    std::vector<StoredValue> values = StoredValuesOf(c.saved());
    if (c.damage) c.damage(values);
    const int hostClass = c.saved().hostClass;
    const DecodedRestorePoint point = DecodeRestorePoint(values, hostClass);
    EXPECT_EQ(point.problem, c.problem);
    if (!c.problem.empty()) {
      EXPECT_FALSE(point.snapshot.has_value());
      continue;
    }
    ASSERT_TRUE(point.snapshot.has_value());
    const HostSnapshot now = c.now();
    const RestorePlan plan = PlanRestore(*point.snapshot, now);
    std::vector<std::string> actions;
    for (const RestoreAction& action : plan.actions) actions.push_back(RestoreActionName(action));
    EXPECT_EQ(actions, c.actions);
    std::vector<std::string> unread;
    for (const UnreadPart& part : plan.unread) unread.push_back(part.step);
    EXPECT_EQ(unread, c.unread);
    EXPECT_EQ(RestoreDifferences(*point.snapshot, now).size(), c.differences);
    // Once every recorded item is back, nothing differs and nothing is planned.
    EXPECT_TRUE(RestoreDifferences(*point.snapshot, *point.snapshot).empty());
    EXPECT_TRUE(PlanRestore(*point.snapshot, *point.snapshot).actions.empty());
  }
}

TEST(RestoreCasesTest, ARestorePointOfAnotherHostClassIsForeign) {
  const std::vector<StoredValue> values = StoredValuesOf(AdvancedSaved());
  EXPECT_EQ(DecodeRestorePoint(values, 3).problem, "HostClass: 5 (saved on another kind of host; this is 3)");
  EXPECT_TRUE(DecodeRestorePoint(values, 5).snapshot.has_value());
}

TEST(RuleIdentityTest, OnlyTheFullReachOfARunIsOurs) {
  const RuleRecord ours = OurRule(6, 445);
  EXPECT_TRUE(IsQuillfortBlockRule(ours));
  const std::vector<std::function<void(RuleRecord&)>> narrowings = {
      [](RuleRecord& r) { r.remoteAddresses = L"10.1.2.3"; },
      [](RuleRecord& r) { r.localAddresses = L"10.0.0.1"; },
      [](RuleRecord& r) { r.applicationName = L"C:\\a.exe"; },
      [](RuleRecord& r) { r.serviceName = L"LanmanServer"; },
      [](RuleRecord& r) { r.interfaceTypes = L"Wireless"; },
      [](RuleRecord& r) { r.remotePorts = L"1-1024"; },
      [](RuleRecord& r) { r.profiles = 4; },
      [](RuleRecord& r) { r.enabled = false; },
      [](RuleRecord& r) { r.grouping = L"Other"; },
      [](RuleRecord& r) { r.complete = false; }};
  for (std::size_t i = 0; i < narrowings.size(); ++i) {
    RuleRecord rule = ours;
    narrowings[i](rule);
    EXPECT_FALSE(IsQuillfortBlockRule(rule)) << i;
    EXPECT_FALSE(SameRecordedRule(rule, ours)) << i;
  }
  // Any, however the platform spells it.
  RuleRecord spelled = ours;
  spelled.remoteAddresses = L"";
  spelled.localAddresses = L"";
  spelled.serviceName = L"*";
  spelled.remotePorts = L"*";
  spelled.interfaceTypes = L"all";
  EXPECT_TRUE(IsQuillfortBlockRule(spelled));
  EXPECT_TRUE(RecordedByRestorePoint(L"@QXRuleOptions.exe, UDP-139", L""));
  EXPECT_TRUE(RecordedByRestorePoint(L"anything", qf::firewall::QuillfortGrouping()));
  EXPECT_TRUE(RecordedByRestorePoint(RemovalName(L"@QXRuleOptions.exe, TCP-135"), L""));
  EXPECT_FALSE(RecordedByRestorePoint(L"@QXRuleOptions.exe, TCP-3389", L"x"));
  EXPECT_EQ(RemovalName(RemovalName(L"a")), RemovalName(L"a"));
}

}  // namespace
