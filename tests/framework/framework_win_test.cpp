#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "framework/cp936_text.h"
#include "framework/dialog_script.h"
#include "framework/framework.h"
#include "framework_test_resources.h"

namespace {

constexpr UINT kAnswerMessage = WM_APP + 1;

class AnsweringWnd : public CWnd {
 public:
  int presubclassCount = 0;
  int answered = 0;
  void PreSubclassWindow() override { ++presubclassCount; }

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (msg == kAnswerMessage) {
      ++answered;
      return 42;
    }
    return CWnd::WindowProc(msg, wParam, lParam);
  }
};

HWND MakeStatic(const wchar_t* text) {
  return ::CreateWindowExW(0, L"STATIC", text, WS_POPUP, 0, 0, 50, 20, nullptr, nullptr, ::GetModuleHandleW(nullptr),
                           nullptr);
}

// --- Subclassing ---------------------------------------------------------

TEST(Subclassing, HandledMessagesAnswerAndOthersReachTheOriginalProcedure) {
  HWND hwnd = MakeStatic(L"before");
  ASSERT_NE(hwnd, nullptr);
  const LONG_PTR original = ::GetWindowLongPtrW(hwnd, GWLP_WNDPROC);
  AnsweringWnd wnd;
  ASSERT_TRUE(wnd.SubclassWindow(hwnd));
  EXPECT_EQ(wnd.presubclassCount, 1);
  EXPECT_NE(::GetWindowLongPtrW(hwnd, GWLP_WNDPROC), original);
  EXPECT_EQ(CWnd::FromHandlePermanent(hwnd), &wnd);

  EXPECT_EQ(::SendMessageW(hwnd, kAnswerMessage, 0, 0), 42);
  ::SetWindowTextW(hwnd, L"after");
  wchar_t text[16] = {};
  ::GetWindowTextW(hwnd, text, 16);
  EXPECT_STREQ(text, L"after");

  EXPECT_EQ(wnd.UnsubclassWindow(), hwnd);
  EXPECT_EQ(::GetWindowLongPtrW(hwnd, GWLP_WNDPROC), original);
  EXPECT_EQ(CWnd::FromHandlePermanent(hwnd), nullptr);
  EXPECT_EQ(::SendMessageW(hwnd, kAnswerMessage, 0, 0), 0);
  EXPECT_EQ(wnd.answered, 1);
  ::DestroyWindow(hwnd);
}

TEST(Subclassing, AWindowIsBoundToOneObjectOnly) {
  HWND hwnd = MakeStatic(L"x");
  AnsweringWnd first, second;
  ASSERT_TRUE(first.SubclassWindow(hwnd));
  EXPECT_FALSE(second.SubclassWindow(hwnd));
  EXPECT_FALSE(first.SubclassWindow(MakeStatic(L"y")));
  EXPECT_EQ(second.m_hWnd, nullptr);
  EXPECT_FALSE(second.SubclassWindow(nullptr));
  ::DestroyWindow(hwnd);
}

TEST(Subclassing, DestroyingTheWindowReleasesTheObject) {
  HWND hwnd = MakeStatic(L"x");
  AnsweringWnd wnd;
  ASSERT_TRUE(wnd.SubclassWindow(hwnd));
  ::DestroyWindow(hwnd);
  EXPECT_EQ(wnd.m_hWnd, nullptr);
  EXPECT_EQ(wnd.GetSafeHwnd(), nullptr);
  // The object can bind a new window afterwards.
  HWND next = MakeStatic(L"next");
  EXPECT_TRUE(wnd.SubclassWindow(next));
  ::DestroyWindow(next);
}

TEST(Subclassing, AnObjectDestroyedFirstGivesTheWindowBack) {
  HWND hwnd = MakeStatic(L"x");
  const LONG_PTR original = ::GetWindowLongPtrW(hwnd, GWLP_WNDPROC);
  {
    AnsweringWnd wnd;
    ASSERT_TRUE(wnd.SubclassWindow(hwnd));
  }
  EXPECT_EQ(::GetWindowLongPtrW(hwnd, GWLP_WNDPROC), original);
  EXPECT_EQ(::SendMessageW(hwnd, kAnswerMessage, 0, 0), 0);
  ::DestroyWindow(hwnd);
}

