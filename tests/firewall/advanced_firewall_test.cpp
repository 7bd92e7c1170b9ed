// CAdvancedFirewall against the policy doubles: lifecycle, switches, rule
// additions and the port lookup.
#include "firewall/advanced_firewall.h"

#include <string>

#include "firewall_test_support.h"

namespace qf::fwtest {
namespace {

using fwdouble::BlockRule;
using fwdouble::ItemKind;
using fwdouble::RuleRecord;
using fwdouble::StdoutCapture;

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
  const decltype(host().profileWrites) expected = {{NET_FW_PROFILE2_PUBLIC, VARIANT_TRUE},
                                                   {NET_FW_PROFILE2_PRIVATE, VARIANT_TRUE}};
  EXPECT_EQ(host().profileWrites, expected);
  EXPECT_EQ(host().FirewallEnabled(NET_FW_PROFILE2_DOMAIN), VARIANT_FALSE);
}

TEST_F(AdvancedFirewallTest, EnabledOnlyWhenPublicAndPrivateAreBothOn) {
  CAdvancedFirewall firewall;
  ASSERT_TRUE(firewall.Initialize());
  host().FirewallEnabled(NET_FW_PROFILE2_DOMAIN) = VARIANT_TRUE;
  host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC) = VARIANT_TRUE;
  EXPECT_FALSE(firewall.IsFirewallEnabled());
  host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC) = VARIANT_FALSE;
  host().FirewallEnabled(NET_FW_PROFILE2_PRIVATE) = VARIANT_TRUE;
  EXPECT_FALSE(firewall.IsFirewallEnabled());
  host().FirewallEnabled(NET_FW_PROFILE2_DOMAIN) = VARIANT_FALSE;
  host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC) = 1;  // any non-zero value is on
  EXPECT_TRUE(firewall.IsFirewallEnabled());
}

