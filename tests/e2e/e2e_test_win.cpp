// The shipped Quillfort.exe on simulated hosts: seeded, launched as its own
// process, driven through its dialog, and the host examined afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "host_setup_win.h"
#include "state/host_compare.h"
#include "state/netsh_command.h"
#include "state_store_win.h"
#include "e2e_support_win.h"
#include "ui_driver_win.h"

using namespace e2e;
using namespace testbed;

namespace {

const std::wstring kOn = L"启用", kOff = L"关闭", kAllowed = L"允许", kBlocked = L"禁止";

std::wstring SystemNetsh() {
  wchar_t dir[MAX_PATH];
  const UINT n = GetSystemDirectoryW(dir, MAX_PATH);
  return std::wstring(dir, n < MAX_PATH ? n : 0) + L"\\netsh.exe";
}

// Runs `work` with WOW64 file-system redirection off, as the program does
// around its netsh calls; false where it cannot be turned off.
template <typename Work>
bool WithoutRedirection(Work work) {
  using Disable = BOOL(WINAPI*)(PVOID*);
  using Revert = BOOL(WINAPI*)(PVOID);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto disable =
      reinterpret_cast<Disable>(reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
  auto revert =
      reinterpret_cast<Revert>(reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")));
  PVOID token = nullptr;
  if (!disable || !revert || !disable(&token)) return false;
  work();
  revert(token);
  return true;
}

// A 32-bit test on a 64-bit host: the testbed just installed is the 32-bit
// one, so its netsh went to syswow64. system32 gets the 64-bit netsh, and the
// services get the 64-bit service program (the service manager is 64-bit and
// cannot start a 32-bit one here).
bool InstallThe64BitHalf(const std::wstring& bin64, std::string& error) {
  bool copied = false;
  const bool switched = WithoutRedirection(
      [&] { copied = CopyFileW((bin64 + L"netsh.exe").c_str(), SystemNetsh().c_str(), FALSE) != 0; });
  if (!switched || !copied) {
    error = "cannot put the 64-bit netsh.exe of " + Utf8FromWide(bin64) + " into system32";
    return false;
  }
  if (!CopyFileW((bin64 + L"testbed-service.exe").c_str(), (TestbedHome() + L"\\testbed-service.exe").c_str(), FALSE)) {
    error = "cannot install the 64-bit testbed-service.exe of " + Utf8FromWide(bin64);
    return false;
  }
  return true;
}

// SCS_32BIT_BINARY, SCS_64BIT_BINARY, or -1 for no program.
int BinaryKind(const std::wstring& path) {
  DWORD kind = 0;
  return GetBinaryTypeW(path.c_str(), &kind) ? static_cast<int>(kind) : -1;
}

struct Outcome {
  Panel before;
  std::vector<Panel> after;                  // one per press
  std::vector<DWORD> hardenMs;               // one per press
  std::vector<bool> ended;                   // one per press
  std::vector<TextColours> progressColours;  // one per press
  std::string stdoutText;                    // all Quillfort wrote to standard output
  HostState host;
  ServiceReport mpsSvc, sharedAccess;

  bool Printed(const std::string& line) const { return stdoutText.find(line) != std::string::npos; }
};

class EndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    installed_ = InstallTestbed(Env(L"QF_TESTBED_BIN"), installError_);
    const std::wstring bin64 = Env(L"QF_TESTBED_BIN64");
    if (installed_ && !bin64.empty()) installed_ = InstallThe64BitHalf(bin64, installError_);
  }
  // Other tests share the prefix: give it back as Wine made it.
  static void TearDownTestSuite() {
    std::string error;
    if (installed_) {
      EXPECT_TRUE(UninstallTestbed(error)) << error;
    }
  }

  void SetUp() override {
    ASSERT_TRUE(installed_) << installError_;
    exe_ = Env(L"QUILLFORT_EXE");
    if (exe_.empty() || !FileExists(exe_)) GTEST_SKIP() << "Quillfort.exe is not built yet";
  }

  // Seeds the scenario, runs Quillfort with the given number of presses and
  // collects the panel and the host afterwards.
  Outcome Run(const char* scenarioName, int presses = 1, DWORD hardenLimitMs = 120000) {
    Outcome o;
    auto scenario = FindScenario(scenarioName);
    std::string error;
    EXPECT_TRUE(scenario && SeedScenario(*scenario, 0, error)) << scenarioName << ": " << error;
    QuillfortProcess quillfort;
    const std::wstring output = OutputFolder() + L"\\" + WideFromUtf8(scenarioName) + L"-stdout.txt";
    if (!LaunchQuillfort(exe_, 60000, quillfort, error, output)) {
      ADD_FAILURE() << scenarioName << ": " << error;
      return o;
    }
    Sleep(200);
    o.before = ReadPanel(quillfort.dialog);
    Shot(scenarioName, "before");
    for (int i = 0; i < presses; ++i) {
      DWORD elapsed = 0;
      o.ended.push_back(HardenAndWait(quillfort.dialog, hardenLimitMs, elapsed));
      o.hardenMs.push_back(elapsed);
      o.after.push_back(ReadPanel(quillfort.dialog));
      o.progressColours.push_back(CountTextColours(GetDlgItem(quillfort.dialog, kProgressLine)));
    }
    Shot(scenarioName, "after");
    EXPECT_TRUE(ExitAndWait(quillfort, 15000)) << scenarioName << ": the exit button did not end Quillfort";
    if (WaitForSingleObject(quillfort.process.get(), 0) != WAIT_OBJECT_0) TerminateProcess(quillfort.process.get(), 1);
    o.stdoutText = FileText(output);
    EXPECT_TRUE(ReadState(o.host, &error)) << error;
    o.mpsSvc = QueryService(L"MpsSvc");
    o.sharedAccess = QueryService(L"SharedAccess");
    return o;
  }

  void Shot(const std::string& scenario, const char* moment) {
    std::string folder = Utf8FromWide(Env(L"QF_E2E_OUTPUT"));
    if (!folder.empty()) {
      EXPECT_TRUE(SaveScreenshot(folder + "/" + scenario + "-" + moment + ".png"));
    }
  }

  static bool installed_;
  static std::string installError_;
  std::wstring exe_;
};

bool EndToEnd::installed_ = false;
std::string EndToEnd::installError_;

std::vector<std::wstring> Lines(const std::wstring& firewall, const std::vector<std::wstring>& ports) {
  std::vector<std::wstring> lines{firewall};
  lines.insert(lines.end(), ports.begin(), ports.end());
  return lines;
}

// Every press ended with the completion text in blue, nothing printed as
// failed, and the buttons back.
void ExpectCompleted(const Outcome& o) {
  ASSERT_FALSE(o.after.empty());
  for (size_t i = 0; i < o.after.size(); ++i) {
    SCOPED_TRACE("press " + std::to_string(i + 1));
    EXPECT_TRUE(o.ended[i]) << "the run did not end in time";
    EXPECT_EQ(o.after[i].Text(kProgressLine), kCompletionText);
    EXPECT_TRUE(o.after[i].hardenEnabled);
    EXPECT_TRUE(o.after[i].exitEnabled);
    const TextColours& c = o.progressColours[i];
    if (c.captured) {
      EXPECT_GT(c.blue, 20) << "completion text not blue";
      EXPECT_EQ(c.red, 0);
    }
  }
  EXPECT_FALSE(o.Printed("Step failed")) << o.stdoutText;
  EXPECT_FALSE(o.Printed("Still exposed")) << o.stdoutText;
}

// The one press ended with the failure text in red, and standard output
// names each of the given lines (failed steps, ports still exposed).
void ExpectIncomplete(const Outcome& o, const std::vector<std::string>& printed) {
  ASSERT_EQ(o.after.size(), 1u);
  EXPECT_TRUE(o.ended[0]) << "the run did not end in time";
  EXPECT_EQ(o.after[0].Text(kProgressLine), kFailureText);
  EXPECT_TRUE(o.after[0].hardenEnabled);
  EXPECT_TRUE(o.after[0].exitEnabled);
  const TextColours& c = o.progressColours[0];
  EXPECT_TRUE(c.captured) << "the progress line could not be read from the screen";
  if (c.captured) {
    EXPECT_GT(c.red, 20) << "failure text not red";
    EXPECT_EQ(c.blue, 0);
  }
  for (const std::string& line : printed)
    EXPECT_TRUE(o.Printed(line)) << "missing \"" << line << "\" in:\n" << o.stdoutText;
}

// The twelve rules of one run, starting at rules[from].
void ExpectHardeningRules(const std::vector<FirewallRule>& rules, size_t from) {
  ASSERT_GE(rules.size(), from + 12);
  const FirewallRule fresh;
  size_t i = from;
  for (const char* port : {"445", "135", "136", "137", "138", "139"}) {
    for (const char* label : {"TCP", "UDP"}) {
      const FirewallRule& r = rules[i++];
      SCOPED_TRACE("rule " + std::to_string(i - 1) + " " + label + "-" + port);
      EXPECT_EQ(r.name, std::string("@QXRuleOptions.exe, ") + label + "-" + port);
      EXPECT_EQ(r.grouping, "@QXRuleOptions.exe,-102");
      EXPECT_EQ(r.description, "@QXRuleOptions.exe,-103");
      EXPECT_EQ(r.direction, 1);
      EXPECT_EQ(r.action, 0);
      EXPECT_EQ(r.protocol, std::string(label) == "TCP" ? 6 : 17);
      EXPECT_EQ(r.localPorts, port);
      EXPECT_EQ(r.profiles, 7);
      EXPECT_TRUE(r.enabled);
      EXPECT_EQ(r.applicationName, fresh.applicationName);
      EXPECT_EQ(r.serviceName, fresh.serviceName);
      EXPECT_EQ(r.remotePorts, fresh.remotePorts);
      EXPECT_EQ(r.remoteAddresses, fresh.remoteAddresses);
      EXPECT_EQ(r.localAddresses, fresh.localAddresses);
      EXPECT_EQ(r.edgeTraversal, fresh.edgeTraversal);
    }
  }
}

void ExpectRunning(const ServiceReport& s, const char* name) {
  EXPECT_TRUE(s.installed) << name;
  EXPECT_EQ(s.startType, static_cast<DWORD>(SERVICE_AUTO_START)) << name;
  EXPECT_EQ(s.currentState, static_cast<DWORD>(SERVICE_RUNNING)) << name;
}

void ExpectUntouched(const ServiceReport& s, const char* name) {
  EXPECT_EQ(s.startType, static_cast<DWORD>(SERVICE_DISABLED)) << name;
  EXPECT_EQ(s.currentState, static_cast<DWORD>(SERVICE_STOPPED)) << name;
}

const std::vector<std::string> kNetshBatch = {
    "netsh firewall set opmode enable",
    "netsh firewall set portopening protocol = ALL port = 445 name = 445 mode = DISABLE scope = ALL profile = ALL",
    "netsh firewall set portopening protocol = ALL port = 135 name = 135 mode = DISABLE scope = ALL profile = ALL",
    "netsh firewall set portopening protocol = ALL port = 138 name = 138 mode = DISABLE scope = ALL profile = ALL",
    "netsh firewall set portopening protocol = ALL port = 137 name = 137 mode = DISABLE scope = ALL profile = ALL",
    "netsh firewall set portopening protocol = ALL port = 139 name = 139 mode = DISABLE scope = ALL profile = ALL",
    "netsh firewall set service type = FILEANDPRINT mode = DISABLE scope = ALL profile = ALL",
    "netsh firewall set service type = REMOTEADMIN mode = DISABLE profile = ALL",
};

// File and Printer Sharing is off in both legacy profiles, every port of it,
// and so is Remote Administration.
void ExpectFileAndPrintOff(HostState& host) {
  for (LegacyProfile p : {LegacyProfile::Standard, LegacyProfile::Domain}) {
    EXPECT_FALSE(host.RemoteAdmin(p));
    ServiceException* fps = host.FindServiceException(p, ServiceType::FileAndPrint);
    ASSERT_NE(fps, nullptr);
    for (const ServicePort& port : fps->ports) EXPECT_FALSE(port.enabled) << port.port;
  }
}

const std::vector<std::wstring> kSixBlocked(6, L"禁止"), kSixAllowed(6, L"允许");

// After the batch: every opening of the five ports is disabled, 136 is not.
void ExpectPortsClosedBut136(HostState& host) {
  for (LegacyProfile p : {LegacyProfile::Standard, LegacyProfile::Domain}) {
    for (long port : {445, 135, 137, 138, 139})
      for (long protocol : {6L, 17L}) {
        OpenPort* entry = host.FindOpenPort(p, port, protocol);
        ASSERT_NE(entry, nullptr) << port;
        EXPECT_FALSE(entry->enabled) << port;
      }
    OpenPort* p136 = host.FindOpenPort(p, 136, 6);
    ASSERT_NE(p136, nullptr);
    EXPECT_TRUE(p136->enabled);
    EXPECT_EQ(host.FindOpenPort(p, 136, 17), nullptr);
  }
}

TEST_F(EndToEnd, Windows7PressTwiceAddsTwelveRulesEachTimeAndStartsMpsSvc) {
  Outcome o = Run("win7", 2);
  EXPECT_EQ(o.before.StatusLines(), Lines(kOff, kSixAllowed));
  ExpectCompleted(o);
  ASSERT_EQ(o.after.size(), 2u);
  EXPECT_EQ(o.after[0].StatusLines(), Lines(kOn, kSixBlocked));
  EXPECT_EQ(o.after[1].StatusLines(), Lines(kOn, kSixBlocked));
  ASSERT_EQ(o.host.rules.size(), 24u);
  ExpectHardeningRules(o.host.rules, 0);
  ExpectHardeningRules(o.host.rules, 12);
  EXPECT_TRUE(o.host.IsOn(Profile::Public));
  EXPECT_TRUE(o.host.IsOn(Profile::Private));
  EXPECT_FALSE(o.host.IsOn(Profile::Domain));
  ExpectRunning(o.mpsSvc, "MpsSvc");
  ExpectUntouched(o.sharedAccess, "SharedAccess");
  EXPECT_TRUE(o.host.netshLog.empty());
}

TEST_F(EndToEnd, Windows8ReadsSeededRulesByWholePortsAndAppendsAfterThem) {
  Outcome o = Run("win8");
  // A rule for 1445 does not cover 445; TCP-only rules for 135-139 do not
  // close those ports for UDP.
  EXPECT_EQ(o.before.StatusLines(), Lines(kOff, kSixAllowed));
  ExpectCompleted(o);
  EXPECT_EQ(o.after.at(0).StatusLines(), Lines(kOn, kSixBlocked));
  ASSERT_EQ(o.host.rules.size(), 14u);
  EXPECT_EQ(o.host.rules[0].localPorts, "1445");
  EXPECT_EQ(o.host.rules[1].localPorts, "135-139");
  ExpectHardeningRules(o.host.rules, 2);
  ExpectRunning(o.mpsSvc, "MpsSvc");
}

TEST_F(EndToEnd, Windows10IsHardenedLikeAWindows8Host) {
  Outcome o = Run("win10");
  ExpectCompleted(o);
  ASSERT_EQ(o.host.rules.size(), 12u);
  ExpectHardeningRules(o.host.rules, 0);
  EXPECT_TRUE(o.host.netshLog.empty());
  ExpectRunning(o.mpsSvc, "MpsSvc");
}

// Vista is hardened through the advanced policy and read through it too, so
// the panel sees the rules it added.
TEST_F(EndToEnd, VistaReadsTheRulesItsRunAdds) {
  Outcome o = Run("vista");
  EXPECT_EQ(o.before.StatusLines(), Lines(kOff, kSixAllowed));
  ExpectCompleted(o);
  EXPECT_EQ(o.after.at(0).StatusLines(), Lines(kOn, kSixBlocked));
  ASSERT_EQ(o.host.rules.size(), 12u);
  ExpectHardeningRules(o.host.rules, 0);
  EXPECT_TRUE(o.host.netshLog.empty());
  EXPECT_TRUE(o.host.IsOn(Profile::Private));
  EXPECT_TRUE(o.host.IsOn(Profile::Public));
  ExpectRunning(o.mpsSvc, "MpsSvc");
  ExpectUntouched(o.sharedAccess, "SharedAccess");
}

TEST_F(EndToEnd, Server2003RunsTheNetshBatchInOrderAndLeavesPort136) {
  Outcome o = Run("win2003");
  EXPECT_EQ(o.before.StatusLines(), Lines(kOff, kSixAllowed));
  ExpectCompleted(o);
  EXPECT_EQ(o.after.at(0).StatusLines(), Lines(kOn, {kBlocked, kBlocked, kAllowed, kBlocked, kBlocked, kBlocked}));
  EXPECT_EQ(o.host.netshLog, kNetshBatch);
  ExpectPortsClosedBut136(o.host);
  ExpectFileAndPrintOff(o.host);
  EXPECT_TRUE(o.host.rules.empty());
  ExpectRunning(o.sharedAccess, "SharedAccess");
  ExpectUntouched(o.mpsSvc, "MpsSvc");
}

// The 32-bit program on a 64-bit host names system32's netsh. Were WOW64
// redirection left on around a call, it would reach the 32-bit copy in
// syswow64, which logs the call as the wrong netsh and changes nothing.
TEST_F(EndToEnd, Server2003X64BatchReachesThe64BitNetshFromThe32BitProgram) {
  if (Env(L"QF_TESTBED_BIN64").empty()) GTEST_SKIP() << "only for the 32-bit program on a 64-bit host";
  ASSERT_EQ(sizeof(void*), 4u) << "the driver must be the 32-bit one";
  ASSERT_EQ(BinaryKind(SystemNetsh()), SCS_32BIT_BINARY) << "the redirected netsh is not the 32-bit copy";
  int native = -1;
  ASSERT_TRUE(WithoutRedirection([&] { native = BinaryKind(SystemNetsh()); }));
  ASSERT_EQ(native, SCS_64BIT_BINARY) << "system32 holds no 64-bit netsh";
  Outcome o = Run("win2003");
  ExpectCompleted(o);
  EXPECT_EQ(CountWrongNetshCalls(o.host.netshLog), 0) << "the 32-bit netsh ran: redirection was on";
  EXPECT_EQ(o.host.netshLog, kNetshBatch);
  ExpectPortsClosedBut136(o.host);
  ExpectRunning(o.sharedAccess, "SharedAccess");
}

TEST_F(EndToEnd, UnclassifiedVersionTakesTheNetshPath) {
  Outcome o = Run("nt4");
  ExpectCompleted(o);
  EXPECT_EQ(o.host.netshLog, kNetshBatch);
  ExpectPortsClosedBut136(o.host);
  ExpectRunning(o.sharedAccess, "SharedAccess");
}

// The usual exposed XP host: firewall on, no port openings, but File and
// Printer Sharing lets 139 and 445 (TCP) and 137 and 138 (UDP) in.
TEST_F(EndToEnd, XpWithFileAndPrinterSharingEndsWithItsPortsClosed) {
  Outcome o = Run("winxp-fps");
  EXPECT_EQ(o.before.StatusLines(), Lines(kOn, {kAllowed, kBlocked, kBlocked, kAllowed, kAllowed, kAllowed}));
  ExpectCompleted(o);
  EXPECT_EQ(o.after.at(0).StatusLines(), Lines(kOn, kSixBlocked));
  EXPECT_EQ(o.host.netshLog, kNetshBatch);
  ExpectFileAndPrintOff(o.host);
  ExpectRunning(o.sharedAccess, "SharedAccess");
}

// The domain profile is in force and off; the run switches only public and
// private, so nothing is filtered and the panel says so before and after.
TEST_F(EndToEnd, DomainJoinedHostWithDomainFirewallOffEndsIncomplete) {
  Outcome o = Run("win7-domain-off");
  EXPECT_EQ(o.before.StatusLines(), Lines(kOff, kSixAllowed));
  ExpectIncomplete(o, {"Still exposed: firewall off", "Still exposed: port 445"});
  EXPECT_EQ(o.after.at(0).StatusLines(), Lines(kOff, kSixAllowed));
  EXPECT_FALSE(o.host.IsOn(Profile::Domain));
  ASSERT_EQ(o.host.rules.size(), 12u);
  ExpectHardeningRules(o.host.rules, 0);
  EXPECT_FALSE(o.Printed("Step failed")) << "every step worked; the host is still exposed";
}

TEST_F(EndToEnd, RulesThatDoNotApplyLeaveThePortsAllowedUntilTheRun) {
  {
    SCOPED_TRACE("UDP-only rule for 445");
    Outcome o = Run("win7-udp-445");
    EXPECT_EQ(o.before.StatusLines(), Lines(kOn, kSixAllowed));
    ExpectCompleted(o);
    EXPECT_EQ(o.after.at(0).StatusLines(), Lines(kOn, kSixBlocked));
  }
  {
    SCOPED_TRACE("domain-profile rules on a public network");
    Outcome o = Run("win7-domain-rules");
    EXPECT_EQ(o.before.StatusLines(), Lines(kOn, kSixAllowed));
    ExpectCompleted(o);
    EXPECT_EQ(o.after.at(0).StatusLines(), Lines(kOn, kSixBlocked));
  }
}

// The panel reads what is in force before and after the run, and the run
// ends complete only where the ports are closed by what is in force; where it
// is not, standard output says what keeps them open.
TEST_F(EndToEnd, ThePanelAndTheRunReadWhatIsInForce) {
  struct Case {
    const char* scenario;
    std::vector<std::wstring> before, after;
    std::vector<std::string> incomplete;  // empty: the run completes
  };
  const std::vector<Case> cases = {
      {"win7-gp-off",
       Lines(kOff, kSixAllowed),
       Lines(kOff, kSixAllowed),
       {"Still exposed: firewall off", "Group policy keeps the firewall off: domain profile"}},
      {"win7-gp-no-merge",
       Lines(kOn, kSixAllowed),
       Lines(kOn, kSixAllowed),
       {"Still exposed: port 445", "Group policy ignores local rules: public profile"}},
      {"win7-gp-blocks-445",
       Lines(kOn, {kBlocked, kAllowed, kAllowed, kAllowed, kAllowed, kAllowed}),
       Lines(kOn, kSixBlocked),
       {}},
      {"win7-shielded-excluded", Lines(kOn, kSixBlocked), Lines(kOn, kSixBlocked), {}},
      // The netsh batch closes Remote Administration; the authorised service host keeps 135 open.
      {"winxp-remote-admin",
       Lines(kOn, {kAllowed, kAllowed, kBlocked, kBlocked, kBlocked, kBlocked}),
       Lines(kOn, {kBlocked, kAllowed, kBlocked, kBlocked, kBlocked, kBlocked}),
       {"Still exposed: port 135"}},
      // The policy answers once the run has started its service.
      {"win7-mpssvc-stopped", Lines(kOff, kSixAllowed), Lines(kOn, kSixBlocked), {}},
      {"win2000", Lines(kOff, kSixAllowed), Lines(kOff, kSixAllowed), {"This host has no firewall Quillfort can use"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    Outcome o = Run(c.scenario);
    EXPECT_EQ(o.before.StatusLines(), c.before);
    if (c.incomplete.empty()) {
      ExpectCompleted(o);
    } else {
      ExpectIncomplete(o, c.incomplete);
    }
    ASSERT_FALSE(o.after.empty());
    EXPECT_EQ(o.after[0].StatusLines(), c.after);
    if (std::string(c.scenario) == "win2000") {
      // It stops before its first change.
      EXPECT_TRUE(o.host.netshLog.empty());
      ExpectUntouched(o.sharedAccess, "SharedAccess");
    }
  }
}

TEST_F(EndToEnd, RefusedPolicyEndsIncompleteWithoutRules) {
  Outcome o = Run("win7-policy-refused");
  ExpectIncomplete(o, {"Step failed: CAdvancedFirewall::Initialize"});
  EXPECT_EQ(o.after.at(0).StatusLines(), Lines(kOff, kSixAllowed)) << "an unreadable policy protects nothing";
  EXPECT_TRUE(o.host.rules.empty());
  // The switch the legacy profile would make cannot be recorded for a
  // restore while the policy is unreadable, so it is not made.
  EXPECT_FALSE(o.host.IsOn(Profile::Private));
  EXPECT_FALSE(o.host.IsOn(Profile::Public));
  ExpectRunning(o.mpsSvc, "MpsSvc");
}

TEST_F(EndToEnd, RefusedRuleAddLeavesItsPortAllowedAndEndsIncomplete) {
  Outcome o = Run("win7-add-refused");  // the third Add: TCP 135
  ExpectIncomplete(o, {"Step failed: AddBlockRule TCP 135", "Still exposed: port 135"});
  EXPECT_EQ(o.after.at(0).StatusLines(), Lines(kOn, {kBlocked, kAllowed, kBlocked, kBlocked, kBlocked, kBlocked}));
  ASSERT_EQ(o.host.rules.size(), 11u);
  for (const FirewallRule& r : o.host.rules) EXPECT_NE(r.name, "@QXRuleOptions.exe, TCP-135");
  EXPECT_FALSE(o.Printed("AddBlockRule UDP 135")) << "only the refused Add failed";
}

// Without its service the policy answers nothing: no rule goes in and
// nothing reads as protected.
TEST_F(EndToEnd, MissingOrRefusingServiceEndsIncompleteWithoutRules) {
  for (const char* scenario : {"win7-service-missing", "win7-service-refusing"}) {
    SCOPED_TRACE(scenario);
    Outcome o = Run(scenario);
    ExpectIncomplete(o, {"Step failed: StartServiceAndWait MpsSvc", "The firewall service is not running"});
    EXPECT_TRUE(o.host.rules.empty());
    EXPECT_EQ(o.after.at(0).StatusLines(), Lines(kOff, kSixAllowed));
    EXPECT_NE(o.mpsSvc.currentState, static_cast<DWORD>(SERVICE_RUNNING));
  }
}

TEST_F(EndToEnd, StuckServiceDelaysTheRunBoundedlyAndEndsIncomplete) {
  Outcome o = Run("win7-service-stuck", 1, 180000);
  ExpectIncomplete(o, {"Step failed: StartServiceAndWait MpsSvc"});
  EXPECT_TRUE(o.host.rules.empty());
  EXPECT_LE(o.hardenMs.at(0), 90000u) << "the service wait has no bound";
  std::printf("stuck MpsSvc: hardening run took %lu ms\n", o.hardenMs.at(0));
}

TEST_F(EndToEnd, HangingNetshIsAbandonedTheBatchGoesOnAndTheRunIsIncomplete) {
  Outcome o = Run("win2003-netsh-hang");
  ExpectIncomplete(o, {"Step failed: RunSystemCommand netsh firewall set opmode enable"});
  EXPECT_GE(o.hardenMs.at(0), 14000u);
  EXPECT_LE(o.hardenMs.at(0), 45000u);
  EXPECT_EQ(o.host.netshLog, kNetshBatch);
  ExpectPortsClosedBut136(o.host);
  EXPECT_FALSE(o.Printed("set portopening")) << "only the hanging command failed";
}

TEST_F(EndToEnd, FailingNetshLeavesEveryOpeningAsItWasAndSaysSo) {
  Outcome o = Run("win2003-netsh-fail");
  std::vector<std::string> failed;
  for (const std::string& line : kNetshBatch) failed.push_back("Step failed: RunSystemCommand " + line);
  // The first switch found its firewall service stopped; only netsh would have switched it on.
  failed.push_back("Still exposed: firewall off");
  failed.push_back("Still exposed: port 445");
  ExpectIncomplete(o, failed);
  EXPECT_EQ(o.host.netshLog, kNetshBatch);
  for (const OpenPort& p : o.host.openPorts) EXPECT_TRUE(p.enabled) << p.port;
  EXPECT_EQ(o.after.at(0).StatusLines(), Lines(kOff, kSixAllowed));
}

}  // namespace

namespace {

HostState DumpedHost() {
  const ParseResult parsed = ParseState(DumpHost());
  EXPECT_TRUE(parsed.state) << parsed.error;
  return parsed.state ? *parsed.state : HostState{};
}

}  // namespace

// Hardened from the button, then undone from the system menu: the host, as
// the testbed dumps it, is what it was before the run, on both paths.
TEST_F(EndToEnd, UndoFromTheSystemMenuReturnsTheHostToHowItWasBeforeTheRun) {
  for (const char* scenarioName : {"win7", "win2003"}) {
    SCOPED_TRACE(scenarioName);
    const auto scenario = FindScenario(scenarioName);
    std::string error;
    ASSERT_TRUE(scenario && SeedScenario(*scenario, 0, error)) << error;
    const HostState seeded = DumpedHost();
    QuillfortProcess quillfort;
    const std::wstring output = OutputFolder() + L"\\undo-" + WideFromUtf8(scenarioName) + L"-stdout.txt";
    ASSERT_TRUE(LaunchQuillfort(exe_, 60000, quillfort, error, output)) << error;
    Sleep(200);
    const Panel before = ReadPanel(quillfort.dialog);

    DWORD elapsed = 0;
    EXPECT_TRUE(HardenAndWait(quillfort.dialog, 120000, elapsed));
    EXPECT_EQ(ReadPanel(quillfort.dialog).Text(kProgressLine), kCompletionText);
    EXPECT_TRUE(FirstHostDifference(seeded, DumpedHost(), RuleOrder::Matters)) << "the run changed nothing";

    EXPECT_TRUE(UndoAndWait(quillfort.dialog, 120000, elapsed)) << "the undo did not end in time";
    const Panel undone = ReadPanel(quillfort.dialog);
    EXPECT_EQ(undone.Text(kProgressLine), kRestoredText);
    const TextColours colours = CountTextColours(GetDlgItem(quillfort.dialog, kProgressLine));
    if (colours.captured) {
      EXPECT_GT(colours.blue, 20) << "restored text not blue";
      EXPECT_EQ(colours.red, 0);
    }
    // The panel was read again: it shows the host as it was before the run.
    EXPECT_EQ(undone.StatusLines(), before.StatusLines());
    const std::optional<std::string> difference = FirstHostDifference(seeded, DumpedHost(), RuleOrder::Matters);
    EXPECT_FALSE(difference) << "after the undo: " << difference.value_or("");

    // Nothing is left to undo, and the dialog says so.
    EXPECT_TRUE(UndoAndWait(quillfort.dialog, 60000, elapsed));
    EXPECT_EQ(ReadPanel(quillfort.dialog).Text(kProgressLine), kNothingToRestoreText);

    EXPECT_TRUE(ExitAndWait(quillfort, 15000));
    if (WaitForSingleObject(quillfort.process.get(), 0) != WAIT_OBJECT_0) TerminateProcess(quillfort.process.get(), 1);
    const std::string printed = FileText(output);
    EXPECT_EQ(printed.find("Step failed"), std::string::npos) << printed;
  }
}
