#include "firewall/rule_reach.h"

#include <cstddef>

namespace qf::firewall {

namespace {

std::wstring_view Trim(std::wstring_view text) {
  while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == L' ' || text.back() == L'\t')) text.remove_suffix(1);
  return text;
}

bool EmptyOrAsterisk(std::wstring_view text) {
  text = Trim(text);
  return text.empty() || text == L"*";
}

wchar_t Fold(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

}  // namespace

const char* NarrowingLabel(Narrowing narrowing) {
  switch (narrowing) {
    case Narrowing::None:
      return "nothing";
    case Narrowing::Program:
      return "a program";
    case Narrowing::Service:
      return "services";
    case Narrowing::RemoteAddresses:
      return "remote addresses";
    case Narrowing::LocalAddresses:
      return "local addresses";
    case Narrowing::RemotePorts:
      return "remote ports";
    case Narrowing::InterfaceTypes:
      return "interface types";
    case Narrowing::Interfaces:
      return "interfaces";
    case Narrowing::OtherCondition:
      return "a further condition";
    case Narrowing::Unread:
      return "an unreadable property";
  }
  return "an unreadable property";
}

bool AddressesAreAny(std::wstring_view addresses) { return EmptyOrAsterisk(addresses); }

bool ServiceIsAny(std::wstring_view service) { return Trim(service).empty(); }

bool ProgramIsAny(std::wstring_view program) { return Trim(program).empty(); }

bool RemotePortsAreAny(std::wstring_view remotePorts) { return EmptyOrAsterisk(remotePorts); }

bool InterfaceTypesAreAll(std::wstring_view interfaceTypes) {
  interfaceTypes = Trim(interfaceTypes);
  constexpr std::wstring_view kAll = L"all";
  if (interfaceTypes.size() != kAll.size()) return false;
  for (std::size_t i = 0; i < kAll.size(); ++i) {
    if (Fold(interfaceTypes[i]) != kAll[i]) return false;
  }
  return true;
}

Narrowing FirstNarrowing(RuleReach& rule) {
  const auto text = [](const std::optional<std::wstring>& value, bool (*full)(std::wstring_view), Narrowing narrowed) {
    if (!value) return Narrowing::Unread;
    return full(*value) ? Narrowing::None : narrowed;
  };
  Narrowing found = text(rule.ApplicationName(), ProgramIsAny, Narrowing::Program);
  if (found != Narrowing::None) return found;
  if ((found = text(rule.ServiceName(), ServiceIsAny, Narrowing::Service)) != Narrowing::None) return found;
  if ((found = text(rule.RemoteAddresses(), AddressesAreAny, Narrowing::RemoteAddresses)) != Narrowing::None) {
    return found;
  }
  if ((found = text(rule.LocalAddresses(), AddressesAreAny, Narrowing::LocalAddresses)) != Narrowing::None) {
    return found;
  }
  if ((found = text(rule.RemotePorts(), RemotePortsAreAny, Narrowing::RemotePorts)) != Narrowing::None) return found;
  if ((found = text(rule.InterfaceTypes(), InterfaceTypesAreAll, Narrowing::InterfaceTypes)) != Narrowing::None) {
    return found;
  }
  const std::optional<bool> namesInterfaces = rule.NamesInterfaces();
  if (!namesInterfaces) return Narrowing::Unread;
  if (*namesInterfaces) return Narrowing::Interfaces;
  const std::optional<std::wstring> other = rule.OtherCondition();
  if (!other) return Narrowing::Unread;
  return other->empty() ? Narrowing::None : Narrowing::OtherCondition;
}

}  // namespace qf::firewall
