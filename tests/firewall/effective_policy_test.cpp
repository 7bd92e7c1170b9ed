// The merged state: group policy over the local policy, the service, shielded
// mode, excluded interfaces, every legacy opening, and the reason of each
// verdict and of a run that cannot succeed.
#include "firewall/effective_policy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace qf::firewall;

const std::vector<long> kGuarded = {445, 135, 136, 137, 138, 139};
constexpr std::size_t kDomain = 0;
constexpr std::size_t kPrivate = 1;
constexpr std::size_t kPublic = 2;

// A rule the local walk examines, served whole.
struct LocalRule final : RuleProperties, RuleReach {
  std::wstring name = L"Local block";
  std::wstring localPorts = L"*";
  std::wstring remoteAddresses = L"*";
  std::optional<bool> Enabled() override { return true; }
  std::optional<long> Direction() override { return kDirectionInbound; }
  std::optional<long> Action() override { return kActionBlock; }
  std::optional<long> Protocol() override { return kProtocolAny; }
  std::optional<long> Profiles() override { return kKnownProfiles; }
  std::optional<std::wstring> LocalPorts() override { return localPorts; }
  std::optional<std::wstring> ApplicationName() override { return L""; }
  std::optional<std::wstring> ServiceName() override { return L""; }
  std::optional<std::wstring> RemoteAddresses() override { return remoteAddresses; }
  std::optional<std::wstring> LocalAddresses() override { return L"*"; }
  std::optional<std::wstring> RemotePorts() override { return L"*"; }
  std::optional<std::wstring> InterfaceTypes() override { return L"All"; }
  std::optional<bool> NamesInterfaces() override { return false; }
  std::optional<std::wstring> OtherCondition() override { return L""; }
  std::optional<std::wstring> Name() override { return name; }
};

// A host with the firewall on, public profile in force and local rules that
// block every guarded port.
AdvancedPolicyInput Hardened(long inForce = kProfilePublic, const wchar_t* remote = L"*") {
  AdvancedPolicyInput input;
  input.serviceRunning = true;
  input.currentProfiles = inForce;
  for (auto& profile : input.local) profile = {true, false, false};
  input.groupPolicyRules.emplace();
  BlockTally tally(kGuarded, inForce);
  LocalRule rule;
  rule.remoteAddresses = remote;
  tally.Examine(rule, rule);
  input.localRules = tally;
  return input;
}

const wchar_t kPolicyBlocksAll[] = L"v2.10|Action=Block|Active=TRUE|Dir=In|Name=GP block|";

struct AdvancedCase {
  const char* what;
  void (*change)(AdvancedPolicyInput&);
  bool firewallOn;
  bool portsBlocked;
  Reason reason;
  std::vector<std::string> causes;
};

