// The shipped programs on hosts that serve the guarded ports: quillfort-cli
// refuses a domain controller and a file server (exit 4) and hardens them
// with --force; the dialog asks first and changes nothing on no. The event
// source is registered by the first run that changes something, and every
// message resolves from both programs. (The events themselves are seen in
// Wine's trace by event_trace_test.sh.)
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e_support_win.h"
#include "hardening/run_events.h"
#include "host_setup_win.h"
#include "state/host_compare.h"
#include "state_store_win.h"
#include "ui_driver_win.h"

using namespace e2e;
using namespace testbed;

namespace {

constexpr wchar_t kEventSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Quillfort";

using Result = ConsoleRun;

// Standard output is written in text mode: lines end in CR LF.
std::string WithoutCarriageReturns(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

HostState Dumped() {
  const ParseResult parsed = ParseState(DumpHost());
  EXPECT_TRUE(parsed.state) << parsed.error;
  return parsed.state ? *parsed.state : HostState{};
}

void ExpectUnchanged(const HostState& before) {
  const std::optional<std::string> difference = FirstHostDifference(before, Dumped(), RuleOrder::Matters);
  EXPECT_FALSE(difference) << "changed: " << difference.value_or("");
}

bool EventSourceRegistered(std::wstring* messageFile = nullptr, DWORD* types = nullptr) {
  wchar_t file[MAX_PATH * 2] = L"";
  DWORD size = sizeof file;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kEventSourceKey, L"EventMessageFile",
                   RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, file, &size) != ERROR_SUCCESS)
    return false;
  if (messageFile) *messageFile = file;
  DWORD value = 0;
  size = sizeof value;
  if (types && RegGetValueW(HKEY_LOCAL_MACHINE, kEventSourceKey, L"TypesSupported", RRF_RT_REG_DWORD, nullptr, &value,
                            &size) == ERROR_SUCCESS)
    *types = value;
  return true;
}

// The same file, however each path is written (Z:/ or Z:\\, case).
bool SamePath(const std::wstring& a, const std::wstring& b) {
  wchar_t fullA[MAX_PATH * 2] = L"", fullB[MAX_PATH * 2] = L"";
  GetFullPathNameW(a.c_str(), MAX_PATH * 2, fullA, nullptr);
  GetFullPathNameW(b.c_str(), MAX_PATH * 2, fullB, nullptr);
  return lstrcmpiW(fullA, fullB) == 0;
}

void ForgetEventSource() {
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kEventSourceKey);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kEventSourceKey);
}

class Fleet : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { installed_ = InstallTestbed(Env(L"QF_TESTBED_BIN"), installError_); }
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

  Result Run(const std::wstring& arguments) {
    Result result = RunConsole(L"\"" + cli_ + L"\" " + arguments);
    EXPECT_TRUE(result.problem.empty()) << result.problem;
    result.out = WithoutCarriageReturns(result.out);
    return result;
  }

  static bool installed_;
  static std::string installError_;
  std::wstring cli_;
};

bool Fleet::installed_ = false;
std::string Fleet::installError_;

TEST_F(Fleet, StatusShowsTheRoleAndTheSharesOfEachHost) {
  Seed("win2003-dc");
  Result status = Run(L"status --json");
  EXPECT_TRUE(status.Says("\"productType\": \"domain controller\"")) << status.out;
  EXPECT_TRUE(status.Says("\"shares\": [\n      \"NETLOGON\",\n      \"SYSVOL\"\n    ]")) << status.out;
  EXPECT_TRUE(status.Says("\"servesGuardedPorts\": true")) << status.out;

  Seed("win7-file-server");
  status = Run(L"status");
  EXPECT_TRUE(status.Says("Role: workstation\nShares: Docs, HP LaserJet\n")) << status.out;

  Seed("win7");
  status = Run(L"status");
  EXPECT_TRUE(status.Says("Role: workstation\nShares: none\n")) << "administrative shares only: " << status.out;
}

