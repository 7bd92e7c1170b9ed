#include "host_compare.h"

#include <type_traits>
#include <vector>

namespace testbed {
namespace {

std::string Show(bool v) { return v ? "yes" : "no"; }
std::string Show(const std::string& v) { return v.empty() ? "(empty)" : v; }
template <typename T, typename = std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>>>
std::string Show(T v) {
  return std::to_string(v);
}

// Keeps the first difference seen, in the words "subject: field a vs b".
class FirstDifference {
 public:
  template <typename T>
  void Check(const std::string& subject, const char* field, const T& a, const T& b) {
    if (!result_ && !(a == b)) result_ = subject + ": " + field + " " + Show(a) + " vs " + Show(b);
  }
  void Note(std::string line) {
    if (!result_) result_ = std::move(line);
  }
  bool found() const { return result_.has_value(); }
  std::optional<std::string> result() && { return std::move(result_); }

 private:
  std::optional<std::string> result_;
};

const char* ProfileLabel(Profile p) {
  switch (p) {
    case Profile::Domain:
      return "domain";
    case Profile::Private:
      return "private";
    default:
      return "public";
  }
}
const char* LegacyLabel(LegacyProfile p) { return p == LegacyProfile::Domain ? "domain" : "standard"; }
const char* ProtocolLabel(long protocol) { return protocol == 17 ? "UDP" : protocol == 6 ? "TCP" : "protocol"; }

// The first property in which two rules differ, by its member name.
const char* RuleFieldDifference(const FirewallRule& a, const FirewallRule& b) {
  struct Text {
    const char* name;
    std::string FirewallRule::*field;
  };
  static const Text texts[] = {
      {"name", &FirewallRule::name},
      {"description", &FirewallRule::description},
      {"grouping", &FirewallRule::grouping},
      {"applicationName", &FirewallRule::applicationName},
      {"serviceName", &FirewallRule::serviceName},
      {"localPorts", &FirewallRule::localPorts},
      {"remotePorts", &FirewallRule::remotePorts},
      {"localAddresses", &FirewallRule::localAddresses},
      {"remoteAddresses", &FirewallRule::remoteAddresses},
      {"icmpTypesAndCodes", &FirewallRule::icmpTypesAndCodes},
      {"interfaceTypes", &FirewallRule::interfaceTypes},
  };
  for (const Text& t : texts)
    if (a.*t.field != b.*t.field) return t.name;
  if (a.protocol != b.protocol) return "protocol";
  if (a.direction != b.direction) return "direction";
  if (a.action != b.action) return "action";
  if (a.profiles != b.profiles) return "profiles";
  if (a.enabled != b.enabled) return "enabled";
  if (a.edgeTraversal != b.edgeTraversal) return "edgeTraversal";
  return nullptr;
}

void CompareRules(const HostState& a, const HostState& b, RuleOrder order, FirstDifference& diff) {
  diff.Check("rules", "count", a.rules.size(), b.rules.size());
  if (diff.found()) return;
  if (order == RuleOrder::Matters) {
    for (size_t i = 0; i < a.rules.size(); ++i)
      if (const char* field = RuleFieldDifference(a.rules[i], b.rules[i]))
        return diff.Note("rule " + std::to_string(i + 1) + ": " + field + " differs");
    return;
  }
  // As many rules on each side: each rule of the first needs its own equal.
  std::vector<bool> matched(b.rules.size(), false);
  for (size_t i = 0; i < a.rules.size(); ++i) {
    bool found = false;
    for (size_t j = 0; j < b.rules.size() && !found; ++j)
      if (!matched[j] && !RuleFieldDifference(a.rules[i], b.rules[j])) found = matched[j] = true;
    if (!found)
      return diff.Note("rule " + std::to_string(i + 1) + ": no equal rule on the other host (" + a.rules[i].name + ")");
  }
}

void CompareScm(const std::string& subject, const std::optional<ScmReport>& a, const std::optional<ScmReport>& b,
                FirstDifference& diff) {
  if (a.has_value() != b.has_value())
    return diff.Note(subject + ": service manager report " + (a ? "present vs absent" : "absent vs present"));
  if (!a) return;
  diff.Check(subject, "installed", a->installed, b->installed);
  diff.Check(subject, "startType", a->startType, b->startType);
  diff.Check(subject, "scmState", a->state, b->state);
}

void CompareServices(const HostState& a, const HostState& b, FirstDifference& diff) {
  for (const ServiceSetup& x : a.services) {
    const std::string subject = "service " + x.name;
    const ServiceSetup* y = b.FindService(x.name);
    if (!y) return diff.Note(subject + ": present vs absent");
    diff.Check(subject, "behaviour", std::string(BehaviourName(x.behaviour)), std::string(BehaviourName(y->behaviour)));
    diff.Check(subject, "pendingRounds", x.pendingRounds, y->pendingRounds);
    diff.Check(subject, "initialStartType", x.initialStartType, y->initialStartType);
    diff.Check(subject, "state", x.recordedState, y->recordedState);
    CompareScm(subject, x.scm, y->scm, diff);
    if (diff.found()) return;
  }
  for (const ServiceSetup& y : b.services)
    if (!a.FindService(y.name)) return diff.Note("service " + y.name + ": absent vs present");
}

std::string OpenPortLabel(const OpenPort& p) {
  return std::string("open-port ") + LegacyLabel(p.profile) + " " + ProtocolLabel(p.protocol) + " " +
         std::to_string(p.port);
}

// Openings are found by profile, port and protocol, as the platform does.
void CompareOpenPorts(const HostState& a, const HostState& b, FirstDifference& diff) {
  for (const OpenPort& x : a.openPorts) {
    const std::string subject = OpenPortLabel(x);
    const OpenPort* y = b.FindOpenPort(x.profile, x.port, x.protocol);
    if (!y) return diff.Note(subject + ": present vs absent");
    diff.Check(subject, "name", x.name, y->name);
    diff.Check(subject, "enabled", x.enabled, y->enabled);
    diff.Check(subject, "scope", x.scope, y->scope);
    diff.Check(subject, "addresses", x.addresses, y->addresses);
    if (diff.found()) return;
  }
  for (const OpenPort& y : b.openPorts)
    if (!a.FindOpenPort(y.profile, y.port, y.protocol)) return diff.Note(OpenPortLabel(y) + ": absent vs present");
}

const ServicePort* FindPort(const ServiceException& e, long port, long protocol) {
  for (const ServicePort& p : e.ports)
    if (p.port == port && p.protocol == protocol) return &p;
  return nullptr;
}

void CompareServiceExceptions(const HostState& a, const HostState& b, FirstDifference& diff) {
  auto label = [](const ServiceException& e) {
    return std::string("service-exception ") + LegacyLabel(e.profile) + " " + ServiceTypeName(e.type);
  };
  for (const ServiceException& x : a.serviceExceptions) {
    const std::string subject = label(x);
    const ServiceException* y = b.FindServiceException(x.profile, x.type);
    if (!y) return diff.Note(subject + ": present vs absent");
    diff.Check(subject, "scope", x.scope, y->scope);
    diff.Check(subject, "ports", x.ports.size(), y->ports.size());
    for (const ServicePort& p : x.ports) {
      const std::string port = std::string(ProtocolLabel(p.protocol)) + " " + std::to_string(p.port);
      const ServicePort* q = FindPort(*y, p.port, p.protocol);
      if (!q) return diff.Note(subject + ": " + port + " present vs absent");
      diff.Check(subject, port.c_str(), p.enabled ? std::string("on") : std::string("off"),
                 q->enabled ? std::string("on") : std::string("off"));
    }
    if (diff.found()) return;
  }
  for (const ServiceException& y : b.serviceExceptions)
    if (!a.FindServiceException(y.profile, y.type)) return diff.Note(label(y) + ": absent vs present");
}

}  // namespace

std::optional<std::string> FirstHostDifference(const HostState& a, const HostState& b, RuleOrder order) {
  FirstDifference diff;
  diff.Check("host", "scenario", a.scenario, b.scenario);
  diff.Check("host", "currentProfile", std::string(ProfileLabel(a.currentProfile)),
             std::string(ProfileLabel(b.currentProfile)));
  diff.Check("host", "profilesInForce", a.CurrentProfileTypes(), b.CurrentProfileTypes());
  diff.Check("host", "windowsVersion", a.windowsVersion.value_or("(none)"), b.windowsVersion.value_or("(none)"));
  diff.Check("host", "productType", a.productType, b.productType);
  auto shares = [](const HostState& s) {
    std::string list;
    for (const Share& share : s.shares) list += share.name + ":" + std::to_string(share.Type()) + ";";
    return list;
  };
  diff.Check("host", "shares", shares(a), shares(b));
  for (Profile p : {Profile::Domain, Profile::Private, Profile::Public}) {
    auto on = [p](const HostState& s) { return std::string(s.IsOn(p) ? "on" : "off"); };
    diff.Check("firewall", ProfileLabel(p), on(a), on(b));
  }
  diff.Check("firewall", "groupPolicy", a.heldByGroupPolicy, b.heldByGroupPolicy);
  for (LegacyProfile p : {LegacyProfile::Domain, LegacyProfile::Standard}) {
    auto setting = [p](const HostState& s) { return std::string(s.ExceptionsNotAllowed(p) ? "none" : "allowed"); };
    diff.Check("legacy-exceptions", LegacyLabel(p), setting(a), setting(b));
    diff.Check("remote-admin", LegacyLabel(p), a.RemoteAdmin(p), b.RemoteAdmin(p));
  }
  diff.Check("firewall", "blockAllInbound", a.blockAllInbound, b.blockAllInbound);
  diff.Check("firewall", "excludedInterfaces", a.excludedInterfaces, b.excludedInterfaces);
  diff.Check("firewall", "noWindowsFirewall", a.noWindowsFirewall, b.noWindowsFirewall);
  diff.Check("legacy", "authorisedApps", a.authorisedApps.size(), b.authorisedApps.size());
  diff.Check("policy", "values", a.groupPolicy.size(), b.groupPolicy.size());
  diff.Check("faults", "refusePolicy2", a.refusePolicy2, b.refusePolicy2);
  diff.Check("faults", "refuseLegacyManager", a.refuseLegacyManager, b.refuseLegacyManager);
  diff.Check("faults", "refuseAddNumber", a.refuseAddNumber, b.refuseAddNumber);
  diff.Check("faults", "denyChanges", a.denyChanges, b.denyChanges);
  auto mode = [](const HostState& s) {
    return std::string(s.netsh.mode == NetshMode::Fail ? "fail" : s.netsh.mode == NetshMode::Hang ? "hang" : "normal");
  };
  diff.Check("netsh", "mode", mode(a), mode(b));
  diff.Check("netsh", "hangSeconds", a.netsh.hangSeconds, b.netsh.hangSeconds);
  diff.Check("netsh", "faultyCalls", a.netsh.faultyCalls, b.netsh.faultyCalls);
  if (!diff.found()) CompareServices(a, b, diff);
  if (!diff.found()) CompareOpenPorts(a, b, diff);
  if (!diff.found()) CompareServiceExceptions(a, b, diff);
  if (!diff.found()) CompareRules(a, b, order, diff);
  return std::move(diff).result();
}

}  // namespace testbed
