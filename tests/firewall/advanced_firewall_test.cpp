// CAdvancedFirewall against the policy doubles: lifecycle, switches, rule
// additions and the port lookup.
#include "firewall/advanced_firewall.h"

#include <random>
#include <string>
#include <vector>

#include "firewall_test_support.h"

namespace qf::fwtest {
namespace {

using testbed::BlockRule;
using testbed::RuleItem;
using testtools::StdoutCapture;

class AdvancedFirewallTest : public FirewallDoublesTest {};

TEST_F(AdvancedFirewallTest, InitializeOpensCloseClosesAndCloseTwiceIsHarmless) {
  CAdvancedFirewall firewall;
  EXPECT_FALSE(firewall.IsOpen());
  ASSERT_TRUE(firewall.Initialize());
  EXPECT_TRUE(firewall.IsOpen());
  EXPECT_EQ(host().LiveReferences(), 1);
  EXPECT_TRUE(firewall.Close());
  EXPECT_FALSE(firewall.IsOpen());
  EXPECT_EQ(host().LiveReferences(), 0);
  StdoutCapture out;
  EXPECT_TRUE(firewall.Close());
  EXPECT_EQ(out.Take(), "");
}

TEST_F(AdvancedFirewallTest, InitializeTwiceHoldsExactlyOnePolicyAndOneMoreApartment) {
  {
    CAdvancedFirewall firewall;
    ASSERT_TRUE(firewall.Initialize());
    ASSERT_TRUE(firewall.Initialize());
    EXPECT_EQ(host().Calls(Call::CreatePolicy2), 2);
    EXPECT_EQ(host().LiveReferences(), 1);
  }
  // The second initialisation stays with the thread; give it back here.
  CoUninitialize();
}

TEST_F(AdvancedFirewallTest, FailedCreationLeavesClosedAndUndoesItsApartment) {
  host().FailCall(Call::CreatePolicy2, 1, REGDB_E_CLASSNOTREG);
  CAdvancedFirewall firewall;
  StdoutCapture out;
  EXPECT_FALSE(firewall.Initialize());
  EXPECT_EQ(out.Take(), "CoCreateInstance for INetFwPolicy2 failed: 0x80040154\n");
  EXPECT_FALSE(firewall.IsOpen());
}

TEST_F(AdvancedFirewallTest, FailedReopenDropsThePolicyButCloseStillBalances) {
  CAdvancedFirewall firewall;
  ASSERT_TRUE(firewall.Initialize());
  host().FailCall(Call::CreatePolicy2, 2, kFailure);
  EXPECT_FALSE(firewall.Initialize());
  EXPECT_FALSE(firewall.IsOpen());
  EXPECT_EQ(host().LiveReferences(), 0);
  EXPECT_TRUE(firewall.Close());
}

TEST_F(AdvancedFirewallTest, ClosedObjectTouchesNothing) {
  CAdvancedFirewall firewall;
  StdoutCapture out;
  EXPECT_FALSE(firewall.EnableFirewall());
  EXPECT_FALSE(firewall.IsFirewallEnabled());
  EXPECT_FALSE(firewall.AddBlockRule(6, L"445"));
  EXPECT_FALSE(firewall.IsPortBlocked(445));
  EXPECT_EQ(out.Take(), "");
  EXPECT_TRUE(host().CallLog().empty());
}

TEST_F(AdvancedFirewallTest, EnableSwitchesPublicThenPrivateNeverDomain) {
  CAdvancedFirewall firewall;
  ASSERT_TRUE(firewall.Initialize());
  EXPECT_TRUE(firewall.EnableFirewall());
  const std::vector<Call> puts = {Call::Policy2PutFirewallEnabled, Call::Policy2PutFirewallEnabled};
  std::vector<Call> log = host().CallLog();
  log.erase(log.begin());  // the policy's creation
  EXPECT_EQ(log, puts);
  EXPECT_TRUE(host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC));
  EXPECT_TRUE(host().FirewallEnabled(NET_FW_PROFILE2_PRIVATE));
  EXPECT_FALSE(host().FirewallEnabled(NET_FW_PROFILE2_DOMAIN));
  // Public first: a refused first switch names it, and private stays off.
  host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC) = false;
  host().FirewallEnabled(NET_FW_PROFILE2_PRIVATE) = false;
  host().FailCall(Call::Policy2PutFirewallEnabled, 3, kFailure);
  StdoutCapture out;
  EXPECT_FALSE(firewall.EnableFirewall());
  EXPECT_EQ(out.Take(), "put_FirewallEnabled failed for Public: 0x80004005\n");
}

