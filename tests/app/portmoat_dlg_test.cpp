// The main dialog created from its real template, with the firewall objects
// answered by in-process doubles.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/portmoat_app.h"
#include "app/portmoat_dlg.h"
#include "dialog_harness_win.h"
#include "firewall/doubles/firewall_doubles.h"
#include "framework/cp936_text.h"
#include "host/host_identification.h"
#include "resource.h"
#include "toolkit/paint_manager.h"
#include "toolkit/xtp_button.h"
#include "widgets/color_static.h"

namespace {

using qf::fwdouble::BlockRule;
using qf::fwdouble::Call;
using qf::fwdouble::FirewallHost;
using qf::fwdouble::OpenPortRecord;
using qf::fwdouble::RuleRecord;

// An enabled inbound block rule for every protocol and profile.
RuleRecord AnyProtocolRule(const std::wstring& localPorts) {
    RuleRecord rule = BlockRule(localPorts);
    rule.protocol = 256;
    return rule;
}

constexpr COLORREF kGreen = 0x008000;
constexpr COLORREF kRed = 0x0000FF;
const int kPortIds[] = {1001, 1002, 1004, 1003, 1005, 1006};  // 445 135 136 137 138 139
const wchar_t* const kPortTexts[] = {L"445", L"135", L"136", L"137", L"138", L"139"};

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(doubles.registered());
        g_legacyFirewall.Initialize();
        g_advancedFirewall.Initialize();
    }
    void TearDown() override {
        g_legacyFirewall.Cleanup();
        g_advancedFirewall.Close();
    }
    FirewallHost& host() { return doubles.host(); }
    void SwitchAdvancedFirewall(VARIANT_BOOL publicOn, VARIANT_BOOL privateOn) {
        host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC) = publicOn;
        host().FirewallEnabled(NET_FW_PROFILE2_PRIVATE) = privateOn;
    }

    qf::fwdouble::FirewallDoubles doubles;
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
    SwitchAdvancedFirewall(VARIANT_TRUE, VARIANT_TRUE);
    host().legacyFirewallEnabled = VARIANT_TRUE;
    host().rules.push_back(AnyProtocolRule(L"445"));
    host().openPorts.push_back({445, NET_FW_IP_PROTOCOL_TCP, VARIANT_TRUE});
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

void PostKey(HWND dialog, WPARAM key) {
    PostMessageW(GetFocus() != nullptr ? GetFocus() : dialog, WM_KEYDOWN, key, 1);
}

TEST_F(DialogTest, EnterAndTheExitButtonEndWithOkEscapeAndCloseBoxWithCancel) {
    EXPECT_EQ(RunDialog(*std::make_unique<CPortmoatDlg>(), [](HWND d) { PostKey(d, VK_RETURN); }), IDOK);
    EXPECT_EQ(RunDialog(*std::make_unique<CPortmoatDlg>(),
                        [](HWND d) { SendMessageW(GetDlgItem(d, IDOK), BM_CLICK, 0, 0); }),
              IDOK);
    EXPECT_EQ(RunDialog(*std::make_unique<CPortmoatDlg>(), [](HWND d) { PostKey(d, VK_ESCAPE); }), IDCANCEL);
    EXPECT_EQ(RunDialog(*std::make_unique<CPortmoatDlg>(),
                        [](HWND d) { PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); }),
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
    host().legacyFirewallEnabled = VARIANT_TRUE;
    host().openPorts = {{445, NET_FW_IP_PROTOCOL_TCP, VARIANT_TRUE},
                        {135, NET_FW_IP_PROTOCOL_UDP, VARIANT_TRUE},
                        {136, NET_FW_IP_PROTOCOL_TCP, VARIANT_FALSE}};
    CPortmoatDlg dlg;
    RunDialog(dlg, [&](HWND dialog) {
        EXPECT_EQ(dlg.RefreshStatusLegacy(), 1);
        ExpectLine(dialog, 1000, L"启用", kGreen);
        ExpectPorts(dialog, {{L"允许", kGreen}, {L"允许", kGreen}, {L"禁止", kRed},
                             {L"禁止", kRed}, {L"禁止", kRed}, {L"禁止", kRed}});
        // File and Printer Sharing on: 139 and 445 over TCP, 137 and 138 over UDP.
        host().services = {qf::fwdouble::FileAndPrintService(VARIANT_TRUE)};
        dlg.RefreshStatusLegacy();
        ExpectPorts(dialog, {{L"允许", kGreen}, {L"允许", kGreen}, {L"禁止", kRed},
                             {L"允许", kGreen}, {L"允许", kGreen}, {L"允许", kGreen}});
        const std::array<bool, 6> blocked{false, false, true, false, false, false};
        EXPECT_TRUE(dlg.LastReading().firewallOn);
        EXPECT_EQ(dlg.LastReading().portBlocked, blocked);
    });
}

