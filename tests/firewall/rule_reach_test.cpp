// A block rule counts only when it reaches every peer on every path; the
// reach is read only for a rule that would otherwise count.
#include "firewall/rule_reach.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "firewall/port_exposure.h"

namespace {

using namespace qf::firewall;

// A rule with every property; nullopt: that read fails.
struct ReachRule {
  std::optional<bool> enabled = true;
  std::optional<long> direction = kDirectionInbound;
  std::optional<long> action = kActionBlock;
  std::optional<long> protocol = kProtocolAny;
  std::optional<long> profiles = kKnownProfiles;
  std::optional<std::wstring> localPorts = L"445";
  std::optional<std::wstring> program = L"";
  std::optional<std::wstring> service = L"";
  std::optional<std::wstring> remoteAddresses = L"*";
  std::optional<std::wstring> localAddresses = L"*";
  std::optional<std::wstring> remotePorts = L"";
  std::optional<std::wstring> interfaceTypes = L"All";
  std::optional<bool> namesInterfaces = false;
  std::optional<std::wstring> other = L"";
  std::optional<std::wstring> name = L"Block 445";
};

class FakeRule final : public RuleProperties, public RuleReach {
 public:
  explicit FakeRule(const ReachRule& rule) : r_(rule) {}
  std::optional<bool> Enabled() override { return Read(), r_.enabled; }
  std::optional<long> Direction() override { return Read(), r_.direction; }
  std::optional<long> Action() override { return Read(), r_.action; }
  std::optional<long> Protocol() override { return Read(), r_.protocol; }
  std::optional<long> Profiles() override { return Read(), r_.profiles; }
  std::optional<std::wstring> LocalPorts() override { return Read(), r_.localPorts; }
  std::optional<std::wstring> ApplicationName() override { return Reach(), r_.program; }
  std::optional<std::wstring> ServiceName() override { return Reach(), r_.service; }
  std::optional<std::wstring> RemoteAddresses() override { return Reach(), r_.remoteAddresses; }
  std::optional<std::wstring> LocalAddresses() override { return Reach(), r_.localAddresses; }
  std::optional<std::wstring> RemotePorts() override { return Reach(), r_.remotePorts; }
  std::optional<std::wstring> InterfaceTypes() override { return Reach(), r_.interfaceTypes; }
  std::optional<bool> NamesInterfaces() override { return Reach(), r_.namesInterfaces; }
  std::optional<std::wstring> OtherCondition() override { return Reach(), r_.other; }
  std::optional<std::wstring> Name() override { return ++nameReads, r_.name; }
  int reads = 0;
  int reachReads = 0;
  int nameReads = 0;

