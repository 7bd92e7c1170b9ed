// Changing a service's start type and starting it, on the local host.
#pragma once

#include <cstdint>

#include "host/service_start_wait.h"

// Nonzero when the start type of serviceName (may be null) was changed.
int SetServiceStartType(const char* serviceName, unsigned long startType);

// 0 when the start type was changed, else the system error that prevented it.
unsigned long SetServiceStartTypeError(const char* serviceName, unsigned long startType);

// Nonzero when the start request was accepted (not whether the service runs).
// With wait nonzero, waits until the service runs, settles otherwise, stalls,
// or a minute has passed; the thread's messages are dispatched meanwhile.
int StartServiceAndWait(const char* serviceName, int wait);

// Starts the service and waits as above, also when it already runs, and
// tells what the wait saw (ServiceStartFailureCode decides success).
ServiceStartOutcome StartServiceUntilRunning(const char* serviceName);

// What the service manager says about a service.
struct ServiceState {
  bool present = false;            // the service could be opened
  std::uint32_t error = 0;         // the first call that failed, 0 if none
  std::uint32_t startType = 0;     // SERVICE_AUTO_START and so on, when read
  std::uint32_t currentState = 0;  // SERVICE_RUNNING and so on; 0 when unread
};
ServiceState ReadServiceState(const char* serviceName);

constexpr std::uint32_t kServiceStopWaitLimitMs = 30000;
// Asks the service to stop and waits until it has (at most
// kServiceStopWaitLimitMs), dispatching messages. 0 when it is stopped,
// also when it already was; else the error.
unsigned long StopServiceAndWait(const char* serviceName);
