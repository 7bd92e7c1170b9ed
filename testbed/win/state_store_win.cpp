#include "state_store_win.h"

#include <algorithm>
#include <vector>

#include "win_util.h"

namespace testbed {
namespace {

const DWORD kReplaceWaitMs = 10000;

// One handle to the named lock for the life of the process: every firewall
// call of the double reads the state under it, and opening the lock anew
// each time cost two more round trips to the server.
HANDLE StateMutex() {
  static const UniqueHandle mutex(CreateMutexW(nullptr, FALSE, L"quillfort-testbed-state"));
  return mutex.get();
}

class StateLock {
 public:
  StateLock() : mutex_(StateMutex()) {
    // An abandoned lock (its holder was killed) is ours now; the file it
    // guarded is still whole thanks to the rename.
    DWORD r = mutex_ ? WaitForSingleObject(mutex_, 30000) : WAIT_FAILED;
    held_ = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
  }
  ~StateLock() {
    if (held_) ReleaseMutex(mutex_);
  }
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;
  bool held() const { return held_; }

 private:
  HANDLE mutex_;
  bool held_ = false;
};

// A file that some process holds open cannot be renamed over (Wine refuses
// it always, Windows unless every opener shares delete). Readers of this
// module open it under the lock; anyone else holding it briefly is waited
// out rather than the write lost.
bool ReplaceWithRetry(const std::wstring& temp, const std::wstring& path) {
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  const DWORD start = GetTickCount();
  for (;;) {
    if (MoveFileExW(temp.c_str(), path.c_str(), flags)) return true;
    DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return false;
    if (GetTickCount() - start >= kReplaceWaitMs) return false;
    Sleep(1);
  }
}

bool WriteStateLocked(const HostState& state) {
  CreateDirectoryW(TestbedHome().c_str(), nullptr);
  const std::wstring path = StatePath();
  const std::wstring temp = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
  const std::string text = SerializeState(state);
  {
    UniqueHandle file(
        CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size() || !FlushFileBuffers(file.get())) {
      file.reset();
      DeleteFileW(temp.c_str());
      return false;
    }
  }
  if (!ReplaceWithRetry(temp, path)) {
    DeleteFileW(temp.c_str());
    return false;
  }
  return true;
}

// The last text this process parsed and what it gave. Every COM call of the
// double reads the whole state; with thousands of rules parsing or copying it
// for each call would be the double's cost, not the program's under test.
class ParsedStateCache {
 public:
  ParsedStateCache() { InitializeCriticalSection(&section_); }
  ~ParsedStateCache() { DeleteCriticalSection(&section_); }
  ParsedStateCache(const ParsedStateCache&) = delete;
  ParsedStateCache& operator=(const ParsedStateCache&) = delete;

  // The parsed state when the open file, read from its start, holds
  // exactly the text parsed last. It is compared slice by slice: an
  // unchanged state of thousands of rules costs no buffer of its size.
  std::shared_ptr<const HostState> FindHeldBy(HANDLE file, LONGLONG size) {
    EnterCriticalSection(&section_);
    std::shared_ptr<const HostState> hit = state_ && size == static_cast<LONGLONG>(text_.size()) ? state_ : nullptr;
    for (size_t offset = 0; hit && offset < text_.size();) {
      const DWORD want = static_cast<DWORD>(std::min(slice_.size(), text_.size() - offset));
      DWORD read = 0;
      if (!ReadFile(file, slice_.data(), want, &read, nullptr) || read != want ||
          text_.compare(offset, want, slice_.data(), want) != 0)
        hit = nullptr;
      offset += want;
    }
    LeaveCriticalSection(&section_);
    return hit;
  }
  std::shared_ptr<const HostState> Last() {
    EnterCriticalSection(&section_);
    std::shared_ptr<const HostState> last = state_;
    LeaveCriticalSection(&section_);
    return last;
  }
  void Keep(std::string text, std::shared_ptr<const HostState> state) {
    EnterCriticalSection(&section_);
    text_ = std::move(text);
    state_ = std::move(state);
    LeaveCriticalSection(&section_);
  }

 private:
  CRITICAL_SECTION section_;
  std::vector<char> slice_ = std::vector<char>(64 * 1024);
  std::string text_;
  std::shared_ptr<const HostState> state_;
};

ParsedStateCache& Parsed() {
  static ParsedStateCache cache;
  return cache;
}

}  // namespace

std::wstring TestbedHome() {
  wchar_t buffer[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"QF_TESTBED_HOME", buffer, MAX_PATH);
  if (n > 0 && n < MAX_PATH) return buffer;
  return L"C:\\quillfort-testbed";
}

std::wstring StatePath() { return TestbedHome() + L"\\host.state"; }

std::shared_ptr<const HostState> ReadSharedState(std::string* error) {
  std::string text;
  {
    // Held only while the file is open, so that no write meets it open; a
    // read without it is still whole (the rename), hence no failure here.
    StateLock lock;
    UniqueHandle file(CreateFileW(StatePath().c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      if (error) *error = "no state file " + Utf8FromWide(StatePath()) + " (run testbed-host seed)";
      return nullptr;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > (256LL << 20)) {
      if (error) *error = "state file unreadable";
      return nullptr;
    }
    if (auto known = Parsed().FindHeldBy(file.get(), size.QuadPart)) return known;
    LARGE_INTEGER start{};
    text.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN) ||
        (!text.empty() && (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr) ||
                           read != text.size()))) {
      if (error) *error = "state file unreadable";
      return nullptr;
    }
  }
  ParseResult parsed = ParseState(text);
  if (!parsed.state) {
    if (error) *error = "state file malformed: " + parsed.error;
    return nullptr;
  }
  auto state = std::make_shared<const HostState>(std::move(*parsed.state));
  Parsed().Keep(std::move(text), state);
  return state;
}

std::shared_ptr<const HostState> LastReadState() { return Parsed().Last(); }

bool ReadState(HostState& state, std::string* error) {
  std::shared_ptr<const HostState> shared = ReadSharedState(error);
  if (!shared) return false;
  state = *shared;
  return true;
}

bool WriteState(const HostState& state) {
  StateLock lock;
  return lock.held() && WriteStateLocked(state);
}

bool UpdateState(const std::function<bool(HostState&)>& change) {
  StateLock lock;
  if (!lock.held()) return false;
  HostState state;
  if (!ReadState(state)) return false;
  if (!change(state)) return false;
  return WriteStateLocked(state);
}

}  // namespace testbed
