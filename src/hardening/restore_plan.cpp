#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "hardening/host_snapshot.h"

namespace qf::hardening {

namespace {

// Rule names may hold any text; cut to bytes they would name another rule.
std::string Utf8(const std::wstring& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = static_cast<std::uint32_t>(text[i]);
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
        static_cast<std::uint32_t>(text[i + 1]) >= 0xDC00 && static_cast<std::uint32_t>(text[i + 1]) <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint32_t>(text[++i]) - 0xDC00);
    } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      c = 0xFFFD;  // a lone surrogate or no character at all
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

const char* ProtocolWord(long protocol) { return protocol == 17 ? "UDP" : "TCP"; }

}  // namespace

std::vector<RestoreAction> PlanRestore(const HostSnapshot& saved, const HostSnapshot& now) {
  std::vector<RestoreAction> plan;
  auto add = [&](RestoreActionKind kind) -> RestoreAction& {
    RestoreAction action;
    action.kind = kind;
    plan.push_back(std::move(action));
    return plan.back();
  };

  // Rules that were not read on either side are left alone: what is
  // unread can neither be taken away nor be put back.
  if (saved.advancedRead && now.advancedRead && !SameRules(saved.quillfortRules, now.quillfortRules)) {
    std::vector<std::wstring> names;
    for (const qf::firewall::RuleRecord& rule : now.quillfortRules) {
      if (std::find(names.begin(), names.end(), rule.name) == names.end()) names.push_back(rule.name);
    }
    for (const std::wstring& name : names) add(RestoreActionKind::RemoveRulesNamed).text = name;
    for (const qf::firewall::RuleRecord& rule : saved.quillfortRules) add(RestoreActionKind::AddRule).rule = rule;
  }

  for (std::size_t i = 0; i < saved.profileOn.size(); ++i) {
    if (!saved.profileOn[i] || !now.profileOn[i] || *saved.profileOn[i] == *now.profileOn[i]) continue;
    RestoreAction& action = add(RestoreActionKind::SetProfileSwitch);
    action.profile = kAdvancedProfiles[i];
    action.on = *saved.profileOn[i];
  }

  for (std::size_t p = 0; p < saved.legacy.size(); ++p) {
    const LegacyProfileSnapshot& before = saved.legacy[p];
    const LegacyProfileSnapshot& after = now.legacy[p];
    if (!before.read || !after.read) continue;
    for (const LegacyOpening& opening : before.openings) {
      auto current = std::find_if(after.openings.begin(), after.openings.end(), [&](const LegacyOpening& o) {
        return o.port == opening.port && o.protocol == opening.protocol;
      });
      if (current != after.openings.end() && *current == opening) continue;
      if (current == after.openings.end() && !opening.exists) continue;
      RestoreAction& action = add(RestoreActionKind::PutOpeningBack);
      action.profile = kLegacyProfiles[p];
      action.opening = opening;
    }
    if (before.fileAndPrintKnown && after.fileAndPrintKnown &&
        (before.fileAndPrintEnabled != after.fileAndPrintEnabled ||
         before.fileAndPrintScope != after.fileAndPrintScope)) {
      RestoreAction& action = add(RestoreActionKind::SetFileAndPrint);
      action.profile = kLegacyProfiles[p];
      action.on = before.fileAndPrintEnabled;
      action.scope = before.fileAndPrintScope;
    }
    // The switch last: the openings are put back while the firewall guards them.
    if (before.firewallOn != after.firewallOn) {
      RestoreAction& action = add(RestoreActionKind::SetLegacyFirewall);
      action.profile = kLegacyProfiles[p];
      action.on = before.firewallOn;
    }
  }

  for (const ServiceSnapshot& before : saved.services) {
    const ServiceSnapshot* after = now.FindService(before.name);
    if (!before.present || after == nullptr || !after->present) continue;
    if (before.startType != after->startType) {
      RestoreAction& action = add(RestoreActionKind::SetStartType);
      action.service = before.name;
      action.number = before.startType;
    }
  }
  for (const ServiceSnapshot& before : saved.services) {
    const ServiceSnapshot* after = now.FindService(before.name);
    if (!before.present || after == nullptr || !after->present) continue;
    if (!before.running && after->running) add(RestoreActionKind::StopService).service = before.name;
  }
  return plan;
}

std::string RestoreActionName(const RestoreAction& action) {
  switch (action.kind) {
    case RestoreActionKind::RemoveRulesNamed:
      return "RemoveRules " + Utf8(action.text);
    case RestoreActionKind::AddRule:
      return "AddRule " + Utf8(action.rule.name);
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
    case RestoreActionKind::SetStartType:
      return "SetServiceStartType " + action.service + " " + std::to_string(action.number);
    case RestoreActionKind::StopService:
      return "StopService " + action.service;
  }
  return "step";
}

}  // namespace qf::hardening
