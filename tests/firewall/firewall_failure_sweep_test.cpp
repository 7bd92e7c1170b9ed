// Every platform step of every operation failed in turn: the result, the
// exact diagnostic, the host left behind, and nothing leaked (the fixture
// checks references, strings and apartments after each case).
#include <string>
#include <vector>

#include "firewall/advanced_firewall.h"
#include "firewall/legacy_firewall.h"
#include "firewall_test_support.h"

namespace qf::fwtest {
namespace {

using testbed::BlockRule;
using testtools::StdoutCapture;

enum class Operation { Initialize, Enable, IsEnabled, AddRule, IsPortBlocked };

struct AdvancedCase {
  Operation operation;
  Call failing;
  HRESULT hr;
  bool result;
  std::string output;
};

std::ostream& operator<<(std::ostream& os, const AdvancedCase& c) {
  return os << static_cast<int>(c.operation) << '/' << testbed::CallName(c.failing) << '/' << std::hex
            << static_cast<unsigned long>(c.hr);
}

std::string SetterMessage(const char* setter) {
  return std::string("Failed INetFwRule::") + setter + " failed with error: 0x 80004005.\n";
}

const AdvancedCase kAdvancedCases[] = {
    {Operation::Initialize, Call::CreatePolicy2, kFailure, false,
     "CoCreateInstance for INetFwPolicy2 failed: 0x80004005\n"},
    {Operation::Enable, Call::Policy2PutFirewallEnabled, kFailure, false,
     "put_FirewallEnabled failed for Public: 0x80004005\n"},
    {Operation::IsEnabled, Call::Policy2GetFirewallEnabled, kFailure, false,
     "get_FirewallEnabled failed for Public: 0x80004005\n"},
    {Operation::AddRule, Call::Policy2GetRules, kFailure, false,
     "Failed to retrieve firewall rules collection : 0x80004005\n"},
    {Operation::AddRule, Call::CreateRule, kFailure, false, "CoCreateInstance for INetFwRule failed: 0x80004005\n"},
    {Operation::AddRule, Call::RulePutName, kFailure, false, SetterMessage("put_Name")},
    {Operation::AddRule, Call::RulePutGrouping, kFailure, false, SetterMessage("put_Grouping")},
    {Operation::AddRule, Call::RulePutDescription, kFailure, false, SetterMessage("put_Description")},
    {Operation::AddRule, Call::RulePutDirection, kFailure, false, SetterMessage("put_Direction")},
    {Operation::AddRule, Call::RulePutAction, kFailure, false, SetterMessage("put_Action")},
    {Operation::AddRule, Call::RulePutProtocol, kFailure, false, SetterMessage("put_Protocol")},
    {Operation::AddRule, Call::RulePutLocalPorts, kFailure, false, SetterMessage("put_LocalPorts")},
    {Operation::AddRule, Call::RulePutProfiles, kFailure, false, SetterMessage("put_Profiles")},
    {Operation::AddRule, Call::RulePutEnabled, kFailure, false, SetterMessage("put_Enabled")},
    {Operation::AddRule, Call::RulesAdd, kFailure, false,
     "Failed to add firewall rule to the firewall rules collection : 0x80004005\n"},
    {Operation::IsPortBlocked, Call::Policy2GetRules, kFailure, false,
     "Failed to retrieve firewall rules collection : 0x80004005\n"},
    {Operation::IsPortBlocked, Call::RulesGetNewEnum, kFailure, false, ""},
    {Operation::IsPortBlocked, Call::EnumQueryEnumVariant, E_NOINTERFACE, false, ""},
    {Operation::IsPortBlocked, Call::EnumNext, kFailure, false, ""},
    {Operation::IsPortBlocked, Call::Policy2GetCurrentProfileTypes, kFailure, false,
     "get_CurrentProfileTypes failed: 0x80004005\n"},
    {Operation::IsPortBlocked, Call::Policy2GetFirewallEnabled, kFailure, false,
     "get_FirewallEnabled failed for Public: 0x80004005\n"},
    {Operation::IsPortBlocked, Call::RuleGetEnabled, kFailure, false, ""},
    {Operation::IsPortBlocked, Call::RuleGetAction, kFailure, false, ""},
    {Operation::IsPortBlocked, Call::RuleGetDirection, kFailure, false, ""},
    {Operation::IsPortBlocked, Call::RuleGetProtocol, kFailure, false, ""},
    {Operation::IsPortBlocked, Call::RuleGetProfiles, kFailure, false, ""},
    {Operation::IsPortBlocked, Call::RuleGetLocalPorts, kFailure, false, ""},
    {Operation::IsEnabled, Call::Policy2GetCurrentProfileTypes, kFailure, false,
     "get_CurrentProfileTypes failed: 0x80004005\n"},
    // Second steps, and success codes other than S_OK.
    {Operation::Enable, Call::Policy2PutFirewallEnabled, E_ACCESSDENIED, false,
     "put_FirewallEnabled failed for Public: 0x80070005\n"},
    {Operation::AddRule, Call::RulesAdd, S_FALSE, false, "Successfully added firewall rule !\n"},
    {Operation::AddRule, Call::RulePutName, S_FALSE, true, "Successfully added firewall rule !\n"},
    {Operation::IsPortBlocked, Call::EnumNext, S_FALSE, false, ""},
    // A success code other than S_OK is no reading: the rule does not count.
    {Operation::IsPortBlocked, Call::RuleGetDirection, S_FALSE, false, ""},
    {Operation::IsPortBlocked, Call::RuleGetLocalPorts, S_FALSE, false, ""},
};

class AdvancedSweep : public FirewallDoublesTest, public ::testing::WithParamInterface<AdvancedCase> {};

TEST_P(AdvancedSweep, FailingStepGivesResultMessageAndLeavesNothing) {
  const AdvancedCase& c = GetParam();
  // A rule that blocks 445 for both protocols, the profile in force on.
  host().rules.push_back(BlockRule("445"));
  host().rules.back().protocol = 256;
  host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC) = true;
  host().FailCall(c.failing, c.operation == Operation::Initialize ? 1 : 0, c.hr);
  CAdvancedFirewall firewall;
  std::string output;
  bool result = false;
  {
    StdoutCapture out;
    const bool opened = firewall.Initialize();
    ASSERT_EQ(opened, c.operation != Operation::Initialize);
    switch (c.operation) {
      case Operation::Initialize:
        result = opened;
        break;
      case Operation::Enable:
        result = firewall.EnableFirewall();
        break;
      case Operation::IsEnabled:
        result = firewall.IsFirewallEnabled();
        break;
      case Operation::AddRule:
        result = firewall.AddBlockRule(6, L"139");
        break;
      case Operation::IsPortBlocked:
        result = firewall.IsPortBlocked(445);
        break;
    }
    output = out.Take();
  }
  EXPECT_EQ(result, c.result);
  EXPECT_EQ(output, c.output);
  if (c.operation == Operation::AddRule) {
    const bool added = c.failing == Call::RulesAdd ? SUCCEEDED(c.hr) : c.result;
    EXPECT_EQ(host().rules.size(), added ? 2u : 1u);
  } else {
    EXPECT_EQ(host().rules.size(), 1u);
  }
  if (c.operation == Operation::Enable) {                         // no profile switched
    EXPECT_TRUE(host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC));  // on from the start
    EXPECT_FALSE(host().FirewallEnabled(NET_FW_PROFILE2_PRIVATE));
  }
  EXPECT_TRUE(firewall.Close());
  EXPECT_EQ(host().LiveReferences(), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryStep, AdvancedSweep, ::testing::ValuesIn(kAdvancedCases));

TEST_F(FirewallDoublesTest, SecondProfileFailuresNameTheProfileAndKeepTheFirst) {
  CAdvancedFirewall firewall;
  ASSERT_TRUE(firewall.Initialize());
  host().FailCall(Call::Policy2PutFirewallEnabled, 2, kFailure);
  host().FailCall(Call::Policy2GetFirewallEnabled, 2, E_ACCESSDENIED);
  host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC) = false;
  StdoutCapture out;
  EXPECT_FALSE(firewall.EnableFirewall());
  EXPECT_FALSE(firewall.IsFirewallEnabled());
  EXPECT_EQ(out.Take(),
            "put_FirewallEnabled failed for Private: 0x80004005\n"
            "get_FirewallEnabled failed for Private: 0x80070005\n");
  EXPECT_TRUE(host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC));
  EXPECT_FALSE(host().FirewallEnabled(NET_FW_PROFILE2_PRIVATE));
}

