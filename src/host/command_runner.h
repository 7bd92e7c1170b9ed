// Runs console commands without a window, and the legacy netsh batch.
#pragma once

// Dispatches at most one pending message of the calling thread, without waiting.
void PumpOneMessage();

// Starts commandLine hidden in currentDirectory. With wait nonzero, polls once
// a second, pollLimit + 1 times, dispatching one message per poll. Returns 1
// when the process was created and not waited for, has ended, or its exit code
// could not be read; 0 when it was not created or still runs after the last poll.
int RunCommandHidden(const char* commandLine, const char* currentDirectory, int wait,
                     unsigned long pollLimit);

// As above, but runs the executable at applicationPath (no search of any
// folder); commandLine is handed to it unchanged.
int RunCommandHidden(const char* applicationPath, const char* commandLine,
                     const char* currentDirectory, int wait, unsigned long pollLimit);

// Switches the 32-bit-on-64-bit file-system redirection off for this thread;
// returns the token for RevertFsRedirection, null where the switch is unavailable.
void* DisableFsRedirection();
// Nonzero when redirection was switched back on.
int RevertFsRedirection(void* token);

// Runs a system tool's command line in the system directory, taking the tool
// from that directory only, with redirection off; waits about 16 s at most.
// 0 when the system directory is unknown or the tool cannot be named there.
int RunSystemCommand(const char* commandLine);

// Runs the legacy netsh batch; returns the result of its last command.
int RunLegacyPortClosing();
