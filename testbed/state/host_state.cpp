#include "host_state.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace testbed {
namespace {

constexpr std::string_view kHeader = "quillfort-testbed-state\tversion=1";
constexpr std::array<const char*, kProfileCount> kProfileNames = {"domain", "private", "public"};

// Values may hold any character; tabs and line breaks would break the line
// structure, so they and the escape character itself are escaped.
std::string Escape(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::optional<std::string> Unescape(std::string_view value) {
  if (value.find('\\') == std::string_view::npos) return std::string(value);
  std::string out;
  out.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\') {
      out += value[i];
      continue;
    }
    if (++i == value.size()) return std::nullopt;
    switch (value[i]) {
      case '\\':
        out += '\\';
        break;
      case 't':
        out += '\t';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      default:
        return std::nullopt;
    }
  }
  return out;
}

class LineWriter {
 public:
  explicit LineWriter(std::string& out, std::string_view kind) : out_(out) { out_ += kind; }
  ~LineWriter() { out_ += '\n'; }
  LineWriter& Field(std::string_view key, std::string_view value) {
    out_ += '\t';
    out_ += key;
    out_ += '=';
    out_ += Escape(value);
    return *this;
  }
  LineWriter& Field(std::string_view key, long value) { return Field(key, std::to_string(value)); }
  LineWriter& Flag(std::string_view key, bool value) { return Field(key, value ? "yes" : "no"); }

 private:
  std::string& out_;
};

const char* ProfileName(Profile p) { return kProfileNames[static_cast<int>(p)]; }
const char* LegacyName(LegacyProfile p) { return p == LegacyProfile::Domain ? "domain" : "standard"; }
const char* ModeName(NetshMode m) {
  switch (m) {
    case NetshMode::Fail:
      return "fail";
    case NetshMode::Hang:
      return "hang";
    default:
      return "normal";
  }
}

// One parsed line: its kind and its fields; each read removes the field so
// that leftovers can be reported as unknown. A line has a score of fields at
// most, so a flat list searched in turn beats a tree: a state of thousands
// of rules is parsed by every process that reads it.
class Record {
 public:
  std::string kind;
  std::vector<std::pair<std::string_view, std::string>> fields;  // keys point into the line
  std::string error;

