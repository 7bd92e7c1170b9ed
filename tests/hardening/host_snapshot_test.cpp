// The restore point: a snapshot stored as registry values and read back,
// what is refused as no restore point, the order snapshots are compared in,
// and when two snapshots are equal.
#include "hardening/host_snapshot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "hardening_test_support.h"

namespace {

using namespace qf::hardening;
using namespace qf::hardening::testing;
using qf::firewall::RuleRecord;

// A host with a bit of everything: both services, every profile switch,
// thirteen rules of our grouping (one with texts no run writes),
// both legacy profiles read, one with File and Printer Sharing unknown.
HostSnapshot Busy() {
  HostSnapshot snapshot = AdvancedHostBefore();
  snapshot.services = {{"MpsSvc", true, 2, true}, {"SharedAccess", false, 0, false}};
  snapshot.profileOn = {false, true, false};
  snapshot.quillfortRules = OneRunOfRules();
  RuleRecord odd = OurRule(6, 445);
  odd.name = L"C:\\Tools\\规则 \\\\ \u00e9";
  odd.description = L"trailing backslash \\";
  odd.localPorts = L"135-139,445";
  odd.protocol = 256;
  odd.direction = 2;
  odd.action = 1;
  odd.profiles = 0x7FFFFFFF;
  odd.enabled = false;
  snapshot.quillfortRules.insert(snapshot.quillfortRules.begin() + 9, odd);
  for (std::size_t p = 0; p < 2; ++p) {
    LegacyProfileSnapshot& profile = snapshot.legacy[p];
    profile.read = true;
    profile.firewallOn = p == 0;
    profile.openings = NoOpenings();
  }
  *FindOpening(snapshot.legacy[0], 139, 6) = Opening(139, 6, true, true, L"NetBIOS \\ 会话", 2);
  *FindOpening(snapshot.legacy[0], 137, 17) = Opening(137, 17, true, false, L"", 0);
  snapshot.legacy[0].fileAndPrintKnown = true;
  snapshot.legacy[0].fileAndPrintEnabled = false;
  snapshot.legacy[0].fileAndPrintScope = 1;
  snapshot.legacy[1].remoteAdminKnown = true;
  snapshot.legacy[1].remoteAdminEnabled = true;
  PutInCanonicalOrder(snapshot);
  return snapshot;
}

std::optional<HostSnapshot> RoundTrip(const HostSnapshot& snapshot) {
  return SnapshotFromStoredValues(StoredValuesOf(snapshot));
}

// Every field, not only what the snapshots' equality looks at.
void ExpectSameRules(const std::vector<RuleRecord>& a, const std::vector<RuleRecord>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].name, b[i].name) << i;
    EXPECT_EQ(a[i].description, b[i].description) << i;
    EXPECT_EQ(a[i].grouping, b[i].grouping) << i;
    EXPECT_EQ(a[i].localPorts, b[i].localPorts) << i;
    EXPECT_EQ(a[i].protocol, b[i].protocol) << i;
    EXPECT_EQ(a[i].direction, b[i].direction) << i;
    EXPECT_EQ(a[i].action, b[i].action) << i;
    EXPECT_EQ(a[i].profiles, b[i].profiles) << i;
    EXPECT_EQ(a[i].enabled, b[i].enabled) << i;
    EXPECT_TRUE(b[i].complete) << i;
  }
}

StoredValue* Find(std::vector<StoredValue>& values, const std::wstring& subkey, const std::wstring& name) {
  for (StoredValue& value : values) {
    if (value.subkey == subkey && value.name == name) return &value;
  }
  return nullptr;
}

