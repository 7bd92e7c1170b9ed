// Which rules are Quillfort's own block rules, and which rules a restore
// point keeps. A rule counts as ours only with the full reach a run gives
// it; one narrowed by anyone is someone else's and is never touched. No
// Windows header here.
#pragma once

#include <string>
#include <vector>

#include "firewall/rule_record.h"

namespace qf::hardening {

// Applies to every peer and path: any remote and local address ("*" or
// empty), no program, no service, all interface types, any remote port.
bool HasFullReach(const qf::firewall::RuleRecord& rule);

// Equal in every property the restore point records.
bool SameRecordedRule(const qf::firewall::RuleRecord& a, const qf::firewall::RuleRecord& b);

// The block rule a run adds for its protocol and port, in every property
// and with full reach; also while restore has it under its removal name.
bool IsQuillfortBlockRule(const qf::firewall::RuleRecord& rule);
// The same for one intended rule.
bool IsQuillfortBlockRuleFor(const qf::firewall::RuleRecord& rule, const qf::firewall::RuleRecord& intended);

// The name restore gives a rule of ours before it removes it by that name,
// so that no other rule of the same name goes with it.
std::wstring RemovalName(const std::wstring& name);

// Rules a restore point records: those of Quillfort's grouping or with the
// name of one of its rules, whoever made them.
bool RecordedByRestorePoint(const std::wstring& name, const std::wstring& grouping);

}  // namespace qf::hardening