  std::optional<std::string> Take(std::string_view key) {
    auto it = Find(key);
    if (it == fields.end()) return std::nullopt;
    std::string value = std::move(it->second);
    // The order of the fields left does not matter: the last fills the gap.
    if (it != fields.end() - 1) *it = std::move(fields.back());
    fields.pop_back();
    return value;
  }
  std::string TakeText(std::string_view key, std::string fallback = {}) {
    auto v = Take(key);
    return v ? std::move(*v) : std::move(fallback);
  }
  long TakeNumber(std::string_view key, long fallback) {
    auto v = Take(key);
    if (!v) return fallback;
    long n = 0;
    auto [end, ec] = std::from_chars(v->data(), v->data() + v->size(), n);
    if (ec != std::errc() || end != v->data() + v->size()) Fail("bad number for " + std::string(key));
    return n;
  }
  bool TakeFlag(std::string_view key, bool fallback) {
    auto v = Take(key);
    if (!v) return fallback;
    if (*v == "yes" || *v == "on") return true;
    if (*v == "no" || *v == "off") return false;
    Fail("bad flag for " + std::string(key));
    return fallback;
  }
  bool Add(std::string_view key, std::string value) {
    if (Find(key) != fields.end()) return false;
    fields.emplace_back(key, std::move(value));
    return true;
  }
  void Fail(std::string message) {
    if (error.empty()) error = std::move(message);
  }
  // The first unknown field in the order of the keys, whatever their order
  // in the line.
  void RejectLeftovers() {
    if (fields.empty()) return;
    auto first =
        std::min_element(fields.begin(), fields.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    Fail("unknown field " + std::string(first->first));
  }

 private:
  std::vector<std::pair<std::string_view, std::string>>::iterator Find(std::string_view key) {
    return std::find_if(fields.begin(), fields.end(), [&](const auto& field) { return field.first == key; });
  }
};

Record SplitRecord(std::string_view line) {
  Record record;
  size_t tab = line.find('\t');
  record.kind = std::string(line.substr(0, tab));
  record.fields.reserve(20);
  while (tab != std::string_view::npos) {
    size_t start = tab + 1;
    tab = line.find('\t', start);
    std::string_view field = line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
    size_t eq = field.find('=');
    if (eq == std::string_view::npos) {
      record.Fail("field without '=': " + std::string(field));
      continue;
    }
    auto value = Unescape(field.substr(eq + 1));
    if (!value) {
      record.Fail("bad escape in " + std::string(field.substr(0, eq)));
      continue;
    }
    if (!record.Add(field.substr(0, eq), std::move(*value)))
      record.Fail("repeated field " + std::string(field.substr(0, eq)));
  }
  return record;
}

std::optional<Profile> ProfileFromName(std::string_view name) {
  for (int i = 0; i < kProfileCount; ++i)
    if (name == kProfileNames[i]) return static_cast<Profile>(i);
  return std::nullopt;
}

constexpr const char* kShareKindNames[] = {"disk", "print", "device", "ipc"};

void ReadShare(Record& r, HostState& s) {
  Share share;
  share.name = r.TakeText("name");
  const std::string kind = r.TakeText("kind", "disk");
  bool known = false;
  for (int i = 0; i < 4; ++i) {
    if (kind == kShareKindNames[i]) {
      share.kind = static_cast<ShareKind>(i);
      known = true;
    }
  }
  if (!known) return r.Fail("bad share kind " + kind);
  share.special = r.TakeFlag("special", false);
  share.remark = r.TakeText("remark");
  s.shares.push_back(std::move(share));
}

void ReadHost(Record& r, HostState& s) {
  s.scenario = r.TakeText("scenario");
  auto current = ProfileFromName(r.TakeText("current-profile", "private"));
  if (!current) return r.Fail("bad current-profile");
  s.currentProfile = *current;
  s.currentProfileTypes = r.TakeNumber("current-profile-types", 0);
  if (s.currentProfileTypes < 0 || s.currentProfileTypes > 7) r.Fail("bad current-profile-types");
}

void ReadLegacyExceptions(Record& r, HostState& s) {
  for (LegacyProfile p : {LegacyProfile::Domain, LegacyProfile::Standard}) {
    std::string value = r.TakeText(LegacyName(p), "allowed");
    if (value != "allowed" && value != "none") return r.Fail("bad exceptions setting " + value);
    s.SetExceptionsNotAllowed(p, value == "none");
  }
}

std::optional<long> ProtocolFromName(std::string_view name) {
  if (name == "TCP") return 6;
  if (name == "UDP") return 17;
  return std::nullopt;
}

// "TCP 139 on,UDP 137 off": protocol, port and switch of each port.
std::optional<std::vector<ServicePort>> ParseServicePorts(std::string_view text) {
  std::vector<ServicePort> ports;
  if (!text.empty() && text.back() == ',') return std::nullopt;
  while (!text.empty()) {
    size_t comma = text.find(',');
    std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    size_t first = item.find(' '), second = item.rfind(' ');
    if (first == std::string_view::npos || first == second) return std::nullopt;
    ServicePort port;
    auto protocol = ProtocolFromName(item.substr(0, first));
    std::string_view number = item.substr(first + 1, second - first - 1), flag = item.substr(second + 1);
    auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), port.port);
    if (!protocol || ec != std::errc() || end != number.data() + number.size() || (flag != "on" && flag != "off"))
      return std::nullopt;
    port.protocol = *protocol;
    port.enabled = flag == "on";
    ports.push_back(port);
  }
  return ports;
}