std::vector<StoredValue> Without(std::vector<StoredValue> values, const std::wstring& subkey,
                                 const std::wstring& name) {
  values.erase(std::remove_if(values.begin(), values.end(),
                              [&](const StoredValue& v) { return v.subkey == subkey && v.name == name; }),
               values.end());
  return values;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// ---- round trip --------------------------------------------------------------

TEST(RestorePointTest, EverySnapshotComesBackAsItWasStored) {
  const HostSnapshot busy = Busy();
  ASSERT_EQ(busy.quillfortRules.size(), 13u);
  const std::optional<HostSnapshot> back = RoundTrip(busy);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, busy);
  EXPECT_EQ(back->hostClass, 5);
  EXPECT_EQ(back->services, busy.services);
  EXPECT_TRUE(back->advancedRead);
  EXPECT_EQ(back->profileOn, busy.profileOn);
  ExpectSameRules(busy.quillfortRules, back->quillfortRules);
  EXPECT_EQ(back->quillfortRules[9].name, L"C:\\Tools\\规则 \\\\ \u00e9");
  EXPECT_EQ(back->legacy, busy.legacy);
  EXPECT_FALSE(back->legacy[1].fileAndPrintKnown);
  EXPECT_TRUE(back->legacy[1].remoteAdminEnabled);
  EXPECT_FALSE(back->legacy[0].remoteAdminKnown);
  // An opening that exists keeps its name, scope and state.
  const LegacyOpening* session = nullptr;
  for (const LegacyOpening& opening : back->legacy[0].openings) {
    if (opening.port == 139 && opening.protocol == 6) session = &opening;
  }
  ASSERT_NE(session, nullptr);
  EXPECT_TRUE(session->exists);
  EXPECT_TRUE(session->enabled);
  EXPECT_EQ(session->name, L"NetBIOS \\ 会话");
  EXPECT_EQ(session->scope, 2);

  // Without its service a restore point is no restore point.
  EXPECT_FALSE(RoundTrip(HostSnapshot{}).has_value());
  for (const HostSnapshot& plain : {AdvancedHostBefore(), LegacyHostBefore()}) {
    HostSnapshot canonical = plain;
    PutInCanonicalOrder(canonical);
    const std::optional<HostSnapshot> again = RoundTrip(canonical);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(*again, canonical);
  }
}

TEST(RestorePointTest, APartNotReadWholeIsNeverStoredAsEmpty) {
  // One legacy profile unread: no legacy value at all.
  HostSnapshot legacy = LegacyHostBefore();
  legacy.legacy[0].read = false;
  std::vector<StoredValue> values = StoredValuesOf(legacy);
  for (const StoredValue& value : values) EXPECT_NE(value.subkey.substr(0, 6), L"Legacy") << Narrow(value.subkey);
  std::optional<HostSnapshot> back = SnapshotFromStoredValues(values);
  ASSERT_TRUE(back.has_value());
  EXPECT_FALSE(back->LegacyRead());
  EXPECT_TRUE(back->legacy[1].openings.empty());
  EXPECT_EQ(back->services, legacy.services);

  // The policy answered its switches but not its rules, or not every switch.
  for (bool rulesRead : {false, true}) {
    HostSnapshot advanced = AdvancedHostBefore();
    advanced.advancedRead = rulesRead;
    advanced.profileOn = {rulesRead ? std::nullopt : std::optional<bool>(false), true, false};
    advanced.quillfortRules = OneRunOfRules();
    back = RoundTrip(advanced);
    ASSERT_TRUE(back.has_value());
    EXPECT_FALSE(back->advancedRead);
    EXPECT_EQ(back->profileOn, (std::array<std::optional<bool>, 3>{}));
    EXPECT_TRUE(back->quillfortRules.empty());
  }
}

TEST(RestorePointTest, RulesComeBackInTheirOrderWhateverOrderTheValuesAreListedIn) {
  HostSnapshot snapshot = AdvancedHostBefore();
  for (int i = 0; i < 120; ++i) {
    RuleRecord rule = OurRule(i % 2 == 0 ? 6 : 17, 1000 + i);
    rule.description = std::to_wstring(i);
    snapshot.quillfortRules.push_back(rule);
  }
  std::vector<StoredValue> values = StoredValuesOf(snapshot);
  // The registry lists values in an order of its own.
  std::mt19937 random(11);
  for (int round = 0; round < 5; ++round) {
    std::shuffle(values.begin(), values.end(), random);
    const std::optional<HostSnapshot> back = SnapshotFromStoredValues(values);
    ASSERT_TRUE(back.has_value());
    ExpectSameRules(snapshot.quillfortRules, back->quillfortRules);
  }
}

