// The shipped quillfort-cli.exe on simulated hosts: status, harden twice,
// restore back to the seeded host, check, failures, usage, and a run from
// the dialog's button undone by restore.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "host_setup_win.h"
#include "state/host_compare.h"
#include "state_store_win.h"
#include "e2e_support_win.h"
#include "ui_driver_win.h"

using namespace e2e;
using namespace testbed;

namespace {

using Result = ConsoleRun;

// The host as the testbed dumps it: the state with what the service manager
// says of each service and the Windows version the programs see.
HostState Dumped() {
  const ParseResult parsed = ParseState(DumpHost());
  EXPECT_TRUE(parsed.state) << parsed.error;
  return parsed.state ? *parsed.state : HostState{};
}

// What restore must give back: the same host, the double's own history aside.
void ExpectSameHost(const HostState& seeded, RuleOrder order = RuleOrder::Matters) {
  const std::optional<std::string> difference = FirstHostDifference(seeded, Dumped(), order);
  EXPECT_FALSE(difference) << "after restore: " << difference.value_or("");
}

class CommandLine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    installed_ = InstallTestbed(Env(L"QF_TESTBED_BIN"), installError_);
    // The schema check reads what this run keeps, nothing older.
    WIN32_FIND_DATAW found;
    const std::wstring pattern = OutputFolder() + L"\\cli-json-*.json";
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
      DeleteFileW((OutputFolder() + L"\\" + found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  static void TearDownTestSuite() {
    std::string error;
    if (installed_) {
      EXPECT_TRUE(UninstallTestbed(error)) << error;
    }
  }

  void SetUp() override {
    ASSERT_TRUE(installed_) << installError_;
    cli_ = Env(L"QUILLFORT_CLI_EXE");
    if (cli_.empty() || !FileExists(cli_)) GTEST_SKIP() << "quillfort-cli.exe is not built yet";
  }

  void Seed(const char* scenarioName) {
    const auto scenario = FindScenario(scenarioName);
    std::string error;
    ASSERT_TRUE(scenario && SeedScenario(*scenario, 0, error)) << scenarioName << ": " << error;
  }

  // The JSON outputs are kept for the schema check that follows this test.
  Result Run(const std::wstring& arguments, const std::string& keepAs = "", bool throughCmd = false) {
    std::wstring line = L"\"" + cli_ + L"\" " + arguments;
    if (throughCmd) line = L"cmd.exe /c \"" + line + L"\"";
    const std::wstring kept = keepAs.empty() ? L"" : OutputFolder() + L"\\cli-json-" + WideFromUtf8(keepAs) + L".json";
    Result result = RunConsole(line, kept);
    EXPECT_TRUE(result.problem.empty()) << result.problem;
    return result;
  }

  // status, harden twice, check, restore: the host ends as it was seeded.
  void HardenTwiceAndRestore(const char* scenario, int rulesPerRun) {
    SCOPED_TRACE(scenario);
    Seed(scenario);
    const HostState seeded = Dumped();

    const Result before = Run(L"status --json", std::string(scenario) + "-status-before");
    EXPECT_EQ(before.exitCode, 1u) << before.out;
    EXPECT_TRUE(before.Says("\"hardened\": false")) << before.out;
    EXPECT_EQ(Run(L"check").exitCode, 1u);

    const Result first = Run(L"harden --json", std::string(scenario) + "-harden-first");
    EXPECT_EQ(first.exitCode, 0u) << first.out;
    EXPECT_TRUE(first.Says("\"changed\": true")) << first.out;
    EXPECT_TRUE(first.Says("\"restorePointSaved\": true")) << first.out;
    EXPECT_TRUE(first.err.empty()) << first.err;

    const Result second = Run(L"harden --json", std::string(scenario) + "-harden-second");
    EXPECT_EQ(second.exitCode, 0u) << second.out;
    EXPECT_TRUE(second.Says("\"changed\": false")) << second.out;
    EXPECT_TRUE(second.Says("\"rulesAdded\": 0")) << second.out;
    EXPECT_TRUE(second.Says("\"quillfortRules\": " + std::to_string(rulesPerRun))) << second.out;
    HostState host;
    std::string error;
    ASSERT_TRUE(ReadState(host, &error)) << error;
    EXPECT_EQ(host.rules.size() - CountSeededRules(scenario), static_cast<std::size_t>(rulesPerRun));

    const Result status = Run(L"status");
    EXPECT_EQ(status.exitCode, 0u) << status.out;
    EXPECT_EQ(status.LastLine(), "hardened: yes");
    const Result check = Run(L"check");
    EXPECT_EQ(check.exitCode, 0u);
    EXPECT_EQ(check.out.find("hardened: "), 0u) << check.out;

    const Result restore = Run(L"restore --json", std::string(scenario) + "-restore");
    EXPECT_EQ(restore.exitCode, 0u) << restore.out;
    EXPECT_TRUE(restore.Says("\"restorePointFound\": true")) << restore.out;
    ExpectSameHost(seeded);

    const Result again = Run(L"restore");
    EXPECT_EQ(again.exitCode, 0u) << again.out << DumpHost();
    EXPECT_EQ(again.LastLine(), "restore: nothing to restore (no restore point)");
    ExpectSameHost(seeded);
    EXPECT_EQ(Run(L"check").exitCode, 1u);
  }

  static std::size_t CountSeededRules(const char* scenarioName) {
    const auto scenario = FindScenario(scenarioName);
    return scenario ? scenario->seed.rules.size() : 0;
  }

  static bool installed_;
  static std::string installError_;
  std::wstring cli_;
};

bool CommandLine::installed_ = false;
std::string CommandLine::installError_;

TEST_F(CommandLine, Windows7HardensOnceAndRestoresTheSeededHost) { HardenTwiceAndRestore("win7", 12); }
TEST_F(CommandLine, Windows8HardensOnceAndRestoresTheSeededHost) { HardenTwiceAndRestore("win8", 12); }
TEST_F(CommandLine, VistaHardensOnceAndRestoresTheSeededHost) { HardenTwiceAndRestore("vista", 12); }
TEST_F(CommandLine, Server2003HardensThroughNetshAndRestoresTheSeededHost) { HardenTwiceAndRestore("win2003", 0); }
TEST_F(CommandLine, NT4ClassHostHardensThroughNetshAndRestoresTheSeededHost) { HardenTwiceAndRestore("nt4", 0); }
// The policy answers once the run has started MpsSvc; restore reads it back
// before it stops the service again.
TEST_F(CommandLine, HostWithMpsSvcStoppedHardensAndRestoresTheSeededHost) {
  HardenTwiceAndRestore("win7-mpssvc-stopped", 12);
}

TEST_F(CommandLine, ARunFromTheDialogIsUndoneByRestore) {
  Seed("win7");
  const HostState seeded = Dumped();
  const std::wstring exe = Env(L"QUILLFORT_EXE");
  if (exe.empty() || !FileExists(exe)) GTEST_SKIP() << "Quillfort.exe is not built yet";
  QuillfortProcess quillfort;
  std::string error;
  ASSERT_TRUE(LaunchQuillfort(exe, 60000, quillfort, error)) << error;
  DWORD elapsed = 0;
  EXPECT_TRUE(HardenAndWait(quillfort.dialog, 120000, elapsed));
  EXPECT_TRUE(ExitAndWait(quillfort, 15000));
  if (WaitForSingleObject(quillfort.process.get(), 0) != WAIT_OBJECT_0) TerminateProcess(quillfort.process.get(), 1);
  EXPECT_EQ(Run(L"check").exitCode, 0u);

  const Result restore = Run(L"restore");
  EXPECT_EQ(restore.exitCode, 0u) << restore.out;
  EXPECT_EQ(restore.LastLine(), "restore: restored");
  ExpectSameHost(seeded);
}

TEST_F(CommandLine, QuillfortRulesThatWereThereBeforeAreThereAgainAfterRestore) {
  Seed("win7");
  // A dialog run before the first console run leaves twelve rules of ours.
  EXPECT_EQ(Run(L"harden").exitCode, 0u);
  ASSERT_EQ(Run(L"restore").exitCode, 0u);
  HostState host;
  std::string error;
  ASSERT_TRUE(ReadState(host, &error)) << error;
  FirewallRule ours;
  ours.name = "@QXRuleOptions.exe, TCP-445";
  ours.grouping = "@QXRuleOptions.exe,-102";
  ours.description = "@QXRuleOptions.exe,-103";
  ours.protocol = 6;
  ours.localPorts = "445";
  ours.action = 0;
  ours.profiles = 7;
  ours.enabled = true;
  host.rules.push_back(ours);
  ASSERT_TRUE(WriteState(host)) << "cannot write the state";
  const HostState seeded = Dumped();

  const Result harden = Run(L"harden");
  EXPECT_EQ(harden.exitCode, 0u) << harden.out;
  EXPECT_TRUE(harden.Says("already present: 1")) << harden.out;
  const Result restore = Run(L"restore");
  EXPECT_EQ(restore.exitCode, 0u) << restore.out;
  ExpectSameHost(seeded);
}

TEST_F(CommandLine, FailedStepsExitTwoAndNameTheStep) {
  struct Case {
    const char* scenario;
    const char* step;
  };
  for (const Case& c :
       {Case{"win7-service-missing", "StartServiceAndWait MpsSvc"},
        Case{"win7-policy-refused", "CAdvancedFirewall::Initialize"}, Case{"win7-add-refused", "AddBlockRule"},
        Case{"win2003-netsh-fail", "RunSystemCommand netsh firewall"}}) {
    SCOPED_TRACE(c.scenario);
    Seed(c.scenario);
    const Result harden = Run(L"harden --json", std::string(c.scenario) + "-harden");
    EXPECT_EQ(harden.exitCode, 2u) << harden.out;
    EXPECT_TRUE(harden.Says(c.step)) << harden.out;
    Seed(c.scenario);
    const Result text = Run(L"harden");
    EXPECT_EQ(text.exitCode, 2u);
    EXPECT_NE(text.LastLine().find("FAILED"), std::string::npos) << text.out;
    EXPECT_TRUE(text.err.empty()) << text.err;
  }
  // Only the third addition of the host's life is refused: a second run adds
  // the one rule missing and completes.
  Seed("win7-add-refused");
  EXPECT_EQ(Run(L"harden").exitCode, 2u);
  const Result retry = Run(L"harden");
  EXPECT_EQ(retry.exitCode, 0u) << retry.out;
  EXPECT_TRUE(retry.Says("Rules added: 1, already present: 11")) << retry.out;
}

// The slow faults, once each: a service that never starts, a command that
// hangs, a service that stops with "access denied" of its own (a failed
// step, not a refusal of the caller), a host whose domain firewall group
// policy holds off (every step succeeds, the host stays exposed).
TEST_F(CommandLine, EveryOtherFaultExitsTwoAndSaysWhy) {
  struct Case {
    const char* scenario;
    const char* said;
  };
  for (const Case& c : {Case{"win7-service-stuck", "StartServiceAndWait MpsSvc"},
                        Case{"win7-service-refusing", "StartServiceAndWait MpsSvc"},
                        Case{"win2003-netsh-hang", "RunSystemCommand netsh firewall set opmode enable"},
                        Case{"win7-domain-off", "firewall off"}}) {
    SCOPED_TRACE(c.scenario);
    Seed(c.scenario);
    const Result harden = Run(L"harden --json", std::string(c.scenario) + "-harden");
    EXPECT_EQ(harden.exitCode, 2u) << harden.out;
    EXPECT_TRUE(harden.Says(c.said)) << harden.out;
    EXPECT_TRUE(harden.Says("\"accessDenied\": false")) << harden.out;
  }
}

TEST_F(CommandLine, DiagnosticsGoToTheLogAndFailuresCarryTheirOwn) {
  Seed("win7");
  const std::wstring log = OutputFolder() + L"\\cli-harden.log";
  const Result harden = Run(L"harden --log \"" + log + L"\"");
  EXPECT_EQ(harden.exitCode, 0u) << harden.out;
  EXPECT_FALSE(harden.Says("Successfully added firewall rule")) << harden.out;
  EXPECT_FALSE(harden.Says("Local Ports")) << harden.out;
  EXPECT_NE(FileText(log).find("Successfully added firewall rule !"), std::string::npos);
  Run(L"restore");

  Seed("win7-add-refused");
  const Result refused = Run(L"harden");
  EXPECT_EQ(refused.exitCode, 2u);
  EXPECT_TRUE(refused.Says("Failed to add firewall rule")) << refused.out;
}

TEST_F(CommandLine, AccessDeniedExitsThreeAndSaysToRunElevated) {
  if (!FindScenario("win7-not-admin")) GTEST_SKIP() << "no access-denied host in this testbed";
  Seed("win7-not-admin");
  const Result harden = Run(L"harden --json", "win7-not-admin-harden");
  EXPECT_EQ(harden.exitCode, 3u) << harden.out;
  EXPECT_TRUE(harden.Says("\"accessDenied\": true")) << harden.out;
  const Result text = Run(L"harden");
  EXPECT_EQ(text.exitCode, 3u);
  EXPECT_NE(text.LastLine().find("elevated"), std::string::npos) << text.out;
}

TEST_F(CommandLine, UsageErrorsExitSixtyFourOnStandardErrorOnly) {
  for (const wchar_t* arguments : {L"", L"frobnicate", L"status --bogus", L"check --json", L"status --log"}) {
    SCOPED_TRACE(Utf8FromWide(arguments));
    const Result result = Run(arguments);
    EXPECT_EQ(result.exitCode, 64u);
    EXPECT_TRUE(result.out.empty()) << result.out;
    EXPECT_NE(result.err.find("--help"), std::string::npos) << result.err;
  }
  const Result help = Run(L"--help");
  EXPECT_EQ(help.exitCode, 0u);
  EXPECT_NE(help.out.find("quillfort-cli"), std::string::npos);
}

// ---- the restore point and restore ---------------------------------------------

constexpr wchar_t kPointKey[] = L"SOFTWARE\\Quillfort\\RestorePoint";

bool PointExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPointKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// A text as a JSON string holds it (the names of the restore point's values have backslashes).
std::string JsonText(const std::string& text) {
  std::string escaped;
  for (char c : text) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return escaped;
}

void SetPointNumber(const wchar_t* name, DWORD value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPointKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

void SetPointText(const wchar_t* name, const std::wstring& text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPointKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

void ChangeState(const std::function<void(HostState&)>& change) {
  HostState host;
  std::string error;
  ASSERT_TRUE(ReadState(host, &error)) << error;
  change(host);
  ASSERT_TRUE(WriteState(host)) << "cannot write the state";
}

// A restore point of the version before, which never changed Remote
// Administration: the next run records it as it finds it before closing it,
// once its stopped firewall service runs again, and restore puts it back.
TEST_F(CommandLine, AnOlderRestorePointGainsRemoteAdministrationBeforeTheRunClosesIt) {
  Seed("winxp-remote-admin");
  ASSERT_EQ(Run(L"harden").exitCode, 2u);  // the authorised service host keeps 135 open
  for (const wchar_t* profile : {L"Legacy\\Domain", L"Legacy\\Standard"}) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPointKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, (std::wstring(profile) + L"\\RemoteAdminEnabled").c_str()), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  SetPointNumber(L"Version", 2);
  ChangeState([](HostState& s) { s.SetRemoteAdmin(LegacyProfile::Standard, true); });
  StopService(L"SharedAccess");
  EXPECT_EQ(Run(L"harden").exitCode, 2u);
  EXPECT_FALSE(Dumped().RemoteAdmin(LegacyProfile::Standard));
  const Result restore = Run(L"restore");
  EXPECT_EQ(restore.exitCode, 0u) << restore.out;
  EXPECT_TRUE(Dumped().RemoteAdmin(LegacyProfile::Standard));
  EXPECT_FALSE(Dumped().RemoteAdmin(LegacyProfile::Domain));
}

// Fault: the policy cannot be opened during restore. Restore says so, keeps
// the restore point, and a retry once it can puts everything back.
TEST_F(CommandLine, RestoreWithThePolicyUnreadFailsAndKeepsTheRestorePoint) {
  Seed("win7");
  const HostState seeded = Dumped();
  ASSERT_EQ(Run(L"harden").exitCode, 0u);
  ChangeState([](HostState& s) { s.refusePolicy2 = true; });
  const Result failed = Run(L"restore");
  EXPECT_EQ(failed.exitCode, 2u) << failed.out;
  EXPECT_TRUE(failed.Says("ReadFirewallPolicy")) << failed.out;
  EXPECT_TRUE(failed.Says("Restore point kept")) << failed.out;
  EXPECT_TRUE(PointExists());
  ChangeState([](HostState& s) { s.refusePolicy2 = false; });
  const Result retry = Run(L"restore");
  EXPECT_EQ(retry.exitCode, 0u) << retry.out;
  EXPECT_FALSE(PointExists());
  ExpectSameHost(seeded);
  EXPECT_EQ(Run(L"restore").LastLine(), "restore: nothing to restore (no restore point)");
}

// Fault: a restore point that cannot be saved. harden changes nothing.
TEST_F(CommandLine, HardenThatCannotSaveItsRestorePointChangesNothing) {
  Seed("win7");
  const HostState seeded = Dumped();
  HKEY blocker = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quillfort\\RestorePoint\\Foreign", 0, nullptr, 0, KEY_WRITE,
                            nullptr, &blocker, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(blocker);
  const Result harden = Run(L"harden");
  EXPECT_EQ(harden.exitCode, 2u) << harden.out;
  EXPECT_TRUE(harden.Says("SaveRestorePoint")) << harden.out;
  EXPECT_TRUE(harden.Says("subkey Foreign")) << harden.out;
  ExpectSameHost(seeded);
  EXPECT_EQ(Run(L"restore").exitCode, 2u);  // reported, left untouched
  EXPECT_TRUE(PointExists());
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quillfort\\RestorePoint\\Foreign");
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kPointKey);
  EXPECT_EQ(Run(L"harden").exitCode, 0u);
  EXPECT_EQ(Run(L"restore").exitCode, 0u);
  ExpectSameHost(seeded);
}

// Fault: damaged or newer restore points are reported by name and left
// untouched by restore and harden.
TEST_F(CommandLine, DamagedOrNewerRestorePointsAreReportedAndLeftAlone) {
  struct Damage {
    const char* said;
    std::function<void()> apply;
    std::function<void()> mend;
  };
  const std::vector<Damage> damages = {
      {"Version: 4", [] { SetPointNumber(L"Version", 4); }, [] { SetPointNumber(L"Version", 3); }},
      {"Services\\MpsSvc\\StartType: not a number", [] { SetPointText(L"Services\\MpsSvc\\StartType", L"4"); },
       [] { SetPointNumber(L"Services\\MpsSvc\\StartType", 4); }},
      {"4294967295 is out of range", [] { SetPointNumber(L"Services\\MpsSvc\\StartType", 0xFFFFFFFF); },
       [] { SetPointNumber(L"Services\\MpsSvc\\StartType", 4); }},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.said);
    Seed("win7");
    const HostState seeded = Dumped();
    ASSERT_EQ(Run(L"harden").exitCode, 0u);
    damage.apply();
    const HostState hardened = Dumped();
    const Result restore = Run(L"restore --json");
    EXPECT_EQ(restore.exitCode, 2u) << restore.out;
    EXPECT_TRUE(restore.Says(JsonText(damage.said))) << restore.out;
    EXPECT_TRUE(restore.Says("\"restorePointKept\": true")) << restore.out;
    EXPECT_FALSE(FirstHostDifference(hardened, Dumped(), RuleOrder::Matters));
    const Result harden = Run(L"harden");
    EXPECT_EQ(harden.exitCode, 2u) << harden.out;
    EXPECT_TRUE(harden.Says(damage.said)) << harden.out;
    EXPECT_TRUE(PointExists());
    damage.mend();
    EXPECT_EQ(Run(L"restore").exitCode, 0u);
    ExpectSameHost(seeded);
  }
}

// Fault: Internet Connection Sharing (SharedAccess on Vista and later),
// started by its owner, is not Quillfort's to stop.
TEST_F(CommandLine, RestoreLeavesTheOtherPathsServiceAlone) {
  Seed("vista");
  ASSERT_EQ(Run(L"harden").exitCode, 0u);
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(manager, nullptr);
  SC_HANDLE ics = OpenServiceW(manager, L"SharedAccess", SERVICE_ALL_ACCESS);
  ASSERT_NE(ics, nullptr);
  ChangeServiceConfigW(ics, SERVICE_NO_CHANGE, SERVICE_DEMAND_START, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr);
  StartServiceW(ics, 0, nullptr);
  const Result restore = Run(L"restore");
  EXPECT_EQ(restore.exitCode, 0u) << restore.out;
  EXPECT_TRUE(restore.Says("Services stopped: MpsSvc")) << restore.out;
  EXPECT_FALSE(restore.Says("SharedAccess")) << restore.out;
  SERVICE_STATUS status{};
  for (int i = 0; i < 50 && QueryServiceStatus(ics, &status) && status.dwCurrentState == SERVICE_START_PENDING; ++i)
    Sleep(100);
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  ControlService(ics, SERVICE_CONTROL_STOP, &status);
  CloseServiceHandle(ics);
  CloseServiceHandle(manager);
}

// Fault: a user's rule with the name of Quillfort's TCP 445 rule; and
// rules of Quillfort's names narrowed to one address. Neither is ours: both
// stay, harden adds full ones beside them, restore removes only those.
TEST_F(CommandLine, RulesSharingQuillfortsNamesAreNeverTouched) {
  for (const char* scenario : {"win7-user-rule-same-name", "win7-quillfort-narrowed"}) {
    SCOPED_TRACE(scenario);
    Seed(scenario);
    const HostState seeded = Dumped();
    const Result harden = Run(L"harden");
    EXPECT_EQ(harden.exitCode, 0u) << harden.out;
    EXPECT_TRUE(harden.Says("Rules added: 12, already present: 0")) << harden.out;
    for (int attempt = 0; attempt < 2; ++attempt) {
      const Result restore = Run(L"restore");
      EXPECT_EQ(restore.exitCode, 0u) << restore.out;
      ExpectSameHost(seeded);
    }
  }
}

// Fault: a legacy opening of custom scope comes back with its addresses.
TEST_F(CommandLine, CustomScopeOpeningsComeBackWithTheirAddresses) {
  Seed("win2003-custom-scope");
  const HostState seeded = Dumped();
  ASSERT_EQ(Run(L"harden").exitCode, 0u);
  const Result restore = Run(L"restore");
  EXPECT_EQ(restore.exitCode, 0u) << restore.out;
  ExpectSameHost(seeded);
  EXPECT_EQ(Run(L"restore").exitCode, 0u);
}

// Diagnostics come from memory: a log sent to NUL loses nothing.
TEST_F(CommandLine, ALogSentToNulLosesNoDiagnostics) {
  Seed("win7-add-refused");
  const Result refused = Run(L"harden --log NUL");
  EXPECT_EQ(refused.exitCode, 2u);
  EXPECT_TRUE(refused.Says("Failed to add firewall rule")) << refused.out;
  Run(L"restore");
}

// status and check write no log they were not asked for: an unusable
// temporary folder changes neither their output nor their exit code.
TEST_F(CommandLine, AnUnusableTemporaryFolderChangesNoReadingCommand) {
  Seed("win7");
  const Result usualCheck = Run(L"check");
  const Result usualStatus = Run(L"status");
  wchar_t temp[MAX_PATH] = {}, tmp[MAX_PATH] = {};
  GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH);
  GetEnvironmentVariableW(L"TMP", tmp, MAX_PATH);
  SetEnvironmentVariableW(L"TEMP", L"Z:\\no\\such\\folder");
  SetEnvironmentVariableW(L"TMP", L"Z:\\no\\such\\folder");
  const Result check = Run(L"check");
  const Result status = Run(L"status");
  SetEnvironmentVariableW(L"TEMP", temp);
  SetEnvironmentVariableW(L"TMP", tmp);
  EXPECT_EQ(check.exitCode, 1u) << check.out << check.err;
  EXPECT_EQ(check.out, usualCheck.out);
  EXPECT_EQ(status.exitCode, usualStatus.exitCode) << status.out << status.err;
  EXPECT_EQ(status.out, usualStatus.out);
}

