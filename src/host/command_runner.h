// Runs console commands without a window, and the legacy netsh batch.
#pragma once

#include "host/command_outcome.h"

// Dispatches at most one pending message of the calling thread, without waiting.
void PumpOneMessage();

// Starts commandLine hidden (no window, no inherited handles) in
// currentDirectory. With wait nonzero, waits for it to end, at most
// pollLimit + 1 seconds, dispatching the thread's messages meanwhile. Returns 1
// when the process was created and not waited for or has ended; 0 when it was
// not created or still runs at the limit (it is left running).
int RunCommandHidden(const char* commandLine, const char* currentDirectory, int wait, unsigned long pollLimit);

// As above, but runs the executable at applicationPath (no search of any
// folder); commandLine is handed to it unchanged.
int RunCommandHidden(const char* applicationPath, const char* commandLine, const char* currentDirectory, int wait,
                     unsigned long pollLimit);

// As RunCommandHidden with wait on, telling what became of the command.
CommandOutcome RunCommandHiddenFor(const char* commandLine, const char* currentDirectory, unsigned long pollLimit);

// Switches the 32-bit-on-64-bit file-system redirection off for this thread;
// returns the token for RevertFsRedirection, null where the switch is unavailable.
void* DisableFsRedirection();
// Nonzero when redirection was switched back on.
int RevertFsRedirection(void* token);

// Runs a system tool's command line in the system directory, taking the tool
// from that directory only (redirection off while it starts); waits 16 s at
// most. 0 when the system directory is unknown or the tool cannot be named there.
int RunSystemCommand(const char* commandLine);
// The same, telling what became of the command.
CommandOutcome RunSystemCommandFor(const char* commandLine);

// Runs the legacy netsh batch; returns the result of its last command.
int RunLegacyPortClosing();