TEST(RestorePointTest, OpeningsStoredUnderTextSortedKeysComeBackInPortOrder) {
  HostSnapshot fresh = LegacyHostBefore();
  // A port whose text sorts before the others, read last.
  fresh.legacy[1].openings.push_back(Opening(1000, 17, true, true, L"far", 0));
  fresh.legacy[1].openings.push_back(Opening(1000, 6, false));
  fresh.services = {{"SharedAccess", true, 3, false}, {"MpsSvc", false, 0, false}};
  const std::optional<HostSnapshot> stored = RoundTrip(fresh);
  ASSERT_TRUE(stored.has_value());

  std::vector<std::pair<long, long>> order;
  for (const LegacyOpening& opening : stored->legacy[1].openings) order.emplace_back(opening.port, opening.protocol);
  EXPECT_EQ(order, (std::vector<std::pair<long, long>>{{135, 6},
                                                       {135, 17},
                                                       {136, 6},
                                                       {136, 17},
                                                       {137, 6},
                                                       {137, 17},
                                                       {138, 6},
                                                       {138, 17},
                                                       {139, 6},
                                                       {139, 17},
                                                       {445, 6},
                                                       {445, 17},
                                                       {1000, 6},
                                                       {1000, 17}}));
  EXPECT_EQ(stored->services[0].name, "MpsSvc");

  // As read, the fresh snapshot lists the same things in another order.
  EXPECT_NE(*stored, fresh);
  HostSnapshot canonical = fresh;
  PutInCanonicalOrder(canonical);
  EXPECT_EQ(*stored, canonical);
  // Ordering twice changes nothing.
  HostSnapshot twice = canonical;
  PutInCanonicalOrder(twice);
  EXPECT_EQ(twice, canonical);
}

TEST(RestorePointTest, CanonicalOrderLeavesTheRulesAsTheyAre) {
  HostSnapshot snapshot = AdvancedHostBefore();
  snapshot.quillfortRules = {OurRule(17, 445), OurRule(6, 139), OurRule(6, 135)};
  const std::vector<RuleRecord> before = snapshot.quillfortRules;
  PutInCanonicalOrder(snapshot);
  ExpectSameRules(before, snapshot.quillfortRules);
}

// ---- what is no restore point --------------------------------------------------

TEST(RestorePointTest, RefusesValuesWithoutTheRightVersionOrHostClass) {
  std::vector<StoredValue> good = StoredValuesOf(Busy());
  ASSERT_TRUE(SnapshotFromStoredValues(good).has_value());
  EXPECT_FALSE(SnapshotFromStoredValues({}).has_value());
  EXPECT_FALSE(SnapshotFromStoredValues(Without(good, L"", L"Version")).has_value());
  EXPECT_FALSE(SnapshotFromStoredValues(Without(good, L"", L"HostClass")).has_value());
  for (std::uint32_t version : {0u, 1u, 4u, 0xFFFFFFFFu}) {
    std::vector<StoredValue> values = good;
    Find(values, L"", L"Version")->data = version;
    EXPECT_FALSE(SnapshotFromStoredValues(values).has_value()) << version;
  }
  std::vector<StoredValue> textVersion = good;
  Find(textVersion, L"", L"Version")->data = std::wstring(L"1");
  EXPECT_FALSE(SnapshotFromStoredValues(textVersion).has_value());
  std::vector<StoredValue> textClass = good;
  Find(textClass, L"", L"HostClass")->data = std::wstring(L"5");
  EXPECT_FALSE(SnapshotFromStoredValues(textClass).has_value());
  // The version in a subkey is not the restore point's.
  std::vector<StoredValue> misplaced = good;
  Find(misplaced, L"", L"Version")->subkey = L"Advanced";
  EXPECT_FALSE(SnapshotFromStoredValues(misplaced).has_value());
  std::vector<StoredValue> badFlag = good;
  Find(badFlag, L"Legacy\\Standard", L"RemoteAdminEnabled")->data = 2u;
  EXPECT_FALSE(SnapshotFromStoredValues(badFlag).has_value());
}

TEST(RestorePointTest, TheVersionBeforeReadsWithRemoteAdministrationUnrecorded) {
  std::vector<StoredValue> older = Without(StoredValuesOf(Busy()), L"Legacy\\Standard", L"RemoteAdminEnabled");
  Find(older, L"", L"Version")->data = 2u;
  const std::optional<HostSnapshot> back = SnapshotFromStoredValues(older);
  ASSERT_TRUE(back.has_value());
  EXPECT_FALSE(back->legacy[1].remoteAdminKnown);
  EXPECT_EQ(back->legacy[1].openings, Busy().legacy[1].openings);
}

