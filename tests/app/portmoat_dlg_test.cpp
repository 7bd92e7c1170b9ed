// The main dialog created from its real template, with the firewall objects
// answered by the testbed's firewall objects registered in this process.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/portmoat_app.h"
#include "app/portmoat_dlg.h"
#include "dialog_harness_win.h"
#include "firewall/com_test_tools.h"
#include "framework/cp936_text.h"
#include "hardening/host_access.h"
#include "in_process_host_win.h"
#include "host/host_identification.h"
#include "resource.h"
#include "toolkit/paint_manager.h"
#include "toolkit/xtp_button.h"
#include "widgets/color_static.h"

namespace {

using testbed::BlockRule;
using testbed::Call;
using testbed::FirewallHost;
using testbed::FirewallRule;
using testbed::Opening;

// An enabled inbound block rule for every protocol and profile.
FirewallRule AnyProtocolRule(const std::string& localPorts) {
  FirewallRule rule = BlockRule(localPorts);
  rule.protocol = 256;
  return rule;
}

constexpr COLORREF kGreen = 0x008000;
constexpr COLORREF kRed = 0x0000FF;
const int kPortIds[] = {1001, 1002, 1004, 1003, 1005, 1006};  // 445 135 136 137 138 139
const wchar_t* const kPortTexts[] = {L"445", L"135", L"136", L"137", L"138", L"139"};

// The host tests' service program, unless the service manager is of the
// other bitness and cannot start it (QF_HOST_SERVICE_PROGRAM).
std::string ServiceProgram() {
  char value[MAX_PATH];
  const DWORD n = GetEnvironmentVariableA("QF_HOST_SERVICE_PROGRAM", value, MAX_PATH);
  if (n > 0 && n < MAX_PATH) return std::string(value, n);
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  return folder.substr(0, folder.find_last_of('\\') + 1) + "..\\host\\qf_host_service.exe";
}

// A firewall service of the tests' own under the real name (MpsSvc or
// SharedAccess), played by the host tests' service program; removed, process
// and all, when the test ends.
class FirewallService {
 public:
  FirewallService(const char* name, const std::string& behaviour)
      : m_manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
    const std::string command = "\"" + ServiceProgram() + "\" " + behaviour;
    if (m_manager == nullptr) return;
    // One left behind by a test that did not end cleanly goes first.
    if ((m_service = OpenServiceA(m_manager, name, SERVICE_ALL_ACCESS)) != nullptr) Remove();
    // The service manager lets the name go only once the last handle on the
    // removed service is closed, which on a busy machine may take a moment.
    for (int attempt = 0; attempt < 50 && m_service == nullptr; ++attempt) {
      m_service =
          CreateServiceA(m_manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                         SERVICE_ERROR_IGNORE, command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
      if (m_service == nullptr && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE &&
          GetLastError() != ERROR_SERVICE_EXISTS)
        break;
      if (m_service == nullptr) Sleep(100);
    }
  }
  ~FirewallService() {
    Remove();
    if (m_manager != nullptr) CloseServiceHandle(m_manager);
  }
  FirewallService(const FirewallService&) = delete;
  FirewallService& operator=(const FirewallService&) = delete;
  bool registered() const { return m_service != nullptr; }

 private:
  void Remove() {
    if (m_service != nullptr) {
      SERVICE_STATUS status{};
      ControlService(m_service, SERVICE_CONTROL_STOP, &status);
      SERVICE_STATUS_PROCESS process{};
      DWORD needed = 0;
      if (QueryServiceStatusEx(m_service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process), sizeof process,
                               &needed) &&
          process.dwProcessId != 0) {
        if (HANDLE handle = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process.dwProcessId)) {
          TerminateProcess(handle, 0);
          WaitForSingleObject(handle, 3000);
          CloseHandle(handle);
        }
      }
      DeleteService(m_service);
      CloseServiceHandle(m_service);
      m_service = nullptr;
    }
  }

  SC_HANDLE m_manager;
  SC_HANDLE m_service = nullptr;
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(doubles.registered());
    // Each test's host is new: a restore point an earlier test's run saved
    // (perhaps for another kind of host) would stop this run before its first change.
    qf::hardening::DeleteRestorePoint();
    g_legacyFirewall.Initialize();
    g_advancedFirewall.Initialize();
  }
  void TearDown() override {
    g_legacyFirewall.Cleanup();
    g_advancedFirewall.Close();
  }
  FirewallHost& host() { return doubles.host(); }
  void SwitchAdvancedFirewall(bool publicOn, bool privateOn) {
    host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC) = publicOn;
    host().FirewallEnabled(NET_FW_PROFILE2_PRIVATE) = privateOn;
  }

  testbed::InProcessFirewall doubles;
};

void ExpectLine(HWND dialog, int id, const wchar_t* text, COLORREF colour) {
  const LineState line = ReadLine(dialog, id);
  EXPECT_EQ(line.text, text) << "line " << id;
  EXPECT_EQ(line.textColour, colour) << "line " << id;
}

void ExpectPorts(HWND dialog, const std::vector<std::pair<const wchar_t*, COLORREF>>& lines) {
  for (size_t i = 0; i < lines.size(); ++i) ExpectLine(dialog, kPortIds[i], lines[i].first, lines[i].second);
}

std::vector<std::pair<const wchar_t*, COLORREF>> AllPorts(const wchar_t* text, COLORREF colour) {
  return std::vector<std::pair<const wchar_t*, COLORREF>>(6, {text, colour});
}

// Where the dialog manager puts a control: origin and size are mapped apart.
RECT DialogUnits(HWND dialog, int x, int y, int width, int height) {
  RECT mapped{x, y, width, height};
  MapDialogRect(dialog, &mapped);
  return RECT{mapped.left, mapped.top, mapped.left + mapped.right, mapped.top + mapped.bottom};
}

RECT ChildRect(HWND dialog, HWND child) {
  RECT rect;
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// ---- the dialog as the template builds it ----------------------------------

TEST_F(DialogTest, WindowIsAlwaysOnTopToolWindowWithTaskbarButtonAndNoMinMaxBox) {
  RunDialog(*std::make_unique<CPortmoatDlg>(), [](HWND dialog) {
    const LONG style = GetWindowLongW(dialog, GWL_STYLE);
    const LONG exStyle = GetWindowLongW(dialog, GWL_EXSTYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE),
              WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE);
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
    EXPECT_EQ(exStyle & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_APPWINDOW),
              WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_APPWINDOW);
    EXPECT_EQ(WindowText(dialog), L"Quillfort(V1.0)");
    RECT client;
    GetClientRect(dialog, &client);
    const RECT expected = DialogUnits(dialog, 0, 0, 216, 180);
    EXPECT_EQ(client.right, expected.right);
    EXPECT_EQ(client.bottom, expected.bottom);
  });
}

struct TemplateControl {
  int id;
  const wchar_t* className;
  const wchar_t* text;  // null: written at initialisation
  int x, y, width, height;
  LONG style;
};

