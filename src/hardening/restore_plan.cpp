#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "hardening/host_snapshot.h"
#include "hardening/rule_identity.h"

namespace qf::hardening {

namespace {

using qf::firewall::RuleRecord;

const char* ProtocolWord(long protocol) { return protocol == 17 ? "UDP" : "TCP"; }

// Rules of ours that are there now and were not when the restore point was
// saved, counted with their copies: what the runs since have added. A rule
// narrowed by anyone, or one the restore point already had, is not.
std::vector<RuleRecord> RulesAddedSince(const HostSnapshot& saved, const HostSnapshot& now) {
  std::vector<bool> matched(saved.quillfortRules.size(), false);
  std::vector<RuleRecord> added;
  for (const RuleRecord& rule : now.quillfortRules) {
    bool known = false;
    for (std::size_t i = 0; i < saved.quillfortRules.size() && !known; ++i) {
      if (!matched[i] && SameRecordedRule(saved.quillfortRules[i], rule)) matched[i] = known = true;
    }
    if (!known && IsQuillfortBlockRule(rule)) added.push_back(rule);
  }
  return added;
}

const LegacyOpening* FindOpening(const LegacyProfileSnapshot& profile, const LegacyOpening& like) {
  auto found = std::find_if(profile.openings.begin(), profile.openings.end(),
                            [&](const LegacyOpening& o) { return o.port == like.port && o.protocol == like.protocol; });
  return found == profile.openings.end() ? nullptr : &*found;
}

bool OpeningIsBack(const LegacyProfileSnapshot& now, const LegacyOpening& saved) {
  const LegacyOpening* current = FindOpening(now, saved);
  return current != nullptr ? *current == saved : !saved.exists;
}

bool FileAndPrintIsBack(const LegacyProfileSnapshot& saved, const LegacyProfileSnapshot& now) {
  if (!saved.fileAndPrintKnown) return true;
  return now.fileAndPrintKnown && saved.fileAndPrintEnabled == now.fileAndPrintEnabled &&
         saved.fileAndPrintScope == now.fileAndPrintScope &&
         (saved.fileAndPrintScope != 2 || saved.fileAndPrintAddresses == now.fileAndPrintAddresses);
}

bool RemoteAdminIsBack(const LegacyProfileSnapshot& saved, const LegacyProfileSnapshot& now) {
  return !saved.remoteAdminKnown || (now.remoteAdminKnown && saved.remoteAdminEnabled == now.remoteAdminEnabled);
}

std::string OnOff(bool on) { return on ? "on" : "off"; }

}  // namespace

RestorePlan PlanRestore(const HostSnapshot& saved, const HostSnapshot& now) {
  RestorePlan plan;
  auto add = [&](RestoreActionKind kind) -> RestoreAction& {
    RestoreAction action;
    action.kind = kind;
    plan.actions.push_back(std::move(action));
    return plan.actions.back();
  };

  if (saved.advancedRead && !now.advancedRead) {
    plan.unread.push_back({"ReadFirewallPolicy", now.advancedError != 0 ? now.advancedError : 0x80004005u});
  } else if (saved.advancedRead) {
    for (const RuleRecord& rule : RulesAddedSince(saved, now)) add(RestoreActionKind::RemoveRule).rule = rule;
    for (std::size_t i = 0; i < saved.profileOn.size(); ++i) {
      if (!saved.profileOn[i] || !now.profileOn[i] || *saved.profileOn[i] == *now.profileOn[i]) continue;
      RestoreAction& action = add(RestoreActionKind::SetProfileSwitch);
      action.profile = kAdvancedProfiles[i];
      action.on = *saved.profileOn[i];
    }
  }

  if (saved.LegacyRead() && !now.LegacyRead()) {
    plan.unread.push_back({"ReadLegacyFirewall", now.legacyError != 0 ? now.legacyError : 0x80004005u});
  } else if (saved.LegacyRead()) {
    for (std::size_t p = 0; p < saved.legacy.size(); ++p) {
      const LegacyProfileSnapshot& before = saved.legacy[p];
      const LegacyProfileSnapshot& after = now.legacy[p];
      for (const LegacyOpening& opening : before.openings) {
        if (OpeningIsBack(after, opening)) continue;
        RestoreAction& action = add(RestoreActionKind::PutOpeningBack);
        action.profile = kLegacyProfiles[p];
        action.opening = opening;
      }
      if (!FileAndPrintIsBack(before, after)) {
        RestoreAction& action = add(RestoreActionKind::SetFileAndPrint);
        action.profile = kLegacyProfiles[p];
        action.on = before.fileAndPrintEnabled;
        action.scope = before.fileAndPrintScope;
        action.text = before.fileAndPrintAddresses;
      }
      if (!RemoteAdminIsBack(before, after)) {
        RestoreAction& action = add(RestoreActionKind::SetRemoteAdmin);
        action.profile = kLegacyProfiles[p];
        action.on = before.remoteAdminEnabled;
      }
      // The switch last: the openings are put back while the firewall guards them.
      if (before.firewallOn != after.firewallOn) {
        RestoreAction& action = add(RestoreActionKind::SetLegacyFirewall);
        action.profile = kLegacyProfiles[p];
        action.on = before.firewallOn;
      }
    }
  }

  for (const ServiceSnapshot& before : saved.services) {
    const ServiceSnapshot* after = now.FindService(before.name);
    if (after == nullptr || !after->read) {
      plan.unread.push_back({"ReadService " + before.name, 0x80004005u});
    }
  }
  // A firewall part that cannot be put back needs its service running: the
  // services wait for a retry.
  if (!plan.unread.empty()) return plan;
  for (const ServiceSnapshot& before : saved.services) {
    const ServiceSnapshot* after = now.FindService(before.name);
    if (!before.present || !after->present || before.startType == after->startType) continue;
    RestoreAction& action = add(RestoreActionKind::SetStartType);
    action.service = before.name;
    action.number = before.startType;
  }
  for (const ServiceSnapshot& before : saved.services) {
    const ServiceSnapshot* after = now.FindService(before.name);
    if (before.present && after->present && !before.running && after->running) {
      add(RestoreActionKind::StopService).service = before.name;
    }
  }
  return plan;
}

std::vector<std::string> RestoreDifferences(const HostSnapshot& saved, const HostSnapshot& now) {
  std::vector<std::string> differences;
  if (saved.advancedRead && !now.advancedRead) differences.push_back("firewall policy unread");
  if (saved.advancedRead && now.advancedRead) {
    for (const RuleRecord& rule : RulesAddedSince(saved, now)) {
      differences.push_back("rule " + Utf8(rule.name) + " still present");
    }
    for (std::size_t i = 0; i < saved.profileOn.size(); ++i) {
      if (!saved.profileOn[i] || saved.profileOn[i] == now.profileOn[i]) continue;
      differences.push_back(std::string(AdvancedProfileName(i)) + " firewall " +
                            (now.profileOn[i] ? OnOff(*now.profileOn[i]) : "unread") + " (was " +
                            OnOff(*saved.profileOn[i]) + ")");
    }
  }
  if (saved.LegacyRead() && !now.LegacyRead()) differences.push_back("legacy firewall unread");
  if (saved.LegacyRead() && now.LegacyRead()) {
    for (std::size_t p = 0; p < saved.legacy.size(); ++p) {
      const std::string profile = LegacyProfileName(p);
      for (const LegacyOpening& opening : saved.legacy[p].openings) {
        if (!OpeningIsBack(now.legacy[p], opening)) {
          differences.push_back(profile + " opening " + std::to_string(opening.port) + " " +
                                ProtocolWord(opening.protocol) + " not as it was");
        }
      }
      if (!FileAndPrintIsBack(saved.legacy[p], now.legacy[p])) {
        differences.push_back(profile + " File and Printer Sharing not as it was");
      }
      if (!RemoteAdminIsBack(saved.legacy[p], now.legacy[p])) {
        differences.push_back(profile + " Remote Administration not as it was");
      }
      if (saved.legacy[p].firewallOn != now.legacy[p].firewallOn) {
        differences.push_back(profile + " firewall " + OnOff(now.legacy[p].firewallOn) + " (was " +
                              OnOff(saved.legacy[p].firewallOn) + ")");
      }
    }
  }
  for (const ServiceSnapshot& before : saved.services) {
    const ServiceSnapshot* after = now.FindService(before.name);
    if (after == nullptr || !after->read) {
      differences.push_back(before.name + " unread");
      continue;
    }
    if (!before.present || !after->present) continue;
    if (before.startType != after->startType) {
      differences.push_back(before.name + " start type " + std::to_string(after->startType) + " (was " +
                            std::to_string(before.startType) + ")");
    }
    if (!before.running && after->running) differences.push_back(before.name + " running (was stopped)");
  }
  return differences;
}

std::string RestoreActionName(const RestoreAction& action) {
  switch (action.kind) {
    case RestoreActionKind::RemoveRule:
      return "RemoveRule " + Utf8(action.rule.name);
    case RestoreActionKind::SetProfileSwitch:
      return std::string("SetFirewall ") +
             (action.profile == 1   ? "Domain"
              : action.profile == 2 ? "Private"
                                    : "Public") +
             (action.on ? " on" : " off");
    case RestoreActionKind::SetLegacyFirewall:
      return std::string("SetLegacyFirewall ") + LegacyProfileName(static_cast<std::size_t>(action.profile)) +
             (action.on ? " on" : " off");
    case RestoreActionKind::PutOpeningBack:
      return std::string(action.opening.exists ? "PutOpeningBack " : "RemoveOpening ") +
             LegacyProfileName(static_cast<std::size_t>(action.profile)) + " " + std::to_string(action.opening.port) +
             " " + ProtocolWord(action.opening.protocol);
    case RestoreActionKind::SetFileAndPrint:
      return std::string("SetFileAndPrint ") + LegacyProfileName(static_cast<std::size_t>(action.profile)) +
             (action.on ? " on" : " off");
    case RestoreActionKind::SetRemoteAdmin:
      return std::string("SetRemoteAdmin ") + LegacyProfileName(static_cast<std::size_t>(action.profile)) +
             (action.on ? " on" : " off");
    case RestoreActionKind::SetStartType:
      return "SetServiceStartType " + action.service + " " + std::to_string(action.number);
    case RestoreActionKind::StopService:
      return "StopService " + action.service;
  }
  return "step";
}

}  // namespace qf::hardening
