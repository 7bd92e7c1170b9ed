#include "state/host_state.h"

#include <gtest/gtest.h>

namespace testbed {
namespace {

HostState RichState() {
  HostState s;
  s.scenario = "rich";
  s.currentProfile = Profile::Public;
  s.SetOn(Profile::Domain, true);
  s.SetOn(Profile::Public, true);
  s.refusePolicy2 = true;
  s.netsh = NetshSetup{NetshMode::Hang, 12, 2};
  ServiceSetup svc;
  svc.name = "MpsSvc";
  svc.behaviour = StartBehaviour::Pending;
  svc.pendingRounds = 4;
  svc.initialStartType = 4;
  svc.recordedState = "running";
  svc.starts = 2;
  s.services.push_back(svc);
  s.openPorts.push_back(OpenPort{LegacyProfile::Domain, 445, 17, "SMB\tdirect", false, "SUBNET"});
  FirewallRule rule;
  rule.name = "@QXRuleOptions.exe, TCP-445";
  rule.description = "line one\nline two\\ with backslash";
  rule.grouping = "组 \xE2\x80\x94 grouping";
  rule.applicationName = "C:\\tools\\a.exe";
  rule.serviceName = "svc";
  rule.protocol = 17;
  rule.localPorts = "135-139,445";
  rule.remotePorts = "1-2";
  rule.localAddresses = "10.0.0.1";
  rule.remoteAddresses = "LocalSubnet";
  rule.icmpTypesAndCodes = "8:*";
  rule.interfaceTypes = "Lan";
  rule.direction = 2;
  rule.action = 0;
  rule.profiles = 5;
  rule.enabled = true;
  rule.edgeTraversal = true;
  s.rules.push_back(rule);
  s.rules.push_back(FirewallRule{});
  s.netshLog = {"netsh firewall set opmode enable", "netsh \"quoted\"\r"};
  return s;
}

TEST(HostStateText, RoundTripKeepsEveryPropertyAndOrder) {
  HostState original = RichState();
  std::string text = SerializeState(original);
  ParseResult parsed = ParseState(text);
  ASSERT_TRUE(parsed.state) << parsed.error;
  EXPECT_EQ(SerializeState(*parsed.state), text);
  const FirewallRule& r = parsed.state->rules.at(0);
  EXPECT_EQ(r.description, "line one\nline two\\ with backslash");
  EXPECT_EQ(r.localPorts, "135-139,445");
  EXPECT_EQ(r.direction, 2);
  EXPECT_EQ(r.action, 0);
  EXPECT_EQ(r.profiles, 5);
  EXPECT_TRUE(r.edgeTraversal);
  EXPECT_EQ(parsed.state->openPorts.at(0).name, "SMB\tdirect");
  EXPECT_EQ(parsed.state->netshLog.at(1), "netsh \"quoted\"\r");
  EXPECT_EQ(parsed.state->services.at(0).pendingRounds, 4);
  EXPECT_TRUE(parsed.state->IsOn(Profile::Public));
  EXPECT_FALSE(parsed.state->IsOn(Profile::Private));
}

TEST(HostStateText, EveryValueStaysOnOneLine) {
  std::string text = SerializeState(RichState());
  size_t lines = std::count(text.begin(), text.end(), '\n');
  // header, host, firewall, faults, netsh, 1 service, 1 port, 2 rules, 2 log lines
  EXPECT_EQ(lines, 11u);
}

TEST(HostStateText, OmittedRuleFieldsTakeNewRuleDefaults) {
  auto parsed = ParseState("quillfort-testbed-state\tversion=1\nrule\tname=x\n");
  ASSERT_TRUE(parsed.state) << parsed.error;
  const FirewallRule& r = parsed.state->rules.at(0);
  EXPECT_EQ(r.protocol, 256);
  EXPECT_EQ(r.direction, 1);
  EXPECT_EQ(r.action, 1);
  EXPECT_EQ(r.profiles, 0x7FFFFFFF);
  EXPECT_FALSE(r.enabled);
}

TEST(HostStateText, AcceptsCrLfCommentsAndBlankLines) {
  auto parsed = ParseState("quillfort-testbed-state\tversion=1\r\n# seeded by hand\r\n\r\nfirewall\tpublic=on\r\n");
  ASSERT_TRUE(parsed.state) << parsed.error;
  EXPECT_TRUE(parsed.state->IsOn(Profile::Public));
}

TEST(HostStateText, RejectsMalformedInputWithItsLine) {
  const std::string header = "quillfort-testbed-state\tversion=1\n";
  EXPECT_FALSE(ParseState("").state);
  EXPECT_FALSE(ParseState("something else\n").state);
  auto unknownField = ParseState(header + "rule\tname=x\tcolour=red\n");
  EXPECT_FALSE(unknownField.state);
  EXPECT_EQ(unknownField.error, "line 2: unknown field colour");
  EXPECT_FALSE(ParseState(header + "weather\tsun=yes\n").state);
  EXPECT_FALSE(ParseState(header + "rule\tname=bad\\q\n").state);
  EXPECT_FALSE(ParseState(header + "rule\tname=trailing\\\n").state);
  EXPECT_FALSE(ParseState(header + "rule\tprotocol=6x\n").state);
  EXPECT_FALSE(ParseState(header + "rule\tdirection=sideways\n").state);
  EXPECT_FALSE(ParseState(header + "rule\tname=a\tname=b\n").state);
  EXPECT_FALSE(ParseState(header + "firewall\tpublic=maybe\n").state);
  EXPECT_FALSE(ParseState(header + "service\tstart=immediate\n").state);
  EXPECT_FALSE(ParseState(header + "open-port\tprotocol=ICMP\n").state);
  EXPECT_FALSE(ParseState(header + "rule\tnovalue\n").state);
}

TEST(LegacyProfileMapping, StandardIsTheCurrentPrivateOrPublicCategory) {
  HostState s;
  s.currentProfile = Profile::Private;
  EXPECT_EQ(CurrentLegacyProfile(s), LegacyProfile::Standard);
  EXPECT_EQ(AdvancedProfileOf(LegacyProfile::Standard, s), Profile::Private);
  s.currentProfile = Profile::Public;
  EXPECT_EQ(AdvancedProfileOf(LegacyProfile::Standard, s), Profile::Public);
  EXPECT_EQ(AdvancedProfileOf(LegacyProfile::Domain, s), Profile::Domain);
  s.currentProfile = Profile::Domain;
  EXPECT_EQ(CurrentLegacyProfile(s), LegacyProfile::Domain);
  EXPECT_EQ(AdvancedProfileOf(LegacyProfile::Standard, s), Profile::Private);
}

TEST(ProfileBits, OnlySingleProfileBitsName) {
  EXPECT_EQ(ProfileFromBit(1), Profile::Domain);
  EXPECT_EQ(ProfileFromBit(2), Profile::Private);
  EXPECT_EQ(ProfileFromBit(4), Profile::Public);
  EXPECT_FALSE(ProfileFromBit(3));
  EXPECT_FALSE(ProfileFromBit(0));
  EXPECT_EQ(ProfileBit(Profile::Public), 4);
}

}  // namespace
}  // namespace testbed