// Without its firewall service the policy object is still made, and every
// call that needs the service fails as Windows fails it.
TEST_F(FirewallDoublesTest, PolicyWithoutItsServiceFailsEveryStepAndSaysSo) {
  for (const bool missing : {false, true}) {
    SCOPED_TRACE(missing ? "missing" : "stopped");
    if (missing)
      host().RemoveFirewallService("MpsSvc");
    else
      host().SetFirewallService("MpsSvc", "stopped");
    host().rules = {BlockRule("445")};
    CAdvancedFirewall firewall;
    StdoutCapture out;
    ASSERT_TRUE(firewall.Initialize());
    EXPECT_FALSE(firewall.EnableFirewall());
    EXPECT_FALSE(firewall.IsFirewallEnabled());
    EXPECT_FALSE(firewall.AddBlockRule(6, L"139"));
    EXPECT_EQ(out.Take(),
              "put_FirewallEnabled failed for Public: 0x800706d9\n"
              "get_FirewallEnabled failed for Public: 0x800706d9\n"
              "Failed to add firewall rule to the firewall rules collection : 0x800706d9\n");
    EXPECT_EQ(host().rules.size(), 1u);
    EXPECT_FALSE(host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC));
    EXPECT_TRUE(firewall.Close());
  }
  host().SetFirewallService("MpsSvc", "running");
  CAdvancedFirewall firewall;
  ASSERT_TRUE(firewall.Initialize());
  EXPECT_TRUE(firewall.EnableFirewall());
  EXPECT_TRUE(firewall.Close());
}

