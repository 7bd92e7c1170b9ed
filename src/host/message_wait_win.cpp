#include "host/message_wait.h"

#include <windows.h>

namespace {

// One wake-up dispatches at most this many messages, so a window that keeps
// posting to itself cannot hold the wait past its time.
constexpr int kMessagesPerWake = 64;
constexpr DWORD kWaitFailedBackoffMs = 20;

bool IsDialogWindow(HWND window) {
  wchar_t className[8] = {};
  return GetClassNameW(window, className, 8) > 0 && lstrcmpW(className, L"#32770") == 0;
}

// Dispatches what is queued now; false when a quit message was taken.
bool DispatchQueued(WPARAM& quitCode) {
  MSG message;
  for (int i = 0; i < kMessagesPerWake && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (message.message == WM_QUIT) {
      quitCode = message.wParam;
      return false;
    }
    // Escape and Enter reach a dialog as its own loop would hand them on.
    HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    if (root != nullptr && IsDialogWindow(root) && IsDialogMessageW(root, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return true;
}

}  // namespace

bool WaitDispatchingMessages(void* handle, unsigned long timeoutMs) {
  const DWORD start = GetTickCount();
  const DWORD handleCount = handle != nullptr ? 1 : 0;
  HANDLE handles[1] = {handle};
  bool dispatching = true;
  WPARAM quitCode = 0;
  bool signalled = false;
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;  // wraps correctly
    const DWORD remaining = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
    DWORD woke;
    if (dispatching) {
      woke = MsgWaitForMultipleObjects(handleCount, handles, FALSE, remaining, QS_ALLINPUT);
    } else if (handle != nullptr) {
      woke = WaitForSingleObject(handle, remaining);
    } else {
      Sleep(remaining);
      woke = WAIT_TIMEOUT;
    }
    if (handleCount == 1 && woke == WAIT_OBJECT_0) {
      signalled = true;
      break;
    }
    if (dispatching && woke == WAIT_OBJECT_0 + handleCount) {
      dispatching = DispatchQueued(quitCode);
      if (remaining == 0) break;
      continue;
    }
    if (woke == WAIT_TIMEOUT || remaining == 0) break;
    Sleep(kWaitFailedBackoffMs);  // a failed wait must not spin
  }
  if (!dispatching) PostQuitMessage(static_cast<int>(quitCode));
  return signalled;
}
