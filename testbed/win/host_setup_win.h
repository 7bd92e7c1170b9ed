// Installing the simulated host into the current Wine prefix, seeding a
// scenario, and reading back everything Quillfort may have changed.
#pragma once

#include <windows.h>

#include <string>

#include "state/scenarios.h"

namespace testbed {

// Copies the COM server and the service program from binDirectory into the
// testbed home and netsh.exe into the system directory, registers the COM
// classes and makes Wine run the netsh double instead of its own.
bool InstallTestbed(const std::wstring& binDirectory, std::string& error);

// Undoes the install: the COM classes go back to Wine's hnetcfg.dll, Wine's
// own netsh runs again, the services and the version setting are removed.
// The state file stays for inspection.
bool UninstallTestbed(std::string& error);

// Stops the firewall services, writes the scenario's state (with extraRules
// bulk rules after its own), registers or removes the services with their
// start types, sets the Windows version Wine reports to Quillfort.exe and
// deletes HKLM\SOFTWARE\Quillfort in both registry views.
bool SeedScenario(const Scenario& scenario, int extraRules, std::string& error);

struct ServiceReport {
  bool installed = false;
  DWORD startType = 0;
  DWORD currentState = 0;
};
ServiceReport QueryService(const std::wstring& name);
const char* ServiceStateName(DWORD state);  // start types: StartTypeName

// Stops a service, ending its process when it cannot take a stop request.
void StopService(const std::wstring& name);

// The state file's text, followed by what the service control manager
// reports for each service and the version given to Quillfort.exe; ParseState
// reads it back.
std::string DumpHost();

}  // namespace testbed
