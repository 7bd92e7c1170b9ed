// The host double installed into the prefix, as an undo of a hardening run
// meets it: services stopped by request, start types in the dump, a seed
// that forgets any earlier run, and a standard user's netsh.
#include <windows.h>
#include <netfw.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_setup_win.h"
#include "state/host_compare.h"
#include "state_store_win.h"
#include "win_util.h"

using Microsoft::WRL::ComPtr;
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
  // The double writes its own record of the state just after it tells the
  // service manager; on a busy machine the dump may come between the two.
  HostState running = Dump();
  for (int i = 0; i < 50 && running.FindService("MpsSvc")->recordedState != "running"; ++i) {
    Sleep(100);
    running = Dump();
  }
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
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, system, &startup, &info))
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

class Bstr {
 public:
  explicit Bstr(const std::string& text) : value_(SysAllocString(WideFromUtf8(text).c_str())) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(value_); }
  operator BSTR() const { return value_; }

 private:
  BSTR value_;
};

class Apartment {
 public:
  Apartment() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;
  ~Apartment() {
    if (ok_) CoUninitialize();
  }
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

// Stops a service the way an undo does, and gives it its seeded start type.
void StopAndSetBack(const wchar_t* name, DWORD startType) {
  UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  UniqueServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_ALL_ACCESS));
  ASSERT_TRUE(service);
  SERVICE_STATUS status{};
  EXPECT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
  EXPECT_TRUE(WaitForState(service.get(), SERVICE_STOPPED, 5000));
  EXPECT_TRUE(SetStartType(service.get(), startType));
}

void StartAutomatically(const wchar_t* name) {
  UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  UniqueServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_ALL_ACCESS));
  ASSERT_TRUE(service);
  ASSERT_TRUE(SetStartType(service.get(), SERVICE_AUTO_START));
  ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr));
  ASSERT_TRUE(WaitForState(service.get(), SERVICE_RUNNING, 10000));
}

