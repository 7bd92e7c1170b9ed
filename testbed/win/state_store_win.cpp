#include "state_store_win.h"

#include "win_util.h"

namespace testbed {
namespace {

class WriterLock {
 public:
  WriterLock() : mutex_(CreateMutexW(nullptr, FALSE, L"quillfort-testbed-state-writer")) {
    // An abandoned lock (its holder was killed) is ours now; the file it
    // guarded is still whole thanks to the rename.
    DWORD r = mutex_ ? WaitForSingleObject(mutex_.get(), 30000) : WAIT_FAILED;
    held_ = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
  }
  ~WriterLock() {
    if (held_) ReleaseMutex(mutex_.get());
  }
  bool held() const { return held_; }

 private:
  UniqueHandle mutex_;
  bool held_ = false;
};

bool WriteStateLocked(const HostState& state) {
  CreateDirectoryW(TestbedHome().c_str(), nullptr);
  const std::wstring path = StatePath();
  const std::wstring temp = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
  const std::string text = SerializeState(state);
  {
    UniqueHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size() || !FlushFileBuffers(file.get())) {
      file.reset();
      DeleteFileW(temp.c_str());
      return false;
    }
  }
  if (!MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace

std::wstring TestbedHome() {
  wchar_t buffer[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"QF_TESTBED_HOME", buffer, MAX_PATH);
  if (n > 0 && n < MAX_PATH) return buffer;
  return L"C:\\quillfort-testbed";
}

std::wstring StatePath() { return TestbedHome() + L"\\host.state"; }

bool ReadState(HostState& state, std::string* error) {
  UniqueHandle file(CreateFileW(StatePath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    if (error) *error = "no state file " + Utf8FromWide(StatePath()) + " (run testbed-host seed)";
    return false;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > (256LL << 20)) {
    if (error) *error = "state file unreadable";
    return false;
  }
  std::string text(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!text.empty() && (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr) ||
                        read != text.size())) {
    if (error) *error = "state file unreadable";
    return false;
  }
  ParseResult parsed = ParseState(text);
  if (!parsed.state) {
    if (error) *error = "state file malformed: " + parsed.error;
    return false;
  }
  state = std::move(*parsed.state);
  return true;
}

bool WriteState(const HostState& state) {
  WriterLock lock;
  return lock.held() && WriteStateLocked(state);
}

bool UpdateState(const std::function<bool(HostState&)>& change) {
  WriterLock lock;
  if (!lock.held()) return false;
  HostState state;
  if (!ReadState(state)) return false;
  if (!change(state)) return false;
  return WriteStateLocked(state);
}

}  // namespace testbed
