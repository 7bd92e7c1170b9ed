// Runs the main dialog modally in the test process and reads it back through
// its real windows.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "app/portmoat_dlg.h"

// Runs the dialog; once its modal loop runs, calls script with the dialog
// window. Unless the script ended the dialog, it is cancelled afterwards.
INT_PTR RunDialog(CPortmoatDlg& dialog, const std::function<void(HWND)>& script);

std::wstring WindowText(HWND window);

// What a status panel line shows.
struct LineState {
  std::wstring text;
  COLORREF textColour = 0;
  COLORREF background = 0;
  BOOL bold = FALSE;
  LOGFONTW font{};
};
LineState ReadLine(HWND dialog, int controlId);

// Progress line texts as the window received them, with the enabled state of
// the hardening and exit buttons at that moment.
struct ProgressWrite {
  std::wstring text;
  bool hardenEnabled;
  bool exitEnabled;
  size_t firewallCallsBefore;
};

class ProgressRecorder {
 public:
  // firewallCalls: how many firewall calls the doubles have seen so far.
  explicit ProgressRecorder(std::function<size_t()> firewallCalls);
  ~ProgressRecorder();
  ProgressRecorder(const ProgressRecorder&) = delete;
  ProgressRecorder& operator=(const ProgressRecorder&) = delete;
  const std::vector<ProgressWrite>& Writes() const { return m_writes; }

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
  HHOOK m_hook;
  std::function<size_t()> m_firewallCalls;
  std::vector<ProgressWrite> m_writes;
};

// Writes the dialog as it shows on the screen to a 24-bit BMP file.
bool SaveScreenshot(HWND dialog, const std::wstring& path);
