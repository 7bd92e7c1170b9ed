// What a host serves on the ports Quillfort closes: a domain controller
// answers logons and group policy over 445 and 139, a file or print server
// its shares. Hardening such a host cuts them off, so a run asks first.
// No Windows header here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// The product type of Windows NT: the value ProductType of
// HKLM\SYSTEM\CurrentControlSet\Control\ProductOptions, which wProductType
// is read from at boot.
enum class ProductType { Unknown, Workstation, DomainController, Server };

// "WinNT", "LanmanNT" or "ServerNT", in any case; anything else is Unknown.
ProductType ProductTypeFromOptions(std::string_view value);
// OSVERSIONINFOEX wProductType: 1 workstation, 2 domain controller, 3 server.
ProductType ProductTypeFromVersionInfo(int productType);
// "workstation", "domain controller", "server", "unknown".
const char* ProductTypeWord(ProductType type);

// SHARE_INFO_1 shi1_type bits.
inline constexpr std::uint32_t kShareTypeMask = 0xFF;
inline constexpr std::uint32_t kShareDisk = 0;              // STYPE_DISKTREE
inline constexpr std::uint32_t kSharePrint = 1;             // STYPE_PRINTQ
inline constexpr std::uint32_t kShareSpecial = 0x80000000;  // STYPE_SPECIAL: C$, ADMIN$, IPC$, print$

struct ShareEntry {
  std::string name;  // UTF-8
  std::uint32_t type = 0;
};

// A disk or print share other than the administrative ones: what users of
// the network reach over 445 and 139. IPC$ and devices are not shares of
// their own.
bool IsServedShare(const ShareEntry& share);
std::vector<std::string> ServedShares(const std::vector<ShareEntry>& shares);

struct HostRole {
  ProductType productType = ProductType::Unknown;
  // Served shares in enumeration order; unset when they could not be listed.
  std::optional<std::vector<std::string>> shares;
  std::uint32_t sharesError = 0;  // the enumeration's error when shares is unset

  bool DomainController() const { return productType == ProductType::DomainController; }
  bool ServesShares() const { return shares && !shares->empty(); }
  // Hardening would cut logons, group policy or shares off the network.
  bool ServesGuardedPorts() const { return DomainController() || ServesShares(); }
};

// "domain controller", "file and print server", "domain controller and file
// and print server"; empty when the host serves neither.
std::string RoleName(const HostRole& role);
// "NETLOGON, SYSVOL"; "none"; "unknown (error 50)".
std::string SharesText(const HostRole& role);

// What harden prints when it refuses, one line each, ending with how to go on.
std::vector<std::string> RefusalLines(const HostRole& role);
// The dialog's refusal for the event log: the same role lines, then that the
// user answered no.
std::vector<std::string> DeclinedLines(const HostRole& role);
// The dialog's question before a run on such a host, UTF-8 Chinese.
std::string GuardQuestionUtf8(const HostRole& role);

}  // namespace host
