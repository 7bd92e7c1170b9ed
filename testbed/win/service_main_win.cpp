// The firewall services of the simulated host (registered as MpsSvc and
// SharedAccess, the service name given as the only argument). How a start
// goes is read from the host state; the service records what it reached.
#include <windows.h>

#include <cstdio>
#include <string>

#include "state_store_win.h"
#include "win_util.h"

using namespace testbed;

namespace {

std::wstring g_name;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
UniqueHandle g_stopRequested;

void Report(DWORD state, DWORD checkPoint = 0, DWORD waitHint = 0, DWORD exitCode = NO_ERROR) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_STOPPED ? 0 : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
  status.dwWin32ExitCode = exitCode;
  status.dwCheckPoint = checkPoint;
  status.dwWaitHint = waitHint;
  SetServiceStatus(g_statusHandle, &status);
}

void Record(const char* state, bool countStart) {
  const std::string name = Utf8FromWide(g_name);
  UpdateState([&](HostState& s) {
    ServiceSetup* service = s.FindService(name);
    if (!service) return false;
    service->recordedState = state;
    if (countStart) ++service->starts;
    return true;
  });
}

ServiceSetup ReadSetup() {
  HostState state;
  if (ReadState(state))
    if (ServiceSetup* service = state.FindService(Utf8FromWide(g_name))) return *service;
  return ServiceSetup{};
}

bool StopRequestedWithin(DWORD milliseconds) {
  return WaitForSingleObject(g_stopRequested.get(), milliseconds) == WAIT_OBJECT_0;
}

DWORD WINAPI OnControl(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      SetEvent(g_stopRequested.get());
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

// Start-pending for the given rounds (for ever when rounds < 0); false when
// a stop arrived first.
bool PassPendingRounds(int rounds, DWORD hint) {
  for (DWORD round = 1; rounds < 0 || static_cast<int>(round) <= rounds; ++round) {
    Report(SERVICE_START_PENDING, round, hint);
    if (StopRequestedWithin(hint)) return false;
  }
  return true;
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  g_statusHandle = RegisterServiceCtrlHandlerExW(g_name.c_str(), OnControl, nullptr);
  if (!g_statusHandle) return;
  const ServiceSetup setup = ReadSetup();
  Record("start-pending", true);
  bool reachedRunning = true;
  switch (setup.behaviour) {
    case StartBehaviour::Refusing:
      Record("refused", false);
      Report(SERVICE_STOPPED, 0, 0, ERROR_ACCESS_DENIED);
      return;
    case StartBehaviour::Pending:
      reachedRunning = PassPendingRounds(setup.pendingRounds, 200);
      break;
    case StartBehaviour::Stuck:
      reachedRunning = PassPendingRounds(-1, 1000);
      break;
    default:
      break;
  }
  if (reachedRunning) {
    Report(SERVICE_RUNNING);
    Record("running", false);
    StopRequestedWithin(INFINITE);
  }
  Report(SERVICE_STOP_PENDING, 1, 1000);
  Record("stopped", false);
  Report(SERVICE_STOPPED);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fputs("usage: testbed-service <service name> (started by the service control manager)\n", stderr);
    return 2;
  }
  g_name = argv[1];
  g_stopRequested.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  SERVICE_TABLE_ENTRYW table[] = {{g_name.data(), ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