TEST_F(DialogTest, ControlsHaveTheirIdsTextsPositionsAndStylesInTabOrder) {
  const LONG label = WS_CHILD | WS_VISIBLE | WS_GROUP;
  // The system drops WS_BORDER beside a client edge.
  const LONG separator = WS_CHILD | WS_VISIBLE | SS_GRAYFRAME | SS_SUNKEN;
  const std::vector<TemplateControl> expected{
      {IDOK, L"Button", L"退出", 166, 156, 43, 17, WS_CHILD | WS_VISIBLE | WS_TABSTOP},
      {-1, L"Static", L"防火墙状态：", 30, 9, 43, 8, label | SS_CENTER},
      {1000, L"Static", nullptr, 73, 10, 24, 8, label},
      {-1, L"Static", L"入站端口状态", 121, 27, 49, 8, label},
      {-1, L"Static", L"端口号", 37, 27, 25, 8, label},
      {-1, L"Static", L"445", 42, 44, 13, 8, label},
      {1001, L"Static", nullptr, 136, 44, 17, 8, label},
      {-1, L"Static", L"135", 42, 62, 13, 8, label},
      {1002, L"Static", nullptr, 136, 62, 17, 8, label},
      {-1, L"Static", L"136", 42, 80, 13, 8, label},
      {1004, L"Static", nullptr, 136, 80, 17, 8, label},
      {-1, L"Static", L"137", 42, 98, 13, 8, label},
      {1003, L"Static", nullptr, 136, 98, 17, 8, label},
      {1005, L"Static", nullptr, 136, 116, 17, 8, label},
      {-1, L"Static", L"138", 42, 116, 13, 8, label},
      {-1, L"Static", L"139", 42, 134, 13, 8, label},
      {1006, L"Static", nullptr, 136, 134, 17, 8, label},
      {1007, L"Button", L"一键加固", 129, 3, 66, 16, WS_CHILD | WS_VISIBLE | WS_TABSTOP},
      {1008, L"Static", nullptr, 15, 158, 136, 11, label},
      {-1, L"Static", L"", 15, 39, 190, 1, separator},
      {-1, L"Static", L"", 14, 23, 190, 1, separator},
  };
  RunDialog(*std::make_unique<CPortmoatDlg>(), [&](HWND dialog) {
    HWND child = GetWindow(dialog, GW_CHILD);
    for (const TemplateControl& want : expected) {
      ASSERT_NE(child, nullptr) << "missing control " << want.id;
      SCOPED_TRACE(testing::Message() << "control " << want.id << " at " << want.x << "," << want.y);
      EXPECT_EQ(GetDlgCtrlID(child), want.id);
      wchar_t className[32] = {};
      GetClassNameW(child, className, 32);
      EXPECT_EQ(_wcsicmp(className, want.className), 0) << className;
      if (want.text != nullptr) {
        EXPECT_EQ(WindowText(child), want.text);
      }
      const RECT rect = ChildRect(dialog, child);
      const RECT units = DialogUnits(dialog, want.x, want.y, want.width, want.height);
      EXPECT_EQ(rect.left, units.left);
      EXPECT_EQ(rect.top, units.top);
      if (want.height > 1) {  // the separators' frame makes them taller than one unit
        EXPECT_EQ(rect.right, units.right);
        EXPECT_EQ(rect.bottom, units.bottom);
      }
      EXPECT_EQ(GetWindowLongW(child, GWL_STYLE) & want.style, want.style);
      if (want.text != nullptr && want.text[0] == L'\0') {
        EXPECT_EQ(GetWindowLongW(child, GWL_EXSTYLE) & (WS_EX_STATICEDGE | WS_EX_CLIENTEDGE),
                  WS_EX_STATICEDGE | WS_EX_CLIENTEDGE);
      }
      child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr) << "more controls than the template has";
  });
}

TEST_F(DialogTest, IconsAreSetOnTheCaptionAndOnBothButtons) {
  RunDialog(*std::make_unique<CPortmoatDlg>(), [](HWND dialog) {
    EXPECT_NE(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0), 0);
    EXPECT_EQ(SendMessageW(dialog, WM_QUERYDRAGICON, 0, 0), SendMessageW(dialog, WM_GETICON, ICON_BIG, 0));
    auto* harden = dynamic_cast<CXTPButton*>(CWnd::FromHandlePermanent(GetDlgItem(dialog, 1007)));
    auto* exit = dynamic_cast<CXTPButton*>(CWnd::FromHandlePermanent(GetDlgItem(dialog, IDOK)));
    ASSERT_NE(harden, nullptr);
    ASSERT_NE(exit, nullptr);
    EXPECT_NE(harden->GetIcon(), nullptr);
    EXPECT_EQ(harden->GetIconSize().cx, 32);
    EXPECT_EQ(harden->GetIconSize().cy, 32);
    EXPECT_NE(exit->GetIcon(), nullptr);
    EXPECT_EQ(exit->GetIconSize().cx, 16);
    EXPECT_EQ(exit->GetIconSize().cy, 16);
  });
  EXPECT_EQ(CXTPPaintManager::CurrentThemeNumber(), 5);
}

TEST_F(DialogTest, AfterInitialisationThePanelIsFilledAndTheProgressLineEmpty) {
  SwitchAdvancedFirewall(true, true);
  host().LegacyFirewallEnabled() = true;
  host().rules.push_back(AnyProtocolRule("445"));
  host().openPorts.push_back(Opening(445, NET_FW_IP_PROTOCOL_TCP, true));
  RunDialog(*std::make_unique<CPortmoatDlg>(), [](HWND dialog) {
    ExpectLine(dialog, 1000, L"启用", kGreen);
    // Whichever path the host's class takes, 445 is the only line that differs.
    const bool advanced = g_hostClass >= 4;
    ExpectLine(dialog, 1001, advanced ? L"禁止" : L"允许", advanced ? kRed : kGreen);
    for (int id : {1002, 1004, 1003, 1005, 1006}) {
      ExpectLine(dialog, id, advanced ? L"允许" : L"禁止", advanced ? kGreen : kRed);
    }
    const LineState progress = ReadLine(dialog, 1008);
    EXPECT_EQ(progress.text, L"");
    EXPECT_EQ(progress.textColour, 0xFF0000u);
  });
  const bool advanced = g_hostClass >= 4;
  EXPECT_EQ(host().Calls(Call::RuleGetLocalPorts) > 0, advanced);
  EXPECT_EQ(host().Calls(Call::OpenPortsItem) > 0, !advanced);
}

TEST_F(DialogTest, LinesAreBoldSimSunOnThePanelColourProgressLarger) {
  RunDialog(*std::make_unique<CPortmoatDlg>(), [](HWND dialog) {
    for (int id : {1000, 1001, 1002, 1003, 1004, 1005, 1006, 1008}) {
      const LineState line = ReadLine(dialog, id);
      SCOPED_TRACE(id);
      EXPECT_TRUE(line.bold);
      EXPECT_EQ(line.background, 0xFFDEC5u);
      EXPECT_STREQ(line.font.lfFaceName, L"宋体");
      EXPECT_EQ(line.font.lfWeight, FW_BOLD);
      EXPECT_EQ(line.font.lfHeight, PointsToHeight(id == 1008 ? 16 : 12));
    }
  });
}

