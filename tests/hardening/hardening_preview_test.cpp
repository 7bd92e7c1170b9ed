// The preview walks the run's own plan over a host as read: each case is a
// host and what a run would change on it.
#include "hardening/hardening_preview.h"

#include <gtest/gtest.h>

#include "hardening/host_access.h"
#include "hardening/rule_identity.h"
#include "hardening_test_support.h"
#include "host/legacy_port_closing_batch.h"

namespace qf::hardening {
namespace {

using testing::AdvancedHostBefore;
using testing::FindOpening;
using testing::LegacyHostBefore;
using testing::OneRunOfRules;
using testing::Opening;

constexpr long kPublic = 4;
constexpr long kDomainAndPublic = 5;

PreviewInput Advanced(HostSnapshot host, long inForce = kPublic) {
  PreviewInput input;
  input.host = std::move(host);
  input.current = inForce;
  return input;
}

HostSnapshot AdvancedHardened() {
  HostSnapshot host = AdvancedHostBefore();
  host.services = {{"MpsSvc", true, 2, true}};
  host.profileOn = {false, true, true};
  host.quillfortRules = OneRunOfRules();
  return host;
}

// Every profile the run switches and every command it would run, by profile name.
std::vector<std::string> SwitchNames(const HardeningPreview& plan) {
  std::vector<std::string> names;
  for (const PlannedSwitch& change : plan.switches) names.push_back(change.profile);
  return names;
}

TEST(HardeningPreviewTest, ExposedAdvancedHostGetsEveryServiceStepBothSwitchesAndTwelveRules) {
  const HardeningPreview plan = PreviewHardening(Advanced(AdvancedHostBefore()));
  ASSERT_EQ(plan.services.size(), 2u);
  EXPECT_FALSE(plan.services[0].start);
  EXPECT_EQ(plan.services[0].fromStartType, 4u);
  EXPECT_TRUE(plan.services[1].start);
  // The legacy switch turns the public profile on first; enabling then adds only private.
  EXPECT_EQ(SwitchNames(plan), (std::vector<std::string>{"Public", "Private"}));
  ASSERT_EQ(plan.rulesToAdd.size(), 12u);
  // In the run's order: each port, TCP then UDP.
  EXPECT_TRUE(SameRecordedRule(plan.rulesToAdd[0], testing::OurRule(6, 445)));
  EXPECT_TRUE(SameRecordedRule(plan.rulesToAdd[1], testing::OurRule(17, 445)));
  for (const auto& rule : plan.rulesToAdd) EXPECT_TRUE(IsQuillfortBlockRule(rule));
  EXPECT_EQ(plan.rulesAlreadyPresent, 0);
  EXPECT_TRUE(plan.commands.empty());
  EXPECT_EQ(plan.restorePoint, RestorePointWrite::Save);
  EXPECT_EQ(plan.restorePointParts, kServicesPart | kAdvancedPart);
  EXPECT_TRUE(plan.WouldChange());
}

TEST(HardeningPreviewTest, HardenedAdvancedHostChangesNothing) {
  const HardeningPreview plan = PreviewHardening(Advanced(AdvancedHardened()));
  EXPECT_TRUE(plan.services.empty());
  EXPECT_TRUE(plan.switches.empty());
  EXPECT_TRUE(plan.rulesToAdd.empty());
  EXPECT_EQ(plan.rulesAlreadyPresent, 12);
  EXPECT_EQ(plan.restorePoint, RestorePointWrite::Nothing);
  EXPECT_FALSE(plan.WouldChange());
}

TEST(HardeningPreviewTest, RulesAndSwitchesAsTheRunDecidesThem) {
  struct Case {
    const char* name;
    void (*alter)(PreviewInput&);
    std::size_t rulesToAdd;
    std::vector<std::string> switches;
  };
  const Case cases[] = {
      {"a narrowed rule of ours is someone else's",
       [](PreviewInput& in) { in.host.quillfortRules[0].remoteAddresses = L"10.0.0.0/8"; },
       1,
       {}},
      {"a disabled copy is no block", [](PreviewInput& in) { in.host.quillfortRules[3].enabled = false; }, 1, {}},
      {"the dialog adds every rule again", [](PreviewInput& in) { in.skipIdenticalRules = false; }, 12, {}},
      {"a domain network's legacy switch is the domain profile",
       [](PreviewInput& in) { in.current = kDomainAndPublic; },
       0,
       {"Domain"}},
      {"profiles in force unknown: the legacy switch is not guessed",
       [](PreviewInput& in) {
         in.current.reset();
         in.host.profileOn[0] = false;
       },
       0,
       {}},
      {"public off alone", [](PreviewInput& in) { in.host.profileOn[2] = false; }, 0, {"Public"}},
  };
  for (const Case& c : cases) {
    PreviewInput input = Advanced(AdvancedHardened());
    c.alter(input);
    const HardeningPreview plan = PreviewHardening(input);
    EXPECT_EQ(plan.rulesToAdd.size(), c.rulesToAdd) << c.name;
    EXPECT_EQ(SwitchNames(plan), c.switches) << c.name;
    EXPECT_EQ(plan.WouldChange(), c.rulesToAdd > 0 || !c.switches.empty()) << c.name;
  }
}

TEST(HardeningPreviewTest, ExposedLegacyHostRunsEveryCommandAndSaysWhichChangeSomething) {
  PreviewInput input;
  input.host = LegacyHostBefore();
  input.host.services = {{"SharedAccess", true, 3, false}};
  input.current = 1;  // standard
  const HardeningPreview plan = PreviewHardening(input);
  EXPECT_EQ(SwitchNames(plan), std::vector<std::string>{"Standard"});
  ASSERT_EQ(plan.commands.size(), LegacyPortClosingCommands().size());
  for (std::size_t i = 0; i < plan.commands.size(); ++i) {
    EXPECT_EQ(plan.commands[i].commandLine, LegacyPortClosingCommands()[i]);
  }
  // The standard profile was switched on by the legacy switch already.
  EXPECT_FALSE(plan.commands[0].changes);
  // Missing openings are added disabled; File and Printer Sharing is on; Remote Administration unread.
  for (std::size_t i = 1; i < plan.commands.size(); ++i) EXPECT_TRUE(plan.commands[i].changes) << i;
  EXPECT_EQ(plan.restorePointParts, kServicesPart | kLegacyPart);
}

TEST(HardeningPreviewTest, LegacyHostAsTheCommandsLeaveItChangesNothing) {
  PreviewInput input;
  input.host = LegacyHostBefore();
  input.host.services = {{"SharedAccess", true, 2, true}};
  input.current = 1;
  for (LegacyProfileSnapshot& profile : input.host.legacy) {
    profile.firewallOn = true;
    profile.fileAndPrintKnown = true;
    profile.fileAndPrintEnabled = false;
    profile.fileAndPrintScope = 0;
    profile.remoteAdminKnown = true;
    profile.remoteAdminEnabled = false;
    for (LegacyOpening& opening : profile.openings) {
      if (opening.port == 136) continue;  // no command names 136
      opening = Opening(opening.port, opening.protocol, true, false, std::to_wstring(opening.port), 0);
      opening.remoteAddresses = L"*";  // what the platform reads for scope ALL
    }
  }
  HardeningPreview plan = PreviewHardening(input);
  for (const PlannedCommand& command : plan.commands) EXPECT_FALSE(command.changes) << command.commandLine;
  EXPECT_FALSE(plan.WouldChange());

  // One opening left enabled: only its command changes something.
  FindOpening(input.host.legacy[0], 139, 17)->enabled = true;
  plan = PreviewHardening(input);
  for (const PlannedCommand& command : plan.commands) {
    EXPECT_EQ(command.changes, command.commandLine.find("port = 139") != std::string::npos) << command.commandLine;
  }
}

TEST(HardeningPreviewTest, RestorePointWriteFollowsWhatTheRestorePointHolds) {
  struct Case {
    RestorePointFound found;
    unsigned parts;
    bool hardened;
    RestorePointWrite write;
    unsigned written;
  };
  const Case cases[] = {
      {RestorePointFound::None, 0, false, RestorePointWrite::Save, kServicesPart | kAdvancedPart},
      {RestorePointFound::None, 0, true, RestorePointWrite::Nothing, 0},
      {RestorePointFound::Usable, kServicesPart, false, RestorePointWrite::AddParts, kAdvancedPart},
      {RestorePointFound::Usable, kServicesPart | kAdvancedPart, false, RestorePointWrite::Nothing, 0},
      {RestorePointFound::Unusable, 0, false, RestorePointWrite::Refused, 0},
      {RestorePointFound::Unusable, 0, true, RestorePointWrite::Nothing, 0},
  };
  for (const Case& c : cases) {
    PreviewInput input = Advanced(c.hardened ? AdvancedHardened() : AdvancedHostBefore());
    input.restorePoint = c.found;
    input.restorePointParts = c.parts;
    const HardeningPreview plan = PreviewHardening(input);
    EXPECT_EQ(plan.restorePoint, c.write) << static_cast<int>(c.found) << " " << c.parts;
    EXPECT_EQ(plan.restorePointParts, c.written) << static_cast<int>(c.found) << " " << c.parts;
    EXPECT_EQ(plan.restorePointExists, c.found != RestorePointFound::None);
  }
}

TEST(HardeningPreviewTest, UnreadPartsAndMissingServicesArePlannedForNothing) {
  PreviewInput input = Advanced(AdvancedHostBefore());
  input.host.advancedRead = false;
  input.host.advancedError = 0x80070005u;
  input.host.services = {{"MpsSvc", false, 0, false}};
  const HardeningPreview plan = PreviewHardening(input);
  ASSERT_EQ(plan.unread.size(), 1u);
  EXPECT_EQ(plan.unread[0].step, "ReadFirewallPolicy");
  EXPECT_EQ(plan.unread[0].code, 0x80070005u);
  EXPECT_TRUE(plan.rulesToAdd.empty());
  EXPECT_TRUE(plan.switches.empty());
  // The service steps would fail, not change anything.
  ASSERT_EQ(plan.services.size(), 2u);
  EXPECT_FALSE(plan.services[0].present);
  EXPECT_FALSE(plan.WouldChange());
}

// A stopped firewall service answers nothing; the run starts it before it
// reads the part, so the part is planned as holding nothing yet. A part
// unread while its service runs stays unread.
TEST(HardeningPreviewTest, APartBehindAStoppedServiceIsPlannedWhole) {
  PreviewInput advanced = Advanced(AdvancedHostBefore());  // MpsSvc disabled, stopped
  advanced.host.advancedRead = false;
  advanced.host.advancedError = 0x800706D9u;
  advanced.current.reset();
  HardeningPreview plan = PreviewHardening(advanced);
  EXPECT_TRUE(plan.unread.empty());
  EXPECT_EQ(plan.readOnceServiceRuns, kAdvancedPart);
  EXPECT_EQ(plan.rulesToAdd.size(), 12u);
  EXPECT_EQ(SwitchNames(plan), (std::vector<std::string>{"Public", "Private"}));
  EXPECT_EQ(plan.restorePointParts, kServicesPart | kAdvancedPart);
  advanced.host.services = {{"MpsSvc", true, 2, true}};
  plan = PreviewHardening(advanced);
  EXPECT_EQ(plan.unread.size(), 1u);
  EXPECT_EQ(plan.readOnceServiceRuns, 0u);
  EXPECT_TRUE(plan.rulesToAdd.empty());

  PreviewInput legacy;
  legacy.host = LegacyHostBefore();  // SharedAccess manual, stopped
  for (LegacyProfileSnapshot& profile : legacy.host.legacy) profile = LegacyProfileSnapshot{};
  plan = PreviewHardening(legacy);
  EXPECT_TRUE(plan.unread.empty());
  EXPECT_EQ(plan.readOnceServiceRuns, kLegacyPart);
  ASSERT_EQ(plan.commands.size(), LegacyPortClosingCommands().size());
  for (const PlannedCommand& command : plan.commands) EXPECT_TRUE(command.changes) << command.commandLine;
  EXPECT_EQ(plan.restorePointParts, kServicesPart | kLegacyPart);
}

TEST(HardeningPreviewTest, PartsAndProfilesOfTheRunsSteps) {
  EXPECT_EQ(PartChangedBy(HardeningAction::TurnOnLegacyFirewall, 5), kAdvancedPart);
  EXPECT_EQ(PartChangedBy(HardeningAction::TurnOnLegacyFirewall, 3), kLegacyPart);
  EXPECT_EQ(PartChangedBy(HardeningAction::RunSystemCommand, 3), kLegacyPart);
  EXPECT_EQ(PartChangedBy(HardeningAction::ShowProgress, 5), 0u);
  EXPECT_EQ(AdvancedProfileOfLegacySwitch(1 | 4), 1);
  EXPECT_EQ(AdvancedProfileOfLegacySwitch(2 | 4), 2);
  EXPECT_EQ(AdvancedProfileOfLegacySwitch(4), 4);
}

}  // namespace
}  // namespace qf::hardening
