// UTF-8 text as the wide-character Windows calls take it.
#pragma once

#include <windows.h>

#include <string>

namespace host {

inline std::wstring WideFromUtf8(const std::string& utf8) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  if (size <= 1) return std::wstring();
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &out[0], size);
  out.resize(static_cast<std::size_t>(size) - 1);
  return out;
}

}  // namespace host
