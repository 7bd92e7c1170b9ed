// A child for the command runner tests: sleeps the given milliseconds, writes
// its current directory to a file when asked, and exits with the given code.
//   qf_host_child <sleep ms> <exit code> [cwd report file]
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
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