TEST_F(Fleet, ServersOfTheGuardedPortsAreRefusedThenHardenedWithForce) {
  struct Case {
    const char* scenario;
    const char* role;
    const char* shares;
  };
  for (const Case& c : {Case{"win2003-dc", "domain controller and file and print server", "NETLOGON, SYSVOL"},
                        Case{"win7-file-server", "file and print server", "Docs, HP LaserJet"}}) {
    SCOPED_TRACE(c.scenario);
    Seed(c.scenario);
    ForgetEventSource();
    const HostState seeded = Dumped();

    const Result refused = Run(L"harden");
    EXPECT_EQ(refused.exitCode, 4u) << refused.out;
    EXPECT_TRUE(refused.Says(std::string("This host is a ") + c.role + ".")) << refused.out;
    EXPECT_TRUE(refused.Says(std::string("Shares: ") + c.shares)) << refused.out;
    EXPECT_TRUE(refused.Says(std::string("harden: REFUSED on a ") + c.role + "; nothing changed\n")) << refused.out;
    ExpectUnchanged(seeded);
    EXPECT_TRUE(refused.err.empty()) << refused.err;
    EXPECT_FALSE(EventSourceRegistered()) << "a run that changed nothing registers nothing";

    const Result json = Run(L"harden --json");
    EXPECT_EQ(json.exitCode, 4u);
    EXPECT_TRUE(json.Says("\"refused\": true")) << json.out;
    ExpectUnchanged(seeded);

    const Result forced = Run(L"harden --force");
    EXPECT_EQ(forced.exitCode, 0u) << forced.out;
    EXPECT_TRUE(forced.Says("harden: changed, hardened")) << forced.out;
    EXPECT_TRUE(forced.err.empty()) << forced.err;
    std::wstring messageFile;
    DWORD types = 0;
    EXPECT_TRUE(EventSourceRegistered(&messageFile, &types));
    EXPECT_TRUE(SamePath(messageFile, cli_)) << Utf8FromWide(messageFile) << " vs " << Utf8FromWide(cli_);
    EXPECT_EQ(types, 7u);
  }
}

// The Application log's key made volatile for the test: the source's key,
// which must survive a restart, cannot be created under it
// (ERROR_CHILD_MUST_BE_VOLATILE), as registering fails for a run that may
// not write there. The key is put back as it was afterwards.
class VolatileApplicationLog {
 public:
  VolatileApplicationLog() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kApplicationLog);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kApplicationLog);
    HKEY key = nullptr;
    made_ = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kApplicationLog, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) == ERROR_SUCCESS;
    if (key) RegCloseKey(key);
  }
  ~VolatileApplicationLog() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kApplicationLog);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kApplicationLog);
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kApplicationLog, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                    &key, nullptr);
    if (key) RegCloseKey(key);
  }
  bool Made() const { return made_; }

 private:
  static constexpr wchar_t kApplicationLog[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
  bool made_ = false;
};

TEST_F(Fleet, AnEventLogThatCannotBeWrittenIsReportedAndTheRunGoesOn) {
  Seed("win7");
  VolatileApplicationLog log;
  ASSERT_TRUE(log.Made());
  const Result harden = Run(L"harden");
  EXPECT_EQ(harden.exitCode, 0u) << harden.out;
  EXPECT_TRUE(harden.Says("harden: changed, hardened")) << harden.out;
  EXPECT_NE(harden.err.find("quillfort-cli: event log: cannot register the event source (error 1021)"),
            std::string::npos)
      << harden.err;
  EXPECT_FALSE(EventSourceRegistered());
  const Result restore = Run(L"restore");
  EXPECT_EQ(restore.exitCode, 0u) << restore.out;
  EXPECT_NE(restore.err.find("quillfort-cli: event log: cannot register"), std::string::npos) << restore.err;
}

