#include "host/host_role.h"

#include <cctype>

namespace host {
namespace {

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

std::string Joined(const std::vector<std::string>& items, const char* separator) {
  std::string out;
  for (const std::string& item : items) {
    if (!out.empty()) out += separator;
    out += item;
  }
  return out;
}

// UTF-8 Chinese texts, written as bytes so that the source's encoding does not matter.
constexpr char kThisHostIs[] = "\xE6\x9C\xAC\xE6\x9C\xBA\xE6\x98\xAF";                    // 本机是
constexpr char kDomainController[] = "\xE5\x9F\x9F\xE6\x8E\xA7\xE5\x88\xB6\xE5\x99\xA8";  // 域控制器
constexpr char kFileAndPrintServer[] =
    "\xE6\x96\x87\xE4\xBB\xB6\xE5\x92\x8C\xE6\x89\x93\xE5\x8D\xB0\xE6\x9C\x8D\xE5\x8A\xA1\xE5\x99\xA8";  // 文件和打印服务器
constexpr char kAnd[] = "\xE3\x80\x81";                                                                  // 、
constexpr char kSharing[] = "\xEF\xBC\x8C\xE5\x85\xB1\xE4\xBA\xAB\xE4\xBA\x86\xEF\xBC\x9A";  // ，共享了：
constexpr char kListComma[] = "\xE3\x80\x81";                                                // 、
constexpr char kFullStop[] = "\xE3\x80\x82";                                                 // 。
// 封闭 445 和 139 端口会中断本域的登录和组策略。
constexpr char kCutsDomain[] =
    "\xE5\xB0\x81\xE9\x97\xAD 445 \xE5\x92\x8C 139 \xE7\xAB\xAF\xE5\x8F\xA3\xE4\xBC\x9A\xE4\xB8\xAD\xE6\x96\xAD"
    "\xE6\x9C\xAC\xE5\x9F\x9F\xE7\x9A\x84\xE7\x99\xBB\xE5\xBD\x95\xE5\x92\x8C\xE7\xBB\x84\xE7\xAD\x96\xE7\x95\xA5"
    "\xE3\x80\x82";
// 封闭 445 和 139 端口会中断这些共享。
constexpr char kCutsShares[] =
    "\xE5\xB0\x81\xE9\x97\xAD 445 \xE5\x92\x8C 139 \xE7\xAB\xAF\xE5\x8F\xA3\xE4\xBC\x9A\xE4\xB8\xAD\xE6\x96\xAD"
    "\xE8\xBF\x99\xE4\xBA\x9B\xE5\x85\xB1\xE4\xBA\xAB\xE3\x80\x82";
constexpr char kHardenAnyway[] =
    "\xE4\xBB\x8D\xE8\xA6\x81\xE5\x8A\xA0\xE5\x9B\xBA\xE5\x90\x97\xEF\xBC\x9F";  // 仍要加固吗？

}  // namespace

ProductType ProductTypeFromOptions(std::string_view value) {
  if (SameLetters(value, "WinNT")) return ProductType::Workstation;
  if (SameLetters(value, "LanmanNT")) return ProductType::DomainController;
  if (SameLetters(value, "ServerNT")) return ProductType::Server;
  return ProductType::Unknown;
}

ProductType ProductTypeFromVersionInfo(int productType) {
  switch (productType) {
    case 1:
      return ProductType::Workstation;
    case 2:
      return ProductType::DomainController;
    case 3:
      return ProductType::Server;
  }
  return ProductType::Unknown;
}

const char* ProductTypeWord(ProductType type) {
  switch (type) {
    case ProductType::Workstation:
      return "workstation";
    case ProductType::DomainController:
      return "domain controller";
    case ProductType::Server:
      return "server";
    case ProductType::Unknown:
      break;
  }
  return "unknown";
}

bool IsServedShare(const ShareEntry& share) {
  if ((share.type & kShareSpecial) != 0) return false;
  const std::uint32_t kind = share.type & kShareTypeMask;
  return kind == kShareDisk || kind == kSharePrint;
}

std::vector<std::string> ServedShares(const std::vector<ShareEntry>& shares) {
  std::vector<std::string> served;
  for (const ShareEntry& share : shares) {
    if (IsServedShare(share)) served.push_back(share.name);
  }
  return served;
}

std::string RoleName(const HostRole& role) {
  if (role.DomainController() && role.ServesShares()) return "domain controller and file and print server";
  if (role.DomainController()) return "domain controller";
  if (role.ServesShares()) return "file and print server";
  return {};
}

std::string SharesText(const HostRole& role) {
  if (!role.shares) return "unknown (error " + std::to_string(role.sharesError) + ")";
  if (role.shares->empty()) return "none";
  return Joined(*role.shares, ", ");
}

namespace {

std::vector<std::string> RoleLines(const HostRole& role) {
  std::vector<std::string> lines;
  lines.push_back("This host is a " + RoleName(role) + ".");
  if (role.DomainController()) {
    lines.push_back("Blocking 445 and 139 on a domain controller stops logons and group policy for the whole domain.");
  }
  if (role.ServesShares()) {
    lines.push_back("Shares: " + SharesText(role));
    lines.push_back("Blocking 445 and 139 cuts every client off these shares.");
  }
  return lines;
}

}  // namespace

std::vector<std::string> RefusalLines(const HostRole& role) {
  std::vector<std::string> lines = RoleLines(role);
  lines.push_back("Nothing was changed. Run 'quillfort-cli harden --force' to harden it anyway.");
  return lines;
}

std::vector<std::string> DeclinedLines(const HostRole& role) {
  std::vector<std::string> lines = RoleLines(role);
  lines.push_back("The user answered no when asked before the run. Nothing was changed.");
  return lines;
}

std::string GuardQuestionUtf8(const HostRole& role) {
  std::string text = kThisHostIs;
  if (role.DomainController()) text += kDomainController;
  if (role.DomainController() && role.ServesShares()) text += kAnd;
  if (role.ServesShares()) {
    text += kFileAndPrintServer;
    text += kSharing;
    text += Joined(*role.shares, kListComma);
  }
  text += kFullStop;
  text += "\n\n";
  if (role.DomainController()) text += kCutsDomain;
  if (role.ServesShares()) text += kCutsShares;
  text += "\n\n";
  text += kHardenAnyway;
  return text;
}

}  // namespace host
