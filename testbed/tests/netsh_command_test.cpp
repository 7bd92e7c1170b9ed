#include "state/netsh_command.h"

#include <gtest/gtest.h>

namespace testbed {
namespace {

NetshOutcome RunNetsh(HostState& s, const std::string& line) { return ApplyNetshCommand(s, SplitNetshArguments(line)); }

TEST(NetshArguments, SplitsOnBlanksKeepsQuotedWordsAndDropsProgram) {
  auto words = SplitNetshArguments("netsh firewall  set portopening name = \"File and Print\" port=445");
  ASSERT_EQ(words.size(), 7u);
  EXPECT_EQ(words[0], "firewall");
  EXPECT_EQ(words[5], "File and Print");
  EXPECT_EQ(words[6], "port=445");
  EXPECT_TRUE(SplitNetshArguments("netsh").empty());
}

TEST(NetshOpmode, SwitchesTheCurrentProfileOnly) {
  HostState s;
  s.currentProfile = Profile::Public;
  EXPECT_EQ(RunNetsh(s, "netsh firewall set opmode enable").exitCode, 0);
  EXPECT_TRUE(s.IsOn(Profile::Public));
  EXPECT_FALSE(s.IsOn(Profile::Private));
  EXPECT_FALSE(s.IsOn(Profile::Domain));
  EXPECT_EQ(RunNetsh(s, "netsh FIREWALL SET OPMODE mode=DISABLE").exitCode, 0);
  EXPECT_FALSE(s.IsOn(Profile::Public));
}

TEST(NetshOpmode, ProfileAllSwitchesDomainAndStandard) {
  HostState s;
  EXPECT_EQ(RunNetsh(s, "netsh firewall set opmode mode = enable profile = all").exitCode, 0);
  EXPECT_TRUE(s.IsOn(Profile::Domain));
  EXPECT_TRUE(s.IsOn(Profile::Private));
  EXPECT_FALSE(s.IsOn(Profile::Public));
}

TEST(NetshOpmode, ProfileHeldByGroupPolicyKeepsItsSwitch) {
  HostState s;
  s.currentProfile = Profile::Domain;
  s.heldByGroupPolicy = ProfileBit(Profile::Domain);
  EXPECT_EQ(RunNetsh(s, "netsh firewall set opmode mode = enable profile = all").exitCode, 0);
  EXPECT_FALSE(s.IsOn(Profile::Domain));
  EXPECT_TRUE(s.IsOn(Profile::Private));
}

TEST(NetshOpmode, RejectsMissingOrBadMode) {
  HostState s;
  EXPECT_NE(RunNetsh(s, "netsh firewall set opmode").exitCode, 0);
  EXPECT_NE(RunNetsh(s, "netsh firewall set opmode sideways").exitCode, 0);
  EXPECT_NE(RunNetsh(s, "netsh firewall set opmode enable profile=office").exitCode, 0);
  EXPECT_FALSE(s.IsOn(Profile::Private));
}

TEST(NetshPortopening, DisablesTcpAndUdpInBothProfilesForProtocolAll) {
  HostState s;
  s.openPorts.push_back(OpenPort{LegacyProfile::Standard, 445, 6, "SMB", true, "ALL", ""});
  s.openPorts.push_back(OpenPort{LegacyProfile::Standard, 136, 6, "136", true, "ALL", ""});
  auto out = RunNetsh(s,
                      "netsh firewall set portopening protocol = ALL port = 445 name = 445 mode = DISABLE scope = ALL "
                      "profile = ALL");
  ASSERT_EQ(out.exitCode, 0) << out.message;
  for (LegacyProfile p : {LegacyProfile::Standard, LegacyProfile::Domain}) {
    for (long proto : {6L, 17L}) {
      OpenPort* entry = s.FindOpenPort(p, 445, proto);
      ASSERT_NE(entry, nullptr);
      EXPECT_FALSE(entry->enabled);
      EXPECT_EQ(entry->name, "445");
    }
  }
  EXPECT_TRUE(s.FindOpenPort(LegacyProfile::Standard, 136, 6)->enabled);
  EXPECT_EQ(s.openPorts.size(), 5u);
}

TEST(NetshPortopening, PositionalValuesAndDefaultsOpenOnCurrentProfile) {
  HostState s;
  s.currentProfile = Profile::Domain;
  ASSERT_EQ(RunNetsh(s, "netsh firewall set portopening TCP 8080 Web").exitCode, 0);
  ASSERT_EQ(s.openPorts.size(), 1u);
  const OpenPort& p = s.openPorts[0];
  EXPECT_EQ(p.profile, LegacyProfile::Domain);
  EXPECT_EQ(p.port, 8080);
  EXPECT_EQ(p.protocol, 6);
  EXPECT_EQ(p.name, "Web");
  EXPECT_TRUE(p.enabled);
}

TEST(NetshPortopening, RejectedCommandsChangeNothing) {
  HostState s;
  s.openPorts.push_back(OpenPort{LegacyProfile::Standard, 445, 6, "SMB", true, "ALL", ""});
  const std::string before = SerializeState(s);
  for (const char* line :
       {"netsh firewall set portopening protocol=ICMP port=445", "netsh firewall set portopening protocol=TCP port=0",
        "netsh firewall set portopening protocol=TCP port=70000",
        "netsh firewall set portopening protocol=TCP port=44x", "netsh firewall set portopening port=445",
        "netsh firewall set portopening protocol=TCP port=445 mode=maybe",
        "netsh firewall set portopening protocol=TCP port=445 scope=PLANET",
        "netsh firewall set portopening protocol=TCP port=445 colour=red",
        "netsh firewall set portopening protocol=TCP protocol=UDP port=445",
        "netsh firewall set portopening TCP 445 a ENABLE ALL x CURRENT y z",
        "netsh firewall set portopening protocol= port=445", "netsh firewall delete portopening TCP 445",
        "netsh interface ip show config", "netsh"}) {
    EXPECT_NE(RunNetsh(s, line).exitCode, 0) << line;
    EXPECT_EQ(SerializeState(s), before) << line;
  }
}

TEST(NetshOpmode, ExceptionsSwitchTheNoExceptionsSettingOfTheNamedProfiles) {
  HostState s;
  ASSERT_EQ(RunNetsh(s, "netsh firewall set opmode enable disable").exitCode, 0);
  EXPECT_TRUE(s.ExceptionsNotAllowed(LegacyProfile::Standard));
  EXPECT_FALSE(s.ExceptionsNotAllowed(LegacyProfile::Domain));
  ASSERT_EQ(RunNetsh(s, "netsh firewall set opmode mode=enable exceptions=enable profile=all").exitCode, 0);
  EXPECT_FALSE(s.ExceptionsNotAllowed(LegacyProfile::Standard));
  ASSERT_EQ(RunNetsh(s, "netsh firewall set opmode enable").exitCode, 0);
  EXPECT_FALSE(s.ExceptionsNotAllowed(LegacyProfile::Standard)) << "left alone when not named";
  EXPECT_NE(RunNetsh(s, "netsh firewall set opmode enable exceptions=sometimes").exitCode, 0);
}

TEST(NetshService, FileAndPrintDisabledInBothProfilesWithEveryPort) {
  HostState s;
  for (LegacyProfile p : {LegacyProfile::Standard, LegacyProfile::Domain})
    s.serviceExceptions.push_back(
        ServiceException{p, ServiceType::FileAndPrint, "SUBNET", DefaultServicePorts(ServiceType::FileAndPrint, true)});
  s.openPorts.push_back(OpenPort{LegacyProfile::Standard, 445, 6, "445", true, "ALL", ""});
  auto out = RunNetsh(s, "netsh firewall set service type = FILEANDPRINT mode = DISABLE scope = ALL profile = ALL");
  ASSERT_EQ(out.exitCode, 0) << out.message;
  ASSERT_EQ(s.serviceExceptions.size(), 2u);
  for (const auto& e : s.serviceExceptions) {
    EXPECT_FALSE(e.Enabled());
    for (const auto& p : e.ports) EXPECT_FALSE(p.enabled) << p.port;
    EXPECT_EQ(e.scope, "ALL");
  }
  EXPECT_TRUE(s.FindOpenPort(LegacyProfile::Standard, 445, 6)->enabled) << "port openings are another list";
}

TEST(NetshService, MissingExceptionIsCreatedWithItsPortsAndDefaultsApply) {
  HostState s;
  s.currentProfile = Profile::Domain;
  ASSERT_EQ(RunNetsh(s, "netsh firewall set service fileandprint").exitCode, 0);  // mode ENABLE, current profile
  ASSERT_EQ(s.serviceExceptions.size(), 1u);
  const ServiceException& e = s.serviceExceptions[0];
  EXPECT_EQ(e.profile, LegacyProfile::Domain);
  EXPECT_TRUE(e.Enabled());
  EXPECT_EQ(e.ports.size(), 4u);
  ASSERT_EQ(RunNetsh(s, "netsh firewall set service type=ALL mode=DISABLE profile=STANDARD").exitCode, 0);
  EXPECT_EQ(s.serviceExceptions.size(), 4u);
  EXPECT_TRUE(s.FindServiceException(LegacyProfile::Domain, ServiceType::FileAndPrint)->Enabled());
  EXPECT_FALSE(s.FindServiceException(LegacyProfile::Standard, ServiceType::RemoteDesktop)->Enabled());
}

TEST(NetshService, RemoteAdministrationIsSwitchedByItsOwnTypeAndByAll) {
  HostState s;
  for (LegacyProfile p : {LegacyProfile::Standard, LegacyProfile::Domain}) s.SetRemoteAdmin(p, true);
  ASSERT_EQ(RunNetsh(s, "netsh firewall set service type = REMOTEADMIN mode = DISABLE profile = STANDARD").exitCode, 0);
  EXPECT_FALSE(s.RemoteAdmin(LegacyProfile::Standard));
  EXPECT_TRUE(s.RemoteAdmin(LegacyProfile::Domain));
  EXPECT_TRUE(s.serviceExceptions.empty()) << "no service exception stands for it";
  ASSERT_EQ(RunNetsh(s, "netsh firewall set service type=ALL mode=DISABLE profile=ALL").exitCode, 0);
  EXPECT_FALSE(s.RemoteAdmin(LegacyProfile::Domain));
  ASSERT_EQ(RunNetsh(s, "netsh firewall set service remoteadmin enable").exitCode, 0);  // current profile
  EXPECT_TRUE(s.RemoteAdmin(CurrentLegacyProfile(s)));
}

TEST(NetshService, RejectedCommandsChangeNothing) {
  HostState s;
  s.serviceExceptions.push_back(ServiceException{LegacyProfile::Standard, ServiceType::FileAndPrint, "ALL",
                                                 DefaultServicePorts(ServiceType::FileAndPrint, true)});
  const std::string before = SerializeState(s);
  for (const char* line : {"netsh firewall set service", "netsh firewall set service type=PRINTER",
                           "netsh firewall set service type=FILEANDPRINT mode=OFF",
                           "netsh firewall set service type=FILEANDPRINT scope=PLANET",
                           "netsh firewall set service type=FILEANDPRINT scope=CUSTOM",
                           "netsh firewall set service type=FILEANDPRINT profile=OFFICE",
                           "netsh firewall set service type=FILEANDPRINT port=445"}) {
    EXPECT_NE(RunNetsh(s, line).exitCode, 0) << line;
    EXPECT_EQ(SerializeState(s), before) << line;
  }
}

// A standard user's netsh: valid commands fail for want of elevation and
// change nothing; a malformed one still fails for what is wrong with it.
TEST(NetshElevation, HostDenyingChangesRefusesEveryValidCommand) {
  HostState s;
  s.denyChanges = true;
  s.openPorts.push_back(OpenPort{LegacyProfile::Standard, 445, 6, "445", true, "ALL", ""});
  s.serviceExceptions.push_back(ServiceException{LegacyProfile::Standard, ServiceType::FileAndPrint, "ALL",
                                                 DefaultServicePorts(ServiceType::FileAndPrint, true)});
  const std::string before = SerializeState(s);
  for (const char* line : {"netsh firewall set opmode enable",
                           "netsh firewall set portopening protocol = TCP port = 445 name = 445 mode = DISABLE",
                           "netsh firewall set service type = FILEANDPRINT mode = DISABLE scope = ALL profile = ALL",
                           "netsh firewall set service type = REMOTEADMIN mode = DISABLE profile = ALL"}) {
    NetshOutcome outcome = RunNetsh(s, line);
    EXPECT_EQ(outcome.exitCode, 1) << line;
    EXPECT_EQ(outcome.message, "The requested operation requires elevation.") << line;
    EXPECT_EQ(SerializeState(s), before) << line;
  }
  EXPECT_NE(RunNetsh(s, "netsh firewall set opmode").message, "The requested operation requires elevation.");
  s.denyChanges = false;
  EXPECT_EQ(RunNetsh(s, "netsh firewall set opmode enable").exitCode, 0);
}

// A marked entry must survive the state file and be told apart from a
// command that merely mentions the mark.
TEST(WrongNetsh, MarkedEntriesAreCountedAfterARoundTrip) {
  HostState s;
  s.netshLog = {"netsh firewall set opmode enable", MarkWrongNetsh("netsh firewall set opmode enable"),
                "netsh firewall set portopening name = \"" + std::string(kWrongNetshMark) + "\" port = 445",
                MarkWrongNetsh("")};
  EXPECT_EQ(CountWrongNetshCalls(s.netshLog), 2);
  ParseResult back = ParseState(SerializeState(s));
  ASSERT_TRUE(back.state) << back.error;
  EXPECT_EQ(back.state->netshLog, s.netshLog);
  EXPECT_EQ(CountWrongNetshCalls(back.state->netshLog), 2);
  EXPECT_EQ(CountWrongNetshCalls({}), 0);
  EXPECT_EQ(CountWrongNetshCalls({"[32-bit netsh via WOW64]"}), 0);  // the mark without its blank
}

}  // namespace
}  // namespace testbed
