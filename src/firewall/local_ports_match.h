// Whether a firewall rule's local ports text covers a port. The text is read
// as the firewall writes it: comma-separated items, each a decimal port, a
// range "low-high", "*" for every port, or a keyword. Of the keywords only
// RPC-EPMap (the RPC endpoint mapper) names a fixed port, 135; the others
// (RPC, IPHTTPS, Teredo, Ply2Disc, mDNS, DHCP, ...) name none. Malformed
// items cover nothing. No Windows header here.
#pragma once

#include <optional>
#include <string_view>

namespace qf::firewall {

constexpr long kHighestPort = 65535;
constexpr long kRpcEndpointMapperPort = 135;

// A plain decimal port number 0..65535, nothing else.
std::optional<long> ParsePortNumber(std::wstring_view text);

bool LocalPortsCoverPort(std::wstring_view localPorts, long port);
// The port given as its decimal text; a text that is no port matches nothing.
bool LocalPortsCoverPortText(std::wstring_view localPorts, std::wstring_view portText);

}  // namespace qf::firewall