TEST_F(DialogTest, LegacyRefreshWithoutAProfileOrWithTheFirewallOffShowsOffAndEveryPortAllowed) {
    host().legacyFirewallEnabled = VARIANT_TRUE;
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
        host().legacyFirewallEnabled = VARIANT_FALSE;
        dlg.RefreshStatusLegacy();
        ExpectLine(dialog, 1000, L"关闭", kRed);
        ExpectPorts(dialog, AllPorts(L"允许", kGreen));
        EXPECT_EQ(dlg.LastReading().portBlocked, (std::array<bool, 6>{}));
    });
}

TEST_F(DialogTest, AdvancedRefreshNeedsPublicPrivateAndTheProfileInForce) {
    SwitchAdvancedFirewall(VARIANT_TRUE, VARIANT_FALSE);
    host().rules = {AnyProtocolRule(L"445"), AnyProtocolRule(L"135,139")};
    CPortmoatDlg dlg;
    RunDialog(dlg, [&](HWND dialog) {
        EXPECT_EQ(dlg.RefreshStatusAdvanced(), 1);
        // The public profile is the one in force, and it is on: its rules filter.
        ExpectLine(dialog, 1000, L"关闭", kRed);
        ExpectPorts(dialog, {{L"禁止", kRed}, {L"禁止", kRed}, {L"允许", kGreen},
                             {L"允许", kGreen}, {L"允许", kGreen}, {L"禁止", kRed}});
        SwitchAdvancedFirewall(VARIANT_FALSE, VARIANT_TRUE);
        dlg.RefreshStatusAdvanced();
        ExpectLine(dialog, 1000, L"关闭", kRed);
        ExpectPorts(dialog, AllPorts(L"允许", kGreen));
        SwitchAdvancedFirewall(VARIANT_TRUE, VARIANT_TRUE);
        dlg.RefreshStatusAdvanced();
        ExpectLine(dialog, 1000, L"启用", kGreen);
        // A domain-joined host whose domain firewall is off filters nothing.
        host().currentProfiles = NET_FW_PROFILE2_DOMAIN;
        dlg.RefreshStatusAdvanced();
        ExpectLine(dialog, 1000, L"关闭", kRed);
        ExpectPorts(dialog, AllPorts(L"允许", kGreen));
        EXPECT_FALSE(dlg.LastReading().firewallOn);
    });
}

TEST_F(DialogTest, AdvancedRefreshCountsARuleOnlyForItsProtocolAndProfiles) {
    SwitchAdvancedFirewall(VARIANT_TRUE, VARIANT_TRUE);
    RuleRecord udp445 = BlockRule(L"445");
    udp445.protocol = NET_FW_IP_PROTOCOL_UDP;
    RuleRecord domain135 = AnyProtocolRule(L"135");
    domain135.profiles = NET_FW_PROFILE2_DOMAIN;
    host().rules = {udp445, domain135, BlockRule(L"139"), AnyProtocolRule(L"136-138")};
    CPortmoatDlg dlg;
    RunDialog(dlg, [&](HWND dialog) {
        const int walksBefore = host().Calls(Call::Policy2GetRules);
        dlg.RefreshStatusAdvanced();
        EXPECT_EQ(host().Calls(Call::Policy2GetRules), walksBefore + 1);  // one walk for six lines
        ExpectLine(dialog, 1000, L"启用", kGreen);
        ExpectPorts(dialog, {{L"允许", kGreen}, {L"允许", kGreen}, {L"禁止", kRed},
                             {L"禁止", kRed}, {L"禁止", kRed}, {L"允许", kGreen}});
        const std::array<bool, 6> blocked{false, false, true, true, true, false};
        EXPECT_EQ(dlg.LastReading().portBlocked, blocked);
    });
}

TEST_F(DialogTest, AdvancedRefreshWithoutAPolicyOrWithFailingQuestionsShowsOffAndAllowed) {
    SwitchAdvancedFirewall(VARIANT_TRUE, VARIANT_TRUE);
    host().rules = {AnyProtocolRule(L"445,135,136,137,138,139")};
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
    std::wstring progressAfter;
};

// Clicks the hardening button of an initialised dialog on a host of that class.
RunResult Harden(CPortmoatDlg& dlg, FirewallHost& host, int hostClass,
                 const std::wstring& screenshot = L"") {
    RunResult result;
    RunDialog(dlg, [&](HWND dialog) {
        g_hostClass = hostClass;
        ProgressRecorder recorder([&] { return host.CallLog().size(); });
        SendMessageW(GetDlgItem(dialog, 1007), BM_CLICK, 0, 0);
        result.progress = recorder.Writes();
        result.hardenEnabledAfter = IsWindowEnabled(GetDlgItem(dialog, 1007)) != FALSE;
        result.exitEnabledAfter = IsWindowEnabled(GetDlgItem(dialog, IDOK)) != FALSE;
        result.progressAfter = WindowText(GetDlgItem(dialog, 1008));
        if (!screenshot.empty()) SaveScreenshot(dialog, screenshot);
    });
    return result;
}

