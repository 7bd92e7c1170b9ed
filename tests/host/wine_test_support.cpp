#include "wine_test_support.h"

#include <tlhelp32.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "host/unique_handles.h"

namespace hosttest {

std::string OwnFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

std::string HelperPath(const char* exeName) { return OwnFolder() + exeName; }

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

ScratchFolder::ScratchFolder(const char* tag) {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  path_ = std::string(temp) + "qfhost_" + tag + "_" + std::to_string(GetCurrentProcessId()) + "_" +
          std::to_string(GetTickCount());
  CreateDirectoryA(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path_ + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      DeleteFileA(File(found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(path_.c_str());
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

namespace {

long RunAndWait(const std::string& commandLine, DWORD timeoutMs, BOOL inheritHandles) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION created = {};
  std::string mutableLine = commandLine;
  if (!CreateProcessA(nullptr, &mutableLine[0], nullptr, nullptr, inheritHandles, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &created)) {
    return -1;
  }
  const host::UniqueKernelHandle process(created.hProcess);
  const host::UniqueKernelHandle thread(created.hThread);
  if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.get(), 1);
    return -1;
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(process.get(), &exitCode);
  return static_cast<long>(exitCode);
}

}  // namespace

long RunToEnd(const std::string& commandLine, DWORD timeoutMs) { return RunAndWait(commandLine, timeoutMs, FALSE); }

long RunInheritingHandles(const std::string& commandLine, DWORD timeoutMs) {
  return RunAndWait(commandLine, timeoutMs, TRUE);
}

std::vector<DWORD> ChildProcesses(const char* exeName) {
  std::vector<DWORD> ids;
  wchar_t wideName[MAX_PATH] = {};
  MultiByteToWideChar(CP_ACP, 0, exeName, -1, wideName, MAX_PATH);
  const host::UniqueKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (snapshot.get() == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ParentProcessID == GetCurrentProcessId() && lstrcmpiW(entry.szExeFile, wideName) == 0) {
      ids.push_back(entry.th32ProcessID);
    }
  }
  return ids;
}

int EndChildProcesses(const char* exeName) {
  int ended = 0;
  for (DWORD id : ChildProcesses(exeName)) {
    const host::UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    if (process && TerminateProcess(process.get(), 0)) {
      WaitForSingleObject(process.get(), 5000);
      ++ended;
    }
  }
  return ended;
}

DWORD ElapsedMsSince(DWORD startTick) { return GetTickCount() - startTick; }

namespace {

constexpr char kCounterClass[] = "QfHostMessageCounter";

bool ProcessRunning(const wchar_t* exeName) {
  const host::UniqueKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (snapshot.get() == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (lstrcmpiW(entry.szExeFile, exeName) == 0) return true;
  }
  return false;
}

// Under Wine the first window of a prefix starts its desktop process, which
// would inherit this test's output pipes and keep the test runner waiting
// after the test ends. Start it first, detached and without them.
void StartDesktopProcessDetached() {
  if (ProcessRunning(L"explorer.exe")) return;
  // Null standard handles are not enough: Wine then hands down our own.
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  const host::UniqueKernelHandle nul(CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0,
                                                 nullptr));
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.get();
  char commandLine[] = "explorer.exe /desktop";
  PROCESS_INFORMATION created = {};
  if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr, nullptr, &startup,
                      &created)) {
    return;
  }
  const host::UniqueKernelHandle process(created.hProcess);
  const host::UniqueKernelHandle thread(created.hThread);
  WaitForInputIdle(process.get(), 10000);
}

}  // namespace

MessageCounter::MessageCounter() {
  StartDesktopProcessDetached();
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = Procedure;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kCounterClass;
  RegisterClassA(&windowClass);  // fails harmlessly when already registered
  window_ = CreateWindowA(kCounterClass, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleA(nullptr),
                          nullptr);
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  // Drop whatever creating the window queued, so only our messages count.
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
  seen.clear();
}

MessageCounter::~MessageCounter() {
  DestroyWindow(window_);
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
}

void MessageCounter::Queue(int count) {
  for (int i = 0; i < count; ++i) PostMessageA(window_, kCountedMessage, i, 0);
}

void MessageCounter::OnFirstMessage(void (*action)(void*), void* context) {
  firstAction_ = action;
  firstContext_ = context;
}

LRESULT CALLBACK MessageCounter::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<MessageCounter*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self != nullptr) {
    self->seen.push_back(message);
    if (message == kCountedMessage) {
      if (self->dispatched_++ == 0 && self->firstAction_ != nullptr) self->firstAction_(self->firstContext_);
      return 0;
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace hosttest
