#include "host_setup_win.h"

#include "state_store_win.h"
#include "win_util.h"

namespace testbed {
namespace {

constexpr wchar_t kComServer[] = L"quillfort_testbed_fw.dll";
constexpr wchar_t kServiceProgram[] = L"testbed-service.exe";
// Both of Quillfort's programs see the scenario's Windows version.
constexpr const wchar_t* kVersionKeys[] = {L"Software\\Wine\\AppDefaults\\Quillfort.exe",
                                           L"Software\\Wine\\AppDefaults\\quillfort-cli.exe"};
constexpr wchar_t kQuillfortKey[] = L"SOFTWARE\\Quillfort";
// The shares double replaces Wine's netapi32 for Quillfort's programs only;
// Wine's own file is kept in the testbed home and put back on uninstall.
constexpr wchar_t kNetapi[] = L"netapi32.dll";
constexpr wchar_t kWineNetapiCopy[] = L"netapi32-wine.dll";
constexpr wchar_t kProductOptionsKey[] = L"SYSTEM\\CurrentControlSet\\Control\\ProductOptions";
// Where group policy keeps the firewall's settings; the 64-bit view, which
// Quillfort reads on a 64-bit host whatever its own bitness.
constexpr wchar_t kFirewallPolicyKey[] = L"SOFTWARE\\Policies\\Microsoft\\WindowsFirewall";

bool Fail(std::string& error, std::string message) {
  error = std::move(message) + " (error " + std::to_string(GetLastError()) + ")";
  return false;
}

std::wstring SystemDirectory() {
  wchar_t path[MAX_PATH];
  UINT n = GetSystemDirectoryW(path, MAX_PATH);
  return std::wstring(path, n < MAX_PATH ? n : 0);
}

std::string FileBytes(const std::wstring& path) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.get(), &size)) return {};
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size())
    return {};
  return bytes;
}

// A program in use (a running service, a loaded server) cannot be replaced;
// an identical one need not be.
bool CopyIfChanged(const std::wstring& from, const std::wstring& to, std::string& error) {
  const std::string wanted = FileBytes(from);
  if (wanted.empty()) return Fail(error, "cannot read " + Utf8FromWide(from));
  if (FileBytes(to) == wanted) return true;
  if (!CopyFileW(from.c_str(), to.c_str(), FALSE))
    return Fail(error, "cannot copy " + Utf8FromWide(from) + " to " + Utf8FromWide(to));
  return true;
}

// Calls DllRegisterServer or DllUnregisterServer of the COM server.
bool CallComServer(const std::wstring& path, const char* entry, std::string& error) {
  HMODULE module = LoadLibraryW(path.c_str());
  if (!module) return Fail(error, "cannot load " + Utf8FromWide(path));
  auto call = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(GetProcAddress(module, entry)));
  HRESULT hr = call ? call() : E_FAIL;
  FreeLibrary(module);
  if (FAILED(hr)) return Fail(error, std::string(entry) + " failed");
  return true;
}

bool WaitForState(SC_HANDLE service, DWORD wanted, DWORD timeoutMs) {
  for (DWORD waited = 0;; waited += 100) {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service, &status)) return false;
    if (status.dwCurrentState == wanted) return true;
    if (waited >= timeoutMs) return false;
    Sleep(100);
  }
}

bool ConfigureService(SC_HANDLE manager, const ServiceSetup& setup, std::string& error) {
  const std::wstring name = WideFromUtf8(setup.name);
  const std::wstring command = L"\"" + TestbedHome() + L"\\" + kServiceProgram + L"\" " + name;
  UniqueServiceHandle service(OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS));
  if (setup.behaviour == StartBehaviour::Missing) {
    if (service && !DeleteService(service.get())) return Fail(error, "cannot delete service " + setup.name);
    return true;
  }
  if (service) {
    if (!ChangeServiceConfigW(service.get(), SERVICE_WIN32_OWN_PROCESS, setup.initialStartType, SERVICE_ERROR_NORMAL,
                              command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
      return Fail(error, "cannot configure service " + setup.name);
    return true;
  }
  UniqueServiceHandle created(CreateServiceW(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                             SERVICE_WIN32_OWN_PROCESS, setup.initialStartType, SERVICE_ERROR_NORMAL,
                                             command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!created) return Fail(error, "cannot create service " + setup.name);
  return true;
}

// Whatever Quillfort keeps (its restore point), in the 64-bit and the 32-bit
// registry view: a program of either bitness may have written it.
bool DeleteQuillfortKey(std::string& error) {
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    {
      UniqueRegKey key;
      LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kQuillfortKey, 0, view | KEY_ALL_ACCESS, key.out());
      if (rc == ERROR_FILE_NOT_FOUND) continue;
      if (rc == ERROR_SUCCESS) rc = RegDeleteTreeW(key.get(), nullptr);
      if (rc != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(rc));
        return Fail(error, "cannot empty HKLM\\SOFTWARE\\Quillfort");
      }
    }
    LONG rc = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kQuillfortKey, view, 0);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
      SetLastError(static_cast<DWORD>(rc));
      return Fail(error, "cannot delete HKLM\\SOFTWARE\\Quillfort");
    }
  }
  return true;
}

