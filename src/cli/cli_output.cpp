#include "cli/cli_output.h"

#include <cstdio>
#include <vector>

#include "cli/cli_exit_codes.h"
#include "cli/json_writer.h"
#include "cli/text_safety.h"

namespace qf::cli {

using hardening::FailedStep;
using hardening::FirewallPath;
using hardening::HardenReport;
using hardening::PortReport;
using hardening::RestoreReport;
using hardening::ServiceReport;
using hardening::StatusReport;
using hardening::WhatIfReport;

namespace {

constexpr const char* kElevate = "access denied; run quillfort-cli from an elevated prompt (as administrator)";

std::string Hex(std::uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

std::string OnOff(bool on) { return on ? "on" : "off"; }

std::string HostText(const StatusReport& report) {
  const std::string label = report.hostLabel.empty() ? "unknown host" : PrintableLine(report.hostLabel);
  return label + " class " + std::to_string(report.hostClass);
}

std::string Plural(long long count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

int PortsBlocked(const StatusReport& report) {
  int blocked = 0;
  for (const PortReport& port : report.ports) {
    if (port.tcpBlocked && port.udpBlocked) ++blocked;
  }
  return blocked;
}

std::string ServiceLine(const ServiceReport& service) {
  std::string line = "Service " + PrintableLine(service.name) + ": ";
  if (!service.present) return line + "not installed";
  line += service.startType ? StartTypeWord(*service.startType) : "start type unknown";
  line += ", ";
  line += service.state ? ServiceStateWord(*service.state) : "state unknown";
  return line;
}

std::string PortLine(const StatusReport& report, const PortReport& port) {
  auto blocked = [](bool b) { return b ? "blocked" : "allowed"; };
  std::string line =
      "Port " + std::to_string(port.port) + ": TCP " + blocked(port.tcpBlocked) + ", UDP " + blocked(port.udpBlocked);
  if (report.path == FirewallPath::Advanced || port.blockRules) {
    line += ", " + (port.blockRules ? Plural(*port.blockRules, "block rule", "block rules") : "block rules unknown");
  }
  if (report.path == FirewallPath::Legacy || port.openingEnabled) {
    line += port.openingEnabled ? (*port.openingEnabled ? ", opening enabled" : ", no opening enabled")
                                : ", opening unknown";
  }
  if (!port.tcpReason.empty() || !port.udpReason.empty()) {
    line += " (TCP: " + PrintableLine(port.tcpReason) + "; UDP: " + PrintableLine(port.udpReason) + ")";
  }
  return line;
}

template <typename Add>
void RoleLines(const host::HostRole& role, Add& add) {
  add(std::string("Role: ") + host::ProductTypeWord(role.productType));
  add("Shares: " + PrintableLine(host::SharesText(role)));
}

// The status lines without the summary, each with the given indent.
void StatusLines(const StatusReport& report, const std::string& indent, std::string& out) {
  auto add = [&](const std::string& line) { out += indent + line + "\n"; };
  add("Host: " + HostText(report));
  if (report.path == FirewallPath::Advanced) {
    add("Firewall: " + OnOff(report.firewallOn) + " (advanced policy)");
    for (const auto& profile : report.profiles) {
      std::string line =
          "  " + PrintableLine(profile.name) + " profile: " + (profile.on ? OnOff(*profile.on) : "unknown");
      if (profile.inForce) line += " (in force)";
      add(line);
    }
  } else {
    add("Firewall: " + OnOff(report.firewallOn) + " (legacy profile)");
  }
  for (const ServiceReport& service : report.services) add(ServiceLine(service));
  for (const PortReport& port : report.ports) add(PortLine(report, port));
  add("Quillfort rules: " + std::to_string(report.quillfortRules));
  RoleLines(report.role, add);
  for (const std::string& cause : report.causes) add(PrintableLine(cause));
}

// The firewall and service code write whole lines; their line ends are not content.
std::string_view WithoutLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

void FailedStepLines(const std::vector<FailedStep>& steps, std::string& out) {
  for (const FailedStep& step : steps) {
    out += "Step failed: " + PrintableLine(step.step) + ": " + Hex(step.code) + "\n";
    for (const std::string& diagnostic : step.diagnostics) {
      out += "    " + PrintableLine(WithoutLineEnd(diagnostic)) + "\n";
    }
  }
}

std::string Joined(const std::vector<std::string>& items) {
  std::string joined;
  for (const std::string& item : items) {
    if (!joined.empty()) joined += ", ";
    joined += PrintableLine(item);
  }
  return joined;
}

std::string FailedAt(const FailedStep& step) {
  return "FAILED at " + PrintableLine(step.step) + " (" + Hex(step.code) + ")";
}

void StringArray(const std::vector<std::string>& items, JsonWriter& json);

// The status fields, shared by status and the "after" of harden and restore.
void StatusMembers(const StatusReport& report, JsonWriter& json) {
  json.Key("hardened");
  json.Bool(report.hardened);
  json.Key("host");
  json.BeginObject();
  json.Key("label");
  report.hostLabel.empty() ? json.Null() : json.String(report.hostLabel);
  json.Key("class");
  json.Int(report.hostClass);
  json.EndObject();
  json.Key("firewall");
  json.BeginObject();
  json.Key("path");
  json.String(report.path == FirewallPath::Advanced ? "advanced" : "legacy");
  json.Key("on");
  json.Bool(report.firewallOn);
  json.Key("profiles");
  json.BeginArray();
  for (const auto& profile : report.profiles) {
    json.BeginObject();
    json.Key("name");
    json.String(profile.name);
    json.Key("on");
    json.BoolOrNull(profile.on);
    json.Key("inForce");
    json.Bool(profile.inForce);
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  json.Key("services");
  json.BeginArray();
  for (const ServiceReport& service : report.services) {
    json.BeginObject();
    json.Key("name");
    json.String(service.name);
    json.Key("present");
    json.Bool(service.present);
    json.Key("startType");
    service.startType ? json.String(StartTypeWord(*service.startType)) : json.Null();
    json.Key("startTypeCode");
    json.IntOrNull(service.startType);
    json.Key("state");
    service.state ? json.String(ServiceStateWord(*service.state)) : json.Null();
    json.Key("stateCode");
    json.IntOrNull(service.state);
    json.EndObject();
  }
  json.EndArray();
  json.Key("ports");
  json.BeginArray();
  for (const PortReport& port : report.ports) {
    json.BeginObject();
    json.Key("port");
    json.Int(port.port);
    json.Key("tcpBlocked");
    json.Bool(port.tcpBlocked);
    json.Key("udpBlocked");
    json.Bool(port.udpBlocked);
    json.Key("blockRules");
    json.IntOrNull(port.blockRules);
    json.Key("openingEnabled");
    json.BoolOrNull(port.openingEnabled);
    json.Key("tcpReason");
    json.String(port.tcpReason);
    json.Key("udpReason");
    json.String(port.udpReason);
    json.EndObject();
  }
  json.EndArray();
  json.Key("quillfortRules");
  json.Int(report.quillfortRules);
  json.Key("role");
  json.BeginObject();
  json.Key("productType");
  json.String(host::ProductTypeWord(report.role.productType));
  json.Key("domainController");
  json.Bool(report.role.DomainController());
  json.Key("shares");
  if (report.role.shares) {
    StringArray(*report.role.shares, json);
  } else {
    json.Null();
  }
  json.Key("sharesError");
  report.role.shares ? json.Null() : json.Int(report.role.sharesError);
  json.Key("servesGuardedPorts");
  json.Bool(report.role.ServesGuardedPorts());
  json.EndObject();
  json.Key("causes");
  json.BeginArray();
  for (const std::string& cause : report.causes) json.String(cause);
  json.EndArray();
}

void StatusObject(const StatusReport& report, JsonWriter& json) {
  json.BeginObject();
  StatusMembers(report, json);
  json.EndObject();
}

void Header(const char* command, JsonWriter& json) {
  json.BeginObject();
  json.Key("command");
  json.String(command);
  json.Key("schemaVersion");
  json.Int(kJsonSchemaVersion);
}

void StringArray(const std::vector<std::string>& items, JsonWriter& json) {
  json.BeginArray();
  for (const std::string& item : items) json.String(item);
  json.EndArray();
}

void FailedStepsArray(const std::vector<FailedStep>& steps, JsonWriter& json) {
  json.BeginArray();
  for (const FailedStep& step : steps) {
    json.BeginObject();
    json.Key("step");
    json.String(step.step);
    json.Key("code");
    json.Int(step.code);
    json.Key("codeHex");
    json.String(Hex(step.code));
    json.Key("diagnostics");
    json.BeginArray();
    for (const std::string& diagnostic : step.diagnostics) json.String(WithoutLineEnd(diagnostic));
    json.EndArray();
    json.EndObject();
  }
  json.EndArray();
}

std::string ProtocolWord(long protocol) {
  return protocol == 6 ? "TCP" : protocol == 17 ? "UDP" : protocol == 256 ? "any" : std::to_string(protocol);
}

std::string ProfilesWord(long profiles) {
  if ((profiles & 7) == 7) return "all";
  std::string words;
  for (std::size_t i = 0; i < hardening::kAdvancedProfiles.size(); ++i) {
    if ((profiles & hardening::kAdvancedProfiles[i]) == 0) continue;
    if (!words.empty()) words += ",";
    words += hardening::AdvancedProfileName(i);
  }
  return words.empty() ? "none" : words;
}

std::string Text(const std::wstring& text) { return PrintableLine(firewall::Utf8Text(text)); }

std::string RuleLine(const firewall::RuleRecord& rule) {
  return "Add rule \"" + Text(rule.name) + "\": " + ProtocolWord(rule.protocol) + " local port " +
         Text(rule.localPorts) + ", remote port " + (rule.remotePorts.empty() ? "*" : Text(rule.remotePorts)) + ", " +
         (rule.direction == 1 ? "inbound" : "outbound") + ", " + (rule.action == 0 ? "block" : "allow") + ", " +
         (rule.enabled ? "enabled" : "disabled") + ", profiles " + ProfilesWord(rule.profiles) + ", local addresses " +
         Text(rule.localAddresses) + ", remote addresses " + Text(rule.remoteAddresses) + ", interfaces " +
         Text(rule.interfaceTypes) + ", group \"" + Text(rule.grouping) + "\", description \"" +
         Text(rule.description) + "\"";
}

std::string ServiceChangeLine(const hardening::PlannedServiceChange& change) {
  std::string line = "Service " + PrintableLine(change.service) + ": ";
  if (!change.present) return line + (change.start ? "start" : "set start type") + " would fail: not installed";
  if (change.start) return line + "start";
  return line + "start type " + (change.fromStartType ? StartTypeWord(*change.fromStartType) : "unknown") +
         " -> automatic";
}

std::string RestorePointWord(hardening::RestorePointWrite write) {
  switch (write) {
    case hardening::RestorePointWrite::Save:
      return "save";
    case hardening::RestorePointWrite::AddParts:
      return "add";
    case hardening::RestorePointWrite::Refused:
      return "unusable";
    default:
      return "none";
  }
}

std::string RestorePointLine(const hardening::HardeningPreview& plan) {
  switch (plan.restorePoint) {
    case hardening::RestorePointWrite::Save:
      return "Restore point: would be saved";
    case hardening::RestorePointWrite::AddParts:
      return "Restore point: exists; would be given the " + Joined(hardening::PartNames(plan.restorePointParts));
    case hardening::RestorePointWrite::Refused:
      return "Restore point: unusable (" + PrintableLine(plan.restorePointProblem) +
             "); the run would change nothing and fail";
    default:
      return plan.restorePointExists ? "Restore point: exists; left as it is" : "Restore point: none written";
  }
}

std::size_t ChangeCount(const hardening::HardeningPreview& plan) {
  std::size_t count = plan.switches.size() + plan.rulesToAdd.size();
  for (const auto& service : plan.services) count += service.present ? 1 : 0;
  for (const auto& command : plan.commands) count += command.changes ? 1 : 0;
  return count;
}

void RuleObject(const firewall::RuleRecord& rule, JsonWriter& json) {
  json.BeginObject();
  json.Key("name");
  json.String(firewall::Utf8Text(rule.name));
  json.Key("description");
  json.String(firewall::Utf8Text(rule.description));
  json.Key("group");
  json.String(firewall::Utf8Text(rule.grouping));
  json.Key("protocol");
  json.Int(rule.protocol);
  json.Key("localPorts");
  json.String(firewall::Utf8Text(rule.localPorts));
  json.Key("remotePorts");
  json.String(firewall::Utf8Text(rule.remotePorts));
  json.Key("localAddresses");
  json.String(firewall::Utf8Text(rule.localAddresses));
  json.Key("remoteAddresses");
  json.String(firewall::Utf8Text(rule.remoteAddresses));
  json.Key("applicationName");
  json.String(firewall::Utf8Text(rule.applicationName));
  json.Key("serviceName");
  json.String(firewall::Utf8Text(rule.serviceName));
  json.Key("interfaceTypes");
  json.String(firewall::Utf8Text(rule.interfaceTypes));
  json.Key("direction");
  json.String(rule.direction == 1 ? "in" : "out");
  json.Key("action");
  json.String(rule.action == 0 ? "block" : "allow");
  json.Key("enabled");
  json.Bool(rule.enabled);
  json.Key("profiles");
  json.Int(rule.profiles);
  json.EndObject();
}

}  // namespace

std::string StartTypeWord(std::uint32_t startType) {
  switch (startType) {
    case 0:
      return "boot";
    case 1:
      return "system";
    case 2:
      return "automatic";
    case 3:
      return "manual";
    case 4:
      return "disabled";
  }
  return "start type " + std::to_string(startType);
}

std::string ServiceStateWord(std::uint32_t state) {
  switch (state) {
    case 1:
      return "stopped";
    case 2:
      return "start pending";
    case 3:
      return "stop pending";
    case 4:
      return "running";
    case 5:
      return "continue pending";
    case 6:
      return "pause pending";
    case 7:
      return "paused";
  }
  return "state " + std::to_string(state);
}

std::string StatusText(const StatusReport& report) {
  std::string out;
  StatusLines(report, "", out);
  out += std::string("hardened: ") + (report.hardened ? "yes" : "no") + "\n";
  return out;
}

std::string HardenText(const HardenReport& report) {
  std::string out;
  if (report.refused) {
    for (const std::string& line : host::RefusalLines(report.after.role)) out += PrintableLine(line) + "\n";
    return out + "harden: REFUSED on a " + host::RoleName(report.after.role) + "; nothing changed\n";
  }
  if (report.restorePointSaved) out += "Restore point saved\n";
  out += "Rules added: " + std::to_string(report.rulesAdded) +
         ", already present: " + std::to_string(report.rulesAlreadyPresent) + "\n";
  FailedStepLines(report.failedSteps, out);
  for (const std::string& item : report.stillExposed) out += "Still exposed: " + PrintableLine(item) + "\n";
  out += "After the run:\n";
  StatusLines(report.after, "  ", out);

  std::string summary = "harden: ";
  if (report.accessDenied) {
    summary += kElevate;
  } else if (!report.failedSteps.empty()) {
    summary += FailedAt(report.failedSteps.front());
  } else if (!report.stillExposed.empty()) {
    summary += "FAILED, still exposed: " + Joined(report.stillExposed);
  } else if (!report.after.hardened) {
    summary += "FAILED, not hardened afterwards";
  } else {
    summary += report.changed ? "changed, hardened" : "unchanged, already hardened";
  }
  return out + summary + "\n";
}

std::string RestoreText(const RestoreReport& report) {
  std::string out;
  if (report.restorePointFound) {
    out += "Rules removed: " + std::to_string(report.rulesRemoved) + "\n";
    out += "Services stopped: " + (report.servicesStopped.empty() ? "none" : Joined(report.servicesStopped)) + "\n";
  }
  if (!report.restorePointProblem.empty()) {
    out += "Restore point unusable, left as it is: " + PrintableLine(report.restorePointProblem) + "\n";
  }
  FailedStepLines(report.failedSteps, out);
  for (const std::string& item : report.differences) out += "Still differs: " + PrintableLine(item) + "\n";
  if (report.restorePointKept) out += "Restore point kept\n";
  if (report.restorePointFound || !report.failedSteps.empty()) {
    out += "After the restore:\n";
    StatusLines(report.after, "  ", out);
  }

  std::string summary = "restore: ";
  if (report.accessDenied) {
    summary += kElevate;
  } else if (!report.failedSteps.empty()) {
    summary += FailedAt(report.failedSteps.front());
  } else if (!report.differences.empty()) {
    summary += "FAILED, still differs: " + Joined(report.differences);
  } else if (!report.restorePointFound) {
    summary += "nothing to restore (no restore point)";
  } else {
    summary += report.changed ? "restored" : "restored, nothing needed changing";
  }
  return out + summary + "\n";
}

std::string WhatIfText(const WhatIfReport& report) {
  std::string out = "What harden would do on " + HostText(report.host) + ":\n";
  if (report.refused) {
    for (const std::string& line : host::RefusalLines(report.host.role)) out += PrintableLine(line) + "\n";
  }
  for (const hardening::UnreadPart& part : report.plan.unread) {
    out += "Cannot read: " + PrintableLine(part.step) + ": " + Hex(part.code) + "\n";
  }
  for (const std::string& part : hardening::PartNames(report.plan.readOnceServiceRuns)) {
    out += "Read once its service runs: " + part + " (planned as holding nothing yet)\n";
  }
  for (const auto& change : report.plan.services) out += ServiceChangeLine(change) + "\n";
  for (const auto& change : report.plan.switches) {
    out += std::string(change.legacy ? "Legacy " : "") + "Profile " + change.profile + ": firewall off -> on\n";
  }
  for (const auto& rule : report.plan.rulesToAdd) out += RuleLine(rule) + "\n";
  if (!report.plan.rulesToAdd.empty() || report.plan.rulesAlreadyPresent > 0) {
    out += "Rules already present: " + std::to_string(report.plan.rulesAlreadyPresent) + "\n";
  }
  for (const auto& command : report.plan.commands) {
    out += "Run: " + PrintableLine(command.commandLine) + (command.changes ? "" : " (changes nothing)") + "\n";
  }
  out += RestorePointLine(report.plan) + "\n";

  std::string summary = "harden --what-if: ";
  const int code = WhatIfExitCode(report);
  if (report.refused) {
    summary += "would REFUSE on a " + host::RoleName(report.host.role) + " (--force to run)";
  } else if (code == kExitNotElevated) {
    summary += kElevate;
  } else if (!report.plan.unread.empty()) {
    summary += "cannot read " + PrintableLine(report.plan.unread.front().step);
  } else if (report.plan.restorePoint == hardening::RestorePointWrite::Refused) {
    summary += "would FAIL at SaveRestorePoint";
  } else if (report.plan.WouldChange()) {
    summary += "would change " + Plural(static_cast<long long>(ChangeCount(report.plan)), "item", "items");
  } else {
    summary += "nothing to change";
  }
  return out + summary + "; nothing changed\n";
}

std::string StatusJson(const StatusReport& report) {
  JsonWriter json;
  Header("status", json);
  StatusMembers(report, json);
  json.EndObject();
  return json.Finish();
}

std::string HardenJson(const HardenReport& report) {
  JsonWriter json;
  Header("harden", json);
  json.Key("changed");
  json.Bool(report.changed);
  json.Key("hardened");
  json.Bool(report.after.hardened);
  json.Key("accessDenied");
  json.Bool(report.accessDenied);
  json.Key("refused");
  json.Bool(report.refused);
  json.Key("restorePointSaved");
  json.Bool(report.restorePointSaved);
  json.Key("rulesAdded");
  json.Int(report.rulesAdded);
  json.Key("rulesAlreadyPresent");
  json.Int(report.rulesAlreadyPresent);
  json.Key("failedSteps");
  FailedStepsArray(report.failedSteps, json);
  json.Key("stillExposed");
  StringArray(report.stillExposed, json);
  json.Key("after");
  StatusObject(report.after, json);
  json.EndObject();
  return json.Finish();
}

std::string RestoreJson(const RestoreReport& report) {
  JsonWriter json;
  Header("restore", json);
  json.Key("changed");
  json.Bool(report.changed);
  json.Key("restorePointFound");
  json.Bool(report.restorePointFound);
  json.Key("accessDenied");
  json.Bool(report.accessDenied);
  json.Key("rulesRemoved");
  json.Int(report.rulesRemoved);
  json.Key("restorePointProblem");
  if (report.restorePointProblem.empty()) {
    json.Null();
  } else {
    json.String(report.restorePointProblem);
  }
  json.Key("restorePointKept");
  json.Bool(report.restorePointKept);
  json.Key("servicesStopped");
  StringArray(report.servicesStopped, json);
  json.Key("failedSteps");
  FailedStepsArray(report.failedSteps, json);
  json.Key("differences");
  StringArray(report.differences, json);
  json.Key("after");
  StatusObject(report.after, json);
  json.EndObject();
  return json.Finish();
}

std::string WhatIfJson(const WhatIfReport& report) {
  const hardening::HardeningPreview& plan = report.plan;
  JsonWriter json;
  Header("harden", json);
  json.Key("whatIf");
  json.Bool(true);
  json.Key("wouldChange");
  json.Bool(plan.WouldChange());
  json.Key("refused");
  json.Bool(report.refused);
  json.Key("unread");
  json.BeginArray();
  for (const hardening::UnreadPart& part : plan.unread) {
    json.BeginObject();
    json.Key("step");
    json.String(part.step);
    json.Key("code");
    json.Int(part.code);
    json.Key("codeHex");
    json.String(Hex(part.code));
    json.EndObject();
  }
  json.EndArray();
  json.Key("readOnceServiceRuns");
  json.BeginArray();
  for (const std::string& part : hardening::PartNames(plan.readOnceServiceRuns)) json.String(part);
  json.EndArray();
  json.Key("services");
  json.BeginArray();
  for (const auto& change : plan.services) {
    json.BeginObject();
    json.Key("name");
    json.String(change.service);
    json.Key("change");
    json.String(change.start ? "start" : "startType");
    json.Key("fromStartType");
    change.fromStartType ? json.String(StartTypeWord(*change.fromStartType)) : json.Null();
    json.Key("present");
    json.Bool(change.present);
    json.EndObject();
  }
  json.EndArray();
  json.Key("profileSwitches");
  json.BeginArray();
  for (const auto& change : plan.switches) {
    json.BeginObject();
    json.Key("profile");
    json.String(change.profile);
    json.Key("legacy");
    json.Bool(change.legacy);
    json.Key("on");
    json.Bool(true);
    json.EndObject();
  }
  json.EndArray();
  json.Key("rulesToAdd");
  json.BeginArray();
  for (const auto& rule : plan.rulesToAdd) RuleObject(rule, json);
  json.EndArray();
  json.Key("rulesAlreadyPresent");
  json.Int(plan.rulesAlreadyPresent);
  json.Key("commands");
  json.BeginArray();
  for (const auto& command : plan.commands) {
    json.BeginObject();
    json.Key("commandLine");
    json.String(command.commandLine);
    json.Key("changes");
    json.Bool(command.changes);
    json.EndObject();
  }
  json.EndArray();
  json.Key("restorePoint");
  json.BeginObject();
  json.Key("exists");
  json.Bool(plan.restorePointExists);
  json.Key("write");
  json.String(RestorePointWord(plan.restorePoint));
  json.Key("parts");
  StringArray(hardening::PartNames(plan.restorePointParts), json);
  json.Key("problem");
  plan.restorePointProblem.empty() ? json.Null() : json.String(plan.restorePointProblem);
  json.EndObject();
  json.Key("host");
  StatusObject(report.host, json);
  json.EndObject();
  return json.Finish();
}

std::string CheckLine(const StatusReport& report) {
  if (!report.hardened) return {};
  return "hardened: " + HostText(report) + ", firewall " + OnOff(report.firewallOn) + ", " +
         Plural(PortsBlocked(report), "port", "ports") + " blocked\n";
}

std::string UsageText() {
  return "Usage: quillfort-cli COMMAND [--json] [--log FILE] [--force] [--what-if]\n"
         "\n"
         "Closes inbound ports 445 and 135-139 of this Windows host with its own firewall.\n"
         "Run it from an elevated prompt (as administrator).\n"
         "\n"
         "Commands:\n"
         "  status    show the firewall, its service and the guarded ports\n"
         "  harden    start the firewall service, switch the firewall on and block the\n"
         "            guarded ports; rules already there are not added again; refuses\n"
         "            on a domain controller or a host serving shares unless --force\n"
         "  restore   put back what Quillfort changed, from the restore point it saved\n"
         "            before its first change, and delete the restore point\n"
         "  check     print one line and exit 0 when the host is hardened; print\n"
         "            nothing and exit 1 when it is not\n"
         "  help      show this text\n"
         "\n"
         "Options:\n"
         "  --json          print one JSON object instead of text (status, harden, restore)\n"
         "  --log FILE      write the diagnostics of the firewall and service code to FILE\n"
         "  --force         harden also a domain controller or a host serving shares\n"
         "  --what-if       harden: print what it would change and change nothing\n"
         "  --help, -h, /?  show this text\n"
         "\n"
         "Exit codes:\n"
         "  0   success; for check and status: the host is hardened\n"
         "  1   the host is not hardened (check, status); harden --what-if: it would\n"
         "      change something\n"
         "  2   a step failed or the host is still exposed (harden, restore)\n"
         "  3   access denied: not run as administrator\n"
         "  4   harden refused: the host is a domain controller or serves shares\n"
         "  64  usage error\n";
}

std::string UsageErrorText(const std::string& reason) {
  return "quillfort-cli: " + PrintableLine(reason) + "\nTry 'quillfort-cli --help'.\n";
}

}  // namespace qf::cli
