// Rule records: the rule a run adds, when two rules are the same for a
// lookup, which rules count as blocking a port, and which are Quillfort's.
#include "firewall/rule_record.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "firewall/policy_decisions.h"
#include "firewall/port_exposure.h"

namespace {

using namespace qf::firewall;

RuleRecord Intended(long protocol, const wchar_t* port) {
  const std::optional<RuleRecord> rule = IntendedBlockRule(protocol, port);
  EXPECT_TRUE(rule.has_value());
  return rule.value_or(RuleRecord{});
}

TEST(IntendedBlockRuleTest, CarriesTheTextsAndSettingsARunAdds) {
  const RuleRecord tcp = Intended(kProtocolTcp, L"445");
  EXPECT_EQ(tcp.name, L"@QXRuleOptions.exe, TCP-445");
  EXPECT_EQ(tcp.grouping, L"@QXRuleOptions.exe,-102");
  EXPECT_EQ(tcp.description, L"@QXRuleOptions.exe,-103");
  EXPECT_EQ(tcp.localPorts, L"445");
  EXPECT_EQ(tcp.protocol, kProtocolTcp);
  EXPECT_EQ(tcp.direction, kDirectionInbound);
  EXPECT_EQ(tcp.action, kActionBlock);
  EXPECT_EQ(tcp.profiles, 7);
  EXPECT_TRUE(tcp.enabled);
  EXPECT_TRUE(tcp.complete);
  EXPECT_TRUE(CarriesQuillfortGrouping(tcp));
  EXPECT_EQ(QuillfortGrouping(), tcp.grouping);

  const RuleRecord udp = Intended(kProtocolUdp, L"139");
  EXPECT_EQ(udp.name, L"@QXRuleOptions.exe, UDP-139");
  EXPECT_EQ(udp.protocol, kProtocolUdp);
  EXPECT_FALSE(SameBlockRule(tcp, udp));
}

TEST(IntendedBlockRuleTest, NoRuleWhenTheNameCannotBeComposed) {
  EXPECT_FALSE(IntendedBlockRule(kProtocolTcp, nullptr).has_value());
  // The name may hold at most 499 characters; the port text is never cut.
  const std::size_t room = kRuleTextCapacity - 1 - std::wstring(L"@QXRuleOptions.exe, TCP-").size();
  const std::wstring fits(room, L'4');
  const std::optional<RuleRecord> longest = IntendedBlockRule(kProtocolTcp, fits.c_str());
  ASSERT_TRUE(longest.has_value());
  EXPECT_EQ(longest->name.size(), kRuleTextCapacity - 1);
  EXPECT_EQ(longest->localPorts, fits);
  const std::wstring tooLong(room + 1, L'4');
  EXPECT_FALSE(IntendedBlockRule(kProtocolTcp, tooLong.c_str()).has_value());
}

TEST(SameBlockRuleTest, EachOfTheSevenPropertiesMakesARuleDifferent) {
  const RuleRecord intended = Intended(kProtocolTcp, L"445");
  EXPECT_TRUE(SameBlockRule(intended, intended));
  for (int property = 0; property < 7; ++property) {
    RuleRecord other = intended;
    switch (property) {
      case 0:
        other.name = L"@QXRuleOptions.exe, TCP-4450";
        break;
      case 1:
        other.protocol = kProtocolAny;
        break;
      case 2:
        other.localPorts = L"445,139";
        break;
      case 3:
        other.direction = 2;
        break;
      case 4:
        other.action = 1;
        break;
      case 5:
        other.enabled = false;
        break;
      case 6:
        other.profiles = 0x7FFFFFFF;
        break;
    }
    EXPECT_FALSE(SameBlockRule(intended, other)) << property;
    EXPECT_FALSE(SameBlockRule(other, intended)) << property;
  }
}

TEST(SameBlockRuleTest, DescriptionAndGroupingDoNotMatterButAnIncompleteReadIsNeverTheSame) {
  const RuleRecord intended = Intended(kProtocolUdp, L"137");
  RuleRecord relabelled = intended;
  relabelled.description = L"someone's own words";
  relabelled.grouping = L"";
  EXPECT_TRUE(SameBlockRule(intended, relabelled));
  EXPECT_TRUE(SameBlockRule(relabelled, intended));

  RuleRecord partlyRead = intended;
  partlyRead.complete = false;
  EXPECT_FALSE(SameBlockRule(intended, partlyRead));
  EXPECT_FALSE(SameBlockRule(partlyRead, intended));
  EXPECT_FALSE(SameBlockRule(partlyRead, partlyRead));
}

TEST(QuillfortGroupingTest, OnlyCompleteRulesWithExactlyThatGroupingAreOurs) {
  RuleRecord rule = Intended(kProtocolTcp, L"135");
  EXPECT_TRUE(CarriesQuillfortGrouping(rule));
  rule.complete = false;
  EXPECT_FALSE(CarriesQuillfortGrouping(rule));
  rule.complete = true;
  for (const wchar_t* grouping :
       {L"", L"@QXRuleOptions.exe,-1020", L"@QXRuleOptions.exe,-10", L"@qxruleoptions.exe,-102",
        L"@QXRuleOptions.exe,-103", L" @QXRuleOptions.exe,-102"}) {
    rule.grouping = grouping;
    EXPECT_FALSE(CarriesQuillfortGrouping(rule)) << std::string(grouping, grouping + std::wcslen(grouping));
  }
  // The name does not decide: a rule of any name in our grouping is ours.
  rule.grouping = QuillfortGrouping();
  rule.name = L"renamed by hand";
  EXPECT_TRUE(CarriesQuillfortGrouping(rule));
}

RuleRecord Block(long protocol, const wchar_t* ports) {
  RuleRecord rule;
  rule.name = L"a block rule";
  rule.protocol = protocol;
  rule.localPorts = ports;
  rule.direction = kDirectionInbound;
  rule.action = kActionBlock;
  rule.profiles = kProfileDomain;  // profiles do not matter to the count
  rule.enabled = true;
  return rule;
}

TEST(CountBlockRulesCoveringTest, CountsEnabledInboundBlocksOfTcpUdpOrAnyThatCoverThePort) {
  std::vector<RuleRecord> rules = {Block(kProtocolTcp, L"445"), Block(kProtocolUdp, L"445"),
                                   Block(kProtocolAny, L"135-139"), Block(kProtocolTcp, L"*"),
                                   Block(kProtocolUdp, L"137, 138")};
  EXPECT_EQ(CountBlockRulesCovering(rules, 445), 3);
  EXPECT_EQ(CountBlockRulesCovering(rules, 135), 2);
  EXPECT_EQ(CountBlockRulesCovering(rules, 137), 3);
  EXPECT_EQ(CountBlockRulesCovering(rules, 138), 3);
  EXPECT_EQ(CountBlockRulesCovering(rules, 139), 2);
  EXPECT_EQ(CountBlockRulesCovering(rules, 140), 1);
  EXPECT_EQ(CountBlockRulesCovering({}, 445), 0);

  // Two identical rules are two rules.
  rules.push_back(Block(kProtocolTcp, L"445"));
  EXPECT_EQ(CountBlockRulesCovering(rules, 445), 4);

  // Whatever profiles the rule names, even none.
  RuleRecord noProfiles = Block(kProtocolTcp, L"445");
  noProfiles.profiles = 0;
  EXPECT_EQ(CountBlockRulesCovering({noProfiles}, 445), 1);
}

TEST(CountBlockRulesCoveringTest, RulesThatBlockNothingOnThatPortAreLeftOut) {
  RuleRecord disabled = Block(kProtocolAny, L"445");
  disabled.enabled = false;
  RuleRecord outbound = Block(kProtocolAny, L"445");
  outbound.direction = 2;
  RuleRecord allow = Block(kProtocolAny, L"445");
  allow.action = 1;
  RuleRecord incomplete = Block(kProtocolAny, L"445");
  incomplete.complete = false;
  const std::vector<RuleRecord> rules = {disabled,
                                         outbound,
                                         allow,
                                         incomplete,
                                         Block(1, L"445"),
                                         Block(47, L"*"),
                                         Block(kProtocolTcp, L"4450"),
                                         Block(kProtocolTcp, L"446-500"),
                                         Block(kProtocolTcp, L"139-135"),
                                         Block(kProtocolUdp, L""),
                                         Block(kProtocolUdp, L"RPC")};
  for (long port : {445L, 135L, 136L, 137L, 138L, 139L}) EXPECT_EQ(CountBlockRulesCovering(rules, port), 0) << port;
  // The endpoint mapper's keyword names 135.
  EXPECT_EQ(CountBlockRulesCovering({Block(kProtocolTcp, L"RPC-EPMap")}, 135), 1);
}

TEST(Utf8TextTest, RuleNamesReachDiagnosticsWhateverTheirScript) {
  const struct {
    std::wstring name;
    std::string utf8;
  } cases[] = {
      {L"TCP-445", "TCP-445"},
      {L"\x963B\x6B62 445", "\xE9\x98\xBB\xE6\xAD\xA2 445"},  // Chinese
      {L"caf\x00E9", "caf\xC3\xA9"},
      {std::wstring(1, static_cast<wchar_t>(0xD800)), "\xEF\xBF\xBD"},  // a lone surrogate
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8Text(c.name), c.utf8);
}

}  // namespace
