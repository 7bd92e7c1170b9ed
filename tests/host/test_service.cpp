// A service for the service control tests. Its behaviour comes from the
// arguments of its registered command line:
//   immediate            runs at once
//   pending <n> <hint>   reports start-pending n times (checkpoints 1..n,
//                        the given hint), half a hint apart, then runs
//   stuck <hint>         reports start-pending with a frozen checkpoint
//   fail                 goes from start-pending through stop-pending to stopped
// A running service stops on the stop control.
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

int g_argc = 0;
char** g_argv = nullptr;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HANDLE g_stopEvent = nullptr;

void Report(DWORD state, DWORD checkPoint, DWORD waitHint, DWORD exitCode = NO_ERROR) {
  SERVICE_STATUS status = {};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  status.dwWin32ExitCode = exitCode;
  status.dwCheckPoint = checkPoint;
  status.dwWaitHint = waitHint;
  SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOP_PENDING, 1, 1000);
    SetEvent(g_stopEvent);
  }
  return NO_ERROR;
}

DWORD Argument(int index) { return index < g_argc ? std::strtoul(g_argv[index], nullptr, 10) : 0; }

void RunUntilStopped() {
  Report(SERVICE_RUNNING, 0, 0);
  WaitForSingleObject(g_stopEvent, 120000);
  Report(SERVICE_STOPPED, 0, 0);
}

void WINAPI ServiceMain(DWORD, char**) {
  g_statusHandle = RegisterServiceCtrlHandlerExA("", Control, nullptr);
  if (g_statusHandle == nullptr) return;
  const char* mode = g_argc > 1 ? g_argv[1] : "immediate";
  if (std::strcmp(mode, "pending") == 0) {
    const DWORD rounds = Argument(2), hint = Argument(3);
    for (DWORD round = 1; round <= rounds; ++round) {
      Report(SERVICE_START_PENDING, round, hint);
      Sleep(hint / 2);
    }
    RunUntilStopped();
  } else if (std::strcmp(mode, "stuck") == 0) {
    Report(SERVICE_START_PENDING, 1, Argument(2));
    // The tests end the process; this is only a safety net.
    WaitForSingleObject(g_stopEvent, 120000);
    Report(SERVICE_STOPPED, 0, 0);
  } else if (std::strcmp(mode, "fail") == 0) {
    Report(SERVICE_START_PENDING, 1, 300);
    Sleep(150);
    Report(SERVICE_STOP_PENDING, 1, 300);
    Sleep(150);
    Report(SERVICE_STOPPED, 0, 0, ERROR_SERVICE_SPECIFIC_ERROR);
  } else {
    RunUntilStopped();
  }
}

}  // namespace

int main(int argc, char** argv) {
  g_argc = argc;
  g_argv = argv;
  g_stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  char name[] = "";
  SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
