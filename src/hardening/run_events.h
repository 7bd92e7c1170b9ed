// The one event a harden, restore or dialog run leaves in the Application
// log: which message, of which type, with which insertion strings.
// The IDs are stable: fleets filter on them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hardening/guarded_ports.h"
#include "hardening/host_reports.h"
#include "host/event_log.h"

namespace qf::hardening {

// Message IDs of res/quillfort_events.mc, as Event Viewer shows them.
enum class RunEventId : std::uint32_t {
  HardenComplete = 1000,     // information
  HardenIncomplete = 1001,   // error: failed steps, ports still exposed, access denied
  HardenRefused = 1002,      // warning: the host serves the ports; nothing changed
  Restored = 1010,           // information
  NothingToRestore = 1011,   // information
  RestoreIncomplete = 1012,  // error
};

inline constexpr RunEventId kAllRunEvents[] = {RunEventId::HardenComplete,   RunEventId::HardenIncomplete,
                                               RunEventId::HardenRefused,    RunEventId::Restored,
                                               RunEventId::NothingToRestore, RunEventId::RestoreIncomplete};

// Every message takes the same four insertion strings.
inline constexpr std::size_t kRunEventInsertions = 4;

// Who ran (%1: "quillfort-cli harden", "Quillfort.exe") and on which host (%2).
struct RunOrigin {
  std::string run;
  std::string host;
};

// "WIN7X64 class 5"; "unknown host class 0".
std::string HostNameForEvent(const std::string& hostLabel, int hostClass);

// The per-port verdicts (%4), one line each, the firewall first.
std::vector<std::string> VerdictLines(const StatusReport& status);
std::vector<std::string> VerdictLines(int hostClass, const PanelReading& reading);

// A harden run that ran: complete (1000) when no step failed, nothing is
// still exposed and the host reads hardened afterwards; else 1001 with its
// causes. forcedRole: the role the run was forced past, or empty.
host::EventEntry HardenEvent(const RunOrigin& origin, const HardenReport& report,
                             const std::vector<std::string>& verdicts, const std::string& forcedRole = {});
// A run refused before its first change (1002): the role, the shares and why.
host::EventEntry RefusalEvent(const RunOrigin& origin, const std::vector<std::string>& refusal,
                              const std::vector<std::string>& verdicts);
host::EventEntry RestoreEvent(const RunOrigin& origin, const RestoreReport& report);
// The same, with the verdicts as the front read the host afterwards.
host::EventEntry RestoreEvent(const RunOrigin& origin, const RestoreReport& report,
                              const std::vector<std::string>& verdicts);

}  // namespace qf::hardening