TEST(EffectivePolicyTest, AdvancedMergeCases) {
  const AdvancedCase cases[] = {
      {"hardened", [](AdvancedPolicyInput&) {}, true, true, Reason::BlockedByRule, {}},
      {"service stopped",
       [](AdvancedPolicyInput& in) { in.serviceRunning = false; },
       false,
       false,
       Reason::ServiceStopped,
       {"The firewall service is not running"}},
      {"service unread",
       [](AdvancedPolicyInput& in) { in.serviceRunning.reset(); },
       false,
       false,
       Reason::NotRead,
       {"The firewall service is not running"}},
      {"local public off",
       [](AdvancedPolicyInput& in) { in.local[kPublic].firewallOn = false; },
       false,
       false,
       Reason::ProfileOff,
       {}},
      {"group policy keeps public off",
       [](AdvancedPolicyInput& in) { in.groupPolicy[kPublic].enableFirewall = PolicyValue::Set(0); },
       false,
       false,
       Reason::GroupPolicyKeepsProfileOff,
       {"Group policy keeps the firewall off: public profile"}},
      {"group policy switches public on",
       [](AdvancedPolicyInput& in) {
         in.local[kPublic].firewallOn = false;
         in.groupPolicy[kPublic].enableFirewall = PolicyValue::Set(1);
       },
       true,
       true,
       Reason::BlockedByRule,
       {}},
      {"group policy keeps private off: line off, ports still blocked",
       [](AdvancedPolicyInput& in) { in.groupPolicy[kPrivate].enableFirewall = PolicyValue::Set(0); },
       false,
       true,
       Reason::BlockedByRule,
       {"Group policy keeps the firewall off: private profile"}},
      {"group policy switch unreadable",
       [](AdvancedPolicyInput& in) { in.groupPolicy[kPublic].enableFirewall = PolicyValue::Unreadable(); },
       false,
       false,
       Reason::NotRead,
       {"Group policy could not be read: public profile"}},
      {"group policy ignores local rules",
       [](AdvancedPolicyInput& in) { in.groupPolicy[kPublic].allowLocalPolicyMerge = PolicyValue::Set(0); },
       true,
       false,
       Reason::GroupPolicyIgnoresLocalRules,
       {"Group policy ignores local rules: public profile"}},
      {"local merge off on a profile not in force",
       [](AdvancedPolicyInput& in) { in.groupPolicy[kDomain].allowLocalPolicyMerge = PolicyValue::Set(0); },
       true,
       true,
       Reason::BlockedByRule,
       {}},
      {"group policy blocks itself while ignoring local rules",
       [](AdvancedPolicyInput& in) {
         in.groupPolicy[kPublic].allowLocalPolicyMerge = PolicyValue::Set(0);
         in.groupPolicyRules = std::vector<PolicyRuleValue>{PolicyRuleValue{L"{gp}", kPolicyBlocksAll}};
       },
       true,
       true,
       Reason::BlockedByRule,
       {}},
      {"local shielded mode",
       [](AdvancedPolicyInput& in) {
         in.localRules.reset();
         in.local[kPublic].blockAllInbound = true;
       },
       true,
       true,
       Reason::BlockedByShieldedMode,
       {}},
      {"group policy lifts shielded mode",
       [](AdvancedPolicyInput& in) {
         in.local[kPublic].blockAllInbound = true;
         in.groupPolicy[kPublic].doNotAllowExceptions = PolicyValue::Set(0);
         in.localRules = BlockTally(kGuarded, kProfilePublic);
       },
       true,
       false,
       Reason::NoRule,
       {}},
      {"group policy shields",
       [](AdvancedPolicyInput& in) {
         in.localRules = BlockTally(kGuarded, kProfilePublic);
         in.groupPolicy[kPublic].doNotAllowExceptions = PolicyValue::Set(1);
       },
       true,
       true,
       Reason::BlockedByShieldedMode,
       {}},
      {"excluded interface",
       [](AdvancedPolicyInput& in) { in.local[kPublic].excludesInterfaces = true; },
       false,
       false,
       Reason::InterfaceExcluded,
       {"Interfaces excluded from the firewall: public profile"}},
      {"excluded interfaces unread",
       [](AdvancedPolicyInput& in) { in.local[kPublic].excludesInterfaces.reset(); },
       false,
       false,
       Reason::NotRead,
       {}},
      {"excluded interface on a profile not in force",
       [](AdvancedPolicyInput& in) { in.local[kDomain].excludesInterfaces = true; },
       true,
       true,
       Reason::BlockedByRule,
       {}},
      {"local rules unread", [](AdvancedPolicyInput& in) { in.localRules.reset(); }, true, false, Reason::NotRead, {}},
      {"group policy rules unread, local ones block",
       [](AdvancedPolicyInput& in) { in.groupPolicyRules.reset(); },
       true,
       true,
       Reason::BlockedByRule,
       {}},
      {"current profiles unread",
       [](AdvancedPolicyInput& in) { in.currentProfiles.reset(); },
       false,
       false,
       Reason::NotRead,
       {}},
      {"the firewall says group policy rules where the policy key shows none",
       [](AdvancedPolicyInput& in) { in.modifyState = ModifyState::GroupPolicyOverride; },
       false,
       false,
       Reason::NotRead,
       {"Group policy could not be read: private profile", "Group policy could not be read: public profile"}},
      {"group policy says so and is seen",
       [](AdvancedPolicyInput& in) {
         in.modifyState = ModifyState::GroupPolicyOverride;
         in.groupPolicy[kDomain].defaultInboundAction = PolicyValue::Set(1);
       },
       true,
       true,
       Reason::BlockedByRule,
       {}},
      {"shielded mode the firewall does not see",
       [](AdvancedPolicyInput& in) {
         in.localRules = BlockTally(kGuarded, kProfilePublic);
         in.local[kPublic].blockAllInbound = true;
         in.modifyState = ModifyState::Ok;
       },
       true,
       false,
       Reason::NoRule,
       {}},
      {"shielded mode the firewall sees",
       [](AdvancedPolicyInput& in) {
         in.localRules = BlockTally(kGuarded, kProfilePublic);
         in.local[kPublic].blockAllInbound = true;
         in.modifyState = ModifyState::InboundBlocked;
       },
       true,
       true,
       Reason::BlockedByShieldedMode,
       {}},
  };
  for (const AdvancedCase& c : cases) {
    AdvancedPolicyInput input = Hardened();
    c.change(input);
    const EffectivePolicy policy = ComposeAdvancedPolicy(input, kGuarded);
    EXPECT_EQ(policy.firewallOn, c.firewallOn) << c.what;
    ASSERT_EQ(policy.verdicts.size(), kGuarded.size() * 2) << c.what;
    for (const PortVerdict& verdict : policy.verdicts) {
      EXPECT_EQ(verdict.blocked, c.portsBlocked) << c.what << " " << verdict.port;
      EXPECT_EQ(verdict.reason, c.reason) << c.what << " " << DescribeReason(verdict);
    }
    EXPECT_EQ(policy.causes, c.causes) << c.what;
  }
}