TEST_F(AdvancedFirewallTest, AddBlockRuleSetsExactlyTheRuleProperties) {
  CAdvancedFirewall firewall;
  ASSERT_TRUE(firewall.Initialize());
  StdoutCapture out;
  EXPECT_TRUE(firewall.AddBlockRule(6, L"445"));
  EXPECT_EQ(out.Take(), "Successfully added firewall rule !\n");
  ASSERT_EQ(host().rules.size(), 1u);
  const RuleRecord& rule = host().rules[0];
  EXPECT_EQ(rule.name, L"@QXRuleOptions.exe, TCP-445");
  EXPECT_EQ(rule.grouping, L"@QXRuleOptions.exe,-102");
  EXPECT_EQ(rule.description, L"@QXRuleOptions.exe,-103");
  EXPECT_EQ(rule.direction, NET_FW_RULE_DIR_IN);
  EXPECT_EQ(rule.action, NET_FW_ACTION_BLOCK);
  EXPECT_EQ(rule.protocol, 6);
  EXPECT_EQ(rule.localPorts, std::wstring(L"445"));
  EXPECT_EQ(rule.profiles, 7);
  EXPECT_EQ(rule.enabled, VARIANT_TRUE);
  const std::set<Call> setters = {Call::RulePutName,      Call::RulePutGrouping, Call::RulePutDescription,
                                  Call::RulePutDirection, Call::RulePutAction,   Call::RulePutProtocol,
                                  Call::RulePutLocalPorts, Call::RulePutProfiles, Call::RulePutEnabled};
  EXPECT_EQ(rule.written, setters);
  const std::vector<Call> order = {Call::Policy2GetRules,    Call::CreateRule,       Call::RulePutName,
                                   Call::RulePutGrouping,    Call::RulePutDescription, Call::RulePutDirection,
                                   Call::RulePutAction,      Call::RulePutProtocol,  Call::RulePutLocalPorts,
                                   Call::RulePutProfiles,    Call::RulePutEnabled,   Call::RulesAdd};
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
  EXPECT_TRUE(firewall.AddBlockRule(1, L"135"));
  ASSERT_EQ(host().rules.size(), 3u);
  EXPECT_EQ(host().rules[0].name, host().rules[1].name);
  EXPECT_EQ(host().rules[2].name, L"@QXRuleOptions.exe, UDP-135");
  EXPECT_EQ(host().rules[2].protocol, 1);
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

// Port lookups over a prepared collection.
class PortLookupTest : public AdvancedFirewallTest {
 protected:
  bool Blocked(int port) {
    CAdvancedFirewall firewall;
    if (!firewall.Initialize()) return false;
    StdoutCapture out;
    const bool blocked = firewall.IsPortBlocked(port);
    output = out.Take();
    return blocked;
  }
  std::string output;
};

TEST_F(PortLookupTest, PortsAreReadAsListsNotSubstrings) {
  host().rules.push_back(BlockRule(L"1445"));
  EXPECT_FALSE(Blocked(445));
  EXPECT_EQ(output, "Local Ports: 1445\n");
  host().rules.push_back(BlockRule(L"135-139"));
  EXPECT_TRUE(Blocked(137));
  EXPECT_EQ(output, "Local Ports: 1445\nLocal Ports: 135-139\n");
  host().rules.clear();
  host().rules.push_back(BlockRule(L"*"));
  EXPECT_TRUE(Blocked(136));
}

TEST_F(PortLookupTest, ProtocolAndProfilesAreNotExamined) {
  RuleRecord rule = BlockRule(L"445");
  rule.protocol = 17;
  rule.profiles = NET_FW_PROFILE2_DOMAIN;
  host().rules.push_back(rule);
  EXPECT_TRUE(Blocked(445));
}

TEST_F(PortLookupTest, DisabledAllowAndOutboundRulesNeverCount) {
  RuleRecord disabled = BlockRule(L"445");
  disabled.enabled = VARIANT_FALSE;
  RuleRecord allow = BlockRule(L"445");
  allow.action = NET_FW_ACTION_ALLOW;
  RuleRecord outbound = BlockRule(L"445");
  outbound.direction = NET_FW_RULE_DIR_OUT;
  host().rules = {disabled, allow, outbound};
  EXPECT_FALSE(Blocked(445));
  EXPECT_EQ(output, "");  // none got as far as its local ports
  EXPECT_EQ(host().Calls(Call::RuleGetEnabled), 3);
}

TEST_F(PortLookupTest, UnreadableEnabledOrActionCountsAsEnabledBlock) {
  RuleRecord rule = BlockRule(L"445");
  rule.enabled = VARIANT_FALSE;
  rule.action = NET_FW_ACTION_ALLOW;
  host().rules.push_back(rule);
  host().FailCall(Call::RuleGetEnabled, 0, S_FALSE);  // read, but not S_OK
  host().FailCall(Call::RuleGetAction, 0, kFailure);
  EXPECT_TRUE(Blocked(445));
}

TEST_F(PortLookupTest, NonRuleItemEndsTheWalkBeforeALaterMatch) {
  RuleRecord object;
  object.kind = ItemKind::NonRuleObject;
  RuleRecord value;
  value.kind = ItemKind::NonObject;
  host().rules = {object, BlockRule(L"445")};
  EXPECT_FALSE(Blocked(445));
  host().rules = {value, BlockRule(L"445")};
  EXPECT_FALSE(Blocked(445));
  EXPECT_EQ(host().Calls(Call::RuleGetEnabled), 0);
}

TEST_F(PortLookupTest, FirstMatchEndsTheWalkAndEmptyOrMissingPortsNeverMatch) {
  RuleRecord missing = BlockRule(L"");
  missing.localPorts.reset();
  host().rules = {BlockRule(L""), missing, BlockRule(L"445"), BlockRule(L"445")};
  EXPECT_TRUE(Blocked(445));
  EXPECT_EQ(output, "Local Ports: \nLocal Ports: \nLocal Ports: 445\n");
  EXPECT_EQ(host().Calls(Call::RuleGetEnabled), 3);
  EXPECT_EQ(host().StringsHandedOut(), 2);  // the null text is no string
}

TEST_F(PortLookupTest, EmptyCollectionBlocksNothing) {
  EXPECT_FALSE(Blocked(445));
  EXPECT_EQ(host().Calls(Call::EnumNext), 1);
}

TEST_F(AdvancedFirewallTest, RuleBlocksPortWorksOnAnyRuleObject) {
  INetFwRule* rule = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_NetFwRule, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwRule,
                             reinterpret_cast<void**>(&rule)), S_OK);
  BSTR ports = SysAllocString(L"RPC-EPMap, 445");
  rule->put_LocalPorts(ports);
  SysFreeString(ports);
  rule->put_Action(NET_FW_ACTION_BLOCK);
  rule->put_Enabled(VARIANT_TRUE);
  StdoutCapture out;
  EXPECT_TRUE(CAdvancedFirewall::RuleBlocksPort(rule, L"135"));
  EXPECT_FALSE(CAdvancedFirewall::RuleBlocksPort(rule, L"139"));
  EXPECT_FALSE(CAdvancedFirewall::RuleBlocksPort(nullptr, L"135"));
  EXPECT_EQ(out.Take(), "Local Ports: RPC-EPMap, 445\nLocal Ports: RPC-EPMap, 445\n");
  rule->Release();
}

}  // namespace
}  // namespace qf::fwtest
