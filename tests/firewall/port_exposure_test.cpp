// When a guarded port counts as blocked: profile switches, the staged rule
// test over a walk, and the legacy profile's openings.
#include "firewall/port_exposure.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "firewall/local_ports_match.h"

namespace {

using namespace qf::firewall;

const std::vector<long> kGuarded = {445, 135, 136, 137, 138, 139};

// ---- profile switches --------------------------------------------------------

ProfileSwitches Switches(std::optional<long> current, std::optional<bool> domain, std::optional<bool> priv,
                         std::optional<bool> pub) {
  return ProfileSwitches{current, domain, priv, pub};
}

TEST(ProfileSwitchesTest, FirewallLineNeedsPublicPrivateAndEveryProfileInForce) {
  EXPECT_TRUE(AdvancedFirewallOn(Switches(kProfilePublic, std::nullopt, true, true)));
  EXPECT_FALSE(AdvancedFirewallOn(Switches(kProfilePublic, true, false, true)));
  EXPECT_FALSE(AdvancedFirewallOn(Switches(kProfilePublic, true, true, false)));
  // A domain-joined host with its domain firewall off filters nothing.
  EXPECT_FALSE(AdvancedFirewallOn(Switches(kProfileDomain, false, true, true)));
  EXPECT_FALSE(AdvancedFirewallOn(Switches(kProfileDomain, std::nullopt, true, true)));
  EXPECT_TRUE(AdvancedFirewallOn(Switches(kProfileDomain, true, true, true)));
  EXPECT_TRUE(AdvancedFirewallOn(Switches(kProfileDomain | kProfilePrivate, true, true, true)));
}

TEST(ProfileSwitchesTest, UnreadOrOddProfilesInForceAreNeverOn) {
  EXPECT_FALSE(AdvancedFirewallOn(Switches(std::nullopt, true, true, true)));
  EXPECT_FALSE(AdvancedFirewallOn(Switches(0, true, true, true)));
  EXPECT_FALSE(AdvancedFirewallOn(Switches(8 | kProfilePublic, true, true, true)));
  EXPECT_FALSE(ProfilesInForceOn(Switches(std::nullopt, true, true, true)));
  EXPECT_FALSE(ProfilesInForceOn(Switches(0, true, true, true)));
}

TEST(ProfileSwitchesTest, PortsDependOnlyOnTheProfilesInForce) {
  EXPECT_TRUE(ProfilesInForceOn(Switches(kProfilePublic, false, std::nullopt, true)));
  EXPECT_FALSE(ProfilesInForceOn(Switches(kProfilePublic, true, true, false)));
  EXPECT_FALSE(ProfilesInForceOn(Switches(kProfilePublic | kProfilePrivate, true, false, true)));
}

TEST(ProfileSwitchesTest, DomainIsReadOnlyWhenInForce) {
  EXPECT_EQ(ProfilesToRead(kProfilePublic), kProfilePublic | kProfilePrivate);
  EXPECT_EQ(ProfilesToRead(std::nullopt), kProfilePublic | kProfilePrivate);
  EXPECT_EQ(ProfilesToRead(kProfileDomain), kKnownProfiles);
}

// ---- the staged rule test ----------------------------------------------------

// A rule as the firewall would report it; nullopt: that read fails.
struct FakeRule {
  std::optional<bool> enabled = true;
  std::optional<long> direction = kDirectionInbound;
  std::optional<long> action = kActionBlock;
  std::optional<long> protocol = kProtocolAny;
  std::optional<long> profiles = kKnownProfiles;
  std::optional<std::wstring> localPorts = L"*";
};

// Serves one rule's properties and counts every read.
// A rule that reaches every peer; only its counted properties decide.
class CountingProperties : public RuleProperties, public RuleReach {
 public:
  explicit CountingProperties(const FakeRule& rule) : rule_(rule) {}
  std::optional<std::wstring> ApplicationName() override { return std::wstring(); }
  std::optional<std::wstring> ServiceName() override { return std::wstring(); }
  std::optional<std::wstring> RemoteAddresses() override { return std::wstring(L"*"); }
  std::optional<std::wstring> LocalAddresses() override { return std::wstring(L"*"); }
  std::optional<std::wstring> RemotePorts() override { return std::wstring(L"*"); }
  std::optional<std::wstring> InterfaceTypes() override { return std::wstring(L"All"); }
  std::optional<bool> NamesInterfaces() override { return false; }
  std::optional<std::wstring> OtherCondition() override { return std::wstring(); }
  std::optional<std::wstring> Name() override { return std::wstring(); }
  std::optional<bool> Enabled() override { return Count(0), rule_.enabled; }
  std::optional<long> Direction() override { return Count(1), rule_.direction; }
  std::optional<long> Action() override { return Count(2), rule_.action; }
  std::optional<long> Protocol() override { return Count(3), rule_.protocol; }
  std::optional<long> Profiles() override { return Count(4), rule_.profiles; }
  std::optional<std::wstring> LocalPorts() override { return Count(5), rule_.localPorts; }
  int reads = 0;
  int maxPerProperty = 0;

