#include "ui_driver_win.h"

namespace e2e {

using testbed::UniqueHandle;
using testbed::Utf8FromWide;

const std::vector<int> kPortLineIds = {1001, 1002, 1004, 1003, 1005, 1006};
const std::vector<int> kGuardedPorts = {445, 135, 136, 137, 138, 139};
const wchar_t kDialogTitle[] = L"Quillfort(V1.0)";
const wchar_t kCompletionText[] = L"\u606D\u559C\u60A8\uFF0C\u5B89\u5168\u52A0\u56FA\u5B8C\u6210\uFF01";

namespace {

struct Search {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t title[64] = L"";
  GetWindowTextW(window, title, 64);
  if (owner == search->processId && wcscmp(title, kDialogTitle) == 0 && IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// Reads a control of another process without sending it a message, so a
// busy dialog thread cannot block the reader.
std::wstring ControlText(HWND control) {
  wchar_t text[256] = L"";
  GetWindowTextW(control, text, 256);
  return text;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
  auto* panel = reinterpret_cast<Panel*>(param);
  int id = GetDlgCtrlID(child);
  if (id > 0 && id != 0xFFFF) panel->texts[id] = ControlText(child);
  return TRUE;
}

bool ProcessEnded(const UniqueHandle& process) { return WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0; }

}  // namespace

std::wstring Panel::Text(int id) const {
  auto it = texts.find(id);
  return it == texts.end() ? L"<missing>" : it->second;
}

std::vector<std::wstring> Panel::StatusLines() const {
  std::vector<std::wstring> lines{Text(kFirewallLine)};
  for (int id : kPortLineIds) lines.push_back(Text(id));
  return lines;
}

bool LaunchQuillfort(const std::wstring& exePath, DWORD timeoutMs, QuillfortProcess& out, std::string& error,
                     const std::wstring& outputPath) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  UniqueHandle output(CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output.get();
  startup.hStdError = output.get();
  PROCESS_INFORMATION info{};
  std::wstring commandLine = L"\"" + exePath + L"\"";
  out.startTick = GetTickCount();
  if (!CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &info)) {
    error = "cannot start " + Utf8FromWide(exePath) + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  CloseHandle(info.hThread);
  out.process.reset(info.hProcess);
  out.processId = info.dwProcessId;
  for (;;) {
    Search search{out.processId, nullptr};
    EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
    // Initialisation empties the progress line before it fills the panel.
    if (search.found && ControlText(GetDlgItem(search.found, kProgressLine)).empty()) {
      out.dialog = search.found;
      out.dialogShownMs = GetTickCount() - out.startTick;
      return true;
    }
    if (ProcessEnded(out.process)) {
      error = "Quillfort ended before its dialog appeared";
      return false;
    }
    if (GetTickCount() - out.startTick > timeoutMs) {
      error = "no dialog titled Quillfort(V1.0) within the time limit";
      return false;
    }
    Sleep(5);  // fine enough for start-up timings of about 100 ms
  }
}

Panel ReadPanel(HWND dialog) {
  Panel panel;
  EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&panel));
  panel.hardenEnabled = IsWindowEnabled(GetDlgItem(dialog, kHardenButton));
  panel.exitEnabled = IsWindowEnabled(GetDlgItem(dialog, kExitButton));
  return panel;
}

bool HardenAndWait(HWND dialog, DWORD timeoutMs, DWORD& elapsedMs) {
  const DWORD start = GetTickCount();
  // Sent, not posted: the click is handled (and the run done) before the call
  // returns, so the completion text of an earlier press cannot be mistaken
  // for this one's.
  DWORD_PTR result = 0;
  SendMessageTimeoutW(GetDlgItem(dialog, kHardenButton), BM_CLICK, 0, 0, SMTO_NORMAL, timeoutMs, &result);
  for (;;) {
    elapsedMs = GetTickCount() - start;
    Panel panel = ReadPanel(dialog);
    if (panel.Text(kProgressLine) == kCompletionText && panel.hardenEnabled && panel.exitEnabled) return true;
    if (elapsedMs > timeoutMs || !IsWindow(dialog)) return false;
    Sleep(20);
  }
}

bool ExitAndWait(QuillfortProcess& quillfort, DWORD timeoutMs) {
  PostMessageW(GetDlgItem(quillfort.dialog, kExitButton), BM_CLICK, 0, 0);
  return WaitForSingleObject(quillfort.process.get(), timeoutMs) == WAIT_OBJECT_0;
}

bool SaveScreenshot(const std::string& unixPath) {
  char display[64] = "";
  if (!GetEnvironmentVariableA("DISPLAY", display, sizeof display)) return false;
  const std::wstring windowsPath = L"Z:" + testbed::WideFromUtf8(unixPath);
  DeleteFileW(windowsPath.c_str());
  // Wine starts host programs given by their absolute host path, but cannot
  // report how they ended: the picture file tells.
  std::string command = "/usr/bin/import -window root -display " + std::string(display) + " " + unixPath;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return false;
  UniqueHandle process(info.hProcess), thread(info.hThread);
  WaitForSingleObject(process.get(), 20000);
  LONGLONG lastSize = -1;
  for (int i = 0; i < 200; ++i, Sleep(50)) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(windowsPath.c_str(), GetFileExInfoStandard, &data)) continue;
    LONGLONG size = (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size > 0 && size == lastSize) return true;
    lastSize = size;
  }
  return false;
}

std::string Utf8Lines(const std::string& label, const Panel& panel) {
  std::string out;
  for (const auto& [id, text] : panel.texts) out += label + "\t" + std::to_string(id) + "\t" + Utf8FromWide(text) + "\n";
  out += label + "\tbuttons\t" + (panel.hardenEnabled ? "harden-enabled" : "harden-disabled") + "," +
         (panel.exitEnabled ? "exit-enabled" : "exit-disabled") + "\n";
  return out;
}

}  // namespace e2e
