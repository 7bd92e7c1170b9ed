#include "host/system_tool_path.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string FirstToken(const char* commandLine) {
  const char* p = commandLine;
  while (IsBlank(*p)) ++p;
  if (*p == '"') {
    const char* begin = ++p;
    while (*p != '\0' && *p != '"') ++p;
    return std::string(begin, p);
  }
  const char* begin = p;
  while (*p != '\0' && !IsBlank(*p)) ++p;
  return std::string(begin, p);
}

bool IsBareFileName(const std::string& name) {
  if (name.empty() || name.find_first_of("\\/:") != std::string::npos) return false;
  return name.find_first_not_of('.') != std::string::npos;
}

}  // namespace

std::string SystemToolPath(const std::string& systemDirectory, const char* commandLine) {
  if (systemDirectory.empty() || commandLine == nullptr) return std::string();
  std::string tool = FirstToken(commandLine);
  if (!IsBareFileName(tool)) return std::string();
  if (tool.find('.') == std::string::npos) tool += ".exe";
  std::string path = systemDirectory;
  if (path.back() != '\\' && path.back() != '/') path += '\\';
  return path + tool;
}
