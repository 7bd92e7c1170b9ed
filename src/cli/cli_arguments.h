// The console program's command line: one command, its options, or the
// one-line reason it cannot be used.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qf::cli {

enum class Command { Status, Harden, Restore, Check, Help };

// "status", "harden", "restore", "check", "help".
const char* CommandName(Command command);

struct Request {
  Command command = Command::Help;
  bool json = false;                   // status, harden and restore only
  std::optional<std::string> logFile;  // where the firewall and service diagnostics go
  bool force = false;                  // harden only: also a domain controller or a host with shares
  bool whatIf = false;                 // harden only: print the plan, change nothing
};

struct ParsedArguments {
  std::optional<Request> request;  // unset on a usage error
  std::string error;               // the usage error's reason, one line
};

// The arguments after the program name, as UTF-8. "--help", "-h" or "/?"
// anywhere asks for help, whatever else is there.
ParsedArguments ParseArguments(const std::vector<std::string>& arguments);

}  // namespace qf::cli
