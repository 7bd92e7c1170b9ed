// Shared helpers of the host tests that run under Wine: helper programs built
// beside the tests, scratch folders, child processes and a message counter.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace hosttest {

// Folder of the running test executable, with a trailing backslash.
std::string OwnFolder();
// Full path of a helper program built beside the tests.
std::string HelperPath(const char* exeName);
std::string Quoted(const std::string& text);

// A fresh folder under the temp folder, removed with its files at the end.
class ScratchFolder {
 public:
  explicit ScratchFolder(const char* tag);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const char* name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

bool FileExists(const std::string& path);
std::string ReadText(const std::string& path);

// Runs a command line to its end (at most timeoutMs); returns its exit code
// or -1 when it could not run or did not end.
long RunToEnd(const std::string& commandLine, DWORD timeoutMs = 20000);

// The same, with every inheritable handle of this process handed on.
long RunInheritingHandles(const std::string& commandLine, DWORD timeoutMs = 20000);

// Ids of the live child processes of this process with the given image name.
std::vector<DWORD> ChildProcesses(const char* exeName);
// Ends every child process with that name; returns how many it ended.
int EndChildProcesses(const char* exeName);

DWORD ElapsedMsSince(DWORD startTick);

// A hidden window of the calling thread that counts the messages it gets;
// the runner tests queue messages for it and see how many were dispatched.
class MessageCounter {
 public:
  static constexpr UINT kCountedMessage = WM_APP + 7;
  MessageCounter();
  ~MessageCounter();
  MessageCounter(const MessageCounter&) = delete;
  MessageCounter& operator=(const MessageCounter&) = delete;

  void Queue(int count);
  int dispatched() const { return dispatched_; }
  HWND window() const { return window_; }
  // Runs once, inside the first counted message's dispatch.
  void OnFirstMessage(void (*action)(void*), void* context);
  std::vector<UINT> seen;  // every message the window got, in order

 private:
  static LRESULT CALLBACK Procedure(HWND, UINT, WPARAM, LPARAM);
  HWND window_ = nullptr;
  int dispatched_ = 0;
  void (*firstAction_)(void*) = nullptr;
  void* firstContext_ = nullptr;
};

}  // namespace hosttest