TEST_F(FirewallDoublesTest, LegacyProfileWithoutSharedAccessCannotBeOpened) {
  host().SetFirewallService("SharedAccess", "stopped");
  CLegacyFirewall firewall;
  EXPECT_EQ(firewall.Initialize(), FWE_PROFILE_GET);
  EXPECT_FALSE(firewall.IsOpen());
  host().SetFirewallService("SharedAccess", "running");
  EXPECT_EQ(firewall.Initialize(), FWE_NONE);
  EXPECT_EQ(firewall.Cleanup(), FWE_NONE);
}

enum class LegacyOperation { Initialize, IsFirewallOn, TurnOn, IsPortOpen };

struct LegacyCase {
  LegacyOperation operation;
  Call failing;
  FW_ERROR_CODE code;
  bool stillOpen;  // after Initialize
};

std::ostream& operator<<(std::ostream& os, const LegacyCase& c) {
  return os << static_cast<int>(c.operation) << '/' << testbed::CallName(c.failing);
}

const LegacyCase kLegacyCases[] = {
    {LegacyOperation::Initialize, Call::CreateMgr, FWE_MANAGER_CREATE, false},
    {LegacyOperation::Initialize, Call::MgrGetLocalPolicy, FWE_POLICY_GET, false},
    {LegacyOperation::Initialize, Call::PolicyGetCurrentProfile, FWE_PROFILE_GET, false},
    {LegacyOperation::IsFirewallOn, Call::ProfileGetFirewallEnabled, FWE_ENABLED_GET, true},
    {LegacyOperation::TurnOn, Call::ProfileGetFirewallEnabled, FWE_ENABLED_GET, true},
    {LegacyOperation::TurnOn, Call::ProfilePutFirewallEnabled, FWE_ENABLED_PUT, true},
    {LegacyOperation::IsPortOpen, Call::ProfileGetGloballyOpenPorts, FWE_OPEN_PORTS_GET, true},
    {LegacyOperation::IsPortOpen, Call::OpenPortsItem, FWE_NONE, true},
    {LegacyOperation::IsPortOpen, Call::OpenPortGetEnabled, FWE_PORT_ENABLED_GET, true},
};

class LegacySweep : public FirewallDoublesTest, public ::testing::WithParamInterface<LegacyCase> {};

TEST_P(LegacySweep, FailingStepGivesItsCodeFalseAndNoOutput) {
  const LegacyCase& c = GetParam();
  host().openPorts = {testbed::Opening(445, NET_FW_IP_PROTOCOL_TCP, true)};
  host().FailCall(c.failing, 0, kFailure);
  CLegacyFirewall firewall;
  StdoutCapture out;
  const FW_ERROR_CODE opened = firewall.Initialize();
  BOOL flag = TRUE;
  FW_ERROR_CODE code = opened;
  switch (c.operation) {
    case LegacyOperation::Initialize:
      break;
    case LegacyOperation::IsFirewallOn:
      code = firewall.IsFirewallOn(flag);
      break;
    case LegacyOperation::TurnOn:
      code = firewall.TurnOnFirewall();
      break;
    case LegacyOperation::IsPortOpen:
      code = firewall.IsPortOpen(445, NET_FW_IP_PROTOCOL_TCP, flag);
      break;
  }
  EXPECT_EQ(code, c.code);
  if (c.operation == LegacyOperation::IsFirewallOn || c.operation == LegacyOperation::IsPortOpen) {
    EXPECT_FALSE(flag);
  }
  EXPECT_EQ(firewall.IsOpen(), c.stillOpen);
  EXPECT_FALSE(host().LegacyFirewallEnabled());  // a failing TurnOn leaves the profile
  EXPECT_EQ(host().LiveReferences(), c.stillOpen ? 1 : 0);
  EXPECT_EQ(out.Take(), "");
  EXPECT_EQ(firewall.Cleanup(), FWE_NONE);
}

INSTANTIATE_TEST_SUITE_P(EveryStep, LegacySweep, ::testing::ValuesIn(kLegacyCases));

}  // namespace
}  // namespace qf::fwtest
