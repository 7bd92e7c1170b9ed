// The yardstick for the console program's start: a console program that
// writes one line and ends, under the same file name, so that the prefix
// treats both alike.
#include <windows.h>

int wmain() {
  static const char kLine[] = "hardened: no\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), kLine, sizeof kLine - 1, &written, nullptr);
  return 1;
}