TEST_F(Fleet, TheFirstRunThatChangesSomethingRegistersTheSource) {
  Seed("win7");
  ForgetEventSource();
  EXPECT_EQ(Run(L"restore").exitCode, 0u);
  EXPECT_FALSE(EventSourceRegistered()) << "nothing to restore, nothing changed";
  EXPECT_EQ(Run(L"harden").exitCode, 0u);
  std::wstring messageFile;
  DWORD types = 0;
  ASSERT_TRUE(EventSourceRegistered(&messageFile, &types));
  EXPECT_TRUE(SamePath(messageFile, cli_)) << Utf8FromWide(messageFile) << " vs " << Utf8FromWide(cli_);
  EXPECT_EQ(types, 7u);
  // A source naming a program that is gone is registered again.
  ASSERT_TRUE(WriteRegistryString(HKEY_LOCAL_MACHINE, kEventSourceKey, L"EventMessageFile", L"C:\\gone\\old.exe"));
  EXPECT_EQ(Run(L"restore").exitCode, 0u);
  ASSERT_TRUE(EventSourceRegistered(&messageFile));
  EXPECT_TRUE(SamePath(messageFile, cli_)) << Utf8FromWide(messageFile) << " vs " << Utf8FromWide(cli_);
}

// The message box the dialog shows before a run on a serving host: a
// top-level dialog window of Quillfort's process other than its own.
struct QuestionSearch {
  DWORD processId;
  HWND dialog;
  HWND found;
};