// --- Dialogs -------------------------------------------------------------

class LabelDialog : public CDialog {
 public:
  LabelDialog() : CDialog(IDD_FRAMEWORK_TEST) {}
  AnsweringWnd label;
  int exchanges = 0;
  std::vector<BOOL> directions;
  std::vector<int> unhandledCommands;

 protected:
  void DoDataExchange(CDataExchange* pDX) override {
    CDialog::DoDataExchange(pDX);
    ++exchanges;
    directions.push_back(pDX->m_bSaveAndValidate);
    DDX_Control(pDX, IDC_LABEL, label);
  }
  bool OnCommand(int id, int notifyCode, HWND control) override {
    if (CDialog::OnCommand(id, notifyCode, control)) return true;
    unhandledCommands.push_back(id);
    return false;
  }
};

using TestDialog = ScriptedDialog<LabelDialog>;

TEST(Dialog, InitialisationBindsControlsOnceAndOkSavesThenEnds) {
  TestDialog dlg;
  HWND labelAtInit = nullptr;
  dlg.onShown = [&](TestDialog& d) {
    labelAtInit = d.label.m_hWnd;
    EXPECT_EQ(::SendMessageW(labelAtInit, kAnswerMessage, 0, 0), 42);
    ::PostMessageW(d.m_hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  };
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.initCount, 1);
  EXPECT_EQ(dlg.exchanges, 2);
  EXPECT_EQ(dlg.directions, (std::vector<BOOL>{FALSE, TRUE}));
  EXPECT_EQ(dlg.label.presubclassCount, 1);
  ASSERT_NE(labelAtInit, nullptr);
  EXPECT_EQ(dlg.m_hWnd, nullptr);
  EXPECT_EQ(dlg.label.m_hWnd, nullptr);  // released with its window
}

