#include "e2e_support_win.h"

#include <windows.h>

#include "win_util.h"

namespace e2e {

std::wstring Env(const wchar_t* name) {
  wchar_t value[1024];
  const DWORD n = GetEnvironmentVariableW(name, value, 1024);
  return n > 0 && n < 1024 ? value : L"";
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string FileText(const std::wstring& path) {
  testbed::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string text;
  char chunk[4096];
  DWORD read = 0;
  while (file && ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0) text.append(chunk, read);
  return text;
}

std::wstring OutputFolder() {
  const std::wstring folder = Env(L"QF_E2E_OUTPUT");
  if (!folder.empty()) return L"Z:" + folder;
  wchar_t temp[MAX_PATH];
  const DWORD n = GetTempPathW(MAX_PATH, temp);
  return std::wstring(temp, n ? n - 1 : 0);
}

}  // namespace e2e