BOOL CALLBACK FindQuestion(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<QuestionSearch*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  wchar_t windowClass[32] = L"";
  GetClassNameW(window, windowClass, 32);
  if (process == search->processId && window != search->dialog && IsWindowVisible(window) &&
      lstrcmpW(windowClass, L"#32770") == 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND WaitForQuestion(const QuillfortProcess& quillfort, DWORD timeoutMs) {
  QuestionSearch search{quillfort.processId, quillfort.dialog, nullptr};
  for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
    EnumWindows(FindQuestion, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    Sleep(50);
  }
  return nullptr;
}

// The message box's text: its static control (id 0xFFFF).
std::wstring QuestionText(HWND box) {
  wchar_t text[1024] = L"";
  GetDlgItemTextW(box, 0xFFFF, text, 1024);
  return text;
}

bool WaitForRunEnd(HWND dialog, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
    const Panel panel = ReadPanel(dialog);
    const std::wstring progress = panel.Text(kProgressLine);
    if ((progress == kCompletionText || progress == kFailureText) && panel.hardenEnabled && panel.exitEnabled)
      return true;
    Sleep(50);
  }
  return false;
}

TEST_F(Fleet, TheDialogAsksOnceOnADomainControllerAndRunsOnlyOnYes) {
  const std::wstring exe = Env(L"QUILLFORT_EXE");
  if (exe.empty() || !FileExists(exe)) GTEST_SKIP() << "Quillfort.exe is not built yet";
  Seed("win2003-dc");
  ForgetEventSource();
  const HostState seeded = Dumped();
  QuillfortProcess quillfort;
  std::string error;
  ASSERT_TRUE(LaunchQuillfort(exe, 60000, quillfort, error)) << error;

  for (const bool yes : {false, true}) {
    SCOPED_TRACE(yes ? "yes" : "no");
    PostMessageW(GetDlgItem(quillfort.dialog, kHardenButton), BM_CLICK, 0, 0);
    const HWND box = WaitForQuestion(quillfort, 20000);
    ASSERT_NE(box, nullptr) << "no question before the run";
    const std::wstring text = QuestionText(box);
    EXPECT_NE(text.find(L"\x57DF\x63A7\x5236\x5668"), std::wstring::npos) << Utf8FromWide(text);  // 域控制器
    EXPECT_NE(text.find(L"NETLOGON\x3001SYSVOL"), std::wstring::npos) << Utf8FromWide(text);
    EXPECT_NE(GetDlgItem(box, IDYES), nullptr);
    EXPECT_NE(GetDlgItem(box, IDNO), nullptr);
    // The default push button, what Enter presses: no.
    EXPECT_TRUE(GetWindowLongW(GetDlgItem(box, IDNO), GWL_STYLE) & BS_DEFPUSHBUTTON);
    EXPECT_FALSE(GetWindowLongW(GetDlgItem(box, IDYES), GWL_STYLE) & BS_DEFPUSHBUTTON);
    if (!yes) {
      const std::string folder = Utf8FromWide(Env(L"QF_E2E_OUTPUT"));
      if (!folder.empty()) {
        Sleep(700);  // the dialog repaints what the box uncovered
        EXPECT_TRUE(SaveScreenshot(folder + "/guard-question.png"));
      }
    }
    PostMessageW(GetDlgItem(box, yes ? IDYES : IDNO), BM_CLICK, 0, 0);
    if (!yes) {
      for (int i = 0; i < 100 && IsWindow(box); ++i) Sleep(50);
      EXPECT_FALSE(IsWindow(box));
      Sleep(500);
      const Panel panel = ReadPanel(quillfort.dialog);
      EXPECT_TRUE(panel.Text(kProgressLine).empty()) << "no run: " << Utf8FromWide(panel.Text(kProgressLine));
      EXPECT_TRUE(panel.hardenEnabled);
      ExpectUnchanged(seeded);
      EXPECT_FALSE(EventSourceRegistered());
    } else {
      EXPECT_TRUE(WaitForRunEnd(quillfort.dialog, 120000));
      EXPECT_EQ(ReadPanel(quillfort.dialog).Text(kProgressLine), kCompletionText);
      EXPECT_TRUE(EventSourceRegistered()) << "the run changed the host";
    }
  }
  EXPECT_TRUE(ExitAndWait(quillfort, 15000));
  if (WaitForSingleObject(quillfort.process.get(), 0) != WAIT_OBJECT_0) TerminateProcess(quillfort.process.get(), 1);
  const Result check = Run(L"check");
  EXPECT_EQ(check.exitCode, 0u) << "hardened after yes";
}

TEST_F(Fleet, TheDialogDoesNotAskOnAWorkstation) {
  const std::wstring exe = Env(L"QUILLFORT_EXE");
  if (exe.empty() || !FileExists(exe)) GTEST_SKIP() << "Quillfort.exe is not built yet";
  Seed("win7");
  QuillfortProcess quillfort;
  std::string error;
  ASSERT_TRUE(LaunchQuillfort(exe, 60000, quillfort, error)) << error;
  DWORD elapsed = 0;
  EXPECT_TRUE(HardenAndWait(quillfort.dialog, 120000, elapsed));
  EXPECT_EQ(ReadPanel(quillfort.dialog).Text(kProgressLine), kCompletionText);
  EXPECT_TRUE(ExitAndWait(quillfort, 15000));
  if (WaitForSingleObject(quillfort.process.get(), 0) != WAIT_OBJECT_0) TerminateProcess(quillfort.process.get(), 1);
}

// Every message of the table, resolved from both programs as Event Viewer
// resolves it: the program loaded as a data file, its four insertions given.
TEST(EventMessages, EveryIdResolvesInBothPrograms) {
  std::vector<std::wstring> programs;
  for (const wchar_t* variable : {L"QUILLFORT_CLI_EXE", L"QUILLFORT_EXE"}) {
    const std::wstring path = Env(variable);
    if (!path.empty() && FileExists(path)) programs.push_back(path);
  }
  if (programs.size() < 2) GTEST_SKIP() << "both programs must be built";
  for (const std::wstring& program : programs) {
    SCOPED_TRACE(Utf8FromWide(program));
    HMODULE module = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << GetLastError();
    const wchar_t* insertions[] = {L"quillfort-cli harden", L"WIN7X64 class 5", L"Changed: yes", L"Port 445: blocked"};
    for (qf::hardening::RunEventId id : qf::hardening::kAllRunEvents) {
      wchar_t* text = nullptr;
      const DWORD length =
          FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                         module, static_cast<DWORD>(id), 0, reinterpret_cast<wchar_t*>(&text), 0,
                         reinterpret_cast<va_list*>(const_cast<wchar_t**>(insertions)));
      ASSERT_NE(length, 0u) << "event " << static_cast<DWORD>(id) << ": error " << GetLastError();
      const std::wstring message(text, length);
      LocalFree(text);
      EXPECT_EQ(message.rfind(L"Quillfort ", 0), 0u) << Utf8FromWide(message);
      for (const wchar_t* insertion : insertions) {
        EXPECT_NE(message.find(insertion), std::wstring::npos) << Utf8FromWide(message);
      }
      EXPECT_EQ(message.find(L'%'), std::wstring::npos) << "every insertion was filled: " << Utf8FromWide(message);
    }
    FreeLibrary(module);
  }
}

}  // namespace
