// quillfort-cli: status, harden, restore and check for managed hosts. The
// firewall and service code writes its diagnostics through the C runtime's
// standard output; here that is captured in memory (and copied to --log),
// and the command's own output goes to the real standard output.
#include <windows.h>

#include "host/wide_text_win.h"
#include <fcntl.h>
#include <io.h>
#include <objbase.h>
#include <sys/stat.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/cli_arguments.h"
#include "cli/cli_exit_codes.h"
#include "cli/cli_output.h"
#include "hardening/hardening_outcome.h"
#include "hardening/hardening_run.h"
#include "hardening/host_access.h"
#include "hardening/run_events.h"
#include "host/event_log.h"
#include "host/host_role_win.h"
#include "host/host_identification.h"

namespace {

using namespace qf::hardening;

std::string Utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(size) - 1);
  return out;
}

void WriteAll(int fd, const std::string& text) {
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const int written = _write(fd, data, static_cast<unsigned>(left));
    if (written <= 0) return;
    data += written;
    left -= static_cast<std::size_t>(written);
  }
}

// The diagnostics the shared code writes to the C runtime's standard output
// go through a pipe into memory, as each step runs, and from there to the
// --log file when one is named; nothing is ever read back from that file.
// Standard output stays the command's own.
class DiagnosticsCapture {
 public:
  DiagnosticsCapture() { InitializeCriticalSection(&lock_); }
  ~DiagnosticsCapture() {
    if (output_ >= 0) {
      std::fflush(stdout);
      _dup2(output_, 1);  // closes the pipe's end behind fd 1: the reader sees the end
      _close(output_);
    }
    if (reader_ != nullptr) {
      WaitForSingleObject(reader_, INFINITE);
      CloseHandle(reader_);
    }
    if (synced_ != nullptr) CloseHandle(synced_);
    if (readEnd_ != nullptr) CloseHandle(readEnd_);
    if (log_ != INVALID_HANDLE_VALUE) CloseHandle(log_);
    DeleteCriticalSection(&lock_);
  }
  DiagnosticsCapture(const DiagnosticsCapture&) = delete;
  DiagnosticsCapture& operator=(const DiagnosticsCapture&) = delete;

  // 0, or the error that kept the named log file from being opened.
  DWORD OpenLog(const std::string& path) {
    log_ = CreateFileW(host::WideFromUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    return log_ == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  }

  // Moves standard output into the pipe; without one the diagnostics go to
  // NUL, and a command still runs.
  void Start() {
    std::fflush(stdout);
    output_ = _dup(1);
    HANDLE writeEnd = nullptr;
    synced_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (synced_ != nullptr && CreatePipe(&readEnd_, &writeEnd, nullptr, 1 << 16)) {
      const int pipe = _open_osfhandle(reinterpret_cast<intptr_t>(writeEnd), _O_TEXT);
      if (pipe >= 0) {
        reader_ = CreateThread(nullptr, 0, &DiagnosticsCapture::ReadAll, this, 0, nullptr);
        if (reader_ != nullptr && _dup2(pipe, 1) == 0) {
          _close(pipe);
          setvbuf(stdout, nullptr, _IONBF, 0);
          return;
        }
        _close(pipe);
      } else {
        CloseHandle(writeEnd);
      }
    }
    const int nul = _open("NUL", _O_WRONLY | _O_TEXT);
    if (nul >= 0) {
      _dup2(nul, 1);
      _close(nul);
    }
  }

  int Output() const { return output_ >= 0 ? output_ : 1; }

  // Where the captured text ends once everything written so far is in.
  std::size_t Mark() {
    if (reader_ == nullptr) return 0;
    std::fflush(stdout);
    EnterCriticalSection(&lock_);
    const unsigned wanted = ++syncsAsked_;
    LeaveCriticalSection(&lock_);
    _write(1, kSync, sizeof kSync - 1);
    for (;;) {
      EnterCriticalSection(&lock_);
      const bool done = syncsSeen_ >= wanted || finished_;
      const std::size_t size = text_.size();
      LeaveCriticalSection(&lock_);
      if (done) return size;
      WaitForSingleObject(synced_, 1000);
    }
  }

  std::vector<std::string> LinesSince(std::size_t mark) {
    const std::size_t end = Mark();
    EnterCriticalSection(&lock_);
    const std::string text = mark < end ? text_.substr(mark, end - mark) : std::string();
    LeaveCriticalSection(&lock_);
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
      if (c == '\n') {
        if (!line.empty()) lines.push_back(line);
        line.clear();
      } else if (c != '\r') {
        line += c;
      }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
  }

 private:
  // Written between steps; never part of what a step wrote.
  static constexpr char kSync[] = "\x1EQuillfort-sync\x1E";

  static DWORD WINAPI ReadAll(void* self) {
    static_cast<DiagnosticsCapture*>(self)->Read();
    return 0;
  }

  void Read() {
    std::string pending;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      pending.append(buffer, got);
      Take(pending, false);
    }
    Take(pending, true);
    EnterCriticalSection(&lock_);
    finished_ = true;
    LeaveCriticalSection(&lock_);
    SetEvent(synced_);
  }

