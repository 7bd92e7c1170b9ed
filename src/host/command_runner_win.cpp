#include "host/command_runner.h"

#include <windows.h>

#include <string>
#include <vector>

#include "host/legacy_port_closing_batch.h"
#include "host/message_wait.h"
#include "host/system_tool_path.h"
#include "host/unique_handles.h"

namespace {

constexpr DWORD kPollIntervalMs = 1000;
constexpr unsigned long kSystemCommandPollLimit = 15;
constexpr UINT kSystemDirectoryCapacity = 260;
constexpr DWORD kLongestWaitMs = 0xFFFFFFFEu;  // INFINITE excluded

using DisableRedirectionFunction = BOOL(WINAPI*)(PVOID*);
using RevertRedirectionFunction = BOOL(WINAPI*)(PVOID);

// A fresh record, not a copy of ours: the child gets a hidden window and
// nothing of the parent's start-up.
STARTUPINFOA HiddenStartupInfo() {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  return startup;
}

// The poll limit keeps its meaning as the bound on the whole wait: one
// second for each of its pollLimit + 1 passes.
DWORD WaitBoundMs(unsigned long pollLimit) {
  const unsigned long long bound = (static_cast<unsigned long long>(pollLimit) + 1) * kPollIntervalMs;
  return bound > kLongestWaitMs ? kLongestWaitMs : static_cast<DWORD>(bound);
}

std::string SystemDirectory() {
  char buffer[kSystemDirectoryCapacity] = {};
  const UINT length = GetSystemDirectoryA(buffer, kSystemDirectoryCapacity);
  if (length == 0 || length >= kSystemDirectoryCapacity) return std::string();
  return std::string(buffer, length);
}

// Starts the process and, when asked, waits for it. Redirection, when it is
// to be off, is off only while the process is created: messages dispatched
// during the wait may load libraries, which fails while it is off.
CommandOutcome RunHidden(const char* applicationPath, const char* commandLine, const char* currentDirectory, bool wait,
                         unsigned long pollLimit, bool withoutRedirection) {
  CommandOutcome outcome;
  if (commandLine == nullptr) {
    outcome.error = ERROR_INVALID_PARAMETER;
    return outcome;
  }
  STARTUPINFOA startup = HiddenStartupInfo();
  // The platform may write into the command line it is given.
  std::vector<char> mutableCommandLine(commandLine, commandLine + lstrlenA(commandLine) + 1);
  PROCESS_INFORMATION created = {};
  void* token = withoutRedirection ? DisableFsRedirection() : nullptr;
  const BOOL started =
      CreateProcessA(applicationPath, mutableCommandLine.data(), nullptr, nullptr, FALSE,
                     CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS, nullptr, currentDirectory, &startup, &created);
  const DWORD creationError = started ? 0 : GetLastError();
  if (withoutRedirection) RevertFsRedirection(token);
  if (!started) {
    outcome.error = creationError;
    return outcome;
  }
  outcome.started = true;
  const host::UniqueKernelHandle process(created.hProcess);
  const host::UniqueKernelHandle thread(created.hThread);
  if (!wait) return outcome;
  // A process that outlives the bound is left running on its own.
  outcome.ended = WaitDispatchingMessages(process.get(), WaitBoundMs(pollLimit));
  if (!outcome.ended) return outcome;
  DWORD exitCode = 0;
  if (GetExitCodeProcess(process.get(), &exitCode)) {
    outcome.exitCodeRead = true;
    outcome.exitCode = exitCode;
  } else {
    outcome.error = GetLastError();
  }
  return outcome;
}

// The classic result: 1 once created and not waited for or ended, 0 otherwise.
int RunnerResult(const CommandOutcome& outcome, int wait) {
  if (!outcome.started) return 0;
  return wait == 0 || outcome.ended ? 1 : 0;
}

CommandOutcome RunInSystemDirectory(const char* commandLine) {
  const std::string systemDirectory = SystemDirectory();
  const std::string toolPath = SystemToolPath(systemDirectory, commandLine);
  if (toolPath.empty()) {
    CommandOutcome outcome;
    outcome.error = kErrorFileNotFound;
    return outcome;
  }
  return RunHidden(toolPath.c_str(), commandLine, systemDirectory.c_str(), true, kSystemCommandPollLimit, true);
}

}  // namespace

void PumpOneMessage() {
  MSG message;
  if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

int RunCommandHidden(const char* applicationPath, const char* commandLine, const char* currentDirectory, int wait,
                     unsigned long pollLimit) {
  return RunnerResult(RunHidden(applicationPath, commandLine, currentDirectory, wait != 0, pollLimit, false), wait);
}

int RunCommandHidden(const char* commandLine, const char* currentDirectory, int wait, unsigned long pollLimit) {
  return RunCommandHidden(nullptr, commandLine, currentDirectory, wait, pollLimit);
}

CommandOutcome RunCommandHiddenFor(const char* commandLine, const char* currentDirectory, unsigned long pollLimit) {
  return RunHidden(nullptr, commandLine, currentDirectory, true, pollLimit, false);
}

void* DisableFsRedirection() {
  host::UniqueModule kernel(LoadLibraryA("Kernel32.dll"));
  if (!kernel) return nullptr;
  auto disable = host::LookUpEntryPoint<DisableRedirectionFunction>(kernel.get(), "Wow64DisableWow64FsRedirection");
  PVOID token = nullptr;
  if (disable != nullptr) disable(&token);
  return token;
}

int RevertFsRedirection(void* token) {
  host::UniqueModule kernel(LoadLibraryA("Kernel32.dll"));
  if (!kernel) return 0;
  auto revert = host::LookUpEntryPoint<RevertRedirectionFunction>(kernel.get(), "Wow64RevertWow64FsRedirection");
  if (revert == nullptr) return 0;
  return revert(token) ? 1 : 0;
}

int RunSystemCommand(const char* commandLine) { return RunnerResult(RunInSystemDirectory(commandLine), 1); }

CommandOutcome RunSystemCommandFor(const char* commandLine) { return RunInSystemDirectory(commandLine); }

int RunLegacyPortClosing() {
  int result = 0;
  for (const char* commandLine : LegacyPortClosingCommands()) {
    result = RunSystemCommand(commandLine);
  }
  return result;
}