TEST(EffectivePolicyTest, ShieldedModeMustHoldOnEveryProfileInForce) {
  AdvancedPolicyInput input = Hardened(kProfileDomain | kProfilePublic);
  input.localRules = BlockTally(kGuarded, kProfileDomain | kProfilePublic);
  input.local[kPublic].blockAllInbound = true;
  EXPECT_FALSE(ComposeAdvancedPolicy(input, kGuarded).PortBlocked(445));
  input.groupPolicy[kDomain].doNotAllowExceptions = PolicyValue::Set(1);
  const EffectivePolicy both = ComposeAdvancedPolicy(input, kGuarded);
  EXPECT_TRUE(both.PortBlocked(445));
  EXPECT_TRUE(both.Find(445, kProtocolTcp)->groupPolicy);
}

TEST(EffectivePolicyTest, ReasonsNameTheRuleItsSourceAndItsNarrowing) {
  AdvancedPolicyInput narrowed = Hardened(kProfilePublic, L"10.1.2.3");
  EffectivePolicy policy = ComposeAdvancedPolicy(narrowed, kGuarded);
  EXPECT_FALSE(policy.PortBlocked(445));
  EXPECT_EQ(DescribeReason(*policy.Find(445, kProtocolTcp)), "local rule \"Local block\" narrowed to remote addresses");

  narrowed.groupPolicyRules = std::vector<PolicyRuleValue>{
      {L"{a}", L"v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=6|LPort=445|App=C:\\x.exe|Name=GP narrow|"},
      {L"{b}", L"v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=17|LPort=445|Name=GP \xe9t\xe9|"},
      {L"{c}", L"v9.10|Action=Block|Active=TRUE|Dir=In|Name=unknown version|"}};
  policy = ComposeAdvancedPolicy(narrowed, kGuarded);
  EXPECT_EQ(DescribeReason(*policy.Find(445, kProtocolTcp)), "group policy rule \"GP narrow\" narrowed to a program");
  EXPECT_EQ(DescribeReason(*policy.Find(445, kProtocolUdp)), "blocked by group policy rule \"GP \xc3\xa9t\xc3\xa9\"");
  EXPECT_TRUE(policy.ProtocolBlocked(445, kProtocolUdp));
  EXPECT_FALSE(policy.ProtocolBlocked(135, kProtocolUdp));

  AdvancedPolicyInput ignored = Hardened();
  ignored.groupPolicy[kPublic].allowLocalPolicyMerge = PolicyValue::Set(0);
  EXPECT_EQ(DescribeReason(ComposeAdvancedPolicy(ignored, kGuarded).verdicts[0]),
            "group policy ignores local rules: profile public");
  EXPECT_EQ(DescribeReason(ComposeAdvancedPolicy(Hardened(), kGuarded).verdicts[0]),
            "blocked by local rule \"Local block\"");
}

// ---- legacy ----------------------------------------------------------------