  // Keeps text up to each sync and counts the syncs; a part of a sync may
  // still be on its way at the end of pending.
  void Take(std::string& pending, bool last) {
    const std::string sync = kSync;
    for (;;) {
      const std::size_t at = pending.find(sync);
      std::size_t keep = at;
      if (at == std::string::npos) {
        keep = pending.size();
        if (!last) {
          const std::size_t start = pending.find('\x1E');
          if (start != std::string::npos && pending.size() - start < sync.size()) keep = start;
        }
      }
      Keep(pending.substr(0, keep));
      if (at == std::string::npos) {
        pending.erase(0, keep);
        return;
      }
      pending.erase(0, at + sync.size());
      EnterCriticalSection(&lock_);
      ++syncsSeen_;
      LeaveCriticalSection(&lock_);
      SetEvent(synced_);
    }
  }

  void Keep(const std::string& text) {
    if (text.empty()) return;
    EnterCriticalSection(&lock_);
    text_ += text;
    LeaveCriticalSection(&lock_);
    if (log_ != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(log_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
  }

  CRITICAL_SECTION lock_;
  std::string text_;
  unsigned syncsAsked_ = 0;
  unsigned syncsSeen_ = 0;
  bool finished_ = false;
  HANDLE readEnd_ = nullptr;
  HANDLE reader_ = nullptr;
  HANDLE synced_ = nullptr;
  HANDLE log_ = INVALID_HANDLE_VALUE;
  int output_ = -1;
};

// Keeps each failed step with what the shared code wrote while it ran.
class FailureRecorder : public HardeningFront {
 public:
  explicit FailureRecorder(DiagnosticsCapture& log) : log_(log) {}

  void EnableControl(FrontControl, bool) override {}
  void ShowProgress(const char*) override {}
  void ShowReading(const PanelReading&) override {}
  void ShowCompletion(bool, const HardeningOutcome&, const PanelReading&) override {}
  void StepStarting(const std::string&) override { mark_ = log_.Mark(); }
  void StepEnded(const std::string& step, std::uint32_t code) override {
    if (code != 0) failures_.push_back({step, code, log_.LinesSince(mark_)});
  }

  const std::vector<FailedStep>& Failures() const { return failures_; }

 private:
  DiagnosticsCapture& log_;
  std::size_t mark_ = 0;
  std::vector<FailedStep> failures_;
};

// The run's one event; a log that cannot be written is only reported.
void LogEvent(const host::EventEntry& entry, bool changed) {
  const std::string problem = host::WriteEvent(entry, changed);
  if (!problem.empty()) WriteAll(2, "quillfort-cli: event log: " + problem + "\n");
}

RunOrigin Origin(const char* command) {
  return RunOrigin{std::string("quillfort-cli ") + command, HostNameForEvent(g_hostLabel, g_hostClass)};
}

// Before the first change: a host that serves the guarded ports is left
// alone unless the run is forced.
bool Refused(const qf::cli::Request& request, DiagnosticsCapture& log) {
  if (request.force || !host::ReadHostRole().ServesGuardedPorts()) return false;
  HardenReport report;
  report.after = ReadStatus(g_hostLabel, g_hostClass);
  report.refused = true;
  WriteAll(log.Output(), request.json ? qf::cli::HardenJson(report) : qf::cli::HardenText(report));
  LogEvent(RefusalEvent(Origin("harden"), host::RefusalLines(report.after.role), VerdictLines(report.after)), false);
  return true;
}

int Status(const qf::cli::Request& request, int out) {
  const StatusReport report = ReadStatus(g_hostLabel, g_hostClass);
  WriteAll(out, request.json ? qf::cli::StatusJson(report) : qf::cli::StatusText(report));
  return qf::cli::StatusExitCode(report);
}

int Check(int out) {
  const StatusReport report = ReadStatus(g_hostLabel, g_hostClass);
  if (report.hardened) WriteAll(out, qf::cli::CheckLine(report));
  return qf::cli::StatusExitCode(report);
}

// Reads the host and walks the run's plan over it: no restore point, no
// event, no change.
int WhatIf(const qf::cli::Request& request, DiagnosticsCapture& log) {
  WhatIfReport report;
  report.host = ReadStatus(g_hostLabel, g_hostClass);
  report.refused = !request.force && report.host.role.ServesGuardedPorts();
  PreviewInput input = ReadPreviewInput(g_hostClass);
  report.plan = PreviewHardening(input);
  WriteAll(log.Output(), request.json ? qf::cli::WhatIfJson(report) : qf::cli::WhatIfText(report));
  return qf::cli::WhatIfExitCode(report);
}

int Harden(const qf::cli::Request& request, DiagnosticsCapture& log) {
  if (request.whatIf) return WhatIf(request, log);
  if (Refused(request, log)) return qf::cli::kExitRefused;
  CAdvancedFirewall advanced;
  CLegacyFirewall legacy;
  // As the dialog finds them at its start: either may be missing here.
  legacy.Initialize();
  advanced.Initialize();
  FailureRecorder recorder(log);
  HardeningRunOptions options;
  options.skipIdenticalRules = true;
  const HardeningRunResult run = RunHardening(g_hostClass, advanced, legacy, recorder, options);
  legacy.Cleanup();
  advanced.Close();

  HardenReport report;
  report.changed = run.changed;
  report.restorePointSaved = run.restorePointSaved;
  report.rulesAdded = run.rulesAdded;
  report.rulesAlreadyPresent = run.rulesAlreadyPresent;
  report.failedSteps = recorder.Failures();
  report.accessDenied = run.accessDenied;
  report.stillExposed = ExposedItems(g_hostClass, run.reading);
  report.after = ReadStatus(g_hostLabel, g_hostClass);
  WriteAll(log.Output(), request.json ? qf::cli::HardenJson(report) : qf::cli::HardenText(report));
  const std::string forcedRole = report.after.role.ServesGuardedPorts() ? host::RoleName(report.after.role) : "";
  LogEvent(HardenEvent(Origin("harden"), report, VerdictLines(report.after), forcedRole), report.changed);
  return qf::cli::HardenExitCode(report);
}

class RestoreRecorder : public StepObserver {
 public:
  explicit RestoreRecorder(DiagnosticsCapture& log) : log_(log) {}
  void StepStarting(const std::string&) override { mark_ = log_.Mark(); }
  void StepEnded(const std::string& step, std::uint32_t code) override {
    if (code != 0) diagnostics_.push_back({step, code, log_.LinesSince(mark_)});
  }
  // The run's failures, each with what was written while it ran.
  std::vector<FailedStep> Attach(const std::vector<FailedStep>& failures) const {
    std::vector<FailedStep> out = failures;
    for (std::size_t i = 0; i < out.size() && i < diagnostics_.size(); ++i) {
      if (out[i].step == diagnostics_[i].step) out[i].diagnostics = diagnostics_[i].diagnostics;
    }
    return out;
  }

 private:
  DiagnosticsCapture& log_;
  std::size_t mark_ = 0;
  std::vector<FailedStep> diagnostics_;
};

int Restore(const qf::cli::Request& request, DiagnosticsCapture& log) {
  RestoreRecorder recorder(log);
  RestoreReport report = RunRestore(g_hostClass, recorder);
  report.failedSteps = recorder.Attach(report.failedSteps);
  report.after = ReadStatus(g_hostLabel, g_hostClass);
  WriteAll(log.Output(), request.json ? qf::cli::RestoreJson(report) : qf::cli::RestoreText(report));
  LogEvent(RestoreEvent(Origin("restore"), report), report.changed);
  return qf::cli::RestoreExitCode(report);
}

int Dispatch(const qf::cli::Request& request, DiagnosticsCapture& log);

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(Utf8(argv[i]));
  const qf::cli::ParsedArguments parsed = qf::cli::ParseArguments(arguments);
  if (!parsed.request) {
    WriteAll(2, qf::cli::UsageErrorText(parsed.error));
    return qf::cli::kExitUsage;
  }
  const qf::cli::Request& request = *parsed.request;
  if (request.command == qf::cli::Command::Help) {
    WriteAll(1, qf::cli::UsageText());
    return qf::cli::kExitSuccess;
  }

  DiagnosticsCapture log;
  if (request.logFile) {
    if (const DWORD error = log.OpenLog(*request.logFile)) {
      WriteAll(2, "quillfort-cli: cannot open the log file (error " + std::to_string(error) + ")\n");
      return qf::cli::kExitStepFailed;
    }
  }
  log.Start();
  try {
    return Dispatch(request, log);
  } catch (const std::exception& failure) {
    WriteAll(2, std::string("quillfort-cli: unexpected failure: ") + failure.what() + "\n");
  } catch (...) {
    WriteAll(2, "quillfort-cli: unexpected failure\n");
  }
  // Whatever the command had done is for status to tell; never another meaning.
  return qf::cli::kExitStepFailed;
}

namespace {

int Dispatch(const qf::cli::Request& request, DiagnosticsCapture& log) {
  // A console program has no window to pump: a multithreaded apartment
  // needs none, and the firewall objects live in either.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  g_bitnessCode = GetBitnessCode();
  g_hostLabel = GetHostLabel();
  ClassifyHost();

  int exitCode = qf::cli::kExitUsage;
  switch (request.command) {
    case qf::cli::Command::Status:
      exitCode = Status(request, log.Output());
      break;
    case qf::cli::Command::Check:
      exitCode = Check(log.Output());
      break;
    case qf::cli::Command::Harden:
      exitCode = Harden(request, log);
      break;
    case qf::cli::Command::Restore:
      exitCode = Restore(request, log);
      break;
    case qf::cli::Command::Help:
      break;
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return exitCode;
}

}  // namespace