bool InstallNetapiDouble(const std::wstring& binDirectory, std::string& error) {
  const std::wstring system = SystemDirectory() + L"\\" + kNetapi;
  const std::wstring wineCopy = TestbedHome() + L"\\" + kWineNetapiCopy;
  const std::string ours = FileBytes(binDirectory + kNetapi);
  if (ours.empty()) return Fail(error, "cannot read " + Utf8FromWide(binDirectory + kNetapi));
  if (FileBytes(system) != ours && !CopyFileW(system.c_str(), wineCopy.c_str(), FALSE))
    return Fail(error, "cannot keep Wine's netapi32.dll");
  if (!CopyIfChanged(binDirectory + kNetapi, system, error)) return false;
  for (const wchar_t* key : kVersionKeys) {
    if (!WriteRegistryString(HKEY_CURRENT_USER, std::wstring(key) + L"\\DllOverrides", L"netapi32", L"native"))
      return Fail(error, "cannot set the netapi32 override of " + Utf8FromWide(key));
  }
  return true;
}

void UninstallNetapiDouble() {
  const std::wstring wineCopy = TestbedHome() + L"\\" + kWineNetapiCopy;
  if (GetFileAttributesW(wineCopy.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  if (CopyFileW(wineCopy.c_str(), (SystemDirectory() + L"\\" + kNetapi).c_str(), FALSE)) DeleteFileW(wineCopy.c_str());
}

std::string ProductType() {
  wchar_t value[64] = L"";
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kProductOptionsKey, L"ProductType", RRF_RT_REG_SZ, nullptr, value, &size) !=
      ERROR_SUCCESS)
    return "(unreadable)";
  return Utf8FromWide(value);
}

// The scenario's group policy, and nothing of an earlier one.
bool WriteGroupPolicy(const std::vector<PolicySetting>& settings, std::string& error) {
  LONG rc = ERROR_SUCCESS;
  {
    UniqueRegKey old;
    rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kFirewallPolicyKey, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, old.out());
    if (rc == ERROR_SUCCESS) rc = RegDeleteTreeW(old.get(), nullptr);
  }
  if (rc == ERROR_SUCCESS) rc = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kFirewallPolicyKey, KEY_WOW64_64KEY, 0);
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
    SetLastError(static_cast<DWORD>(rc));
    return Fail(error, "cannot delete the firewall's group policy");
  }
  for (const PolicySetting& setting : settings) {
    const std::wstring path = std::wstring(kFirewallPolicyKey) + L"\\" + WideFromUtf8(setting.key);
    UniqueRegKey key;
    rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                         key.out(), nullptr);
    if (rc == ERROR_SUCCESS) {
      const std::wstring name = WideFromUtf8(setting.name);
      if (setting.number) {
        const DWORD value = static_cast<DWORD>(*setting.number);
        rc = RegSetValueExW(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
      } else {
        const std::wstring text = WideFromUtf8(setting.text);
        rc = RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
      }
    }
    if (rc != ERROR_SUCCESS) {
      SetLastError(static_cast<DWORD>(rc));
      return Fail(error, "cannot write group policy " + setting.key + "\\" + setting.name);
    }
  }
  return true;
}

// A service the scenario has running is started and seen running.
bool StartSeededService(SC_HANDLE manager, const ServiceSetup& setup, std::string& error) {
  if (setup.recordedState != "running" || setup.behaviour == StartBehaviour::Missing) return true;
  const std::wstring name = WideFromUtf8(setup.name);
  UniqueServiceHandle service(OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS));
  if (!service || (!StartServiceW(service.get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING))
    return Fail(error, "cannot start service " + setup.name);
  if (!WaitForState(service.get(), SERVICE_RUNNING, 15000)) return Fail(error, "service " + setup.name + " never ran");
  return true;
}

}  // namespace

