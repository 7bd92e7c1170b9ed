#include "state/host_state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
  s.openPorts.push_back(OpenPort{LegacyProfile::Domain, 445, 17, "SMB\tdirect", false, "SUBNET", ""});
  s.currentProfileTypes = 5;
  s.heldByGroupPolicy = 1;
  s.SetExceptionsNotAllowed(LegacyProfile::Domain, true);
  s.refuseAddNumber = 7;
  s.addsSeen = 3;
  s.serviceExceptions.push_back(ServiceException{
      LegacyProfile::Domain, ServiceType::FileAndPrint, "SUBNET", {{139, 6, true}, {445, 6, false}, {137, 17, true}}});
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
  s.firewallNeedsService = true;
  s.legacyServedByMpsSvc = true;
  s.faultPlan.push_back(PlannedFault{"RulesAdd", 3, static_cast<int32_t>(0x80070005u), std::nullopt, "", 1});
  s.faultPlan.push_back(PlannedFault{"RuleGetEnabled", 0, 1, 1, "a\trule", 0});
  s.rules.push_back(FirewallRule{});
  s.rules.back().item = RuleItem::Object;
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
  EXPECT_EQ(parsed.state->CurrentProfileTypes(), 5);
  EXPECT_TRUE(parsed.state->HeldByGroupPolicy(Profile::Domain));
  EXPECT_FALSE(parsed.state->HeldByGroupPolicy(Profile::Public));
  EXPECT_TRUE(parsed.state->ExceptionsNotAllowed(LegacyProfile::Domain));
  EXPECT_FALSE(parsed.state->ExceptionsNotAllowed(LegacyProfile::Standard));
  EXPECT_EQ(parsed.state->refuseAddNumber, 7);
  EXPECT_EQ(parsed.state->addsSeen, 3);
  const ServiceException& e = parsed.state->serviceExceptions.at(0);
  EXPECT_EQ(e.profile, LegacyProfile::Domain);
  EXPECT_EQ(e.scope, "SUBNET");
  ASSERT_EQ(e.ports.size(), 3u);
  EXPECT_EQ(e.ports[1].port, 445);
  EXPECT_FALSE(e.ports[1].enabled);
  EXPECT_EQ(e.ports[2].protocol, 17);
  EXPECT_TRUE(parsed.state->firewallNeedsService);
  EXPECT_TRUE(parsed.state->legacyServedByMpsSvc);
  const auto& faults = parsed.state->faultPlan;
  ASSERT_EQ(faults.size(), 2u);
  EXPECT_EQ(faults[0].hr, static_cast<int32_t>(0x80070005u));
  EXPECT_EQ(faults[0].seen, 1);
  EXPECT_FALSE(faults[0].value);
  EXPECT_EQ(faults[1].rule, "a\trule");
  EXPECT_EQ(faults[1].value, 1);
  EXPECT_EQ(parsed.state->rules.back().item, RuleItem::Object);
}

// Which call a planned fault answers: counted per method from its planning,
// scoped to a rule where it names one, the first that applies winning.
TEST(PlannedFaults, AnswerTheirNthCallOfTheirMethodOnly) {
  const long kDenied = static_cast<int32_t>(0x80070005u);
  std::vector<PlannedFault> plan = {{"RulesAdd", 2, kDenied, std::nullopt, "", 0},
                                    {"RuleGetEnabled", 0, 1, 0, "odd", 0},
                                    {"RulesAdd", 0, 1, std::nullopt, "", 0}};
  struct Case {
    const char* call;
    const char* rule;
    long hr;
    std::optional<long> value;
  };
  const Case cases[] = {
      {"RulesAdd", "", 1, std::nullopt},        // the first Add: only the every-call success code
      {"RulesAdd", "", kDenied, std::nullopt},  // the second: the failure planned first
      {"RulesAdd", "", 1, std::nullopt},       {"RuleGetEnabled", "other", 0, std::nullopt},
      {"RuleGetEnabled", "odd", 1, 0},         {"EnumNext", "", 0, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.call) + "/" + c.rule);
    EXPECT_EQ(PlansFor(plan, c.call), std::string(c.call) != "EnumNext");
    const PlannedAnswer answer = TakePlannedAnswer(plan, c.call, c.rule);
    EXPECT_EQ(answer.hr, c.hr);
    EXPECT_EQ(answer.value, c.value);
  }
  EXPECT_EQ(plan[0].seen, 3);
  EXPECT_EQ(plan[1].seen, 1);  // the other rule's read is not counted
}

TEST(PlannedFaults, MalformedFaultLinesAreRefused) {
  const std::string header = "quillfort-testbed-state\tversion=1\n";
  for (const char* line : {"fault\tnth=1", "fault\tcall=RulesAdd\thr=0xZZ", "fault\tcall=RulesAdd\tnth=-1",
                           "fault\tcall=RulesAdd\tvalue=x", "rule\titem=thing"}) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(ParseState(header + line + "\n").state);
  }
}

