// Entry point of Quillfort.exe.
#include <windows.h>

#include "framework/framework.h"

namespace {

// The program runs elevated from wherever it was downloaded: load DLLs from
// the system directory only, never from the program's folder or the current
// directory. Hosts before Windows 7 with KB2533623 lack the call.
void RestrictDllSearchPath() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) {
    return;
  }
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault != nullptr) {
    setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  RestrictDllSearchPath();
  return AfxWinMain(instance);
}
