#include "hardening/hardening_preview.h"

#include "hardening/hardening_outcome.h"
#include "hardening/host_access.h"
#include "hardening/rule_identity.h"

namespace qf::hardening {

namespace {

constexpr long kScopeAll = 0;  // NET_FW_SCOPE_ALL

// ASCII only: netsh's words; no locale (and none of its code in the programs).
std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  for (char c : line + " ") {
    if (c == ' ' || c == '\t') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  return words;
}

// One `netsh firewall set WHAT key = value ...` line: WHAT and its pairs.
struct NetshLine {
  std::string what;
  std::vector<std::pair<std::string, std::string>> values;  // keys upper case
  const std::string* Find(const char* key) const {
    for (const auto& value : values) {
      if (value.first == key) return &value.second;
    }
    return nullptr;
  }
};

std::optional<NetshLine> ParseNetshLine(const std::string& commandLine) {
  const std::vector<std::string> tokens = Words(commandLine);
  if (tokens.size() < 4 || Upper(tokens[1]) != "FIREWALL" || Upper(tokens[2]) != "SET") return std::nullopt;
  NetshLine line{Upper(tokens[3]), {}};
  std::size_t i = 4;
  // "set opmode enable": a bare value names the mode.
  if (i < tokens.size() && (i + 1 >= tokens.size() || tokens[i + 1] != "="))
    line.values.push_back({"MODE", Upper(tokens[i++])});
  for (; i + 2 < tokens.size(); i += 3) {
    if (tokens[i + 1] != "=") return std::nullopt;
    line.values.push_back({Upper(tokens[i]), tokens[i + 2]});
  }
  if (i != tokens.size()) return std::nullopt;
  return line;
}

std::string ValueOr(const NetshLine& line, const char* key, const char* fallback) {
  const std::string* found = line.Find(key);
  return found == nullptr ? fallback : *found;
}

// The legacy profiles a command acts on; nullopt when unknown.
std::optional<std::vector<std::size_t>> ProfilesOf(const NetshLine& line, std::optional<long> current) {
  const std::string profile = Upper(ValueOr(line, "PROFILE", "CURRENT"));
  if (profile == "ALL") return std::vector<std::size_t>{0, 1};
  if (profile == "DOMAIN") return std::vector<std::size_t>{0};
  if (profile == "STANDARD") return std::vector<std::size_t>{1};
  if (profile == "CURRENT" && current && *current >= 0 && *current < 2) {
    return std::vector<std::size_t>{static_cast<std::size_t>(*current)};
  }
  return std::nullopt;
}

long ScopeOf(const std::string& word) {
  const std::string scope = Upper(word);
  return scope == "ALL" ? 0 : scope == "SUBNET" ? 1 : 2;
}

// Applies a port-closing command to the legacy profiles as read; true when
// anything in them changes, or when the command's effect cannot be told.
bool ApplyNetshCommand(const std::string& commandLine, std::optional<long> current,
                       std::array<LegacyProfileSnapshot, 2>& legacy) {
  const std::optional<NetshLine> line = ParseNetshLine(commandLine);
  if (!line) return true;
  const auto profiles = ProfilesOf(*line, current);
  if (!profiles) return true;
  const bool enable = Upper(ValueOr(*line, "MODE", "ENABLE")) == "ENABLE";
  const long scope = ScopeOf(ValueOr(*line, "SCOPE", "ALL"));
  bool changed = false;
  for (std::size_t p : *profiles) {
    LegacyProfileSnapshot& profile = legacy[p];
    if (line->what == "OPMODE") {
      changed |= profile.firewallOn != enable;
      profile.firewallOn = enable;
    } else if (line->what == "SERVICE" && Upper(ValueOr(*line, "TYPE", "")) == "FILEANDPRINT") {
      // Addresses are the scope's own unless it is custom, which these commands never set.
      changed |=
          !profile.fileAndPrintKnown || profile.fileAndPrintEnabled != enable || profile.fileAndPrintScope != scope;
      profile.fileAndPrintKnown = true;
      profile.fileAndPrintEnabled = enable;
      profile.fileAndPrintScope = scope;
    } else if (line->what == "SERVICE" && Upper(ValueOr(*line, "TYPE", "")) == "REMOTEADMIN") {
      changed |= !profile.remoteAdminKnown || profile.remoteAdminEnabled != enable;
      profile.remoteAdminKnown = true;
      profile.remoteAdminEnabled = enable;
    } else if (line->what == "PORTOPENING") {
      const std::string protocol = Upper(ValueOr(*line, "PROTOCOL", "ALL"));
      const std::string port = ValueOr(*line, "PORT", "");
      const std::wstring name(port.begin(), port.end());
      bool found = false;
      for (LegacyOpening& opening : profile.openings) {
        if (std::to_string(opening.port) != port) continue;
        if (protocol != "ALL" && (protocol == "TCP") != (opening.protocol == kProtocolTcp)) continue;
        found = true;
        // A missing opening is added, as the platform does for set.
        const std::wstring newName = line->Find("NAME") != nullptr ? name : opening.name;
        changed |= !opening.exists || opening.enabled != enable || opening.scope != scope || opening.name != newName;
        opening.exists = true;
        opening.enabled = enable;
        opening.scope = scope;
        opening.name = newName;
      }
      if (!found) return true;
    } else {
      return true;
    }
  }
  return changed;
}

class Preview {
 public:
  explicit Preview(const PreviewInput& input) : input_(input), host_(input.host) {
    result_.hostClass = host_.hostClass;
  }