TEST(RestorePointTest, RefusesARuleMissingAnyFieldOrHoldingAFieldOfTheWrongType) {
  std::vector<StoredValue> good = StoredValuesOf(Busy());
  const std::wstring rule = L"Rules\\000010";  // the eleventh of thirteen
  ASSERT_NE(Find(good, rule, L"Name"), nullptr);
  const std::vector<std::wstring> texts = {L"Name", L"Description", L"Grouping", L"LocalPorts"};
  const std::vector<std::wstring> numbers = {L"Protocol", L"Direction", L"Action", L"Profiles", L"Enabled"};
  for (const auto* fields : {&texts, &numbers}) {
    for (const std::wstring& field : *fields) {
      EXPECT_FALSE(SnapshotFromStoredValues(Without(good, rule, field)).has_value()) << Narrow(field);
      std::vector<StoredValue> wrongType = good;
      StoredValue* value = Find(wrongType, rule, field);
      ASSERT_NE(value, nullptr) << Narrow(field);
      if (fields == &texts) {
        value->data = std::uint32_t{0};
      } else {
        value->data = std::wstring(L"0");
      }
      EXPECT_FALSE(SnapshotFromStoredValues(wrongType).has_value()) << Narrow(field);
    }
  }
}

TEST(RestorePointTest, RefusesServicesAndOpeningsMissingAFieldOrOfTheWrongType) {
  std::vector<StoredValue> good = StoredValuesOf(Busy());
  struct Place {
    std::wstring subkey;
    std::wstring name;
  };
  const std::vector<Place> required = {
      {L"Services\\MpsSvc", L"Present"},
      {L"Services\\MpsSvc", L"StartType"},
      {L"Services\\SharedAccess", L"Running"},
      {L"Legacy\\Domain\\Openings\\139 TCP", L"Port"},
      {L"Legacy\\Domain\\Openings\\139 TCP", L"Protocol"},
      {L"Legacy\\Domain\\Openings\\139 TCP", L"Exists"},
      {L"Legacy\\Domain\\Openings\\139 TCP", L"Enabled"},
      {L"Legacy\\Domain\\Openings\\139 TCP", L"Scope"},
      {L"Legacy\\Standard\\Openings\\445 UDP", L"Exists"},
  };
  for (const Place& place : required) {
    const std::string where = Narrow(place.subkey + L"\\" + place.name);
    EXPECT_FALSE(SnapshotFromStoredValues(Without(good, place.subkey, place.name)).has_value()) << where;
    std::vector<StoredValue> wrongType = good;
    StoredValue* value = Find(wrongType, place.subkey, place.name);
    ASSERT_NE(value, nullptr) << where;
    value->data = std::wstring(L"1");
    EXPECT_FALSE(SnapshotFromStoredValues(wrongType).has_value()) << where;
  }
  std::vector<StoredValue> numericName = good;
  Find(numericName, L"Legacy\\Domain\\Openings\\139 TCP", L"Name")->data = std::uint32_t{1};
  EXPECT_FALSE(SnapshotFromStoredValues(numericName).has_value());
  EXPECT_FALSE(SnapshotFromStoredValues(Without(good, L"Legacy\\Domain\\Openings\\139 TCP", L"Name")).has_value());
  // An opening that did not exist needs nothing more.
  EXPECT_EQ(Find(good, L"Legacy\\Standard\\Openings\\445 UDP", L"Name"), nullptr);
}

TEST(RestorePointTest, RefusesSwitchesOfTheWrongType) {
  // A switch that reads as unread would be left alone by restore, which would
  // then report the host restored.
  std::vector<StoredValue> good = StoredValuesOf(Busy());
  const std::vector<std::pair<std::wstring, std::wstring>> places = {
      {L"Advanced", L"Read"},
      {L"Advanced", L"Private"},
      {L"Advanced", L"Public"},
      {L"Legacy\\Domain", L"FirewallOn"},
      {L"Legacy\\Standard", L"FirewallOn"},
      {L"Legacy\\Domain", L"FileAndPrintEnabled"},
      {L"Legacy\\Domain", L"FileAndPrintScope"},
  };
  for (const auto& place : places) {
    std::vector<StoredValue> wrongType = good;
    StoredValue* value = Find(wrongType, place.first, place.second);
    ASSERT_NE(value, nullptr) << Narrow(place.first + L"\\" + place.second);
    value->data = std::wstring(L"1");
    EXPECT_FALSE(SnapshotFromStoredValues(wrongType).has_value()) << Narrow(place.first + L"\\" + place.second);
  }
  // Half of File and Printer Sharing is no restore point this program wrote.
  EXPECT_FALSE(SnapshotFromStoredValues(Without(good, L"Legacy\\Domain", L"FileAndPrintScope")).has_value());
  EXPECT_FALSE(SnapshotFromStoredValues(Without(good, L"Legacy\\Domain", L"FileAndPrintEnabled")).has_value());
}

