// Changing a service's start type and starting it, on the local host.
#pragma once

// Nonzero when the start type of serviceName (may be null) was changed.
int SetServiceStartType(const char* serviceName, unsigned long startType);

// Nonzero when the start request was accepted (not whether the service runs).
// With wait nonzero, waits until the service runs, settles otherwise, stalls,
// or a minute has passed.
int StartServiceAndWait(const char* serviceName, int wait);
