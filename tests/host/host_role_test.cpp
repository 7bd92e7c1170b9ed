// What a host serves on the guarded ports, decided from the product type and
// the shares, and what a refusal and the dialog's question say about it.
#include "host/host_role.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace host {
namespace {

HostRole Role(ProductType type, std::optional<std::vector<std::string>> shares, std::uint32_t error = 0) {
  return HostRole{type, std::move(shares), error};
}

TEST(HostRole, ProductTypeFromTheRegistryValueInAnyCase) {
  const std::pair<const char*, ProductType> cases[] = {{"WinNT", ProductType::Workstation},
                                                       {"LanmanNT", ProductType::DomainController},
                                                       {"LANMANNT", ProductType::DomainController},
                                                       {"servernt", ProductType::Server},
                                                       {"", ProductType::Unknown},
                                                       {"LanmanNT ", ProductType::Unknown},
                                                       {"Lanman", ProductType::Unknown},
                                                       {"Enterprise", ProductType::Unknown}};
  for (const auto& [value, type] : cases) EXPECT_EQ(ProductTypeFromOptions(value), type) << "'" << value << "'";
}

TEST(HostRole, ProductTypeFromTheVersionInformation) {
  EXPECT_EQ(ProductTypeFromVersionInfo(1), ProductType::Workstation);
  EXPECT_EQ(ProductTypeFromVersionInfo(2), ProductType::DomainController);
  EXPECT_EQ(ProductTypeFromVersionInfo(3), ProductType::Server);
  EXPECT_EQ(ProductTypeFromVersionInfo(0), ProductType::Unknown);
  EXPECT_EQ(ProductTypeFromVersionInfo(4), ProductType::Unknown);
}

TEST(HostRole, OnlyDiskAndPrintSharesWithoutTheSpecialBitAreServed) {
  const std::vector<ShareEntry> enumerated = {
      {"ADMIN$", kShareDisk | kShareSpecial},
      {"C$", kShareDisk | kShareSpecial},
      {"IPC$", 3 | kShareSpecial},
      {"print$", kShareDisk | kShareSpecial},
      {"Docs", kShareDisk},
      {"HP LaserJet", kSharePrint},
      {"COM1", 2},
      {"Pipe", 3},
      {"Temp", kShareDisk | 0x40000000},          // STYPE_TEMPORARY: served while it lasts
      {"\xE8\xB4\xA2\xE5\x8A\xA1", kShareDisk}};  // 财务
  EXPECT_EQ(ServedShares(enumerated),
            (std::vector<std::string>{"Docs", "HP LaserJet", "Temp", "\xE8\xB4\xA2\xE5\x8A\xA1"}));
  EXPECT_TRUE(ServedShares({}).empty());
}

TEST(HostRole, ServesTheGuardedPortsAsDomainControllerOrWithShares) {
  struct Case {
    HostRole role;
    bool serves;
    const char* name;
    const char* shares;
  };
  const Case cases[] = {
      {Role(ProductType::Workstation, std::vector<std::string>{}), false, "", "none"},
      {Role(ProductType::Server, std::vector<std::string>{}), false, "", "none"},
      {Role(ProductType::Unknown, std::nullopt, 50), false, "", "unknown (error 50)"},
      {Role(ProductType::DomainController, std::vector<std::string>{}), true, "domain controller", "none"},
      {Role(ProductType::DomainController, std::nullopt, 2114), true, "domain controller", "unknown (error 2114)"},
      {Role(ProductType::Workstation, std::vector<std::string>{"Docs"}), true, "file and print server", "Docs"},
      {Role(ProductType::DomainController, std::vector<std::string>{"NETLOGON", "SYSVOL"}), true,
       "domain controller and file and print server", "NETLOGON, SYSVOL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.role.ServesGuardedPorts(), c.serves);
    EXPECT_EQ(RoleName(c.role), c.name);
    EXPECT_EQ(SharesText(c.role), c.shares);
  }
}

TEST(HostRole, RefusalNamesTheRoleAndTheSharesAndHowToGoOn) {
  const std::vector<std::string> dc = RefusalLines(Role(ProductType::DomainController, std::vector<std::string>{}));
  ASSERT_EQ(dc.size(), 3u);
  EXPECT_EQ(dc[0], "This host is a domain controller.");
  EXPECT_NE(dc[1].find("logons and group policy"), std::string::npos);
  EXPECT_NE(dc.back().find("--force"), std::string::npos);

  const std::vector<std::string> server =
      RefusalLines(Role(ProductType::Server, std::vector<std::string>{"Docs", "HP LaserJet"}));
  ASSERT_EQ(server.size(), 4u);
  EXPECT_EQ(server[0], "This host is a file and print server.");
  EXPECT_EQ(server[1], "Shares: Docs, HP LaserJet");
  EXPECT_NE(server.back().find("Nothing was changed"), std::string::npos);

  const std::vector<std::string> declined = DeclinedLines(Role(ProductType::Server, std::vector<std::string>{"Docs"}));
  EXPECT_EQ(declined[1], "Shares: Docs");
  EXPECT_NE(declined.back().find("answered no"), std::string::npos);
  EXPECT_EQ(declined.back().find("--force"), std::string::npos);
}

TEST(HostRole, TheQuestionNamesTheRoleInChineseAndEndsAsking) {
  const std::string domainController = "\xE5\x9F\x9F\xE6\x8E\xA7\xE5\x88\xB6\xE5\x99\xA8";  // 域控制器
  const std::string fileServer =
      "\xE6\x96\x87\xE4\xBB\xB6\xE5\x92\x8C\xE6\x89\x93\xE5\x8D\xB0\xE6\x9C\x8D\xE5\x8A\xA1\xE5\x99\xA8";
  const std::string ask = "\xE4\xBB\x8D\xE8\xA6\x81\xE5\x8A\xA0\xE5\x9B\xBA\xE5\x90\x97\xEF\xBC\x9F";  // 仍要加固吗？
  const std::string listComma = "\xE3\x80\x81";

  const std::string dc = GuardQuestionUtf8(Role(ProductType::DomainController, std::vector<std::string>{}));
  EXPECT_NE(dc.find(domainController), std::string::npos);
  EXPECT_EQ(dc.find(fileServer), std::string::npos);
  EXPECT_EQ(dc.substr(dc.size() - ask.size()), ask);

  const std::string both =
      GuardQuestionUtf8(Role(ProductType::DomainController, std::vector<std::string>{"NETLOGON", "SYSVOL"}));
  EXPECT_NE(both.find(domainController), std::string::npos);
  EXPECT_NE(both.find(fileServer), std::string::npos);
  EXPECT_NE(both.find("NETLOGON" + listComma + "SYSVOL"), std::string::npos);
  EXPECT_EQ(both.substr(both.size() - ask.size()), ask);
}

}  // namespace
}  // namespace host
