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

}  // namespace e2e