// State files written before service exceptions, add refusals and profile
// masks existed still read, with none of them.
TEST(HostStateText, OlderStateFilesReadWithNewSettingsAtRest) {
  auto parsed = ParseState(
      "quillfort-testbed-state\tversion=1\nhost\tscenario=old\tcurrent-profile=public\n"
      "faults\tpolicy2=allow\tlegacy-manager=allow\nopen-port\tport=445\n");
  ASSERT_TRUE(parsed.state) << parsed.error;
  EXPECT_EQ(parsed.state->CurrentProfileTypes(), 4);
  EXPECT_EQ(parsed.state->refuseAddNumber, 0);
  EXPECT_TRUE(parsed.state->serviceExceptions.empty());
  EXPECT_FALSE(parsed.state->ExceptionsNotAllowed(LegacyProfile::Standard));
  // and the mask stays out of the text until someone sets it
  EXPECT_EQ(SerializeState(*parsed.state).find("current-profile-types"), std::string::npos);
}

TEST(ServiceExceptions, EnabledOnlyWhenEveryPortIsAndSwitchedWhole) {
  ServiceException e{LegacyProfile::Standard, ServiceType::FileAndPrint, "ALL",
                     DefaultServicePorts(ServiceType::FileAndPrint, true)};
  ASSERT_EQ(e.ports.size(), 4u);
  EXPECT_TRUE(e.Enabled());
  e.ports[2].enabled = false;
  EXPECT_FALSE(e.Enabled());
  e.SetEnabled(true);
  EXPECT_TRUE(e.Enabled());
  e.SetEnabled(false);
  for (const auto& p : e.ports) EXPECT_FALSE(p.enabled);
  EXPECT_FALSE((ServiceException{}).Enabled()) << "a service without ports opens nothing";
  // File and Printer Sharing: TCP 139 and 445, UDP 137 and 138.
  std::vector<std::pair<long, long>> ports;
  for (const auto& p : DefaultServicePorts(ServiceType::FileAndPrint, false)) ports.emplace_back(p.protocol, p.port);
  EXPECT_EQ(ports, (std::vector<std::pair<long, long>>{{6, 139}, {6, 445}, {17, 137}, {17, 138}}));
  EXPECT_EQ(ServiceTypeFromName("FILEANDPRINT"), ServiceType::FileAndPrint);
  EXPECT_FALSE(ServiceTypeFromName("fileandprint"));
}

TEST(HostStateText, EveryValueStaysOnOneLine) {
  std::string text = SerializeState(RichState());
  size_t lines = std::count(text.begin(), text.end(), '\n');
  // header, host, firewall, faults, legacy exceptions, remote admin, netsh,
  // 1 service, 1 port, 1 service exception, 2 rules, 2 log lines
  EXPECT_EQ(lines, 17u);
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
  EXPECT_FALSE(ParseState(header + "host\tcurrent-profile-types=8\n").state);
  EXPECT_FALSE(ParseState(header + "firewall\tgroup-policy=-1\n").state);
  EXPECT_FALSE(ParseState(header + "legacy-exceptions\tdomain=perhaps\n").state);
  EXPECT_FALSE(ParseState(header + "service-exception\ttype=PRINTING\tports=TCP 139 on\n").state);
  for (const char* ports : {"TCP 139", "TCP139 on", "ICMP 8 on", "TCP 13x on", "TCP 139 maybe", "TCP 139 on,"})
    EXPECT_FALSE(ParseState(header + "service-exception\ttype=FILEANDPRINT\tports=" + ports + "\n").state) << ports;
}