// ---- keyboard and ending the dialog -----------------------------------------

TEST_F(DialogTest, FocusStartsOnExitAndTabMovesBetweenTheTwoButtonsOnly) {
  RunDialog(*std::make_unique<CPortmoatDlg>(), [](HWND dialog) {
    HWND exit = GetDlgItem(dialog, IDOK);
    HWND harden = GetDlgItem(dialog, 1007);
    EXPECT_EQ(GetFocus(), exit);
    EXPECT_EQ(GetNextDlgTabItem(dialog, exit, FALSE), harden);
    EXPECT_EQ(GetNextDlgTabItem(dialog, harden, FALSE), exit);
    SendMessageW(dialog, WM_NEXTDLGCTL, 0, FALSE);
    EXPECT_EQ(GetFocus(), harden);
    SendMessageW(dialog, WM_NEXTDLGCTL, 0, FALSE);
    EXPECT_EQ(GetFocus(), exit);
  });
}

void PostKey(HWND dialog, WPARAM key) { PostMessageW(GetFocus() != nullptr ? GetFocus() : dialog, WM_KEYDOWN, key, 1); }

TEST_F(DialogTest, EnterAndTheExitButtonEndWithOkEscapeAndCloseBoxWithCancel) {
  EXPECT_EQ(RunDialog(*std::make_unique<CPortmoatDlg>(), [](HWND d) { PostKey(d, VK_RETURN); }), IDOK);
  EXPECT_EQ(
      RunDialog(*std::make_unique<CPortmoatDlg>(), [](HWND d) { SendMessageW(GetDlgItem(d, IDOK), BM_CLICK, 0, 0); }),
      IDOK);
  EXPECT_EQ(RunDialog(*std::make_unique<CPortmoatDlg>(), [](HWND d) { PostKey(d, VK_ESCAPE); }), IDCANCEL);
  EXPECT_EQ(RunDialog(*std::make_unique<CPortmoatDlg>(), [](HWND d) { PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); }),
            IDCANCEL);
}

void CALLBACK ClickExitOfMainWindow(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  if (CWnd* main = AfxGetApp()->m_pMainWnd) {
    SendMessageW(GetDlgItem(main->GetSafeHwnd(), IDOK), BM_CLICK, 0, 0);
  }
}

// The whole program: InitInstance opens both objects and runs the dialog,
// ExitInstance closes the legacy profile and balances COM exactly once.
TEST_F(DialogTest, ProgramRunsTheDialogAndExitInstanceOnce) {
  g_legacyFirewall.Cleanup();
  g_advancedFirewall.Close();
  const long managersBefore = host().Calls(Call::CreateMgr);
  const long policiesBefore = host().Calls(Call::CreatePolicy2);
  UINT_PTR timer = SetTimer(nullptr, 0, 50, &ClickExitOfMainWindow);
  ASSERT_NE(timer, 0u);
  EXPECT_EQ(AfxWinMain(GetModuleHandleW(nullptr)), 0);
  EXPECT_EQ(host().Calls(Call::CreateMgr), managersBefore + 1);
  EXPECT_EQ(host().Calls(Call::CreatePolicy2), policiesBefore + 1);
  EXPECT_FALSE(g_legacyFirewall.IsOpen());
  EXPECT_TRUE(g_advancedFirewall.IsOpen());  // closed only at process exit
  EXPECT_EQ(AfxGetApp()->m_pMainWnd, nullptr);
  // The doubles' apartment is still there: exactly one CoUninitialize ran.
  const HRESULT again = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  EXPECT_EQ(again, S_FALSE);
  if (SUCCEEDED(again)) CoUninitialize();
}

// ---- status panel ------------------------------------------------------------

TEST_F(DialogTest, LegacyRefreshCountsOpeningsOfBothProtocolsAndServiceExceptions) {
  host().LegacyFirewallEnabled() = true;
  host().openPorts = {Opening(445, NET_FW_IP_PROTOCOL_TCP, true), Opening(135, NET_FW_IP_PROTOCOL_UDP, true),
                      Opening(136, NET_FW_IP_PROTOCOL_TCP, false)};
  CPortmoatDlg dlg;
  RunDialog(dlg, [&](HWND dialog) {
    EXPECT_EQ(dlg.RefreshStatusLegacy(), 1);
    ExpectLine(dialog, 1000, L"启用", kGreen);
    ExpectPorts(
        dialog,
        {{L"允许", kGreen}, {L"允许", kGreen}, {L"禁止", kRed}, {L"禁止", kRed}, {L"禁止", kRed}, {L"禁止", kRed}});
    // File and Printer Sharing on: 139 and 445 over TCP, 137 and 138 over UDP.
    host().serviceExceptions = {testbed::FileAndPrintSharing(true)};
    dlg.RefreshStatusLegacy();
    ExpectPorts(dialog, {{L"允许", kGreen},
                         {L"允许", kGreen},
                         {L"禁止", kRed},
                         {L"允许", kGreen},
                         {L"允许", kGreen},
                         {L"允许", kGreen}});
    const std::array<bool, 6> blocked{false, false, true, false, false, false};
    EXPECT_TRUE(dlg.LastReading().firewallOn);
    EXPECT_EQ(dlg.LastReading().portBlocked, blocked);
  });
}

TEST_F(DialogTest, LegacyRefreshWithoutAProfileOrWithTheFirewallOffShowsOffAndEveryPortAllowed) {
  host().LegacyFirewallEnabled() = true;
  CPortmoatDlg dlg;
  RunDialog(dlg, [&](HWND dialog) {
    dlg.RefreshStatusLegacy();
    ExpectPorts(dialog, AllPorts(L"禁止", kRed));
    g_legacyFirewall.Cleanup();
    EXPECT_EQ(dlg.RefreshStatusLegacy(), 1);
    ExpectLine(dialog, 1000, L"关闭", kRed);
    ExpectPorts(dialog, AllPorts(L"允许", kGreen));
    EXPECT_FALSE(dlg.LastReading().firewallOn);
    g_legacyFirewall.Initialize();
    host().LegacyFirewallEnabled() = false;
    dlg.RefreshStatusLegacy();
    ExpectLine(dialog, 1000, L"关闭", kRed);
    ExpectPorts(dialog, AllPorts(L"允许", kGreen));
    EXPECT_EQ(dlg.LastReading().portBlocked, (std::array<bool, 6>{}));
  });
}

