// Rule texts, protocol label and lookup port text.
#include "firewall/policy_decisions.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace qf::firewall;

TEST(PolicyDecisions, ProtocolLabelIsTcpOnlyForSix) {
  EXPECT_STREQ(ProtocolLabel(6), L"TCP");
  EXPECT_STREQ(ProtocolLabel(17), L"UDP");
  EXPECT_STREQ(ProtocolLabel(1), L"UDP");
  EXPECT_STREQ(ProtocolLabel(256), L"UDP");
  EXPECT_STREQ(ProtocolLabel(-6), L"UDP");
}

TEST(PolicyDecisions, RuleTextsAreTheResourceReferences) {
  const ComposedText name = ComposeRuleName(L"TCP", L"445");
  ASSERT_TRUE(name.ok());
  EXPECT_EQ(name.text, L"@QXRuleOptions.exe, TCP-445");
  EXPECT_EQ(ComposeRuleName(L"UDP", L"135").text, L"@QXRuleOptions.exe, UDP-135");
  EXPECT_EQ(ComposeResourceReference(kGroupingResourceId).text, L"@QXRuleOptions.exe,-102");
  EXPECT_EQ(ComposeResourceReference(kDescriptionResourceId).text, L"@QXRuleOptions.exe,-103");
}

TEST(PolicyDecisions, NameBoundIs499CharactersNeverTruncated) {
  // 24 characters of frame ("@QXRuleOptions.exe, TCP-") leave 475 for the port text.
  const ComposedText longest = ComposeRuleName(L"TCP", std::wstring(475, L'9').c_str());
  ASSERT_TRUE(longest.ok());
  EXPECT_EQ(longest.text.size(), 499u);
  const ComposedText tooLong = ComposeRuleName(L"TCP", std::wstring(476, L'9').c_str());
  EXPECT_EQ(tooLong.error, ComposeError::TooLong);
  EXPECT_TRUE(tooLong.text.empty());
  EXPECT_EQ(ComposeRuleName(L"TCP", std::wstring(100000, L'1').c_str()).error, ComposeError::TooLong);
}

TEST(PolicyDecisions, MissingTextsAreRefused) {
  EXPECT_EQ(ComposeRuleName(L"TCP", nullptr).error, ComposeError::MissingText);
  EXPECT_EQ(ComposeRuleName(nullptr, L"445").error, ComposeError::MissingText);
}

TEST(PolicyDecisions, LookupPortTextIsPlainDecimalInTenCharacters) {
  EXPECT_EQ(FormatPortText(445), L"445");
  EXPECT_EQ(FormatPortText(0), L"0");
  EXPECT_EQ(FormatPortText(999999999), L"999999999");
  EXPECT_EQ(FormatPortText(1000000000), std::nullopt);
  EXPECT_EQ(FormatPortText(-2147483647 - 1), std::nullopt);
}

TEST(PolicyDecisions, PublicThenPrivateAndNeverDomain) {
  ASSERT_EQ(std::size(kSwitchedProfiles), 2u);
  EXPECT_EQ(kSwitchedProfiles[0].type, 4);
  EXPECT_STREQ(kSwitchedProfiles[0].label, "Public");
  EXPECT_EQ(kSwitchedProfiles[1].type, 2);
  EXPECT_STREQ(kSwitchedProfiles[1].label, "Private");
}

}  // namespace