// Hosts whose switches alone would mislead: status names why each port reads
// as it does and what keeps the host from hardened, and check agrees.
struct ReadingCase {
  const char* scenario;
  DWORD exitCode;  // status and check alike
  std::vector<std::string> lines;
};

TEST_F(CommandLine, StatusReadsWhatIsInForceAndSaysWhy) {
  const std::vector<ReadingCase> cases = {
      {"win7-gp-off",
       1,
       {"(TCP: group policy keeps profile domain off; UDP: group policy keeps profile domain off)",
        "\nGroup policy keeps the firewall off: domain profile\nhardened: no"}},
      {"win7-gp-no-merge",
       1,
       {"Port 139: TCP allowed, UDP allowed, 0 block rules (TCP: no rule blocks it; UDP: no rule blocks it)",
        "\nGroup policy ignores local rules: public profile\nhardened: no"}},
      {"win7-gp-blocks-445",
       1,
       {"Port 445: TCP blocked, UDP blocked",
        "(TCP: blocked by group policy rule \"Block SMB TCP\"; UDP: blocked by group policy rule \"Block SMB UDP\")",
        "Port 135: TCP allowed, UDP allowed, 0 block rules (TCP: no rule blocks it;"}},
      {"win7-shielded-excluded",
       0,
       {"Port 135: TCP blocked, UDP blocked, 0 block rules (TCP: blocked: the firewall blocks all inbound connections;",
        "\nhardened: yes"}},
      {"winxp-remote-admin",
       1,
       {"Port 445: TCP allowed, UDP blocked",
        "(TCP: exception \"Remote Administration\" open; UDP: blocked: no exception opens it)",
        "(TCP: exception \"Remote Administration\" open; UDP: authorised application "
        "\"C:\\WINDOWS\\system32\\svchost.exe\" open)",
        "Port 137: TCP blocked, UDP blocked", "\nhardened: no"}},
      {"win7-mpssvc-stopped",
       1,
       {"(TCP: firewall service stopped; UDP: firewall service stopped)",
        "\nThe firewall service is not running\nhardened: no"}},
      {"win2000",
       1,
       {"Port 445: TCP allowed, UDP allowed", "(TCP: no Windows Firewall; UDP: no Windows Firewall)",
        "\nThis host has no firewall Quillfort can use\nhardened: no"}},
  };
  for (const ReadingCase& c : cases) {
    SCOPED_TRACE(c.scenario);
    Seed(c.scenario);
    const Result status = Run(L"status");
    EXPECT_EQ(status.exitCode, c.exitCode) << status.out << status.err;
    for (const std::string& line : c.lines)
      EXPECT_TRUE(status.SaysLines(line)) << "missing " << line << " in\n" << status.out;
    const Result json = Run(L"status --json", std::string(c.scenario) + "-status");
    EXPECT_EQ(json.exitCode, c.exitCode) << json.out;
    EXPECT_TRUE(json.Says("\"tcpReason\": \"")) << json.out;
    EXPECT_EQ(Run(L"check").exitCode, c.exitCode);
  }
}

