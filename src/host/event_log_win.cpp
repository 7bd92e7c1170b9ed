#include <windows.h>

#include "host/wide_text_win.h"

#include <memory>
#include <type_traits>

#include "host/event_log.h"
#include "host/unique_handles.h"

namespace host {
namespace {

struct EventSourceCloser {
  void operator()(HANDLE source) const { DeregisterEventSource(source); }
};
using UniqueEventSource = std::unique_ptr<void, EventSourceCloser>;

std::string Failed(const char* what, DWORD error) {
  return std::string(what) + " (error " + std::to_string(error) + ")";
}

std::wstring ThisProgram() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// The message file the source names, when it still exists.
bool NamesAProgramThatExists(HKEY key) {
  wchar_t value[MAX_PATH * 2] = {};
  DWORD size = sizeof value - sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(key, L"EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return false;
  }
  wchar_t expanded[MAX_PATH * 2] = {};
  if (ExpandEnvironmentStringsW(value, expanded, MAX_PATH * 2) == 0) return false;
  return GetFileAttributesW(expanded) != INVALID_FILE_ATTRIBUTES;
}

std::string RegisterSource() {
  HKEY raw = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &raw, nullptr);
  if (rc != ERROR_SUCCESS) return Failed("cannot register the event source", static_cast<DWORD>(rc));
  UniqueRegistryKey key(raw);
  if (NamesAProgramThatExists(key.get())) return {};
  const std::wstring program = ThisProgram();
  if (program.empty()) return Failed("cannot find this program's path", GetLastError());
  rc = RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(program.c_str()),
                      static_cast<DWORD>((program.size() + 1) * sizeof(wchar_t)));
  if (rc == ERROR_SUCCESS) {
    const DWORD types = kEventTypesSupported;
    rc =
        RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types), sizeof types);
  }
  if (rc != ERROR_SUCCESS) return Failed("cannot register the event source", static_cast<DWORD>(rc));
  return {};
}

WORD WindowsEventType(EventType type) {
  switch (type) {
    case EventType::Warning:
      return EVENTLOG_WARNING_TYPE;
    case EventType::Error:
      return EVENTLOG_ERROR_TYPE;
    case EventType::Information:
      break;
  }
  return EVENTLOG_INFORMATION_TYPE;
}

}  // namespace

std::string WriteEvent(const EventEntry& entry, bool registerSource) {
  std::string problem = registerSource ? RegisterSource() : std::string();
  UniqueEventSource source(RegisterEventSourceW(nullptr, WideFromUtf8(kEventSourceName).c_str()));
  if (!source) {
    const std::string opening = Failed("cannot open the event log", GetLastError());
    return problem.empty() ? opening : problem + "; " + opening;
  }
  std::vector<std::wstring> texts;
  for (const std::string& insertion : entry.insertions) texts.push_back(WideFromUtf8(insertion));
  std::vector<LPCWSTR> strings;
  for (const std::wstring& text : texts) strings.push_back(text.c_str());
  if (!ReportEventW(source.get(), WindowsEventType(entry.type), 0, entry.id, nullptr, static_cast<WORD>(strings.size()),
                    0, strings.empty() ? nullptr : strings.data(), nullptr)) {
    const std::string writing = Failed("cannot write the event", GetLastError());
    return problem.empty() ? writing : problem + "; " + writing;
  }
  return problem;
}

}  // namespace host
