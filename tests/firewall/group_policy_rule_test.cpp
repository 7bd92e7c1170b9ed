// Group policy rule texts: what a value says, which versions are read, and
// that a malformed text is no rule (and never crashes: the fuzz tests).
#include "firewall/group_policy_rule.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "firewall/port_exposure.h"

namespace {

using namespace qf::firewall;

ParsedPolicyRule Parse(const std::wstring& text) { return ParseGroupPolicyRule(L"{id}", text); }

// Whether the text, as the only rule, blocks 445 for TCP on the public profile.
SlotFinding Blocks445(const std::wstring& text) {
  const ParsedPolicyRule parsed = Parse(text);
  GroupPolicyRuleProperties properties(parsed);
  BlockTally tally({445}, kProfilePublic);
  tally.Examine(properties, properties);
  return tally.Finding(0, kProtocolTcp);
}

TEST(GroupPolicyRuleTest, ReadsTheDocumentedForm) {
  const ParsedPolicyRule p = Parse(
      L"v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=6|Profile=Domain|Profile=Public|LPort=445|LPort=135-139|"
      L"LPort2_10=RPC-EPMap|Name=Block SMB|Desc=from the domain|EmbedCtxt=Hardening|");
  ASSERT_TRUE(p.parsed());
  EXPECT_EQ(p.rule.id, L"{id}");
  EXPECT_EQ(p.rule.name, L"Block SMB");
  EXPECT_TRUE(p.rule.active);
  EXPECT_EQ(p.rule.action, kActionBlock);
  EXPECT_EQ(p.rule.direction, kDirectionInbound);
  EXPECT_EQ(p.rule.protocol, kProtocolTcp);
  EXPECT_EQ(p.rule.profiles, kProfileDomain | kProfilePublic);
  EXPECT_EQ(p.rule.localPorts, L"445,135-139,RPC-EPMap");
  EXPECT_EQ(p.rule.remoteAddresses, L"");
  EXPECT_EQ(p.rule.interfaceTypes, L"All");
  EXPECT_TRUE(p.rule.otherCondition.empty());
}

TEST(GroupPolicyRuleTest, MissingTokensMeanNoLimit) {
  const ParsedPolicyRule p = Parse(L"v2.26|Action=Block|Active=TRUE|Dir=In|");
  ASSERT_TRUE(p.parsed());
  EXPECT_EQ(p.rule.protocol, kProtocolAny);
  EXPECT_EQ(p.rule.profiles, kEveryProfile);
  EXPECT_EQ(p.rule.localPorts, L"*");
  const SlotFinding f = Blocks445(L"v2.26|Action=Block|Active=TRUE|Dir=In|");
  EXPECT_TRUE(f.blocked);
  EXPECT_EQ(f.rule, L"{id}");  // no Name: the value's name names it
}

TEST(GroupPolicyRuleTest, VersionsFrom210To239AreReadAndOthersAreNoRule) {
  const std::wstring body = L"|Action=Block|Active=TRUE|Dir=In|Protocol=6|LPort=445|";
  for (const wchar_t* version : {L"v2.10", L"v2.20", L"v2.24", L"v2.30", L"v2.33", L"v2.39", L"V2.10"}) {
    EXPECT_TRUE(Parse(version + body).parsed()) << static_cast<int>(version[4]);
    EXPECT_TRUE(Blocks445(version + body).blocked);
  }
  for (const wchar_t* version :
       {L"v2.0", L"v2.1", L"v2.09", L"v2.40", L"v3.10", L"v1.10", L"2.10", L"v2.100", L"v2,10", L"", L"v2.1a"}) {
    EXPECT_EQ(Parse(version + body).status, PolicyRuleStatus::UnknownVersion);
    EXPECT_FALSE(Blocks445(version + body).blocked);
  }
}

// Each breach of the form: the text is no rule, never a protection.
TEST(GroupPolicyRuleTest, MalformedTextsAreNoRule) {
  const wchar_t* const texts[] = {
      L"v2.10|",                                                    // no field
      L"v2.10|Action=Block|Active=TRUE|Dir=In",                     // last field unterminated
      L"v2.10|Action=Block||Active=TRUE|Dir=In|",                   // empty field
      L"v2.10|Action=Block|Active=TRUE|Dir=In|LPort|",              // no '='
      L"v2.10|Action=Block|Active=TRUE|Dir=In|=445|",               // no key
      L"v2.10|Action=Deny|Active=TRUE|Dir=In|",                     // unknown action
      L"v2.10|Action=Block|Active=TRUE|Dir=Both|",                  // unknown direction
      L"v2.10|Action=Block|Active=YES|Dir=In|",                     // unknown truth value
      L"v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=256|",       // beyond 255
      L"v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=0006|",      // more than three digits
      L"v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=TCP|",       // not a number
      L"v2.10|Action=Block|Active=TRUE|Dir=In|Profile=Home|",       // unknown profile
      L"v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=6|LPort=|",  // empty value
      L"v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=6|LPort=70000|",
      L"v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=6|LPort=139-135|",
      L"v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=6|LPort=445,139|",  // one item per token
      L"v2.10|Action=Block|Active=TRUE|Dir=In|LPort=445|",                 // ports need TCP or UDP
      L"v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=1|LPort=445|",
      L"v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=6|IFType=Bluetooth|",
      L"v2.10|Action=Block|Action=Allow|Active=TRUE|Dir=In|",   // a single token twice
      L"v2.10|Active=TRUE|Dir=In|Protocol=6|LPort=445|",        // no action
      L"v2.10|Action=Block|Active=TRUE|Protocol=6|LPort=445|",  // no direction
  };
  for (const wchar_t* text : texts) {
    EXPECT_EQ(Parse(text).status, PolicyRuleStatus::Malformed) << std::string(text, text + std::wcslen(text));
    EXPECT_FALSE(Blocks445(text).blocked);
  }
  // A terminator the registry kept is not part of the text.
  EXPECT_TRUE(Parse(std::wstring(L"v2.10|Action=Block|Active=TRUE|Dir=In|") + L'\0').parsed());
}

TEST(GroupPolicyRuleTest, OnlyAnActiveInboundBlockForThePortAndProfileCounts) {
  struct Case {
    const wchar_t* text;
    bool blocks;
  };
  const Case cases[] = {
      {L"v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=6|LPort=445|", true},
      {L"v2.10|Action=Block|Active=FALSE|Dir=In|Protocol=6|LPort=445|", false},
      {L"v2.10|Action=Block|Dir=In|Protocol=6|LPort=445|", false},  // never made active
      {L"v2.10|Action=Allow|Active=TRUE|Dir=In|Protocol=6|LPort=445|", false},
      {L"v2.10|Action=ByPass|Active=TRUE|Dir=In|Protocol=6|LPort=445|", false},
      {L"v2.10|Action=Block|Active=TRUE|Dir=Out|Protocol=6|LPort=445|", false},
      {L"v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=17|LPort=445|", false},
      {L"v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=6|LPort=1445|", false},
      {L"v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=6|LPort=400-500|", true},
      {L"v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=6|LPort=RPC|", false},
      {L"v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=6|Profile=Domain|LPort=445|", false},
      {L"v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=6|Profile=Domain|Profile=Public|LPort=445|", true},
      {L"v2.10|action=block|active=true|dir=in|protocol=6|lport=445|", true},  // literals in any case
      {L"v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=6|LPort=445|Edge=TRUE|ICMP4=8:*|", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Blocks445(c.text).blocked, c.blocks) << std::string(c.text, c.text + std::wcslen(c.text));
  }
}

TEST(GroupPolicyRuleTest, EveryLimitOfReachKeepsTheRuleFromCountingAndIsNamed) {
  const std::wstring base = L"v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=6|LPort=445|Name=GP 445|";
  struct Case {
    const wchar_t* token;
    Narrowing narrowing;
  };
  const Case cases[] = {
      {L"RA4=10.1.2.3|", Narrowing::RemoteAddresses},
      {L"RA4=LocalSubnet|", Narrowing::RemoteAddresses},
      {L"RA6=fe80::/64|", Narrowing::RemoteAddresses},
      {L"LA4=192.168.1.5|", Narrowing::LocalAddresses},
      {L"LA6=::1|", Narrowing::LocalAddresses},
      {L"App=%SystemRoot%\\system32\\svchost.exe|", Narrowing::Program},
      {L"Svc=LanmanServer|", Narrowing::Service},
      {L"Svc=*|", Narrowing::Service},
      {L"RPort=1024-65535|", Narrowing::RemotePorts},
      {L"RPort2_10=IPHTTPSOut|", Narrowing::RemotePorts},
      {L"IFType=Wireless|", Narrowing::InterfaceTypes},
      {L"IFType=Lan|IFType=Wireless|IFType=RAS|", Narrowing::InterfaceTypes},
      {L"IF={5E2E2A51-0000-4000-8000-000000000001}|", Narrowing::Interfaces},
      {L"RMauth=O:LSD:(A;;CC;;;S-1-5-21-1)|", Narrowing::OtherCondition},
      {L"Platform=2:6:2|", Narrowing::OtherCondition},
      {L"Security=Authenticate|", Narrowing::OtherCondition},
      {L"SomethingNew=1|", Narrowing::OtherCondition},
  };
  for (const Case& c : cases) {
    const SlotFinding f = Blocks445(base + c.token);
    EXPECT_FALSE(f.blocked) << static_cast<int>(c.narrowing);
    EXPECT_EQ(f.narrowing, c.narrowing);
    EXPECT_EQ(f.rule, L"GP 445");
  }
  const ParsedPolicyRule twoAddresses = Parse(base + L"RA4=10.1.2.3|RA4=10.0.0.0/255.0.0.0|RA6=::1|");
  EXPECT_EQ(twoAddresses.rule.remoteAddresses, L"10.1.2.3,10.0.0.0/255.0.0.0,::1");
  EXPECT_EQ(Parse(base + L"Platform=2:6:2|SkipVer=2.20|").rule.otherCondition, L"Platform");
}

// ---- fuzzing, as the port parser is fuzzed: random texts under sanitizers ---

int Rounds(int fallback) {
  const char* rounds = std::getenv("QF_FUZZ_ROUNDS");
  return rounds ? std::atoi(rounds) : fallback;
}

// Texts assembled from the form's own pieces, cut and spliced at random: the
// parser must never crash or read out of bounds, and whatever it accepts
// must carry only values the form allows.
TEST(GroupPolicyRuleFuzz, SplicedTextsNeverCrashAndParseOnlyWellFormedValues) {
  const std::vector<std::wstring> versions = {L"v2.10|", L"v2.31|", L"v2.26|", L"v3.0|", L"v2.1", L""};
  const std::vector<std::wstring> pieces = {L"Action=Block|",
                                            L"Action=Block|",
                                            L"Action=Allow|",
                                            L"Active=TRUE|",
                                            L"Active=TRUE|",
                                            L"Active=FALSE|",
                                            L"Dir=In|",
                                            L"Dir=In|",
                                            L"Dir=Out|",
                                            L"Protocol=6|",
                                            L"Protocol=17|",
                                            L"Protocol=",
                                            L"LPort=445|",
                                            L"LPort=135-139|",
                                            L"LPort2_10=RPC-EPMap|",
                                            L"Profile=Public|",
                                            L"RA4=10.1.2.3|",
                                            L"App=",
                                            L"Svc=*|",
                                            L"IFType=Lan|",
                                            L"Name=x|",
                                            L"|",
                                            L"=",
                                            L"-",
                                            L"9",
                                            L"\x4e2d",
                                            L"\xffff",
                                            std::wstring(1, L'\0'),
                                            L"LPort=",
                                            L"IF=",
                                            L"Edge=TRUE|"};
  std::mt19937 random(20260612u);
  const int rounds = Rounds(20000);
  int parsedCount = 0;
  int blocking = 0;
  for (int round = 0; round < rounds; ++round) {
    std::wstring text = versions[random() % 3 == 0 ? random() % versions.size() : 0];
    for (int n = static_cast<int>(random() % 8); n > 0; --n) text += pieces[random() % pieces.size()];
    if (!text.empty() && random() % 4 == 0) text.erase(random() % text.size(), 1 + random() % 3);
    if (!text.empty() && random() % 5 == 0) text[random() % text.size()] = static_cast<wchar_t>(random() % 128);
    const ParsedPolicyRule p = Parse(text);
    if (!p.parsed()) continue;
    ++parsedCount;
    ASSERT_TRUE(text.size() > 6 && (text[0] == L'v' || text[0] == L'V') && text[1] == L'2' && text[2] == L'.');
    ASSERT_TRUE(p.rule.action == kActionBlock || p.rule.action == kActionAllow || p.rule.action == kActionBypass);
    ASSERT_TRUE(p.rule.direction == kDirectionInbound || p.rule.direction == kDirectionOutbound);
    ASSERT_TRUE(p.rule.protocol >= 0 && p.rule.protocol <= kProtocolAny);
    ASSERT_TRUE(p.rule.profiles == kEveryProfile || (p.rule.profiles & ~kKnownProfiles) == 0);
    if (Blocks445(text).blocked) {
      ++blocking;
      ASSERT_TRUE(p.rule.active && p.rule.action == kActionBlock && p.rule.direction == kDirectionInbound);
    }
  }
  EXPECT_GT(parsedCount, rounds / 200);  // the pieces do make rules
  EXPECT_GT(blocking, 0);
}

// Arbitrary characters after a valid version: no crash, and never a block.
TEST(GroupPolicyRuleFuzz, RandomCharactersNeverCrashNorBlock) {
  std::mt19937 random(77u);
  const std::wstring alphabet = L"ABDILPRSTaeinortv=|-_.:*,0123456789 \t\x4e2d";
  const int rounds = Rounds(20000);
  for (int round = 0; round < rounds; ++round) {
    std::wstring text = round % 2 ? L"v2.10|" : L"";
    for (int n = static_cast<int>(random() % 40); n > 0; --n) text += alphabet[random() % alphabet.size()];
    const ParsedPolicyRule p = Parse(text);
    if (p.parsed()) {
      ASSERT_EQ(text.back(), L'|');
    }
    // Random characters never spell "Action=Block" and "Dir=In" and "Active=TRUE" together.
    ASSERT_FALSE(Blocks445(text).blocked) << "round " << round;
  }
}

}  // namespace
