#include "framework/cp936_text.h"

#include <windows.h>

#include <climits>

namespace {
constexpr UINT kCodePage936 = 936;
}

std::wstring WideFromCp936(std::string_view text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int length = static_cast<int>(text.size());
  const int needed = ::MultiByteToWideChar(kCodePage936, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  const int written = ::MultiByteToWideChar(kCodePage936, 0, text.data(), length, wide.data(), needed);
  wide.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return wide;
}
