// Changing a service's start type and starting it, on the local host.
#pragma once

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
