// An entry of the Application event log under Quillfort's own source, and
// the writer that registers the source and reports an entry (Windows only).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

inline constexpr char kEventSourceName[] = "Quillfort";
inline constexpr wchar_t kEventSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Quillfort";
// EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE
inline constexpr std::uint32_t kEventTypesSupported = 0x7;

enum class EventType { Information, Warning, Error };

struct EventEntry {
  std::uint32_t id = 0;  // a message of the programs' message table
  EventType type = EventType::Information;
  std::vector<std::string> insertions;  // UTF-8, %1.. of the message
};

// Registers the source when asked and it is missing or names a program that
// is gone, then reports the entry. Empty on success, else what failed, for
// standard error: a log that cannot be written never fails a run.
std::string WriteEvent(const EventEntry& entry, bool registerSource);

}  // namespace host