void ExpectProgressAroundTheRun(const RunResult& run, size_t callsAfter) {
    ASSERT_EQ(run.progress.size(), 2u);
    EXPECT_EQ(run.progress[0].text, L"正在安全加固，请稍候... ...");
    EXPECT_EQ(run.progress[1].text, L"恭喜您，安全加固完成！");
    for (const ProgressWrite& write : run.progress) {
        EXPECT_FALSE(write.hardenEnabled);
        EXPECT_FALSE(write.exitEnabled);
    }
    // The firewall work happens between the two texts.
    EXPECT_LT(run.progress[0].firewallCallsBefore, run.progress[1].firewallCallsBefore);
    EXPECT_EQ(run.progress[1].firewallCallsBefore, callsAfter);
    EXPECT_TRUE(run.hardenEnabledAfter);
    EXPECT_TRUE(run.exitEnabledAfter);
    EXPECT_EQ(run.progressAfter, L"恭喜您，安全加固完成！");
}

std::vector<std::wstring> RuleNames(const FirewallHost& host) {
    std::vector<std::wstring> names;
    for (const auto& rule : host.rules) names.push_back(rule.name);
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

TEST_P(HardeningRun, AdvancedHostsSwitchTheFirewallOnAndAddTwelveBlockRulesInOrder) {
    const int hostClass = GetParam();
    CPortmoatDlg dlg;
    const RunResult run = Harden(dlg, host(), hostClass);
    EXPECT_EQ(RuleNames(host()), TwelveRuleNames());
    for (size_t i = 0; i < host().rules.size(); ++i) {
        const auto& rule = host().rules[i];
        EXPECT_EQ(rule.localPorts.value_or(L""), kPortTexts[i / 2]);
        EXPECT_EQ(rule.protocol, i % 2 == 0 ? NET_FW_IP_PROTOCOL_TCP : NET_FW_IP_PROTOCOL_UDP);
        EXPECT_EQ(rule.direction, NET_FW_RULE_DIR_IN);
        EXPECT_EQ(rule.action, NET_FW_ACTION_BLOCK);
        EXPECT_EQ(rule.enabled, VARIANT_TRUE);
    }
    EXPECT_EQ(host().FirewallEnabled(NET_FW_PROFILE2_PUBLIC), VARIANT_TRUE);
    EXPECT_EQ(host().FirewallEnabled(NET_FW_PROFILE2_PRIVATE), VARIANT_TRUE);
    EXPECT_EQ(host().legacyFirewallEnabled, VARIANT_TRUE);
    ExpectProgressAroundTheRun(run, host().CallLog().size());
}

INSTANTIATE_TEST_SUITE_P(Classes4To6, HardeningRun, ::testing::Values(4, 5, 6));

TEST_F(DialogTest, HardeningOnWindows7And8ShowsTheNewStateThroughTheAdvancedPolicy) {
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
    });
    EXPECT_EQ(host().Calls(Call::OpenPortsItem), legacyPortQuestions);
    EXPECT_EQ(host().rules.size(), 24u);  // nothing looks for existing rules
}

TEST_F(DialogTest, HardeningOnVistaReadsItsNewRulesThroughTheAdvancedPolicy) {
    host().openPorts = {{445, NET_FW_IP_PROTOCOL_TCP, VARIANT_TRUE}};  // the legacy view, not asked
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

TEST_F(DialogTest, FailedReopeningOfThePolicyAddsNoRuleAndStillCompletes) {
    host().FailCall(Call::CreatePolicy2, 0, E_ACCESSDENIED);
    CPortmoatDlg dlg;
    const RunResult run = Harden(dlg, host(), 6);
    EXPECT_TRUE(host().rules.empty());
    EXPECT_EQ(host().Calls(Call::Policy2PutFirewallEnabled), 0);
    EXPECT_EQ(host().Calls(Call::RulesAdd), 0);
    ExpectProgressAroundTheRun(run, host().CallLog().size());
}

class NetshHardeningRun : public DialogTest, public ::testing::WithParamInterface<int> {};

TEST_P(NetshHardeningRun, OlderHostsAddNoRuleAndRefreshThroughTheLegacyProfile) {
    const int policiesBefore = host().Calls(Call::CreatePolicy2);
    CPortmoatDlg dlg;
    const RunResult run = Harden(dlg, host(), GetParam());
    EXPECT_EQ(host().Calls(Call::CreatePolicy2), policiesBefore);
    EXPECT_EQ(host().Calls(Call::RulesAdd), 0);
    EXPECT_TRUE(host().rules.empty());
    EXPECT_EQ(host().legacyFirewallEnabled, VARIANT_TRUE);
    EXPECT_GT(host().Calls(Call::OpenPortsItem), 0);
    ExpectProgressAroundTheRun(run, host().CallLog().size());
}

INSTANTIATE_TEST_SUITE_P(Classes0To3, NetshHardeningRun, ::testing::Values(0, 1, 2, 3));

// ---- texts whatever the host's ANSI code page ---------------------------------

TEST_F(DialogTest, ChineseTextsReadTheSameUnderTheHostCodePage) {
    if (const char* acp = std::getenv("QF_EXPECT_ACP")) {
        EXPECT_EQ(GetACP(), static_cast<UINT>(std::atoi(acp)));
    }
    host().legacyFirewallEnabled = VARIANT_FALSE;
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
