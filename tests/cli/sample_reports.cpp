#include "sample_reports.h"

#include "hardening/host_access.h"

#include "cli/cli_output.h"

namespace qf::cli::samples {

using namespace hardening;

namespace {

constexpr long kPorts[] = {445, 135, 136, 137, 138, 139};

std::vector<ProfileReport> Profiles(std::optional<bool> domain, std::optional<bool> priv, std::optional<bool> pub) {
  return {{"domain", domain, false}, {"private", priv, false}, {"public", pub, true}};
}

}  // namespace

StatusReport AdvancedHardened() {
  StatusReport r;
  r.hostLabel = "WIN7X64";
  r.hostClass = 5;
  r.path = FirewallPath::Advanced;
  r.firewallOn = true;
  r.profiles = Profiles(true, true, true);
  r.services = {{"MpsSvc", true, 2u, 4u}};
  for (long port : kPorts) {
    const std::string rule = "\"@QXRuleOptions.exe, TCP-" + std::to_string(port) + "\"";
    r.ports.push_back({port, true, true, 2, std::nullopt, "blocked by local rule " + rule,
                       "blocked by local rule \"@QXRuleOptions.exe, UDP-" + std::to_string(port) + "\""});
  }
  r.quillfortRules = 12;
  r.hardened = true;
  r.role = {host::ProductType::Workstation, std::vector<std::string>{}, 0};
  return r;
}

StatusReport AdvancedExposed() {
  StatusReport r;
  r.hostLabel = "WIN7X64";
  r.hostClass = 5;
  r.path = FirewallPath::Advanced;
  r.firewallOn = false;
  r.profiles = Profiles(std::nullopt, false, false);
  r.services = {{"MpsSvc", true, 3u, 1u}};
  for (long port : kPorts)
    r.ports.push_back({port, false, false, 0, std::nullopt, "profile public off", "profile public off"});
  r.ports[0].udpBlocked = true;  // one UDP rule left by someone else
  r.ports[0].blockRules = 1;
  r.ports[0].udpReason = "blocked by local rule \"Backup block UDP 445\"";
  r.quillfortRules = 0;
  r.hardened = false;
  r.role = {host::ProductType::Workstation, std::vector<std::string>{}, 0};
  return r;
}

StatusReport LegacyHardened() {
  StatusReport r;
  r.hostLabel = "WIN2003";
  r.hostClass = 3;
  r.path = FirewallPath::Legacy;
  r.firewallOn = true;
  r.services = {{"SharedAccess", true, 2u, 4u}};
  for (long port : kPorts) {
    r.ports.push_back(
        {port, true, true, std::nullopt, false, "blocked: no exception opens it", "blocked: no exception opens it"});
  }
  // netsh has no line for 136
  r.ports[2] = {136, false, false, std::nullopt, true, "port opening \"136:TCP\"", "port opening \"136:UDP\""};
  r.hardened = true;
  r.role = {host::ProductType::Server, std::vector<std::string>{}, 0};
  return r;
}

StatusReport LegacyUnknown() {
  StatusReport r;
  r.hostClass = 0;
  r.path = FirewallPath::Legacy;
  r.firewallOn = false;
  r.services = {{"SharedAccess", false, std::nullopt, std::nullopt}};
  for (long port : kPorts) {
    r.ports.push_back(
        {port, false, false, std::nullopt, std::nullopt, "firewall service stopped", "firewall service stopped"});
  }
  r.causes = {"The firewall service is not running"};
  r.hardened = false;
  r.role = {host::ProductType::Unknown, std::nullopt, 50};  // NetShareEnum: ERROR_NOT_SUPPORTED
  return r;
}

StatusReport DomainControllerExposed() {
  StatusReport r = LegacyHardened();
  r.hostLabel = "WIN2003";
  r.firewallOn = false;
  for (PortReport& port : r.ports)
    port = {port.port, false, false, std::nullopt, true, "profile domain off", "profile domain off"};
  r.hardened = false;
  r.role = {host::ProductType::DomainController, std::vector<std::string>{"NETLOGON", "SYSVOL"}, 0};
  return r;
}

FailedStep AwkwardFailedStep() {
  return {"AddBlockRule TCP 445",
          0x80004005u,
          {"Rules->Add failed: 0x80070005\n", "name \"@QXRuleOptions.exe, TCP-445\" path C:\\Windows\\system32",
           std::string("bell\a tab\t nul") + '\0' + " end\r\n", "cp936 \xB7\xC0\xBB\xF0\xC7\xBD and a cut \xE6\x97"}};
}

hardening::WhatIfReport AdvancedWhatIf() {
  hardening::WhatIfReport report;
  report.host = AdvancedExposed();
  hardening::HardeningPreview& plan = report.plan;
  plan.hostClass = report.host.hostClass;
  plan.services = {{"MpsSvc", false, 3u, true}, {"MpsSvc", true, std::nullopt, true}};
  plan.switches = {{"Public", false}, {"Private", false}};
  plan.rulesToAdd = {*firewall::IntendedBlockRule(6, L"445"), *firewall::IntendedBlockRule(17, L"445")};
  plan.rulesAlreadyPresent = 10;
  plan.restorePoint = hardening::RestorePointWrite::Save;
  plan.restorePointParts = hardening::kServicesPart | hardening::kAdvancedPart;
  return report;
}

std::vector<NamedJson> ValidJsonSamples() {
  std::vector<NamedJson> out;
  out.push_back({"status-advanced-hardened", StatusJson(AdvancedHardened())});
  out.push_back({"status-advanced-exposed", StatusJson(AdvancedExposed())});
  out.push_back({"status-legacy-hardened", StatusJson(LegacyHardened())});
  out.push_back({"status-legacy-unknown", StatusJson(LegacyUnknown())});

  HardenReport changed;
  changed.changed = true;
  changed.restorePointSaved = true;
  changed.rulesAdded = 12;
  changed.after = AdvancedHardened();
  out.push_back({"harden-changed", HardenJson(changed)});

  out.push_back({"harden-what-if", WhatIfJson(AdvancedWhatIf())});
  hardening::WhatIfReport legacyPlan;
  legacyPlan.host = LegacyUnknown();
  legacyPlan.refused = true;
  legacyPlan.plan.commands = {{"netsh firewall set opmode enable", false}};
  legacyPlan.plan.unread = {{"ReadLegacyFirewall", 0x80070005u}};
  legacyPlan.plan.restorePointExists = true;
  legacyPlan.plan.restorePoint = hardening::RestorePointWrite::Refused;
  legacyPlan.plan.restorePointProblem = "Version: 3, not 2";
  out.push_back({"harden-what-if-legacy", WhatIfJson(legacyPlan)});

  HardenReport unchanged;
  unchanged.rulesAlreadyPresent = 12;
  unchanged.after = AdvancedHardened();
  out.push_back({"harden-unchanged", HardenJson(unchanged)});

  HardenReport failed;
  failed.changed = true;
  failed.rulesAdded = 2;
  failed.failedSteps = {AwkwardFailedStep(), {"StartServiceAndWait MpsSvc", 0x41Du, {}}};
  failed.stillExposed = {"firewall off", "port 445"};
  failed.after = AdvancedExposed();
  out.push_back({"harden-failed", HardenJson(failed)});

  HardenReport legacyFailed;
  legacyFailed.changed = true;
  legacyFailed.failedSteps = {{"RunCommandHidden netsh firewall set portopening TCP 445", 1u, {}}};
  legacyFailed.stillExposed = {"port 445"};
  legacyFailed.after = LegacyUnknown();
  out.push_back({"harden-legacy-failed", HardenJson(legacyFailed)});

  HardenReport denied;
  denied.accessDenied = true;
  denied.failedSteps = {{"SetServiceAutoStart MpsSvc", 5u, {"OpenServiceA: access denied"}}};
  denied.stillExposed = {"firewall off"};
  denied.after = AdvancedExposed();
  out.push_back({"harden-access-denied", HardenJson(denied)});

  HardenReport refused;
  refused.refused = true;
  refused.after = DomainControllerExposed();
  out.push_back({"harden-refused", HardenJson(refused)});
  out.push_back({"status-domain-controller", StatusJson(DomainControllerExposed())});

  RestoreReport restored;
  restored.restorePointFound = true;
  restored.changed = true;
  restored.rulesRemoved = 12;
  restored.servicesStopped = {"MpsSvc"};
  restored.after = AdvancedExposed();
  out.push_back({"restore-restored", RestoreJson(restored)});

  RestoreReport none;
  none.after = LegacyUnknown();
  out.push_back({"restore-no-restore-point", RestoreJson(none)});

  RestoreReport restoreFailed;
  restoreFailed.restorePointFound = true;
  restoreFailed.changed = true;
  restoreFailed.rulesRemoved = 6;
  restoreFailed.failedSteps = {AwkwardFailedStep()};
  restoreFailed.after = LegacyHardened();
  out.push_back({"restore-failed", RestoreJson(restoreFailed)});

  RestoreReport restoreDenied;
  restoreDenied.restorePointFound = true;
  restoreDenied.accessDenied = true;
  restoreDenied.failedSteps = {{"RemoveRules", 0x80070005u, {}}};
  restoreDenied.after = AdvancedHardened();
  out.push_back({"restore-access-denied", RestoreJson(restoreDenied)});
  return out;
}

}  // namespace qf::cli::samples
