// What the end-to-end tests share besides driving windows: their settings
// from the environment and the files they read back.
#pragma once

#include <string>

namespace e2e {

// An environment variable's value; empty when unset or too long.
std::wstring Env(const wchar_t* name);
bool FileExists(const std::wstring& path);
// The whole file, also while another process still writes it; empty when unreadable.
std::string FileText(const std::wstring& path);
// The e2e output folder as Wine names it; the temporary folder without one.
std::wstring OutputFolder();

// One run of a console program: its exit code and what it wrote.
struct ConsoleRun {
  unsigned long exitCode = 0xFFFFFFFF;
  std::string out;
  std::string err;
  std::string problem;  // why it did not run or end; empty when it did
  bool Says(const std::string& text) const { return out.find(text) != std::string::npos; }
  // Whole lines as the program wrote them, the console's line ends aside.
  bool SaysLines(const std::string& text) const;
  std::string LastLine() const;
};

// Runs commandLine with standard output and error in files of their own in
// the output folder, and waits up to three minutes for it; keepOutputAs,
// when given, is where standard output is copied.
ConsoleRun RunConsole(std::wstring commandLine, const std::wstring& keepOutputAs = L"");

}  // namespace e2e
