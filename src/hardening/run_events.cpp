#include "hardening/run_events.h"

#include <cstdio>

#include "hardening/hardening_outcome.h"

namespace qf::hardening {
namespace {

using host::EventEntry;
using host::EventType;

// Event Viewer shows an insertion's lines as they come; Windows ends them so.
std::string Lines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) {
    if (!out.empty()) out += "\r\n";
    out += line;
  }
  return out.empty() ? std::string("-") : out;
}

std::string Hex(std::uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

std::vector<std::string> FailureCauses(const std::vector<FailedStep>& failed, const std::vector<std::string>& exposed,
                                       bool accessDenied) {
  std::vector<std::string> causes;
  if (accessDenied) causes.push_back("Access denied: the run was not elevated (run as administrator).");
  for (const FailedStep& step : failed) causes.push_back("Step failed: " + step.step + ": " + Hex(step.code));
  for (const std::string& item : exposed) causes.push_back("Still exposed: " + item);
  return causes;
}

EventEntry Entry(RunEventId id, EventType type, const RunOrigin& origin, std::string details, std::string ports) {
  return EventEntry{
      static_cast<std::uint32_t>(id), type, {origin.run, origin.host, std::move(details), std::move(ports)}};
}

std::string Blocked(bool tcp, bool udp) {
  if (tcp && udp) return "blocked";
  if (!tcp && !udp) return "allowed";
  return std::string("TCP ") + (tcp ? "blocked" : "allowed") + ", UDP " + (udp ? "blocked" : "allowed");
}

}  // namespace

std::string HostNameForEvent(const std::string& hostLabel, int hostClass) {
  return (hostLabel.empty() ? std::string("unknown host") : hostLabel) + " class " + std::to_string(hostClass);
}

std::vector<std::string> VerdictLines(const StatusReport& status) {
  std::vector<std::string> lines{std::string("Firewall: ") + (status.firewallOn ? "on" : "off")};
  for (const PortReport& port : status.ports) {
    lines.push_back("Port " + std::to_string(port.port) + ": " + Blocked(port.tcpBlocked, port.udpBlocked));
  }
  return lines;
}

std::vector<std::string> VerdictLines(int hostClass, const PanelReading& reading) {
  std::vector<std::string> lines{std::string("Firewall: ") + (reading.firewallOn ? "on" : "off")};
  const auto blocks = PortsTheRunBlocks(hostClass);
  for (std::size_t i = 0; i < kGuardedPorts.size(); ++i) {
    std::string line =
        "Port " + std::to_string(kGuardedPorts[i]) + ": " + (reading.portBlocked[i] ? "blocked" : "allowed");
    if (!blocks[i]) line += " (not closed on this host class)";
    lines.push_back(line);
  }
  return lines;
}

EventEntry HardenEvent(const RunOrigin& origin, const HardenReport& report, const std::vector<std::string>& verdicts,
                       const std::string& forcedRole) {
  std::vector<std::string> details;
  if (!forcedRole.empty()) details.push_back("Forced on a " + forcedRole + ".");
  const bool complete =
      !report.accessDenied && report.failedSteps.empty() && report.stillExposed.empty() && report.after.hardened;
  if (!complete) {
    std::vector<std::string> causes = FailureCauses(report.failedSteps, report.stillExposed, report.accessDenied);
    if (causes.empty()) causes.push_back("Not hardened afterwards.");
    details.insert(details.end(), causes.begin(), causes.end());
    return Entry(RunEventId::HardenIncomplete, EventType::Error, origin, Lines(details), Lines(verdicts));
  }
  if (report.changed) {
    std::string line = "Changed: yes; rules added: " + std::to_string(report.rulesAdded) +
                       ", already present: " + std::to_string(report.rulesAlreadyPresent);
    if (report.restorePointSaved) line += "; restore point saved";
    details.push_back(line);
  } else {
    details.push_back("Changed: nothing; the host was already hardened.");
  }
  return Entry(RunEventId::HardenComplete, EventType::Information, origin, Lines(details), Lines(verdicts));
}

EventEntry RefusalEvent(const RunOrigin& origin, const std::vector<std::string>& refusal,
                        const std::vector<std::string>& verdicts) {
  return Entry(RunEventId::HardenRefused, EventType::Warning, origin, Lines(refusal), Lines(verdicts));
}

EventEntry RestoreEvent(const RunOrigin& origin, const RestoreReport& report) {
  return RestoreEvent(origin, report, VerdictLines(report.after));
}

EventEntry RestoreEvent(const RunOrigin& origin, const RestoreReport& report,
                        const std::vector<std::string>& verdicts) {
  const std::string ports = Lines(verdicts);
  if (report.accessDenied || !report.failedSteps.empty() || !report.differences.empty() ||
      !report.restorePointProblem.empty()) {
    std::vector<std::string> causes = FailureCauses(report.failedSteps, {}, report.accessDenied);
    if (!report.restorePointProblem.empty()) {
      causes.push_back("Restore point unusable, left as it is: " + report.restorePointProblem);
    }
    for (const std::string& item : report.differences) causes.push_back("Still differs: " + item);
    if (report.restorePointKept) causes.push_back("Restore point kept.");
    return Entry(RunEventId::RestoreIncomplete, EventType::Error, origin, Lines(causes), ports);
  }
  if (!report.restorePointFound) {
    return Entry(RunEventId::NothingToRestore, EventType::Information, origin, "No restore point: nothing was changed.",
                 ports);
  }
  std::string services;
  for (const std::string& name : report.servicesStopped) services += (services.empty() ? "" : ", ") + name;
  const std::string details = "Rules removed: " + std::to_string(report.rulesRemoved) +
                              "; services stopped: " + (services.empty() ? "none" : services);
  return Entry(RunEventId::Restored, EventType::Information, origin, details, ports);
}

}  // namespace qf::hardening
