// Owning BSTR: frees its string with SysFreeString when it goes.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace qf::firewall {

class UniqueBstr {
 public:
  UniqueBstr() = default;
  // A new string copied from text (null when text is null or memory is short).
  static UniqueBstr Copy(const wchar_t* text) {
    UniqueBstr copy;
    if (text) copy.text_ = SysAllocString(text);
    return copy;
  }
  ~UniqueBstr() { Reset(); }
  UniqueBstr(UniqueBstr&& other) noexcept : text_(other.text_) { other.text_ = nullptr; }
  UniqueBstr& operator=(UniqueBstr&& other) noexcept {
    if (this != &other) {
      Reset();
      text_ = other.text_;
      other.text_ = nullptr;
    }
    return *this;
  }
  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;

  BSTR get() const { return text_; }
  explicit operator bool() const { return text_ != nullptr; }
  // Frees the held string and hands out the slot for an out-parameter.
  BSTR* Receive() {
    Reset();
    return &text_;
  }
  void Reset() {
    if (text_) SysFreeString(text_);
    text_ = nullptr;
  }

 private:
  BSTR text_ = nullptr;
};

}  // namespace qf::firewall