TEST_F(DialogTest, AdvancedRefreshNeedsPublicPrivateAndTheProfileInForce) {
  SwitchAdvancedFirewall(true, false);
  host().rules = {AnyProtocolRule("445"), AnyProtocolRule("135,139")};
  CPortmoatDlg dlg;
  RunDialog(dlg, [&](HWND dialog) {
    EXPECT_EQ(dlg.RefreshStatusAdvanced(), 1);
    // The public profile is the one in force, and it is on: its rules filter.
    ExpectLine(dialog, 1000, L"关闭", kRed);
    ExpectPorts(
        dialog,
        {{L"禁止", kRed}, {L"禁止", kRed}, {L"允许", kGreen}, {L"允许", kGreen}, {L"允许", kGreen}, {L"禁止", kRed}});
    SwitchAdvancedFirewall(false, true);
    dlg.RefreshStatusAdvanced();
    ExpectLine(dialog, 1000, L"关闭", kRed);
    ExpectPorts(dialog, AllPorts(L"允许", kGreen));
    SwitchAdvancedFirewall(true, true);
    dlg.RefreshStatusAdvanced();
    ExpectLine(dialog, 1000, L"启用", kGreen);
    // A domain-joined host whose domain firewall is off filters nothing.
    host().currentProfileTypes = NET_FW_PROFILE2_DOMAIN;
    dlg.RefreshStatusAdvanced();
    ExpectLine(dialog, 1000, L"关闭", kRed);
    ExpectPorts(dialog, AllPorts(L"允许", kGreen));
    EXPECT_FALSE(dlg.LastReading().firewallOn);
  });
}

TEST_F(DialogTest, AdvancedRefreshCountsARuleOnlyForItsProtocolAndProfiles) {
  SwitchAdvancedFirewall(true, true);
  FirewallRule udp445 = BlockRule("445");
  udp445.protocol = NET_FW_IP_PROTOCOL_UDP;
  FirewallRule domain135 = AnyProtocolRule("135");
  domain135.profiles = NET_FW_PROFILE2_DOMAIN;
  host().rules = {udp445, domain135, BlockRule("139"), AnyProtocolRule("136-138")};
  CPortmoatDlg dlg;
  RunDialog(dlg, [&](HWND dialog) {
    const int walksBefore = host().Calls(Call::Policy2GetRules);
    dlg.RefreshStatusAdvanced();
    EXPECT_EQ(host().Calls(Call::Policy2GetRules), walksBefore + 1);  // one walk for six lines
    ExpectLine(dialog, 1000, L"启用", kGreen);
    ExpectPorts(
        dialog,
        {{L"允许", kGreen}, {L"允许", kGreen}, {L"禁止", kRed}, {L"禁止", kRed}, {L"禁止", kRed}, {L"允许", kGreen}});
    const std::array<bool, 6> blocked{false, false, true, true, true, false};
    EXPECT_EQ(dlg.LastReading().portBlocked, blocked);
  });
}

TEST_F(DialogTest, AdvancedRefreshWithoutAPolicyOrWithFailingQuestionsShowsOffAndAllowed) {
  SwitchAdvancedFirewall(true, true);
  host().rules = {AnyProtocolRule("445,135,136,137,138,139")};
  CPortmoatDlg dlg;
  RunDialog(dlg, [&](HWND dialog) {
    host().FailCall(Call::Policy2GetFirewallEnabled, 0, E_FAIL);
    host().FailCall(Call::Policy2GetRules, 0, E_FAIL);
    dlg.RefreshStatusAdvanced();
    ExpectLine(dialog, 1000, L"关闭", kRed);
    ExpectPorts(dialog, AllPorts(L"允许", kGreen));

    host().ClearFailures();
    dlg.RefreshStatusAdvanced();
    ExpectLine(dialog, 1000, L"启用", kGreen);
    ExpectPorts(dialog, AllPorts(L"禁止", kRed));

    g_advancedFirewall.Close();
    EXPECT_EQ(dlg.RefreshStatusAdvanced(), 1);
    ExpectLine(dialog, 1000, L"关闭", kRed);
    ExpectPorts(dialog, AllPorts(L"允许", kGreen));
  });
}

// ---- hardening run -------------------------------------------------------------

struct RunResult {
  std::vector<ProgressWrite> progress;
  bool hardenEnabledAfter = false;
  bool exitEnabledAfter = false;
  LineState progressAfter;
  std::string output;  // what the run wrote to standard output
};

// Clicks the hardening button of an initialised dialog on a host of that class.
RunResult Harden(CPortmoatDlg& dlg, FirewallHost& host, int hostClass, const std::wstring& screenshot = L"") {
  RunResult result;
  RunDialog(dlg, [&](HWND dialog) {
    g_hostClass = hostClass;
    ProgressRecorder recorder([&] { return host.CallLog().size(); });
    qf::testtools::StdoutCapture capture;
    SendMessageW(GetDlgItem(dialog, 1007), BM_CLICK, 0, 0);
    result.output = capture.Take();
    result.progress = recorder.Writes();
    result.hardenEnabledAfter = IsWindowEnabled(GetDlgItem(dialog, 1007)) != FALSE;
    result.exitEnabledAfter = IsWindowEnabled(GetDlgItem(dialog, IDOK)) != FALSE;
    result.progressAfter = ReadLine(dialog, 1008);
    if (!screenshot.empty()) SaveScreenshot(dialog, screenshot);
  });
  return result;
}

constexpr wchar_t kDone[] = L"恭喜您，安全加固完成！";
constexpr wchar_t kIncomplete[] = L"加固未完成，请重试！";

void ExpectProgressAroundTheRun(const RunResult& run, size_t callsAfter, bool complete) {
  ASSERT_EQ(run.progress.size(), 2u);
  EXPECT_EQ(run.progress[0].text, L"正在安全加固，请稍候... ...");
  EXPECT_EQ(run.progress[1].text, complete ? kDone : kIncomplete);
  for (const ProgressWrite& write : run.progress) {
    EXPECT_FALSE(write.hardenEnabled);
    EXPECT_FALSE(write.exitEnabled);
  }
  // The firewall work happens between the two texts.
  EXPECT_LT(run.progress[0].firewallCallsBefore, run.progress[1].firewallCallsBefore);
  EXPECT_EQ(run.progress[1].firewallCallsBefore, callsAfter);
  EXPECT_TRUE(run.hardenEnabledAfter);
  EXPECT_TRUE(run.exitEnabledAfter);
  EXPECT_EQ(run.progressAfter.text, complete ? kDone : kIncomplete);
  EXPECT_EQ(run.progressAfter.textColour, complete ? 0xFF0000u : kRed);
  if (complete) {
    EXPECT_EQ(run.output.find("Step failed"), std::string::npos) << run.output;
  }
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::wstring> RuleNames(const FirewallHost& host) {
  std::vector<std::wstring> names;
  for (const auto& rule : host.rules) names.push_back(std::wstring(rule.name.begin(), rule.name.end()));
  return names;
}

std::vector<std::wstring> TwelveRuleNames() {
  std::vector<std::wstring> names;
  for (const wchar_t* port : kPortTexts) {
    names.push_back(std::wstring(L"@QXRuleOptions.exe, TCP-") + port);
    names.push_back(std::wstring(L"@QXRuleOptions.exe, UDP-") + port);
  }
  return names;
}

class HardeningRun : public DialogTest, public ::testing::WithParamInterface<int> {};

TEST_P(HardeningRun, AdvancedHostsSwitchTheFirewallOnAddTwelveBlockRulesAndComplete) {
  const int hostClass = GetParam();
  FirewallService service("MpsSvc", "immediate");
  ASSERT_TRUE(service.registered());
  CPortmoatDlg dlg;
  const RunResult run = Harden(dlg, host(), hostClass);
  EXPECT_EQ(RuleNames(host()), TwelveRuleNames());
  for (size_t i = 0; i < host().rules.size(); ++i) {
    const auto& rule = host().rules[i];
    EXPECT_EQ(std::wstring(rule.localPorts.begin(), rule.localPorts.end()), kPortTexts[i / 2]);
    EXPECT_EQ(rule.protocol, i % 2 == 0 ? NET_FW_IP_PROTOCOL_TCP : NET_FW_IP_PROTOCOL_UDP);
    EXPECT_EQ(rule.direction, NET_FW_RULE_DIR_IN);
    EXPECT_EQ(rule.action, NET_FW_ACTION_BLOCK);
    EXPECT_TRUE(rule.enabled);
  }
  EXPECT_TRUE(host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC));
  EXPECT_TRUE(host().FirewallEnabled(NET_FW_PROFILE2_PRIVATE));
  EXPECT_TRUE(host().LegacyFirewallEnabled());
  ExpectProgressAroundTheRun(run, host().CallLog().size(), true);
}

