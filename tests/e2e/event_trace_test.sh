#!/usr/bin/env bash
# tests/e2e/event_trace_test.sh BUILD_DIR
# The event each run of the shipped programs reports, as Wine's event log
# trace channel shows the ReportEventW calls (WINEDEBUG=+eventlog): the event
# ID and the insertion strings, per outcome. The trace goes to the Unix
# standard error of the Wine processes, which only a caller outside Wine
# reads, hence a script. Uses the build tree's prefix (ctest's wine_env).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath "$1")
root="$build/wine" bin="$build/testbed/bin"
cli="$build/release/quillfort-cli.exe" dialog="$build/release/Quillfort.exe"
failures=0

tb() { scripts/wine-run "$root" "$bin/testbed-host.exe" "$@" >/dev/null; }
traced() { QF_WINEDEBUG=+eventlog scripts/wine-run "$root" "$@" 2>&1 || true; }

# expect NAME TRACE ID TEXT...: the trace holds the event ID and each text
expect() {
  local name=$1 trace=$2 id=$3; shift 3
  local hex; hex=$(printf '0x%08x' "$id")
  if ! grep -q "ReportEventW (.*,${hex}," <<<"$trace"; then
    echo "FAIL $name: no ReportEventW of event $id ($hex)"; failures=$((failures + 1)); return
  fi
  for text in "$@"; do
    if ! grep -qF -- "$text" <<<"$trace"; then
      echo "FAIL $name: event $id without '$text'"; failures=$((failures + 1)); return
    fi
  done
  echo "ok   $name: event $id"
}

tb install
trap 'tb uninstall || true' EXIT

tb seed win7
expect "harden, first run" "$(traced "$cli" harden)" 1000 'L"quillfort-cli harden"' 'L"WIN7X64 class 5"' \
  'Changed: yes; rules added: 12, already present: 0; restore point saved' 'Port 445: blocked'
expect "harden, nothing to change" "$(traced "$cli" harden)" 1000 'Changed: nothing; the host was already hardened.'
expect "restore" "$(traced "$cli" restore)" 1010 'L"quillfort-cli restore"' 'Rules removed: 12; services stopped' \
  'Port 445: allowed'
expect "restore, no restore point" "$(traced "$cli" restore)" 1011 'No restore point: nothing was changed.'
status=$(traced "$cli" status)
if grep -q "ReportEventW" <<<"$status"; then echo "FAIL status reported an event"; failures=$((failures + 1)); fi

tb seed win7-service-missing
expect "harden, incomplete" "$(traced "$cli" harden)" 1001 'Step failed: StartServiceAndWait MpsSvc: 0x00000424'

tb seed win2003-dc
expect "harden, refused" "$(traced "$cli" harden)" 1002 'This host is a domain controller and file and print server.' \
  'Shares: NETLOGON, SYSVOL'
expect "harden --force" "$(traced "$cli" harden --force)" 1000 \
  'Forced on a domain controller and file and print server.'

# The dialog's run, pressed by the driver on a workstation.
tb seed win7
expect "dialog run" "$(traced "$bin/quillfort-driver.exe" "Z:$dialog" --press)" 1000 'L"Quillfort.exe"' \
  'Changed: yes'

if ((failures)); then
  echo "$failures event check(s) failed"
  exit 1
fi
echo "every event seen"
