// Where a console tool named by a command line is taken from: the system
// directory only, never the program's own folder or the search path, since
// the program runs elevated and its folder is often a downloads folder.
#pragma once

#include <string>

// Full path of the tool named by the first token of commandLine inside
// systemDirectory (".exe" added when the name has no extension). Empty when
// there is no system directory or the first token is not a bare file name.
std::string SystemToolPath(const std::string& systemDirectory, const char* commandLine);