TEST_P(HardeningRun, AdvancedHostWithoutItsServiceOrWithARefusedRuleEndsIncomplete) {
  const int hostClass = GetParam();
  CPortmoatDlg dlg;
  const RunResult missing = Harden(dlg, host(), hostClass);
  // The policy work still ran: the service is only one failed step.
  EXPECT_EQ(host().rules.size(), 12u);
  ExpectProgressAroundTheRun(missing, host().CallLog().size(), false);
  EXPECT_TRUE(Contains(missing.output, "Step failed: SetServiceStartType MpsSvc: 0x00000424\n")) << missing.output;
  EXPECT_TRUE(Contains(missing.output, "Step failed: StartServiceAndWait MpsSvc: 0x00000424\n")) << missing.output;

  FirewallService service("MpsSvc", "immediate");
  ASSERT_TRUE(service.registered());
  host().rules.clear();
  host().FailCall(Call::RulesAdd, host().Calls(Call::RulesAdd) + 3, E_ACCESSDENIED);
  CPortmoatDlg again;
  const RunResult refused = Harden(again, host(), hostClass);
  EXPECT_EQ(host().rules.size(), 11u);
  ExpectProgressAroundTheRun(refused, host().CallLog().size(), false);
  EXPECT_FALSE(Contains(refused.output, "Step failed: StartServiceAndWait")) << refused.output;
  // The collection's own answer names the step's failure.
  EXPECT_TRUE(Contains(refused.output, "Step failed: AddBlockRule TCP 135: 0x80070005\n")) << refused.output;
}

INSTANTIATE_TEST_SUITE_P(Classes4To6, HardeningRun, ::testing::Values(4, 5, 6));

TEST_F(DialogTest, HardeningOnWindows7And8ShowsTheNewStateThroughTheAdvancedPolicy) {
  FirewallService service("MpsSvc", "immediate");
  ASSERT_TRUE(service.registered());
  CPortmoatDlg dlg;
  const char* dir = std::getenv("QF_SCREENSHOT_DIR");
  const std::wstring shot = dir != nullptr ? WideFromCp936(dir) + L"\\dialog-after-run.bmp" : L"";
  Harden(dlg, host(), 6, shot);
  const int legacyPortQuestions = host().Calls(Call::OpenPortsItem);
  CPortmoatDlg again;
  RunDialog(again, [&](HWND dialog) {
    g_hostClass = 6;
    SendMessageW(GetDlgItem(dialog, 1007), BM_CLICK, 0, 0);
    ExpectLine(dialog, 1000, L"启用", kGreen);
    ExpectPorts(dialog, AllPorts(L"禁止", kRed));
    ExpectLine(dialog, 1008, kDone, 0xFF0000u);
  });
  EXPECT_EQ(host().Calls(Call::OpenPortsItem), legacyPortQuestions);
  EXPECT_EQ(host().rules.size(), 24u);  // nothing looks for existing rules
}

TEST_F(DialogTest, HardeningOnVistaReadsItsNewRulesThroughTheAdvancedPolicy) {
  host().openPorts = {Opening(445, NET_FW_IP_PROTOCOL_TCP, true)};  // the legacy view, not asked
  CPortmoatDlg dlg;
  RunDialog(dlg, [&](HWND dialog) {
    g_hostClass = 4;
    SendMessageW(GetDlgItem(dialog, 1007), BM_CLICK, 0, 0);
    ExpectLine(dialog, 1000, L"启用", kGreen);
    ExpectPorts(dialog, AllPorts(L"禁止", kRed));
  });
  EXPECT_EQ(host().rules.size(), 12u);
  EXPECT_EQ(host().Calls(Call::OpenPortsItem), 0);
}

TEST_F(DialogTest, FailedReopeningOfThePolicyAddsNoRuleAndEndsIncomplete) {
  FirewallService service("MpsSvc", "immediate");
  ASSERT_TRUE(service.registered());
  host().FailCall(Call::CreatePolicy2, 0, E_ACCESSDENIED);
  CPortmoatDlg dlg;
  const RunResult run = Harden(dlg, host(), 6);
  EXPECT_TRUE(host().rules.empty());
  EXPECT_EQ(host().Calls(Call::Policy2PutFirewallEnabled), 0);
  EXPECT_EQ(host().Calls(Call::RulesAdd), 0);
  ExpectProgressAroundTheRun(run, host().CallLog().size(), false);
  EXPECT_TRUE(Contains(run.output, "Step failed: CAdvancedFirewall::Initialize: 0x80070005\n")) << run.output;
  EXPECT_TRUE(Contains(run.output, "Still exposed: port 445\n")) << run.output;
}

class NetshHardeningRun : public DialogTest, public ::testing::WithParamInterface<int> {};

TEST_P(NetshHardeningRun, OlderHostsAddNoRuleRefreshThroughTheLegacyProfileAndComplete) {
  FirewallService service("SharedAccess", "immediate");
  ASSERT_TRUE(service.registered());
  const int policiesBefore = host().Calls(Call::CreatePolicy2);
  // 136 is not the batch's to close: left open, the run still completes.
  host().openPorts = {Opening(136, NET_FW_IP_PROTOCOL_TCP, true)};
  CPortmoatDlg dlg;
  const RunResult run = Harden(dlg, host(), GetParam());
  EXPECT_EQ(host().Calls(Call::CreatePolicy2), policiesBefore);
  EXPECT_EQ(host().Calls(Call::RulesAdd), 0);
  EXPECT_TRUE(host().rules.empty());
  EXPECT_TRUE(host().LegacyFirewallEnabled());
  EXPECT_GT(host().Calls(Call::OpenPortsItem), 0);
  ExpectProgressAroundTheRun(run, host().CallLog().size(), true);
}

