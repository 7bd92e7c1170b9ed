// Small Windows helpers shared by the testbed programs: text conversion and
// owning wrappers for handles and registry keys.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace testbed {

std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : handle_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }
  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  HANDLE release() {
    HANDLE h = handle_;
    handle_ = nullptr;
    return h;
  }
  void reset(HANDLE h = nullptr) {
    if (handle_) CloseHandle(handle_);
    handle_ = h;
  }

 private:
  HANDLE handle_ = nullptr;
};

class UniqueServiceHandle {
 public:
  explicit UniqueServiceHandle(SC_HANDLE h = nullptr) : handle_(h) {}
  UniqueServiceHandle(const UniqueServiceHandle&) = delete;
  UniqueServiceHandle& operator=(const UniqueServiceHandle&) = delete;
  ~UniqueServiceHandle() {
    if (handle_) CloseServiceHandle(handle_);
  }
  SC_HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  SC_HANDLE handle_;
};

class UniqueRegKey {
 public:
  UniqueRegKey() = default;
  UniqueRegKey(const UniqueRegKey&) = delete;
  UniqueRegKey& operator=(const UniqueRegKey&) = delete;
  ~UniqueRegKey() {
    if (key_) RegCloseKey(key_);
  }
  HKEY get() const { return key_; }
  HKEY* out() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

// Writes a REG_SZ value, creating the key; true on success.
bool WriteRegistryString(HKEY root, const std::wstring& subkey, const wchar_t* name, const std::wstring& value);

// The directory holding the running module (exe or DLL), with a trailing
// backslash.
std::wstring ModuleDirectory(HMODULE module);

}  // namespace testbed
