#include "app/portmoat_app.h"

#include <objbase.h>

#include "app/portmoat_dlg.h"
#include "toolkit/paint_manager.h"

namespace {
constexpr int kResourceImageTheme = 5;
}

CPortmoatApp::CPortmoatApp() : CWinApp(nullptr) {
  XTPPaintManager();
  CXTPPaintManager::SetTheme(kResourceImageTheme);
}

CPortmoatApp::~CPortmoatApp() = default;

BOOL CPortmoatApp::InitInstance() {
  CWinApp::InitInstance();
  CoInitialize(nullptr);
  // Either firewall interface may be missing on this host; the dialog
  // shows what the objects can answer.
  g_legacyFirewall.Initialize();
  g_advancedFirewall.Initialize();
  EnableControlContainer();
  SetRegistryKey(L"Local AppWizard-Generated Applications");

  CPortmoatDlg dialog;
  m_pMainWnd = &dialog;
  dialog.DoModal();
  m_pMainWnd = nullptr;
  // No message loop of the framework's: the program ends with the dialog.
  return FALSE;
}

int CPortmoatApp::ExitInstance() {
  g_legacyFirewall.Cleanup();
  CoUninitialize();
  return CWinApp::ExitInstance();
}