TEST(Dialog, EscapeAndCloseBoxCancel) {
  for (int way = 0; way < 3; ++way) {
    TestDialog dlg;
    dlg.onShown = [way](TestDialog& d) {
      if (way == 0) {
        ::PostMessageW(::GetDlgItem(d.m_hWnd, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
      } else if (way == 1) {
        ::PostMessageW(d.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
      } else {
        ::PostMessageW(d.m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      }
    };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL) << "way " << way;
    EXPECT_EQ(dlg.exchanges, 1) << "cancel saves nothing, way " << way;
  }
}

TEST(Dialog, EnterEndsWithOk) {
  TestDialog dlg;
  dlg.onShown = [](TestDialog& d) { ::PostMessageW(::GetDlgItem(d.m_hWnd, IDOK), WM_KEYDOWN, VK_RETURN, 0); };
  EXPECT_EQ(dlg.DoModal(), IDOK);
}

TEST(Dialog, RunsAgainAfterClosing) {
  TestDialog dlg;
  dlg.onShown = [](TestDialog& d) { d.EndDialog(7); };
  EXPECT_EQ(dlg.DoModal(), 7);
  EXPECT_EQ(dlg.DoModal(), 7);
  EXPECT_EQ(dlg.initCount, 2);
  EXPECT_EQ(dlg.label.presubclassCount, 2);
}

TEST(Dialog, MissingTemplateFails) {
  CDialog dlg(9999);
  EXPECT_EQ(dlg.DoModal(), -1);
}

// --- Application ---------------------------------------------------------

class RecordingApp : public CWinApp {
 public:
  BOOL initResult = FALSE;
  int initCount = 0, exitCount = 0, helpCount = 0;
  int exitResult = 0;
  bool quitInInit = false;
  BOOL InitInstance() override {
    ++initCount;
    CWinApp::InitInstance();
    if (quitInInit) ::PostQuitMessage(9);
    return initResult;
  }
  int ExitInstance() override {
    ++exitCount;
    exitResult = CWinApp::ExitInstance();
    return exitResult + 100;
  }

 protected:
  void OnHelp() override { ++helpCount; }
};

TEST(Application, RegistersItselfProcessWide) {
  EXPECT_EQ(AfxGetApp(), nullptr);
  {
    RecordingApp app;
    EXPECT_EQ(AfxGetApp(), &app);
  }
  EXPECT_EQ(AfxGetApp(), nullptr);
}

TEST(Application, FalseFromInitInstanceSkipsTheLoopAndExitsOnce) {
  RecordingApp app;
  ::PostMessageW(nullptr, WM_USER, 0, 0);  // would be consumed by a loop
  EXPECT_EQ(AfxWinMain(::GetModuleHandleW(nullptr)), 100);
  EXPECT_EQ(app.initCount, 1);
  EXPECT_EQ(app.exitCount, 1);
  MSG msg;
  EXPECT_TRUE(::PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_REMOVE));
}

TEST(Application, TrueFromInitInstanceRunsTheLoopUntilQuit) {
  RecordingApp app;
  app.initResult = TRUE;
  app.quitInInit = true;
  EXPECT_EQ(AfxWinMain(::GetModuleHandleW(nullptr)), 109);
  EXPECT_EQ(app.exitCount, 1);
  EXPECT_EQ(app.exitResult, 9);
}

TEST(Application, SettingsAreRecordedAndIconsComeFromTheModule) {
  RecordingApp app;
  EXPECT_FALSE(app.IsControlContainerEnabled());
  app.EnableControlContainer();
  EXPECT_TRUE(app.IsControlContainerEnabled());
  app.SetRegistryKey(L"Local AppWizard-Generated Applications");
  EXPECT_STREQ(app.GetRegistryKey(), L"Local AppWizard-Generated Applications");
  EXPECT_NE(app.LoadIcon(IDI_FRAMEWORK_TEST), nullptr);
  EXPECT_EQ(app.LoadIcon(4321), nullptr);
}

TEST(Application, HelpCommandReachesTheApplicationAndKeepsTheDialogOpen) {
  RecordingApp app;
  TestDialog dlg;
  dlg.onShown = [](TestDialog& d) {
    ::SendMessageW(d.m_hWnd, WM_COMMAND, MAKEWPARAM(ID_HELP, BN_CLICKED), 0);
    ::SendMessageW(d.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_OTHER, BN_CLICKED), 0);
    EXPECT_TRUE(::IsWindowVisible(d.m_hWnd));
    d.EndDialog(IDCANCEL);
  };
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(app.helpCount, 1);
  EXPECT_EQ(dlg.unhandledCommands, (std::vector<int>{IDC_OTHER}));
}

// --- Resources and text --------------------------------------------------

TEST(GdiObjects, ReplacingOrDeletingReleasesTheHandle) {
  CBrush brush(RGB(1, 2, 3));
  HBRUSH first = brush.GetSafeHandle();
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(brush.CreateSolidBrush(RGB(4, 5, 6)));
  EXPECT_EQ(::GetObjectType(first), 0u);
  LOGBRUSH lb{};
  ::GetObjectW(brush.GetSafeHandle(), sizeof(lb), &lb);
  EXPECT_EQ(lb.lbColor, RGB(4, 5, 6));
  EXPECT_TRUE(brush.DeleteObject());
  EXPECT_FALSE(brush.DeleteObject());

  CFont font;
  EXPECT_FALSE(font.CreateFontIndirect(nullptr));
  LOGFONTW lf{};
  lf.lfHeight = -12;
  ASSERT_TRUE(font.CreateFontIndirect(&lf));
  HFONT firstFont = font.GetSafeHandle();
  ASSERT_TRUE(font.CreateFontIndirect(&lf));
  EXPECT_EQ(::GetObjectType(firstFont), 0u);
}

TEST(Cp936Text, DecodesCodePage936WhateverTheHostCodePage) {
  EXPECT_EQ(WideFromCp936("\xCB\xCE\xCC\xE5"), L"\u5B8B\u4F53");  // 宋体
  EXPECT_EQ(WideFromCp936("\xD5\xFD\xD4\xDA"
                          "abc"),
            L"\u6B63\u5728"
            L"abc");
  EXPECT_EQ(WideFromCp936(""), L"");
}

}  // namespace