void ReadServiceException(Record& r, HostState& s) {
  ServiceException exception;
  std::string profile = r.TakeText("profile", "standard");
  if (profile == "domain")
    exception.profile = LegacyProfile::Domain;
  else if (profile == "standard")
    exception.profile = LegacyProfile::Standard;
  else
    return r.Fail("bad service-exception profile " + profile);
  auto type = ServiceTypeFromName(r.TakeText("type"));
  if (!type) return r.Fail("bad service-exception type");
  exception.type = *type;
  exception.scope = r.TakeText("scope", "ALL");
  auto ports = ParseServicePorts(r.TakeText("ports"));
  if (!ports) return r.Fail("bad service-exception ports");
  exception.ports = std::move(*ports);
  s.serviceExceptions.push_back(std::move(exception));
}

void ReadFirewall(Record& r, HostState& s) {
  for (int i = 0; i < kProfileCount; ++i) s.firewallOn[i] = r.TakeFlag(kProfileNames[i], false);
  s.firewallNeedsService = r.TakeFlag("needs-service", false);
  s.legacyServedByMpsSvc = r.TakeFlag("legacy-mpssvc", false);
  s.heldByGroupPolicy = r.TakeNumber("group-policy", 0);
  if (s.heldByGroupPolicy < 0 || s.heldByGroupPolicy > 7) r.Fail("bad group-policy");
  s.blockAllInbound = r.TakeNumber("block-all", 0);
  s.excludedInterfaces = r.TakeNumber("excluded", 0);
  if (s.blockAllInbound < 0 || s.blockAllInbound > 7 || s.excludedInterfaces < 0 || s.excludedInterfaces > 7)
    r.Fail("bad profile bits");
  s.noWindowsFirewall = r.TakeFlag("absent", false);
}

std::optional<LegacyProfile> LegacyProfileFromName(const std::string& name) {
  if (name == "domain") return LegacyProfile::Domain;
  if (name == "standard") return LegacyProfile::Standard;
  return std::nullopt;
}

void ReadRemoteAdmin(Record& r, HostState& s) {
  for (LegacyProfile p : {LegacyProfile::Domain, LegacyProfile::Standard})
    s.SetRemoteAdmin(p, r.TakeFlag(LegacyName(p), false));
}

void ReadAuthorisedApp(Record& r, HostState& s) {
  AuthorisedApp app;
  const auto profile = LegacyProfileFromName(r.TakeText("profile", "standard"));
  if (!profile) return r.Fail("bad authorised-app profile");
  app.profile = *profile;
  app.program = r.TakeText("program");
  if (app.program.empty()) return r.Fail("authorised-app without program");
  app.name = r.TakeText("name");
  app.enabled = r.TakeFlag("enabled", true);
  s.authorisedApps.push_back(std::move(app));
}

void ReadPolicySetting(Record& r, HostState& s) {
  PolicySetting setting;
  setting.key = r.TakeText("key");
  setting.name = r.TakeText("name");
  if (setting.key.empty() || setting.name.empty()) return r.Fail("policy without key or name");
  if (auto number = r.Take("dword")) {
    unsigned long value = 0;
    auto [end, ec] = std::from_chars(number->data(), number->data() + number->size(), value);
    if (ec != std::errc() || end != number->data() + number->size()) return r.Fail("bad policy dword");
    setting.number = value;
  } else {
    setting.text = r.TakeText("text");
  }
  s.groupPolicy.push_back(std::move(setting));
}

void ReadFaults(Record& r, HostState& s) {
  s.refusePolicy2 = r.TakeText("policy2", "allow") == "refuse";
  s.refuseLegacyManager = r.TakeText("legacy-manager", "allow") == "refuse";
  s.refuseAddNumber = static_cast<int>(r.TakeNumber("refuse-add", 0));
  s.addsSeen = static_cast<int>(r.TakeNumber("adds", 0));
  std::string changes = r.TakeText("changes", "allow");
  if (changes != "allow" && changes != "deny") return r.Fail("bad changes setting " + changes);
  s.denyChanges = changes == "deny";
}

