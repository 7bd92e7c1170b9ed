// Drives Quillfort's dialog from another process of the same prefix the way
// an administrator does: find it by its title, read its controls, press its
// buttons, and take screenshots of the X display it is shown on.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "../../testbed/win/win_util.h"

namespace e2e {

// Control ids of the dialog, top to bottom.
constexpr int kFirewallLine = 1000;
constexpr int kHardenButton = 1007;
constexpr int kProgressLine = 1008;
constexpr int kExitButton = IDOK;
// The port lines in the order of the guarded ports 445, 135, 136, 137, 138, 139.
extern const std::vector<int> kPortLineIds;
extern const std::vector<int> kGuardedPorts;

extern const wchar_t kDialogTitle[];
extern const wchar_t kCompletionText[];
extern const wchar_t kFailureText[];
extern const wchar_t kRestoredText[];
extern const wchar_t kNothingToRestoreText[];
extern const wchar_t kRestoreFailureText[];

// The system menu's "撤销加固" command, as the dialog appends it.
constexpr WPARAM kUndoCommand = 0x0110;

struct Panel {
  std::map<int, std::wstring> texts;  // every child control with an id
  bool hardenEnabled = false;
  bool exitEnabled = false;

  std::wstring Text(int id) const;
  // Firewall line, then the six port lines in guarded-port order.
  std::vector<std::wstring> StatusLines() const;
};

struct QuillfortProcess {
  testbed::UniqueHandle process;
  DWORD processId = 0;
  HWND dialog = nullptr;
  DWORD startTick = 0;
  DWORD dialogShownMs = 0;  // from process creation to a filled dialog
};

// Starts Quillfort.exe and waits (up to timeoutMs) until its dialog exists and
// its progress line has been emptied by dialog initialisation. Its diagnostic
// output goes to outputPath (a file; NUL to drop it).
bool LaunchQuillfort(const std::wstring& exePath, DWORD timeoutMs, QuillfortProcess& out, std::string& error,
                     const std::wstring& outputPath = L"NUL");

Panel ReadPanel(HWND dialog);

// Presses "一键加固" (BM_CLICK, as a mouse click does) and waits until the
// run has ended: the completion or the failure text shows and both buttons
// are enabled again. False when neither came within timeoutMs.
bool HardenAndWait(HWND dialog, DWORD timeoutMs, DWORD& elapsedMs);

// Chooses "撤销加固" from the system menu (WM_SYSCOMMAND, as the menu sends
// it) and waits until the undo has ended: one of its last texts shows and
// both buttons are enabled again. False when none came within timeoutMs.
bool UndoAndWait(HWND dialog, DWORD timeoutMs, DWORD& elapsedMs);

// Opens the dialog's system menu as Alt+Space does; true once its menu
// window is shown. Alt+Space opens it on the active window only: under Wine
// a dialog started after another program has ended may not be active.
// CloseSystemMenu ends the menu without choosing.
bool OpenSystemMenu(HWND dialog, DWORD timeoutMs);
void CloseSystemMenu(HWND dialog);

// Pixels of a control's window on the X screen, by the colour of the text
// the panel uses (pure red, green and blue, a little tolerance).
struct TextColours {
  bool captured = false;
  int red = 0, green = 0, blue = 0;
};
TextColours CountTextColours(HWND control);

// Presses "退出" and waits for the process to end.
bool ExitAndWait(QuillfortProcess& quillfort, DWORD timeoutMs);

// Saves the whole X screen as an image (ImageMagick import); unixPath is a
// path of the host system.
bool SaveScreenshot(const std::string& unixPath);

std::string Utf8Lines(const std::string& label, const Panel& panel);

}  // namespace e2e