// ---- equality --------------------------------------------------------------------

TEST(SnapshotEqualityTest, RulesAreComparedWholeAndInOrder) {
  const HostSnapshot busy = Busy();
  for (int field = 0; field < 10; ++field) {
    HostSnapshot other = busy;
    RuleRecord& rule = other.quillfortRules[3];
    switch (field) {
      case 0:
        rule.name += L" ";
        break;
      case 1:
        rule.description = L"changed";
        break;
      case 2:
        rule.grouping += L"0";
        break;
      case 3:
        rule.localPorts = L"445,139";
        break;
      case 4:
        rule.protocol = 256;
        break;
      case 5:
        rule.direction = 2;
        break;
      case 6:
        rule.action = 1;
        break;
      case 7:
        rule.profiles = 4;
        break;
      case 8:
        rule.enabled = !rule.enabled;
        break;
      case 9:
        rule.complete = false;
        break;
    }
    EXPECT_NE(other, busy) << field;
    EXPECT_FALSE(SameRules(other.quillfortRules, busy.quillfortRules)) << field;
  }
  HostSnapshot swapped = busy;
  std::swap(swapped.quillfortRules[0], swapped.quillfortRules[1]);
  EXPECT_NE(swapped, busy);
  HostSnapshot fewer = busy;
  fewer.quillfortRules.pop_back();
  EXPECT_NE(fewer, busy);
  EXPECT_FALSE(SameRules(busy.quillfortRules, fewer.quillfortRules));
  EXPECT_TRUE(SameRules({}, {}));
}

TEST(SnapshotEqualityTest, AnOpeningThatDoesNotExistIsEqualWhateverItsStaleFields) {
  const LegacyOpening absent = Opening(445, 6, false);
  EXPECT_EQ(absent, Opening(445, 6, false, true, L"left over", 2));
  EXPECT_FALSE(absent == Opening(445, 17, false));
  EXPECT_FALSE(absent == Opening(139, 6, false));
  EXPECT_FALSE(absent == Opening(445, 6, true));

  const LegacyOpening present = Opening(445, 6, true, true, L"SMB", 1);
  EXPECT_EQ(present, Opening(445, 6, true, true, L"SMB", 1));
  EXPECT_FALSE(present == Opening(445, 6, true, false, L"SMB", 1));
  EXPECT_FALSE(present == Opening(445, 6, true, true, L"smb", 1));
  EXPECT_FALSE(present == Opening(445, 6, true, true, L"SMB", 0));

  HostSnapshot a = LegacyHostBefore();
  HostSnapshot b = a;
  *FindOpening(b.legacy[1], 139, 17) = Opening(139, 17, false, true, L"stale", 3);
  EXPECT_EQ(a, b);
}

TEST(SnapshotEqualityTest, EveryOtherFieldCounts) {
  const HostSnapshot base = Busy();
  std::vector<HostSnapshot> changed(14, base);
  changed[0].hostClass = 6;
  changed[1].services[0].startType = 3;
  changed[2].services[0].running = false;
  changed[3].services[1].present = true;
  changed[4].advancedRead = false;
  changed[5].profileOn[0] = std::nullopt;  // unread and off are not the same
  changed[6].profileOn[2] = true;
  changed[7].legacy[1].read = false;
  changed[8].legacy[0].firewallOn = false;
  changed[9].legacy[0].fileAndPrintEnabled = true;
  changed[10].legacy[0].fileAndPrintScope = 0;
  changed[11].legacy[1].fileAndPrintKnown = true;
  changed[12].legacy[1].remoteAdminEnabled = false;
  changed[13].legacy[0].remoteAdminKnown = true;
  for (std::size_t i = 0; i < changed.size(); ++i) {
    EXPECT_NE(changed[i], base) << i;
    EXPECT_FALSE(changed[i] == base) << i;
  }
  EXPECT_EQ(Busy(), base);
  ASSERT_NE(base.FindService("MpsSvc"), nullptr);
  EXPECT_TRUE(base.FindService("MpsSvc")->running);
  EXPECT_EQ(base.FindService("mpssvc"), nullptr);
  EXPECT_EQ(base.FindService("Spooler"), nullptr);
}

}  // namespace