// Hexadecimal with 0x (as HRESULTs are written) or decimal.
std::optional<long> ParseCode(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  unsigned long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > 0xFFFFFFFFUL)
    return std::nullopt;
  return static_cast<long>(static_cast<int32_t>(static_cast<uint32_t>(value)));
}

std::string CodeText(long code) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text = "0x";
  const auto value = static_cast<uint32_t>(code);
  for (int shift = 28; shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xF];
  return text;
}

void ReadPlannedFault(Record& r, HostState& s) {
  PlannedFault fault;
  fault.call = r.TakeText("call");
  if (fault.call.empty()) return r.Fail("fault without call");
  fault.nth = static_cast<int>(r.TakeNumber("nth", 0));
  auto hr = ParseCode(r.TakeText("hr", "0"));
  if (!hr) return r.Fail("bad fault hr");
  fault.hr = *hr;
  if (auto value = r.Take("value")) {
    fault.value = ParseCode(*value);
    if (!fault.value) return r.Fail("bad fault value");
  }
  fault.rule = r.TakeText("rule");
  fault.seen = static_cast<int>(r.TakeNumber("seen", 0));
  if (fault.nth < 0 || fault.seen < 0) return r.Fail("bad fault count");
  s.faultPlan.push_back(std::move(fault));
}

void ReadNetsh(Record& r, HostState& s) {
  std::string mode = r.TakeText("mode", "normal");
  if (mode == "normal")
    s.netsh.mode = NetshMode::Normal;
  else if (mode == "fail")
    s.netsh.mode = NetshMode::Fail;
  else if (mode == "hang")
    s.netsh.mode = NetshMode::Hang;
  else
    return r.Fail("bad netsh mode " + mode);
  s.netsh.hangSeconds = static_cast<int>(r.TakeNumber("hang-seconds", 30));
  s.netsh.faultyCalls = static_cast<int>(r.TakeNumber("faulty-calls", 0));
}

void ReadService(Record& r, HostState& s) {
  ServiceSetup service;
  service.name = r.TakeText("name");
  if (service.name.empty()) return r.Fail("service without name");
  auto behaviour = BehaviourFromName(r.TakeText("start", "immediate"));
  if (!behaviour) return r.Fail("bad service start behaviour");
  service.behaviour = *behaviour;
  service.pendingRounds = static_cast<int>(r.TakeNumber("pending-rounds", 0));
  service.initialStartType = static_cast<unsigned long>(r.TakeNumber("initial-start-type", 3));
  service.recordedState = r.TakeText("state", "stopped");
  service.starts = static_cast<int>(r.TakeNumber("starts", 0));
  s.services.push_back(std::move(service));
}

// A dump's report of the service control manager, for a service named before.
void ReadScm(Record& r, HostState& s) {
  const std::string name = r.TakeText("name");
  ServiceSetup* service = s.FindService(name);
  if (!service) return r.Fail("scm line for unknown service " + name);
  ScmReport report;
  report.installed = r.TakeFlag("installed", false);
  if (report.installed) {
    auto startType = StartTypeFromName(r.TakeText("start-type", "unknown"));
    if (!startType) return r.Fail("bad scm start-type");
    report.startType = *startType;
    report.state = r.TakeText("state");
  }
  service->scm = report;
}

void ReadOpenPort(Record& r, HostState& s) {
  OpenPort port;
  std::string profile = r.TakeText("profile", "standard");
  if (profile == "domain")
    port.profile = LegacyProfile::Domain;
  else if (profile == "standard")
    port.profile = LegacyProfile::Standard;
  else
    return r.Fail("bad open-port profile " + profile);
  port.port = r.TakeNumber("port", 0);
  std::string protocol = r.TakeText("protocol", "TCP");
  if (protocol == "TCP")
    port.protocol = 6;
  else if (protocol == "UDP")
    port.protocol = 17;
  else
    return r.Fail("bad open-port protocol " + protocol);
  port.name = r.TakeText("name");
  port.enabled = r.TakeFlag("enabled", true);
  port.scope = r.TakeText("scope", "ALL");
  port.addresses = r.TakeText("addresses", "");
  s.openPorts.push_back(std::move(port));
}

