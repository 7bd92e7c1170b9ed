#include "ui_driver_win.h"

#include <cctype>

namespace e2e {

using testbed::UniqueHandle;
using testbed::Utf8FromWide;

const std::vector<int> kPortLineIds = {1001, 1002, 1004, 1003, 1005, 1006};
const std::vector<int> kGuardedPorts = {445, 135, 136, 137, 138, 139};
const wchar_t kDialogTitle[] = L"Quillfort(V1.0)";
const wchar_t kCompletionText[] = L"\u606D\u559C\u60A8\uFF0C\u5B89\u5168\u52A0\u56FA\u5B8C\u6210\uFF01";
const wchar_t kFailureText[] = L"\u52A0\u56FA\u672A\u5B8C\u6210\uFF0C\u8BF7\u91CD\u8BD5\uFF01";
const wchar_t kRestoredText[] = L"\u5DF2\u6062\u590D\u52A0\u56FA\u524D\u7684\u8BBE\u7F6E";  // 已恢复加固前的设置
const wchar_t kNothingToRestoreText[] = L"\u6CA1\u6709\u53EF\u64A4\u9500\u7684\u52A0\u56FA";  // 没有可撤销的加固
const wchar_t kRestoreFailureText[] =
    L"\u64A4\u9500\u672A\u5B8C\u6210\uFF0C\u8BF7\u91CD\u8BD5\uFF01";  // 撤销未完成，请重试！

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
    const std::wstring progress = panel.Text(kProgressLine);
    if ((progress == kCompletionText || progress == kFailureText) && panel.hardenEnabled && panel.exitEnabled)
      return true;
    if (elapsedMs > timeoutMs || !IsWindow(dialog)) return false;
    Sleep(20);
  }
}

bool UndoAndWait(HWND dialog, DWORD timeoutMs, DWORD& elapsedMs) {
  const DWORD start = GetTickCount();
  // Sent, as the button is: the undo has run when the call returns.
  DWORD_PTR result = 0;
  SendMessageTimeoutW(dialog, WM_SYSCOMMAND, kUndoCommand, 0, SMTO_NORMAL, timeoutMs, &result);
  for (;;) {
    elapsedMs = GetTickCount() - start;
    Panel panel = ReadPanel(dialog);
    const std::wstring progress = panel.Text(kProgressLine);
    const bool ended =
        progress == kRestoredText || progress == kNothingToRestoreText || progress == kRestoreFailureText;
    if (ended && panel.hardenEnabled && panel.exitEnabled) return true;
    if (elapsedMs > timeoutMs || !IsWindow(dialog)) return false;
    Sleep(20);
  }
}

namespace {

// The popup menu window of the dialog's process, when one is shown.
HWND ShownMenuOf(HWND dialog) {
  DWORD dialogProcess = 0;
  GetWindowThreadProcessId(dialog, &dialogProcess);
  for (HWND menu = FindWindowExW(nullptr, nullptr, L"#32768", nullptr); menu != nullptr;
       menu = FindWindowExW(nullptr, menu, L"#32768", nullptr)) {
    DWORD process = 0;
    GetWindowThreadProcessId(menu, &process);
    if (process == dialogProcess && IsWindowVisible(menu)) return menu;
  }
  return nullptr;
}

}  // namespace

bool OpenSystemMenu(HWND dialog, DWORD timeoutMs) {
  // Posted: the menu's own loop runs until the menu ends.
  PostMessageW(dialog, WM_SYSCOMMAND, SC_KEYMENU, VK_SPACE);
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < timeoutMs) {
    if (ShownMenuOf(dialog) != nullptr) return true;
    Sleep(20);
  }
  return false;
}

void CloseSystemMenu(HWND dialog) {
  // The default handling of WM_CANCELMODE ends menu tracking.
  PostMessageW(dialog, WM_CANCELMODE, 0, 0);
  for (int i = 0; i < 100 && ShownMenuOf(dialog) != nullptr; ++i) Sleep(20);
}

