// The host double installed into the prefix, as an undo of a hardening run
// meets it: services stopped by request, start types in the dump, a seed
// that forgets any earlier run, and a standard user's netsh.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "host_setup_win.h"
#include "state/host_compare.h"
#include "state_store_win.h"
#include "win_util.h"

using namespace testbed;

namespace {

std::wstring BinDirectory() {
  wchar_t value[1024];
  DWORD n = GetEnvironmentVariableW(L"QF_TESTBED_BIN", value, 1024);
  return n > 0 && n < 1024 ? value : L"";
}

HostState Dump() {
  ParseResult parsed = ParseState(DumpHost());
  EXPECT_TRUE(parsed.state) << parsed.error;
  return parsed.state ? *parsed.state : HostState{};
}

bool WaitForState(SC_HANDLE service, DWORD wanted, DWORD timeoutMs) {
  for (DWORD start = GetTickCount();; Sleep(50)) {
    SERVICE_STATUS status{};
    if (QueryServiceStatus(service, &status) && status.dwCurrentState == wanted) return true;
    if (GetTickCount() - start > timeoutMs) return false;
  }
}

bool SetStartType(SC_HANDLE service, DWORD startType) {
  return ChangeServiceConfigW(service, SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr) != FALSE;
}

class HostSetup : public ::testing::Test {
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
  HostState Read() {
    HostState s;
    EXPECT_TRUE(ReadState(s));
    return s;
  }
};

// Started, then stopped by a stop request and set back to disabled: the
// dump is the seeded one again, but for the double's start counter.
TEST_F(HostSetup, StartedServiceStopsOnRequestAndItsStartTypeRoundTripsThroughTheDump) {
  Seed("win7");
  const HostState seeded = Dump();
  ASSERT_TRUE(seeded.FindService("MpsSvc") && seeded.FindService("MpsSvc")->scm);
  EXPECT_EQ(seeded.FindService("MpsSvc")->scm->startType, static_cast<unsigned long>(SERVICE_DISABLED));
  EXPECT_EQ(seeded.FindService("MpsSvc")->scm->state, "stopped");
  EXPECT_EQ(seeded.windowsVersion, "win7");

  UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  UniqueServiceHandle service(OpenServiceW(manager.get(), L"MpsSvc", SERVICE_ALL_ACCESS));
  ASSERT_TRUE(service);
  ASSERT_TRUE(SetStartType(service.get(), SERVICE_AUTO_START));
  ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr));
  ASSERT_TRUE(WaitForState(service.get(), SERVICE_RUNNING, 10000));
  HostState running = Dump();
  EXPECT_EQ(FirstHostDifference(seeded, running), "service MpsSvc: state stopped vs running");
  EXPECT_EQ(running.FindService("MpsSvc")->scm->startType, static_cast<unsigned long>(SERVICE_AUTO_START));

  SERVICE_STATUS status{};
  EXPECT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
  EXPECT_TRUE(WaitForState(service.get(), SERVICE_STOPPED, 5000));
  EXPECT_EQ(Read().FindService("MpsSvc")->recordedState, "stopped");
  EXPECT_EQ(FirstHostDifference(seeded, Dump()), "service MpsSvc: startType 4 vs 2");

  ASSERT_TRUE(SetStartType(service.get(), SERVICE_DISABLED));
  const HostState restored = Dump();
  EXPECT_EQ(FirstHostDifference(seeded, restored), std::nullopt);
  EXPECT_EQ(restored.FindService("MpsSvc")->starts, 1) << "the start counter differs and does not count";
  EXPECT_NE(DumpHost().find("scm\tname=MpsSvc\tinstalled=yes\tstart-type=disabled\tstate=stopped\n"),
            std::string::npos);
}

bool KeyExists(REGSAM view) {
  UniqueRegKey key;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quillfort", 0, view | KEY_READ, key.out()) == ERROR_SUCCESS;
}

bool WriteRestorePoint(REGSAM view) {
  UniqueRegKey key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quillfort\\RestorePoint", 0, nullptr, 0, view | KEY_ALL_ACCESS,
                      nullptr, key.out(), nullptr) != ERROR_SUCCESS)
    return false;
  const DWORD startType = SERVICE_DISABLED;
  return RegSetValueExW(key.get(), L"MpsSvcStartType", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&startType),
                        sizeof startType) == ERROR_SUCCESS;
}

TEST_F(HostSetup, SeedingForgetsQuillfortsKeyInBothRegistryViews) {
  Seed("win7");
  EXPECT_FALSE(KeyExists(KEY_WOW64_64KEY));
  EXPECT_FALSE(KeyExists(KEY_WOW64_32KEY));
  ASSERT_TRUE(WriteRestorePoint(KEY_WOW64_32KEY));
  ASSERT_FALSE(KeyExists(KEY_WOW64_64KEY)) << "the two views must be apart for this test to mean anything";
  ASSERT_TRUE(WriteRestorePoint(KEY_WOW64_64KEY));
  Seed("win2003");
  EXPECT_FALSE(KeyExists(KEY_WOW64_64KEY));
  EXPECT_FALSE(KeyExists(KEY_WOW64_32KEY));
  UniqueRegKey software;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", 0, KEY_READ, software.out()), ERROR_SUCCESS);
}

// Runs a command line in the system directory, as Quillfort runs netsh, and
// returns its exit code and standard output.
DWORD RunInSystemDirectory(std::wstring line, std::string& output) {
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return static_cast<DWORD>(-1);
  UniqueHandle reader(readEnd), writer(writeEnd);
  SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writer.get();
  startup.hStdError = writer.get();
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, system, &startup,
                      &info))
    return static_cast<DWORD>(-1);
  UniqueHandle process(info.hProcess), thread(info.hThread);
  writer.reset();  // the child holds the only write end: reading ends when it does
  char buffer[512];
  DWORD got = 0;
  while (ReadFile(reader.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) output.append(buffer, got);
  DWORD code = STILL_ACTIVE;
  if (WaitForSingleObject(process.get(), 10000) == WAIT_OBJECT_0) GetExitCodeProcess(process.get(), &code);
  return code;
}

TEST_F(HostSetup, StandardUsersNetshNeedsElevationAndChangesNothing) {
  Seed("win7-not-admin");
  const HostState before = Read();
  std::string output;
  EXPECT_EQ(RunInSystemDirectory(L"netsh firewall set opmode enable", output), 1u);
  EXPECT_NE(output.find("The requested operation requires elevation."), std::string::npos) << output;
  const HostState after = Read();
  EXPECT_EQ(after.netshLog, std::vector<std::string>{"netsh firewall set opmode enable"});
  EXPECT_EQ(FirstHostDifference(before, after), std::nullopt);
  EXPECT_FALSE(after.IsOn(Profile::Private));
}

}  // namespace