// A run adds its rules, but what group policy keeps stays: the run ends
// exposed and says why; restore gives the seeded host back. Where group policy
// blocks a port itself, the run hardens the rest. On the legacy path the run
// closes Remote Administration but leaves an authorised listener alone.
TEST_F(CommandLine, HardenCannotMendWhatGroupPolicyKeeps) {
  struct Case {
    const char* scenario;
    DWORD exitCode;
    std::string line;
    std::string ran = "Rules added: 12, already present: 0";
  };
  const std::vector<Case> cases = {
      {"win7-gp-no-merge", 2,
       "Port 445: TCP allowed, UDP allowed, 2 block rules (TCP: group policy ignores local rules: profile public; "
       "UDP: group policy ignores local rules: profile public)\n"},
      {"win7-gp-off", 2, "Group policy keeps the firewall off: domain profile\n"},
      {"win7-gp-blocks-445", 0, "(TCP: blocked by group policy rule \"Block SMB TCP\";"},
      {"winxp-remote-admin", 2,
       "(TCP: authorised application \"C:\\WINDOWS\\system32\\svchost.exe\" open; UDP: authorised application",
       "Still exposed: port 135"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    Seed(c.scenario);
    const HostState seeded = Dumped();
    const Result harden = Run(L"harden");
    EXPECT_EQ(harden.exitCode, c.exitCode) << harden.out;
    EXPECT_TRUE(harden.Says(c.ran)) << harden.out;
    const Result status = Run(L"status");
    EXPECT_EQ(status.exitCode, c.exitCode == 0 ? 0u : 1u) << status.out;
    EXPECT_TRUE(status.SaysLines(c.line)) << "missing " << c.line << " in\n" << status.out;
    EXPECT_EQ(Run(L"restore").exitCode, 0u);
    ExpectSameHost(seeded);
  }
}

TEST_F(CommandLine, ExitCodeReachesTheCallerThroughCmd) {
  Seed("win7");
  EXPECT_EQ(Run(L"check", "", true).exitCode, 1u);
  EXPECT_EQ(Run(L"harden", "", true).exitCode, 0u);
  EXPECT_EQ(Run(L"check", "", true).exitCode, 0u);
  EXPECT_EQ(Run(L"bogus", "", true).exitCode, 64u);
  EXPECT_EQ(Run(L"restore", "", true).exitCode, 0u);
}

}  // namespace

