#include "dialog_harness_win.h"

#include "widgets/color_static.h"

namespace {

struct Script {
  CPortmoatDlg* dialog;
  const std::function<void(HWND)>* body;
};
Script* g_script = nullptr;
ProgressRecorder* g_recorder = nullptr;

void CALLBACK RunScript(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  Script* script = g_script;
  g_script = nullptr;
  if (script == nullptr) return;
  HWND window = script->dialog->GetSafeHwnd();
  (*script->body)(window);
  if (IsWindow(window)) {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  }
}

}  // namespace

INT_PTR RunDialog(CPortmoatDlg& dialog, const std::function<void(HWND)>& script) {
  Script run{&dialog, &script};
  g_script = &run;
  SetTimer(nullptr, 0, 50, &RunScript);
  const INT_PTR result = dialog.DoModal();
  g_script = nullptr;
  return result;
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

LineState ReadLine(HWND dialog, int controlId) {
  LineState state;
  HWND window = GetDlgItem(dialog, controlId);
  state.text = WindowText(window);
  auto* label = dynamic_cast<CXColorStatic*>(CWnd::FromHandlePermanent(window));
  if (label == nullptr) return state;
  state.textColour = label->GetTextColor();
  state.background = label->GetBackgroundColor();
  state.bold = label->GetBold();
  if (HFONT font = label->GetFontHandle()) {
    GetObjectW(font, sizeof state.font, &state.font);
  }
  return state;
}

ProgressRecorder::ProgressRecorder(std::function<size_t()> firewallCalls)
    : m_hook(SetWindowsHookExW(WH_CALLWNDPROC, &Hook, nullptr, GetCurrentThreadId())),
      m_firewallCalls(std::move(firewallCalls)) {
  g_recorder = this;
}

ProgressRecorder::~ProgressRecorder() {
  if (m_hook != nullptr) UnhookWindowsHookEx(m_hook);
  g_recorder = nullptr;
}

LRESULT CALLBACK ProgressRecorder::Hook(int code, WPARAM wParam, LPARAM lParam) {
  const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && g_recorder != nullptr && message->message == WM_SETTEXT &&
      GetDlgCtrlID(message->hwnd) == 1008) {
    HWND dialog = GetParent(message->hwnd);
    const auto* text = reinterpret_cast<const wchar_t*>(message->lParam);
    g_recorder->m_writes.push_back({text != nullptr ? text : L"", IsWindowEnabled(GetDlgItem(dialog, 1007)) != FALSE,
                                    IsWindowEnabled(GetDlgItem(dialog, IDOK)) != FALSE, g_recorder->m_firewallCalls()});
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool SaveScreenshot(HWND dialog, const std::wstring& path) {
  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  // Let the window system put the painted pixels on the screen.
  const DWORD until = GetTickCount() + 400;
  while (GetTickCount() < until) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Sleep(20);
  }
  RECT frame;
  GetWindowRect(dialog, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
  SelectObject(memory, old);

  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
  std::vector<char> pixels(stride * static_cast<DWORD>(height));
  const int rows = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                             reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (rows != height) return false;

  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(out, &file, sizeof file, &written, nullptr) &&
            WriteFile(out, &info, sizeof info, &written, nullptr) &&
            WriteFile(out, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
  CloseHandle(out);
  return ok;
}