TEST_F(AdvancedFirewallTest, EnabledOnlyWhenPublicAndPrivateAreBothOn) {
  CAdvancedFirewall firewall;
  ASSERT_TRUE(firewall.Initialize());
  host().FirewallEnabled(NET_FW_PROFILE2_DOMAIN) = true;
  host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC) = true;
  EXPECT_FALSE(firewall.IsFirewallEnabled());
  host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC) = false;
  host().FirewallEnabled(NET_FW_PROFILE2_PRIVATE) = true;
  EXPECT_FALSE(firewall.IsFirewallEnabled());
  host().FirewallEnabled(NET_FW_PROFILE2_DOMAIN) = false;
  host().AnswerCall(Call::Policy2GetFirewallEnabled, 0, 1);  // any non-zero value is on
  EXPECT_TRUE(firewall.IsFirewallEnabled());
}

TEST_F(AdvancedFirewallTest, AddBlockRuleSetsExactlyTheRuleProperties) {
  CAdvancedFirewall firewall;
  ASSERT_TRUE(firewall.Initialize());
  StdoutCapture out;
  EXPECT_TRUE(firewall.AddBlockRule(6, L"445"));
  EXPECT_EQ(out.Take(), "Successfully added firewall rule !\n");
  ASSERT_EQ(host().rules.size(), 1u);
  const FirewallRule& rule = host().rules[0];
  EXPECT_EQ(rule.name, "@QXRuleOptions.exe, TCP-445");
  EXPECT_EQ(rule.grouping, "@QXRuleOptions.exe,-102");
  EXPECT_EQ(rule.description, "@QXRuleOptions.exe,-103");
  EXPECT_EQ(rule.direction, NET_FW_RULE_DIR_IN);
  EXPECT_EQ(rule.action, NET_FW_ACTION_BLOCK);
  EXPECT_EQ(rule.protocol, 6);
  EXPECT_EQ(rule.localPorts, "445");
  EXPECT_EQ(rule.profiles, 7);
  EXPECT_TRUE(rule.enabled);
  // Every property set once, each through its setter, before the one Add.
  const std::vector<Call> order = {Call::Policy2GetRules, Call::CreateRule,         Call::RulePutName,
                                   Call::RulePutGrouping, Call::RulePutDescription, Call::RulePutDirection,
                                   Call::RulePutAction,   Call::RulePutProtocol,    Call::RulePutLocalPorts,
                                   Call::RulePutProfiles, Call::RulePutEnabled,     Call::RulesAdd};
  std::vector<Call> log = host().CallLog();
  log.erase(log.begin());  // the policy's creation
  EXPECT_EQ(log, order);
  EXPECT_GE(spy().Allocations(), 4);  // name, grouping, description, port copy
}

TEST_F(AdvancedFirewallTest, SameArgumentsTwiceAddTwoRulesAndOtherProtocolsAreNamedUdp) {
  CAdvancedFirewall firewall;
  ASSERT_TRUE(firewall.Initialize());
  EXPECT_TRUE(firewall.AddBlockRule(6, L"135"));
  EXPECT_TRUE(firewall.AddBlockRule(6, L"135"));
  // Ports are for TCP and UDP only: the platform refuses them on an ICMP
  // rule, after the rule was named as a UDP one.
  StdoutCapture out;
  EXPECT_FALSE(firewall.AddBlockRule(1, L"135"));
  EXPECT_EQ(out.Take(), "Failed INetFwRule::put_LocalPorts failed with error: 0x 80070057.\n");
  EXPECT_TRUE(firewall.AddBlockRule(17, L"135"));
  ASSERT_EQ(host().rules.size(), 3u);
  EXPECT_EQ(host().rules[0].name, host().rules[1].name);
  EXPECT_EQ(host().rules[2].name, "@QXRuleOptions.exe, UDP-135");
  EXPECT_EQ(host().rules[2].protocol, 17);
}