LegacyPolicyInput LegacyOn() {
  LegacyPolicyInput input;
  input.serviceRunning = true;
  input.profile.firewallOn = true;
  input.profile.exceptionsNotAllowed = false;
  input.profile.openingsRead = true;
  input.remoteAdminEnabled = false;
  input.applications.emplace();
  return input;
}

std::vector<bool> Blocked(const EffectivePolicy& policy, long protocol) {
  std::vector<bool> blocked;
  for (long port : kGuarded) blocked.push_back(policy.ProtocolBlocked(port, protocol));
  return blocked;
}

struct LegacyCase {
  const char* what;
  void (*change)(LegacyPolicyInput&);
  std::vector<bool> tcp;  // 445, 135, 136, 137, 138, 139
  std::vector<bool> udp;
  Reason reason445Tcp;
};

TEST(EffectivePolicyTest, LegacyOpeningsCases) {
  const std::vector<bool> all(6, true);
  const std::vector<bool> none(6, false);
  const LegacyCase cases[] = {
      {"closed", [](LegacyPolicyInput&) {}, all, all, Reason::BlockedNoOpening},
      {"Remote Administration on",
       [](LegacyPolicyInput& in) { in.remoteAdminEnabled = true; },
       {false, false, true, true, true, true},
       all,
       Reason::RemoteAdminOpen},
      {"Remote Administration unread",
       [](LegacyPolicyInput& in) { in.remoteAdminEnabled.reset(); },
       {false, false, true, true, true, true},
       all,
       Reason::NotRead},
      {"Remote Administration by group policy",
       [](LegacyPolicyInput& in) { in.groupPolicy.remoteAdminEnabled = PolicyValue::Set(1); },
       {false, false, true, true, true, true},
       all,
       Reason::RemoteAdminOpen},
      {"authorised System",
       [](LegacyPolicyInput& in) {
         in.applications->push_back({L"System", true});
       },
       {false, true, true, false, false, false},
       {false, true, true, false, false, false},
       Reason::AuthorisedApplicationOpen},
      {"authorised svchost.exe by path in another case",
       [](LegacyPolicyInput& in) {
         in.applications->push_back({L"%WINDIR%\\System32\\SVCHOST.EXE", true});
       },
       {true, false, true, true, true, true},
       {true, false, true, true, true, true},
       Reason::BlockedNoOpening},
      {"authorised but disabled",
       [](LegacyPolicyInput& in) {
         in.applications->push_back({L"System", false});
       },
       all, all, Reason::BlockedNoOpening},
      {"other program",
       [](LegacyPolicyInput& in) {
         in.applications->push_back({L"C:\\app\\server.exe", true});
       },
       all, all, Reason::BlockedNoOpening},
      {"applications unread", [](LegacyPolicyInput& in) { in.applications.reset(); }, none, none, Reason::NotRead},
      {"group policy authorises svchost",
       [](LegacyPolicyInput& in) {
         in.groupPolicy.applicationsListEnabled = PolicyValue::Set(1);
         in.groupPolicy.applications = {L"C:\\WINDOWS\\system32\\svchost.exe:*:enabled:RPC"};
       },
       {true, false, true, true, true, true},
       {true, false, true, true, true, true},
       Reason::BlockedNoOpening},
      {"group policy list not in force",
       [](LegacyPolicyInput& in) { in.groupPolicy.applications = {L"System:*:enabled:k"}; }, all, all,
       Reason::BlockedNoOpening},
      {"group policy File and Printer Sharing",
       [](LegacyPolicyInput& in) { in.groupPolicy.fileAndPrintEnabled = PolicyValue::Set(1); },
       {false, true, true, true, true, false},
       {true, true, true, false, false, true},
       Reason::FileAndPrintOpen},
      {"group policy open port",
       [](LegacyPolicyInput& in) {
         in.groupPolicy.openPortsListEnabled = PolicyValue::Set(1);
         in.groupPolicy.openPorts = {L"445:TCP:*:enabled:SMB", L"139:TCP:*:disabled:NB", L"137:udp:LocalSubnet:x"};
       },
       {false, true, true, true, true, true},
       {true, true, true, false, true, true},
       Reason::PortOpening},
      {"local File and Printer exception",
       [](LegacyPolicyInput& in) {
         in.profile.openings = {{445, kProtocolTcp, true, kFileAndPrintService}, {137, kProtocolUdp, true}};
       },
       {false, true, true, true, true, true},
       {true, true, true, false, true, true},
       Reason::FileAndPrintOpen},
      {"group policy allows no exceptions",
       [](LegacyPolicyInput& in) {
         in.remoteAdminEnabled = true;
         in.groupPolicy.doNotAllowExceptions = PolicyValue::Set(1);
       },
       all, all, Reason::BlockedNoExceptions},
      {"group policy keeps the firewall off",
       [](LegacyPolicyInput& in) { in.groupPolicy.enableFirewall = PolicyValue::Set(0); }, none, none,
       Reason::GroupPolicyKeepsProfileOff},
      {"group policy switches the firewall on",
       [](LegacyPolicyInput& in) {
         in.profile.firewallOn = false;
         in.groupPolicy.enableFirewall = PolicyValue::Set(1);
       },
       all, all, Reason::BlockedNoOpening},
      {"SharedAccess stopped", [](LegacyPolicyInput& in) { in.serviceRunning = false; }, none, none,
       Reason::ServiceStopped},
      {"no Windows Firewall", [](LegacyPolicyInput& in) { in.firewallPresent = false; }, none, none,
       Reason::NoWindowsFirewall},
  };
  for (const LegacyCase& c : cases) {
    LegacyPolicyInput input = LegacyOn();
    c.change(input);
    const EffectivePolicy policy = ComposeLegacyPolicy(input, kGuarded);
    EXPECT_EQ(Blocked(policy, kProtocolTcp), c.tcp) << c.what;
    EXPECT_EQ(Blocked(policy, kProtocolUdp), c.udp) << c.what;
    EXPECT_EQ(policy.Find(445, kProtocolTcp)->reason, c.reason445Tcp) << c.what;
  }
}