 private:
  void Read() { ++reads; }
  void Reach() { ++reachReads; }
  const ReachRule& r_;
};

struct Tallied {
  SlotFinding tcp;
  SlotFinding udp;
  int reachReads = 0;
  int nameReads = 0;
};

Tallied TallyOne(const std::vector<ReachRule>& rules, long port = 445) {
  BlockTally tally({port}, kProfilePublic);
  Tallied out;
  for (const ReachRule& rule : rules) {
    FakeRule fake(rule);
    tally.Examine(fake, fake);
    out.reachReads += fake.reachReads;
    out.nameReads += fake.nameReads;
  }
  out.tcp = tally.Finding(0, kProtocolTcp);
  out.udp = tally.Finding(0, kProtocolUdp);
  return out;
}

// Each kind of narrowing, as the firewall reports it, keeps the rule from
// counting and is named as the reason; the full reach counts.
TEST(RuleReachTest, EveryNarrowingKeepsTheRuleFromCountingAndIsNamed) {
  struct Case {
    const char* what;
    void (*narrow)(ReachRule&);
    Narrowing expected;
  };
  const Case cases[] = {
      {"remote address", [](ReachRule& r) { r.remoteAddresses = L"10.1.2.3/255.255.255.255"; },
       Narrowing::RemoteAddresses},
      {"remote keyword", [](ReachRule& r) { r.remoteAddresses = L"LocalSubnet"; }, Narrowing::RemoteAddresses},
      {"local address", [](ReachRule& r) { r.localAddresses = L"192.168.0.5"; }, Narrowing::LocalAddresses},
      {"program", [](ReachRule& r) { r.program = L"C:\\Tools\\a.exe"; }, Narrowing::Program},
      {"one service", [](ReachRule& r) { r.service = L"LanmanServer"; }, Narrowing::Service},
      {"every service only", [](ReachRule& r) { r.service = L"*"; }, Narrowing::Service},
      {"wireless", [](ReachRule& r) { r.interfaceTypes = L"Wireless"; }, Narrowing::InterfaceTypes},
      {"three types listed", [](ReachRule& r) { r.interfaceTypes = L"Lan,Wireless,RemoteAccess"; },
       Narrowing::InterfaceTypes},
      {"named interface", [](ReachRule& r) { r.namesInterfaces = true; }, Narrowing::Interfaces},
      {"remote ports", [](ReachRule& r) { r.remotePorts = L"1024-65535"; }, Narrowing::RemotePorts},
      {"authorised computers", [](ReachRule& r) { r.other = L"RemoteMachineAuthorizedList"; },
       Narrowing::OtherCondition},
      {"program unread", [](ReachRule& r) { r.program.reset(); }, Narrowing::Unread},
      {"interfaces unread", [](ReachRule& r) { r.namesInterfaces.reset(); }, Narrowing::Unread},
      {"other unread", [](ReachRule& r) { r.other.reset(); }, Narrowing::Unread},
  };
  for (const Case& c : cases) {
    ReachRule rule;
    c.narrow(rule);
    const Tallied t = TallyOne({rule});
    EXPECT_FALSE(t.tcp.blocked) << c.what;
    EXPECT_FALSE(t.udp.blocked) << c.what;
    EXPECT_EQ(t.tcp.narrowing, c.expected) << c.what;
    EXPECT_EQ(t.tcp.rule, L"Block 445") << c.what;
    EXPECT_EQ(t.nameReads, 1) << c.what;
  }
  for (const wchar_t* any : {L"*", L"", L" * "}) {
    ReachRule rule;
    rule.remoteAddresses = any;
    rule.localAddresses = any;
    rule.remotePorts = any;
    EXPECT_TRUE(TallyOne({rule}).tcp.blocked);
  }
  ReachRule allTypes;
  allTypes.interfaceTypes = L"all";
  const Tallied full = TallyOne({allTypes});
  EXPECT_TRUE(full.tcp.blocked && full.udp.blocked);
  EXPECT_EQ(full.tcp.rule, L"Block 445");
  EXPECT_EQ(full.tcp.narrowing, Narrowing::None);
}

TEST(RuleReachTest, AFullRuleAfterANarrowOneBlocksAndTheFirstNarrowOneStaysTheReason) {
  ReachRule narrow;
  narrow.remoteAddresses = L"10.1.2.3";
  narrow.name = L"first narrow";
  ReachRule narrower;
  narrower.program = L"x.exe";
  narrower.name = L"second narrow";
  const Tallied open = TallyOne({narrow, narrower});
  EXPECT_FALSE(open.tcp.blocked);
  EXPECT_EQ(open.tcp.rule, L"first narrow");
  EXPECT_EQ(open.tcp.narrowing, Narrowing::RemoteAddresses);
  EXPECT_EQ(open.nameReads, 1);  // the second narrowed rule is not named

  ReachRule full;
  full.name = L"full";
  const Tallied blocked = TallyOne({narrow, full});
  EXPECT_TRUE(blocked.tcp.blocked);
  EXPECT_EQ(blocked.tcp.rule, L"full");
  EXPECT_EQ(blocked.tcp.narrowing, Narrowing::None);
}

TEST(RuleReachTest, ReachIsReadOnlyForARuleThatWouldOtherwiseCountAndStopsAtTheFirstNarrowing) {
  ReachRule otherPort;
  otherPort.localPorts = L"80";
  ReachRule allow;
  allow.action = 1;
  ReachRule otherProfile;
  otherProfile.profiles = kProfileDomain;
  EXPECT_EQ(TallyOne({otherPort, allow, otherProfile}).reachReads, 0);
  ReachRule program;
  program.program = L"a.exe";
  EXPECT_EQ(TallyOne({program}).reachReads, 1);
  ReachRule interfaces;
  interfaces.namesInterfaces = true;
  EXPECT_EQ(TallyOne({interfaces}).reachReads, 7);
  EXPECT_EQ(TallyOne({ReachRule{}}).reachReads, 8);
  // Once both protocols are blocked, later rules are not even looked at.
  EXPECT_EQ(TallyOne({ReachRule{}, ReachRule{}}).reachReads, 8);
}

TEST(RuleReachTest, ANarrowedRuleBlocksNothingAndOnlyTheTalliedSlotsHoldFindings) {
  ReachRule narrow;
  narrow.remoteAddresses = L"10.1.2.3";
  BlockTally tally({445}, kProfilePublic);
  FakeRule fake(narrow);
  tally.Examine(fake, fake);
  EXPECT_FALSE(tally.PortBlocked(0));
  EXPECT_GT(fake.reachReads, 0);
  EXPECT_EQ(tally.Finding(0, kProtocolTcp).narrowing, Narrowing::RemoteAddresses);
  EXPECT_FALSE(tally.Finding(0, 47).blocked);
  EXPECT_FALSE(tally.Finding(3, kProtocolTcp).blocked);
}

TEST(RuleReachTest, ProtocolSlotsKeepTheirOwnFindings) {
  ReachRule tcpFull;
  tcpFull.protocol = kProtocolTcp;
  tcpFull.name = L"tcp";
  ReachRule udpNarrow;
  udpNarrow.protocol = kProtocolUdp;
  udpNarrow.interfaceTypes = L"Wireless";
  udpNarrow.name = L"udp wireless";
  const Tallied t = TallyOne({tcpFull, udpNarrow});
  EXPECT_TRUE(t.tcp.blocked);
  EXPECT_EQ(t.tcp.rule, L"tcp");
  EXPECT_FALSE(t.udp.blocked);
  EXPECT_EQ(t.udp.rule, L"udp wireless");
  EXPECT_EQ(t.udp.narrowing, Narrowing::InterfaceTypes);
}

}  // namespace
