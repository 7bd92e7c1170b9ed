#include "host/service_control.h"

#include "host/message_wait.h"
#include "host/service_start_wait.h"
#include "host/unique_handles.h"

#include <vector>

namespace {

constexpr DWORD kStartAccess = SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS;

host::UniqueServiceHandle OpenLocalManager() {
  return host::UniqueServiceHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

// Queries until the start settles; the dialog's messages are dispatched
// while it sleeps between queries.
void WaitUntilStartSettles(SC_HANDLE service, ServiceStartOutcome& outcome) {
  ServiceStartWait wait;
  const DWORD startTick = GetTickCount();
  for (;;) {
    SERVICE_STATUS status = {};
    if (QueryServiceStatus(service, &status) != TRUE) {
      outcome.error = GetLastError();
      return;
    }
    outcome.stateRead = true;
    outcome.finalState = status.dwCurrentState;
    const bool ownCode =
        status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR && status.dwServiceSpecificExitCode != 0;
    outcome.exitCode = ownCode ? status.dwServiceSpecificExitCode : status.dwWin32ExitCode;
    const DWORD elapsedMs = GetTickCount() - startTick;  // wraps correctly
    const ServiceWaitStep step = wait.Next({status.dwCurrentState, status.dwCheckPoint, status.dwWaitHint}, elapsedMs);
    if (step.sleepMs > 0) WaitDispatchingMessages(nullptr, step.sleepMs);
    if (!step.queryAgain) return;
  }
}

ServiceStartOutcome StartAndWatch(const char* serviceName, bool wait) {
  ServiceStartOutcome outcome;
  host::UniqueServiceHandle manager = OpenLocalManager();
  if (!manager) {
    outcome.error = GetLastError();
    return outcome;
  }
  // A null name is not screened: the open fails.
  host::UniqueServiceHandle service(OpenServiceA(manager.get(), serviceName, kStartAccess));
  if (!service) {
    outcome.error = GetLastError();
    return outcome;
  }
  outcome.accepted = StartServiceA(service.get(), 0, nullptr) != FALSE;
  if (!outcome.accepted) outcome.error = GetLastError();
  // A service that already runs is looked at once, to see it really does.
  const bool watch = outcome.accepted || outcome.error == ERROR_SERVICE_ALREADY_RUNNING;
  if (wait && watch) WaitUntilStartSettles(service.get(), outcome);
  return outcome;
}

}  // namespace

unsigned long SetServiceStartTypeError(const char* serviceName, unsigned long startType) {
  if (serviceName == nullptr) return ERROR_INVALID_PARAMETER;
  // Declared before the service handle, so closed after it.
  host::UniqueServiceHandle manager = OpenLocalManager();
  if (!manager) return GetLastError();
  host::UniqueServiceHandle service(OpenServiceA(manager.get(), serviceName, SERVICE_CHANGE_CONFIG));
  if (!service) return GetLastError();
  if (!ChangeServiceConfigA(service.get(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr)) {
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_GEN_FAILURE;
  }
  return 0;
}

int SetServiceStartType(const char* serviceName, unsigned long startType) {
  return SetServiceStartTypeError(serviceName, startType) == 0 ? 1 : 0;
}

ServiceStartOutcome StartServiceUntilRunning(const char* serviceName) { return StartAndWatch(serviceName, true); }

int StartServiceAndWait(const char* serviceName, int wait) {
  return StartAndWatch(serviceName, wait != 0).accepted ? 1 : 0;
}

ServiceState ReadServiceState(const char* serviceName) {
  ServiceState state;
  if (serviceName == nullptr) {
    state.error = ERROR_INVALID_PARAMETER;
    return state;
  }
  host::UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    state.error = GetLastError();
    return state;
  }
  host::UniqueServiceHandle service(
      OpenServiceA(manager.get(), serviceName, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
  if (!service) {
    state.error = GetLastError();
    return state;
  }
  state.present = true;
  DWORD needed = 0;
  QueryServiceConfigA(service.get(), nullptr, 0, &needed);
  std::vector<unsigned char> buffer(needed > sizeof(QUERY_SERVICE_CONFIGA) ? needed : sizeof(QUERY_SERVICE_CONFIGA));
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  if (QueryServiceConfigA(service.get(), config, static_cast<DWORD>(buffer.size()), &needed)) {
    state.startType = config->dwStartType;
  } else {
    state.error = GetLastError();
  }
  SERVICE_STATUS status = {};
  if (QueryServiceStatus(service.get(), &status)) {
    state.currentState = status.dwCurrentState;
  } else if (state.error == 0) {
    state.error = GetLastError();
  }
  return state;
}

unsigned long StopServiceAndWait(const char* serviceName) {
  if (serviceName == nullptr) return ERROR_INVALID_PARAMETER;
  host::UniqueServiceHandle manager = OpenLocalManager();
  if (!manager) return GetLastError();
  host::UniqueServiceHandle service(OpenServiceA(manager.get(), serviceName, SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (!service) return GetLastError();
  SERVICE_STATUS status = {};
  if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    const DWORD error = GetLastError();
    if (error != ERROR_SERVICE_NOT_ACTIVE) return error;
  }
  // Stopping is told by the service's own reports; the wait is bounded.
  const DWORD startTick = GetTickCount();
  for (;;) {
    if (!QueryServiceStatus(service.get(), &status)) return GetLastError();
    if (status.dwCurrentState == SERVICE_STOPPED) return 0;
    if (GetTickCount() - startTick >= kServiceStopWaitLimitMs) return ERROR_SERVICE_REQUEST_TIMEOUT;
    WaitDispatchingMessages(nullptr, kServiceShortestSleepMs);
  }
}
