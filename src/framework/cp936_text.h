// Narrow texts of the program are code page 936 whatever the host's ANSI
// code page is; they reach the window system as UTF-16.
#pragma once

#include <string>
#include <string_view>

std::wstring WideFromCp936(std::string_view text);
