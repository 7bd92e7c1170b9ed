#include "firewall/local_ports_match.h"

#include <cstddef>

namespace qf::firewall {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring_view Trim(std::wstring_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

wchar_t FoldAsciiCase(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAsciiCase(a[i]) != FoldAsciiCase(b[i])) return false;
  }
  return true;
}

bool ItemCoversPort(std::wstring_view item, long port) {
  if (item == L"*") return true;
  if (EqualsIgnoringCase(item, L"RPC-EPMap")) return port == kRpcEndpointMapperPort;
  if (const auto single = ParsePortNumber(item)) return *single == port;
  const std::size_t hyphen = item.find(L'-');
  if (hyphen == std::wstring_view::npos) return false;  // another keyword, or garbage
  const auto low = ParsePortNumber(item.substr(0, hyphen));
  const auto high = ParsePortNumber(item.substr(hyphen + 1));
  if (!low || !high || *low > *high) return false;
  return *low <= port && port <= *high;
}

}  // namespace

std::optional<long> ParsePortNumber(std::wstring_view text) {
  if (text.empty()) return std::nullopt;
  long value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + (c - L'0');
    if (value > kHighestPort) return std::nullopt;
  }
  return value;
}

bool LocalPortsCoverPort(std::wstring_view localPorts, long port) {
  if (port < 0 || port > kHighestPort) return false;
  while (true) {
    const std::size_t comma = localPorts.find(L',');
    if (ItemCoversPort(Trim(localPorts.substr(0, comma)), port)) return true;
    if (comma == std::wstring_view::npos) return false;
    localPorts.remove_prefix(comma + 1);
  }
}

bool LocalPortsCoverPortText(std::wstring_view localPorts, std::wstring_view portText) {
  const auto port = ParsePortNumber(portText);
  return port && LocalPortsCoverPort(localPorts, *port);
}

}  // namespace qf::firewall
