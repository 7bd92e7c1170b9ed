// The console program's status of a host, from the answers of the advanced
// policy or the legacy profile.
#include "hardening/status_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "firewall/port_exposure.h"
#include "hardening/hardening_outcome.h"
#include "hardening_test_support.h"

namespace {

using namespace qf::hardening;
using namespace qf::hardening::testing;
using qf::firewall::LegacyProfileReading;
using qf::firewall::RuleRecord;

std::vector<bool> Tcp(const StatusReport& report) {
  std::vector<bool> blocked;
  for (const PortReport& port : report.ports) blocked.push_back(port.tcpBlocked);
  return blocked;
}

std::vector<bool> Udp(const StatusReport& report) {
  std::vector<bool> blocked;
  for (const PortReport& port : report.ports) blocked.push_back(port.udpBlocked);
  return blocked;
}

std::vector<std::optional<int>> BlockRules(const StatusReport& report) {
  std::vector<std::optional<int>> counts;
  for (const PortReport& port : report.ports) counts.push_back(port.blockRules);
  return counts;
}

std::vector<std::optional<bool>> OpeningsEnabled(const StatusReport& report) {
  std::vector<std::optional<bool>> openings;
  for (const PortReport& port : report.ports) openings.push_back(port.openingEnabled);
  return openings;
}

const std::vector<bool> kAll(6, true);
const std::vector<bool> kNone(6, false);

// A public network with the private and public firewalls on and one run's rules.
AdvancedFacts Hardened() {
  AdvancedFacts facts;
  facts.currentProfiles = qf::firewall::kProfilePublic;
  facts.profileOn = {false, true, true};
  facts.rules = OneRunOfRules();
  facts.settings.serviceRunning = true;
  for (auto& profile : facts.settings.local) {
    profile.blockAllInbound = false;
    profile.excludesInterfaces = false;
  }
  facts.settings.groupPolicyRules.emplace();
  return facts;
}

StatusReport Advanced(const AdvancedFacts& facts, int hostClass = 5) {
  return ComposeAdvancedStatus("WIN7X64", hostClass, facts, {{"MpsSvc", true, 2u, 4u}});
}

// Status and the panel's reading tell the same story.
void ExpectAgreesWithPanel(const StatusReport& report, const AdvancedFacts& facts, int hostClass) {
  const PanelReading reading = AdvancedReadingOf(facts);
  EXPECT_EQ(report.firewallOn, reading.firewallOn);
  for (std::size_t i = 0; i < report.ports.size(); ++i) {
    EXPECT_EQ(reading.portBlocked[i], report.ports[i].tcpBlocked && report.ports[i].udpBlocked) << i;
  }
  EXPECT_EQ(report.hardened, ExposureLines(hostClass, reading).empty());
}

TEST(AdvancedStatusTest, AHardenedHostReadsHardened) {
  const AdvancedFacts facts = Hardened();
  const StatusReport report = Advanced(facts);
  EXPECT_EQ(report.hostLabel, "WIN7X64");
  EXPECT_EQ(report.hostClass, 5);
  EXPECT_EQ(report.path, FirewallPath::Advanced);
  ASSERT_EQ(report.services.size(), 1u);
  EXPECT_EQ(report.services[0].name, "MpsSvc");
  EXPECT_TRUE(report.firewallOn);
  ASSERT_EQ(report.profiles.size(), 3u);
  const char* const names[] = {"domain", "private", "public"};
  const bool inForce[] = {false, false, true};
  const bool on[] = {false, true, true};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(report.profiles[i].name, names[i]);
    EXPECT_EQ(report.profiles[i].inForce, inForce[i]) << i;
    EXPECT_EQ(report.profiles[i].on, on[i]) << i;
  }
  ASSERT_EQ(report.ports.size(), 6u);
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(report.ports[i].port, kGuardedPorts[i]);
  EXPECT_EQ(Tcp(report), kAll);
  EXPECT_EQ(Udp(report), kAll);
  EXPECT_EQ(BlockRules(report), std::vector<std::optional<int>>(6, 2));
  for (const PortReport& port : report.ports) EXPECT_FALSE(port.openingEnabled.has_value());
  EXPECT_EQ(report.quillfortRules, 12);
  EXPECT_TRUE(report.hardened);
  ExpectAgreesWithPanel(report, facts, 5);
  EXPECT_TRUE(ReadsHardened(5, AdvancedReadingOf(facts)));
}