TEST(EffectivePolicyTest, LegacyFirewallLineAndRunCauses) {
  LegacyPolicyInput input = LegacyOn();
  EXPECT_TRUE(ComposeLegacyPolicy(input, kGuarded).firewallOn);
  EXPECT_TRUE(ComposeLegacyPolicy(input, kGuarded).causes.empty());
  input.firewallPresent = false;
  EffectivePolicy policy = ComposeLegacyPolicy(input, kGuarded);
  EXPECT_FALSE(policy.firewallOn);
  EXPECT_EQ(policy.causes, std::vector<std::string>{"This host has no firewall Quillfort can use"});
  EXPECT_EQ(DescribeReason(policy.verdicts[0]), "no Windows Firewall");
  input = LegacyOn();
  input.domainProfile = true;
  input.groupPolicy.enableFirewall = PolicyValue::Set(0);
  policy = ComposeLegacyPolicy(input, kGuarded);
  EXPECT_FALSE(policy.firewallOn);
  EXPECT_EQ(policy.causes, std::vector<std::string>{"Group policy keeps the firewall off: domain profile"});
  EXPECT_EQ(DescribeReason(policy.verdicts[0]), "group policy keeps profile domain off");
  input = LegacyOn();
  input.serviceRunning = false;
  EXPECT_FALSE(ComposeLegacyPolicy(input, kGuarded).firewallOn);
  input = LegacyOn();
  input.remoteAdminEnabled = true;
  EXPECT_EQ(DescribeReason(ComposeLegacyPolicy(input, kGuarded).verdicts[0]),
            "exception \"Remote Administration\" open");
}

TEST(EffectivePolicyTest, ListenersAreMatchedByFileNameInAnyCase) {
  EXPECT_TRUE(ListensOn(L"System", 445));
  EXPECT_TRUE(ListensOn(L"system", 137));
  EXPECT_FALSE(ListensOn(L"System", 135));
  EXPECT_TRUE(ListensOn(L"C:\\Windows\\System32\\svchost.exe", 135));
  EXPECT_TRUE(ListensOn(L"%SystemRoot%/system32/SvcHost.EXE", 135));
  EXPECT_FALSE(ListensOn(L"C:\\Windows\\System32\\svchost.exe", 445));
  EXPECT_FALSE(ListensOn(L"C:\\System\\other.exe", 445));
  EXPECT_FALSE(ListensOn(L"svchost.exe.bak", 135));
  EXPECT_FALSE(ListensOn(L"", 445));
}

}  // namespace
