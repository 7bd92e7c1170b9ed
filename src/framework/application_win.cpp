#include "framework/framework.h"

namespace {
CWinApp* g_application = nullptr;
}  // namespace

CWinApp::CWinApp(const wchar_t* appName)
    : m_hInstance(::GetModuleHandleW(nullptr)), m_appName(appName ? appName : L"") {
  g_application = this;
}

CWinApp::~CWinApp() {
  if (g_application == this) g_application = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return m_quitCode; }

bool CWinApp::OnCommand(int id) {
  if (id != static_cast<int>(ID_HELP)) return false;
  OnHelp();
  return true;
}

void CWinApp::OnHelp() {}

HICON CWinApp::LoadIcon(UINT id) const { return ::LoadIconW(m_hInstance, MAKEINTRESOURCEW(id)); }

void CWinApp::SetRegistryKey(const wchar_t* key) { m_registryKey = key ? key : L""; }

void CWinApp::EnableControlContainer() {
  // No ActiveX control is hosted; the setting is only recorded.
  m_controlContainer = true;
}

const wchar_t* CWinApp::GetAppName() const { return m_appName.c_str(); }

const wchar_t* CWinApp::GetRegistryKey() const { return m_registryKey.c_str(); }

bool CWinApp::IsControlContainerEnabled() const { return m_controlContainer; }

void CWinApp::OnMainWindowGone() {
  m_pMainWnd = nullptr;
  if (m_loopRunning) ::PostQuitMessage(0);
}

int CWinApp::RunMessageLoop() {
  m_loopRunning = true;
  MSG msg{};
  for (;;) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      m_quitCode = static_cast<int>(msg.wParam);
      break;
    }
    if (got == -1) {
      m_quitCode = -1;
      break;
    }
    HWND main = m_pMainWnd ? m_pMainWnd->m_hWnd : nullptr;
    if (main && ::IsDialogMessageW(main, &msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  m_loopRunning = false;
  return m_quitCode;
}

CWinApp* AfxGetApp() { return g_application; }

int AfxWinMain(HINSTANCE instance) {
  CWinApp* app = AfxGetApp();
  if (!app) return -1;
  if (instance) app->m_hInstance = instance;
  if (app->InitInstance()) app->RunMessageLoop();
  return app->ExitInstance();
}
