#include "host/service_control.h"

#include "host/service_start_wait.h"
#include "host/unique_handles.h"

namespace {

constexpr DWORD kStartAccess = SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS;

host::UniqueServiceHandle OpenLocalManager() {
  return host::UniqueServiceHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

void WaitUntilStartSettles(SC_HANDLE service) {
  ServiceStartWait wait;
  const DWORD startTick = GetTickCount();
  for (;;) {
    SERVICE_STATUS status = {};
    if (QueryServiceStatus(service, &status) != TRUE) return;
    const DWORD elapsedMs = GetTickCount() - startTick;  // wraps correctly
    const ServiceWaitStep step = wait.Next(
        {status.dwCurrentState, status.dwCheckPoint, status.dwWaitHint}, elapsedMs);
    Sleep(step.sleepMs);
    if (!step.queryAgain) return;
  }
}

}  // namespace

int SetServiceStartType(const char* serviceName, unsigned long startType) {
  if (serviceName == nullptr) return 0;
  // Declared before the service handle, so closed after it.
  host::UniqueServiceHandle manager = OpenLocalManager();
  if (!manager) return 0;
  host::UniqueServiceHandle service(OpenServiceA(manager.get(), serviceName, SERVICE_CHANGE_CONFIG));
  if (!service) return 0;
  const BOOL changed =
      ChangeServiceConfigA(service.get(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE,
                           nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  return changed ? 1 : 0;
}

int StartServiceAndWait(const char* serviceName, int wait) {
  host::UniqueServiceHandle manager = OpenLocalManager();
  if (!manager) return 0;
  // A null name is not screened: the open fails and the result is 0.
  host::UniqueServiceHandle service(OpenServiceA(manager.get(), serviceName, kStartAccess));
  if (!service) return 0;
  const BOOL started = StartServiceA(service.get(), 0, nullptr);
  if (started && wait != 0) WaitUntilStartSettles(service.get());
  return started ? 1 : 0;
}