// The netsh path undone through the legacy objects, as a restore does it:
// each profile's switch, the openings the batch made removed, the ones that
// were there given their settings back, File and Printer Sharing switched
// back. The host is the seeded one again.
TEST_F(HostSetup, NetshRunUndoneThroughTheLegacyObjectsGivesTheSeededHostBack) {
  Seed("win2003");
  const HostState seeded = Dump();
  StartAutomatically(L"SharedAccess");
  for (const char* ports : {"445", "135", "138", "137", "139"}) {
    std::string output;
    const std::string line = std::string("netsh firewall set portopening protocol = ALL port = ") + ports +
                             " name = " + ports + " mode = DISABLE scope = ALL profile = ALL";
    EXPECT_EQ(RunInSystemDirectory(WideFromUtf8(line), output), 0u) << output;
  }
  for (const wchar_t* line :
       {L"netsh firewall set opmode enable",
        L"netsh firewall set service type = FILEANDPRINT mode = DISABLE scope = ALL profile = ALL"}) {
    std::string output;
    EXPECT_EQ(RunInSystemDirectory(line, output), 0u) << output;
  }
  ASSERT_NE(Read().FindOpenPort(LegacyProfile::Domain, 445, 17), nullptr) << "the batch adds UDP 445";
  ASSERT_TRUE(FirstHostDifference(seeded, Dump()));

  Apartment apartment;
  ASSERT_TRUE(apartment.ok());
  ComPtr<INetFwMgr> manager;
  ComPtr<INetFwPolicy> policy;
  ASSERT_EQ(CoCreateInstance(CLSID_NetFwMgr, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&manager)), S_OK);
  ASSERT_EQ(manager->get_LocalPolicy(&policy), S_OK);
  for (NET_FW_PROFILE_TYPE type : {NET_FW_PROFILE_DOMAIN, NET_FW_PROFILE_STANDARD}) {
    const LegacyProfile legacy = type == NET_FW_PROFILE_DOMAIN ? LegacyProfile::Domain : LegacyProfile::Standard;
    ComPtr<INetFwProfile> profile;
    ComPtr<INetFwOpenPorts> ports;
    ASSERT_EQ(policy->GetProfileByType(type, &profile), S_OK);
    const bool wasOn = seeded.IsOn(AdvancedProfileOf(legacy, seeded));
    EXPECT_EQ(profile->put_FirewallEnabled(wasOn ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
    ASSERT_EQ(profile->get_GloballyOpenPorts(&ports), S_OK);
    for (long port : {445L, 135L, 137L, 138L, 139L}) {
      for (NET_FW_IP_PROTOCOL protocol : {NET_FW_IP_PROTOCOL_TCP, NET_FW_IP_PROTOCOL_UDP}) {
        const OpenPort* before = seeded.FindOpenPort(legacy, port, protocol);
        if (!before) {
          EXPECT_EQ(ports->Remove(port, protocol), S_OK) << port;
          continue;
        }
        ComPtr<INetFwOpenPort> opening;
        ASSERT_EQ(ports->Item(port, protocol, &opening), S_OK) << port;
        EXPECT_EQ(opening->put_Name(Bstr(before->name)), S_OK);
        EXPECT_EQ(opening->put_Scope(before->scope == "SUBNET" ? NET_FW_SCOPE_LOCAL_SUBNET : NET_FW_SCOPE_ALL), S_OK);
        EXPECT_EQ(opening->put_Enabled(before->enabled ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
      }
    }
    ComPtr<INetFwServices> services;
    ComPtr<INetFwService> fps;
    ASSERT_EQ(profile->get_Services(&services), S_OK);
    ASSERT_EQ(services->Item(NET_FW_SERVICE_FILE_AND_PRINT, &fps), S_OK);
    const ServiceException* before = seeded.FindServiceException(legacy, ServiceType::FileAndPrint);
    ASSERT_NE(before, nullptr);
    EXPECT_EQ(fps->put_Enabled(before->Enabled() ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
  }
  StopAndSetBack(L"SharedAccess", SERVICE_DISABLED);
  EXPECT_EQ(FirstHostDifference(seeded, Dump()), std::nullopt);
}

FirewallRule QuillfortRule(const char* protocolLabel, long protocol, const char* port) {
  FirewallRule r;
  r.name = std::string("@QXRuleOptions.exe, ") + protocolLabel + "-" + port;
  r.description = "@QXRuleOptions.exe,-103";
  r.grouping = "@QXRuleOptions.exe,-102";
  r.protocol = protocol;
  r.localPorts = port;
  r.action = 0;
  r.profiles = 7;
  r.enabled = true;
  return r;
}

HRESULT AddLike(INetFwRules* rules, const FirewallRule& from) {
  ComPtr<INetFwRule> rule;
  HRESULT hr = CoCreateInstance(CLSID_NetFwRule, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&rule));
  if (FAILED(hr)) return hr;
  if (FAILED(hr = rule->put_Name(Bstr(from.name))) || FAILED(hr = rule->put_Description(Bstr(from.description))) ||
      FAILED(hr = rule->put_Grouping(Bstr(from.grouping))) || FAILED(hr = rule->put_Protocol(from.protocol)) ||
      FAILED(hr = rule->put_LocalPorts(Bstr(from.localPorts))) ||
      FAILED(hr = rule->put_Action(static_cast<NET_FW_ACTION>(from.action))) ||
      FAILED(hr = rule->put_Profiles(from.profiles)) ||
      FAILED(hr = rule->put_Enabled(from.enabled ? VARIANT_TRUE : VARIANT_FALSE)))
    return hr;
  return rules->Add(rule.Get());
}

// The advanced path undone through the policy: every rule of Quillfort's
// grouping removed by name, the ones that were there before added again,
// the switches put back. The same host, its rules in another order.
TEST_F(HostSetup, RulesAndSwitchesUndoneThroughThePolicyGiveTheSeededHostBack) {
  Seed("win8");
  ASSERT_TRUE(UpdateState([](HostState& s) {
    s.rules.insert(s.rules.begin(), QuillfortRule("TCP", 6, "445"));
    return true;
  }));
  const HostState seeded = Dump();
  StartAutomatically(L"MpsSvc");  // the policy answers only while it runs
  Apartment apartment;
  ASSERT_TRUE(apartment.ok());
  ComPtr<INetFwPolicy2> policy;
  ComPtr<INetFwRules> rules;
  ASSERT_EQ(CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&policy)), S_OK);
  ASSERT_EQ(policy->get_Rules(&rules), S_OK);
  for (NET_FW_PROFILE_TYPE2 p : {NET_FW_PROFILE2_PUBLIC, NET_FW_PROFILE2_PRIVATE})
    EXPECT_EQ(policy->put_FirewallEnabled(p, VARIANT_TRUE), S_OK);
  for (const char* port : {"445", "135", "136", "137", "138", "139"}) {
    EXPECT_EQ(AddLike(rules.Get(), QuillfortRule("TCP", 6, port)), S_OK);
    EXPECT_EQ(AddLike(rules.Get(), QuillfortRule("UDP", 17, port)), S_OK);
  }
  ASSERT_EQ(Read().rules.size(), 15u);

  std::vector<std::string> ours;
  for (const FirewallRule& r : Read().rules)
    if (r.grouping == "@QXRuleOptions.exe,-102") ours.push_back(r.name);
  for (const std::string& name : ours) EXPECT_EQ(rules->Remove(Bstr(name)), S_OK) << name;
  EXPECT_EQ(Read().rules.size(), 2u) << "the rule that was there before went with ours: it has our name";
  for (const FirewallRule& r : seeded.rules)
    if (r.grouping == "@QXRuleOptions.exe,-102") {
      EXPECT_EQ(AddLike(rules.Get(), r), S_OK);
    }
  for (Profile p : {Profile::Domain, Profile::Private, Profile::Public})
    EXPECT_EQ(policy->put_FirewallEnabled(static_cast<NET_FW_PROFILE_TYPE2>(ProfileBit(p)),
                                          seeded.IsOn(p) ? VARIANT_TRUE : VARIANT_FALSE),
              S_OK);

  StopAndSetBack(L"MpsSvc", SERVICE_DISABLED);
  const HostState restored = Dump();
  EXPECT_EQ(FirstHostDifference(seeded, restored), "rule 1: name differs");
  EXPECT_EQ(FirstHostDifference(seeded, restored, RuleOrder::Ignored), std::nullopt);
}

}  // namespace
