// The process-wide objects, in their order of construction: the application
// object first (it selects the toolkit theme before any window exists), then
// the two firewall objects, which hold no interface until InitInstance.
#include "app/portmoat_app.h"

CPortmoatApp theApp;
CAdvancedFirewall g_advancedFirewall;
CLegacyFirewall g_legacyFirewall;
