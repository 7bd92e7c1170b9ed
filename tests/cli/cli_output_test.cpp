// Text and JSON renderings: the lines people read, the last line systems keep,
// and JSON that stays valid whatever the host wrote into a diagnostic.
#include "cli/cli_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/text_safety.h"
#include "sample_reports.h"

namespace qf::cli {
namespace {

using hardening::HardenReport;
using hardening::RestoreReport;
using hardening::StatusReport;

std::vector<std::string> Lines(const std::string& text) {
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n') << "every rendering ends with a newline";
  EXPECT_EQ(ValidUtf8(text), text) << "every rendering is valid UTF-8";
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

std::string LastLine(const std::string& text) {
  const auto lines = Lines(text);
  return lines.empty() ? std::string() : lines.back();
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(CliStatusText, AdvancedHostShowsProfilesServicePortsAndRules) {
  EXPECT_EQ(
      StatusText(samples::AdvancedHardened()),
      "Host: WIN7X64 class 5\n"
      "Firewall: on (advanced policy)\n"
      "  domain profile: on\n"
      "  private profile: on\n"
      "  public profile: on (in force)\n"
      "Service MpsSvc: automatic, running\n"
      "Port 445: TCP blocked, UDP blocked, 2 block rules (TCP: blocked by local rule \"@QXRuleOptions.exe, TCP-445\"; "
      "UDP: blocked by local rule \"@QXRuleOptions.exe, UDP-445\")\n"
      "Port 135: TCP blocked, UDP blocked, 2 block rules (TCP: blocked by local rule \"@QXRuleOptions.exe, TCP-135\"; "
      "UDP: blocked by local rule \"@QXRuleOptions.exe, UDP-135\")\n"
      "Port 136: TCP blocked, UDP blocked, 2 block rules (TCP: blocked by local rule \"@QXRuleOptions.exe, TCP-136\"; "
      "UDP: blocked by local rule \"@QXRuleOptions.exe, UDP-136\")\n"
      "Port 137: TCP blocked, UDP blocked, 2 block rules (TCP: blocked by local rule \"@QXRuleOptions.exe, TCP-137\"; "
      "UDP: blocked by local rule \"@QXRuleOptions.exe, UDP-137\")\n"
      "Port 138: TCP blocked, UDP blocked, 2 block rules (TCP: blocked by local rule \"@QXRuleOptions.exe, TCP-138\"; "
      "UDP: blocked by local rule \"@QXRuleOptions.exe, UDP-138\")\n"
      "Port 139: TCP blocked, UDP blocked, 2 block rules (TCP: blocked by local rule \"@QXRuleOptions.exe, TCP-139\"; "
      "UDP: blocked by local rule \"@QXRuleOptions.exe, UDP-139\")\n"
      "Quillfort rules: 12\n"
      "Role: workstation\n"
      "Shares: none\n"
      "hardened: yes\n");
  const std::string exposed = StatusText(samples::AdvancedExposed());
  EXPECT_TRUE(Has(exposed, "Firewall: off (advanced policy)\n  domain profile: unknown\n  private profile: off\n"));
  EXPECT_TRUE(Has(exposed, "Service MpsSvc: manual, stopped\n"));
  EXPECT_TRUE(Has(exposed,
                  "Port 445: TCP allowed, UDP blocked, 1 block rule (TCP: profile public off; UDP: blocked by local "
                  "rule \"Backup block UDP 445\")\n"));
  EXPECT_TRUE(Has(exposed,
                  "Port 139: TCP allowed, UDP allowed, 0 block rules (TCP: profile public off; UDP: profile "
                  "public off)\n"));
  EXPECT_EQ(LastLine(exposed), "hardened: no");
}

TEST(CliStatusText, LegacyHostShowsOnOffAndOpenings) {
  const std::string text = StatusText(samples::LegacyHardened());
  EXPECT_TRUE(
      Has(text, "Host: WIN2003 class 3\nFirewall: on (legacy profile)\nService SharedAccess: automatic, running\n"));
  EXPECT_TRUE(Has(text,
                  "Port 445: TCP blocked, UDP blocked, no opening enabled (TCP: blocked: no exception opens it; UDP: "
                  "blocked: no exception opens it)\n"));
  EXPECT_TRUE(Has(text,
                  "Port 136: TCP allowed, UDP allowed, opening enabled (TCP: port opening \"136:TCP\"; UDP: port "
                  "opening \"136:UDP\")\n"));
  EXPECT_FALSE(Has(text, "profile:")) << "no per-profile lines on the legacy path";
  EXPECT_FALSE(Has(text, "block rule"));
  EXPECT_EQ(LastLine(text), "hardened: yes");

  const std::string unknown = StatusText(samples::LegacyUnknown());
  EXPECT_TRUE(Has(unknown, "Host: unknown host class 0\nFirewall: off (legacy profile)\n"));
  EXPECT_TRUE(Has(unknown, "Service SharedAccess: not installed\n"));
  EXPECT_TRUE(Has(unknown,
                  "Port 137: TCP allowed, UDP allowed, opening unknown (TCP: firewall service stopped; UDP: firewall "
                  "service stopped)\n"));
  // Causes come last, just above the verdict they explain.
  EXPECT_TRUE(Has(unknown,
                  "Quillfort rules: 0\nRole: unknown\nShares: unknown (error 50)\nThe firewall service is not "
                  "running\nhardened: no\n"));
}

TEST(CliStatusText, ServiceWordsAndUnreadableValues) {
  const char* starts[] = {"boot", "system", "automatic", "manual", "disabled"};
  for (std::uint32_t i = 0; i < 5; ++i) EXPECT_EQ(StartTypeWord(i), starts[i]);
  EXPECT_EQ(StartTypeWord(9), "start type 9");
  const char* states[] = {"stopped",          "start pending", "stop pending", "running",
                          "continue pending", "pause pending", "paused"};
  for (std::uint32_t i = 0; i < 7; ++i) EXPECT_EQ(ServiceStateWord(i + 1), states[i]);
  EXPECT_EQ(ServiceStateWord(0), "state 0");

  StatusReport report = samples::AdvancedExposed();
  report.services = {{"MpsSvc", true, std::nullopt, 2u}};
  report.ports[1].blockRules.reset();
  const std::string text = StatusText(report);
  EXPECT_TRUE(Has(text, "Service MpsSvc: start type unknown, start pending\n"));
  EXPECT_TRUE(Has(text,
                  "Port 135: TCP allowed, UDP allowed, block rules unknown (TCP: profile public off; UDP: profile "
                  "public off)\n"));
}

TEST(CliHardenText, SummaryLineForEveryOutcome) {
  HardenReport report;
  report.changed = true;
  report.restorePointSaved = true;
  report.rulesAdded = 12;
  report.after = samples::AdvancedHardened();
  std::string text = HardenText(report);
  EXPECT_TRUE(
      Has(text, "Restore point saved\nRules added: 12, already present: 0\nAfter the run:\n  Host: WIN7X64 class 5\n"));
  EXPECT_TRUE(Has(text, "\n  hardened") == false) << "the after block carries no summary of its own";
  EXPECT_EQ(LastLine(text), "harden: changed, hardened");

  report.changed = false;
  report.restorePointSaved = false;
  report.rulesAdded = 0;
  report.rulesAlreadyPresent = 12;
  text = HardenText(report);
  EXPECT_FALSE(Has(text, "Restore point saved"));
  EXPECT_TRUE(Has(text, "Rules added: 0, already present: 12\n"));
  EXPECT_EQ(LastLine(text), "harden: unchanged, already hardened");

  HardenReport exposed = report;
  exposed.changed = true;
  exposed.after = samples::AdvancedExposed();
  exposed.stillExposed = {"firewall off", "port 445"};
  text = HardenText(exposed);
  EXPECT_TRUE(Has(text, "Still exposed: firewall off\nStill exposed: port 445\n"));
  EXPECT_EQ(LastLine(text), "harden: FAILED, still exposed: firewall off, port 445");

  exposed.stillExposed.clear();
  EXPECT_EQ(LastLine(HardenText(exposed)), "harden: FAILED, not hardened afterwards");

  HardenReport failed = exposed;
  failed.failedSteps = {{"AddBlockRule TCP 445", 0x80004005u, {}}, {"AddBlockRule UDP 445", 0x80004005u, {}}};
  text = HardenText(failed);
  EXPECT_TRUE(
      Has(text, "Step failed: AddBlockRule TCP 445: 0x80004005\nStep failed: AddBlockRule UDP 445: 0x80004005\n"));
  EXPECT_EQ(LastLine(text), "harden: FAILED at AddBlockRule TCP 445 (0x80004005)") << "the first failure";

  failed.accessDenied = true;
  EXPECT_EQ(LastLine(HardenText(failed)),
            "harden: access denied; run quillfort-cli from an elevated prompt (as administrator)");
}

TEST(CliStatusText, RoleAndSharesAsTheHostAnswered) {
  EXPECT_TRUE(Has(StatusText(samples::DomainControllerExposed()),
                  "Quillfort rules: 0\nRole: domain controller\nShares: NETLOGON, SYSVOL\nhardened: no\n"));
  EXPECT_TRUE(Has(StatusText(samples::LegacyUnknown()), "Role: unknown\nShares: unknown (error 50)\n"));
  hardening::StatusReport odd = samples::LegacyHardened();
  odd.role.shares = std::vector<std::string>{"a\nb"};
  EXPECT_TRUE(Has(StatusText(odd), "Role: server\nShares: a\\x0Ab\n")) << "a share name cannot add a line";
}

TEST(CliHardenText, ARefusalNamesTheRoleAndSharesAndNothingElse) {
  HardenReport refused;
  refused.refused = true;
  refused.after = samples::DomainControllerExposed();
  const std::string text = HardenText(refused);
  EXPECT_EQ(text.rfind("This host is a domain controller and file and print server.\n", 0), 0u) << text;
  EXPECT_TRUE(Has(text, "Shares: NETLOGON, SYSVOL\n"));
  EXPECT_TRUE(Has(text, "--force"));
  EXPECT_FALSE(Has(text, "After the run")) << "nothing ran";
  EXPECT_EQ(LastLine(text), "harden: REFUSED on a domain controller and file and print server; nothing changed");

  const std::string json = HardenJson(refused);
  EXPECT_TRUE(Has(json, "\"refused\": true,"));
  EXPECT_TRUE(
      Has(json,
          "\"role\": {\n      \"productType\": \"domain controller\",\n      \"domainController\": true,\n"
          "      \"shares\": [\n        \"NETLOGON\",\n        \"SYSVOL\"\n      ],\n      \"sharesError\": null,\n"
          "      \"servesGuardedPorts\": true\n    }"))
      << json;
}

TEST(CliHardenText, DiagnosticsAreIndentedUnderTheirStepAndCannotAddLines) {
  HardenReport report;
  report.failedSteps = {samples::AwkwardFailedStep(), {"StartServiceAndWait MpsSvc", 0x41Du, {}}};
  report.after = samples::AdvancedExposed();
  const std::string text = HardenText(report);
  EXPECT_TRUE(Has(text,
                  "Step failed: AddBlockRule TCP 445: 0x80004005\n"
                  "    Rules->Add failed: 0x80070005\n"
                  "    name \"@QXRuleOptions.exe, TCP-445\" path C:\\Windows\\system32\n"
                  "    bell\\x07 tab\\x09 nul\\x00 end\n"
                  "    cp936 \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xC7\xBD and a cut \xEF\xBF\xBD\n"
                  "Step failed: StartServiceAndWait MpsSvc: 0x0000041D\n"))
      << text;
  EXPECT_EQ(LastLine(text), "harden: FAILED at AddBlockRule TCP 445 (0x80004005)");

  // A step name with a line break still leaves the summary as the last line.
  report.failedSteps = {{"Evil\nharden: changed, hardened", 1u, {}}};
  EXPECT_EQ(LastLine(HardenText(report)), "harden: FAILED at Evil\\x0Aharden: changed, hardened (0x00000001)");
}

TEST(CliRestoreText, SummaryLineForEveryOutcome) {
  RestoreReport none;
  const std::string nothing = RestoreText(none);
  EXPECT_EQ(nothing, "restore: nothing to restore (no restore point)\n");

  RestoreReport restored;
  restored.restorePointFound = true;
  restored.changed = true;
  restored.rulesRemoved = 12;
  restored.servicesStopped = {"MpsSvc"};
  restored.after = samples::AdvancedExposed();
  std::string text = RestoreText(restored);
  EXPECT_TRUE(Has(text, "Rules removed: 12\nServices stopped: MpsSvc\nAfter the restore:\n  Host: WIN7X64"));
  EXPECT_EQ(LastLine(text), "restore: restored");

  restored.servicesStopped.clear();
  restored.changed = false;
  text = RestoreText(restored);
  EXPECT_TRUE(Has(text, "Services stopped: none\n"));
  EXPECT_EQ(LastLine(text), "restore: restored, nothing needed changing");

  RestoreReport failed = restored;
  failed.failedSteps = {{"SetServiceStartType MpsSvc", 0x424u, {"OpenServiceA failed"}}};
  text = RestoreText(failed);
  EXPECT_TRUE(Has(text, "Step failed: SetServiceStartType MpsSvc: 0x00000424\n    OpenServiceA failed\n"));
  EXPECT_EQ(LastLine(text), "restore: FAILED at SetServiceStartType MpsSvc (0x00000424)");

  failed.accessDenied = true;
  EXPECT_EQ(LastLine(RestoreText(failed)),
            "restore: access denied; run quillfort-cli from an elevated prompt (as administrator)");
}

TEST(CliCheckLine, OneLineOnlyWhenHardened) {
  EXPECT_EQ(CheckLine(samples::AdvancedHardened()), "hardened: WIN7X64 class 5, firewall on, 6 ports blocked\n");
  EXPECT_EQ(CheckLine(samples::LegacyHardened()), "hardened: WIN2003 class 3, firewall on, 5 ports blocked\n");
  EXPECT_EQ(CheckLine(samples::AdvancedExposed()), "");
  EXPECT_EQ(CheckLine(samples::LegacyUnknown()), "");
  StatusReport one = samples::LegacyHardened();
  one.ports.resize(1);
  EXPECT_EQ(CheckLine(one), "hardened: WIN2003 class 3, firewall on, 1 port blocked\n");
}

TEST(CliUsage, HelpNamesEveryCommandOptionAndExitCode) {
  const std::string text = UsageText();
  Lines(text);
  for (const char* part : {"  status ", "  harden ", "  restore ", "  check ", "  help ", "--json", "--log FILE",
                           "--help, -h, /?", "--force", "  0 ", "  1 ", "  2 ", "  3 ", "  4 ", "  64 "}) {
    EXPECT_TRUE(Has(text, part)) << part;
  }
  EXPECT_EQ(UsageErrorText("unknown command 'x'"), "quillfort-cli: unknown command 'x'\nTry 'quillfort-cli --help'.\n");
  EXPECT_EQ(UsageErrorText("a\nb"), "quillfort-cli: a\\x0Ab\nTry 'quillfort-cli --help'.\n");
}

TEST(CliJson, StatusFieldsAndNulls) {
  const std::string json = StatusJson(samples::AdvancedExposed());
  Lines(json);
  EXPECT_EQ(json.rfind("{\n  \"command\": \"status\",\n  \"schemaVersion\": 1,\n  \"hardened\": false,\n", 0), 0u)
      << json;
  EXPECT_TRUE(Has(json, "\"label\": \"WIN7X64\",\n    \"class\": 5\n"));
  EXPECT_TRUE(Has(json, "\"path\": \"advanced\",\n    \"on\": false,"));
  EXPECT_TRUE(Has(json, "\"name\": \"domain\",\n        \"on\": null,\n        \"inForce\": false\n"));
  EXPECT_TRUE(Has(json,
                  "\"startType\": \"manual\",\n      \"startTypeCode\": 3,\n      \"state\": \"stopped\",\n      "
                  "\"stateCode\": 1\n"));
  EXPECT_TRUE(Has(json,
                  "\"port\": 445,\n      \"tcpBlocked\": false,\n      \"udpBlocked\": true,\n      \"blockRules\": "
                  "1,\n      \"openingEnabled\": null,\n      \"tcpReason\": \"profile public off\",\n      "
                  "\"udpReason\": \"blocked by local rule \\\"Backup block UDP 445\\\"\"\n"));
  EXPECT_TRUE(Has(json, "\"quillfortRules\": 0,\n  \"role\": {\n    \"productType\": \"workstation\","));
  EXPECT_TRUE(Has(json, "\"servesGuardedPorts\": false\n  },\n  \"causes\": []\n}\n"));

  const std::string unknown = StatusJson(samples::LegacyUnknown());
  EXPECT_TRUE(Has(unknown, "\"label\": null,"));
  EXPECT_TRUE(Has(unknown, "\"profiles\": []"));
  EXPECT_TRUE(Has(unknown,
                  "\"present\": false,\n      \"startType\": null,\n      \"startTypeCode\": null,\n      \"state\": "
                  "null,\n      \"stateCode\": null\n"));
  EXPECT_TRUE(Has(unknown, "\"blockRules\": null,\n      \"openingEnabled\": null,\n"));
  EXPECT_TRUE(Has(unknown,
                  "\"productType\": \"unknown\",\n    \"domainController\": false,\n    \"shares\": null,\n"
                  "    \"sharesError\": 50,\n    \"servesGuardedPorts\": false\n"))
      << unknown;
  EXPECT_TRUE(Has(unknown, "\"causes\": [\n    \"The firewall service is not running\"\n  ]\n"));
}

TEST(CliJson, HardenAndRestoreCarryChangedFailuresAndTheStateAfter) {
  HardenReport report;
  report.changed = false;
  report.rulesAlreadyPresent = 12;
  report.after = samples::AdvancedHardened();
  std::string json = HardenJson(report);
  EXPECT_EQ(
      json.rfind(
          "{\n  \"command\": \"harden\",\n  \"schemaVersion\": 1,\n  \"changed\": false,\n  \"hardened\": true,\n", 0),
      0u)
      << json;
  EXPECT_TRUE(Has(json, "\"failedSteps\": [],\n  \"stillExposed\": [],\n  \"after\": {\n    \"hardened\": true,\n"));

  report.failedSteps = {samples::AwkwardFailedStep()};
  json = HardenJson(report);
  Lines(json);
  EXPECT_TRUE(Has(
      json, "\"step\": \"AddBlockRule TCP 445\",\n      \"code\": 2147500037,\n      \"codeHex\": \"0x80004005\",\n"));
  EXPECT_TRUE(Has(json, "\"Rules->Add failed: 0x80070005\"")) << "a diagnostic's own line end is not content";
  EXPECT_TRUE(Has(json, "\"name \\\"@QXRuleOptions.exe, TCP-445\\\" path C:\\\\Windows\\\\system32\""));
  EXPECT_TRUE(Has(json, "\"bell\\u0007 tab\\u0009 nul\\u0000 end\""));
  EXPECT_TRUE(Has(json, "\"cp936 \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xC7\xBD and a cut \xEF\xBF\xBD\""));

  RestoreReport none;
  none.after = samples::LegacyUnknown();
  json = RestoreJson(none);
  EXPECT_EQ(json.rfind("{\n  \"command\": \"restore\",\n  \"schemaVersion\": 1,\n  \"changed\": false,\n  "
                       "\"restorePointFound\": false,\n",
                       0),
            0u)
      << json;
  RestoreReport restored;
  restored.restorePointFound = true;
  restored.changed = true;
  restored.servicesStopped = {"MpsSvc", "Shared\"Access"};
  json = RestoreJson(restored);
  EXPECT_TRUE(Has(json, "\"changed\": true,"));
  EXPECT_TRUE(Has(json, "\"servicesStopped\": [\n    \"MpsSvc\",\n    \"Shared\\\"Access\"\n  ],"));
}

TEST(CliJson, EverySampleIsOneObjectOfValidUtf8) {
  for (const auto& sample : samples::ValidJsonSamples()) {
    const auto lines = Lines(sample.json);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "{") << sample.name;
    EXPECT_EQ(lines.back(), "}") << sample.name;
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
      EXPECT_EQ(lines[i].rfind("  ", 0), 0u) << sample.name << ": nothing outside the one object";
    }
  }
}

}  // namespace
}  // namespace qf::cli