void ReadRule(Record& r, HostState& s) {
  FirewallRule rule;
  const std::string item = r.TakeText("item", "rule");
  if (item == "object")
    rule.item = RuleItem::Object;
  else if (item == "value")
    rule.item = RuleItem::Value;
  else if (item != "rule")
    return r.Fail("bad rule item " + item);
  rule.name = r.TakeText("name");
  rule.description = r.TakeText("description");
  rule.grouping = r.TakeText("grouping");
  rule.applicationName = r.TakeText("application");
  rule.serviceName = r.TakeText("service");
  rule.protocol = r.TakeNumber("protocol", rule.protocol);
  rule.localPorts = r.TakeText("local-ports");
  rule.remotePorts = r.TakeText("remote-ports");
  rule.localAddresses = r.TakeText("local-addresses", rule.localAddresses);
  rule.remoteAddresses = r.TakeText("remote-addresses", rule.remoteAddresses);
  rule.icmpTypesAndCodes = r.TakeText("icmp");
  rule.interfaceTypes = r.TakeText("interface-types", rule.interfaceTypes);
  std::string direction = r.TakeText("direction", "in");
  if (direction == "in")
    rule.direction = 1;
  else if (direction == "out")
    rule.direction = 2;
  else
    return r.Fail("bad rule direction " + direction);
  std::string action = r.TakeText("action", "allow");
  if (action == "block")
    rule.action = 0;
  else if (action == "allow")
    rule.action = 1;
  else
    return r.Fail("bad rule action " + action);
  rule.profiles = r.TakeNumber("profiles", rule.profiles);
  rule.enabled = r.TakeFlag("enabled", rule.enabled);
  rule.edgeTraversal = r.TakeFlag("edge-traversal", rule.edgeTraversal);
  s.rules.push_back(std::move(rule));
}

}  // namespace

long ProfileBit(Profile profile) { return 1L << static_cast<int>(profile); }

std::optional<Profile> ProfileFromBit(long bit) {
  for (int i = 0; i < kProfileCount; ++i)
    if (bit == (1L << i)) return static_cast<Profile>(i);
  return std::nullopt;
}

ServiceSetup* HostState::FindService(std::string_view name) {
  for (auto& s : services)
    if (s.name == name) return &s;
  return nullptr;
}

ServiceException* HostState::FindServiceException(LegacyProfile profile, ServiceType type) {
  for (auto& e : serviceExceptions)
    if (e.profile == profile && e.type == type) return &e;
  return nullptr;
}

const ServiceSetup* HostState::FindService(std::string_view name) const {
  return const_cast<HostState*>(this)->FindService(name);
}

const ServiceException* HostState::FindServiceException(LegacyProfile profile, ServiceType type) const {
  return const_cast<HostState*>(this)->FindServiceException(profile, type);
}

const OpenPort* HostState::FindOpenPort(LegacyProfile profile, long port, long protocol) const {
  return const_cast<HostState*>(this)->FindOpenPort(profile, port, protocol);
}

bool HostState::ServiceRunning(std::string_view name) const {
  const ServiceSetup* service = FindService(name);
  return service && service->recordedState == "running";
}

bool PlansFor(const std::vector<PlannedFault>& plan, std::string_view call) {
  return std::any_of(plan.begin(), plan.end(), [&](const PlannedFault& f) { return f.call == call; });
}

PlannedAnswer TakePlannedAnswer(std::vector<PlannedFault>& plan, std::string_view call, std::string_view rule) {
  PlannedAnswer answer;
  bool answered = false;
  for (PlannedFault& fault : plan) {
    if (fault.call != call || (!fault.rule.empty() && fault.rule != rule)) continue;
    ++fault.seen;
    if (answered || (fault.nth != 0 && fault.nth != fault.seen)) continue;
    answer = {fault.hr, fault.value};
    answered = true;
  }
  return answer;
}

long HostState::CurrentProfileTypes() const {
  return currentProfileTypes ? currentProfileTypes : ProfileBit(currentProfile);
}