TEST_F(AdvancedFirewallTest, OverlongPortTextIsRefusedBeforeTouchingThePolicy) {
  CAdvancedFirewall firewall;
  ASSERT_TRUE(firewall.Initialize());
  StdoutCapture out;
  EXPECT_FALSE(firewall.AddBlockRule(6, std::wstring(476, L'1').c_str()));
  EXPECT_EQ(out.Take(), "Failed to compose a resource identifier string: 0x8007007a\n");
  EXPECT_TRUE(host().rules.empty());
  EXPECT_EQ(host().Calls(Call::Policy2GetRules), 0);
  EXPECT_EQ(host().Calls(Call::CreateRule), 0);
  EXPECT_TRUE(firewall.AddBlockRule(6, std::wstring(475, L'1').c_str()));
  ASSERT_EQ(host().rules.size(), 1u);
  EXPECT_EQ(host().rules[0].name.size(), 499u);
}

TEST_F(AdvancedFirewallTest, AddAnsweringOtherThanSokIsNoSuccess) {
  CAdvancedFirewall firewall;
  ASSERT_TRUE(firewall.Initialize());
  host().FailCall(Call::RulesAdd, 1, S_FALSE);
  EXPECT_FALSE(firewall.AddBlockRule(17, L"445"));
}

// An enabled inbound block rule for any protocol and all profiles.
FirewallRule AnyRule(const std::string& localPorts) {
  FirewallRule rule = BlockRule(localPorts);
  rule.protocol = 256;
  return rule;
}

TEST_F(AdvancedFirewallTest, DomainProfileInForceMustBeOnTooAndIsReadOnlyThen) {
  CAdvancedFirewall firewall;
  ASSERT_TRUE(firewall.Initialize());
  host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC) = true;
  host().FirewallEnabled(NET_FW_PROFILE2_PRIVATE) = true;
  EXPECT_TRUE(firewall.IsFirewallEnabled());
  EXPECT_EQ(host().Calls(Call::Policy2GetFirewallEnabled), 2);
  host().currentProfileTypes = NET_FW_PROFILE2_DOMAIN;
  EXPECT_FALSE(firewall.IsFirewallEnabled());  // a domain-joined host filtering nothing
  EXPECT_EQ(host().Calls(Call::Policy2GetFirewallEnabled), 5);
  host().FirewallEnabled(NET_FW_PROFILE2_DOMAIN) = true;
  EXPECT_TRUE(firewall.IsFirewallEnabled());
}

TEST_F(AdvancedFirewallTest, UnreadableProfilesInForceReadAsOff) {
  CAdvancedFirewall firewall;
  ASSERT_TRUE(firewall.Initialize());
  host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC) = true;
  host().FirewallEnabled(NET_FW_PROFILE2_PRIVATE) = true;
  host().rules.push_back(AnyRule("445"));
  host().FailCall(Call::Policy2GetCurrentProfileTypes, 0, E_NOTIMPL);
  StdoutCapture out;
  EXPECT_FALSE(firewall.IsFirewallEnabled());
  EXPECT_FALSE(firewall.IsPortBlocked(445));
  EXPECT_EQ(out.Take(), "get_CurrentProfileTypes failed: 0x80004001\nget_CurrentProfileTypes failed: 0x80004001\n");
  EXPECT_EQ(host().Calls(Call::Policy2GetRules), 0);
}

// Port lookups over a prepared collection, the public profile in force and on.
class PortLookupTest : public AdvancedFirewallTest {
 protected:
  void SetUp() override {
    AdvancedFirewallTest::SetUp();
    host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC) = true;
  }
  bool Blocked(int port) {
    CAdvancedFirewall firewall;
    if (!firewall.Initialize()) return false;
    StdoutCapture out;
    const bool blocked = firewall.IsPortBlocked(port);
    output = out.Take();
    return blocked;
  }
  std::vector<bool> Guarded() {
    CAdvancedFirewall firewall;
    if (!firewall.Initialize()) return {};
    StdoutCapture out;
    const std::vector<bool> blocked = firewall.ArePortsBlocked({445, 135, 136, 137, 138, 139});
    output = out.Take();
    return blocked;
  }
  std::string output;
};

TEST_F(PortLookupTest, PortsAreReadAsListsNotSubstrings) {
  host().rules.push_back(AnyRule("1445"));
  EXPECT_FALSE(Blocked(445));
  EXPECT_EQ(output, "Local Ports: 1445\n");
  host().rules.push_back(AnyRule("135-139"));
  EXPECT_TRUE(Blocked(137));
  EXPECT_EQ(output, "Local Ports: 1445\nLocal Ports: 135-139\n");
  host().rules.clear();
  host().rules.push_back(AnyRule("*"));
  EXPECT_TRUE(Blocked(136));
}