TEST_P(NetshHardeningRun, OlderHostStillShowingAnOpenPortEndsIncomplete) {
  FirewallService service("SharedAccess", "immediate");
  ASSERT_TRUE(service.registered());
  // The commands succeed, but the profile still reads 445 open afterwards.
  host().openPorts = {Opening(445, NET_FW_IP_PROTOCOL_TCP, true)};
  CPortmoatDlg dlg;
  const RunResult open = Harden(dlg, host(), GetParam());
  ExpectProgressAroundTheRun(open, host().CallLog().size(), false);
  EXPECT_FALSE(Contains(open.output, "Step failed")) << open.output;
  EXPECT_TRUE(Contains(open.output, "Still exposed: port 445\n")) << open.output;
}

INSTANTIATE_TEST_SUITE_P(Classes0To3, NetshHardeningRun, ::testing::Values(0, 1, 2, 3));

TEST_F(DialogTest, OlderHostWithoutSharedAccessNamesBothServiceStepsAndEndsIncomplete) {
  CPortmoatDlg dlg;
  const RunResult run = Harden(dlg, host(), 2);
  ExpectProgressAroundTheRun(run, host().CallLog().size(), false);
  EXPECT_TRUE(Contains(run.output, "Step failed: SetServiceStartType SharedAccess: 0x00000424\n")) << run.output;
  EXPECT_TRUE(Contains(run.output, "Step failed: StartServiceAndWait SharedAccess: 0x00000424\n")) << run.output;
}

TEST_F(DialogTest, FailureTextFitsTheProgressLineInItsBoldSimSun) {
  CPortmoatDlg dlg;
  RunDialog(dlg, [&](HWND dialog) {
    dlg.ShowProgress("\xBC\xD3\xB9\xCC\xCE\xB4\xCD\xEA\xB3\xC9\xA3\xAC\xC7\xEB\xD6\xD8\xCA\xD4\xA3\xA1", kRed);
    HWND line = GetDlgItem(dialog, 1008);
    const LineState state = ReadLine(dialog, 1008);
    EXPECT_EQ(state.text, kIncomplete);
    EXPECT_EQ(state.textColour, kRed);
    auto* label = dynamic_cast<CXColorStatic*>(CWnd::FromHandlePermanent(line));
    ASSERT_NE(label, nullptr);
    HDC dc = GetDC(line);
    HGDIOBJ old = SelectObject(dc, label->GetFontHandle());
    SIZE failed{}, done{};
    GetTextExtentPoint32W(dc, kIncomplete, static_cast<int>(wcslen(kIncomplete)), &failed);
    GetTextExtentPoint32W(dc, kDone, static_cast<int>(wcslen(kDone)), &done);
    SelectObject(dc, old);
    ReleaseDC(line, dc);
    RECT client;
    GetClientRect(line, &client);
    std::printf("progress line %ld x %ld px; failure text %ld x %ld px; completion text %ld px\n", client.right,
                client.bottom, failed.cx, failed.cy, done.cx);
    EXPECT_LE(failed.cx, client.right);
    EXPECT_LE(failed.cx, done.cx);  // never wider than the text the line was made for
  });
}

// ---- a run keeps the dialog alive and whole -----------------------------------

struct LiveRun {
  CPortmoatDlg* dlg = nullptr;
  HWND dialog = nullptr;
  int ticksDuringRun = 0;
  int paintsDuringRun = 0;
  bool visibleThroughout = true;
  std::function<void(HWND)> onFirstTick;
};
LiveRun* g_live = nullptr;
HHOOK g_paintHook = nullptr;

void CALLBACK LiveTick(HWND, UINT, UINT_PTR, DWORD) {
  if (g_live == nullptr || !g_live->dlg->IsHardening()) return;
  if (g_live->ticksDuringRun++ == 0 && g_live->onFirstTick) g_live->onFirstTick(g_live->dialog);
  g_live->visibleThroughout = g_live->visibleThroughout && IsWindowVisible(g_live->dialog) != FALSE;
  InvalidateRect(GetDlgItem(g_live->dialog, 1008), nullptr, TRUE);
}

LRESULT CALLBACK CountPaints(int code, WPARAM wParam, LPARAM lParam) {
  const auto* message = reinterpret_cast<const MSG*>(lParam);
  if (code == HC_ACTION && wParam == PM_REMOVE && g_live != nullptr && g_live->dlg->IsHardening() &&
      message->message == WM_PAINT && message->hwnd == GetDlgItem(g_live->dialog, 1008)) {
    ++g_live->paintsDuringRun;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Clicks the hardening button with a 100 ms timer running and a paint counter.
INT_PTR HardenWhileWatching(CPortmoatDlg& dlg, int hostClass, LiveRun& live, RunResult* result = nullptr) {
  live.dlg = &dlg;
  return RunDialog(dlg, [&](HWND dialog) {
    g_hostClass = hostClass;
    live.dialog = dialog;
    g_live = &live;
    g_paintHook = SetWindowsHookExW(WH_GETMESSAGE, &CountPaints, nullptr, GetCurrentThreadId());
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, &LiveTick);
    ProgressRecorder recorder([] { return size_t{0}; });
    SendMessageW(GetDlgItem(dialog, 1007), BM_CLICK, 0, 0);
    KillTimer(nullptr, timer);
    UnhookWindowsHookEx(g_paintHook);
    g_live = nullptr;
    if (result != nullptr) {
      result->progress = recorder.Writes();
      result->progressAfter = ReadLine(dialog, 1008);
    }
  });
}

TEST_F(DialogTest, DialogRepaintsAndRunsItsTimersWhileAStuckServiceIsAwaited) {
  FirewallService service("MpsSvc", "stuck 1500");
  ASSERT_TRUE(service.registered());
  CPortmoatDlg dlg;
  LiveRun live;
  const DWORD start = GetTickCount();
  HardenWhileWatching(dlg, 6, live);
  const DWORD elapsed = GetTickCount() - start;
  std::printf("run with a stuck service: %lu ms, %d ticks, %d repaints\n", static_cast<unsigned long>(elapsed),
              live.ticksDuringRun, live.paintsDuringRun);
  EXPECT_GE(live.ticksDuringRun, 5);
  EXPECT_GE(live.paintsDuringRun, 3);
  EXPECT_EQ(host().rules.size(), 12u);
}

class CloseDuringRun : public DialogTest, public ::testing::WithParamInterface<std::pair<const char*, INT_PTR>> {};

TEST_P(CloseDuringRun, IsHeldUntilTheRunHasEndedThenCarriedOut) {
  FirewallService service("MpsSvc", "stuck 1200");
  ASSERT_TRUE(service.registered());
  const std::string how = GetParam().first;
  CPortmoatDlg dlg;
  LiveRun live;
  live.onFirstTick = [&](HWND dialog) {
    if (how == "close box") {
      PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (how == "Alt+F4") {
      PostMessageW(dialog, WM_SYSKEYDOWN, VK_F4, 0x20000001);
    } else if (how == "Escape") {
      PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 1);
    } else if (how == "IDOK") {
      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    } else {
      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
    // A second press from inside the run must not start another one.
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(1007, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, 1007)));
  };
  RunResult run;
  const INT_PTR result = HardenWhileWatching(dlg, 6, live, &run);
  EXPECT_EQ(result, GetParam().second) << how;
  EXPECT_GE(live.ticksDuringRun, 3) << "the close came early in the run";
  EXPECT_TRUE(live.visibleThroughout) << "the dialog ended under the run";
  // The run went on to its end: every rule, once, and its last text.
  EXPECT_EQ(host().rules.size(), 12u);
  ASSERT_EQ(run.progress.size(), 2u);
  EXPECT_EQ(run.progress[1].text, kIncomplete);  // the service never ran
}