bool ServiceException::Enabled() const {
  if (ports.empty()) return false;
  for (const auto& p : ports)
    if (!p.enabled) return false;
  return true;
}

void ServiceException::SetEnabled(bool on) {
  for (auto& p : ports) p.enabled = on;
}

std::vector<ServicePort> DefaultServicePorts(ServiceType type, bool enabled) {
  switch (type) {
    case ServiceType::FileAndPrint:
      return {{139, 6, enabled}, {445, 6, enabled}, {137, 17, enabled}, {138, 17, enabled}};
    case ServiceType::Upnp:
      return {{2869, 6, enabled}, {1900, 17, enabled}};
    default:
      return {{3389, 6, enabled}};
  }
}

const char* ServiceTypeName(ServiceType type) {
  switch (type) {
    case ServiceType::FileAndPrint:
      return "FILEANDPRINT";
    case ServiceType::Upnp:
      return "UPNP";
    default:
      return "REMOTEDESKTOP";
  }
}

const char* ServiceDisplayName(ServiceType type) {
  switch (type) {
    case ServiceType::FileAndPrint:
      return "File and Printer Sharing";
    case ServiceType::Upnp:
      return "UPnP Framework";
    default:
      return "Remote Desktop";
  }
}

std::optional<ServiceType> ServiceTypeFromName(std::string_view name) {
  for (auto t : {ServiceType::FileAndPrint, ServiceType::Upnp, ServiceType::RemoteDesktop})
    if (name == ServiceTypeName(t)) return t;
  return std::nullopt;
}

OpenPort* HostState::FindOpenPort(LegacyProfile profile, long port, long protocol) {
  for (auto& p : openPorts)
    if (p.profile == profile && p.port == port && p.protocol == protocol) return &p;
  return nullptr;
}

LegacyProfile CurrentLegacyProfile(const HostState& state) {
  return state.currentProfile == Profile::Domain ? LegacyProfile::Domain : LegacyProfile::Standard;
}

Profile AdvancedProfileOf(LegacyProfile legacy, const HostState& state) {
  if (legacy == LegacyProfile::Domain) return Profile::Domain;
  return state.currentProfile == Profile::Domain ? Profile::Private : state.currentProfile;
}

const char* BehaviourName(StartBehaviour behaviour) {
  switch (behaviour) {
    case StartBehaviour::Pending:
      return "pending";
    case StartBehaviour::Stuck:
      return "stuck";
    case StartBehaviour::Refusing:
      return "refusing";
    case StartBehaviour::Missing:
      return "missing";
    default:
      return "immediate";
  }
}

std::optional<StartBehaviour> BehaviourFromName(std::string_view name) {
  for (auto b : {StartBehaviour::Immediate, StartBehaviour::Pending, StartBehaviour::Stuck, StartBehaviour::Refusing,
                 StartBehaviour::Missing})
    if (name == BehaviourName(b)) return b;
  return std::nullopt;
}

constexpr unsigned long kUnknownStartType = 0xFFFFFFFF;

const char* StartTypeName(unsigned long startType) {
  switch (startType) {
    case 0:
      return "boot";
    case 1:
      return "system";
    case 2:
      return "auto";
    case 3:
      return "demand";
    case 4:
      return "disabled";
    default:
      return "unknown";
  }
}

std::optional<unsigned long> StartTypeFromName(std::string_view name) {
  for (unsigned long t = 0; t <= 4; ++t)
    if (name == StartTypeName(t)) return t;
  if (name == "unknown") return kUnknownStartType;
  return std::nullopt;
}

