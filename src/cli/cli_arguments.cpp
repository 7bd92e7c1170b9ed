#include "cli/cli_arguments.h"

#include <algorithm>

#include "cli/text_safety.h"

namespace qf::cli {
namespace {

bool IsHelpToken(const std::string& argument) { return argument == "--help" || argument == "-h" || argument == "/?"; }

std::optional<Command> CommandNamed(const std::string& word) {
  for (Command command : {Command::Status, Command::Harden, Command::Restore, Command::Check, Command::Help}) {
    if (word == CommandName(command)) return command;
  }
  return std::nullopt;
}

bool LooksLikeOption(const std::string& argument) {
  return argument.size() > 1 && (argument[0] == '-' || argument[0] == '/');
}

ParsedArguments Error(std::string reason) { return {std::nullopt, std::move(reason)}; }

// Quoted for the reason line: an argument may hold anything.
std::string Quoted(const std::string& argument) { return "'" + PrintableLine(argument) + "'"; }

}  // namespace

const char* CommandName(Command command) {
  switch (command) {
    case Command::Status:
      return "status";
    case Command::Harden:
      return "harden";
    case Command::Restore:
      return "restore";
    case Command::Check:
      return "check";
    case Command::Help:
      return "help";
  }
  return "help";
}

ParsedArguments ParseArguments(const std::vector<std::string>& arguments) {
  if (std::any_of(arguments.begin(), arguments.end(), IsHelpToken)) {
    return {Request{Command::Help, false, std::nullopt}, {}};
  }

  std::optional<Command> command;
  bool json = false;
  bool force = false;
  bool whatIf = false;
  std::optional<std::string> logFile;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--json") {
      if (json) return Error("option '--json' given twice");
      json = true;
    } else if (argument == "--force") {
      if (force) return Error("option '--force' given twice");
      force = true;
    } else if (argument == "--what-if") {
      if (whatIf) return Error("option '--what-if' given twice");
      whatIf = true;
    } else if (argument == "--log") {
      if (logFile) return Error("option '--log' given twice");
      // The next argument is the file, unless it is missing, empty or another option.
      if (i + 1 >= arguments.size() || arguments[i + 1].empty() || (arguments[i + 1].rfind("--", 0) == 0)) {
        return Error("option '--log' needs a file name");
      }
      logFile = arguments[++i];
    } else if (auto named = CommandNamed(argument)) {
      if (command) {
        return Error("more than one command: '" + std::string(CommandName(*command)) + "' and " + Quoted(argument));
      }
      command = named;
    } else if (LooksLikeOption(argument)) {
      return Error("unknown option " + Quoted(argument));
    } else {
      return Error("unknown command " + Quoted(argument));
    }
  }

  if (!command) return Error("no command given");
  if (json && (*command == Command::Check || *command == Command::Help)) {
    return Error("option '--json' does not apply to '" + std::string(CommandName(*command)) + "'");
  }
  if (force && *command != Command::Harden) {
    return Error("option '--force' applies only to 'harden'");
  }
  if (whatIf && *command != Command::Harden) {
    return Error("option '--what-if' applies only to 'harden'");
  }
  return {Request{*command, json, std::move(logFile), force, whatIf}, {}};
}

}  // namespace qf::cli