TEST(AdvancedStatusTest, TcpAndUdpAreBlockedSeparately) {
  AdvancedFacts facts = Hardened();
  facts.rules->erase(facts.rules->begin() + 6, facts.rules->end());  // TCP only
  facts.rules->push_back(OurRule(17, 137));
  const StatusReport report = Advanced(facts);
  EXPECT_EQ(Tcp(report), kAll);
  EXPECT_EQ(Udp(report), (std::vector<bool>{false, false, false, true, false, false}));
  EXPECT_EQ(BlockRules(report), (std::vector<std::optional<int>>{1, 1, 1, 2, 1, 1}));
  EXPECT_FALSE(report.hardened);
  ExpectAgreesWithPanel(report, facts, 5);

  facts = Hardened();
  facts.rules->erase(facts.rules->begin(), facts.rules->begin() + 6);  // UDP only
  facts.rules->push_back(OurRule(6, 139));
  const StatusReport udp = Advanced(facts);
  EXPECT_EQ(Tcp(udp), (std::vector<bool>{false, false, false, false, false, true}));
  EXPECT_EQ(Udp(udp), kAll);
  EXPECT_FALSE(udp.hardened);
  ExpectAgreesWithPanel(udp, facts, 5);
}

TEST(AdvancedStatusTest, RulesCountForAPortWhateverTheirProfilesButBlockOnlyForEveryProfileInForce) {
  AdvancedFacts facts = Hardened();
  for (RuleRecord& rule : *facts.rules) rule.profiles = qf::firewall::kProfileDomain;
  RuleRecord any = OurRule(6, 445);
  any.protocol = qf::firewall::kProtocolAny;
  any.localPorts = L"135-139";
  any.profiles = qf::firewall::kProfilePublic;
  facts.rules->push_back(any);
  const StatusReport report = Advanced(facts);
  EXPECT_EQ(BlockRules(report), (std::vector<std::optional<int>>{2, 3, 3, 3, 3, 3}));
  EXPECT_EQ(Tcp(report), (std::vector<bool>{false, true, true, true, true, true}));
  EXPECT_EQ(Udp(report), (std::vector<bool>{false, true, true, true, true, true}));
  EXPECT_FALSE(report.hardened);
  ExpectAgreesWithPanel(report, facts, 5);
}

TEST(AdvancedStatusTest, RulesDoNotProtectWhileAProfileInForceIsOff) {
  AdvancedFacts facts = Hardened();
  facts.currentProfiles = qf::firewall::kProfileDomain;  // a domain network, domain firewall off
  const StatusReport report = Advanced(facts);
  EXPECT_FALSE(report.firewallOn);
  EXPECT_TRUE(report.profiles[0].inForce);
  EXPECT_FALSE(report.profiles[2].inForce);
  EXPECT_EQ(Tcp(report), kNone);
  EXPECT_EQ(Udp(report), kNone);
  EXPECT_EQ(BlockRules(report), std::vector<std::optional<int>>(6, 2));  // still there
  EXPECT_FALSE(report.hardened);
  ExpectAgreesWithPanel(report, facts, 5);

  // Group policy's switch is the one in force: the profile line shows it.
  facts.profileOn = {true, true, true};
  facts.settings.groupPolicy[0].enableFirewall = qf::firewall::PolicyValue::Set(0);
  facts.settings.groupPolicy[2].enableFirewall = qf::firewall::PolicyValue::Set(1);
  const StatusReport byPolicy = Advanced(facts);
  EXPECT_EQ(byPolicy.profiles[0].on, false);
  EXPECT_EQ(byPolicy.profiles[1].on, true);
  EXPECT_EQ(byPolicy.profiles[2].on, true);
  EXPECT_FALSE(byPolicy.firewallOn);
  EXPECT_EQ(Tcp(byPolicy), kNone);
  ExpectAgreesWithPanel(byPolicy, facts, 5);
  facts.settings.groupPolicy[0].enableFirewall = {};
  facts.settings.groupPolicy[2].enableFirewall = {};
  facts.profileOn = {false, true, true};

  // Ports blocked, but the firewall line needs private and public on too.
  facts.currentProfiles = qf::firewall::kProfilePublic;
  facts.profileOn = {true, false, true};
  const StatusReport privateOff = Advanced(facts);
  EXPECT_FALSE(privateOff.firewallOn);
  EXPECT_EQ(Tcp(privateOff), kAll);
  EXPECT_FALSE(privateOff.hardened);
  ExpectAgreesWithPanel(privateOff, facts, 5);
}

TEST(AdvancedStatusTest, OurRulesAreCountedByGroupingAlone) {
  AdvancedFacts facts = Hardened();
  RuleRecord allow = OurRule(6, 3389);
  allow.action = 1;  // still ours, blocks nothing
  RuleRecord impostor = OurRule(6, 445);
  impostor.grouping = L"Someone else";
  RuleRecord partlyRead = OurRule(6, 445);
  partlyRead.complete = false;
  facts.rules->insert(facts.rules->begin(), {allow, impostor, partlyRead});
  const StatusReport report = Advanced(facts);
  EXPECT_EQ(report.quillfortRules, 13);
  // The impostor blocks TCP 445 as well as any; the partly read rule does not count.
  EXPECT_EQ(report.ports[0].blockRules, 3);
  EXPECT_TRUE(report.hardened);
}