INSTANTIATE_TEST_SUITE_P(Requests, CloseDuringRun,
                         ::testing::Values(std::make_pair("close box", INT_PTR{IDCANCEL}),
                                           std::make_pair("Alt+F4", INT_PTR{IDCANCEL}),
                                           std::make_pair("Escape", INT_PTR{IDCANCEL}),
                                           std::make_pair("IDOK", INT_PTR{IDOK}),
                                           std::make_pair("IDCANCEL", INT_PTR{IDCANCEL})),
                         [](const auto& info) {
                           std::string name = info.param.first;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

// ---- undo from the system menu --------------------------------------------------

struct UndoItem {
  bool present = false;
  bool enabled = false;
  bool afterSeparator = false;
  std::wstring text;
};

// The undo item as the system menu shows it when it opens.
UndoItem ReadUndoItem(HWND dialog) {
  HMENU menu = GetSystemMenu(dialog, FALSE);
  SendMessageW(dialog, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), MAKELPARAM(0, TRUE));
  UndoItem item;
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    if (GetMenuItemID(menu, i) != IDM_UNDO_HARDENING) continue;
    item.present = true;
    item.afterSeparator = i > 0 && (GetMenuState(menu, i - 1, MF_BYPOSITION) & MF_SEPARATOR) != 0;
    item.enabled = (GetMenuState(menu, i, MF_BYPOSITION) & (MF_GRAYED | MF_DISABLED)) == 0;
    wchar_t text[64] = {};
    GetMenuStringW(menu, i, text, 64, MF_BYPOSITION);
    item.text = text;
  }
  return item;
}

// Chooses the undo item as the system menu sends it.
RunResult Undo(HWND dialog, FirewallHost& host) {
  RunResult result;
  ProgressRecorder recorder([&] { return host.CallLog().size(); });
  qf::testtools::StdoutCapture capture;
  SendMessageW(dialog, WM_SYSCOMMAND, IDM_UNDO_HARDENING, 0);
  result.output = capture.Take();
  result.progress = recorder.Writes();
  result.hardenEnabledAfter = IsWindowEnabled(GetDlgItem(dialog, 1007)) != FALSE;
  result.exitEnabledAfter = IsWindowEnabled(GetDlgItem(dialog, IDOK)) != FALSE;
  result.progressAfter = ReadLine(dialog, 1008);
  return result;
}

constexpr wchar_t kRestored[] = L"已恢复加固前的设置";
constexpr wchar_t kNothingToRestore[] = L"没有可撤销的加固";
constexpr wchar_t kRestoreIncomplete[] = L"撤销未完成，请重试！";

void ExpectUndoEndsWith(const RunResult& undo, const wchar_t* text, COLORREF colour) {
  ASSERT_EQ(undo.progress.size(), 2u);
  EXPECT_EQ(undo.progress[0].text, L"正在撤销加固，请稍候... ...");
  EXPECT_EQ(undo.progress[1].text, text);
  for (const ProgressWrite& write : undo.progress) {
    EXPECT_FALSE(write.hardenEnabled);
    EXPECT_FALSE(write.exitEnabled);
  }
  EXPECT_TRUE(undo.hardenEnabledAfter);
  EXPECT_TRUE(undo.exitEnabledAfter);
  EXPECT_EQ(undo.progressAfter.text, text);
  EXPECT_EQ(undo.progressAfter.textColour, colour);
}

DWORD StartType(const char* service) {
  DWORD type = 0xFFFFFFFF;
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return type;
  if (SC_HANDLE handle = OpenServiceA(manager, service, SERVICE_QUERY_CONFIG)) {
    alignas(QUERY_SERVICE_CONFIGA) BYTE buffer[8192];
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
    if (QueryServiceConfigA(handle, config, sizeof buffer, &needed)) type = config->dwStartType;
    CloseServiceHandle(handle);
  }
  CloseServiceHandle(manager);
  return type;
}

// What a run changes on an advanced host, as the in-memory host holds it.
struct AdvancedHostState {
  std::vector<std::wstring> rules;
  bool publicOn;
  bool privateOn;
  bool legacyOn;
  DWORD serviceStart;
};

bool operator==(const AdvancedHostState& a, const AdvancedHostState& b) {
  return a.rules == b.rules && a.publicOn == b.publicOn && a.privateOn == b.privateOn && a.legacyOn == b.legacyOn &&
         a.serviceStart == b.serviceStart;
}

AdvancedHostState StateOf(FirewallHost& host) {
  return {RuleNames(host), host.FirewallEnabled(NET_FW_PROFILE2_PUBLIC), host.FirewallEnabled(NET_FW_PROFILE2_PRIVATE),
          host.LegacyFirewallEnabled(), StartType("MpsSvc")};
}

TEST_F(DialogTest, UndoItemFollowsASeparatorAndIsEnabledOnlyWithARestorePoint) {
  FirewallService service("MpsSvc", "immediate");
  ASSERT_TRUE(service.registered());
  CPortmoatDlg dlg;
  RunDialog(dlg, [&](HWND dialog) {
    g_hostClass = 6;
    const UndoItem before = ReadUndoItem(dialog);
    EXPECT_TRUE(before.present);
    EXPECT_TRUE(before.afterSeparator);
    EXPECT_EQ(before.text, L"撤销加固");
    EXPECT_FALSE(before.enabled) << "no restore point yet";
    SendMessageW(GetDlgItem(dialog, 1007), BM_CLICK, 0, 0);
    ASSERT_TRUE(qf::hardening::LoadRestorePoint(6).found);
    EXPECT_TRUE(ReadUndoItem(dialog).enabled) << "the run saved a restore point";
    qf::hardening::DeleteRestorePoint();
    EXPECT_FALSE(ReadUndoItem(dialog).enabled) << "the restore point went while the dialog was open";
  });
}

