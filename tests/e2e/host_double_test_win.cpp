// The installed host double in the prefix, without Quillfort: the firewall
// services under the real service control manager and netsh in place of
// Wine's own.
#include <windows.h>

#include <gtest/gtest.h>

#include "host_setup_win.h"
#include "state_store_win.h"
#include "win_util.h"

using namespace testbed;

namespace {

std::wstring BinDirectory() {
  wchar_t value[1024];
  DWORD n = GetEnvironmentVariableW(L"QF_TESTBED_BIN", value, 1024);
  return n > 0 && n < 1024 ? value : L"";
}

class HostDouble : public ::testing::Test {
 protected:
  // Other tests share the prefix: give it back as Wine made it.
  static void TearDownTestSuite() {
    std::string error;
    EXPECT_TRUE(UninstallTestbed(error)) << error;
  }
  void Seed(const char* name) {
    std::string error;
    ASSERT_TRUE(InstallTestbed(BinDirectory(), error)) << error;
    auto scenario = FindScenario(name);
    ASSERT_TRUE(scenario);
    ASSERT_TRUE(SeedScenario(*scenario, 0, error)) << error;
  }
  // Sets the start type to automatic and starts, as Quillfort does; returns
  // the start request's result and the state seen within timeoutMs.
  bool Start(const wchar_t* name, DWORD wanted, DWORD timeoutMs, DWORD& seen) {
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    UniqueServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_ALL_ACCESS));
    if (!service) return false;
    ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr);
    bool accepted = StartServiceW(service.get(), 0, nullptr);
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(50)) {
      SERVICE_STATUS status{};
      QueryServiceStatus(service.get(), &status);
      seen = status.dwCurrentState;
      if (seen == wanted) break;
    }
    return accepted;
  }
  HostState Read() {
    HostState s;
    EXPECT_TRUE(ReadState(s));
    return s;
  }
};