std::string SerializeState(const HostState& s) {
  std::string out;
  out += kHeader;
  out += '\n';
  {
    LineWriter line(out, "host");
    line.Field("scenario", s.scenario).Field("current-profile", ProfileName(s.currentProfile));
    if (s.currentProfileTypes) line.Field("current-profile-types", s.currentProfileTypes);
  }
  {
    LineWriter line(out, "firewall");
    for (int i = 0; i < kProfileCount; ++i) line.Field(kProfileNames[i], s.firewallOn[i] ? "on" : "off");
    if (s.heldByGroupPolicy) line.Field("group-policy", s.heldByGroupPolicy);
    if (s.firewallNeedsService) line.Flag("needs-service", true);
    if (s.legacyServedByMpsSvc) line.Flag("legacy-mpssvc", true);
    if (s.blockAllInbound) line.Field("block-all", s.blockAllInbound);
    if (s.excludedInterfaces) line.Field("excluded", s.excludedInterfaces);
    if (s.noWindowsFirewall) line.Flag("absent", true);
  }
  {
    LineWriter line(out, "faults");
    line.Field("policy2", s.refusePolicy2 ? "refuse" : "allow")
        .Field("legacy-manager", s.refuseLegacyManager ? "refuse" : "allow")
        .Field("refuse-add", s.refuseAddNumber)
        .Field("adds", s.addsSeen);
    if (s.denyChanges) line.Field("changes", "deny");
  }
  for (const auto& f : s.faultPlan) {
    LineWriter line(out, "fault");
    line.Field("call", f.call).Field("nth", f.nth).Field("hr", CodeText(f.hr));
    if (f.value) line.Field("value", CodeText(*f.value));
    if (!f.rule.empty()) line.Field("rule", f.rule);
    line.Field("seen", f.seen);
  }
  LineWriter(out, "legacy-exceptions")
      .Field("domain", s.ExceptionsNotAllowed(LegacyProfile::Domain) ? "none" : "allowed")
      .Field("standard", s.ExceptionsNotAllowed(LegacyProfile::Standard) ? "none" : "allowed");
  LineWriter(out, "remote-admin")
      .Flag("domain", s.RemoteAdmin(LegacyProfile::Domain))
      .Flag("standard", s.RemoteAdmin(LegacyProfile::Standard));
  for (const auto& a : s.authorisedApps)
    LineWriter(out, "authorised-app")
        .Field("profile", LegacyName(a.profile))
        .Field("program", a.program)
        .Field("name", a.name)
        .Flag("enabled", a.enabled);
  for (const auto& g : s.groupPolicy) {
    LineWriter line(out, "policy");
    line.Field("key", g.key).Field("name", g.name);
    if (g.number)
      line.Field("dword", static_cast<long>(*g.number));
    else
      line.Field("text", g.text);
  }
  LineWriter(out, "netsh")
      .Field("mode", ModeName(s.netsh.mode))
      .Field("hang-seconds", s.netsh.hangSeconds)
      .Field("faulty-calls", s.netsh.faultyCalls);
  for (const auto& v : s.services)
    LineWriter(out, "service")
        .Field("name", v.name)
        .Field("start", BehaviourName(v.behaviour))
        .Field("pending-rounds", v.pendingRounds)
        .Field("initial-start-type", static_cast<long>(v.initialStartType))
        .Field("state", v.recordedState)
        .Field("starts", v.starts);
  for (const auto& p : s.openPorts)
    LineWriter(out, "open-port")
        .Field("profile", LegacyName(p.profile))
        .Field("port", p.port)
        .Field("protocol", p.protocol == 17 ? "UDP" : "TCP")
        .Field("name", p.name)
        .Flag("enabled", p.enabled)
        .Field("scope", p.scope)
        .Field("addresses", p.addresses);
  for (const auto& e : s.serviceExceptions) {
    std::string ports;
    for (const auto& p : e.ports) {
      if (!ports.empty()) ports += ',';
      ports += std::string(p.protocol == 17 ? "UDP " : "TCP ") + std::to_string(p.port) + (p.enabled ? " on" : " off");
    }
    LineWriter(out, "service-exception")
        .Field("profile", LegacyName(e.profile))
        .Field("type", ServiceTypeName(e.type))
        .Field("scope", e.scope)
        .Field("ports", ports);
  }
  for (const auto& r : s.rules) {
    LineWriter line(out, "rule");
    if (r.item != RuleItem::Rule) line.Field("item", r.item == RuleItem::Object ? "object" : "value");
    line.Field("name", r.name)
        .Field("description", r.description)
        .Field("grouping", r.grouping)
        .Field("application", r.applicationName)
        .Field("service", r.serviceName)
        .Field("protocol", r.protocol)
        .Field("local-ports", r.localPorts)
        .Field("remote-ports", r.remotePorts)
        .Field("local-addresses", r.localAddresses)
        .Field("remote-addresses", r.remoteAddresses)
        .Field("icmp", r.icmpTypesAndCodes)
        .Field("interface-types", r.interfaceTypes)
        .Field("direction", r.direction == 2 ? "out" : "in")
        .Field("action", r.action == 0 ? "block" : "allow")
        .Field("profiles", r.profiles)
        .Flag("enabled", r.enabled)
        .Flag("edge-traversal", r.edgeTraversal);
  }
  for (const auto& line : s.netshLog) LineWriter(out, "netsh-log").Field("line", line);
  for (const auto& v : s.services) {
    if (!v.scm) continue;
    LineWriter line(out, "scm");
    line.Field("name", v.name).Flag("installed", v.scm->installed);
    if (v.scm->installed) line.Field("start-type", StartTypeName(v.scm->startType)).Field("state", v.scm->state);
  }
  if (s.windowsVersion) LineWriter(out, "windows-version").Field("quillfort", *s.windowsVersion);
  if (s.productType != "WinNT") LineWriter(out, "product").Field("type", s.productType);
  for (const Share& share : s.shares)
    LineWriter(out, "share")
        .Field("name", share.name)
        .Field("kind", kShareKindNames[static_cast<int>(share.kind)])
        .Flag("special", share.special)
        .Field("remark", share.remark);
  return out;
}

