#include "host/command_runner.h"

#include <windows.h>

#include <string>
#include <vector>

#include "host/legacy_port_closing_batch.h"
#include "host/system_tool_path.h"
#include "host/unique_handles.h"

namespace {

constexpr DWORD kPollIntervalMs = 1000;
constexpr unsigned long kSystemCommandPollLimit = 15;
constexpr UINT kSystemDirectoryCapacity = 260;

using DisableRedirectionFunction = BOOL(WINAPI*)(PVOID*);
using RevertRedirectionFunction = BOOL(WINAPI*)(PVOID);

// The program's own start-up information, with no window settings in force
// and no standard handles for the child.
STARTUPINFOA HiddenStartupInfo() {
  STARTUPINFOA startup = {};
  GetStartupInfoA(&startup);
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = nullptr;
  startup.hStdError = nullptr;
  return startup;
}

// Polls the process, one message dispatched per pass; true once it has ended.
bool PollUntilEnded(HANDLE process, unsigned long pollLimit) {
  for (unsigned long pass = 0;; ++pass) {
    PumpOneMessage();
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process, &exitCode)) return true;
    if (exitCode != STILL_ACTIVE) return true;
    Sleep(kPollIntervalMs);
    if (pass == pollLimit) return false;
  }
}

std::string SystemDirectory() {
  char buffer[kSystemDirectoryCapacity] = {};
  const UINT length = GetSystemDirectoryA(buffer, kSystemDirectoryCapacity);
  if (length == 0 || length >= kSystemDirectoryCapacity) return std::string();
  return std::string(buffer, length);
}

}  // namespace

void PumpOneMessage() {
  MSG message;
  if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

int RunCommandHidden(const char* applicationPath, const char* commandLine,
                     const char* currentDirectory, int wait, unsigned long pollLimit) {
  if (commandLine == nullptr) return 0;
  STARTUPINFOA startup = HiddenStartupInfo();
  // The platform may write into the command line it is given.
  std::vector<char> mutableCommandLine(commandLine, commandLine + lstrlenA(commandLine) + 1);
  PROCESS_INFORMATION created = {};
  if (!CreateProcessA(applicationPath, mutableCommandLine.data(), nullptr, nullptr, TRUE,
                      CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS, nullptr, currentDirectory,
                      &startup, &created)) {
    return 0;
  }
  const host::UniqueKernelHandle process(created.hProcess);
  const host::UniqueKernelHandle thread(created.hThread);
  if (wait == 0) return 1;
  // A process that outlives the polls is left running on its own.
  return PollUntilEnded(process.get(), pollLimit) ? 1 : 0;
}

int RunCommandHidden(const char* commandLine, const char* currentDirectory, int wait,
                     unsigned long pollLimit) {
  return RunCommandHidden(nullptr, commandLine, currentDirectory, wait, pollLimit);
}

void* DisableFsRedirection() {
  host::UniqueModule kernel(LoadLibraryA("Kernel32.dll"));
  if (!kernel) return nullptr;
  auto disable = host::LookUpEntryPoint<DisableRedirectionFunction>(
      kernel.get(), "Wow64DisableWow64FsRedirection");
  PVOID token = nullptr;
  if (disable != nullptr) disable(&token);
  return token;
}

int RevertFsRedirection(void* token) {
  host::UniqueModule kernel(LoadLibraryA("Kernel32.dll"));
  if (!kernel) return 0;
  auto revert = host::LookUpEntryPoint<RevertRedirectionFunction>(
      kernel.get(), "Wow64RevertWow64FsRedirection");
  if (revert == nullptr) return 0;
  return revert(token) ? 1 : 0;
}

int RunSystemCommand(const char* commandLine) {
  const std::string systemDirectory = SystemDirectory();
  const std::string toolPath = SystemToolPath(systemDirectory, commandLine);
  if (toolPath.empty()) return 0;
  void* token = DisableFsRedirection();
  const int result = RunCommandHidden(toolPath.c_str(), commandLine, systemDirectory.c_str(),
                                      1, kSystemCommandPollLimit);
  RevertFsRedirection(token);
  return result;
}

int RunLegacyPortClosing() {
  int result = 0;
  for (const char* commandLine : LegacyPortClosingCommands()) {
    result = RunSystemCommand(commandLine);
  }
  return result;
}