TEST(AdvancedStatusTest, WhatWasNotReadNeverCountsAsBlocked) {
  AdvancedFacts unreadRules = Hardened();
  unreadRules.rules.reset();
  const StatusReport noRules = Advanced(unreadRules);
  EXPECT_TRUE(noRules.firewallOn);
  EXPECT_EQ(Tcp(noRules), kNone);
  EXPECT_EQ(Udp(noRules), kNone);
  EXPECT_EQ(BlockRules(noRules), std::vector<std::optional<int>>(6, std::nullopt));
  EXPECT_EQ(noRules.quillfortRules, 0);
  EXPECT_FALSE(noRules.hardened);

  AdvancedFacts partlyRead = Hardened();
  for (RuleRecord& rule : *partlyRead.rules) rule.complete = false;
  const StatusReport incomplete = Advanced(partlyRead);
  EXPECT_EQ(Tcp(incomplete), kNone);
  EXPECT_EQ(Udp(incomplete), kNone);
  EXPECT_EQ(BlockRules(incomplete), std::vector<std::optional<int>>(6, 0));
  EXPECT_EQ(incomplete.quillfortRules, 0);
  EXPECT_FALSE(incomplete.hardened);

  AdvancedFacts unreadProfiles = Hardened();
  unreadProfiles.currentProfiles.reset();
  const StatusReport noProfiles = Advanced(unreadProfiles);
  EXPECT_FALSE(noProfiles.firewallOn);
  for (const ProfileReport& profile : noProfiles.profiles) EXPECT_FALSE(profile.inForce);
  EXPECT_EQ(Tcp(noProfiles), kNone);
  EXPECT_EQ(BlockRules(noProfiles), std::vector<std::optional<int>>(6, 2));
  EXPECT_FALSE(noProfiles.hardened);

  AdvancedFacts unreadSwitch = Hardened();
  unreadSwitch.profileOn[2].reset();  // the public profile, in force
  const StatusReport noSwitch = Advanced(unreadSwitch);
  EXPECT_FALSE(noSwitch.profiles[2].on.has_value());
  EXPECT_FALSE(noSwitch.firewallOn);
  EXPECT_EQ(Tcp(noSwitch), kNone);
  EXPECT_FALSE(noSwitch.hardened);

  const StatusReport nothing = Advanced(AdvancedFacts{});
  EXPECT_FALSE(nothing.firewallOn);
  EXPECT_EQ(nothing.ports.size(), 6u);
  EXPECT_FALSE(nothing.hardened);
}

TEST(AdvancedStatusTest, HardenedNeedsAllSixPortsOnTheAdvancedPath) {
  AdvancedFacts facts = Hardened();
  std::vector<RuleRecord> rules;
  for (const RuleRecord& rule : *facts.rules) {
    if (rule.localPorts != L"136") rules.push_back(rule);
  }
  facts.rules = rules;
  for (int hostClass : {4, 5, 6}) {
    const StatusReport report = Advanced(facts, hostClass);
    EXPECT_FALSE(report.ports[2].tcpBlocked);
    EXPECT_FALSE(report.hardened) << hostClass;
    EXPECT_EQ(BlockRules(report)[2], 0);
  }
}

// ---- legacy path ---------------------------------------------------------------

LegacyProfileReading OnAndRead(std::vector<qf::firewall::LegacyOpening> openings) {
  LegacyProfileReading reading;
  reading.firewallOn = true;
  reading.exceptionsNotAllowed = false;
  reading.openingsRead = true;
  reading.openings = std::move(openings);
  return reading;
}

// Read whole, with the service running and no Remote Administration or authorised applications.
qf::firewall::LegacyPolicyInput Input(const LegacyProfileReading& reading) {
  qf::firewall::LegacyPolicyInput input;
  input.serviceRunning = true;
  input.profile = reading;
  input.remoteAdminEnabled = false;
  input.applications.emplace();
  return input;
}

StatusReport Legacy(const LegacyProfileReading& reading, int hostClass = 3) {
  return ComposeLegacyStatus("WIN2003", hostClass, Input(reading), {{"SharedAccess", true, 2u, 4u}});
}

TEST(LegacyStatusTest, AClosedProfileReadsHardened) {
  const StatusReport report = Legacy(OnAndRead({{445, 6, false}, {139, 17, false}}));
  EXPECT_EQ(report.path, FirewallPath::Legacy);
  EXPECT_EQ(report.hostLabel, "WIN2003");
  EXPECT_EQ(report.hostClass, 3);
  EXPECT_TRUE(report.profiles.empty());
  ASSERT_EQ(report.services.size(), 1u);
  EXPECT_TRUE(report.firewallOn);
  ASSERT_EQ(report.ports.size(), 6u);
  EXPECT_EQ(Tcp(report), kAll);
  EXPECT_EQ(Udp(report), kAll);
  EXPECT_EQ(OpeningsEnabled(report), std::vector<std::optional<bool>>(6, false));
  for (const PortReport& port : report.ports) EXPECT_FALSE(port.blockRules.has_value());
  EXPECT_EQ(report.quillfortRules, 0);
  EXPECT_TRUE(report.hardened);
}

