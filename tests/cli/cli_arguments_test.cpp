// The console program's command line: what is a request, what is help, and
// the one-line reason for everything else.
#include "cli/cli_arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qf::cli {
namespace {

Request Parsed(const std::vector<std::string>& arguments) {
  const ParsedArguments parsed = ParseArguments(arguments);
  EXPECT_TRUE(parsed.request.has_value()) << "usage error: " << parsed.error;
  EXPECT_TRUE(parsed.error.empty());
  return parsed.request.value_or(Request{});
}

std::string ErrorOf(const std::vector<std::string>& arguments) {
  const ParsedArguments parsed = ParseArguments(arguments);
  EXPECT_FALSE(parsed.request.has_value());
  EXPECT_FALSE(parsed.error.empty());
  EXPECT_EQ(parsed.error.find('\n'), std::string::npos) << "the reason is one line";
  return parsed.error;
}

TEST(CliArguments, EachCommandAloneIsARequestWithoutOptions) {
  const std::pair<const char*, Command> cases[] = {{"status", Command::Status},
                                                   {"harden", Command::Harden},
                                                   {"restore", Command::Restore},
                                                   {"check", Command::Check},
                                                   {"help", Command::Help}};
  for (const auto& [word, command] : cases) {
    const Request request = Parsed({word});
    EXPECT_EQ(request.command, command) << word;
    EXPECT_FALSE(request.json) << word;
    EXPECT_FALSE(request.logFile.has_value()) << word;
    EXPECT_STREQ(CommandName(command), word);
  }
}

TEST(CliArguments, JsonAndLogInAnyOrder) {
  Request request = Parsed({"--json", "status"});
  EXPECT_EQ(request.command, Command::Status);
  EXPECT_TRUE(request.json);

  request = Parsed({"--log", "C:\\logs\\qf run.log", "harden", "--json"});
  EXPECT_EQ(request.command, Command::Harden);
  EXPECT_TRUE(request.json);
  EXPECT_EQ(request.logFile, "C:\\logs\\qf run.log");

  request = Parsed({"restore", "--log", "\xE6\x97\xA5\xE5\xBF\x97.txt"});  // 日志.txt, UTF-8 kept as given
  EXPECT_EQ(request.command, Command::Restore);
  EXPECT_EQ(request.logFile, "\xE6\x97\xA5\xE5\xBF\x97.txt");

  // --log goes with every command, --json does not.
  EXPECT_EQ(Parsed({"check", "--log", "c.log"}).logFile, "c.log");
  EXPECT_EQ(Parsed({"help", "--log", "h.log"}).logFile, "h.log");
  // A file name may look like a command or a single-dash word.
  EXPECT_EQ(Parsed({"status", "--log", "status"}).logFile, "status");
  EXPECT_EQ(Parsed({"status", "--log", "-"}).logFile, "-");
}

TEST(CliArguments, HelpAnywhereWinsOverEverythingElse) {
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{{"--help"},
                                                                                         {"-h"},
                                                                                         {"/?"},
                                                                                         {"status", "--help"},
                                                                                         {"harden", "--json", "-h"},
                                                                                         {"bogus", "/?"},
                                                                                         {"check", "--json", "--help"},
                                                                                         {"--log", "/?"},
                                                                                         {"status", "harden", "-h"}}) {
    const Request request = Parsed(arguments);
    EXPECT_EQ(request.command, Command::Help) << arguments.front();
    EXPECT_FALSE(request.json);
  }
}

TEST(CliArguments, UsageErrorsNameTheirReason) {
  EXPECT_EQ(ErrorOf({}), "no command given");
  EXPECT_EQ(ErrorOf({"--json"}), "no command given");
  EXPECT_EQ(ErrorOf({"--log", "x.log"}), "no command given");
  EXPECT_EQ(ErrorOf({"harden!"}), "unknown command 'harden!'");
  EXPECT_EQ(ErrorOf({"Status"}), "unknown command 'Status'");
  EXPECT_EQ(ErrorOf({"status", "--jsn"}), "unknown option '--jsn'");
  EXPECT_EQ(ErrorOf({"status", "-j"}), "unknown option '-j'");
  EXPECT_EQ(ErrorOf({"status", "/json"}), "unknown option '/json'");
  EXPECT_EQ(ErrorOf({"status", "--log=x.log"}), "unknown option '--log=x.log'");
  EXPECT_EQ(ErrorOf({"status", "harden"}), "more than one command: 'status' and 'harden'");
  EXPECT_EQ(ErrorOf({"check", "check"}), "more than one command: 'check' and 'check'");
  EXPECT_EQ(ErrorOf({"check", "--json"}), "option '--json' does not apply to 'check'");
  EXPECT_EQ(ErrorOf({"--json", "help"}), "option '--json' does not apply to 'help'");
  EXPECT_EQ(ErrorOf({"status", "--json", "--json"}), "option '--json' given twice");
  EXPECT_EQ(ErrorOf({"status", "--log", "a", "--log", "b"}), "option '--log' given twice");
}

TEST(CliArguments, ForceGoesWithHardenOnly) {
  EXPECT_FALSE(Parsed({"harden"}).force);
  const Request forced = Parsed({"--force", "harden", "--json"});
  EXPECT_EQ(forced.command, Command::Harden);
  EXPECT_TRUE(forced.force);
  EXPECT_TRUE(forced.json);
  for (const char* command : {"status", "restore", "check", "help"}) {
    EXPECT_EQ(ErrorOf({command, "--force"}), "option '--force' applies only to 'harden'") << command;
  }
  EXPECT_EQ(ErrorOf({"harden", "--force", "--force"}), "option '--force' given twice");
  EXPECT_EQ(ErrorOf({"harden", "-force"}), "unknown option '-force'");
}

TEST(CliArguments, WhatIfGoesWithHardenOnly) {
  EXPECT_FALSE(Parsed({"harden"}).whatIf);
  const Request plan = Parsed({"--what-if", "harden", "--force"});
  EXPECT_EQ(plan.command, Command::Harden);
  EXPECT_TRUE(plan.whatIf);
  EXPECT_TRUE(plan.force);
  for (const char* command : {"status", "restore", "check"}) {
    EXPECT_EQ(ErrorOf({command, "--what-if"}), "option '--what-if' applies only to 'harden'") << command;
  }
  EXPECT_EQ(ErrorOf({"harden", "--what-if", "--what-if"}), "option '--what-if' given twice");
}

TEST(CliArguments, LogNeedsAFileName) {
  EXPECT_EQ(ErrorOf({"status", "--log"}), "option '--log' needs a file name");
  EXPECT_EQ(ErrorOf({"status", "--log", ""}), "option '--log' needs a file name");
  EXPECT_EQ(ErrorOf({"--log", "--json", "status"}), "option '--log' needs a file name");
}

TEST(CliArguments, AnOddArgumentCannotBreakTheReasonLine) {
  EXPECT_EQ(ErrorOf({"sta\ntus"}), "unknown command 'sta\\x0Atus'");
  EXPECT_EQ(ErrorOf({"status", "--x\r\xFF"}), "unknown option '--x\\x0D\xEF\xBF\xBD'");
}

}  // namespace
}  // namespace qf::cli