TEST_F(DialogTest, HardenThenUndoReturnsTheHostToHowItWasAndRereadsThePanel) {
  FirewallService service("MpsSvc", "immediate");
  ASSERT_TRUE(service.registered());
  SwitchAdvancedFirewall(false, true);
  host().rules.push_back(BlockRule("3389"));  // the user's own rule stays
  const AdvancedHostState before = StateOf(host());
  CPortmoatDlg dlg;
  RunDialog(dlg, [&](HWND dialog) {
    g_hostClass = 6;
    SendMessageW(GetDlgItem(dialog, 1007), BM_CLICK, 0, 0);
    ASSERT_FALSE(StateOf(host()) == before);
    ExpectPorts(dialog, AllPorts(L"禁止", kRed));
    const RunResult undo = Undo(dialog, host());
    ExpectUndoEndsWith(undo, kRestored, 0xFF0000);
    EXPECT_EQ(undo.output.find("Step failed"), std::string::npos) << undo.output;
    EXPECT_TRUE(StateOf(host()) == before);
    EXPECT_FALSE(qf::hardening::LoadRestorePoint(6).found);
    EXPECT_FALSE(ReadUndoItem(dialog).enabled);
    // The panel shows the host as it is again: the public profile is off.
    ExpectLine(dialog, 1000, L"关闭", kRed);
    ExpectPorts(dialog, AllPorts(L"允许", kGreen));

    // A second undo finds nothing to undo, says so in blue and changes nothing.
    const RunResult again = Undo(dialog, host());
    ExpectUndoEndsWith(again, kNothingToRestore, 0xFF0000);
    EXPECT_TRUE(StateOf(host()) == before);
  });
}

TEST_F(DialogTest, AFailedUndoEndsRedPrintsItsStepAndKeepsTheRestorePoint) {
  FirewallService service("MpsSvc", "immediate");
  ASSERT_TRUE(service.registered());
  SwitchAdvancedFirewall(false, false);
  CPortmoatDlg dlg;
  RunDialog(dlg, [&](HWND dialog) {
    g_hostClass = 6;
    SendMessageW(GetDlgItem(dialog, 1007), BM_CLICK, 0, 0);
    host().FailCall(Call::Policy2PutFirewallEnabled, host().Calls(Call::Policy2PutFirewallEnabled) + 1, E_ACCESSDENIED);
    const RunResult undo = Undo(dialog, host());
    ExpectUndoEndsWith(undo, kRestoreIncomplete, kRed);
    EXPECT_TRUE(Contains(undo.output, "Step failed: SetFirewall ")) << undo.output;
    EXPECT_TRUE(Contains(undo.output, "Restore point kept\n")) << undo.output;
    EXPECT_TRUE(qf::hardening::LoadRestorePoint(6).found);
    EXPECT_TRUE(ReadUndoItem(dialog).enabled) << "the user may try again";
    // Trying again, with the policy answering, finishes the undo.
    const RunResult retry = Undo(dialog, host());
    ExpectUndoEndsWith(retry, kRestored, 0xFF0000);
    EXPECT_FALSE(host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC));
    EXPECT_FALSE(host().FirewallEnabled(NET_FW_PROFILE2_PRIVATE));
    EXPECT_TRUE(host().rules.empty());
  });
}

// A close request and a second undo, sent when the undo shows its first
// text: the close is held until the undo has ended, the second undo ignored.
struct CloseDuringUndo {
  UINT message = 0;
  WPARAM wParam = 0;
  bool sent = false;
  bool visibleAfterRequest = false;
  int undoStarts = 0;
};
CloseDuringUndo* g_closeDuringUndo = nullptr;

LRESULT CALLBACK RequestCloseOnUndoStart(int code, WPARAM wParam, LPARAM lParam) {
  const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && g_closeDuringUndo != nullptr && message->message == WM_SETTEXT &&
      GetDlgCtrlID(message->hwnd) == 1008 && message->lParam != 0 &&
      std::wstring(reinterpret_cast<const wchar_t*>(message->lParam)) == L"正在撤销加固，请稍候... ...") {
    CloseDuringUndo& request = *g_closeDuringUndo;
    ++request.undoStarts;
    if (!request.sent) {
      request.sent = true;
      HWND dialog = GetParent(message->hwnd);
      SendMessageW(dialog, request.message, request.wParam, 0);
      SendMessageW(dialog, WM_SYSCOMMAND, IDM_UNDO_HARDENING, 0);
      request.visibleAfterRequest = IsWindowVisible(dialog) != FALSE;
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(DialogTest, CloseDuringAnUndoIsHeldUntilItHasEndedThenCarriedOut) {
  FirewallService service("MpsSvc", "immediate");
  ASSERT_TRUE(service.registered());
  const struct {
    const char* name;
    UINT message;
    WPARAM wParam;
    INT_PTR result;
  } requests[] = {
      {"close box", WM_SYSCOMMAND, SC_CLOSE, IDCANCEL},
      {"exit button", WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), IDOK},
  };
  for (const auto& r : requests) {
    SCOPED_TRACE(r.name);
    host().rules.clear();
    SwitchAdvancedFirewall(false, false);
    CloseDuringUndo request{r.message, r.wParam};
    std::wstring lastText;
    CPortmoatDlg dlg;
    const INT_PTR result = RunDialog(dlg, [&](HWND dialog) {
      g_hostClass = 6;
      SendMessageW(GetDlgItem(dialog, 1007), BM_CLICK, 0, 0);
      g_closeDuringUndo = &request;
      HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, &RequestCloseOnUndoStart, nullptr, GetCurrentThreadId());
      SendMessageW(dialog, WM_SYSCOMMAND, IDM_UNDO_HARDENING, 0);
      UnhookWindowsHookEx(hook);
      g_closeDuringUndo = nullptr;
      lastText = ReadLine(dialog, 1008).text;
    });
    EXPECT_EQ(result, r.result);
    EXPECT_TRUE(request.sent);
    EXPECT_TRUE(request.visibleAfterRequest) << "the dialog ended under the undo";
    EXPECT_EQ(request.undoStarts, 1) << "a second undo started inside the first";
    EXPECT_EQ(lastText, kRestored);
    EXPECT_TRUE(host().rules.empty());
    EXPECT_FALSE(qf::hardening::LoadRestorePoint(6).found);
  }
}

// ---- texts whatever the host's ANSI code page ---------------------------------

TEST_F(DialogTest, ChineseTextsReadTheSameUnderTheHostCodePage) {
  if (const char* acp = std::getenv("QF_EXPECT_ACP")) {
    EXPECT_EQ(GetACP(), static_cast<UINT>(std::atoi(acp)));
  }
  host().LegacyFirewallEnabled() = false;
  CPortmoatDlg dlg;
  RunDialog(dlg, [&](HWND dialog) {
    g_hostClass = 0;
    dlg.RefreshStatusLegacy();
    ExpectLine(dialog, 1000, L"关闭", kRed);
    ExpectPorts(dialog, AllPorts(L"允许", kGreen));
    EXPECT_EQ(WindowText(GetDlgItem(dialog, 1007)), L"一键加固");
    if (const char* dir = std::getenv("QF_SCREENSHOT_DIR")) {
      EXPECT_TRUE(SaveScreenshot(dialog, WideFromCp936(dir) + L"\\dialog-start.bmp"));
    }
  });
}

}  // namespace