TEST_F(HostDouble, DisabledServiceRunsOnceMadeAutomaticAndRecordsIt) {
  Seed("win7");
  EXPECT_EQ(QueryService(L"MpsSvc").startType, static_cast<DWORD>(SERVICE_DISABLED));
  DWORD seen = 0;
  EXPECT_TRUE(Start(L"MpsSvc", SERVICE_RUNNING, 10000, seen));
  EXPECT_EQ(seen, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(QueryService(L"MpsSvc").startType, static_cast<DWORD>(SERVICE_AUTO_START));
  HostState s = Read();
  EXPECT_EQ(s.FindService("MpsSvc")->recordedState, "running");
  EXPECT_EQ(s.FindService("MpsSvc")->starts, 1);
  StopService(L"MpsSvc");
  EXPECT_EQ(QueryService(L"MpsSvc").currentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(Read().FindService("MpsSvc")->recordedState, "stopped");
}

TEST_F(HostDouble, PendingServiceReportsStartPendingBeforeRunning) {
  Seed("win8");  // MpsSvc passes three pending rounds
  DWORD seen = 0;
  EXPECT_TRUE(Start(L"MpsSvc", SERVICE_START_PENDING, 5000, seen));
  EXPECT_EQ(seen, static_cast<DWORD>(SERVICE_START_PENDING));
  Sleep(1500);
  EXPECT_EQ(QueryService(L"MpsSvc").currentState, static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(HostDouble, StuckServiceCanStillBeStoppedBySeeding) {
  Seed("win7-service-stuck");
  DWORD seen = 0;
  Start(L"MpsSvc", SERVICE_RUNNING, 2500, seen);
  EXPECT_EQ(seen, static_cast<DWORD>(SERVICE_START_PENDING));
  Seed("win7");
  EXPECT_EQ(QueryService(L"MpsSvc").currentState, static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(HostDouble, RefusingServiceStopsAndMissingServiceIsGone) {
  Seed("win7-service-refusing");
  DWORD seen = 0;
  Start(L"MpsSvc", SERVICE_STOPPED, 5000, seen);
  EXPECT_EQ(seen, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(Read().FindService("MpsSvc")->recordedState, "refused");
  Seed("win7-service-missing");
  EXPECT_FALSE(QueryService(L"MpsSvc").installed);
  EXPECT_TRUE(QueryService(L"SharedAccess").installed);
}

// Runs a command line in the system directory, as Quillfort runs netsh;
// returns its exit code, or STILL_ACTIVE when it outlived timeoutMs.
DWORD RunInSystemDirectory(std::wstring line, DWORD timeoutMs, DWORD& tookMs) {
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  const DWORD start = GetTickCount();
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, system, &startup,
                      &info))
    return static_cast<DWORD>(-1);
  UniqueHandle process(info.hProcess), thread(info.hThread);
  DWORD code = STILL_ACTIVE;
  if (WaitForSingleObject(process.get(), timeoutMs) == WAIT_OBJECT_0)
    GetExitCodeProcess(process.get(), &code);
  else
    TerminateProcess(process.get(), 1);
  tookMs = GetTickCount() - start;
  return code;
}

TEST_F(HostDouble, NetshOfTheSystemDirectoryIsTheDouble) {
  Seed("win2003");
  DWORD took = 0;
  EXPECT_EQ(RunInSystemDirectory(L"netsh firewall set opmode enable", 10000, took), 0u);
  EXPECT_EQ(
      RunInSystemDirectory(L"netsh firewall set service type = FILEANDPRINT mode = DISABLE profile = ALL", 10000, took),
      0u);
  HostState s = Read();
  EXPECT_EQ(s.netshLog.size(), 2u);
  EXPECT_EQ(s.netshLog.at(0), "netsh firewall set opmode enable");
  EXPECT_TRUE(s.IsOn(Profile::Private));
  ServiceException* fps = s.FindServiceException(LegacyProfile::Domain, ServiceType::FileAndPrint);
  ASSERT_NE(fps, nullptr);
  EXPECT_FALSE(fps->Enabled());
}

// The failing double exits at once with a code, rather than hanging.
TEST_F(HostDouble, FailingNetshExitsNonZeroAtOnceAndChangesNothing) {
  Seed("win2003-netsh-fail");
  DWORD took = 0;
  EXPECT_EQ(RunInSystemDirectory(L"netsh firewall set opmode enable", 10000, took), 1u);
  EXPECT_LT(took, 5000u);
  HostState s = Read();
  EXPECT_EQ(s.netshLog, std::vector<std::string>{"netsh firewall set opmode enable"});
  EXPECT_FALSE(s.IsOn(Profile::Private));
}

TEST_F(HostDouble, UninstallGivesTheClassesBackToWine) {
  Seed("win7");
  std::string error;
  ASSERT_TRUE(UninstallTestbed(error)) << error;
  EXPECT_FALSE(QueryService(L"MpsSvc").installed);
  wchar_t server[MAX_PATH] = L"";
  DWORD size = sizeof server;
  ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE,
                         L"Software\\Classes\\CLSID\\{E2B3C97F-6AE1-41AC-817A-F6F92166D7DD}\\InprocServer32", nullptr,
                         RRF_RT_REG_SZ, nullptr, server, &size),
            ERROR_SUCCESS);
  EXPECT_NE(std::wstring(server).find(L"hnetcfg.dll"), std::wstring::npos);
}

TEST_F(HostDouble, FirewallClassesResolveToTheDoubleThroughTheRegistry) {
  Seed("win7");
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  {
    IUnknown* policy = nullptr;
    const CLSID policy2 = {0xe2b3c97f, 0x6ae1, 0x41ac, {0x81, 0x7a, 0xf6, 0xf9, 0x21, 0x66, 0xd7, 0xdd}};
    ASSERT_EQ(CoCreateInstance(policy2, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&policy)),
              S_OK);
    policy->Release();
    HMODULE loaded = GetModuleHandleW(L"quillfort_testbed_fw.dll");
    EXPECT_NE(loaded, nullptr) << "COM created the policy from another server";
  }
  CoUninitialize();
}

}  // namespace
