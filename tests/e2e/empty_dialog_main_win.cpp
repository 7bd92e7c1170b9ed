// A dialog program that does nothing but show Quillfort's frame: same title,
// styles, font and manifest, so the difference in start-up time to the real
// program is Quillfort's own work.
#include <windows.h>

namespace {

constexpr int kEmptyDialog = 100;

INT_PTR CALLBACK EmptyDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_INITDIALOG) return TRUE;
  if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  return static_cast<int>(DialogBoxParamW(instance, MAKEINTRESOURCEW(kEmptyDialog), nullptr, EmptyDialogProc, 0));
}
