// quillfort-cli: status, harden, restore and check for managed hosts. The
// firewall and service code writes its diagnostics through the C runtime's
// standard output; here that goes to a log file, and the command's own output
// to the real standard output.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <objbase.h>
#include <sys/stat.h>

#include <cstdio>
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

std::wstring Wide(const std::string& utf8) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  if (size <= 1) return std::wstring();
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &out[0], size);
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

// The diagnostics of the shared code go to a file: the one --log names, or
// a temporary one that is deleted at the end. Standard output stays the
// command's own.
class DiagnosticsLog {
 public:
  ~DiagnosticsLog() {
    if (output_ >= 0) {
      std::fflush(stdout);
      _dup2(output_, 1);
      _close(output_);
    }
    if (temporary_) DeleteFileW(path_.c_str());
  }

  // 0, or the error that kept the file from being opened.
  int Open(const std::optional<std::string>& named) {
    if (named) {
      path_ = Wide(*named);
    } else {
      wchar_t folder[MAX_PATH + 1] = {};
      wchar_t file[MAX_PATH + 1] = {};
      if (GetTempPathW(MAX_PATH, folder) == 0 || GetTempFileNameW(folder, L"qfc", 0, file) == 0) {
        return static_cast<int>(GetLastError());
      }
      path_ = file;
      temporary_ = true;
    }
    const int log = _wopen(path_.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_TEXT, _S_IREAD | _S_IWRITE);
    if (log < 0) return errno != 0 ? errno : -1;
    std::fflush(stdout);
    output_ = _dup(1);
    // Without a standard output (a service's start) the command writes nowhere.
    const bool moved = _dup2(log, 1) == 0;
    _close(log);
    if (!moved) return -1;
    setvbuf(stdout, nullptr, _IONBF, 0);
    return 0;
  }

  int Output() const { return output_; }

  // Where the log ends now; what follows belongs to the step about to run.
  long Mark() {
    std::fflush(stdout);
    return _lseek(1, 0, SEEK_END);
  }

  std::vector<std::string> LinesSince(long mark) {
    std::fflush(stdout);
    std::vector<std::string> lines;
    FILE* file = _wfopen(path_.c_str(), L"rb");
    if (file == nullptr) return lines;
    if (std::fseek(file, mark, SEEK_SET) == 0) {
      std::string line;
      for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        if (c == '\n') {
          if (!line.empty()) lines.push_back(line);
          line.clear();
        } else if (c != '\r') {
          line += static_cast<char>(c);
        }
      }
      if (!line.empty()) lines.push_back(line);
    }
    std::fclose(file);
    return lines;
  }

 private:
  std::wstring path_;
  bool temporary_ = false;
  int output_ = -1;
};

// Keeps each failed step with what the shared code wrote while it ran.
class FailureRecorder : public HardeningFront {
 public:
  explicit FailureRecorder(DiagnosticsLog& log) : log_(log) {}

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
  DiagnosticsLog& log_;
  long mark_ = 0;
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
bool Refused(const qf::cli::Request& request, DiagnosticsLog& log) {
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

int Harden(const qf::cli::Request& request, DiagnosticsLog& log) {
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
  explicit RestoreRecorder(DiagnosticsLog& log) : log_(log) {}
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
  DiagnosticsLog& log_;
  long mark_ = 0;
  std::vector<FailedStep> diagnostics_;
};

int Restore(const qf::cli::Request& request, DiagnosticsLog& log) {
  RestoreRecorder recorder(log);
  RestoreReport report = RunRestore(g_hostClass, recorder);
  report.failedSteps = recorder.Attach(report.failedSteps);
  report.after = ReadStatus(g_hostLabel, g_hostClass);
  WriteAll(log.Output(), request.json ? qf::cli::RestoreJson(report) : qf::cli::RestoreText(report));
  LogEvent(RestoreEvent(Origin("restore"), report), report.changed);
  return qf::cli::RestoreExitCode(report);
}

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

  DiagnosticsLog log;
  if (const int error = log.Open(request.logFile)) {
    WriteAll(2, "quillfort-cli: cannot open the log file (error " + std::to_string(error) + ")\n");
    return qf::cli::kExitStepFailed;
  }
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