TEST_F(PortLookupTest, APortNeedsTcpAndUdpBlocked) {
  FirewallRule udp = BlockRule("445");
  udp.protocol = NET_FW_IP_PROTOCOL_UDP;
  host().rules = {udp};
  EXPECT_FALSE(Blocked(445));  // a UDP-only rule leaves SMB over TCP open
  host().rules.push_back(BlockRule("445,139"));
  EXPECT_TRUE(Blocked(445));
  EXPECT_FALSE(Blocked(139));
}

TEST_F(PortLookupTest, RuleMustCoverEveryProfileInForceAndThoseProfilesBeOn) {
  FirewallRule domainOnly = AnyRule("445");
  domainOnly.profiles = NET_FW_PROFILE2_DOMAIN;
  host().rules = {domainOnly};
  EXPECT_FALSE(Blocked(445));
  host().currentProfileTypes = NET_FW_PROFILE2_DOMAIN;
  EXPECT_FALSE(Blocked(445));  // the domain firewall is off
  host().FirewallEnabled(NET_FW_PROFILE2_DOMAIN) = true;
  EXPECT_TRUE(Blocked(445));
  host().currentProfileTypes = NET_FW_PROFILE2_DOMAIN | NET_FW_PROFILE2_PUBLIC;
  EXPECT_FALSE(Blocked(445));
}

TEST_F(PortLookupTest, FirewallOffInForceBlocksNothingAndWalksNoRule) {
  host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC) = false;
  host().FirewallEnabled(NET_FW_PROFILE2_PRIVATE) = true;
  host().rules = {AnyRule("*")};
  EXPECT_EQ(Guarded(), std::vector<bool>(6, false));
  EXPECT_EQ(host().Calls(Call::Policy2GetRules), 0);
}

TEST_F(PortLookupTest, DisabledAllowAndOutboundRulesNeverCountAndCostFewReads) {
  FirewallRule disabled = AnyRule("445");
  disabled.enabled = false;
  FirewallRule allow = AnyRule("445");
  allow.action = NET_FW_ACTION_ALLOW;
  FirewallRule outbound = AnyRule("445");
  outbound.direction = NET_FW_RULE_DIR_OUT;
  host().rules = {disabled, outbound, allow};
  EXPECT_EQ(Guarded(), std::vector<bool>(6, false));
  EXPECT_EQ(output, "");  // none got as far as its local ports
  EXPECT_EQ(host().Calls(Call::RuleGetEnabled), 3);
  EXPECT_EQ(host().Calls(Call::RuleGetDirection), 2);
  EXPECT_EQ(host().Calls(Call::RuleGetAction), 1);
  EXPECT_EQ(host().Calls(Call::RuleGetProtocol), 0);
}

TEST_F(PortLookupTest, AnUnreadablePropertyNeverLetsARuleCount) {
  for (Call getter : {Call::RuleGetEnabled, Call::RuleGetDirection, Call::RuleGetAction, Call::RuleGetProtocol,
                      Call::RuleGetProfiles, Call::RuleGetLocalPorts}) {
    for (HRESULT hr : {kFailure, S_FALSE}) {
      host().ClearFailures();
      host().FailCall(getter, 0, hr, "block 445");
      host().rules = {AnyRule("445")};
      EXPECT_FALSE(Blocked(445)) << testbed::CallName(getter) << " " << std::hex << hr;
    }
  }
  host().ClearFailures();
  host().rules = {AnyRule("445")};
  EXPECT_TRUE(Blocked(445));
}

TEST_F(PortLookupTest, ItemsThatAreNoRulesAreSkipped) {
  FirewallRule object;
  object.item = RuleItem::Object;
  FirewallRule value;
  value.item = RuleItem::Value;
  host().rules = {object, value, AnyRule("445")};
  EXPECT_TRUE(Blocked(445));
  EXPECT_EQ(host().Calls(Call::RuleGetEnabled), 1);
}

TEST_F(PortLookupTest, AFailingEnumerationKeepsWhatWasSeen) {
  host().rules = {AnyRule("445"), AnyRule("139")};
  host().FailCall(Call::EnumNext, 2, kFailure);
  EXPECT_EQ(Guarded(), (std::vector<bool>{true, false, false, false, false, false}));
}

