// In-process COM server of the simulated firewall: class objects for
// CLSID_NetFwPolicy2, CLSID_NetFwRule and CLSID_NetFwMgr, and the
// registration that makes COM activation in the prefix find them.
#include <windows.h>
#include <netfw.h>
#include <olectl.h>

#include <atomic>
#include <new>
#include <string>

#include "com_object_win.h"
#include "file_host_win.h"
#include "win_util.h"

namespace testbed {
namespace {

HMODULE g_module = nullptr;
// Class objects alive and LockServer locks; the firewall objects count
// themselves on the host.
std::atomic<long> g_locks{0};

using Creator = ClassFactory::Creator;

struct ServedClass {
  const CLSID* clsid;
  Creator create;
  const wchar_t* name;
};

const ServedClass kClasses[] = {
    {&CLSID_NetFwPolicy2, &CreatePolicy2, L"Quillfort testbed firewall policy"},
    {&CLSID_NetFwRule, &CreateRule, L"Quillfort testbed firewall rule"},
    {&CLSID_NetFwMgr, &CreateManager, L"Quillfort testbed firewall manager"},
};

std::wstring ClsidKey(const CLSID& clsid) {
  wchar_t text[40];
  StringFromGUID2(clsid, text, 40);
  return std::wstring(L"Software\\Classes\\CLSID\\") + text;
}

}  // namespace
}  // namespace testbed

using namespace testbed;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  for (const auto& c : kClasses)
    if (IsEqualCLSID(clsid, *c.clsid))
      return HandOut(new (std::nothrow) ClassFactory(FileHost(), c.create, &g_locks), iid, out);
  return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return g_locks == 0 && FileHost()->LiveObjects() == 0 ? S_OK : S_FALSE; }

// Points the three classes at this DLL, replacing Wine's own registration.
STDAPI DllRegisterServer() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return E_FAIL;
  for (const auto& c : kClasses) {
    const std::wstring key = ClsidKey(*c.clsid);
    if (!WriteRegistryString(HKEY_LOCAL_MACHINE, key, nullptr, c.name) ||
        !WriteRegistryString(HKEY_LOCAL_MACHINE, key + L"\\InprocServer32", nullptr, path) ||
        !WriteRegistryString(HKEY_LOCAL_MACHINE, key + L"\\InprocServer32", L"ThreadingModel", L"Both"))
      return SELFREG_E_CLASS;
  }
  return S_OK;
}

// Gives the classes back to the system's own firewall library, as Wine
// registers them in a new prefix.
STDAPI DllUnregisterServer() {
  wchar_t system[MAX_PATH];
  UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return E_FAIL;
  const std::wstring hnetcfg = std::wstring(system) + L"\\hnetcfg.dll";
  for (const auto& c : kClasses)
    if (!WriteRegistryString(HKEY_LOCAL_MACHINE, ClsidKey(*c.clsid) + L"\\InprocServer32", nullptr, hnetcfg))
      return SELFREG_E_CLASS;
  return S_OK;
}