namespace {

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++count;
  return count;
}

int SwitchedOn(const HostState& before, const HostState& after) {
  int switched = 0;
  for (int p = 0; p < kProfileCount; ++p) switched += !before.firewallOn[p] && after.firewallOn[p] ? 1 : 0;
  return switched;
}

bool RestorePointKeyExists() {
  HKEY key = nullptr;
  const LONG opened =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quillfort\\RestorePoint", 0, KEY_READ | KEY_WOW64_64KEY, &key);
  if (opened == ERROR_SUCCESS) RegCloseKey(key);
  return opened == ERROR_SUCCESS;
}

const ServiceSetup* PathService(const HostState& host, bool advanced) {
  return host.FindService(advanced ? "MpsSvc" : "SharedAccess");
}

}  // namespace

// What-if on an exposed host changes nothing, and harden then does exactly
// what it said; on the hardened host what-if and harden both find nothing.
TEST_F(CommandLine, WhatIfChangesNothingAndHardenDoesWhatItSaid) {
  for (const char* scenario : {"win7", "win2003"}) {
    SCOPED_TRACE(scenario);
    Seed(scenario);
    const HostState seeded = Dumped();
    const bool advanced = std::string(scenario) == "win7";

    const Result plan = Run(L"harden --what-if --json", std::string(scenario) + "-what-if");
    EXPECT_EQ(plan.exitCode, 1u) << plan.out;
    EXPECT_TRUE(plan.Says("\"wouldChange\": true")) << plan.out;
    EXPECT_TRUE(plan.Says("\"write\": \"save\"")) << plan.out;
    const Result text = Run(L"harden --what-if");
    EXPECT_EQ(text.exitCode, 1u) << text.out;
    EXPECT_NE(text.LastLine().find("harden --what-if: would change "), std::string::npos) << text.out;
    EXPECT_TRUE(text.err.empty()) << text.err;
    ExpectSameHost(seeded);
    EXPECT_FALSE(RestorePointKeyExists());

    const Result harden = Run(L"harden");
    EXPECT_EQ(harden.exitCode, 0u) << harden.out;
    const HostState hardened = Dumped();
    // The plan's rules, switches and services are the run's.
    EXPECT_EQ(hardened.rules.size() - seeded.rules.size(), Occurrences(plan.out, "\"localPorts\""));
    // Behind a stopped SharedAccess the legacy switch is netsh's opmode line, planned as a change.
    const std::size_t opmode = plan.out.find("netsh firewall set opmode enable\"");
    const std::size_t changes = plan.out.find("\"changes\": ", opmode);
    const bool opmodeSwitches = opmode != std::string::npos && plan.out.compare(changes + 11, 4, "true") == 0;
    const std::size_t planned = Occurrences(plan.out, "\"legacy\": false") + Occurrences(plan.out, "\"legacy\": true") +
                                (!advanced && opmodeSwitches ? 1 : 0);
    EXPECT_EQ(static_cast<std::size_t>(SwitchedOn(seeded, hardened)), planned) << plan.out;
    const ServiceSetup* before = PathService(seeded, advanced);
    const ServiceSetup* after = PathService(hardened, advanced);
    ASSERT_TRUE(before && after && before->scm && after->scm);
    EXPECT_EQ(before->scm->startType != after->scm->startType, plan.Says("\"change\": \"startType\"")) << plan.out;
    EXPECT_EQ(before->scm->state != after->scm->state, plan.Says("\"change\": \"start\"")) << plan.out;
    if (advanced) {
      EXPECT_EQ(Occurrences(plan.out, "\"localPorts\""), 12u);
    } else {
      EXPECT_EQ(Occurrences(plan.out, "\"commandLine\""), 8u);
      EXPECT_EQ(hardened.netshLog.size() - seeded.netshLog.size(), 8u);
    }

    const Result again = Run(L"harden --what-if");
    EXPECT_EQ(again.exitCode, 0u) << again.out << DumpHost();
    EXPECT_EQ(again.LastLine(), "harden --what-if: nothing to change; nothing changed") << again.out;
    EXPECT_TRUE(again.Says("Restore point: exists; left as it is")) << again.out;
    EXPECT_FALSE(FirstHostDifference(hardened, Dumped(), RuleOrder::Matters));
    const Result second = Run(L"harden --json");
    EXPECT_TRUE(second.Says("\"changed\": false")) << second.out;
    EXPECT_EQ(Run(L"restore").exitCode, 0u);
    ExpectSameHost(seeded);
  }
}

