// Stands in for a tool planted where it should never be picked up: if run,
// it leaves "<its own path>.ran" beside itself.
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (FILE* marker = std::fopen((std::string(path) + ".ran").c_str(), "w")) {
    std::fputs("ran", marker);
    std::fclose(marker);
  }
  return 0;
}
