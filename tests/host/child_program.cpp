// A child for the command runner tests.
//   qf_host_child <sleep ms> <exit code> [cwd report file]
//       sleeps, writes its current directory to the file when asked, exits
//   qf_host_child handle <value>
//       exits 1 when <value> is a live signalled handle in this process
//       (an inherited event), 0 when it is not
//   qf_host_child startup <report file>
//       writes its start-up record's flags and show-window value, exits 0
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  if (std::strcmp(argv[1], "handle") == 0) {
    const auto value = static_cast<ULONG_PTR>(std::strtoull(argv[2], nullptr, 10));
    HANDLE handle = reinterpret_cast<HANDLE>(value);
    DWORD flags = 0;
    if (!GetHandleInformation(handle, &flags)) return 0;
    return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0 ? 1 : 0;
  }
  if (std::strcmp(argv[1], "startup") == 0) {
    STARTUPINFOA startup = {};
    GetStartupInfoA(&startup);
    FILE* report = std::fopen(argv[2], "w");
    if (report == nullptr) return 3;
    std::fprintf(report, "%lu %u", static_cast<unsigned long>(startup.dwFlags),
                 static_cast<unsigned>(startup.wShowWindow));
    std::fclose(report);
    return 0;
  }
  if (argc > 3) {
    char directory[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, directory);
    if (FILE* report = std::fopen(argv[3], "w")) {
      std::fputs(directory, report);
      std::fclose(report);
    }
  }
  Sleep(static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)));
  ExitProcess(static_cast<UINT>(std::strtoul(argv[2], nullptr, 10)));
}
