// The firewall automation objects of the simulated host. Every call reads
// the shared state afresh, and every change is written back at once, so all
// processes of the prefix see one firewall.
#pragma once

#include <windows.h>

namespace testbed {

// Creation as the class factories of CLSID_NetFwPolicy2, CLSID_NetFwRule and
// CLSID_NetFwMgr do it, including the host's refusal faults (E_FAIL).
HRESULT CreatePolicy2(REFIID iid, void** out);
HRESULT CreateRule(REFIID iid, void** out);
HRESULT CreateManager(REFIID iid, void** out);

// Objects alive in this module; DllCanUnloadNow answers from it.
long LiveObjectCount();
void AddModuleLock();
void RemoveModuleLock();

}  // namespace testbed
