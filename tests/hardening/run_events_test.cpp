// Which event each outcome of a harden, restore or dialog run leaves, with
// which insertion strings.
#include "hardening/run_events.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace qf::hardening {
namespace {

using host::EventEntry;
using host::EventType;

const RunOrigin kOrigin{"quillfort-cli harden", "WIN7X64 class 5"};

StatusReport After(bool hardened) {
  StatusReport status;
  status.firewallOn = hardened;
  status.hardened = hardened;
  for (long port : kGuardedPorts)
    status.ports.push_back({port, hardened, hardened, std::nullopt, std::nullopt, {}, {}});
  return status;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void ExpectShape(const EventEntry& entry, RunEventId id, EventType type) {
  EXPECT_EQ(entry.id, static_cast<std::uint32_t>(id));
  EXPECT_EQ(entry.type, type);
  ASSERT_EQ(entry.insertions.size(), kRunEventInsertions);
  EXPECT_EQ(entry.insertions[0], kOrigin.run);
  EXPECT_EQ(entry.insertions[1], kOrigin.host);
  for (const std::string& insertion : entry.insertions) EXPECT_FALSE(insertion.empty());
}

TEST(RunEvents, IdsAreStableAndDistinct) {
  const std::uint32_t documented[] = {1000, 1001, 1002, 1010, 1011, 1012};
  std::set<std::uint32_t> seen;
  for (std::size_t i = 0; i < std::size(kAllRunEvents); ++i) {
    EXPECT_EQ(static_cast<std::uint32_t>(kAllRunEvents[i]), documented[i]);
    seen.insert(static_cast<std::uint32_t>(kAllRunEvents[i]));
  }
  EXPECT_EQ(seen.size(), std::size(documented));
}

TEST(RunEvents, HardenOutcomes) {
  struct Case {
    const char* name;
    HardenReport report;
    RunEventId id;
    EventType type;
    std::vector<std::string> details;  // parts of %3
  };
  HardenReport changed;
  changed.changed = true;
  changed.restorePointSaved = true;
  changed.rulesAdded = 12;
  changed.after = After(true);
  HardenReport unchanged;
  unchanged.rulesAlreadyPresent = 12;
  unchanged.after = After(true);
  HardenReport failed;
  failed.changed = true;
  failed.failedSteps = {{"AddBlockRule TCP 135", 0x80004005u, {}}};
  failed.stillExposed = {"port 135"};
  failed.after = After(false);
  HardenReport denied;
  denied.accessDenied = true;
  denied.failedSteps = {{"SetServiceAutoStart MpsSvc", 5u, {}}};
  denied.after = After(false);
  HardenReport stillOpen;  // every step succeeded, yet the host reads exposed
  stillOpen.after = After(false);
  const Case cases[] = {
      {"changed",
       changed,
       RunEventId::HardenComplete,
       EventType::Information,
       {"Changed: yes", "rules added: 12", "restore point saved"}},
      {"unchanged", unchanged, RunEventId::HardenComplete, EventType::Information, {"already hardened"}},
      {"failed",
       failed,
       RunEventId::HardenIncomplete,
       EventType::Error,
       {"Step failed: AddBlockRule TCP 135: 0x80004005", "Still exposed: port 135"}},
      {"denied",
       denied,
       RunEventId::HardenIncomplete,
       EventType::Error,
       {"Access denied", "Step failed: SetServiceAutoStart MpsSvc: 0x00000005"}},
      {"still open", stillOpen, RunEventId::HardenIncomplete, EventType::Error, {"Not hardened afterwards."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const EventEntry entry = HardenEvent(kOrigin, c.report, VerdictLines(c.report.after));
    ExpectShape(entry, c.id, c.type);
    for (const std::string& part : c.details) EXPECT_TRUE(Has(entry.insertions[2], part)) << entry.insertions[2];
    EXPECT_FALSE(Has(entry.insertions[2], "Forced"));
  }
}

TEST(RunEvents, AForcedRunSaysWhatItWasForcedPast) {
  HardenReport report;
  report.changed = true;
  report.after = After(true);
  const EventEntry entry = HardenEvent(kOrigin, report, VerdictLines(report.after), "domain controller");
  ExpectShape(entry, RunEventId::HardenComplete, EventType::Information);
  EXPECT_EQ(entry.insertions[2].rfind("Forced on a domain controller.\r\n", 0), 0u) << entry.insertions[2];
}

TEST(RunEvents, RefusalCarriesTheRoleLines) {
  const EventEntry entry =
      RefusalEvent(kOrigin, {"This host is a domain controller.", "Shares: NETLOGON, SYSVOL"}, {"Firewall: off"});
  ExpectShape(entry, RunEventId::HardenRefused, EventType::Warning);
  EXPECT_EQ(entry.insertions[2], "This host is a domain controller.\r\nShares: NETLOGON, SYSVOL");
  EXPECT_EQ(entry.insertions[3], "Firewall: off");
}

TEST(RunEvents, RestoreOutcomes) {
  RestoreReport restored;
  restored.restorePointFound = true;
  restored.changed = true;
  restored.rulesRemoved = 12;
  restored.servicesStopped = {"MpsSvc"};
  restored.after = After(false);
  RestoreReport nothing;
  nothing.after = After(false);
  RestoreReport failed;
  failed.restorePointFound = true;
  failed.failedSteps = {{"RemoveRules", 0x80070005u, {}}};
  failed.accessDenied = true;
  failed.after = After(true);

  const EventEntry r = RestoreEvent(kOrigin, restored);
  ExpectShape(r, RunEventId::Restored, EventType::Information);
  EXPECT_EQ(r.insertions[2], "Rules removed: 12; services stopped: MpsSvc");
  ExpectShape(RestoreEvent(kOrigin, nothing), RunEventId::NothingToRestore, EventType::Information);
  const EventEntry f = RestoreEvent(kOrigin, failed);
  ExpectShape(f, RunEventId::RestoreIncomplete, EventType::Error);
  EXPECT_TRUE(Has(f.insertions[2], "Step failed: RemoveRules: 0x80070005"));
  EXPECT_TRUE(Has(f.insertions[2], "Access denied"));
  // A restore that left something different, or found its restore point
  // unusable, is no restore.
  RestoreReport differs = restored;
  differs.differences = {"rule @QXRuleOptions.exe, TCP-445"};
  differs.restorePointKept = true;
  const EventEntry d = RestoreEvent(kOrigin, differs);
  ExpectShape(d, RunEventId::RestoreIncomplete, EventType::Error);
  EXPECT_TRUE(Has(d.insertions[2], "Still differs: rule @QXRuleOptions.exe, TCP-445"));
  RestoreReport damaged = nothing;
  damaged.restorePointFound = true;
  damaged.restorePointProblem = "Version: 3";
  const EventEntry u = RestoreEvent(kOrigin, damaged);
  ExpectShape(u, RunEventId::RestoreIncomplete, EventType::Error);
  EXPECT_TRUE(Has(u.insertions[2], "Version: 3"));
}

TEST(RunEvents, VerdictsNameEachPortAndTheFirewall) {
  StatusReport status = After(false);
  status.ports[0].udpBlocked = true;
  status.ports[1] = {135, true, true, std::nullopt, std::nullopt, {}, {}};
  const std::vector<std::string> lines = VerdictLines(status);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], "Firewall: off");
  EXPECT_EQ(lines[1], "Port 445: TCP allowed, UDP blocked");
  EXPECT_EQ(lines[2], "Port 135: blocked");
  EXPECT_EQ(lines[3], "Port 136: allowed");

  PanelReading reading;
  reading.firewallOn = true;
  reading.portBlocked = {true, true, false, true, true, true};
  const std::vector<std::string> legacy = VerdictLines(3, reading);  // netsh path: 136 is not closed
  ASSERT_EQ(legacy.size(), 7u);
  EXPECT_EQ(legacy[0], "Firewall: on");
  EXPECT_EQ(legacy[1], "Port 445: blocked");
  EXPECT_EQ(legacy[3], "Port 136: allowed (not closed on this host class)");
  EXPECT_EQ(VerdictLines(5, reading)[3], "Port 136: allowed");
}

TEST(RunEvents, HostNames) {
  EXPECT_EQ(HostNameForEvent("WIN2003", 3), "WIN2003 class 3");
  EXPECT_EQ(HostNameForEvent("", 0), "unknown host class 0");
}

}  // namespace
}  // namespace qf::hardening
