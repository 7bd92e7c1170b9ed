// The application object and the process-wide firewall objects.
#pragma once

#include <windows.h>

#include "firewall/advanced_firewall.h"
#include "firewall/legacy_firewall.h"
#include "framework/framework.h"

class CPortmoatApp : public CWinApp {
 public:
  CPortmoatApp();
  ~CPortmoatApp() override;

  BOOL InitInstance() override;
  int ExitInstance() override;
};

extern CPortmoatApp theApp;
extern CAdvancedFirewall g_advancedFirewall;
extern CLegacyFirewall g_legacyFirewall;