TEST_F(PortLookupTest, WalkEndsOnceEveryPortIsBlockedAndEmptyOrMissingPortsNeverMatch) {
  FirewallRule unset = AnyRule("");
  unset.name = "unset ports";
  host().rules = {AnyRule(""), unset, AnyRule("445"), AnyRule("445")};
  EXPECT_TRUE(Blocked(445));
  EXPECT_EQ(output, "Local Ports: \nLocal Ports: \nLocal Ports: 445\n");
  EXPECT_EQ(host().Calls(Call::RuleGetEnabled), 3);
  // Unset texts come back as null strings, as Windows hands them out: only
  // the blocking rule's ports, its set reach ("*", "*", "All") and its name.
  EXPECT_EQ(host().StringsHandedOut(), 5);
}

TEST_F(PortLookupTest, EmptyCollectionBlocksNothing) {
  EXPECT_FALSE(Blocked(445));
  EXPECT_EQ(host().Calls(Call::EnumNext), 1);
}

TEST_F(PortLookupTest, OneWalkReadsEveryRulePropertyOnceForAllSixPorts) {
  for (int i = 0; i < 20; ++i) host().rules.push_back(AnyRule(std::to_string(2000 + i)));
  host().rules.push_back(AnyRule("135-139,445"));
  EXPECT_EQ(Guarded(), std::vector<bool>(6, true));
  EXPECT_EQ(host().Calls(Call::Policy2GetRules), 1);
  for (Call getter : {Call::RuleGetEnabled, Call::RuleGetDirection, Call::RuleGetAction, Call::RuleGetProtocol,
                      Call::RuleGetProfiles, Call::RuleGetLocalPorts}) {
    EXPECT_EQ(host().Calls(getter), 21) << testbed::CallName(getter);
  }
}

// Generated policies: one walk answers exactly as six single questions.
TEST_F(PortLookupTest, RandomPoliciesOneWalkEqualsSixSingleQuestions) {
  std::mt19937 random(9);
  const char* const texts[] = {"445",     "135-139", "137,138",  "*",   "RPC-EPMap", "1445",
                               "139-135", "",        "136, 445", "RPC", "1-200",     "138"};
  const long protocols[] = {6, 17, 256, 256, 1};
  const long profileSets[] = {1, 2, 4, 5, 6, 7, NET_FW_PROFILE2_ALL, NET_FW_PROFILE2_ALL};
  const Call getters[] = {Call::RuleGetEnabled,  Call::RuleGetDirection, Call::RuleGetAction,
                          Call::RuleGetProtocol, Call::RuleGetProfiles,  Call::RuleGetLocalPorts};
  const int ports[] = {445, 135, 136, 137, 138, 139};
  int blocked = 0;
  int exposed = 0;
  for (int round = 0; round < 100; ++round) {
    host().rules.clear();
    host().ClearFailures();
    const int count = static_cast<int>(random() % 12);
    for (int i = 0; i < count; ++i) {
      FirewallRule rule = AnyRule(texts[random() % 12]);
      rule.name = "rule " + std::to_string(i);
      rule.enabled = random() % 5 != 0;
      rule.direction = random() % 4 == 0 ? NET_FW_RULE_DIR_OUT : NET_FW_RULE_DIR_IN;
      rule.action = random() % 4 == 0 ? NET_FW_ACTION_ALLOW : NET_FW_ACTION_BLOCK;
      rule.protocol = protocols[random() % 5];
      rule.profiles = profileSets[random() % 8];
      if (random() % 8 == 0) host().FailCall(getters[random() % 6], 0, random() % 2 ? kFailure : S_FALSE, rule.name);
      if (random() % 20 == 0) rule.item = random() % 2 ? RuleItem::Object : RuleItem::Value;
      host().rules.push_back(rule);
    }
    host().currentProfileTypes = random() % 3 == 0 ? NET_FW_PROFILE2_DOMAIN : NET_FW_PROFILE2_PUBLIC;
    host().FirewallEnabled(NET_FW_PROFILE2_DOMAIN) = random() % 2 != 0;
    host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC) = random() % 6 != 0;
    const std::vector<bool> walked = Guarded();
    ASSERT_EQ(walked.size(), 6u);
    for (size_t i = 0; i < 6; ++i) {
      ASSERT_EQ(walked[i], Blocked(ports[i])) << "round " << round << " port " << ports[i];
      (walked[i] ? blocked : exposed)++;
    }
  }
  EXPECT_GT(blocked, 40);
  EXPECT_GT(exposed, 40);
}

}  // namespace
}  // namespace qf::fwtest
