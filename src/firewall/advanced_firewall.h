// Wrapper over the advanced firewall policy (INetFwPolicy2, Vista and later):
// switches the firewall on for the public and private profiles, adds inbound
// block rules, tells whether the firewall is on and which ports the policy
// blocks. Failures are written to standard output and reported as false;
// nothing unread ever counts as on or blocked.
#pragma once

#include <windows.h>
#include <netfw.h>
#include <wrl/client.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "firewall/effective_policy.h"
#include "firewall/rule_record.h"

class CAdvancedFirewall {
 public:
  CAdvancedFirewall();
  ~CAdvancedFirewall();  // calls Close
  CAdvancedFirewall(const CAdvancedFirewall&) = delete;
  CAdvancedFirewall& operator=(const CAdvancedFirewall&) = delete;

  bool Initialize();
  bool Close();
  bool EnableFirewall();
  // On for public, private and every profile in force.
  bool IsFirewallEnabled();
  bool AddBlockRule(long protocol, const wchar_t* portText);
  // Inbound TCP and UDP to the port blocked on every profile in force, with
  // those profiles' firewall on.
  bool IsPortBlocked(int port);
  // The same question for several ports, answered in one walk of the rules.
  std::vector<bool> ArePortsBlocked(const std::vector<long>& ports);
  bool IsOpen() const;  // holds a policy interface

  // Whole records, as the console program and the restore point need them.
  std::optional<std::vector<qf::firewall::RuleRecord>> ReadRules();
  // Whole records of the rules whose name and grouping pass; the others
  // cost two reads each.
  std::optional<std::vector<qf::firewall::RuleRecord>> ReadRulesWhere(
      const std::function<bool(const std::wstring& name, const std::wstring& grouping)>& wanted);
  // Whether the policy holds the rule AddBlockRule would add, in the same form.
  std::optional<bool> HasIdenticalBlockRule(long protocol, const wchar_t* portText);
  bool AddRule(const qf::firewall::RuleRecord& record);
  // Removes every rule of that name, as the platform's Remove does.
  bool RemoveRulesNamed(const std::wstring& name);
  // Removes the one rule equal to the record in every property: it is
  // renamed to temporaryName first, so that no rule sharing its name goes
  // with it. False with LastFailureOr when there is none or it stays.
  bool RemoveExactRule(
      const qf::firewall::RuleRecord& record, const std::wstring& temporaryName,
      const std::function<bool(const qf::firewall::RuleRecord&, const qf::firewall::RuleRecord&)>& same);
  std::optional<long> ReadCurrentProfiles();
  std::optional<bool> ReadSwitch(long profile);
  // The profile's switch, shielded mode and whether it excludes interfaces.
  qf::firewall::LocalProfileReading ReadLocalProfile(long profile);
  // Whether local changes take effect; nullopt before Windows 7, whose
  // policy object lacks the property, or without an answer.
  std::optional<qf::firewall::ModifyState> ReadModifyState();
  // One walk of the rules over the ports, reach included; nullopt when the
  // walk could not start.
  std::optional<qf::firewall::BlockTally> TallyRules(const std::vector<long>& ports, long currentProfiles);
  bool SetSwitch(long profile, bool on);
  // The failure status of the last call that changes or reads whole rules, or
  // fallback when that call failed without one.
  std::uint32_t LastFailureOr(std::uint32_t fallback) const;

 private:
  // Visits every rule until visit returns false; false when the walk could not start.
  bool ForEachRule(const std::function<bool(INetFwRule*)>& visit);
  // The collection's answer to Add, or the failure before it (told).
  HRESULT AddToRules(const qf::firewall::RuleRecord& record);
  bool Fail(HRESULT hr);
  Microsoft::WRL::ComPtr<INetFwPolicy2> m_policy;
  HRESULT m_lastFailure = S_OK;
  bool m_ownsApartment = false;  // a CoInitializeEx of ours that Close undoes
};