  HardeningPreview Build() {
    ReadParts();
    for (const HardeningStep& step : HardeningPlan(host_.hostClass)) {
      const bool changes = Step(step);
      if (changes) changedParts_ |= PartChangedBy(step.action, host_.hostClass);
    }
    PlanRestorePoint();
    return result_;
  }

 private:
  void ReadParts() {
    for (const ServiceSnapshot& service : host_.services) {
      if (!service.read) result_.unread.push_back({"ReadService " + service.name, kStepFailedWithoutCode});
    }
    const unsigned parts = PartsOfPath(host_.hostClass);
    if ((parts & kAdvancedPart) && !host_.advancedRead) {
      if (ServiceStopped()) {
        result_.readOnceServiceRuns |= kAdvancedPart;
        host_.advancedRead = true;
        host_.profileOn.fill(false);
        host_.quillfortRules.clear();
      } else {
        result_.unread.push_back(
            {"ReadFirewallPolicy", host_.advancedError != 0 ? host_.advancedError : kStepFailedWithoutCode});
      }
    }
    if ((parts & kLegacyPart) && !host_.LegacyRead()) {
      if (ServiceStopped()) {
        // Every command then counts as a change: nothing of the profiles is known.
        result_.readOnceServiceRuns |= kLegacyPart;
      } else {
        result_.unread.push_back(
            {"ReadLegacyFirewall", host_.legacyError != 0 ? host_.legacyError : kStepFailedWithoutCode});
      }
    }
  }

  // The path's firewall service is there and stopped: the run starts it
  // before it reads or changes the firewall.
  bool ServiceStopped() const {
    const ServiceSnapshot* service = host_.FindService(
        HardensThroughAdvancedPolicy(host_.hostClass) ? kAdvancedFirewallService : kLegacyFirewallService);
    return service != nullptr && service->read && service->present && !service->running;
  }

  bool Step(const HardeningStep& step) {
    switch (step.action) {
      case HardeningAction::SetServiceStartType:
      case HardeningAction::StartServiceAndWait:
        return ServiceStep(step);
      case HardeningAction::TurnOnLegacyFirewall:
        return LegacySwitchStep();
      case HardeningAction::EnableAdvancedFirewall: {
        bool changes = false;
        for (long profile : {4L, 2L}) changes |= SwitchAdvanced(profile);
        return changes;
      }
      case HardeningAction::AddBlockRule:
        return RuleStep(step);
      case HardeningAction::RunSystemCommand:
        return CommandStep(step);
      default:
        return false;
    }
  }

  bool ServiceStep(const HardeningStep& step) {
    const ServiceSnapshot* service = host_.FindService(step.text);
    if (service == nullptr || !service->read) return false;
    PlannedServiceChange change{step.text, step.action == HardeningAction::StartServiceAndWait, std::nullopt,
                                service->present};
    if (!change.start) {
      if (service->present && service->startType == kServiceAutoStart) return false;
      if (service->present) change.fromStartType = service->startType;
    } else if (service->present && service->running) {
      return false;
    }
    result_.services.push_back(change);
    return service->present;
  }