 private:
  void Count(int property) {
    ++reads;
    maxPerProperty = std::max(maxPerProperty, ++perProperty_[property]);
  }
  const FakeRule& rule_;
  int perProperty_[6] = {};
};

// The rule stated plainly: it counts for this port and protocol.
bool Counts(const FakeRule& rule, long port, long protocol, long current) {
  return rule.enabled == true && rule.direction == kDirectionInbound && rule.action == kActionBlock && rule.protocol &&
         (*rule.protocol == protocol || *rule.protocol == kProtocolAny) && rule.profiles &&
         (*rule.profiles & current) == current && rule.localPorts && LocalPortsCoverPort(*rule.localPorts, port);
}

bool PlainlyProtocolBlocked(const std::vector<FakeRule>& rules, long port, long protocol, long current) {
  if (current == 0 || (current & ~kKnownProfiles) != 0) return false;
  for (const FakeRule& rule : rules) {
    if (Counts(rule, port, protocol, current)) return true;
  }
  return false;
}

bool PlainlyBlocked(const std::vector<FakeRule>& rules, long port, long current) {
  if (current == 0 || (current & ~kKnownProfiles) != 0) return false;
  bool tcp = false;
  bool udp = false;
  for (const FakeRule& rule : rules) {
    tcp = tcp || Counts(rule, port, kProtocolTcp, current);
    udp = udp || Counts(rule, port, kProtocolUdp, current);
  }
  return tcp && udp;
}

struct Walked {
  std::vector<bool> blocked;
  std::vector<bool> tcp;
  std::vector<bool> udp;
  std::vector<int> reads;  // per rule
};

Walked Walk(const std::vector<FakeRule>& rules, const std::vector<long>& ports, long current) {
  BlockTally tally(ports, current);
  Walked walked;
  for (const FakeRule& rule : rules) {
    if (tally.Complete()) break;
    CountingProperties properties(rule);
    tally.Examine(properties, properties);
    EXPECT_LE(properties.maxPerProperty, 1) << "a property was read twice";
    walked.reads.push_back(properties.reads);
  }
  for (std::size_t i = 0; i < ports.size(); ++i) {
    walked.blocked.push_back(tally.PortBlocked(i));
    walked.tcp.push_back(tally.ProtocolBlocked(i, kProtocolTcp));
    walked.udp.push_back(tally.ProtocolBlocked(i, kProtocolUdp));
  }
  return walked;
}

FakeRule Rule(long protocol, const wchar_t* ports, long profiles = kKnownProfiles) {
  FakeRule rule;
  rule.protocol = protocol;
  rule.localPorts = ports;
  rule.profiles = profiles;
  return rule;
}

TEST(BlockTallyTest, APortNeedsBothTcpAndUdpOrAnAnyProtocolRule) {
  EXPECT_EQ(Walk({Rule(kProtocolUdp, L"445")}, kGuarded, kProfilePublic).blocked,
            (std::vector<bool>{false, false, false, false, false, false}));
  EXPECT_EQ(Walk({Rule(kProtocolTcp, L"445"), Rule(kProtocolUdp, L"445,139")}, kGuarded, kProfilePublic).blocked,
            (std::vector<bool>{true, false, false, false, false, false}));
  EXPECT_EQ(Walk({Rule(kProtocolAny, L"135-139")}, kGuarded, kProfilePublic).blocked,
            (std::vector<bool>{false, true, true, true, true, true}));
  EXPECT_EQ(Walk({Rule(1, L"*")}, kGuarded, kProfilePublic).blocked, std::vector<bool>(6, false));
}

TEST(BlockTallyTest, EachProtocolIsToldApartAndOnlyTcpAndUdpAreAsked) {
  const Walked udpOnly = Walk({Rule(kProtocolUdp, L"445")}, kGuarded, kProfilePublic);
  EXPECT_EQ(udpOnly.udp, (std::vector<bool>{true, false, false, false, false, false}));
  EXPECT_EQ(udpOnly.tcp, std::vector<bool>(6, false));
  const Walked mixed =
      Walk({Rule(kProtocolTcp, L"135-137"), Rule(kProtocolUdp, L"137,139"), Rule(kProtocolAny, L"138")}, kGuarded,
           kProfilePublic);
  EXPECT_EQ(mixed.tcp, (std::vector<bool>{false, true, true, true, true, false}));
  EXPECT_EQ(mixed.udp, (std::vector<bool>{false, false, false, true, true, true}));
  EXPECT_EQ(mixed.blocked, (std::vector<bool>{false, false, false, true, true, false}));

  BlockTally tally({445}, kProfilePublic);
  FakeRule any = Rule(kProtocolAny, L"445");
  CountingProperties properties(any);
  tally.Examine(properties, properties);
  EXPECT_TRUE(tally.ProtocolBlocked(0, kProtocolTcp));
  EXPECT_TRUE(tally.ProtocolBlocked(0, kProtocolUdp));
  // No other protocol is tallied, and a slot past the ports is never blocked.
  EXPECT_FALSE(tally.ProtocolBlocked(0, kProtocolAny));
  EXPECT_FALSE(tally.ProtocolBlocked(0, 47));
  EXPECT_FALSE(tally.ProtocolBlocked(1, kProtocolTcp));
  EXPECT_FALSE(tally.PortBlocked(1));
}

TEST(BlockTallyTest, RuleMustApplyToEveryProfileInForce) {
  EXPECT_FALSE(Walk({Rule(kProtocolAny, L"445", kProfileDomain)}, {445}, kProfilePublic).blocked[0]);
  EXPECT_TRUE(Walk({Rule(kProtocolAny, L"445", kProfilePublic)}, {445}, kProfilePublic).blocked[0]);
  EXPECT_FALSE(Walk({Rule(kProtocolAny, L"445", kProfilePublic)}, {445}, kProfilePublic | kProfileDomain).blocked[0]);
  EXPECT_TRUE(Walk({Rule(kProtocolAny, L"445", 0x7FFFFFFF)}, {445}, kProfilePublic | kProfileDomain).blocked[0]);
  EXPECT_FALSE(Walk({Rule(kProtocolAny, L"445")}, {445}, 0).blocked[0]);
}

TEST(BlockTallyTest, EveryUnreadablePropertyKeepsTheRuleFromCounting) {
  for (int property = 0; property < 6; ++property) {
    FakeRule rule = Rule(kProtocolAny, L"445");
    switch (property) {
      case 0:
        rule.enabled.reset();
        break;
      case 1:
        rule.direction.reset();
        break;
      case 2:
        rule.action.reset();
        break;
      case 3:
        rule.protocol.reset();
        break;
      case 4:
        rule.profiles.reset();
        break;
      case 5:
        rule.localPorts.reset();
        break;
    }
    EXPECT_FALSE(Walk({rule}, {445}, kProfilePublic).blocked[0]) << property;
  }
  EXPECT_TRUE(Walk({Rule(kProtocolAny, L"445")}, {445}, kProfilePublic).blocked[0]);
}

TEST(BlockTallyTest, RulesThatCannotMatchAreDroppedAfterTheirFirstFailingRead) {
  FakeRule disabled = Rule(kProtocolAny, L"445");
  disabled.enabled = false;
  FakeRule outbound = Rule(kProtocolAny, L"445");
  outbound.direction = 2;
  FakeRule allow = Rule(kProtocolAny, L"445");
  allow.action = 1;
  const Walked walked =
      Walk({disabled, outbound, allow, Rule(47, L"445"), Rule(kProtocolAny, L"445", 1)}, kGuarded, kProfilePublic);
  EXPECT_EQ(walked.reads, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST(BlockTallyTest, NothingIsReadOnceAProtocolIsDoneAndTheWalkEndsWhenAllAre) {
  const Walked walked = Walk({Rule(kProtocolTcp, L"*"), Rule(kProtocolTcp, L"445"), Rule(kProtocolUdp, L"1-65535"),
                              Rule(kProtocolAny, L"445")},
                             kGuarded, kProfilePublic);
  EXPECT_EQ(walked.reads, (std::vector<int>{6, 4, 6}));  // the fourth rule is never looked at
  EXPECT_EQ(walked.blocked, std::vector<bool>(6, true));
}

// Random policies: the one walk over six ports equals six single walks and
// the plain statement of the rule.
TEST(BlockTallyTest, RandomPoliciesOneWalkEqualsSixSingleWalksAndThePlainRule) {
  std::mt19937 random(20261209);
  const std::vector<std::wstring> portTexts = {L"445",     L"135-139", L"137,138",  L"*",   L"RPC-EPMap", L"1445",
                                               L"139-135", L"",        L"136, 445", L"RPC", L"1-200",     L"138"};
  const std::vector<long> protocols = {kProtocolTcp, kProtocolUdp, kProtocolAny, 1, 47};
  const std::vector<long> profileSets = {1, 2, 4, 3, 5, 6, 7, 0x7FFFFFFF, 0};
  const std::vector<long> currents = {1, 2, 4, 5, 6, 0};
  auto maybe = [&](auto value, int unreadablePercent) -> std::optional<decltype(value)> {
    if (static_cast<int>(random() % 100) < unreadablePercent) return std::nullopt;
    return value;
  };
  int blockedSeen = 0;
  int exposedSeen = 0;
  for (int round = 0; round < 2000; ++round) {
    std::vector<FakeRule> rules(random() % 12);
    for (FakeRule& rule : rules) {
      rule.enabled = maybe(random() % 5 != 0, 5);
      rule.direction = maybe(static_cast<long>(random() % 4 == 0 ? 2 : 1), 5);
      rule.action = maybe(static_cast<long>(random() % 4 == 0 ? 1 : 0), 5);
      rule.protocol = maybe(protocols[random() % protocols.size()], 5);
      rule.profiles = maybe(profileSets[random() % profileSets.size()], 5);
      rule.localPorts = maybe(portTexts[random() % portTexts.size()], 5);
    }
    const long current = currents[random() % currents.size()];
    const Walked all = Walk(rules, kGuarded, current);
    for (std::size_t i = 0; i < kGuarded.size(); ++i) {
      const bool single = Walk(rules, {kGuarded[i]}, current).blocked[0];
      ASSERT_EQ(all.blocked[i], single) << "round " << round << " port " << kGuarded[i];
      ASSERT_EQ(all.blocked[i], PlainlyBlocked(rules, kGuarded[i], current)) << "round " << round;
      ASSERT_EQ(all.tcp[i], PlainlyProtocolBlocked(rules, kGuarded[i], kProtocolTcp, current)) << "round " << round;
      ASSERT_EQ(all.udp[i], PlainlyProtocolBlocked(rules, kGuarded[i], kProtocolUdp, current)) << "round " << round;
      ASSERT_EQ(all.blocked[i], all.tcp[i] && all.udp[i]) << "round " << round;
      (all.blocked[i] ? blockedSeen : exposedSeen)++;
    }
  }
  // The generator reaches both answers often enough to mean something.
  EXPECT_GT(blockedSeen, 400);
  EXPECT_GT(exposedSeen, 400);
}

// ---- legacy profile ----------------------------------------------------------

LegacyProfileReading OnAndRead(std::vector<LegacyOpening> openings) {
  LegacyProfileReading reading;
  reading.firewallOn = true;
  reading.exceptionsNotAllowed = false;
  reading.openingsRead = true;
  reading.openings = std::move(openings);
  return reading;
}

std::vector<bool> LegacyPorts(const LegacyProfileReading& reading) {
  std::vector<bool> blocked;
  for (long port : kGuarded) blocked.push_back(LegacyPortBlocked(reading, port));
  return blocked;
}

TEST(LegacyExposureTest, OpeningsOfEitherProtocolExposeTheirPortOnly) {
  const LegacyProfileReading fileAndPrint = OnAndRead(
      {{139, kProtocolTcp, true}, {445, kProtocolTcp, true}, {137, kProtocolUdp, true}, {138, kProtocolUdp, true}});
  EXPECT_EQ(LegacyPorts(fileAndPrint), (std::vector<bool>{false, true, true, false, false, false}));
  EXPECT_TRUE(LegacyFirewallOn(fileAndPrint));
  EXPECT_EQ(LegacyPorts(OnAndRead({})), std::vector<bool>(6, true));
}

TEST(LegacyExposureTest, DisabledOpeningsCloseAndUnreadableOnesExpose) {
  EXPECT_TRUE(LegacyPortBlocked(OnAndRead({{445, kProtocolTcp, false}, {445, kProtocolUdp, false}}), 445));
  EXPECT_FALSE(LegacyPortBlocked(OnAndRead({{445, kProtocolTcp, false}, {445, kProtocolUdp, std::nullopt}}), 445));
}

TEST(LegacyExposureTest, FirewallOffOrUnreadMakesEverythingExposed) {
  LegacyProfileReading reading = OnAndRead({});
  reading.firewallOn = false;
  EXPECT_FALSE(LegacyFirewallOn(reading));
  EXPECT_EQ(LegacyPorts(reading), std::vector<bool>(6, false));
  reading.firewallOn.reset();
  reading.exceptionsNotAllowed = true;
  EXPECT_FALSE(LegacyFirewallOn(reading));
  EXPECT_EQ(LegacyPorts(reading), std::vector<bool>(6, false));
  EXPECT_EQ(LegacyPorts(LegacyProfileReading{}), std::vector<bool>(6, false));
}

TEST(LegacyExposureTest, UnreadOpeningsExposeUnlessExceptionsAreNotHonoured) {
  LegacyProfileReading reading = OnAndRead({{445, kProtocolTcp, true}});
  reading.openingsRead = false;
  EXPECT_EQ(LegacyPorts(reading), std::vector<bool>(6, false));
  reading.exceptionsNotAllowed.reset();  // unread: exceptions may be honoured
  EXPECT_EQ(LegacyPorts(reading), std::vector<bool>(6, false));
  reading.exceptionsNotAllowed = true;
  EXPECT_EQ(LegacyPorts(reading), std::vector<bool>(6, true));
}

TEST(LegacyExposureTest, EachProtocolIsBlockedUnlessAnOpeningOfThatProtocolMayBeOpen) {
  const LegacyProfileReading fileAndPrint = OnAndRead({{139, kProtocolTcp, true},
                                                       {445, kProtocolTcp, true},
                                                       {445, kProtocolUdp, false},
                                                       {137, kProtocolUdp, true},
                                                       {138, kProtocolUdp, std::nullopt}});
  std::vector<bool> tcp;
  std::vector<bool> udp;
  for (long port : kGuarded) {
    tcp.push_back(LegacyProtocolBlocked(fileAndPrint, port, kProtocolTcp));
    udp.push_back(LegacyProtocolBlocked(fileAndPrint, port, kProtocolUdp));
  }
  EXPECT_EQ(tcp, (std::vector<bool>{false, true, true, true, true, false}));
  // 138's UDP opening could not be read: it may be open.
  EXPECT_EQ(udp, (std::vector<bool>{true, true, true, false, false, true}));
  // A port is blocked exactly when both protocols are.
  for (std::size_t i = 0; i < kGuarded.size(); ++i) {
    EXPECT_EQ(LegacyPortBlocked(fileAndPrint, kGuarded[i]), tcp[i] && udp[i]) << kGuarded[i];
  }
}

TEST(LegacyExposureTest, EachProtocolFollowsTheFirewallAndTheExceptionsSwitch) {
  LegacyProfileReading reading = OnAndRead({{445, kProtocolTcp, true}, {445, kProtocolUdp, true}});
  EXPECT_FALSE(LegacyProtocolBlocked(reading, 445, kProtocolTcp));
  reading.exceptionsNotAllowed = true;
  EXPECT_TRUE(LegacyProtocolBlocked(reading, 445, kProtocolTcp));
  EXPECT_TRUE(LegacyProtocolBlocked(reading, 445, kProtocolUdp));
  reading.openingsRead = false;  // not needed while no exception counts
  EXPECT_TRUE(LegacyProtocolBlocked(reading, 445, kProtocolUdp));
  reading.exceptionsNotAllowed = false;
  EXPECT_FALSE(LegacyProtocolBlocked(reading, 135, kProtocolUdp));
  reading = OnAndRead({});
  EXPECT_TRUE(LegacyProtocolBlocked(reading, 135, kProtocolTcp));
  reading.firewallOn = false;
  EXPECT_FALSE(LegacyProtocolBlocked(reading, 135, kProtocolTcp));
  reading.exceptionsNotAllowed = true;
  EXPECT_FALSE(LegacyProtocolBlocked(reading, 135, kProtocolUdp));
  reading.firewallOn.reset();
  EXPECT_FALSE(LegacyProtocolBlocked(reading, 135, kProtocolUdp));
}

}  // namespace
