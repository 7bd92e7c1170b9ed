#include "state/host_compare.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "state/scenarios.h"

namespace testbed {
namespace {

// A seeded host as a dump reads it: with what the service manager reports.
HostState Dumped(const char* scenario) {
  HostState s = FindScenario(scenario)->seed;
  for (ServiceSetup& v : s.services) v.scm = ScmReport{true, v.initialStartType, "stopped"};
  s.windowsVersion = "win7";
  return s;
}

FirewallRule QuillfortRule(const char* name, const char* ports) {
  FirewallRule r;
  r.name = name;
  r.grouping = "@QXRuleOptions.exe,-102";
  r.protocol = 6;
  r.localPorts = ports;
  r.action = 0;
  r.profiles = 7;
  r.enabled = true;
  return r;
}

TEST(HostCompare, TheDoublesOwnHistoryIsNotPartOfTheHost) {
  const HostState seed = Dumped("win8");
  HostState after = seed;
  after.FindService("MpsSvc")->starts = 3;
  after.addsSeen = 12;
  after.netshLog = {"netsh firewall set opmode enable"};
  EXPECT_EQ(FirstHostDifference(seed, after), std::nullopt);
  EXPECT_TRUE(SameHost(seed, after));
  EXPECT_TRUE(SameHost(seed, seed, RuleOrder::Ignored));
}

TEST(HostCompare, ServicesDifferByStartTypeStateOrPresence) {
  const HostState seed = Dumped("win7");
  HostState s = seed;
  s.FindService("MpsSvc")->scm->startType = 2;
  EXPECT_EQ(FirstHostDifference(seed, s), "service MpsSvc: startType 4 vs 2");
  s = seed;
  s.FindService("SharedAccess")->scm->state = "running";
  EXPECT_EQ(FirstHostDifference(seed, s), "service SharedAccess: scmState stopped vs running");
  s = seed;
  s.FindService("MpsSvc")->recordedState = "running";
  EXPECT_EQ(FirstHostDifference(seed, s), "service MpsSvc: state stopped vs running");
  s = seed;
  s.FindService("MpsSvc")->scm->installed = false;
  EXPECT_EQ(FirstHostDifference(seed, s), "service MpsSvc: installed yes vs no");
  s = seed;
  s.FindService("MpsSvc")->scm.reset();
  EXPECT_EQ(FirstHostDifference(seed, s), "service MpsSvc: service manager report present vs absent");
  s = seed;
  s.services.pop_back();
  EXPECT_EQ(FirstHostDifference(seed, s), "service SharedAccess: present vs absent");
  EXPECT_EQ(FirstHostDifference(s, seed), "service SharedAccess: absent vs present");
}

TEST(HostCompare, SwitchesFaultsAndSettingsAreNamed) {
  const HostState seed = Dumped("win7");
  HostState s = seed;
  s.SetOn(Profile::Public, true);
  EXPECT_EQ(FirstHostDifference(seed, s), "firewall: public off vs on");
  s = seed;
  s.SetExceptionsNotAllowed(LegacyProfile::Standard, true);
  EXPECT_EQ(FirstHostDifference(seed, s), "legacy-exceptions: standard allowed vs none");
  s = seed;
  s.denyChanges = true;
  EXPECT_EQ(FirstHostDifference(seed, s), "faults: denyChanges no vs yes");
  s = seed;
  s.windowsVersion.reset();
  EXPECT_EQ(FirstHostDifference(seed, s), "host: windowsVersion win7 vs (none)");
  s = seed;
  s.netsh.mode = NetshMode::Fail;
  EXPECT_EQ(FirstHostDifference(seed, s), "netsh: mode normal vs fail");
  // The first difference in the order of the dump wins.
  s.SetOn(Profile::Domain, true);
  EXPECT_EQ(FirstHostDifference(seed, s), "firewall: domain off vs on");
}

TEST(HostCompare, LegacyOpeningsAreFoundByProfilePortAndProtocol) {
  const HostState seed = Dumped("win2003");
  HostState s = seed;
  s.FindOpenPort(LegacyProfile::Standard, 445, 6)->enabled = false;
  EXPECT_EQ(FirstHostDifference(seed, s), "open-port standard TCP 445: enabled yes vs no");
  s = seed;
  s.FindOpenPort(LegacyProfile::Domain, 137, 17)->scope = "SUBNET";
  EXPECT_EQ(FirstHostDifference(seed, s), "open-port domain UDP 137: scope ALL vs SUBNET");
  s = seed;
  s.FindOpenPort(LegacyProfile::Standard, 139, 6)->name = "";
  EXPECT_EQ(FirstHostDifference(seed, s), "open-port standard TCP 139: name 139 vs (empty)");
  s = seed;
  s.openPorts.push_back(OpenPort{LegacyProfile::Standard, 3389, 6, "rdp", true, "ALL", ""});
  EXPECT_EQ(FirstHostDifference(seed, s), "open-port standard TCP 3389: absent vs present");
  // An opening removed and added again with its settings is the same opening.
  s = seed;
  OpenPort moved = s.openPorts.front();
  s.openPorts.erase(s.openPorts.begin());
  s.openPorts.push_back(moved);
  EXPECT_TRUE(SameHost(seed, s));
  s.openPorts.pop_back();
  EXPECT_EQ(FirstHostDifference(seed, s), "open-port standard TCP 445: present vs absent");
}

TEST(HostCompare, ServiceExceptionsCompareScopeAndEveryPort) {
  const HostState seed = Dumped("winxp-fps");
  HostState s = seed;
  s.FindServiceException(LegacyProfile::Domain, ServiceType::FileAndPrint)->ports[1].enabled = false;
  EXPECT_EQ(FirstHostDifference(seed, s), "service-exception domain FILEANDPRINT: TCP 445 on vs off");
  s = seed;
  s.FindServiceException(LegacyProfile::Standard, ServiceType::FileAndPrint)->scope = "SUBNET";
  EXPECT_EQ(FirstHostDifference(seed, s), "service-exception standard FILEANDPRINT: scope ALL vs SUBNET");
  s = seed;
  s.serviceExceptions.pop_back();
  EXPECT_EQ(FirstHostDifference(seed, s), "service-exception domain FILEANDPRINT: present vs absent");
}

TEST(HostCompare, RulesCompareEveryPropertyInEnumerationOrder) {
  HostState seed = Dumped("win8");
  seed.rules.push_back(QuillfortRule("@QXRuleOptions.exe, TCP-445", "445"));
  HostState s = seed;
  s.rules[2].enabled = false;
  EXPECT_EQ(FirstHostDifference(seed, s), "rule 3: enabled differs");
  s = seed;
  s.rules[0].localPorts = "1446";
  EXPECT_EQ(FirstHostDifference(seed, s), "rule 1: localPorts differs");
  s = seed;
  s.rules[1].profiles = 4;
  EXPECT_EQ(FirstHostDifference(seed, s), "rule 2: profiles differs");
  s = seed;
  s.rules[2].grouping.clear();
  EXPECT_EQ(FirstHostDifference(seed, s), "rule 3: grouping differs");
  s = seed;
  s.rules.push_back(QuillfortRule("@QXRuleOptions.exe, TCP-135", "135"));
  EXPECT_EQ(FirstHostDifference(seed, s), "rules: count 3 vs 4");
}

// An undo removes our rules and adds back the ones that were there before:
// they come back last.
TEST(HostCompare, RuleOrderCanBeIgnoredButNotTheRulesThemselves) {
  HostState seed = Dumped("win8");
  seed.rules.insert(seed.rules.begin(), QuillfortRule("@QXRuleOptions.exe, TCP-445", "445"));
  HostState s = seed;
  std::rotate(s.rules.begin(), s.rules.begin() + 1, s.rules.end());
  EXPECT_EQ(FirstHostDifference(seed, s), "rule 1: name differs");
  EXPECT_TRUE(SameHost(seed, s, RuleOrder::Ignored));
  // Two equal rules are not one rule twice.
  HostState twice = seed;
  twice.rules[2] = twice.rules[1];
  EXPECT_EQ(FirstHostDifference(seed, twice, RuleOrder::Ignored),
            "rule 3: no equal rule on the other host (Seeded block 135-139)");
  EXPECT_FALSE(SameHost(twice, seed, RuleOrder::Ignored));
}

}  // namespace
}  // namespace testbed
