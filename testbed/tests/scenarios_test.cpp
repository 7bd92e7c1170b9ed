#include "state/scenarios.h"

#include "state/host_compare.h"

#include <gtest/gtest.h>

#include <set>

namespace testbed {
namespace {

TEST(Scenarios, NamesAreUniqueAndSeedsSurviveTheTextForm) {
  std::set<std::string> names;
  for (const auto& s : AllScenarios()) {
    EXPECT_TRUE(names.insert(s.name).second) << s.name;
    EXPECT_EQ(s.seed.scenario, s.name);
    auto parsed = ParseState(SerializeState(s.seed));
    ASSERT_TRUE(parsed.state) << s.name << ": " << parsed.error;
    EXPECT_EQ(SerializeState(*parsed.state), SerializeState(s.seed));
  }
}

TEST(Scenarios, ServersOfTheGuardedPortsAndTheirShares) {
  const HostState dc = FindScenario("win2003-dc")->seed;
  EXPECT_EQ(dc.productType, "LanmanNT");
  EXPECT_EQ(FindScenario("win2003-dc")->hostClass, 3);
  const HostState files = FindScenario("win7-file-server")->seed;
  EXPECT_EQ(files.productType, "WinNT");
  std::vector<std::string> served;
  for (const Share& share : files.shares)
    if (!share.special && (share.kind == ShareKind::Disk || share.kind == ShareKind::Print))
      served.push_back(share.name);
  EXPECT_EQ(served, (std::vector<std::string>{"Docs", "HP LaserJet"}));
  // Every other host has only its administrative shares.
  const HostState plain = FindScenario("win7")->seed;
  for (const Share& share : plain.shares) EXPECT_TRUE(share.special) << share.name;
  EXPECT_EQ(plain.shares.size(), 3u);
  EXPECT_EQ(files.shares[3].Type(), 0x80000000ul);  // print$: a disk share with the special bit
  EXPECT_EQ(files.shares[2].Type(), 0x80000003ul);  // IPC$
  EXPECT_EQ(files.shares[5].Type(), 1ul);           // a printer
}

TEST(Scenarios, ProductTypeAndSharesAreComparedAndSurviveTheTextForm) {
  const HostState dc = FindScenario("win2003-dc")->seed;
  const std::string text = SerializeState(dc);
  EXPECT_NE(text.find("product\ttype=LanmanNT"), std::string::npos) << text;
  auto parsed = ParseState(text);
  ASSERT_TRUE(parsed.state) << parsed.error;
  EXPECT_FALSE(FirstHostDifference(dc, *parsed.state, RuleOrder::Matters));
  HostState other = dc;
  other.productType = "ServerNT";
  EXPECT_NE(FirstHostDifference(dc, other, RuleOrder::Matters).value_or("").find("productType"), std::string::npos);
  other = dc;
  other.shares.pop_back();
  EXPECT_NE(FirstHostDifference(dc, other, RuleOrder::Matters).value_or("").find("shares"), std::string::npos);
  EXPECT_FALSE(ParseState(std::string(text) + "share\tname=X\tkind=pipe\n").state);
}

TEST(Scenarios, EveryHostClassPathIsCovered) {
  std::set<int> classes;
  for (const auto& s : AllScenarios()) classes.insert(s.hostClass);
  EXPECT_EQ(classes, (std::set<int>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(FindScenario("win7")->wineVersion, "win7");
  EXPECT_EQ(FindScenario("win2003")->hostClass, 3);
  EXPECT_FALSE(FindScenario("win95"));
}

TEST(Scenarios, UnprotectedHostsStartOffWithGuardedPortsOpenAndServicesDisabled) {
  const HostState s = FindScenario("win7")->seed;
  for (int p = 0; p < kProfileCount; ++p) EXPECT_FALSE(s.firewallOn[p]);
  HostState copy = s;
  for (long port : {445, 135, 136, 137, 138, 139}) {
    ASSERT_NE(copy.FindOpenPort(LegacyProfile::Standard, port, 6), nullptr) << port;
    EXPECT_TRUE(copy.FindOpenPort(LegacyProfile::Standard, port, 6)->enabled);
  }
  EXPECT_EQ(copy.FindService("MpsSvc")->initialStartType, 4u);
  EXPECT_EQ(copy.FindService("SharedAccess")->initialStartType, 4u);
  EXPECT_TRUE(s.rules.empty());
  // File and Printer Sharing is there to be switched back, and off.
  ASSERT_EQ(s.serviceExceptions.size(), 2u);
  for (LegacyProfile p : {LegacyProfile::Standard, LegacyProfile::Domain}) {
    const ServiceException* fps = s.FindServiceException(p, ServiceType::FileAndPrint);
    ASSERT_NE(fps, nullptr);
    EXPECT_EQ(fps->ports.size(), 4u);
    for (const auto& port : fps->ports) EXPECT_FALSE(port.enabled) << port.port;
  }
}

TEST(Scenarios, SeededRulesAreEnabledInboundBlocks) {
  const HostState s = FindScenario("win8")->seed;
  ASSERT_EQ(s.rules.size(), 2u);
  EXPECT_EQ(s.rules[0].localPorts, "1445");
  EXPECT_EQ(s.rules[1].localPorts, "135-139");
  for (const auto& r : s.rules) {
    EXPECT_TRUE(r.enabled);
    EXPECT_EQ(r.action, 0);
    EXPECT_EQ(r.direction, 1);
  }
}

TEST(Scenarios, ExposedXpHostIsOpenOnlyThroughFileAndPrinterSharing) {
  HostState s = FindScenario("winxp-fps")->seed;
  EXPECT_EQ(FindScenario("winxp-fps")->hostClass, 2);
  EXPECT_TRUE(s.IsOn(AdvancedProfileOf(CurrentLegacyProfile(s), s)));
  EXPECT_TRUE(s.openPorts.empty());
  for (LegacyProfile p : {LegacyProfile::Standard, LegacyProfile::Domain}) {
    ServiceException* fps = s.FindServiceException(p, ServiceType::FileAndPrint);
    ASSERT_NE(fps, nullptr);
    EXPECT_TRUE(fps->Enabled());
  }
  EXPECT_EQ(s.serviceExceptions.size(), 2u);
}

TEST(Scenarios, PartialProtectionFindingsAreSeededAsDescribed) {
  HostState domain = FindScenario("win7-domain-off")->seed;
  EXPECT_EQ(domain.CurrentProfileTypes(), ProfileBit(Profile::Domain));
  EXPECT_FALSE(domain.IsOn(Profile::Domain));
  EXPECT_TRUE(domain.HeldByGroupPolicy(Profile::Domain));
  domain.SwitchLocally(Profile::Domain, true);
  EXPECT_FALSE(domain.IsOn(Profile::Domain)) << "a local switch cannot turn a held profile on";
  EXPECT_TRUE(domain.IsOn(Profile::Private) && domain.IsOn(Profile::Public));

  HostState udp = FindScenario("win7-udp-445")->seed;
  ASSERT_EQ(udp.rules.size(), 1u);
  EXPECT_EQ(udp.rules[0].protocol, 17);
  EXPECT_EQ(udp.rules[0].localPorts, "445");
  EXPECT_TRUE(udp.rules[0].enabled);

  HostState domainRules = FindScenario("win7-domain-rules")->seed;
  EXPECT_EQ(domainRules.CurrentProfileTypes(), ProfileBit(Profile::Public));
  ASSERT_EQ(domainRules.rules.size(), 2u);
  for (const auto& r : domainRules.rules) EXPECT_EQ(r.profiles, ProfileBit(Profile::Domain));

  EXPECT_EQ(FindScenario("win7-add-refused")->seed.refuseAddNumber, 3);
  EXPECT_EQ(FindScenario("win7")->seed.refuseAddNumber, 0);
}

TEST(Scenarios, OnlyTheStandardUserHostDeniesChanges) {
  const auto notAdmin = FindScenario("win7-not-admin");
  ASSERT_TRUE(notAdmin);
  EXPECT_TRUE(notAdmin->seed.denyChanges);
  EXPECT_EQ(notAdmin->hostClass, 5);
  EXPECT_NE(notAdmin->summary.find("only the firewall denies"), std::string::npos) << notAdmin->summary;
  for (const auto& s : AllScenarios()) {
    if (s.name != "win7-not-admin") {
      EXPECT_FALSE(s.seed.denyChanges) << s.name;
    }
  }
}

TEST(Scenarios, BulkRulesNeverMentionAGuardedPort) {
  HostState s;
  AddBulkRules(s, 25);
  ASSERT_EQ(s.rules.size(), 25u);
  EXPECT_EQ(s.rules[24].name, "Bulk rule 25");
  for (const auto& r : s.rules)
    for (const char* port : {"445", "135", "136", "137", "138", "139"})
      EXPECT_EQ(r.localPorts.find(port), std::string::npos);
}

}  // namespace
}  // namespace testbed
