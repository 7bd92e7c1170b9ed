// The console program's status, read from the firewall and the service manager.
#include <windows.h>

#include "firewall/advanced_firewall.h"
#include "firewall/legacy_firewall.h"
#include "hardening/effective_reader.h"
#include "hardening/guarded_ports.h"
#include "hardening/hardening_plan.h"
#include "hardening/host_access.h"
#include "hardening/status_report.h"
#include "host/host_role_win.h"
#include "host/service_control.h"

namespace qf::hardening {

namespace {

ServiceReport ReportOfService(const char* name) {
  const ServiceState state = ReadServiceState(name);
  ServiceReport report;
  report.name = name;
  report.present = state.present;
  if (state.present && state.startType != 0) report.startType = state.startType;
  if (state.present && state.currentState != 0) report.state = state.currentState;
  return report;
}

StatusReport ReadFirewallStatus(const std::string& hostLabel, int hostClass) {
  std::vector<ServiceReport> services;
  const char* service = HardensThroughAdvancedPolicy(hostClass) ? kAdvancedFirewallService : kLegacyFirewallService;
  services.push_back(ReportOfService(service));
  if (HardensThroughAdvancedPolicy(hostClass)) {
    AdvancedFacts facts;
    CAdvancedFirewall policy;
    policy.Initialize();
    facts.settings = ReadAdvancedSettings(policy);
    // Nothing of the policy answers while its service is stopped.
    if (policy.IsOpen() && facts.settings.serviceRunning == true) {
      facts.currentProfiles = policy.ReadCurrentProfiles();
      for (std::size_t i = 0; i < kAdvancedProfiles.size(); ++i)
        facts.profileOn[i] = policy.ReadSwitch(kAdvancedProfiles[i]);
      facts.rules = policy.ReadRules();
    }
    return ComposeAdvancedStatus(hostLabel, hostClass, facts, std::move(services));
  }
  CLegacyFirewall legacy;
  legacy.Initialize();
  return ComposeLegacyStatus(hostLabel, hostClass, ReadLegacyInput(legacy), std::move(services));
}

}  // namespace

StatusReport ReadStatus(const std::string& hostLabel, int hostClass) {
  StatusReport report = ReadFirewallStatus(hostLabel, hostClass);
  report.role = host::ReadHostRole();
  return report;
}

}  // namespace qf::hardening
