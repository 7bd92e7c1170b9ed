// Runs test steps inside a modal dialog's own message loop.
#pragma once

#include <windows.h>

#include <functional>
#include <utility>

#include "framework/framework.h"

constexpr UINT kShownMessage = WM_APP + 0x200;
constexpr UINT_PTR kWatchdogTimer = 0x5157;
constexpr INT_PTR kWatchdogResult = -2;

// Base is a CDialog-derived class; onShown runs once the dialog is
// initialised and its loop is running. A watchdog ends a stuck dialog.
template <class Base>
class ScriptedDialog : public Base {
 public:
  template <class... Args>
  explicit ScriptedDialog(Args&&... args) : Base(std::forward<Args>(args)...) {}

  std::function<void(ScriptedDialog&)> onShown;
  int initCount = 0;

  using Base::EndDialog;

 protected:
  BOOL OnInitDialog() override {
    ++initCount;
    const BOOL result = Base::OnInitDialog();
    ::SetTimer(this->m_hWnd, kWatchdogTimer, 15000, nullptr);
    ::PostMessageW(this->m_hWnd, kShownMessage, 0, 0);
    return result;
  }

  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (msg == kShownMessage) {
      if (onShown) onShown(*this);
      return 0;
    }
    if (msg == WM_TIMER && wParam == kWatchdogTimer) {
      ::KillTimer(this->m_hWnd, kWatchdogTimer);
      ::EndDialog(this->m_hWnd, kWatchdogResult);
      return 0;
    }
    return Base::WindowProc(msg, wParam, lParam);
  }
};

// Lets queued input and paint messages through before a check.
inline void PumpPending() {
  MSG msg;
  for (int round = 0; round < 5; ++round) {
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    ::Sleep(20);
  }
}
