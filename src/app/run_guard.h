// The dialog's run as a fleet sees it: the question before a run on a host
// that serves the guarded ports, and the run's event in the Application log.
#pragma once

#include <windows.h>

#include "hardening/guarded_ports.h"
#include "hardening/hardening_run.h"
#include "hardening/host_reports.h"
#include "host/host_role.h"

// Asks once, default no, whether to harden a host that serves the guarded
// ports; true when the user answered yes.
bool ConfirmRunOnServingHost(HWND owner, const host::HostRole& role);

// The run's one event; a log that cannot be written is only reported, on
// standard error.
void LogDialogRun(const HardeningRunResult& run, const host::HostRole& role);
void LogDialogRefusal(const host::HostRole& role, const PanelReading& reading);
// An undo's event, with the panel as read after it.
void LogDialogRestore(const qf::hardening::RestoreReport& report, const PanelReading& reading);
