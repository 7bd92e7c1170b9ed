/* Built only to be rejected: imports a function of Windows Vista and claims a
   Windows Vista header, so the executable checks must refuse it. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)commandLine;
  (void)show;
  return (int)(GetTickCount64() & 1);
}