TEST_F(CommandLine, WhatIfOnAServerOfTheGuardedPortsExitsFourUnlessForced) {
  Seed("win2003-dc");
  const HostState seeded = Dumped();
  const Result refused = Run(L"harden --what-if --json", "win2003-dc-what-if");
  EXPECT_EQ(refused.exitCode, 4u) << refused.out;
  EXPECT_TRUE(refused.Says("\"refused\": true")) << refused.out;
  const Result forced = Run(L"harden --what-if --force");
  EXPECT_EQ(forced.exitCode, 1u) << forced.out;
  ExpectSameHost(seeded);
  EXPECT_FALSE(RestorePointKeyExists());
}

TEST_F(CommandLine, WhatIfReadsAStandardUsersHostAndExitsTwoOnAnUnreadablePolicy) {
  Seed("win7-not-admin");
  const HostState seeded = Dumped();
  const Result result = Run(L"harden --what-if");
  // Everything a standard user may read reads: the plan is there, only harden is refused.
  EXPECT_EQ(result.exitCode, 1u) << result.out;
  ExpectSameHost(seeded);
  Seed("win7-policy-refused");
  const Result unread = Run(L"harden --what-if");
  EXPECT_EQ(unread.exitCode, 2u) << unread.out;
  EXPECT_TRUE(unread.Says("Cannot read: ReadFirewallPolicy")) << unread.out;
}

// A host without Windows Firewall is left as it is.
TEST_F(CommandLine, HardenLeavesAHostWithoutWindowsFirewallAlone) {
  Seed("win2000");
  const HostState bare = Dumped();
  const Result refused = Run(L"harden --json", "win2000-harden");
  EXPECT_EQ(refused.exitCode, 2u) << refused.out;
  EXPECT_TRUE(refused.Says("This host has no firewall Quillfort can use")) << refused.out;
  EXPECT_TRUE(refused.Says("\"changed\": false")) << refused.out;
  ExpectSameHost(bare);
}
