#include "scenarios.h"

namespace testbed {
namespace {

constexpr unsigned long kAutoStart = 2;      // SERVICE_AUTO_START
constexpr unsigned long kDisabledStart = 4;  // SERVICE_DISABLED

FirewallRule SeededBlockRule(std::string name, std::string localPorts, long protocol = 6, long profiles = 7) {
  FirewallRule rule;
  rule.name = std::move(name);
  rule.grouping = "Seeded rules";
  rule.protocol = protocol;
  rule.localPorts = std::move(localPorts);
  rule.direction = 1;
  rule.action = 0;
  rule.profiles = profiles;
  rule.enabled = true;
  return rule;
}

// A host whose firewall is off on every profile, whose guarded ports are open
// in both legacy profiles, and whose firewall services are disabled. Each
// legacy profile has File and Printer Sharing, off, as every such host has:
// it can be switched, never added or removed.
HostState UnprotectedHost(std::string scenario) {
  HostState s;
  s.scenario = std::move(scenario);
  s.currentProfile = Profile::Private;
  for (LegacyProfile profile : {LegacyProfile::Standard, LegacyProfile::Domain}) {
    for (long port : {445, 135, 136, 137, 138, 139})
      s.openPorts.push_back(OpenPort{profile, port, 6, std::to_string(port), true, "ALL", ""});
    for (long port : {137, 138})
      s.openPorts.push_back(OpenPort{profile, port, 17, std::to_string(port), true, "ALL", ""});
    s.serviceExceptions.push_back(ServiceException{profile, ServiceType::FileAndPrint, "ALL",
                                                   DefaultServicePorts(ServiceType::FileAndPrint, false)});
  }
  // Every host has its administrative shares; they serve nobody's files.
  s.shares = {{"ADMIN$", ShareKind::Disk, true, "Remote Admin"},
              {"C$", ShareKind::Disk, true, "Default share"},
              {"IPC$", ShareKind::Ipc, true, "Remote IPC"}};
  for (const char* name : {"MpsSvc", "SharedAccess"}) {
    ServiceSetup service;
    service.name = name;
    service.initialStartType = kDisabledStart;
    s.services.push_back(service);
  }
  // As on Windows: the firewall objects answer only while their service runs.
  s.firewallNeedsService = true;
  return s;
}

// The firewall service starts with the host and runs.
void Running(HostState& s, const char* service) {
  ServiceSetup* setup = s.FindService(service);
  setup->initialStartType = kAutoStart;
  setup->recordedState = "running";
}

// A Windows 7 host whose firewall is on and whose MpsSvc runs.
void AdvancedOn(HostState& s) {
  s.SetOn(Profile::Private, true);
  s.SetOn(Profile::Public, true);
  Running(s, "MpsSvc");
}

PolicySetting PolicyNumber(std::string key, std::string name, unsigned long value) {
  return PolicySetting{std::move(key), std::move(name), value, {}};
}

PolicySetting PolicyText(std::string key, std::string name, std::string text) {
  return PolicySetting{std::move(key), std::move(name), std::nullopt, std::move(text)};
}

Scenario Make(std::string name, std::string summary, std::string version, int hostClass) {
  HostState seed = UnprotectedHost(name);
  seed.legacyServedByMpsSvc = hostClass >= 4;
  return Scenario{std::move(name), std::move(summary), std::move(version), hostClass, std::move(seed)};
}

template <typename Change>
Scenario With(Scenario scenario, Change change) {
  change(scenario.seed);
  return scenario;
}

std::vector<Scenario> BuildScenarios() {
  std::vector<Scenario> all;
  all.push_back(Make("win7", "Windows 7: firewall off, ports open", "win7", 5));
  all.push_back(With(Make("win8", "Windows 8: rules for 1445 and 135-139 exist, MpsSvc starts slowly", "win8", 6),
                     [](HostState& s) {
                       s.rules.push_back(SeededBlockRule("Seeded block 1445", "1445"));
                       s.rules.push_back(SeededBlockRule("Seeded block 135-139", "135-139"));
                       s.FindService("MpsSvc")->behaviour = StartBehaviour::Pending;
                       s.FindService("MpsSvc")->pendingRounds = 3;
                     }));
  all.push_back(Make("vista", "Windows Vista: firewall off, ports open", "vista", 4));
  all.push_back(With(
      Make("win2003", "Windows Server 2003 x64: firewall off, ports open, SharedAccess starts slowly", "win2003", 3),
      [](HostState& s) {
        s.FindService("SharedAccess")->behaviour = StartBehaviour::Pending;
        s.FindService("SharedAccess")->pendingRounds = 2;
      }));
  // Without a compatibility manifest Windows 10 (and Wine) report 6.2.
  all.push_back(Make("win10", "Windows 10: reported to Quillfort as version 6.2", "win10", 6));
  all.push_back(Make("nt4", "Windows NT 4.0: a version Quillfort does not classify", "nt40", 0));
  all.push_back(
      With(Make("win7-policy-refused", "Windows 7: MpsSvc runs, the advanced policy cannot be created", "win7", 5),
           [](HostState& s) {
             s.refusePolicy2 = true;
             Running(s, "MpsSvc");
           }));
  all.push_back(With(Make("win7-service-missing", "Windows 7: no MpsSvc service", "win7", 5),
                     [](HostState& s) { s.FindService("MpsSvc")->behaviour = StartBehaviour::Missing; }));
  all.push_back(With(Make("win7-service-stuck", "Windows 7: MpsSvc never leaves start-pending", "win7", 5),
                     [](HostState& s) { s.FindService("MpsSvc")->behaviour = StartBehaviour::Stuck; }));
  all.push_back(With(Make("win7-service-refusing", "Windows 7: MpsSvc stops at once when started", "win7", 5),
                     [](HostState& s) { s.FindService("MpsSvc")->behaviour = StartBehaviour::Refusing; }));
  all.push_back(
      With(Make("win2003-netsh-hang", "Server 2003 x64: the first netsh command hangs for 40 s", "win2003", 3),
           [](HostState& s) {
             s.netsh.mode = NetshMode::Hang;
             s.netsh.hangSeconds = 40;
             s.netsh.faultyCalls = 1;
           }));
  all.push_back(With(Make("win2003-netsh-fail", "Server 2003 x64: netsh rejects every command", "win2003", 3),
                     [](HostState& s) { s.netsh.mode = NetshMode::Fail; }));
  all.push_back(
      With(Make("winxp-fps", "Windows XP: firewall on, File and Printer Sharing on, no port openings", "winxp", 2),
           [](HostState& s) {
             s.openPorts.clear();
             s.SetOn(Profile::Domain, true);
             s.SetOn(Profile::Private, true);
             for (ServiceException& e : s.serviceExceptions) e.SetEnabled(true);
             Running(s, "SharedAccess");
           }));
  all.push_back(With(Make("win7-domain-off",
                          "Windows 7 on a domain network: group policy holds the domain firewall off; private and "
                          "public on",
                          "win7", 5),
                     [](HostState& s) {
                       s.currentProfile = Profile::Domain;
                       s.heldByGroupPolicy = ProfileBit(Profile::Domain);
                       AdvancedOn(s);
                     }));
  all.push_back(
      With(Make("win7-udp-445", "Windows 7: firewall on, only a UDP block rule for 445", "win7", 5), [](HostState& s) {
        AdvancedOn(s);
        s.rules.push_back(SeededBlockRule("Seeded block UDP 445", "445", 17));
      }));
  all.push_back(With(
      Make("win7-domain-rules", "Windows 7 on a public network: block rules for the domain profile only", "win7", 5),
      [](HostState& s) {
        s.currentProfile = Profile::Public;
        AdvancedOn(s);
        for (long protocol : {6L, 17L})
          s.rules.push_back(
              SeededBlockRule("Seeded domain block " + std::to_string(protocol), "445,135-139", protocol, 1));
      }));
  all.push_back(With(Make("win7-add-refused", "Windows 7: the policy refuses the third rule added", "win7", 5),
                     [](HostState& s) { s.refuseAddNumber = 3; }));
  all.push_back(With(Make("win7-not-admin",
                          "Windows 7 as a standard user sees it: the firewall reads, every firewall change and netsh "
                          "command is denied (only the firewall denies: Wine's service manager cannot)",
                          "win7", 5),
                     [](HostState& s) { s.denyChanges = true; }));
  all.push_back(
      With(Make("win2003-custom-scope",
                "Server 2003 x64: the standard profile opens TCP 445 to 10.1.0.0/255.255.0.0 only", "win2003", 3),
           [](HostState& s) {
             OpenPort* smb = s.FindOpenPort(LegacyProfile::Standard, 445, 6);
             smb->scope = "CUSTOM";
             smb->addresses = "10.1.0.0/255.255.0.0";
           }));
  all.push_back(
      With(Make("win7-user-rule-same-name",
                "Windows 7: a user's allow rule named as Quillfort's TCP 445 rule, of another grouping", "win7", 5),
           [](HostState& s) {
             FirewallRule rule;
             rule.name = "@QXRuleOptions.exe, TCP-445";
             rule.grouping = "Backup agent";
             rule.protocol = 6;
             rule.localPorts = "445";
             rule.remoteAddresses = "10.1.2.3";
             rule.enabled = true;
             s.rules.push_back(rule);
           }));
  all.push_back(With(
      Make("win7-quillfort-narrowed",
           "Windows 7: firewall on; twelve rules exactly as Quillfort's but for remote address 10.1.2.3", "win7", 5),
      [](HostState& s) {
        AdvancedOn(s);
        for (long port : {445, 135, 136, 137, 138, 139}) {
          for (long protocol : {6L, 17L}) {
            FirewallRule rule = SeededBlockRule(
                std::string("@QXRuleOptions.exe, ") + (protocol == 6 ? "TCP-" : "UDP-") + std::to_string(port),
                std::to_string(port), protocol, 7);
            rule.grouping = "@QXRuleOptions.exe,-102";
            rule.description = "@QXRuleOptions.exe,-103";
            rule.remoteAddresses = "10.1.2.3";
            s.rules.push_back(rule);
          }
        }
      }));
  // Hosts that serve the guarded ports: harden refuses them unless forced.
  all.push_back(With(Make("win2003-dc",
                          "Windows Server 2003 x64 domain controller (ProductType LanmanNT) with its NETLOGON and "
                          "SYSVOL shares: firewall off, ports open",
                          "win2003", 3),
                     [](HostState& s) {
                       s.productType = "LanmanNT";
                       s.shares.push_back({"NETLOGON", ShareKind::Disk, false, "Logon server share"});
                       s.shares.push_back({"SYSVOL", ShareKind::Disk, false, "Logon server share"});
                     }));
  all.push_back(With(Make("win7-file-server",
                          "Windows 7 sharing a folder and a printer (and print$): firewall off, ports open", "win7", 5),
                     [](HostState& s) {
                       s.shares.push_back({"print$", ShareKind::Disk, true, "Printer Drivers"});
                       s.shares.push_back({"Docs", ShareKind::Disk, false, ""});
                       s.shares.push_back({"HP LaserJet", ShareKind::Print, false, "Office printer"});
                     }));
  all.push_back(With(Make("win7-gp-off",
                          "Windows 7 on a domain network: group policy turns the domain firewall off (EnableFirewall "
                          "0); the local switches are on",
                          "win7", 5),
                     [](HostState& s) {
                       s.currentProfile = Profile::Domain;
                       AdvancedOn(s);
                       s.SetOn(Profile::Domain, true);
                       s.groupPolicy.push_back(PolicyNumber("DomainProfile", "EnableFirewall", 0));
                     }));
  all.push_back(With(Make("win7-gp-no-merge",
                          "Windows 7 on a public network: firewall on, group policy ignores local rules "
                          "(AllowLocalPolicyMerge 0 for the public profile)",
                          "win7", 5),
                     [](HostState& s) {
                       s.currentProfile = Profile::Public;
                       AdvancedOn(s);
                       s.groupPolicy.push_back(PolicyNumber("PublicProfile", "AllowLocalPolicyMerge", 0));
                     }));
  all.push_back(With(
      Make("win7-gp-blocks-445",
           "Windows 7: firewall on; a group policy rule blocks TCP and UDP 445, nothing blocks the rest", "win7", 5),
      [](HostState& s) {
        AdvancedOn(s);
        for (const char* protocol : {"6", "17"}) {
          s.groupPolicy.push_back(PolicyText("FirewallRules", std::string("GP-Block-445-") + protocol,
                                             std::string("v2.10|Action=Block|Active=TRUE|Dir=In|Protocol=") + protocol +
                                                 "|LPort=445|Name=Block SMB " + (protocol[0] == '6' ? "TCP" : "UDP") +
                                                 "|"));
        }
      }));
  all.push_back(
      With(Make("win7-mpssvc-stopped",
                "Windows 7: the policy has the firewall on, MpsSvc is set to start by hand and stopped", "win7", 5),
           [](HostState& s) {
             AdvancedOn(s);
             ServiceSetup* mpssvc = s.FindService("MpsSvc");
             mpssvc->initialStartType = 3;
             mpssvc->recordedState = "stopped";
           }));
  all.push_back(With(Make("win7-shielded-excluded",
                          "Windows 7 on a public network: firewall on, shielded (block all inbound) on every profile, "
                          "the private profile excludes an interface",
                          "win7", 5),
                     [](HostState& s) {
                       s.currentProfile = Profile::Public;
                       AdvancedOn(s);
                       s.blockAllInbound = 7;
                       s.excludedInterfaces = ProfileBit(Profile::Private);
                     }));
  all.push_back(With(Make("winxp-remote-admin",
                          "Windows XP: firewall on, no port openings, File and Printer Sharing off, Remote "
                          "Administration on, System authorised (off) and svchost.exe authorised (on)",
                          "winxp", 2),
                     [](HostState& s) {
                       s.openPorts.clear();
                       s.SetOn(Profile::Domain, true);
                       s.SetOn(Profile::Private, true);
                       s.SetRemoteAdmin(LegacyProfile::Standard, true);
                       s.authorisedApps.push_back(AuthorisedApp{LegacyProfile::Standard, "System", "Kernel", false});
                       s.authorisedApps.push_back(AuthorisedApp{
                           LegacyProfile::Standard, "C:\\WINDOWS\\system32\\svchost.exe", "Service host", true});
                       Running(s, "SharedAccess");
                     }));
  all.push_back(With(Make("win2000", "Windows 2000: no Windows Firewall", "win2k", 1),
                     [](HostState& s) { s.noWindowsFirewall = true; }));
  return all;
}

}  // namespace

const std::vector<Scenario>& AllScenarios() {
  static const std::vector<Scenario> all = BuildScenarios();
  return all;
}

std::optional<Scenario> FindScenario(std::string_view name) {
  for (const auto& s : AllScenarios())
    if (s.name == name) return s;
  return std::nullopt;
}

void AddBulkRules(HostState& state, int count) {
  for (int i = 0; i < count; ++i) {
    FirewallRule rule;
    rule.name = "Bulk rule " + std::to_string(i + 1);
    rule.grouping = "Bulk";
    rule.protocol = 6;
    rule.localPorts = "20000";
    rule.action = 1;
    rule.enabled = true;
    state.rules.push_back(std::move(rule));
  }
}

}  // namespace testbed