bool ExitAndWait(QuillfortProcess& quillfort, DWORD timeoutMs) {
  PostMessageW(GetDlgItem(quillfort.dialog, kExitButton), BM_CLICK, 0, 0);
  return WaitForSingleObject(quillfort.process.get(), timeoutMs) == WAIT_OBJECT_0;
}

namespace {

// Runs ImageMagick's import on the X display; options go before the file.
bool ImportScreen(const std::string& options, const std::string& unixPath) {
  char display[64] = "";
  if (!GetEnvironmentVariableA("DISPLAY", display, sizeof display)) return false;
  const std::wstring windowsPath = L"Z:" + testbed::WideFromUtf8(unixPath.substr(unixPath.find(':') + 1));
  DeleteFileW(windowsPath.c_str());
  // Wine starts host programs given by their absolute host path, but cannot
  // report how they ended: the picture file tells.
  std::string command =
      "/usr/bin/import -window root -display " + std::string(display) + " " + options + " " + unixPath;
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

std::string ReadBytes(const std::wstring& path) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string bytes;
  char chunk[65536];
  DWORD read = 0;
  while (file && ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
  return bytes;
}

}  // namespace

bool SaveScreenshot(const std::string& unixPath) { return ImportScreen("", unixPath); }

TextColours CountTextColours(HWND control) {
  TextColours colours;
  RECT r{};
  if (!GetWindowRect(control, &r) || r.right <= r.left || r.bottom <= r.top) return colours;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  // The temporary folder of the prefix, as the host system names it.
  const std::wstring windowsPath =
      std::wstring(temp) + L"qf-e2e-colours-" + std::to_wstring(GetCurrentProcessId()) + L".ppm";
  char* unix = nullptr;
  using ToUnix = char*(CDECL*)(const WCHAR*);
  auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix || !(unix = toUnix(windowsPath.c_str()))) return colours;
  std::string unixPath = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  const std::string crop = std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) + "+" +
                           std::to_string(r.left) + "+" + std::to_string(r.top);
  if (!ImportScreen("-crop " + crop + " +repage -depth 8", "ppm:" + unixPath)) return colours;
  const std::string ppm = ReadBytes(windowsPath);
  DeleteFileW(windowsPath.c_str());
  // Binary PPM: "P6", width, height, maximum value, one blank, then RGB.
  size_t pos = 0;
  auto number = [&]() -> long {
    while (pos < ppm.size() && (isspace(static_cast<unsigned char>(ppm[pos])) || ppm[pos] == '#')) {
      if (ppm[pos] == '#')
        pos = ppm.find('\n', pos);
      else
        ++pos;
    }
    long n = 0;
    bool any = false;
    for (; pos < ppm.size() && isdigit(static_cast<unsigned char>(ppm[pos])); ++pos, any = true)
      n = n * 10 + (ppm[pos] - '0');
    return any ? n : -1;
  };
  if (ppm.compare(0, 2, "P6") != 0) return colours;
  pos = 2;
  long width = number(), height = number(), maximum = number();
  if (width <= 0 || height <= 0 || maximum != 255 || pos >= ppm.size()) return colours;
  ++pos;
  if (ppm.size() - pos < static_cast<size_t>(width * height * 3)) return colours;
  colours.captured = true;
  for (long i = 0; i < width * height; ++i) {
    auto c = [&](int k) { return static_cast<unsigned char>(ppm[pos + i * 3 + k]); };
    int red = c(0), green = c(1), blue = c(2);
    if (red > 200 && green < 60 && blue < 60) ++colours.red;
    if (green > 100 && red < 60 && blue < 60) ++colours.green;
    if (blue > 200 && red < 60 && green < 60) ++colours.blue;
  }
  return colours;
}

std::string Utf8Lines(const std::string& label, const Panel& panel) {
  std::string out;
  for (const auto& [id, text] : panel.texts)
    out += label + "\t" + std::to_string(id) + "\t" + Utf8FromWide(text) + "\n";
  out += label + "\tbuttons\t" + (panel.hardenEnabled ? "harden-enabled" : "harden-disabled") + "," +
         (panel.exitEnabled ? "exit-enabled" : "exit-disabled") + "\n";
  return out;
}

}  // namespace e2e
