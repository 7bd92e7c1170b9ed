// A dialog program that shows Quillfort's dialog template and does nothing
// else (no COM, no firewall, no drawing of its own), so the difference in
// start-up time to the real program is Quillfort's own work. Linked with
// Quillfort's own resources, or with only the dialog's frame
// (frame_dialog.rc).
#include <windows.h>

#include "resource.h"

namespace {

INT_PTR CALLBACK EmptyDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_INITDIALOG) {
    // The driver takes an empty progress line for a filled panel.
    SetDlgItemTextW(dialog, IDC_PROGRESS, L"");
    return TRUE;
  }
  if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  return static_cast<int>(
      DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_QUILLFORT_DIALOG), nullptr, EmptyDialogProc, 0));
}