ParseResult ParseState(std::string_view text) {
  HostState state;
  int lineNumber = 0;
  bool sawHeader = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    std::string_view line = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    pos = end == std::string_view::npos ? text.size() : end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    if (!sawHeader) {
      if (line != kHeader) return {std::nullopt, "line " + std::to_string(lineNumber) + ": not a testbed state"};
      sawHeader = true;
      continue;
    }
    Record r = SplitRecord(line);
    if (r.kind == "host")
      ReadHost(r, state);
    else if (r.kind == "firewall")
      ReadFirewall(r, state);
    else if (r.kind == "faults")
      ReadFaults(r, state);
    else if (r.kind == "netsh")
      ReadNetsh(r, state);
    else if (r.kind == "fault")
      ReadPlannedFault(r, state);
    else if (r.kind == "service")
      ReadService(r, state);
    else if (r.kind == "legacy-exceptions")
      ReadLegacyExceptions(r, state);
    else if (r.kind == "open-port")
      ReadOpenPort(r, state);
    else if (r.kind == "remote-admin")
      ReadRemoteAdmin(r, state);
    else if (r.kind == "authorised-app")
      ReadAuthorisedApp(r, state);
    else if (r.kind == "policy")
      ReadPolicySetting(r, state);
    else if (r.kind == "service-exception")
      ReadServiceException(r, state);
    else if (r.kind == "rule")
      ReadRule(r, state);
    else if (r.kind == "netsh-log")
      state.netshLog.push_back(r.TakeText("line"));
    else if (r.kind == "scm")
      ReadScm(r, state);
    else if (r.kind == "windows-version")
      state.windowsVersion = r.TakeText("quillfort");
    else if (r.kind == "product")
      state.productType = r.TakeText("type", "WinNT");
    else if (r.kind == "share")
      ReadShare(r, state);
    else
      r.Fail("unknown line kind " + r.kind);
    r.RejectLeftovers();
    if (!r.error.empty()) return {std::nullopt, "line " + std::to_string(lineNumber) + ": " + r.error};
  }
  if (!sawHeader) return {std::nullopt, "empty state"};
  return {std::move(state), {}};
}

}  // namespace testbed
