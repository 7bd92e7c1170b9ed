#include "e2e_support_win.h"

#include <windows.h>

#include <algorithm>

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

bool ConsoleRun::SaysLines(const std::string& text) const {
  std::string lines = out;
  lines.erase(std::remove(lines.begin(), lines.end(), '\r'), lines.end());
  return lines.find(text) != std::string::npos;
}

std::string ConsoleRun::LastLine() const {
  std::string text = out;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const std::size_t start = text.find_last_of('\n');
  std::string line = start == std::string::npos ? text : text.substr(start + 1);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

ConsoleRun RunConsole(std::wstring commandLine, const std::wstring& keepOutputAs) {
  ConsoleRun result;
  // Files of their own for every run: a command the program abandoned (a
  // hanging netsh) may still hold the last run's under Wine.
  static int runs = 0;
  const std::wstring run = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++runs);
  const std::wstring out = OutputFolder() + L"\\console-stdout-" + run + L".txt";
  const std::wstring err = OutputFolder() + L"\\console-stderr-" + run + L".txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  testbed::UniqueHandle outFile(CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
  testbed::UniqueHandle errFile(CreateFileW(err.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!outFile || !errFile) {
    result.problem = "cannot create the output files";
    return result;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = outFile.get();
  startup.hStdError = errFile.get();
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    result.problem = "cannot start " + testbed::Utf8FromWide(commandLine) + ": " + std::to_string(GetLastError());
    return result;
  }
  testbed::UniqueHandle processHandle(process.hProcess), thread(process.hThread);
  if (WaitForSingleObject(process.hProcess, 180000) != WAIT_OBJECT_0) {
    result.problem = testbed::Utf8FromWide(commandLine) + " did not end within 180 s";
  }
  DWORD exitCode = 0xFFFFFFFF;
  GetExitCodeProcess(process.hProcess, &exitCode);
  result.exitCode = exitCode;
  outFile.reset();
  errFile.reset();
  result.out = FileText(out);
  result.err = FileText(err);
  if (!keepOutputAs.empty()) CopyFileW(out.c_str(), keepOutputAs.c_str(), FALSE);
  DeleteFileW(out.c_str());
  DeleteFileW(err.c_str());
  return result;
}

}  // namespace e2e