// A dump is the state text followed by the service manager's view of each
// service and the version given to Quillfort; it reads back whole.
TEST(HostStateText, ADumpWithServiceReportsAndVersionReadsBack) {
  HostState s = RichState();
  s.denyChanges = true;
  s.services.push_back(ServiceSetup{"SharedAccess", StartBehaviour::Missing, 0, 3, "stopped", 0, {}});
  s.services[0].scm = ScmReport{true, 2, "running"};
  s.services[1].scm = ScmReport{false, 0, ""};
  s.windowsVersion = "win7";
  const std::string text = SerializeState(s);
  EXPECT_NE(text.find("\tadds=3\tchanges=deny\n"), std::string::npos) << text;
  EXPECT_NE(text.find("scm\tname=MpsSvc\tinstalled=yes\tstart-type=auto\tstate=running\n"
                      "scm\tname=SharedAccess\tinstalled=no\n"
                      "windows-version\tquillfort=win7\n"),
            std::string::npos)
      << text;
  ParseResult parsed = ParseState(text);
  ASSERT_TRUE(parsed.state) << parsed.error;
  EXPECT_EQ(SerializeState(*parsed.state), text);
  EXPECT_TRUE(parsed.state->denyChanges);
  ASSERT_TRUE(parsed.state->services.at(0).scm);
  EXPECT_EQ(parsed.state->services[0].scm->startType, 2u);
  EXPECT_FALSE(parsed.state->services.at(1).scm->installed);
  EXPECT_EQ(parsed.state->windowsVersion, "win7");

  // The state file holds none of them, and an unknown service's report is refused.
  EXPECT_EQ(SerializeState(RichState()).find("scm\t"), std::string::npos);
  EXPECT_EQ(SerializeState(RichState()).find("changes="), std::string::npos);
  const std::string header = "quillfort-testbed-state\tversion=1\n";
  EXPECT_EQ(ParseState(header + "scm\tname=MpsSvc\tinstalled=yes\n").error,
            "line 2: scm line for unknown service MpsSvc");
  EXPECT_FALSE(ParseState(header + "service\tname=A\nscm\tname=A\tinstalled=yes\tstart-type=sometimes\n").state);
  EXPECT_FALSE(ParseState(header + "faults\tchanges=maybe\n").state);
}

TEST(StartTypes, NamesRoundTripAndUnknownStaysUnknown) {
  for (unsigned long t = 0; t <= 4; ++t) EXPECT_EQ(StartTypeFromName(StartTypeName(t)), t);
  EXPECT_STREQ(StartTypeName(2), "auto");
  EXPECT_STREQ(StartTypeName(4), "disabled");
  EXPECT_STREQ(StartTypeName(9), "unknown");
  EXPECT_STREQ(StartTypeName(*StartTypeFromName("unknown")), "unknown");
  EXPECT_FALSE(StartTypeFromName("Auto"));
}

TEST(HostStateText, FieldErrorsNameTheFieldWhateverTheirPlaceInTheLine) {
  const std::string header = "quillfort-testbed-state\tversion=1\n";
  EXPECT_EQ(ParseState(header + "rule\tname=a\tprotocol=6\tname=b\n").error, "line 2: repeated field name");
  // Of two unknown fields the first by name is reported, not the first in the line.
  EXPECT_EQ(ParseState(header + "rule\tzone=1\tname=x\tcolour=red\n").error, "line 2: unknown field colour");
  // Fields in any order, escaped or not, keep their own values.
  auto parsed = ParseState(header + "rule\tenabled=yes\tlocal-ports=445\tdescription=a\\tb\\\\c\tname=r\n");
  ASSERT_TRUE(parsed.state) << parsed.error;
  const FirewallRule& r = parsed.state->rules.at(0);
  EXPECT_EQ(r.name, "r");
  EXPECT_EQ(r.description, "a\tb\\c");
  EXPECT_EQ(r.localPorts, "445");
  EXPECT_TRUE(r.enabled);
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

namespace testbed {

TEST(HostStateText, ProfileSettingsLegacyExceptionsAndGroupPolicyRoundTrip) {
  HostState s;
  s.blockAllInbound = 5;
  s.excludedInterfaces = 2;
  s.noWindowsFirewall = true;
  s.SetRemoteAdmin(LegacyProfile::Standard, true);
  s.authorisedApps.push_back({LegacyProfile::Domain, "C:\\WINDOWS\\system32\\svchost.exe", "host\tname", false});
  s.groupPolicy.push_back({"PublicProfile", "AllowLocalPolicyMerge", 0ul, ""});
  s.groupPolicy.push_back({"FirewallRules", "r1", std::nullopt, "v2.10|Action=Block|LPort=445|"});
  const ParseResult parsed = ParseState(SerializeState(s));
  ASSERT_TRUE(parsed.state) << parsed.error;
  EXPECT_EQ(SerializeState(*parsed.state), SerializeState(s));
  EXPECT_EQ(parsed.state->blockAllInbound, 5);
  EXPECT_TRUE(parsed.state->RemoteAdmin(LegacyProfile::Standard));
  EXPECT_FALSE(parsed.state->RemoteAdmin(LegacyProfile::Domain));
  ASSERT_EQ(parsed.state->groupPolicy.size(), 2u);
  EXPECT_EQ(parsed.state->groupPolicy[0].number, 0ul);
  EXPECT_FALSE(parsed.state->groupPolicy[1].number);
  EXPECT_FALSE(
      ParseState(std::string(SerializeState(HostState{})) + "policy\tkey=PublicProfile\tname=x\tdword=1x\n").state);
  EXPECT_FALSE(ParseState(std::string(SerializeState(HostState{})) + "firewall\tblock-all=9\n").state);
}

}  // namespace testbed