TEST(LegacyStatusTest, EachProtocolAndEachOpeningIsReportedForItsPort) {
  // File and Printer Sharing on: TCP 139 and 445, UDP 137 and 138; an
  // opening whose state could not be read may be open.
  const StatusReport report =
      Legacy(OnAndRead({{139, 6, true}, {445, 6, true}, {137, 17, true}, {138, 17, std::nullopt}, {135, 6, false}}));
  EXPECT_EQ(Tcp(report), (std::vector<bool>{false, true, true, true, true, false}));
  EXPECT_EQ(Udp(report), (std::vector<bool>{true, true, true, false, false, true}));
  EXPECT_EQ(OpeningsEnabled(report), (std::vector<std::optional<bool>>{true, false, false, true, true, true}));
  EXPECT_TRUE(report.firewallOn);
  EXPECT_FALSE(report.hardened);
}

TEST(LegacyStatusTest, WithExceptionsNotAllowedNoOpeningCounts) {
  LegacyProfileReading reading = OnAndRead({{445, 6, true}, {137, 17, true}});
  reading.exceptionsNotAllowed = true;
  const StatusReport report = Legacy(reading);
  EXPECT_EQ(Tcp(report), kAll);
  EXPECT_EQ(Udp(report), kAll);
  // The openings are still there, and enabled.
  EXPECT_EQ(OpeningsEnabled(report), (std::vector<std::optional<bool>>{true, false, false, true, false, false}));
  EXPECT_TRUE(report.hardened);
}

TEST(LegacyStatusTest, FirewallOffOrUnreadBlocksNothing) {
  LegacyProfileReading off = OnAndRead({});
  off.firewallOn = false;
  off.exceptionsNotAllowed = true;
  const StatusReport report = Legacy(off);
  EXPECT_FALSE(report.firewallOn);
  EXPECT_EQ(Tcp(report), kNone);
  EXPECT_EQ(Udp(report), kNone);
  EXPECT_FALSE(report.hardened);

  LegacyProfileReading unread = OnAndRead({});
  unread.firewallOn.reset();
  EXPECT_FALSE(Legacy(unread).firewallOn);
  EXPECT_FALSE(Legacy(unread).hardened);

  LegacyProfileReading openingsUnread = OnAndRead({});
  openingsUnread.openingsRead = false;
  const StatusReport noOpenings = Legacy(openingsUnread);
  EXPECT_TRUE(noOpenings.firewallOn);
  EXPECT_EQ(Tcp(noOpenings), kNone);
  EXPECT_EQ(OpeningsEnabled(noOpenings), std::vector<std::optional<bool>>(6, std::nullopt));
  EXPECT_FALSE(noOpenings.hardened);

  EXPECT_FALSE(Legacy(LegacyProfileReading{}).hardened);
}

TEST(LegacyStatusTest, TheNetshPathLeaves136OutOfHardened) {
  // netsh has no line for 136: an open 136 does not keep the host from
  // reading hardened where the run goes through netsh.
  const LegacyProfileReading reading = OnAndRead({{136, 6, true}});
  for (int hostClass : {0, 1, 2, 3}) {
    const StatusReport report = Legacy(reading, hostClass);
    EXPECT_FALSE(report.ports[2].tcpBlocked);
    EXPECT_TRUE(report.ports[2].udpBlocked);
    EXPECT_EQ(report.ports[2].openingEnabled, true);
    EXPECT_TRUE(report.hardened) << hostClass;
  }
  // Any other port open is not hardened.
  EXPECT_FALSE(Legacy(OnAndRead({{135, 17, true}}), 3).hardened);
  EXPECT_FALSE(Legacy(OnAndRead({{136, 6, true}}), 4).hardened);

  PanelReading panel;
  panel.firewallOn = true;
  panel.portBlocked = {true, true, false, true, true, true};
  EXPECT_TRUE(ReadsHardened(3, panel));
  EXPECT_TRUE(ReadsHardened(0, panel));
  EXPECT_FALSE(ReadsHardened(4, panel));
  EXPECT_FALSE(ReadsHardened(6, panel));
  panel.portBlocked[2] = true;
  EXPECT_TRUE(ReadsHardened(6, panel));
  panel.firewallOn = false;
  EXPECT_FALSE(ReadsHardened(3, panel));
}

}  // namespace
