// Whether a block rule reaches every peer on every path: any remote and local
// address, no program, no service, every interface and interface type, any
// remote port. A rule narrowed in any of these leaves other peers able to
// reach its ports, so it never counts as protection. No Windows header here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qf::firewall {

// The first property, in the order they are read, that keeps a rule from
// reaching everyone; None when the rule reaches everyone.
enum class Narrowing {
  None,
  Program,
  Service,
  RemoteAddresses,
  LocalAddresses,
  RemotePorts,
  InterfaceTypes,
  Interfaces,
  OtherCondition,  // a further condition (authorisation, platform, package ...)
  Unread,          // a reach property could not be read
};

// "a program", "remote addresses", ... as a reason names the property.
const char* NarrowingLabel(Narrowing narrowing);

// "*" or empty, with blanks around: every address.
bool AddressesAreAny(std::wstring_view addresses);
// Empty only: "*" limits a rule to traffic of services, which leaves the
// kernel's own listeners (445, 137-139) outside it.
bool ServiceIsAny(std::wstring_view service);
bool ProgramIsAny(std::wstring_view program);
bool RemotePortsAreAny(std::wstring_view remotePorts);
// "All", in any case.
bool InterfaceTypesAreAll(std::wstring_view interfaceTypes);

// Reads the reach of the rule under examination, each property at most once;
// nullopt when the read failed. Implemented over the platform's rule object
// and over group policy rule texts.
class RuleReach {
 public:
  virtual std::optional<std::wstring> ApplicationName() = 0;
  virtual std::optional<std::wstring> ServiceName() = 0;
  virtual std::optional<std::wstring> RemoteAddresses() = 0;
  virtual std::optional<std::wstring> LocalAddresses() = 0;
  virtual std::optional<std::wstring> RemotePorts() = 0;
  virtual std::optional<std::wstring> InterfaceTypes() = 0;
  // True when the rule names specific interfaces.
  virtual std::optional<bool> NamesInterfaces() = 0;
  // The name of any further condition the rule is limited by; empty: none.
  virtual std::optional<std::wstring> OtherCondition() = 0;
  // Only read to name the rule in a reason.
  virtual std::optional<std::wstring> Name() = 0;

 protected:
  ~RuleReach() = default;
};

// Reads the reach cheapest and most telling first and stops at the first
// property that narrows the rule.
Narrowing FirstNarrowing(RuleReach& rule);

}  // namespace qf::firewall