bool InstallTestbed(const std::wstring& binDirectory, std::string& error) {
  const std::wstring home = TestbedHome();
  if (!CreateDirectoryW(home.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    return Fail(error, "cannot create " + Utf8FromWide(home));
  // A prefix used before may run the services at its start (a run set them
  // to start automatically); their program cannot be replaced while it runs.
  for (const wchar_t* name : {L"MpsSvc", L"SharedAccess"}) StopService(name);
  for (const wchar_t* file : {kComServer, kServiceProgram})
    if (!CopyIfChanged(binDirectory + file, home + L"\\" + file, error)) return false;
  if (!CopyIfChanged(binDirectory + L"netsh.exe", SystemDirectory() + L"\\netsh.exe", error)) return false;
  if (!InstallNetapiDouble(binDirectory, error)) return false;
  // Wine prefers its built-in programs to files of the system directory.
  if (!WriteRegistryString(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"netsh.exe", L"native"))
    return Fail(error, "cannot set the netsh.exe override");
  return CallComServer(home + L"\\" + kComServer, "DllRegisterServer", error);
}

bool UninstallTestbed(std::string& error) {
  if (!CallComServer(TestbedHome() + L"\\" + kComServer, "DllUnregisterServer", error)) return false;
  UniqueRegKey overrides;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", 0, KEY_SET_VALUE, overrides.out()) ==
      ERROR_SUCCESS)
    RegDeleteValueW(overrides.get(), L"netsh.exe");
  for (const wchar_t* key : kVersionKeys) RegDeleteTreeW(HKEY_CURRENT_USER, key);
  UninstallNetapiDouble();
  WriteRegistryString(HKEY_LOCAL_MACHINE, kProductOptionsKey, L"ProductType", L"WinNT");
  UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return Fail(error, "cannot open the service control manager");
  for (const wchar_t* name : {L"MpsSvc", L"SharedAccess"}) {
    StopService(name);
    UniqueServiceHandle service(OpenServiceW(manager.get(), name, DELETE));
    if (service) DeleteService(service.get());
  }
  return true;
}

bool SeedScenario(const Scenario& scenario, int extraRules, std::string& error) {
  UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return Fail(error, "cannot open the service control manager");
  for (const ServiceSetup& service : scenario.seed.services) StopService(WideFromUtf8(service.name));

  HostState state = scenario.seed;
  AddBulkRules(state, extraRules);
  if (!WriteState(state)) return Fail(error, "cannot write " + Utf8FromWide(StatePath()));

  for (const ServiceSetup& service : scenario.seed.services)
    if (!ConfigureService(manager.get(), service, error)) return false;
  for (const ServiceSetup& service : scenario.seed.services)
    if (!StartSeededService(manager.get(), service, error)) return false;
  if (!WriteGroupPolicy(scenario.seed.groupPolicy, error)) return false;
  for (const wchar_t* key : kVersionKeys) {
    if (!WriteRegistryString(HKEY_CURRENT_USER, key, L"Version", WideFromUtf8(scenario.wineVersion)))
      return Fail(error, "cannot set the Windows version of " + Utf8FromWide(key));
  }
  if (!WriteRegistryString(HKEY_LOCAL_MACHINE, kProductOptionsKey, L"ProductType",
                           WideFromUtf8(scenario.seed.productType)))
    return Fail(error, "cannot set the product type");
  // A freshly seeded host has never been hardened.
  return DeleteQuillfortKey(error);
}

void StopService(const std::wstring& name) {
  UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  UniqueServiceHandle service(manager ? OpenServiceW(manager.get(), name.c_str(), SERVICE_ALL_ACCESS) : nullptr);
  if (!service) return;
  SERVICE_STATUS status{};
  if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_STOPPED) return;
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status) &&
      WaitForState(service.get(), SERVICE_STOPPED, 5000))
    return;
  // A service stuck in start-pending may not take the request: end it.
  SERVICE_STATUS_PROCESS process{};
  DWORD needed = 0;
  if (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process), sizeof process,
                           &needed) &&
      process.dwProcessId != 0) {
    UniqueHandle handle(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process.dwProcessId));
    if (handle && TerminateProcess(handle.get(), 1)) WaitForSingleObject(handle.get(), 5000);
  }
  WaitForState(service.get(), SERVICE_STOPPED, 5000);
}

ServiceReport QueryService(const std::wstring& name) {
  ServiceReport report;
  UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  UniqueServiceHandle service(
      manager ? OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS) : nullptr);
  if (!service) return report;
  report.installed = true;
  DWORD needed = 0;
  QueryServiceConfigW(service.get(), nullptr, 0, &needed);
  std::string buffer(needed ? needed : sizeof(QUERY_SERVICE_CONFIGW), '\0');
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed))
    report.startType = config->dwStartType;
  SERVICE_STATUS status{};
  if (QueryServiceStatus(service.get(), &status)) report.currentState = status.dwCurrentState;
  return report;
}

const char* ServiceStateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED:
      return "stopped";
    case SERVICE_START_PENDING:
      return "start-pending";
    case SERVICE_STOP_PENDING:
      return "stop-pending";
    case SERVICE_RUNNING:
      return "running";
    case SERVICE_CONTINUE_PENDING:
      return "continue-pending";
    case SERVICE_PAUSE_PENDING:
      return "pause-pending";
    case SERVICE_PAUSED:
      return "paused";
    default:
      return "unknown";
  }
}

std::string DumpHost() {
  HostState state;
  std::string error;
  if (!ReadState(state, &error)) return "error\t" + error + "\n";
  for (ServiceSetup& setup : state.services) {
    ServiceReport report = QueryService(WideFromUtf8(setup.name));
    ScmReport scm;
    scm.installed = report.installed;
    if (report.installed) {
      scm.startType = report.startType;
      scm.state = ServiceStateName(report.currentState);
    }
    setup.scm = scm;
  }
  wchar_t version[64] = L"";
  DWORD size = sizeof version;
  if (RegGetValueW(HKEY_CURRENT_USER, kVersionKeys[0], L"Version", RRF_RT_REG_SZ, nullptr, version, &size) !=
      ERROR_SUCCESS)
    version[0] = L'\0';
  state.windowsVersion = Utf8FromWide(version);
  state.productType = ProductType();
  return SerializeState(state);
}

}  // namespace testbed