  bool SwitchAdvanced(long profileBit) {
    if (!host_.advancedRead) return false;
    for (std::size_t i = 0; i < kAdvancedProfiles.size(); ++i) {
      if (kAdvancedProfiles[i] != profileBit) continue;
      if (host_.profileOn[i].value_or(false)) return false;
      host_.profileOn[i] = true;
      result_.switches.push_back({AdvancedProfileName(i), false});
      return true;
    }
    return false;
  }

  bool LegacySwitchStep() {
    if (HardensThroughAdvancedPolicy(host_.hostClass)) {
      // On Vista and later the legacy switch is the current profile's advanced one.
      return input_.current && SwitchAdvanced(AdvancedProfileOfLegacySwitch(*input_.current));
    }
    if (!input_.current || *input_.current < 0 || *input_.current > 1) return false;
    LegacyProfileSnapshot& profile = host_.legacy[static_cast<std::size_t>(*input_.current)];
    if (!profile.read || profile.firewallOn) return false;
    profile.firewallOn = true;
    result_.switches.push_back({LegacyProfileName(static_cast<std::size_t>(*input_.current)), true});
    return true;
  }

  bool RuleStep(const HardeningStep& step) {
    if (!host_.advancedRead) return false;
    const std::optional<qf::firewall::RuleRecord> intended =
        qf::firewall::IntendedBlockRule(step.number, step.portText);
    if (!intended) return false;
    if (input_.skipIdenticalRules && HoldsIdenticalBlockRule(host_.quillfortRules, *intended)) {
      ++result_.rulesAlreadyPresent;
      return false;
    }
    host_.quillfortRules.push_back(*intended);
    result_.rulesToAdd.push_back(*intended);
    return true;
  }

  bool CommandStep(const HardeningStep& step) {
    const bool changes = !host_.LegacyRead() || ApplyNetshCommand(step.text, input_.current, host_.legacy);
    result_.commands.push_back({step.text, changes});
    return changes && (host_.LegacyRead() || (result_.readOnceServiceRuns & kLegacyPart) != 0);
  }

  // A run saves the restore point before its first change unless there is
  // one, and adds to it each part it changes for the first time; a run that
  // changed nothing takes back the restore point it saved.
  void PlanRestorePoint() {
    result_.restorePointExists = input_.restorePoint != RestorePointFound::None;
    const bool anything = result_.WouldChange();
    if (input_.restorePoint == RestorePointFound::Unusable) {
      result_.restorePointProblem = input_.restorePointProblem;
      if (anything) result_.restorePoint = RestorePointWrite::Refused;
      return;
    }
    if (!anything) return;
    if (input_.restorePoint == RestorePointFound::None) {
      result_.restorePoint = RestorePointWrite::Save;
      result_.restorePointParts = PartsOfPath(host_.hostClass);
      return;
    }
    const unsigned missing = changedParts_ & ~input_.restorePointParts & ~kServicesPart;
    if (missing != 0) {
      result_.restorePoint = RestorePointWrite::AddParts;
      result_.restorePointParts = missing;
    }
  }

  const PreviewInput& input_;
  HostSnapshot host_;  // as the run would leave it, step by step
  HardeningPreview result_;
  unsigned changedParts_ = 0;
};

}  // namespace

bool HardeningPreview::WouldChange() const {
  for (const PlannedServiceChange& service : services) {
    if (service.present) return true;
  }
  if (!switches.empty() || !rulesToAdd.empty()) return true;
  for (const PlannedCommand& command : commands) {
    if (command.changes) return true;
  }
  return false;
}

HardeningPreview PreviewHardening(const PreviewInput& input) { return Preview(input).Build(); }

std::vector<std::string> PartNames(unsigned parts) {
  std::vector<std::string> names;
  if (parts & kServicesPart) names.push_back("services");
  if (parts & kAdvancedPart) names.push_back("firewall policy");
  if (parts & kLegacyPart) names.push_back("legacy profiles");
  return names;
}

}  // namespace qf::hardening
